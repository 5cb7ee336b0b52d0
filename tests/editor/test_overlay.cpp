// The knob and the overlay under a virtual X server: the drag law and typed entry, host gestures,
// event dispatch, the page layers and the overlay's construction.
#include <array>
#include <cmath>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "EditorTestHome.h"
#include "canvas/SpaceCanvas.h"
#include "editor/AboutComp.h"
#include "editor/AlertComp.h"
#include "editor/EditorFonts.h"
#include "editor/FxComp.h"
#include "editor/Modul8Menu.h"
#include "editor/OpenGLComp.h"
#include "editor/Overlay2D.h"
#include "editor/SettingsComp.h"
#include "editor/StereoBox.h"
#include "editor/TopBarButtons.h"

namespace
{
using Type = Knob::Listener::ChangeType;
const float kNaN = std::nanf("");

juce::MouseEvent mouse(juce::Component& c, float y, int clicks = 1)
{
    const juce::Point<float> at{10.0f, y};
    const auto now = juce::Time::getCurrentTime();
    const juce::ModifierKeys mods(juce::ModifierKeys::leftButtonModifier);
    auto source = juce::Desktop::getInstance().getMainMouseSource();
    return juce::MouseEvent(source, at, mods, 0, 0, 0, 0, 0, &c, &c, now, at, now, clicks, false);
}

using Log = std::vector<std::pair<float, int>>; // value, change type
struct Reports : Knob::Listener
{
    Log log;
    void knobChanged(int, float value, ChangeType type) override { log.emplace_back(value, type); }
};

// What a host hears from one parameter.
struct HostLog : juce::AudioProcessorParameter::Listener
{
    std::vector<std::string> log;
    void parameterValueChanged(int, float) override { log.emplace_back("v"); }
    void parameterGestureChanged(int, bool on) override { log.emplace_back(on ? "begin" : "end"); }
};

struct Rig
{
    PluginProcessor processor;
    std::unique_ptr<PluginEditor> editor = std::make_unique<PluginEditor>(&processor);
    Overlay2D& overlay = *editor->getRootView()->getOverlay();
    Param& param(int i) { return processor.dsp->params[static_cast<size_t>(i)]; }
    void event(int kind, int i = 0) { overlay.handleMessage(std::array{SynthEvent{kind, i, 0.5f}}.data()); }
};

// The processor's reports to the host that its state changed beyond its parameters.
struct StateReports : juce::AudioProcessorListener
{
    explicit StateReports(juce::AudioProcessor& p) : processor(p) { processor.addListener(this); }
    ~StateReports() override { processor.removeListener(this); }
    // How many arrived once the messages posted so far are delivered.
    int delivered()
    {
        pump();
        return count;
    }
    void audioProcessorParameterChanged(juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails& details) override
    {
        count += details.nonParameterStateChanged ? 1 : 0;
    }
    juce::AudioProcessor& processor;
    int count = 0;
};
} // namespace

