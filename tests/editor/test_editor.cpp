// The editor shell under a virtual X server at 96 dpi: window size and scale, the event drain,
// closing order, snapshots, the alert box and the bar buttons, probed in software renderings; and a
// file dropped on its window as a file manager drops it.
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numeric>
#include <thread>
#include <tuple>
#include <vector>

#include "EditorTestHome.h"
#include "XErrors.h"
#include "editor/AlertComp.h"
#include "editor/ColourBytes.h"
#include "editor/EditorFonts.h"
#include "editor/OpenGLComp.h"
#include "editor/Overlay2D.h"
#include "editor/PluginEditor.h"
#include "editor/TopBarButtons.h"
#include "processor/LibraryFolders.h"
#include "support/TestSounds.h"

#include <X11/Xlib.h>

namespace
{
using Size = juce::Point<int>;
using Box = juce::Rectangle<int>;

juce::Displays::Display display(double dpi, double scale, int w, int h)
{
    juce::Displays::Display d;
    d.dpi = dpi, d.scale = scale, d.totalArea = {0, 0, w, h};
    return d;
}

// A software rendering of c on a transparent ground.
juce::Image render(juce::Component& c)
{
    juce::Image image(juce::Image::ARGB, std::max(1, c.getWidth()), std::max(1, c.getHeight()), true,
                      juce::SoftwareImageType());
    juce::Graphics g(image);
    c.paintEntireComponent(g, true);
    return image;
}

std::vector<juce::uint32> pixels(const juce::Image& im)
{
    std::vector<juce::uint32> v;
    for (int y = 0; y < im.getHeight(); ++y)
        for (int x = 0; x < im.getWidth(); ++x)
            v.push_back(im.getPixelAt(x, y).getARGB());
    return v;
}

int maxAlpha(const juce::Image& im)
{
    const auto v = pixels(im);
    return static_cast<int>(
        std::accumulate(v.begin(), v.end(), 0u, [](auto a, auto p) { return std::max(a, p >> 24); }));
}

std::vector<int> range(int from, int to)
{
    std::vector<int> v(static_cast<size_t>(to - from + 1));
    std::iota(v.begin(), v.end(), from);
    return v;
}

// Records what the drain hands over; may push more events while handling one.
struct Recorder : PluginEditor::EventHandler
{
    std::vector<int> indices;
    int updates = 0;
    std::function<void()> onEvent;
    void handleMessage(const SynthEvent* e) override
    {
        indices.push_back(e->index);
        if (onEvent) onEvent();
    }
    void updateCanvasView(float) override { ++updates; }
};

struct Rig
{
    PluginProcessor processor;
    std::unique_ptr<PluginEditor> editor;
    Recorder recorder;
    void open()
    {
        editor = std::make_unique<PluginEditor>(&processor);
        editor->setEventHandler(&recorder);
    }
    void push(int index) { processor.pushEvent({kSynthEventParamChanged, index, 0.0f}); }
    void tick() { editor->timerCallback(); }
};

} // namespace

