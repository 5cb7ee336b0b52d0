// The knob and the overlay under a virtual X server: the drag law and typed entry, host gestures,
// event dispatch, the page layers and the overlay's construction.
#include <cmath>
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
#include "editor/TopBarButtons.h"

namespace
{
using Type = Knob::Listener::ChangeType;
const float kNaN = std::nanf("");

juce::MouseEvent mouse(juce::Component& c, float y, int clicks = 1,
                       juce::ModifierKeys mods = juce::ModifierKeys::leftButtonModifier)
{
    const juce::Point<float> at{10.0f, y};
    const auto now = juce::Time::getCurrentTime();
    return {juce::Desktop::getInstance().getMainMouseSource(), at, mods, 0, 0, 0, 0, 0, &c, &c, now, at, now,
            clicks, false};
}

struct Reports : Knob::Listener
{
    std::vector<std::pair<float, int>> log; // value, change type
    void knobChanged(int, float value, ChangeType type) override { log.emplace_back(value, type); }
};

// Counts repaint requests of a component (and of its children) without drawing anything. The
// component owns it; taking it off deletes it.
struct RepaintProbe : juce::CachedComponentImage
{
    int count = 0;
    void paint(juce::Graphics&) override {}
    bool invalidateAll() override { return ++count, false; }
    bool invalidate(const juce::Rectangle<int>&) override { return ++count, false; }
    void releaseResources() override {}
    static RepaintProbe& on(juce::Component& c)
    {
        auto* probe = new RepaintProbe;
        c.setCachedComponentImage(probe);
        probe->count = 0; // attaching repaints
        return *probe;
    }
};

// What a host hears from one parameter.
struct HostLog : juce::AudioProcessorParameter::Listener
{
    std::vector<std::string> log;
    void parameterValueChanged(int, float) override { log.emplace_back("v"); }
    void parameterGestureChanged(int, bool starting) override { log.emplace_back(starting ? "begin" : "end"); }
};

struct Rig
{
    PluginProcessor processor;
    std::unique_ptr<PluginEditor> editor = std::make_unique<PluginEditor>(&processor);
    Overlay2D& overlay = *editor->getRootView()->getOverlay();
    Param& param(int i) { return processor.dsp->params[static_cast<size_t>(i)]; }
    void event(int kind, int index = 0, float value = 0.0f)
    {
        const SynthEvent e{kind, index, value};
        overlay.handleMessage(&e);
    }
    int alerts() const
    {
        int n = 0;
        for (auto* c : overlay.getChildren())
            n += dynamic_cast<AlertComp*>(c) != nullptr;
        return n;
    }
};

void saveScreenshot(juce::Component& c, const juce::String& name)
{
    juce::MemoryOutputStream png;
    juce::PNGImageFormat().writeImageToStream(c.createComponentSnapshot(c.getLocalBounds()), png);
    EXPECT_TRUE(
        juce::File(QM_SCREENSHOT_DIR).getChildFile(name).replaceWithData(png.getData(), png.getDataSize()));
}
} // namespace