TEST(Knob, DragLawSnapsAndTheResidual)
{
    // Linear 0..1 from the middle: pixels moved (down is positive) to the new value.
    for (const auto& [dy, expected] : {std::pair{-1.0f, 0.5f + 1.0f / 1100}, {-10.0f, 0.55f}, {10.0f, 0.45f}})
    {
        Param p("Mix", kCurveLinear, 0, 1, 0, "", 0.5f);
        Knob(&p, 76, 68, 46, Knob::performanceDial, {}, nullptr).moveKnob(dy, Type::dragChange);
        EXPECT_NEAR(p.value, expected, 1e-6f) << dy;
    }

    // A snap at 0 on a -8..8 power curve: a move towards it locks on; from it, 5-pixel steps
    // (1/60 each) collect in the residual and leave on the step where it reaches 0.05.
    Param stretch = kParamArchStretch;
    stretch.setSnaps({0.0f});
    Knob dial(&stretch, 76, 68, 46, Knob::performanceDial, {}, nullptr);
    const float s = stretch.convertValToUnit(0.0f);
    stretch.value = stretch.convertUnitToVal(s - 0.03f);
    dial.moveKnob(-10.0f, Type::dragChange);
    EXPECT_EQ(stretch.value, 0.0f);
    dial.dragResidual = 0.0f;
    for (int step = 1; step <= 4; ++step)
    {
        dial.moveKnob(-5.0f, Type::dragChange);
        EXPECT_EQ(stretch.value, 0.0f) << step;
    }
    dial.moveKnob(-5.0f, Type::dragChange);
    EXPECT_NEAR(stretch.convertValToUnit(stretch.value), s + 0.001f + 1.0f / 60, 1e-4f);

    // A rounded 0..10 knob: single pixels step it once enough has collected, and only by one.
    Param voices("Voices", kCurveRoundLinear, 0, 10, 0, "%.0f", 5);
    Knob count(&voices, 76, 68, 46, Knob::compactDial, {}, nullptr);
    int pixels = 0;
    while (voices.value == 5.0f && pixels < 1000)
        count.moveKnob(-1.0f, Type::dragChange), ++pixels;
    EXPECT_EQ(voices.value, 6.0f);
    EXPECT_TRUE(pixels > 10 && pixels < 100) << pixels;

    // Nothing that is not a number reaches the record: a NaN position or residual counts as 0.
    Param mix("Mix", kCurveLinear, 0, 1, 0, "", 0.5f);
    Knob plain(&mix, 76, 68, 46, Knob::valueBox, {}, nullptr);
    plain.dragResidual = kNaN, plain.moveKnob(0.0f, Type::dragChange);
    EXPECT_EQ(mix.value, 0.5f);
    mix.value = kNaN, plain.moveKnob(kNaN, Type::dragChange);
    EXPECT_TRUE(mix.value == 0.0f && std::isfinite(plain.dragResidual)) << mix.value;
}