TEST(EditorSize, FirstSizeFromTheSavedSizeOrTheDisplayThenScaledByResizes)
{
    const auto dense = display(160, 1, 2560, 1440), laptop = display(110, 1, 1280, 800);
    const auto plain = display(200, 2, 2560, 1440), zeroArea = display(160, 1, 0, 0);
    const auto nan = display(std::nan(""), 1, 2560, 1440), tiny = display(160, 1, 200, 150);
    const std::tuple<Size, const juce::Displays::Display*, Size> displayRows[] = {
        {{0, 0}, &dense, {1260, 1008}}, {{0, 0}, &laptop, {865, 692}},    {{0, 0}, &plain, {630, 504}},
        {{0, 0}, nullptr, {630, 504}},  {{0, 0}, &zeroArea, {630, 504}},  {{0, 0}, &nan, {630, 504}},
        {{0, 0}, &tiny, {315, 252}},    {{0, 300}, &dense, {1260, 1008}}, {{700, 560}, &dense, {700, 560}}};
    for (const auto& [saved, main, expected] : displayRows)
        EXPECT_EQ(PluginEditor::chooseFirstSize(saved, main), expected)
            << saved.toString() << " on " << (main ? main->totalArea.toString() : "no display");

    // The virtual server is a 96-dpi display: the design size, written back to the processor.
    Rig rig;
    rig.open();
    EXPECT_EQ(Size(rig.processor.editorWidth, rig.processor.editorHeight), Size(630, 504));
    EXPECT_EQ(rig.editor->getConstrainer()->getMaximumWidth(), 2520);
    saveScreenshot(*rig.editor, "editor-630x504.png");

    // Resizing scales the root as a whole, and popup menus with it.
    auto& lnf = *rig.editor->getEditorLookAndFeel();
    EXPECT_FLOAT_EQ(lnf.getPopupMenuFont().getHeight(), 14.0f);
    // width, root scale, saved width; width 0 keeps the previous row's state. Heights as the corner's
    // constrainer rounds them.
    // clang-format off
    const std::tuple<int, float, int> rows[] = {{626, 1.0f, 626}, {636, 1.0f, 636}, {637, 637 / 630.0f, 637},
                                                {0, 637 / 630.0f, 637}, {1260, 2.0f, 1260}};
    // clang-format on
    for (const auto& [width, scale, saved] : rows)
    {
        rig.editor->setSize(width, (width * 4 + 2) / 5);
        EXPECT_FLOAT_EQ(rig.editor->getRootView()->getTransform().mat00, scale) << width;
        EXPECT_EQ(rig.processor.editorWidth, saved) << width;
        EXPECT_FLOAT_EQ(lnf.editorScale, saved / 630.0f) << width;
        EXPECT_EQ(rig.editor->getRootView()->getBounds(), Box(0, 0, 630, 504));
    }
    EXPECT_FLOAT_EQ(lnf.getPopupMenuFont().getHeight(), 28.0f);
}

