// The hosted VST3 and LV2 tell their host when an edit in their editor changed the state the host
// saves, and only then: real pointer events (XTest) drag a canvas node and pick a preset in the
// browser; the host's own restore, parameter change and the editor's opening report nothing. The
// LV2 also reports the parameter values it started with when they are not the defaults.
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include "HostedPlugin.h"
#include "RenderPeaks.h"
#include "engine/KeySpaceDSP.h"
#include "engine/StateBlock.h"
#include "engine/params/ParamTable.h"

// Last: Xlib's macros would clash with the framework's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace juce
{
// The framework's own host-driven loops dispatch through this (see its LinuxMessageThread.h):
// modal loops are off, so there is no public way to run the message loop for a while.
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
} // namespace juce

namespace
{
// Counts the hosted instance's reports that its state changed beyond its parameters.
struct StateChangeCounter : juce::AudioProcessorListener
{
    std::atomic<int> count{0};
    void audioProcessorParameterChanged(juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails& details) override
    {
        if (details.nonParameterStateChanged) ++count;
    }
};

// Runs the host a while as a host would: its message loop (which also drives the plug-in's editor
// and event loop) and one block per round (LV2 reports through the block's output).
void runHost(juce::AudioPluginInstance& plugin, int rounds)
{
    for (int r = 0; r < rounds; ++r)
    {
        while (juce::dispatchNextMessageOnSystemQueue(true))
        {
        }
        qmproc::renderPeaks(plugin, 1, qmhost::kBlock);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Runs the host until `done` holds (a loaded machine may take long), then 20 rounds more, so that
// a second report would arrive too.
template <class Done> void runHostUntil(juce::AudioPluginInstance& plugin, Done done)
{
    for (int r = 0; r < 2000 && !done(); ++r)
        runHost(plugin, 1);
    runHost(plugin, 20);
}

// Three sounds of the demo bank at fixed places, Morph X at kMorphX: a preset file, which the
// plug-in loads at start-up when it is the only one.
constexpr std::array<Point2D, 3> kNodes{{{0.6f, 0.45f}, {0.72f, 0.6f}, {0.8f, 0.35f}}};
constexpr float kMorphX = 0.7f;

juce::MemoryBlock makePreset(int mode)
{
    juce::ZipFile bank{juce::File(QM_DEMO_BANK_PATH)};
    if (bank.getNumEntries() < int(kNodes.size())) return {};
    std::vector<InstrumentMap> maps(kNodes.size());
    NodeCanvasData canvas{};
    canvas.mode = mode;
    for (size_t i = 0; i < kNodes.size(); ++i)
    {
        // An entry "Category_Name" holds the sound the state block calls "Name".
        const juce::String name = bank.getEntry(int(i))
                                      ->filename.fromFirstOccurrenceOf("_", false, false)
                                      .upToFirstOccurrenceOf("_", false, false);
        name.copyToUTF8(maps[i].name, sizeof(maps[i].name));
        canvas.nodes[i] = {kNodes[i], int(i)};
        canvas.nodeCount = int(i) + 1;
    }
    canvas.currentMix.point = {0.5f, 0.5f};
    KeySpaceDSP dsp(SynthFIFO<NodeCanvasData>::Reader{}, SynthFIFO<NodeMix>::Reader{}, nullptr, 0);
    dsp.params[kParamMorphX].value = kMorphX;
    const int numParams = int(dsp.params.size());
    juce::MemoryBlock block(size_t(
        writeStateBlock(nullptr, 0, dsp.params.data(), numParams, canvas, maps.data(), int(maps.size()))));
    writeStateBlock(static_cast<unsigned char*>(block.getData()), int(block.getSize()), dsp.params.data(),
                    numParams, canvas, maps.data(), int(maps.size()));
    return block;
}

juce::File presetsFolder()
{
    return juce::File(juce::SystemStats::getEnvironmentVariable("XDG_DATA_HOME", {}))
        .getChildFile("Velmora/Quillmoor Presets");
}

// Makes the preset `name` in `mode` the only one in the presets folder.
bool onlyPreset(const juce::String& name, int mode)
{
    const juce::MemoryBlock block = makePreset(mode);
    const juce::File folder = presetsFolder();
    return !block.isEmpty() && (!folder.exists() || folder.deleteRecursively()) && folder.createDirectory() &&
           folder.getChildFile(name + ".qmpreset").replaceWithData(block.getData(), block.getSize());
}

juce::AudioProcessorParameter* morphX(juce::AudioPluginInstance& plugin)
{
    for (auto* p : plugin.getParameters())
        if (p->getName(100) == "Morph X") return p;
    return nullptr;
}

// The host's unit value of the preset's Morph X.
float presetMorphX()
{
    return KeySpaceDSP(SynthFIFO<NodeCanvasData>::Reader{}, SynthFIFO<NodeMix>::Reader{}, nullptr, 0)
        .params[kParamMorphX]
        .convertValToUnit(kMorphX);
}

// Real pointer events on the virtual server, as a user's mouse makes them.
class Pointer
{
  public:
    Pointer() : display(XOpenDisplay(nullptr)) {}
    ~Pointer()
    {
        if (display != nullptr) XCloseDisplay(display);
    }
    bool ready() const { return display != nullptr; }
    void moveTo(juce::Point<int> p)
    {
        XTestFakeMotionEvent(display, -1, p.x, p.y, CurrentTime);
        XFlush(display);
    }
    void button(bool down)
    {
        XTestFakeButtonEvent(display, 1, down ? True : False, CurrentTime);
        XFlush(display);
    }

  private:
    Display* display;
};

// The editor's canvas starts 50 pixels down; its 630 x 376 area maps units with y upwards.
juce::Point<int> canvasPixel(Point2D unit)
{
    return {juce::roundToInt(630.0f * unit.x), 50 + juce::roundToInt(503.0f - 630.0f * unit.y)};
}

class HostStateChangeTest : public ::testing::TestWithParam<bool>
{
};

TEST_P(HostStateChangeTest, EditorEditsReportAStateChangeAndHostCallsDoNot)
{
    Pointer pointer;
    ASSERT_TRUE(pointer.ready());
    juce::String error;

    // A state of the host's in the Keyboard mode, from an instance that started in it.
    ASSERT_TRUE(onlyPreset("Keys", kCanvasModeKeyboard));
    juce::MemoryBlock keyboardState;
    {
        auto other = qmhost::load(GetParam(), error);
        ASSERT_NE(other, nullptr) << error;
        other->getStateInformation(keyboardState);
    }

    ASSERT_TRUE(onlyPreset("Pad", kCanvasModeXYPad));
    auto plugin = qmhost::load(GetParam(), error);
    ASSERT_NE(plugin, nullptr) << error;
    juce::AudioProcessorParameter* morph = morphX(*plugin);
    ASSERT_NE(morph, nullptr);
    plugin->prepareToPlay(qmhost::kRate, qmhost::kBlock);
    StateChangeCounter changes;
    plugin->addListener(&changes);

    std::unique_ptr<juce::AudioProcessorEditor> editor(plugin->createEditorIfNeeded());
    ASSERT_NE(editor, nullptr);
    editor->addToDesktop(0);
    editor->setVisible(true);
    runHost(*plugin, 40);

    // The host's own calls: a restore that switches the canvas mode (the editor follows it and
    // rebuilds its canvas), the restore back, and a parameter change.
    juce::MemoryBlock padState;
    plugin->getStateInformation(padState);
    for (const auto* block : {&keyboardState, &padState})
    {
        plugin->setStateInformation(block->getData(), static_cast<int>(block->getSize()));
        runHost(*plugin, 20);
    }
    morph->setValue(0.25f);
    runHost(*plugin, 20);
    EXPECT_EQ(changes.count.load(), 0) << "after the editor opened and the host's own calls";
    juce::MemoryBlock before;
    plugin->getStateInformation(before);

    // Drags the node furthest right 60 pixels left and 30 down in steps, blocks running between.
    const juce::Point<int> origin = editor->getScreenPosition();
    const juce::Point<int> from = origin + canvasPixel(kNodes[2]);
    pointer.moveTo(from);
    runHost(*plugin, 5);
    pointer.button(true);
    runHost(*plugin, 5);
    for (int step = 1; step <= 6; ++step)
    {
        pointer.moveTo(from + juce::Point<int>{-10 * step, 5 * step});
        runHost(*plugin, 3);
    }
    pointer.button(false);
    runHostUntil(*plugin, [&] { return changes.count.load() > 0; });
    juce::MemoryBlock moved;
    plugin->getStateInformation(moved);
    EXPECT_NE(moved, before) << "the drag moved no node";
    EXPECT_EQ(changes.count.load(), 1) << "after a node drag";

    // The browser: its PRESETS tab, then the preset's row (after "<save>" and "Random").
    changes.count = 0;
    for (const juce::Point<int> at : {juce::Point<int>{90, 62}, juce::Point<int>{23, 50 + 24 + 2 * 22 + 11}})
    {
        pointer.moveTo(origin + at);
        runHost(*plugin, 5);
        pointer.button(true);
        runHost(*plugin, 3);
        pointer.button(false);
        runHost(*plugin, 20);
    }
    runHostUntil(*plugin, [&] { return changes.count.load() > 0; });
    EXPECT_NEAR(morph->getValue(), presetMorphX(), 1e-4f) << "the preset was not loaded";
    EXPECT_EQ(changes.count.load(), 1) << "after a preset load";

    editor.reset();
    plugin->removeListener(&changes);
}

INSTANTIATE_TEST_SUITE_P(Formats, HostStateChangeTest, ::testing::Values(false, true), qmhost::formatName);

// An LV2 host knows the parameters from the description's defaults and from what the plug-in
// reports on its output; it never asks. The values the start-up preset set reach it with the first
// blocks.
TEST(HostParameterReports, Lv2StartUpPresetValuesReachTheHost)
{
    ASSERT_TRUE(onlyPreset("Pad", kCanvasModeXYPad));
    juce::String error;
    auto plugin = qmhost::load(false, error);
    ASSERT_NE(plugin, nullptr) << error;
    juce::AudioProcessorParameter* morph = morphX(*plugin);
    ASSERT_NE(morph, nullptr);
    ASSERT_NE(morph->getDefaultValue(), presetMorphX()) << "the preset must differ from the default";
    plugin->prepareToPlay(qmhost::kRate, qmhost::kBlock);
    runHost(*plugin, 4);
    EXPECT_NEAR(morph->getValue(), presetMorphX(), 1e-4f);
}
} // namespace