TEST(Knob, TogglesChoicesTextAndTypedEntry)
{
    Param onOff("Fx_On", kCurveRoundLinear, 0, 1, 0, "off|on", 0);
    Reports r;
    Knob toggle(&onOff, 60, 60, 0, Knob::compactDial, {}, &r);
    EXPECT_EQ(toggle.getCaption(), "On");
    toggle.mouseDown(mouse(toggle, 5)), toggle.mouseDown(mouse(toggle, 5));
    EXPECT_EQ(r.log, (Log{{1.0f, Type::singleChange}, {0.0f, Type::singleChange}}));

    // Popup results on a four-way choice whose default is 2.
    Param shape("LFO_Shape", kCurveRoundLinear, 0, 3, 0, "a|b|c|d", 2);
    shape.value = 0;
    Knob choice(&shape, 60, 60, 0, Knob::compactDial, "Wave", &r);
    r.log.clear();
    for (const auto& [result, value, reported] :
         {std::tuple{2000, 2.0f, 1u}, {1003, 3.0f, 2u}, {1004, 3.0f, 2u}, {999, 3.0f, 2u}, {0, 3.0f, 2u}})
    {
        choice.choicePopupOpen = true;
        popupCallback(result, &choice);
        EXPECT_EQ(shape.value, value) << result;
        EXPECT_EQ(r.log.size(), reported) << result;
    }
    // A menu that outlives its knob delivers to nobody.
    auto doomed = std::make_unique<Knob>(&shape, 60, 60, 0, Knob::compactDial, "", &r);
    std::unique_ptr<juce::ModalComponentManager::Callback> late(
        juce::ModalCallbackFunction::forComponent(popupCallback, doomed.get()));
    doomed.reset(), late->modalStateFinished(2000);
    EXPECT_EQ(r.log.size(), 2u);

    // Value texts: labels in range, else the format; a null label prints empty; counts beyond the
    // record's capacity are held to it.
    Param odd("Odd", kCurveLinear, 0, 40, 0, "%.1f Hz", 2.5f);
    Knob text(&odd, 60, 60, 0, Knob::valueBox, {}, nullptr);
    const auto shown = [&](float v) { return odd.value = v, text.formatValue(); };
    EXPECT_EQ(shown(2.5f), "2.5 Hz");
    odd.numLabels = 99;
    EXPECT_EQ(shown(35), "35.0 Hz");
    EXPECT_EQ(shown(3), "");
    odd.numSnaps = 99, text.moveKnob(-1.0f, Type::dragChange);
    EXPECT_TRUE(std::isfinite(odd.value));

    // Typed entry: accepted within the range either way round, rounded on a rounded curve, and
    // reported as one single change.
    const Param tune("Tune", kCurveLinear, -8, 8, 0, "", 0);
    // clang-format off
    const std::tuple<Param, const char*, bool, float, bool> typed[] = { // text, Return (or Escape), value, reported
        {tune, "3.5", true, 3.5f, true}, {tune, "12", true, 0, false}, {tune, "7", false, 0, false},
        {Param("Count", kCurveRoundLinear, 0, 10, 0, "", 0), "4.6", true, 5, true},
        {Param("Inverse", kCurveLinear, 1, 0, 0, "", 1), "0.25", true, 0.25f, true}};
    // clang-format on
    for (auto [p, entry, returned, expected, reported] : typed)
    {
        Reports typedReports;
        Knob knob(&p, 76, 68, 46, Knob::performanceDial, {}, &typedReports);
        auto& editor = knob.getValueEditor();
        knob.mouseUp(mouse(knob, 30, 2));
        ASSERT_TRUE(editor.isVisible()) << entry;
        editor.setText(entry, false);
        returned ? knob.textEditorReturnKeyPressed(editor) : knob.textEditorEscapeKeyPressed(editor);
        EXPECT_EQ(p.value, expected) << entry;
        EXPECT_FALSE(editor.isVisible()) << entry;
        EXPECT_EQ(typedReports.log, (reported ? Log{{expected, Type::singleChange}} : Log())) << entry;
    }
}

TEST(Overlay, EveryHostGestureThatBeginsEnds)
{
    // Performance knob 0 is Gain, host parameter 0; the host listens to that parameter.
    using Act = std::function<void(Rig&, Knob&)>;
    // clang-format off
    const std::tuple<const char*, Act, std::vector<std::string>> rows[] = {
        {"drag", [](Rig&, Knob& k) { k.mouseDown(mouse(k, 30)), k.mouseDrag(mouse(k, 20)), k.mouseUp(mouse(k, 25)); },
         {"begin", "v", "v", "v", "end"}},
        {"reset from the menu", [](Rig&, Knob& k) { popupCallback(2000, &k); }, {"v"}},
        {"an end without a start", [](Rig& r, Knob&) { r.overlay.knobChanged(0, 0, Type::dragEnd); }, {"v"}},
        {"a hidden parameter and indices outside the table", [](Rig& r, Knob&) {
            for (const int i : {kParamPolyphony, -1, kNumEngineParams, 1 << 30}) r.overlay.knobChanged(i, 0, Type::dragStart);
         }, {}},
        {"a page closing mid-drag", [](Rig& r, Knob&) {
            r.overlay.setActiveMenu(2), r.overlay.knobChanged(0, 0, Type::dragStart), r.overlay.setActiveMenu(-1);
         }, {"begin", "v", "end"}},
        {"the editor closing mid-drag", [](Rig& r, Knob& k) { k.mouseDown(mouse(k, 30)), r.editor.reset(); },
         {"begin", "v", "end"}}};
    // clang-format on
    for (const auto& [name, act, expected] : rows)
    {
        HostLog host; // outlives the editor, which may still talk to the host when it closes
        Rig rig;
        rig.processor.getHostParam(0)->addListener(&host);
        act(rig, *rig.overlay.getPerfKnob(0));
        EXPECT_EQ(host.log, expected) << name;
    }
}

