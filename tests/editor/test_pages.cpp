// The settings, modulation, effects and About pages under a virtual X server: their layouts from
// the engine's table, the modulator pictures, the effect switches and stereo area, the debug report
// and what the About page does with the files a chooser returns.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <vector>

#include "EditorTestHome.h"
#include "XErrors.h"
#include "editor/AboutComp.h"
#include "editor/AlertComp.h"
#include "editor/ChooserFolder.h"
#include "editor/DebugReport.h"
#include "editor/FxComp.h"
#include "editor/Modul8Menu.h"
#include "editor/OpenGLComp.h"
#include "editor/Overlay2D.h"
#include "editor/SettingsComp.h"
#include "editor/TextNameFilter.h"
#include "editor/TopBarButtons.h"
#include "processor/LibraryFolders.h"
#include "processor/PresetFiles.h"
#include "support/FakeOpener.h"

namespace
{
using Type = Knob::Listener::ChangeType;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

juce::MouseEvent mouseAt(juce::Component& c, juce::Point<int> p)
{
    const auto at = p.toFloat();
    const auto now = juce::Time::getCurrentTime();
    auto source = juce::Desktop::getInstance().getMainMouseSource();
    return juce::MouseEvent(source, at, juce::ModifierKeys::leftButtonModifier, 0, 0, 0, 0, 0, &c, &c, now,
                            at, now, 1, false);
}

struct Reports : Knob::Listener
{
    std::vector<std::pair<int, float>> log; // index, value
    void knobChanged(int i, float v, ChangeType) override { log.emplace_back(i, v); }
};

struct Rig
{
    PluginProcessor processor;
    std::unique_ptr<PluginEditor> editor = std::make_unique<PluginEditor>(&processor);
    Overlay2D& overlay = *editor->getRootView()->getOverlay();
    Param& param(int i) { return processor.dsp->params[static_cast<size_t>(i)]; }
    template <class Page> Page& open(int menu)
    {
        dismiss(); // the test library has no sounds, and says so
        overlay.setActiveMenu(menu);
        return *dynamic_cast<Page*>(overlay.getMenuPage());
    }
    // The message box on show, if any; dismiss() presses its OK.
    juce::String alertText()
    {
        const AlertComp* a = overlay.getAlert();
        return a != nullptr && a->getParentComponent() != nullptr ? a->message : "";
    }
    void dismiss()
    {
        if (AlertComp* a = overlay.getAlert()) a->buttonClicked(a->okButton.get());
    }
};

} // namespace

TEST(SettingsPage, GroupsFromTheTableAndRepaintsOnlyTheChangedKnob)
{
    Rig rig;
    auto& page = rig.open<SettingsComp>(0);
    // clang-format off
    struct Group { const char* name; juce::Rectangle<int> label; int y; std::vector<int> params, xs; };
    const std::vector<Group> groups = {{"envelope", {48, 138, 68, 18}, 72, {8, 9, 10}, {76, 142, 208}},
                                       {"vibrato", {48, 220, 68, 18}, 154, {11, 12, 13, 14}, {76, 142, 208, 274}},
                                       {"pitch", {48, 302, 68, 18}, 236, {15, 16, 17}, {76, 142, 208}},
                                       {"key ctrl", {364, 220, 68, 18}, 154, {18, 19, 20}, {392, 458, 524}},
                                       {"filter", {364, 302, 68, 18}, 236, {21, 25, 26}, {392, 458, 524}}};
    // clang-format on
    ASSERT_EQ(page.getNumGroups(), 5);
    int k = 0;
    for (int g = 0; g < 5; ++g)
    {
        const auto& want = groups[static_cast<size_t>(g)];
        const juce::Label& label = *page.getGroupLabel(g);
        EXPECT_EQ(std::pair(label.getText(), label.getBounds()),
                  std::pair(juce::String(want.name).toUpperCase(), want.label));
        EXPECT_EQ(label.findColour(juce::Label::backgroundColourId), juce::Colour(kGroupColors[size_t(g)]));
        for (size_t j = 0; j < want.params.size(); ++j, ++k)
        {
            const Knob& knob = *page.getKnobs()[k];
            EXPECT_EQ(knob.getParam().index, want.params[j]) << want.name;
            EXPECT_EQ(knob.getBounds(), juce::Rectangle<int>(want.xs[j], want.y, 64, 68)) << want.name << j;
        }
    }
    EXPECT_EQ(page.getKnobs().size(), k);
    saveScreenshot(*rig.editor, "page-settings.png");

    std::vector<RepaintProbe*> probes;
    for (auto* knob : page.getKnobs())
        probes.push_back(new RepaintProbe(*knob));
    // Through the overlay's event dispatch: Gain and an effect value have no knob here.
    for (const int index : {kParamGain, 40, kParamPolyphony})
        rig.overlay.handleMessage(std::array{SynthEvent{kSynthEventParamChanged, index, 123.0f}}.data());
    for (int i = 0; i < page.getKnobs().size(); ++i)
        EXPECT_EQ(probes[size_t(i)]->count, page.getKnobs()[i]->getParam().index == kParamPolyphony ? 1 : 0)
            << i;
}