TEST(Knob, DragLawSnapsAndTheResidual)
{
    // Linear 0..1 from the middle: pixels moved (down is positive) to the new value.
    for (const auto& [dy, expected] : {std::pair{-1.0f, 0.5f + 1.0f / 1100}, {-10.0f, 0.55f}, {10.0f, 0.45f}})
    {
        Param p("Mix", kCurveLinear, 0, 1, 0, "", 0.5f);
        Reports r;
        Knob knob(&p, 76, 68, 46, Knob::performanceDial, {}, &r);
        knob.moveKnob(dy, Knob::Listener::dragChange);
        EXPECT_NEAR(p.value, expected, 1e-6f) << dy;
        EXPECT_EQ(r.log, (std::vector<std::pair<float, int>>{{p.value, Type::dragChange}})) << dy;
    }

    // A snap at 0 on a -8..8 power curve: a move towards it locks on; from it, 5-pixel steps
    // (1/60 each) collect in the residual and leave on the step where it reaches 0.05.
    Param stretch = kParamArchStretch;
    stretch.setSnaps({0.0f});
    Knob dial(&stretch, 76, 68, 46, Knob::performanceDial, {}, nullptr);
    const float s = stretch.convertValToUnit(0.0f);
    stretch.value = stretch.convertUnitToVal(s - 0.03f);
    dial.moveKnob(-10.0f, Knob::Listener::dragChange);
    EXPECT_EQ(stretch.value, 0.0f);
    dial.dragResidual = 0.0f;
    for (int step = 1; step <= 4; ++step)
    {
        dial.moveKnob(-5.0f, Knob::Listener::dragChange);
        EXPECT_EQ(stretch.value, 0.0f) << step;
    }
    dial.moveKnob(-5.0f, Knob::Listener::dragChange);
    EXPECT_NEAR(stretch.convertValToUnit(stretch.value), s + 0.001f + 1.0f / 60, 1e-4f);

    // A rounded 0..10 knob: single pixels step it once enough has collected, and only by one.
    Param voices("Voices", kCurveRoundLinear, 0, 10, 0, "%.0f", 5);
    Knob count(&voices, 76, 68, 46, Knob::compactDial, {}, nullptr);
    int pixels = 0;
    while (voices.value == 5.0f && pixels < 1000)
        count.moveKnob(-1.0f, Knob::Listener::dragChange), ++pixels;
    EXPECT_EQ(voices.value, 6.0f);
    EXPECT_GT(pixels, 10);
    EXPECT_LT(pixels, 100);

    // Nothing that is not a number reaches the record: a NaN position or residual counts as 0.
    Param mix("Mix", kCurveLinear, 0, 1, 0, "", 0.5f);
    Knob plain(&mix, 76, 68, 46, Knob::valueBox, {}, nullptr);
    plain.dragResidual = kNaN;
    plain.moveKnob(0.0f, Knob::Listener::dragChange);
    EXPECT_EQ(mix.value, 0.5f);
    mix.value = kNaN;
    plain.moveKnob(kNaN, Knob::Listener::dragChange);
    EXPECT_EQ(mix.value, 0.0f);
    EXPECT_TRUE(std::isfinite(plain.dragResidual));
}