TEST(Overlay, EditsTellTheHostOnceAndTheHostsOwnCallsDoNot)
{
    const auto drag = [](Knob& k) {
        k.mouseDown(mouse(k, 30)), k.mouseDrag(mouse(k, 20)), k.mouseDrag(mouse(k, 10)),
            k.mouseUp(mouse(k, 15));
    };
    const auto page = [](Rig& r, int menu) { return r.overlay.setActiveMenu(menu), r.overlay.getMenuPage(); };
    const auto stereo = [&page](Rig& r)
    {
        auto* fx = dynamic_cast<FxComp*>(page(r, 2));
        fx->buttonClicked(fx->getNameButton(0));
        return fx->getStereoBox();
    };
    const auto press = [](juce::Component& c, int x, int y, int dx)
    { c.mouseDown(mouseAt(c, x, y)), c.mouseDrag(mouseAt(c, x + dx, y)), c.mouseUp(mouseAt(c, x + dx, y)); };
    using Act = std::function<void(Rig&)>;
    // clang-format off
    const std::tuple<const char*, Act, int> rows[] = {
        {"a performance knob's drag", [&](Rig& r) { drag(*r.overlay.getPerfKnob(1)); }, 1},
        {"a drag not yet released", [](Rig& r) {
            Knob& k = *r.overlay.getPerfKnob(1);
            k.mouseDown(mouse(k, 30)), k.mouseDrag(mouse(k, 20));
         }, 0},
        {"a reset from a knob's menu", [](Rig& r) { popupCallback(2000, r.overlay.getPerfKnob(0)); }, 1},
        {"a settings knob", [&](Rig& r) { drag(*dynamic_cast<SettingsComp*>(page(r, 0))->getKnobs()[0]); }, 1},
        {"a modulation slot", [&](Rig& r) { drag(*dynamic_cast<Modul8Menu*>(page(r, 1))->getSlotKnobs()[1]); }, 1},
        {"a modulation box's knob", [&](Rig& r) {
            popupCallback(2000, dynamic_cast<Modul8Menu*>(page(r, 1))->getBoxes()[0]->getKnobs()[1]);
         }, 1},
        {"an effect switch", [&](Rig& r) {
            auto* fx = dynamic_cast<FxComp*>(page(r, 2));
            fx->buttonClicked(fx->getOnButton(1));
         }, 1},
        {"the stereo area's drag", [&](Rig& r) {
            StereoBox* box = stereo(r);
            const auto at = box->getHandle().getBounds().getCentre();
            press(*box, at.x, at.y, 20);
         }, 1},
        {"a press on the stereo area that moves nothing", [&](Rig& r) {
            StereoBox* box = stereo(r);
            const auto at = box->getHandle().getBounds().getCentre();
            press(*box, at.x, at.y, 0);
         }, 0},
        {"another mode's tab", [](Rig& r) { r.overlay.buttonClicked(r.overlay.getTopTab(kCanvasModeExplore)); }, 1},
        {"the open mode's tab", [](Rig& r) { r.overlay.buttonClicked(r.overlay.getTopTab(kCanvasModeXYPad)); }, 0},
        {"a press and drag on the canvas", [&](Rig& r) { press(*r.overlay.getSpaceCanvas(), 300, 200, 30); }, 1},
        {"the browser's Random", [](Rig& r) {
            r.overlay.getSpaceCanvas()->browserItemSelected(SpaceBrowser::Listener::command, "Random", {});
         }, 1},
        {"Clear All", [](Rig& r) { r.overlay.getSpaceCanvas()->handlePopupResult(1); }, 1},
        {"the host's restore, in another mode", [](Rig& r) {
            juce::MemoryBlock block;
            r.processor.nodeCanvas.mode = kCanvasModeKeyboard;
            r.processor.getStateInformation(block);
            r.processor.nodeCanvas.mode = kCanvasModeXYPad;
            r.processor.setStateInformation(block.getData(), static_cast<int>(block.getSize()));
            r.event(kSynthEventPresetsChanged, -1);
         }, 0},
        {"the host's parameter change", [](Rig& r) {
            r.processor.getHostParam(0)->setValue(0.3f);
            r.event(kSynthEventParamChanged, 0);
         }, 0}};
    // clang-format on
    for (const auto& [name, act, expected] : rows)
    {
        Rig rig;
        StateReports reports(rig.processor);
        EXPECT_EQ(reports.delivered(), 0) << "opening the editor, before " << name;
        act(rig);
        EXPECT_EQ(reports.delivered(), expected) << name;
    }
}