TEST(SettingsPage, ASixthGroupStartsTheColoursOver)
{
    std::vector<Param> table;
    for (const char* group : {"a", "b", "c", "d", "e", "f"})
        table.emplace_back("P", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.2f", 0.5f, group).index =
            int32_t(table.size());
    SettingsComp page(table.data(), 0, 5, nullptr);
    ASSERT_EQ(page.getNumGroups(), 6);
    EXPECT_EQ(page.getGroupLabel(5)->findColour(juce::Label::backgroundColourId),
              juce::Colour(kGroupColors[0]));
    EXPECT_EQ(page.getKnobs()[3]->getPosition(), juce::Point<int>(142 + 24 + 28, 154)); // a second column
}

TEST(ModulationPage, LayoutSyncSwapAndWhereChangesGo)
{
    Rig rig;
    const int sync2 = kFirstLfoParam + kParamsPerLfo + kLfoParamSync;
    rig.param(sync2).value = 1.0f; // on before the page opens
    rig.open<Modul8Menu>(1);
    saveScreenshot(*rig.editor, "page-modulation.png");
    Reports reports;
    Modul8Menu page(&rig.processor, &reports);
    for (int b = 0; b < 4; ++b)
        EXPECT_EQ(page.getBoxes()[b]->getBounds(), juce::Rectangle<int>(20, 20 + 86 * b, 294, 80));
    const std::array<int, 8> rowTops = {115, 163, 187, 211, 235, 259, 283, 307};
    for (int s = 0; s < 8; ++s)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(page.getSlotKnobs()[4 * s + c]->getBounds(),
                      juce::Rectangle<int>(340 + 68 * c, rowTops[size_t(s)], 64, s == 0 ? 44 : 20));

    // Sync on / off / not a number, applied through the box's own listener.
    const auto speeds = [](ModBox& box)
    {
        return std::pair{box.getKnobs()[kLfoParamSpeed]->isVisible(),
                         box.getKnobs()[kLfoParamSyncSpeed]->isVisible()};
    };
    EXPECT_EQ(speeds(*page.getBoxes()[0]), std::pair(true, false));
    EXPECT_EQ(speeds(*page.getBoxes()[1]), std::pair(false, true));
    for (const auto& [value, free] : {std::pair{1.0f, false}, {0.0f, true}, {kNaN, true}, {0.5f, false}})
    {
        rig.param(sync2).value = value;
        page.getBoxes()[1]->knobChanged(sync2, value, Type::singleChange);
        EXPECT_EQ(speeds(*page.getBoxes()[1]), std::pair(free, !free)) << value;
    }

    // A box knob stays in the box; a grid knob reaches the page's listener.
    page.getBoxes()[2]->getKnobs()[kEnvParamDecay]->moveKnob(-20.0f, Type::dragChange);
    EXPECT_TRUE(reports.log.empty());
    page.getSlotKnobs()[1]->moveKnob(-20.0f, Type::dragChange);
    EXPECT_TRUE(reports.log.size() == 1 && reports.log[0].first == kFirstModSlotParam + kModParamAmount);
}

TEST(ModulationPage, WaveSamplesStayFiniteAndInRange)
{
    // LFO: Shape, Phase; envelope: Initial, Attack, Decay, Sustain, Release.
    // clang-format off
    struct Case { ModType type; std::array<float, 5> v; bool flat; };
    const std::vector<Case> cases = {
        {modTypeEnvelope, {0.3f, 0.0f, 0.5f, 0.4f, 0.5f}, false}, {modTypeEnvelope, {0.3f, 1e9f, 1e9f, 2.0f, 1e-9f}, false},
        {modTypeEnvelope, {0.3f, 0.0f, 0.0f, 0.4f, 0.0f}, true},  {modTypeEnvelope, {0.3f, -1.0f, 0.5f, 0.4f, 0.5f}, true},
        {modTypeEnvelope, {0.3f, kNaN, 0.5f, 0.4f, 0.5f}, true},  {modTypeEnvelope, {0.3f, 10.f, kInf, 0.4f, 0.5f}, true},
        {modTypeEnvelope, {0.3f, 10.f, 0.5f, 0.4f, 0.0f}, true},  {modTypeEnvelope, {kNaN, 10.f, 0.5f, kNaN, 0.5f}, true},
        {modTypeLfo, {kNaN, 0.2f}, true}, {modTypeLfo, {1.0f, kInf}, true}, {modTypeLfo, {1e30f, 0.0f}, true},
        {modTypeLfo, {-1e30f, 0.0f}, true}, {modTypeLfo, {7.0f, -3.7f}, false}, {modTypeLfo, {3.0f, 1e20f}, true},
        {modTypeLfo, {3.0f, -5.25f}, false}};
    // clang-format on
    for (size_t c = 0; c < cases.size(); ++c)
    {
        std::array<Param, 6> params{};
        for (size_t i = 0; i < 5; ++i)
            params[i].value = cases[c].v[i];
        const auto y = computeWaveSamples(params.data(), cases[c].type);
        EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](float v) { return v >= 0.0f && v <= 1.0f; })) << c;
        EXPECT_EQ(std::all_of(y.begin(), y.end(), [&y](float v) { return v == y[0]; }), cases[c].flat) << c;
        // With no attack the picture starts at the top of the decay: Initial does not show.
        EXPECT_TRUE(c != 0 || y[0] == 1.0f);
        // Noise shows fresh random values at every paint.
        EXPECT_TRUE(cases[c].v[0] != 7.0f || y != computeWaveSamples(params.data(), modTypeLfo)) << c;
    }
}