TEST(Knob, TogglesChoicesTextAndTypedEntry)
{
    Param onOff("Fx_On", kCurveRoundLinear, 0, 1, 0, "off|on", 0);
    Reports r;
    Knob toggle(&onOff, 60, 60, 0, Knob::compactDial, {}, &r);
    EXPECT_EQ(toggle.getCaption(), "On");
    toggle.mouseDown(mouse(toggle, 5));
    toggle.mouseDown(mouse(toggle, 5));
    EXPECT_EQ(r.log, (std::vector<std::pair<float, int>>{{1.0f, Type::singleChange}, {0.0f, Type::singleChange}}));

    // Popup results on a four-way choice whose default is 2.
    Param shape("LFO_Shape", kCurveRoundLinear, 0, 3, 0, "a|b|c|d", 2);
    shape.value = 0;
    for (const auto& [result, value, reported] : {std::tuple{2000, 2.0f, true}, {1003, 3.0f, true},
                                                  {1004, 3.0f, false}, {999, 3.0f, false}, {0, 3.0f, false}})
    {
        Reports choices;
        Knob knob(&shape, 60, 60, 0, Knob::compactDial, "Wave", &choices);
        knob.choicePopupOpen = true;
        popupCallback(result, &knob);
        EXPECT_EQ(shape.value, value) << result;
        EXPECT_EQ(choices.log.size(), reported ? 1u : 0u) << result;
        EXPECT_FALSE(knob.choicePopupOpen);
    }
    // A menu that outlives its knob delivers to nobody.
    auto doomed = std::make_unique<Knob>(&shape, 60, 60, 0, Knob::compactDial, "", &r);
    std::unique_ptr<juce::ModalComponentManager::Callback> late(
        juce::ModalCallbackFunction::forComponent(popupCallback, doomed.get()));
    doomed.reset();
    const auto before = r.log.size();
    late->modalStateFinished(2000);
    EXPECT_EQ(r.log.size(), before);

    // Value texts: labels in range, else the format; a null label prints empty; counts beyond the
    // record's capacity are held to it.
    Param odd("Odd", kCurveLinear, 0, 40, 0, "%.1f Hz", 2.5f);
    Knob text(&odd, 60, 60, 0, Knob::valueBox, {}, nullptr);
    EXPECT_EQ(text.formatValue(), "2.5 Hz");
    odd.numLabels = 99, odd.value = 35;
    EXPECT_EQ(text.formatValue(), "35.0 Hz");
    odd.value = 3;
    EXPECT_EQ(text.formatValue(), "");
    odd.numSnaps = 99;
    text.moveKnob(-1.0f, Knob::Listener::dragChange);
    EXPECT_TRUE(std::isfinite(odd.value));

    // Typed entry: accepted within the range either way round, rounded on a rounded curve, and
    // reported as one single change.
    const std::tuple<Param, const char*, float, bool> typed[] = {
        {Param("Tune", kCurveLinear, -8, 8, 0, "", 0), "3.5", 3.5f, true},
        {Param("Tune", kCurveLinear, -8, 8, 0, "", 0), "12", 0.0f, false},
        {Param("Tune", kCurveLinear, -8, 8, 0, "", 0), "-", 0.0f, true},
        {Param("Count", kCurveRoundLinear, 0, 10, 0, "", 0), "4.6", 5.0f, true},
        {Param("Inverse", kCurveLinear, 1, 0, 0, "", 1), "0.25", 0.25f, true}};
    for (auto [p, entry, expected, reported] : typed)
    {
        Reports typedReports;
        Knob knob(&p, 76, 68, 46, Knob::performanceDial, {}, &typedReports);
        knob.mouseUp(mouse(knob, 30, 2));
        ASSERT_TRUE(knob.getValueEditor().isVisible()) << entry;
        knob.getValueEditor().setText(entry, false);
        knob.textEditorReturnKeyPressed(knob.getValueEditor());
        EXPECT_EQ(p.value, expected) << entry;
        EXPECT_FALSE(knob.getValueEditor().isVisible()) << entry;
        using Log = std::vector<std::pair<float, int>>;
        const Log want = reported ? Log{{expected, Type::singleChange}} : Log();
        EXPECT_EQ(typedReports.log, want) << entry;
    }
    Param tune("Tune", kCurveLinear, -8, 8, 0, "", 1);
    Knob escaped(&tune, 76, 68, 46, Knob::performanceDial, {}, nullptr);
    escaped.showValueEditor();
    escaped.getValueEditor().setText("7", false);
    escaped.textEditorEscapeKeyPressed(escaped.getValueEditor());
    EXPECT_EQ(tune.value, 1.0f);
    EXPECT_FALSE(escaped.getValueEditor().isVisible());
}

TEST(Overlay, EveryHostGestureThatBeginsEnds)
{
    // Performance knob 0 is Gain, host parameter 0; the host listens to that parameter.
    using Act = std::function<void(Rig&, Knob&)>;
    const std::tuple<const char*, Act, std::vector<std::string>> rows[] = {
        {"drag", [](Rig&, Knob& k) { k.mouseDown(mouse(k, 30)), k.mouseDrag(mouse(k, 20)), k.mouseUp(mouse(k, 25)); },
         {"begin", "v", "v", "v", "end"}},
        {"reset from the menu", [](Rig&, Knob& k) { popupCallback(2000, &k); }, {"v"}},
        {"an end without a start", [](Rig& r, Knob&) { r.overlay.knobChanged(0, 0, Type::dragEnd); }, {"v"}},
        {"a second start", [](Rig& r, Knob&) {
             for (const Type t : {Type::dragStart, Type::dragStart, Type::dragEnd, Type::dragEnd})
                 r.overlay.knobChanged(0, 0, t);
         }, {"begin", "v", "v", "v", "end", "v"}},
        {"a hidden parameter and indices outside the table", [](Rig& r, Knob&) {
             for (const int i : {kParamPolyphony, -1, kNumEngineParams})
                 r.overlay.knobChanged(i, 0, Type::dragStart);
         }, {}},
        {"a page closing mid-drag", [](Rig& r, Knob&) {
             r.overlay.setActiveMenu(2), r.overlay.knobChanged(0, 0, Type::dragStart), r.overlay.setActiveMenu(-1);
         }, {"begin", "v", "end"}},
        {"the editor closing mid-drag", [](Rig& r, Knob& k) { k.mouseDown(mouse(k, 30)), r.editor.reset(); },
         {"begin", "v", "end"}}};
    for (const auto& [name, act, expected] : rows)
    {
        Rig rig;
        HostLog host;
        PluginParam& gain = *rig.processor.getHostParam(0);
        gain.addListener(&host);
        act(rig, *rig.overlay.getPerfKnob(0));
        EXPECT_EQ(host.log, expected) << name;
        gain.removeListener(&host);
    }
}