TEST(EditorSize, AnyWindowShapeShowsTheWholeEditorAndReachesItsKnobs)
{
    // Hosts size the window their own way: the VST3 wrapper sets the host's size as it comes, the
    // LV2 wrapper passes it through the editor's constrainer from the size the editor had.
    enum Way
    {
        asGiven,
        constrainedFrom630,
        constrainedFrom756
    };
    // window, the host's way, root scale; 5:4 windows are scaled by their width as they always were
    // clang-format off
    const std::tuple<Size, Way, float> rows[] = {
        {{630, 504}, asGiven, 1.0f},             {{756, 605}, asGiven, 1.2f},
        {{756, 605}, constrainedFrom630, 1.2f},  {{1260, 1008}, constrainedFrom630, 2.0f},
        {{1006, 605}, asGiven, 605 / 504.0f},    {{1006, 605}, constrainedFrom756, 605 / 504.0f},
        {{880, 504}, asGiven, 1.0f},             {{880, 504}, constrainedFrom630, 1.0f},
        {{630, 700}, asGiven, 1.0f},             {{700, 1000}, constrainedFrom756, 700 / 630.0f}};
    // clang-format on
    for (const auto& [window, way, scale] : rows)
    {
        const auto name = window.toString() + (way == asGiven ? " as given" : " constrained");
        // Only the LV2 wrapper constrains the host's sizes; the others keep the corner's 5:4.
        juce::AudioProcessor::setTypeOfNextNewPlugin(way == asGiven ? juce::AudioProcessor::wrapperType_VST3
                                                                    : juce::AudioProcessor::wrapperType_LV2);
        PluginProcessor processor;
        juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Undefined);
        PluginEditor editor(&processor);
        EXPECT_EQ(editor.getConstrainer()->getFixedAspectRatio(), way == asGiven ? 1.25 : 0.0) << name;
        std::vector<std::string> heard;
        HostParamLog host(processor.getHostParam(0), "gain", heard, false);
        ignoreXErrors();
        editor.addToDesktop(0);
        editor.setVisible(true);
        if (way == asGiven)
            editor.setSize(window.x, window.y);
        else
        {
            editor.setSize(way == constrainedFrom630 ? 630 : 756, way == constrainedFrom630 ? 504 : 605);
            editor.setBoundsConstrained(Box({}, window));
        }
        EXPECT_EQ(editor.getBounds(), Box({}, window)) << name;
        EXPECT_EQ(Size(processor.editorWidth, processor.editorHeight), window) << name;

        // The picture fills one side of the window and lies inside the other (up to the float
        // scale's rounding), with the popup menus at its scale.
        const auto& root = *editor.getRootView();
        EXPECT_FLOAT_EQ(root.getTransform().mat00, scale) << name;
        const auto picture = root.getLocalBounds().toFloat().transformedBy(root.getTransform());
        const auto near = [](float a, int b) { return std::abs(a - static_cast<float>(b)) < 0.01f; };
        EXPECT_TRUE(editor.getLocalBounds().toFloat().expanded(0.01f).contains(picture))
            << name << ": " << picture.toString();
        EXPECT_TRUE(near(picture.getRight(), window.x) || near(picture.getBottom(), window.y)) << name;
        EXPECT_FLOAT_EQ(editor.getEditorLookAndFeel()->editorScale, scale) << name;
        saveScreenshot(editor, "editor-" + juce::String(window.x) + "x" + juce::String(window.y) +
                                   (way == asGiven ? "" : "-constrained") + ".png");

        // A click at a performance knob's centre, through the window, reaches that knob (once the
        // start-up warning, no sounds being installed here, is closed).
        auto& overlay = *root.getOverlay();
        if (auto* alert = overlay.getAlert()) alert->buttonClicked(alert->okButton.get());
        Knob& knob = *overlay.getPerfKnob(0);
        const auto centre = editor.getLocalPoint(&knob, knob.getLocalBounds().getCentre().toFloat());
        EXPECT_TRUE(editor.getLocalBounds().toFloat().contains(centre)) << name << ": " << centre.toString();
        auto* peer = editor.getPeer();
        ASSERT_NE(peer, nullptr);
        const auto mouse = juce::MouseInputSource::InputSourceType::mouse;
        const auto now = juce::Time::currentTimeMillis();
        peer->handleMouseEvent(mouse, centre, juce::ModifierKeys(juce::ModifierKeys::leftButtonModifier),
                               0.0f, 0.0f, now);
        peer->handleMouseEvent(mouse, centre, juce::ModifierKeys(), 0.0f, 0.0f, now + 50);
        EXPECT_EQ(heard, (std::vector<std::string>{"gain begin", "gain end"})) << name;
    }
}