TEST(EffectsPage, EditorsSwitchesAndTheStereoArea)
{
    Rig rig;
    auto& page = rig.open<FxComp>(2);
    saveScreenshot(*rig.editor, "page-effects.png");
    // Knob places, filled column by column; the binaural knobs sit right of the stereo area.
    const std::vector<juce::Point<int>> grid = {{206, 124}, {206, 206}, {272, 124}, {272, 206}, {338, 124},
                                                {338, 206}, {404, 124}, {404, 206}, {470, 124}};
    const std::vector<juce::Point<int>> binaural = {{368, 124}, {368, 206}};
    const std::array<std::pair<int, int>, 7> slots = {
        {{36, 2}, {38, 4}, {42, 6}, {48, 9}, {57, 8}, {65, 6}, {71, 6}}};
    for (int s : {0, 3, 1, 2, 4, 5, 6, 0})
    {
        page.buttonClicked(page.getNameButton(s));
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(page.getNameButton(i)->selected, i == s);
        EXPECT_EQ(page.getEditorTitle()->getText(), PluginProcessor::getFxName(s).toUpperCase());
        EXPECT_EQ(page.getStereoBox() != nullptr, s == 0);
        const auto [first, count] = slots[size_t(s)];
        ASSERT_EQ(page.getEditorKnobs().size(), count) << s;
        for (int k = 0; k < count; ++k)
        {
            EXPECT_EQ(page.getEditorKnobs()[k]->getParam().index, first + k) << s;
            const auto at = (s == 0 ? binaural : grid)[size_t(k)];
            EXPECT_EQ(page.getEditorKnobs()[k]->getBounds(), juce::Rectangle<int>(at.x, at.y, 64, 68))
                << s << k;
        }
        if (s == 3) saveScreenshot(*rig.editor, "page-effects-reverb.png");
    }
    ASSERT_NE(page.getStereoBox(), nullptr);
    EXPECT_EQ(page.getStereoBox()->getPosition(), juce::Point<int>(206, 124));

    // A switch at exactly 0.5 counts as off: the click turns it on, tells the overlay, lights the dot.
    Param& lofi = rig.param(kFirstFxSwitch + 1);
    lofi.value = 0.5f;
    rig.overlay.updateMenuButton(2);
    for (const float want : {1.0f, 0.0f})
    {
        page.buttonClicked(page.getOnButton(1));
        EXPECT_EQ(lofi.value, want);
        EXPECT_EQ(rig.overlay.getMenuButton(2)->dots.at(1), want);
    }

    // Drags far past every edge stop at x 2..98 and y 2..130, which are exactly 0 and 1.
    StereoBox& box = *page.getStereoBox();
    const Param &x = rig.param(kParamStereoX), &y = rig.param(kParamStereoY);
    auto& handle = box.getHandle();
    const auto drag = [&](juce::Point<int> from, juce::Point<int> by)
    {
        box.mouseDown(mouseAt(box, from));
        box.mouseDrag(mouseAt(box, from + by));
        box.mouseUp(mouseAt(box, from + by));
        return std::tuple(handle.getPosition(), x.value, y.value);
    };
    using Result = std::tuple<juce::Point<int>, float, float>;
    EXPECT_EQ(drag(handle.getBounds().getCentre(), {-1000, -1000}), Result({2, 2}, 0.0f, 0.0f));
    EXPECT_EQ(drag(handle.getBounds().getCentre(), {1000, 1000}), Result({98, 130}, 1.0f, 1.0f));
    EXPECT_EQ(drag({10, 10}, {-50, -50}), Result({98, 130}, 1.0f, 1.0f)); // pressed beside the handle
    // Values from a damaged state place the handle inside the area.
    rig.param(kParamStereoX).value = kNaN, rig.param(kParamStereoY).value = 7.0f;
    box.placeHandle();
    EXPECT_EQ(handle.getPosition(), juce::Point<int>(2, 130));
}