TEST(Overlay, DispatchesEventsAndDrops)
{
    Rig rig;
    std::vector<RepaintProbe*> probes;
    for (int i = 0; i < Overlay2D::kNumPerfKnobs; ++i)
        probes.push_back(new RepaintProbe(*rig.overlay.getPerfKnob(i)));
    rig.event(kSynthEventParamChanged, kParamTimeWarp), rig.event(kSynthEventParamChanged, kFirstLofiParam);
    for (int i = 0; i < Overlay2D::kNumPerfKnobs; ++i)
        EXPECT_EQ(probes[static_cast<size_t>(i)]->count, i == kParamTimeWarp ? 1 : 0) << i;

    // Only an open settings page hears parameter events.
    for (const int menu : {2, 0})
    {
        rig.overlay.setActiveMenu(menu);
        const auto& page = *new RepaintProbe(*rig.overlay.getMenuPage());
        rig.event(kSynthEventParamChanged, kParamVibratoRate);
        EXPECT_EQ(page.count, menu == 0 ? 1 : 0) << menu;
    }

    rig.param(kParamPolyphony).value = 3;
    rig.event(kSynthEventPresetsChanged, -1);
    EXPECT_EQ(rig.overlay.getMenuButton(0)->dots, (std::vector<float>{1, 1, 1, 0, 0, 0, 0, 0}));

    // Each alert replaces the last (the start-up warning first).
    const int children = rig.overlay.getNumChildComponents();
    rig.event(kSynthEventSaveFailed), rig.event(kSynthEventSaveFailed);
    EXPECT_EQ(rig.overlay.getNumChildComponents(), children);
    EXPECT_EQ(rig.overlay.getAlert()->message, "Couldn't save to file! Sorry.");

    rig.processor.pendingMessage = "Please upgrade.";
    rig.event(kSynthEventMessageWaiting);
    const AlertComp* shown = rig.overlay.getAlert();
    rig.event(kSynthEventMessageWaiting); // shown once: the second finds nothing waiting
    EXPECT_TRUE(rig.overlay.getAlert() == shown && shown->message == "Please upgrade.");
    EXPECT_EQ(rig.processor.takePendingMessage(), "");

    const auto dir = juce::File::getSpecialLocation(juce::File::tempDirectory).getChildFile("qm-drops");
    ASSERT_TRUE(dir.createDirectory());
    dir.getChildFile("notes.txt").replaceWithText("x"),
        dir.getChildFile("bad.qmbank").replaceWithText("not a zip");
    // A name that is not UTF-8, as the framework's drop handler decodes "file:///.../end%F0.qmbank".
    const std::string latin = dir.getFullPathName().toStdString() + "/end\xF0.qmbank";
    std::ofstream(latin) << "not a zip";
    const auto at = [&dir](const char* name) { return dir.getChildFile(name).getFullPathName(); };
    rig.overlay.filesDropped({at("gone.qmbank"), at("notes.txt"), at("bad.qmbank"),
                              juce::URL::removeEscapeChars(dir.getFullPathName() + "/end%F0.qmbank")},
                             0, 0);
    EXPECT_EQ(rig.overlay.getNumChildComponents(), children);
    EXPECT_EQ(
        rig.overlay.getAlert()->message,
        juce::String::fromUTF8("Error: couldn't open file gone.qmbank\n\nUnsupported file type.\n"
                               "Error: bad.qmbank is not a valid soundbank, did not install.\n\n"
                               "Error: end\xc3\xb0.qmbank is not a valid soundbank, did not install.\n"));
    std::remove(latin.c_str());
    dir.deleteRecursively();
}