TEST(EditorDrain, HandsOverEventsInOrderOncePerDrain)
{
    juce::ChangeBroadcaster foreign;
    // clang-format off
    const std::tuple<const char*, std::function<void(Rig&)>, std::vector<int>, int> rows[] = {
        {"pushes before the editor are never shown", [](Rig& r) { r.push(7), r.open(), r.push(1), r.push(2), r.tick(); }, {1, 2}, 1},
        {"nothing new: no drain", [](Rig& r) { r.open(), r.tick(); }, {}, 0},
        {"a push sends no change message", [](Rig& r) { r.open(), r.push(1), r.processor.dispatchPendingMessages(); }, {}, 0},
        {"other broadcasters are ignored", [&](Rig& r) { r.open(), r.push(1), r.editor->changeListenerCallback(&foreign); }, {}, 0},
        {"the processor's change message drains",
         [](Rig& r) { r.open(), r.processor.sendNodeCanvasToDSP(), r.processor.dispatchPendingMessages(); }, {}, 1},
        {"an overrun keeps the newest 64 in order", [](Rig& r) { r.open(); for (int i : range(0, 64)) r.push(i); r.tick(); }, range(1, 64), 1},
        {"a push from another thread arrives by the timer",
         [](Rig& r) { r.open(), std::thread([&] { r.push(4), r.push(5); }).join(), r.tick(); }, {4, 5}, 1},
        {"pushes during a drain are handled in it, up to four ring lengths; the rest next time", [](Rig& r) {
             r.open();
             r.recorder.onEvent = [&r] { r.push(static_cast<int>(r.recorder.indices.size())); };
             r.push(0), r.tick();
             EXPECT_EQ(r.recorder.indices, range(0, 255));
             r.recorder.indices.clear(), r.recorder.onEvent = nullptr, r.tick();
         }, {256}, 2},
        {"a restored state wakes the drain", [](Rig& r) {
             juce::MemoryBlock state;
             r.processor.getStateInformation(state);
             r.open();
             r.processor.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
             r.tick();
         }, {-1}, 1}};
    // clang-format on
    for (const auto& [name, act, expected, updates] : rows)
    {
        Rig rig;
        act(rig);
        EXPECT_EQ(rig.recorder.indices, expected) << name;
        EXPECT_EQ(rig.recorder.updates, updates) << name;
    }
}

TEST(HostCalls, EditorGesturesReachTheHostWithoutTheStateLockHeld)
{
    // A host that logs what it hears and checks from another thread that the state lock is free.
    struct Host : juce::AudioProcessorListener
    {
        PluginProcessor& p;
        std::vector<juce::String> log;
        bool lockFree = true;
        explicit Host(PluginProcessor& processor) : p(processor) {}
        void audioProcessorParameterChanged(juce::AudioProcessor*, int i, float v) override
        {
            log.push_back(juce::String(i) + "=" + juce::String(v, 2));
            std::thread([this]
                        { lockFree = lockFree && p.stateLock.tryEnter() && (p.stateLock.exit(), true); })
                .join();
        }
        void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&) override {}
        void audioProcessorParameterChangeGestureBegin(juce::AudioProcessor*, int i) override
        {
            log.push_back("begin " + juce::String(i));
        }
        void audioProcessorParameterChangeGestureEnd(juce::AudioProcessor*, int i) override
        {
            log.push_back("end " + juce::String(i));
        }
    };
    PluginProcessor processor;
    Host host(processor);
    PluginParam& gain = *processor.getHostParam(0);
    gain.setValue(0.75f);
    juce::MemoryBlock state;
    processor.getStateInformation(state);
    processor.addListener(&host);
    gain.param->value = gain.param->convertUnitToVal(0.25f);
    for (const auto step : {PluginParam::EditorGesture::gestureStart, PluginParam::EditorGesture::gestureEnd})
        gain.reportEditorValue(step);
    EXPECT_EQ(gain.hostKnownValue.load(), 0.25f);
    processor.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    EXPECT_EQ(host.log, (std::vector<juce::String>{"begin 0", "0=0.25", "0=0.25", "end 0", "0=0.75"}));
    EXPECT_TRUE(host.lockFree);
    processor.removeListener(&host);
}

TEST(EditorLifecycle, ClosingLeavesTheOtherEditorsLookAlone)
{
    for (const bool closeNewest : {true, false})
    {
        PluginProcessor p1, p2;
        std::unique_ptr<PluginEditor> editors[] = {std::make_unique<PluginEditor>(&p1),
                                                   std::make_unique<PluginEditor>(&p2)};
        auto& staying = *editors[closeNewest ? 0 : 1];
        EXPECT_EQ(&juce::LookAndFeel::getDefaultLookAndFeel(), editors[1]->getEditorLookAndFeel());
        editors[closeNewest ? 1 : 0].reset();
        EXPECT_EQ(&staying.getRootView()->getLookAndFeel(), staying.getEditorLookAndFeel());
        // The default falls back to the framework's own only when the closing editor's was it.
        EXPECT_EQ(dynamic_cast<MyLookAndFeel*>(&juce::LookAndFeel::getDefaultLookAndFeel()),
                  closeNewest ? nullptr : staying.getEditorLookAndFeel());
    }
}