TEST(AboutPage, DebugReportFromInjectedFacts)
{
    // clang-format off
    const DebugFacts f{"1.2.0", "10:05:47, Jun 15 2017", "Ann Lee", "GenuineIntel @ 2.4GHz x 8", 8, "x64", false,
                       "host", "Linux", 0, 1, 512, 44100.0, 2, "5 Dec 2026 18:52"};
    const juce::StringArray want = {"<<< DEBUG STATS >>>", "product: Quillmoor", "version: 1.2.0",
        "build time: 10:05:47, Jun 15 2017", "user: Ann Lee", "cpu: GenuineIntel @ 2.4GHz x 8", "plugin format: LV2",
        "architecture: x64", "debug build: no", "host: host", "platform: Linux", "instance: 1/1", "buffer size: 512",
        "samplerate: 44100", "channels: 2", "current time: 5 Dec 2026 18:52"};
    // clang-format on
    EXPECT_EQ(makeDebugReport(f), want.joinIntoString("\n"));
    using A = juce::AudioProcessor;
    // clang-format off
    for (const auto& [type, name] : {std::pair{int(A::wrapperType_Undefined), "?"}, {A::wrapperType_VST, "VST"},
             {A::wrapperType_VST3, "VST3"}, {A::wrapperType_AudioUnit, "AU"}, {A::wrapperType_AudioUnitv3, "AUv3"},
             {A::wrapperType_AAX, "AAX"}, {A::wrapperType_Standalone, "standalone"}, {A::wrapperType_Unity, "???"},
             {A::wrapperType_LV2, "LV2"}, {9, "???"}, {-1, "???"}})
        // clang-format on
        EXPECT_EQ(pluginFormatName(type), name) << type;
}