TEST(Overlay, LayersFollowTheClicksAndDotsFollowTheParameters)
{
    // Clicks: Mi page button i, Ti tab i, L logo, X close button. Final layer: -1 bare canvas,
    // 0 to 2 that page, 3 the About page.
    const std::pair<const char*, int> sequences[] = {{"M2 M2 M2", 2}, {"M0 M1", 1},  {"M1 M1 X X", -1},
                                                     {"M0 X M0", 0},  {"M2 L", 3},   {"L L", -1},
                                                     {"L M1", 1},     {"M0 T2", -1}, {"L T1 M2 T0", -1}};
    for (const auto& [clicks, last] : sequences)
    {
        Rig rig;
        auto& o = rig.overlay;
        auto canvases = rig.processor.canvasQueue.makeReader();
        int mode = 1, layer = -1;
        for (const auto& token : juce::StringArray::fromTokens(clicks, false))
        {
            const int n = token.getTrailingIntValue();
            juce::Button* target[] = {o.getMenuButton(n), o.getTopTab(n), o.getLogoButton(),
                                      o.getCloseButton()};
            o.buttonClicked(target[juce::String("MTLX").indexOfChar(token[0])]);
            mode = token[0] == 'T' ? n : mode;
            const auto where = juce::String(clicks) + " at " + token;
            const auto* page = o.getMenuPage();
            const bool pageOpen = page != nullptr, about = o.getAboutComp() != nullptr;
            EXPECT_FALSE(pageOpen && about) << where;
            EXPECT_EQ(o.getSpaceCanvas()->isVisible(), !pageOpen && !about) << where;
            const bool isPage[] = {dynamic_cast<const SettingsComp*>(page) != nullptr,
                                   dynamic_cast<const Modul8Menu*>(page) != nullptr,
                                   dynamic_cast<const FxComp*>(page) != nullptr};
            layer = about ? 3 : -1;
            for (int i = 0; i < Overlay2D::kNumMenus; ++i)
            {
                layer = isPage[i] ? i : layer;
                EXPECT_EQ(o.getMenuButton(i)->active, isPage[i]) << where << " button " << i;
            }
            EXPECT_EQ(o.getCloseButton() != nullptr && o.getCloseButton()->isVisible(), pageOpen) << where;
            EXPECT_TRUE(!(pageOpen || about) || o.getBackdrop()->getParentComponent() == &o) << where;
            for (int i = 0; i < Overlay2D::kNumTabs; ++i)
                EXPECT_EQ(o.getTopTab(i)->highlight, i == mode ? 1.0f : 0.0f) << where << " tab " << i;
        }
        EXPECT_EQ(layer, last) << clicks;
        EXPECT_EQ(rig.processor.nodeCanvas.mode, mode) << clicks;
        EXPECT_EQ(canvases.hasNew(), juce::String(clicks).contains("T")) << clicks; // a tab pushes the canvas
    }

    // Dots: polyphony, modulation slots (source and amount both set; NaN counts as set) and the
    // effect switches, starting with the engine's own (Binaural, Reverb, Compressor), limited to 0..1.
    Rig rig;
    const auto set = [&rig](int index, float value) { rig.param(index).value = value; };
    const auto dots = [&rig](int menu)
    {
        std::string lit;
        for (const float d : rig.overlay.getMenuButton(menu)->dots)
            lit += d == 1.0f ? '1' : d == 0.0f ? '0' : '?';
        return lit;
    };
    EXPECT_EQ(dots(2), "1001010");
    for (const auto& [voices, lit] : {std::pair{16.0f, "11111111"}, {3.0f, "11100000"}, {1.0f, "10000000"}})
    {
        set(kParamPolyphony, voices), rig.overlay.knobChanged(kParamPolyphony, voices, Type::dragChange);
        EXPECT_EQ(dots(0), lit) << voices;
    }
    const std::pair<float, float> slots[] = {{1, 0}, {0, 0.5f}, {1, 0.5f}, {1, kNaN}}; // source, amount
    for (int k = 0; k < 4; ++k)
        set(kFirstModSlotParam + kParamsPerModSlot * k + kModParamSource, slots[k].first),
            set(kFirstModSlotParam + kParamsPerModSlot * k + kModParamAmount, slots[k].second);
    rig.overlay.knobChanged(kFirstModSlotParam + kModParamAmount, 0, Type::dragEnd);
    EXPECT_EQ(dots(1), "00110000");
    set(kFirstFxSwitch, kNaN), set(kFirstFxSwitch + 1, 2.0f), set(kFirstFxSwitch + 3, -1.0f);
    rig.overlay.knobChanged(kFirstFxSwitch + 1, 2.0f, Type::dragEnd);
    EXPECT_EQ(dots(2), "0100010");
}