TEST(Overlay, DispatchesEventsAndDrops)
{
    Rig rig;
    std::vector<RepaintProbe*> probes;
    for (int i = 0; i < Overlay2D::kNumPerfKnobs; ++i)
        probes.push_back(&RepaintProbe::on(*rig.overlay.getPerfKnob(i)));
    rig.event(kSynthEventParamChanged, kParamTimeWarp, 0.3f);
    rig.event(kSynthEventParamChanged, kFirstLofiParam, 0.3f);
    for (int i = 0; i < Overlay2D::kNumPerfKnobs; ++i)
        EXPECT_EQ(probes[static_cast<size_t>(i)]->count, i == kParamTimeWarp ? 1 : 0) << i;

    // Only an open settings page hears parameter events.
    for (const int menu : {2, 0})
    {
        rig.overlay.setActiveMenu(menu);
        const RepaintProbe& page = RepaintProbe::on(*rig.overlay.getMenuPage());
        rig.event(kSynthEventParamChanged, kParamVibratoRate, 2.0f);
        EXPECT_EQ(page.count, menu == 0 ? 1 : 0) << menu;
    }

    rig.param(kParamPolyphony).value = 3;
    rig.event(kSynthEventPresetsChanged, -1);
    EXPECT_EQ(rig.overlay.getMenuButton(0)->dots, (std::vector<float>{1, 1, 1, 0, 0, 0, 0, 0}));

    rig.event(kSynthEventSaveFailed), rig.event(kSynthEventSaveFailed);
    EXPECT_EQ(rig.alerts(), 1);
    EXPECT_EQ(rig.overlay.getAlert()->message, "Couldn't save to file! Sorry.");

    rig.processor.pendingMessage = "Please upgrade.";
    rig.event(kSynthEventMessageWaiting);
    AlertComp* shown = rig.overlay.getAlert();
    rig.event(kSynthEventMessageWaiting);
    EXPECT_EQ(rig.overlay.getAlert(), shown);
    EXPECT_EQ(shown->message, "Please upgrade.");
    EXPECT_EQ(rig.processor.takePendingMessage(), "");

    const auto dir = juce::File::getSpecialLocation(juce::File::tempDirectory).getChildFile("qm-drops");
    ASSERT_TRUE(dir.createDirectory());
    dir.getChildFile("notes.txt").replaceWithText("x");
    dir.getChildFile("bad.qmbank").replaceWithText("not a zip");
    rig.overlay.filesDropped({dir.getChildFile("gone.qmbank").getFullPathName(),
                              dir.getChildFile("notes.txt").getFullPathName(),
                              dir.getChildFile("bad.qmbank").getFullPathName()},
                             0, 0);
    EXPECT_EQ(rig.alerts(), 1);
    EXPECT_EQ(rig.overlay.getAlert()->message, "Error: couldn't open file gone.qmbank\n\nUnsupported file type.\n"
                                               "Error: bad.qmbank is not a valid soundbank, did not install.\n");
    dir.deleteRecursively();
}