TEST(ComponentImage, SnapshotSizeBlurAndPinch)
{
    juce::Component source, empty;
    source.setSize(630, 504);
    // clang-format off
    const auto snap = [](juce::Component& c, float s) { return ComponentImage(64, 20, c, {s, s}, juce::Image::RGB); };
    // clang-format on
    EXPECT_EQ(snap(source, 0.25f).image.getBounds(), Box(0, 0, 157, 126));
    EXPECT_EQ(snap(source, 0.25f).image.getFormat(), juce::Image::ARGB);
    EXPECT_FALSE(snap(source, 0.0f).image.isValid());
    EXPECT_FALSE(snap(empty, 1.0f).image.isValid());

    // A picture with detail: a one-sample kernel, sigma 0 or below change no pixel; size below 1
    // leaves an empty kernel, which clears it.
    juce::Label label({}, "Quillmoor");
    label.setSize(64, 20);
    label.setColour(juce::Label::textColourId, juce::Colours::white);
    for (const auto& [sigma, size, same] :
         {std::tuple{1.0f, 1, true}, {0.0f, 5, true}, {-2.0f, 9, true}, {3.0f, 9, false}, {1.0f, -3, false}})
    {
        auto picture = snap(label, 1.0f);
        const auto before = pixels(picture.image);
        picture.blur(sigma, size);
        EXPECT_EQ(pixels(picture.image) == before, same) << sigma << " " << size;
        EXPECT_EQ(maxAlpha(picture.image) > 0, size > 0) << sigma << " " << size;
    }

    // Pinching fades; a full squeeze draws nothing.
    auto pinched = snap(label, 1.0f);
    pinched.setPinch(0.5f, 0.0f);
    EXPECT_NEAR(pinched.opacity, std::pow(0.5f, 0.6f), 1e-6f);
    EXPECT_GT(maxAlpha(render(pinched)), 0);
    for (const float amount : {1.0f, -1.5f, std::nanf("")})
    {
        pinched.setPinch(amount, 0.3f);
        EXPECT_EQ(maxAlpha(render(pinched)), 0) << amount;
    }
}

TEST(AlertComp, GeometryAndOkDetaches)
{
    juce::Component parent, empty;
    parent.setSize(630, 504);
    ColoredRect bar(630, 50, {juce::Colour(0x7f000000u), 0, 0, juce::Colour(0u), 504, 0, false});
    LogoButton logo("logoButton");
    logo.setTopLeftPosition(630 - logo.getWidth(), 0);
    parent.addAndMakeVisible(bar);
    parent.addAndMakeVisible(logo);
    AlertComp alert(&parent, "Warning: no sounds were found. Please reinstall Quillmoor.");
    parent.addAndMakeVisible(alert);
    EXPECT_EQ(alert.boxBounds, Box(165, 149, 300, 206));
    EXPECT_EQ(alert.textPanel->getBounds(), Box(173, 157, 284, 150));
    EXPECT_EQ(alert.okButton->getBounds(), Box(409, 315, 48, 32));
    EXPECT_EQ(alert.backdrop->image.getBounds(), Box(0, 0, 157, 126));
    saveScreenshot(parent, "alert-630x504.png");
    alert.buttonClicked(alert.okButton.get());
    EXPECT_EQ(alert.getParentComponent(), nullptr);
    EXPECT_EQ(parent.getNumChildComponents(), 2);

    // No parent, or one without area: no snapshot.
    for (juce::Component* p : {static_cast<juce::Component*>(nullptr), &empty})
        EXPECT_EQ(std::make_unique<AlertComp>(p, "x")->backdrop, nullptr);
}