TEST(AboutPage, ChosenFilesSavingAndClicks)
{
    Rig rig;
    const juce::File dir =
        juce::File::getSpecialLocation(juce::File::userHomeDirectory); // private to the run
    Param& gain = rig.param(kParamGain);
    gain.value = 0.25f;
    juce::MemoryBlock state;
    rig.processor.getStateInformation(state);
    juce::MemoryBlock big(state);
    big.setSize(size_t(kMaxPresetFileBytes) + 1, true);

    juce::MemoryBlock junk("not a zip", 9);
    // clang-format off
    struct Case { const char* name; const juce::MemoryBlock* data; bool loads; const char* alert; };
    const std::vector<Case> cases = {{"a.qmpreset", &state, true, ""}, {"A.QMPRESET", &state, false, ""},
                                     {"a.txt", &state, false, ""}, {"big.qmpreset", &big, false, ""},
                                     {"b.qmbank", &junk, false, "Error: b.qmbank is not a valid soundbank*"}};
    // clang-format on
    for (const auto& c : cases)
    {
        const juce::File sub = dir.getChildFile(c.name).withFileExtension("d"),
                         file = sub.getChildFile(c.name);
        ASSERT_TRUE(sub.createDirectory() && file.replaceWithData(c.data->getData(), c.data->getSize()));
        gain.value = 0.75f;
        rig.processor.setPresetName("old");
        rig.dismiss();
        const auto cwd = juce::File::getCurrentWorkingDirectory();
        AboutComp::handleLoadResult(rig.overlay, rig.processor, file);
        EXPECT_EQ(gain.value, c.loads ? 0.25f : 0.75f) << c.name;
        EXPECT_EQ(rig.processor.getPresetName(), c.loads ? "" : "old") << c.name;
        EXPECT_TRUE(rig.alertText().matchesWildcard(c.alert, false)) << c.name << rig.alertText();
        EXPECT_EQ(getChooserFolder(), sub) << c.name;
        EXPECT_EQ(juce::File::getCurrentWorkingDirectory(), cwd);
    }

    // A write that fails half-way (a file size limit) leaves the old preset whole and says so.
    const juce::File old = dir.getChildFile("old.qmpreset");
    ASSERT_TRUE(old.replaceWithText("old"));
    rlimit saved{}, small{};
    getrlimit(RLIMIT_FSIZE, &saved), std::signal(SIGXFSZ, SIG_IGN);
    small = {16, saved.rlim_max}, setrlimit(RLIMIT_FSIZE, &small);
    AboutComp::handleSaveResult(rig.overlay, rig.processor, old);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(old.loadFileAsString(), "old");
    EXPECT_EQ(rig.alertText(), "Couldn't save to file! Sorry.");
    rig.dismiss();
    AboutComp::handleSaveResult(rig.overlay, rig.processor, old);
    EXPECT_EQ(old.getSize(), static_cast<juce::int64>(state.getSize()));
    EXPECT_EQ(rig.alertText(), "");

    // A click on the version label reaches the page and closes it; one on the text does not.
    rig.overlay.buttonClicked(rig.overlay.getLogoButton());
    ASSERT_NE(rig.overlay.getAboutComp(), nullptr);
    saveScreenshot(*rig.editor, "page-about.png");
    for (const bool onVersion : {false, true})
    {
        AboutComp& about = *rig.overlay.getAboutComp();
        juce::Component& part =
            onVersion ? static_cast<juce::Component&>(about.getVersionLabel()) : about.getTextBox();
        const auto at = rig.overlay.getLocalPoint(&part, part.getLocalBounds().getCentre());
        juce::Component* target = rig.overlay.getComponentAt(at);
        target->mouseDown(mouseAt(*target, target->getLocalPoint(&rig.overlay, at)));
        EXPECT_EQ(rig.overlay.getAboutComp() == nullptr, onVersion);
    }
}

// "Visit web page" and "Show files" hand the address and the library folder to the desktop's opener,
// and leave no child process behind once it finished.
TEST(AboutPage, WebPageAndFilesOpenedLeavingNoChild)
{
    const juce::File home = juce::File::getSpecialLocation(juce::File::userHomeDirectory);
    const qmtest::FakeOpener opener(home.getChildFile("opener").getFullPathName().toStdString());
    Rig rig;
    rig.overlay.buttonClicked(rig.overlay.getLogoButton());
    ASSERT_NE(rig.overlay.getAboutComp(), nullptr);
    AboutComp& about = *rig.overlay.getAboutComp();
    for (const int button : {AboutComp::webButton, AboutComp::filesButton, AboutComp::webButton})
        about.buttonClicked(about.getButton(button));

    const std::set<pid_t> zombies = opener.waitForCalls(3);
    EXPECT_TRUE(zombies.empty()) << zombies.size() << " finished children were never reaped";
    const std::string web = std::string("fd:closed ") + AboutComp::kWebPage,
                      files =
                          "fd:closed " + getLibraryFolder().getFullPathName().toStdString();
    std::vector<std::string> calls = opener.calls();
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls, (std::vector<std::string>{files, web, web}));
}