TEST(Overlay, LayersFollowTheClicksAndDotsFollowTheParameters)
{
    // Clicks: Mi page button i, Ti tab i, L logo, X close button. Final layer: -1 bare canvas,
    // 0 to 2 that page, 3 the About page.
    const std::pair<const char*, int> sequences[] = {
        {"M2 M2 M2", 2}, {"M0 M1", 1}, {"M1 M1 X X", -1}, {"M0 X M0", 0}, {"M2 L", 3}, {"L L", -1},
        {"L M1", 1},     {"M0 T2", -1}, {"L T1 M2 T0", -1}};
    for (const auto& [clicks, last] : sequences)
    {
        Rig rig;
        auto& o = rig.overlay;
        rig.processor.setPresetName("Pad");
        auto canvases = rig.processor.canvasQueue.makeReader();
        int mode = 1;
        for (const auto& token : juce::StringArray::fromTokens(clicks, false))
        {
            const int n = token.getTrailingIntValue();
            juce::Button* target = token[0] == 'M'   ? static_cast<juce::Button*>(o.getMenuButton(n))
                                   : token[0] == 'T' ? o.getTopTab(n)
                                   : token[0] == 'L' ? static_cast<juce::Button*>(o.getLogoButton())
                                                     : o.getCloseButton();
            o.buttonClicked(target);
            mode = token[0] == 'T' ? n : mode;
            const auto where = juce::String(clicks) + " at " + token;
            const auto* page = o.getMenuPage();
            const bool pageOpen = page != nullptr, about = o.getAboutComp() != nullptr;
            EXPECT_FALSE(pageOpen && about) << where;
            EXPECT_EQ(o.getSpaceCanvas()->isVisible(), !pageOpen && !about) << where;
            const bool isPage[] = {dynamic_cast<const SettingsComp*>(page) != nullptr,
                                   dynamic_cast<const Modul8Menu*>(page) != nullptr,
                                   dynamic_cast<const FxComp*>(page) != nullptr};
            for (int i = 0; i < Overlay2D::kNumMenus; ++i)
                EXPECT_EQ(o.getMenuButton(i)->active, isPage[i]) << where << " button " << i;
            EXPECT_EQ(o.getCloseButton() != nullptr && o.getCloseButton()->isVisible(), pageOpen) << where;
            if (pageOpen || about)
                EXPECT_EQ(o.getBackdrop()->getParentComponent(), &o) << where;
            for (int i = 0; i < Overlay2D::kNumTabs; ++i)
                EXPECT_EQ(o.getTopTab(i)->highlight, i == mode ? 1.0f : 0.0f) << where << " tab " << i;
        }
        const int layer = o.getAboutComp() != nullptr ? 3 : o.getMenuPage() == nullptr ? -1
                          : o.getMenuButton(0)->active ? 0 : o.getMenuButton(1)->active ? 1 : 2;
        EXPECT_EQ(layer, last) << clicks;
        const bool tabbed = juce::String(clicks).contains("T");
        EXPECT_EQ(rig.processor.nodeCanvas.mode, mode) << clicks;
        EXPECT_EQ(canvases.hasNew(), tabbed) << clicks;
        EXPECT_EQ(rig.processor.getPresetName().isEmpty(), tabbed) << clicks;
    }

    // Dots: polyphony, modulation slots (source and amount both set; NaN counts as set) and the
    // effect switches, starting with the engine's own (Binaural, Reverb, Compressor), limited to 0..1.
    Rig rig;
    auto dots = [&rig](int menu) { return rig.overlay.getMenuButton(menu)->dots; };
    EXPECT_EQ(dots(2), (std::vector<float>{1, 0, 0, 1, 0, 1, 0}));
    for (const auto& [voices, lit] : {std::pair{16.0f, 8}, {3.0f, 3}, {1.0f, 1}})
    {
        rig.param(kParamPolyphony).value = voices;
        rig.overlay.knobChanged(kParamPolyphony, voices, Type::dragChange);
        std::vector<float> expected(8, 0.0f);
        std::fill_n(expected.begin(), lit, 1.0f);
        EXPECT_EQ(dots(0), expected) << voices;
    }
    const std::pair<float, float> slots[] = {{1, 0}, {0, 0.5f}, {1, 0.5f}, {1, kNaN}};
    for (int k = 0; k < 4; ++k)
    {
        rig.param(kFirstModSlotParam + kParamsPerModSlot * k + kModParamSource).value = slots[k].first;
        rig.param(kFirstModSlotParam + kParamsPerModSlot * k + kModParamAmount).value = slots[k].second;
    }
    rig.overlay.knobChanged(kFirstModSlotParam + kModParamAmount, 0, Type::dragEnd);
    EXPECT_EQ(dots(1), (std::vector<float>{0, 0, 1, 1, 0, 0, 0, 0}));
    rig.param(kFirstFxSwitch).value = kNaN, rig.param(kFirstFxSwitch + 1).value = 2.0f;
    rig.param(kFirstFxSwitch + 3).value = -1.0f;
    rig.overlay.knobChanged(kFirstFxSwitch + 1, 2.0f, Type::dragEnd);
    EXPECT_EQ(dots(2), (std::vector<float>{0, 1, 0, 0, 0, 1, 0}));
    std::vector<RepaintProbe*> buttons;
    for (int i = 0; i < Overlay2D::kNumMenus; ++i)
        buttons.push_back(&RepaintProbe::on(*rig.overlay.getMenuButton(i)));
    rig.overlay.updateMenuButton(3), rig.overlay.updateMenuButton(-1);
    rig.overlay.knobChanged(kParamGain, 0, Type::dragChange);
    for (const auto* probe : buttons)
        EXPECT_EQ(probe->count, 0);
}