TEST(BarButtons, ByteRulesAndProbedPixels)
{
    // clang-format off
    for (const auto& [value, alpha, grey] : {std::tuple{std::nanf(""), 0, 0}, {-1.0f, 0, 0}, {0.05f, 12, 13},
                                             {0.4f, 102, 102}, {0.5f, 127, 128}, {0.7f, 179, 178}, {2.0f, 255, 255}})
    // clang-format on
    {
        EXPECT_EQ(alphaByte(value), alpha) << value;
        EXPECT_EQ(greyLevel(value), grey) << value;
    }

    TopTab tab("toptab");
    tab.text = "EXPLORE";
    tab.font = getEditorFont(EditorFace::robotoMono, 22.0f);
    // The embedded face itself, made once and shared (no installed font stands in for it).
    EXPECT_EQ(tab.font.getTypefacePtr(), getEditorTypeface(EditorFace::robotoMono));
    EXPECT_EQ(tab.font.getTypefaceName(), "Roboto Mono");
    tab.textArea = {5, 15, 100, 30};
    tab.setSize(105, 50);
    EXPECT_EQ(maxAlpha(render(tab)), 102);
    tab.highlight = 1.0f;
    EXPECT_EQ(maxAlpha(render(tab)), 255);

    MenuCloseButton close("MenuCloseButton");
    close.setSize(16, 16);
    close.path.addLineSegment({4, 4, 12, 12}, 1.0f);
    EXPECT_EQ(maxAlpha(render(close)), 153);

    // Menu buttons without caption: the panel's rim, and dots whose brightness over the face gives
    // back their alpha. Only as many dots as both the count and the levels allow are drawn.
    const std::tuple<bool, int, std::vector<float>, juce::uint32, int, int> rows[] = {
        {false, 8, {1, 1, 0, 0, 0, 0, 0, 0}, 0xcc523d43u, 8, 8},
        {true, 7, std::vector<float>(7), 0xcc807377u, 7, 11},
        {false, 8, {1, 0, 1}, 0xcc523d43u, 3, 23},
        {false, 0, {1}, 0xcc523d43u, 0, 0}};
    for (const auto& [active, numDots, dots, rim, drawn, firstX] : rows)
    {
        MenuButton b("MenuButton");
        b.setSize(62, 23);
        b.faceGradient = {juce::Colour(0xff1f1f1fu), 0, 0, juce::Colour(0xff050505u), 0, 23, false};
        b.active = active;
        const juce::Image plain = render(b);
        b.numDots = numDots;
        b.dots = dots;
        const juce::Image dotted = render(b);
        const juce::uint32 panel = plain.getPixelAt(1, 12).getARGB(); // exact alpha, colour within 1
        EXPECT_EQ(panel >> 24, rim >> 24);
        for (const int shift : {0, 8, 16})
            EXPECT_NEAR((panel >> shift) & 0xff, (rim >> shift) & 0xff, 1) << shift;
        for (int k = 0; k <= drawn; ++k) // a fully covered pixel of each dot, and past the last
        {
            const int base = plain.getPixelAt(firstX + 6 * k + 1, 16).getRed();
            const int lit = dotted.getPixelAt(firstX + 6 * k + 1, 16).getRed();
            const double alpha = (lit - base) * 255.0 / (255 - base);
            EXPECT_NEAR(alpha, k == drawn ? 0 : (dots[static_cast<size_t>(k)] > 0 ? 127 : 51), 2) << k;
        }
    }

    // The embedded logo measures its 612 x 200 view box; one that cannot be read leaves 200 x 50.
    EXPECT_EQ(LogoButton("logoButton").getBounds(), Box(0, 0, 147, 50));
    EXPECT_EQ(LogoButton("logoButton", "<svg", 4).getBounds(), Box(0, 0, 200, 50));
    EXPECT_EQ(LogoButton("logoButton", nullptr, 0).getBounds(), Box(0, 0, 200, 50));
}