TEST(Overlay, ConstructionBackgroundLayoutAndScreenshots)
{
    Rig rig;
    auto& o = rig.overlay;
    const juce::Image& bg = o.getBackgroundImage();
    // (x, y) -> opaque red, green, blue; the dither adds at most one level.
    for (const auto& [x, y, rgb] : {std::tuple{0, 0, 0x19203bu}, {157, 251, 0x19405eu}})
    {
        const auto c = bg.getPixelAt(x, y).getARGB(), over = c - (0xff000000u | rgb);
        EXPECT_EQ(over & ~0x010101u, 0u) << std::hex << c; // each channel at most one level up
    }

    // Tabs measured from their font, 5 pixels apart.
    const auto font =
        getEditorFont(EditorFace::robotoMono, 22.0f).withExtraKerningFactor(0.1f).withHorizontalScale(1.1f);
    int x = 0;
    for (int i = 0; i < Overlay2D::kNumTabs; ++i)
    {
        const TopTab& tab = *o.getTopTab(i);
        const int width = static_cast<int>(std::ceil(font.getStringWidthFloat(tab.text))) + 15;
        EXPECT_EQ(tab.getBounds(), juce::Rectangle<int>(x, 0, width, 50)) << tab.text;
        x += width + 5;
    }
    EXPECT_EQ(o.getKnobSlots(), (std::map<int, int>{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}}));

    // Z-order, bottom to top; with no sound installed the start-up warning is on top.
    std::string order; // bars, tabs, logo, canvas, knobs, menu buttons, alert
    // clang-format off
    for (auto* c : o.getChildren())
        order += dynamic_cast<ColoredRect*>(c) ? 'b' : dynamic_cast<TopTab*>(c) ? 't' : dynamic_cast<LogoButton*>(c) ? 'l'
               : dynamic_cast<SpaceCanvas*>(c) ? 'c' : dynamic_cast<Knob*>(c) ? 'k' : dynamic_cast<MenuButton*>(c) ? 'm'
               : dynamic_cast<AlertComp*>(c) ? 'a' : '?';
    // clang-format on
    EXPECT_EQ(order, "bbtttlckkkkkkmmma");
    EXPECT_EQ(o.getAlert()->message, "Warning: no sounds were found. Please reinstall Quillmoor.");

    o.getAlert()->buttonClicked(o.getAlert()->okButton.get());
    saveScreenshot(*rig.editor, "overlay-630x504.png");
    rig.editor->setSize(1260, 1008);
    saveScreenshot(*rig.editor, "overlay-1260x1008.png");
}

int main(int argc, char** argv)
{
    return runWithTemporaryHome(argc, argv);
}