// The choosers offer no name that is not text: the filter's verdicts on files and folders, and the
// framework's browser as "Load File" opens it on a folder of such names, every row listed and
// selected, and the chosen file handed on.
TEST(AboutPage, ChoosersOfferOnlyNamesThatAreText)
{
    const std::string dir =
        juce::File::getSpecialLocation(juce::File::userHomeDirectory).getFullPathName().toStdString() +
        "/names";
    struct Row
    {
        std::string name;
        bool folder;
        bool text;    // listed by the browser ("*")
        bool offered; // by the filter of "*.qmbank"
    };
    const Row rows[] = {
        {"ok.qmbank", false, true, true},
        {"caf\xc3\xa9.qmbank", false, true, true},
        {"\xf0\x9f\x8e\xb9.qmbank", false, true, true},
        {"notes.txt", false, true, false},
        {"end\xf0", false, false, false},                 // cut sequence
        {"Pad\xe0.qmbank", false, false, false},          // Latin-1
        {"\xc0\xae\xc0\xae.qmbank", false, false, false}, // overlong ".."
        {"\xed\xa0\x80.qmbank", false, false, false},     // surrogate
        {"\xf4\x90\x80\x80.qmbank", false, false, false}, // above U+10FFFF
        {"sub", true, true, true},
        {"bad\xe0", true, false, false},
    };
    ::mkdir(dir.c_str(), 0700);
    const TextNameFilter filter(kSoundBankWildcard);
    for (const Row& row : rows)
    {
        const std::string path = dir + "/" + row.name;
        if (row.folder)
            ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << row.name;
        else
            ASSERT_TRUE(std::ofstream(path) << "x") << row.name;
        // As the browser builds it: the String holds the file system's bytes.
        const juce::File f(juce::String::fromUTF8(path.data(), int(path.size())));
        EXPECT_EQ(row.folder ? filter.isDirectorySuitable(f) : filter.isFileSuitable(f), row.offered)
            << row.name;
    }

    // The framework's browser whatever desktop choosers the machine has: the framework looks for them
    // once, through PATH.
    const std::string searchPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    ::setenv("PATH", "/nonexistent", 1);
    const bool desktopChooser = juce::FileChooser::isPlatformDialogAvailable();
    ::setenv("PATH", searchPath.c_str(), 1);
    ASSERT_FALSE(desktopChooser) << "needs the framework's browser";
    ignoreXErrors(); // the browser's dialog is a window of its own
    rememberChooserFolder(juce::File(juce::String(dir) + "/chosen"));
    Rig rig;
    rig.overlay.buttonClicked(rig.overlay.getLogoButton());
    ASSERT_NE(rig.overlay.getAboutComp(), nullptr);
    rig.overlay.getAboutComp()->buttonClicked(rig.overlay.getAboutComp()->getButton(AboutComp::loadButton));
    ASSERT_NE(rig.overlay.getChooser(), nullptr);
    juce::FileBrowserComponent* browser = rig.overlay.getChooser()->getBrowser();
    ASSERT_NE(browser, nullptr);
    auto* list = dynamic_cast<juce::FileListComponent*>(browser->getDisplayComponent());
    ASSERT_NE(list, nullptr);
    // The folder is read on a thread of the browser's; a bound, not a measure.
    for (int i = 0; i < 1000 && list->directoryContentsList.isStillLoading(); ++i)
        pump(), juce::Thread::sleep(10);
    pump();
    ASSERT_FALSE(list->directoryContentsList.isStillLoading());
    std::vector<std::string> listed, expected;
    for (int i = 0; i < list->directoryContentsList.getNumFiles(); ++i)
        listed.push_back(list->directoryContentsList.getFile(i).getFileName().toRawUTF8());
    for (const Row& row : rows)
        if (row.text) expected.push_back(row.name);
    std::sort(listed.begin(), listed.end()), std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
    int chosenRow = -1;
    for (int i = 0; i < list->directoryContentsList.getNumFiles(); ++i)
    {
        // A folder is listed but not chosen here (the chooser takes files).
        list->selectRow(i);
        const juce::File row = list->directoryContentsList.getFile(i);
        const std::string name = browser->getSelectedFile(0).getFileName().toRawUTF8();
        if (!row.isDirectory()) EXPECT_EQ(name, std::string(row.getFileName().toRawUTF8()));
        if (name == "caf\xc3\xa9.qmbank") chosenRow = i;
    }
    ASSERT_GE(chosenRow, 0);
    list->selectRow(chosenRow);
    saveScreenshot(*rig.overlay.getChooser()->getDialog(), "chooser-text-names.png");
    rig.overlay.getChooser()->getDialog()->exitModalState(1);
    pump();
    EXPECT_EQ(rig.alertText(), juce::String::fromUTF8(
                                   "Error: caf\xc3\xa9.qmbank is not a valid soundbank, did not install.\n"));

    for (const Row& row : rows)
        row.folder ? ::rmdir((dir + "/" + row.name).c_str()) : ::unlink((dir + "/" + row.name).c_str());
    ::rmdir(dir.c_str());
}

int main(int argc, char** argv)
{
    return runWithTemporaryHome(argc, argv);
}