// A file manager's drop, through the X server as desktops drag files (XDND, a "text/uri-list"): a bank
// whose name is not UTF-8 ("end%F0.qmbank") installs under its own bytes, and the message shows its
// name. The test's own connection plays the file manager.
TEST(EditorDrop, AFileManagersDropOfANameThatIsNotUtf8Installs)
{
    ignoreXErrors();
    const std::string home =
        juce::File::getSpecialLocation(juce::File::userHomeDirectory).getFullPathName().toStdString();
    const std::string name = "end\xF0.qmbank";
    ASSERT_TRUE(qmbank::writeBankZip(home + "/" + name, qmtest::bankOf({"Keys_Dropped"})));
    const std::string uris = "file://" + home + "/end%F0.qmbank\r\n";

    Rig rig;
    rig.open();
    PluginEditor& editor = *rig.editor;
    editor.addToDesktop(0);
    editor.setVisible(true);
    pump();
    const auto target =
        static_cast<::Window>(reinterpret_cast<uintptr_t>(editor.getPeer()->getNativeHandle()));
    const auto centre = editor.getScreenBounds().getCentre();

    Display* x = XOpenDisplay(nullptr);
    ASSERT_NE(x, nullptr);
    const auto atom = [x](const char* n) { return XInternAtom(x, n, False); };
    const ::Window source = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(x, atom("XdndSelection"), source, CurrentTime);
    const auto send = [&](const char* type, long l1, long l2, long l4)
    {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = target;
        e.xclient.message_type = atom(type);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(source);
        e.xclient.data.l[1] = l1, e.xclient.data.l[2] = l2, e.xclient.data.l[4] = l4;
        XSendEvent(x, target, False, NoEventMask, &e);
        XFlush(x);
    };
    send("XdndEnter", 3L << 24, static_cast<long>(atom("text/uri-list")), 0);
    send("XdndPosition", 0, (long(centre.x) << 16) | centre.y, static_cast<long>(atom("XdndActionCopy")));
    bool dropped = false, finished = false;
    // Both sides run on this thread, in turns; a bound, not a measure.
    for (int turn = 0; turn < 2000 && !finished; ++turn)
    {
        pump();
        while (XPending(x) > 0)
        {
            XEvent e;
            XNextEvent(x, &e);
            if (e.type == ClientMessage && e.xclient.message_type == atom("XdndStatus") && !dropped)
                send("XdndDrop", 0, CurrentTime, 0), dropped = true;
            else if (e.type == ClientMessage && e.xclient.message_type == atom("XdndFinished"))
                finished = true;
            else if (e.type == SelectionRequest)
            {
                const XSelectionRequestEvent& r = e.xselectionrequest;
                XChangeProperty(x, r.requestor, r.property, r.target, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(uris.data()), int(uris.size()));
                XEvent reply{};
                reply.xselection.type = SelectionNotify;
                reply.xselection.requestor = r.requestor, reply.xselection.selection = r.selection;
                reply.xselection.target = r.target, reply.xselection.property = r.property;
                reply.xselection.time = r.time;
                XSendEvent(x, r.requestor, False, NoEventMask, &reply);
                XFlush(x);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pump();
    XDestroyWindow(x, source);
    XCloseDisplay(x);
    EXPECT_TRUE(finished);

    const AlertComp* alert = editor.getRootView()->getOverlay()->getAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(
        alert->message,
        juce::String::fromUTF8("Installed sound bank end\xc3\xb0.qmbank. Restart Quillmoor to activate.\n"));
    const std::string installed = getSoundsFolder().getFullPathName().toStdString() + "/" + name;
    struct stat info = {};
    EXPECT_EQ(::stat(installed.c_str(), &info), 0);
    std::remove(installed.c_str());
    std::remove((home + "/" + name).c_str());
}

int main(int argc, char** argv)
{
    return runWithTemporaryHome(argc, argv);
}