TEST(Overlay, ConstructionBackgroundLayoutAndScreenshots)
{
    Rig rig;
    auto& o = rig.overlay;
    const juce::Image& bg = o.getBackgroundImage();
    ASSERT_EQ(bg.getBounds(), juce::Rectangle<int>(0, 0, 315, 252));
    // (x, y) -> acceptable red, green, blue: the dither adds at most one level.
    for (const auto& [x, y, r, g, b] : {std::tuple{0, 0, 25, 32, 59}, {157, 251, 25, 64, 94}})
    {
        const auto c = bg.getPixelAt(x, y);
        EXPECT_TRUE(c.getRed() - r == 0 || c.getRed() - r == 1) << x << "," << y << " red " << int(c.getRed());
        EXPECT_TRUE(c.getGreen() - g == 0 || c.getGreen() - g == 1) << x << "," << y;
        EXPECT_TRUE(c.getBlue() - b == 0 || c.getBlue() - b == 1) << x << "," << y;
    }
    bool opaque = true;
    for (int y = 0; y < bg.getHeight(); ++y)
        for (int x = 0; x < bg.getWidth(); ++x)
            opaque = opaque && bg.getPixelAt(x, y).getAlpha() == 0xff;
    EXPECT_TRUE(opaque);

    // Tabs measured from their font, 5 pixels apart; the logo flush right; the page buttons tilted.
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
    EXPECT_EQ(o.getLogoButton()->getBounds().getTopRight(), juce::Point<int>(630, 0));
    const auto* effects = o.getMenuButton(2);
    EXPECT_EQ(effects->getPosition(), juce::Point<int>(564, 478));
    EXPECT_EQ(effects->getBoundsInParent().getTopLeft(), juce::Point<int>(564, 478 - 44));
    EXPECT_EQ(o.getKnobSlots(), (std::map<int, int>{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}}));

    // Z-order, bottom to top; with no sound installed the start-up warning is on top.
    std::vector<std::string> order;
    for (auto* c : o.getChildren())
        order.push_back(dynamic_cast<ColoredRect*>(c)   ? "bar"
                        : dynamic_cast<TopTab*>(c)      ? "tab"
                        : dynamic_cast<LogoButton*>(c)  ? "logo"
                        : dynamic_cast<SpaceCanvas*>(c) ? "canvas"
                        : dynamic_cast<Knob*>(c)        ? "knob"
                        : dynamic_cast<MenuButton*>(c)  ? "menu"
                        : dynamic_cast<AlertComp*>(c)   ? "alert"
                                                        : "other");
    EXPECT_EQ(order, (std::vector<std::string>{"bar", "bar", "tab", "tab", "tab", "logo", "canvas", "knob", "knob",
                                               "knob", "knob", "knob", "knob", "menu", "menu", "menu", "alert"}));
    EXPECT_EQ(o.getAlert()->message, "Warning: no sounds were found. Please reinstall Quillmoor.");
    EXPECT_EQ(o.getTopTab(1)->highlight, 1.0f);

    o.getAlert()->buttonClicked(o.getAlert()->okButton.get());
    saveScreenshot(*rig.editor, "overlay-630x504.png");
    o.setActiveMenu(2);
    rig.editor->setSize(1260, 1008);
    saveScreenshot(*rig.editor, "overlay-effects-1260x1008.png");
    o.setActiveMenu(-1);
    saveScreenshot(*rig.editor, "overlay-1260x1008.png");
}

int main(int argc, char** argv)
{
    return runWithTemporaryHome(argc, argv);
}
