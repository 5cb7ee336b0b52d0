// The processor's host state: a block written by one processor restores another, and the block's
// version and header rules reach the editor and the host as they should.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ProcessorTestSupport.h"
#include "bankmaker/BankMaker.h"
#include "engine/params/ParamTable.h"
#include "processor/PluginProcessor.h"
#include "support/TestSounds.h"

using qmproc::drain;
using qmproc::stateOf;
using qmproc::values;

namespace
{
std::vector<qmbank::BankEntry> bankOf(const std::vector<std::string>& names)
{
    std::vector<qmbank::BankEntry> entries;
    for (const auto& n : names)
        entries.push_back({n, qmbank::encodeBlob(qmtest::makePlainSpec(60, 4, 1000))});
    return entries;
}

// Counts the host's parameter-change notifications.
struct HostListener : juce::AudioProcessorListener
{
    int changes = 0;
    void audioProcessorParameterChanged(juce::AudioProcessor*, int, float) override { ++changes; }
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&) override {}
};

class HostState : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        qmproc::clearLibrary();
        qmproc::writeBank("Test.qmbank", bankOf({"Keys_Alpha", "Keys_Beta", "Pads_Gamma", "Pads_Delta"}));
        source = std::make_unique<PluginProcessor>();
        // The second processor sees the sounds in another order, and one more.
        qmproc::clearLibrary();
        qmproc::writeBank("Test.qmbank",
                          bankOf({"Bass_Omega", "Pads_Delta", "Pads_Gamma", "Keys_Beta", "Keys_Alpha"}));
        target = std::make_unique<PluginProcessor>();
    }
    void TearDown() override { qmproc::clearLibrary(); }

    // A canvas of three nodes in the Keyboard mode at a known point.
    void setUpSource()
    {
        for (auto& param : source->dsp->params)
            param.value = param.convertUnitToVal(0.35f);
        NodeCanvasData& c = source->nodeCanvas;
        c.mode = kCanvasModeKeyboard;
        c.nodeCount = 3;
        c.nodes[0] = {{0.2f, 0.4f}, 0};  // Alpha
        c.nodes[1] = {{0.6f, 0.45f}, 2}; // Gamma
        c.nodes[2] = {{0.4f, 0.6f}, 3};  // Delta
        c.currentMix.point = {0.45f, 0.5f};
        c.dirty = 1;
        c.triangulate();
    }

    std::unique_ptr<PluginProcessor> source, target;
};

TEST_F(HostState, BlockRestoresAnotherProcessor)
{
    setUpSource();
    const juce::MemoryBlock block = stateOf(*source);
    ASSERT_EQ(block.getSize(), 570u + 3 * (5 + 9)); // three five-letter names

    target->presetName = "Old";
    const std::vector<float> before = values(*target);
    HostListener host;
    target->addListener(&host);
    auto events = target->eventQueue.makeReader();
    const uint64_t canvasPushes = target->canvasQueue.pushCount();
    target->setStateInformation(block.getData(), static_cast<int>(block.getSize()));
    target->removeListener(&host);

    EXPECT_EQ(values(*target), values(*source));
    const NodeCanvasData& c = target->nodeCanvas;
    EXPECT_EQ(c.mode, kCanvasModeKeyboard);
    ASSERT_EQ(c.nodeCount, 3);
    const char* names[] = {"Alpha", "Gamma", "Delta"};
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_STREQ(target->dsp->sounds[size_t(c.nodes[size_t(i)].soundId)].name, names[i]);
        EXPECT_EQ(c.nodes[size_t(i)].pos.x, source->nodeCanvas.nodes[size_t(i)].pos.x);
        EXPECT_EQ(c.nodes[size_t(i)].pos.y, source->nodeCanvas.nodes[size_t(i)].pos.y);
    }
    EXPECT_EQ(c.currentMix.point.x, source->nodeCanvas.currentMix.point.x);
    EXPECT_EQ(c.currentMix.point.y, source->nodeCanvas.currentMix.point.y);
    EXPECT_GT(c.triCount, 0);
    EXPECT_TRUE(target->presetName.isEmpty());

    // The engine gets the canvas, the editor one kind-3 event, the host every host value.
    EXPECT_EQ(target->canvasQueue.pushCount(), canvasPushes + 1);
    const auto got = drain(events);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, kSynthEventPresetsChanged);
    EXPECT_EQ(got[0].index, -1);
    // The host hears of every host parameter whose value the block changed.
    int changedHostParams = 0;
    for (const auto& param : target->dsp->params)
        if (param.hostIndex >= 0 && param.value != before[size_t(param.index)]) ++changedHostParams;
    ASSERT_GT(changedHostParams, 0);
    EXPECT_EQ(host.changes, changedHostParams);

    // Written back from the restored processor, the block is the same.
    const juce::MemoryBlock again = stateOf(*target);
    EXPECT_EQ(again, block);
}

TEST_F(HostState, NewerVersionOnlyLeavesAMessage)
{
    setUpSource();
    juce::MemoryBlock block = stateOf(*source);
    auto* bytes = static_cast<char*>(block.getData());
    ASSERT_EQ(std::string(bytes + 11), "1.2.0");
    bytes[15] = '1'; // "1.2.1"

    const std::vector<float> before = values(*target);
    const int modeBefore = target->nodeCanvas.mode;
    const int nodesBefore = target->nodeCanvas.nodeCount;
    target->presetName = "Kept";
    auto events = target->eventQueue.makeReader();
    const uint64_t canvasPushes = target->canvasQueue.pushCount();
    target->setStateInformation(block.getData(), static_cast<int>(block.getSize()));

    EXPECT_EQ(
        target->pendingMessage,
        "This state was saved with a newer version of Quillmoor: 1.2.1, you have 1.2.0. Please upgrade.\n");
    const auto got = drain(events);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, kSynthEventMessageWaiting);
    EXPECT_EQ(got[0].index, 0);
    EXPECT_EQ(values(*target), before);
    EXPECT_EQ(target->nodeCanvas.mode, modeBefore);
    EXPECT_EQ(target->nodeCanvas.nodeCount, nodesBefore);
    EXPECT_EQ(target->presetName, "Kept");
    EXPECT_EQ(target->canvasQueue.pushCount(), canvasPushes);
}

TEST_F(HostState, RejectedBlocksChangeNothingAndSayNothing)
{
    setUpSource();
    const juce::MemoryBlock good = stateOf(*source);
    std::vector<juce::MemoryBlock> bad;
    for (unsigned char count : {0, 1, 9})
    {
        juce::MemoryBlock b = good;
        static_cast<unsigned char*>(b.getData())[0] = count;
        bad.push_back(b);
    }
    juce::MemoryBlock lower = good;
    static_cast<char*>(lower.getData())[1] = 'q'; // "quillmoor"
    bad.push_back(lower);

    const std::vector<float> before = values(*target);
    auto events = target->eventQueue.makeReader();
    const uint64_t canvasPushes = target->canvasQueue.pushCount();
    for (const auto& b : bad)
        target->setStateInformation(b.getData(), static_cast<int>(b.getSize()));
    target->setStateInformation(good.getData(), 0);
    target->setStateInformation(nullptr, 100);
    target->setStateInformation(good.getData(), -5);
    EXPECT_EQ(values(*target), before);
    EXPECT_TRUE(drain(events).empty());
    EXPECT_EQ(target->canvasQueue.pushCount(), canvasPushes);
    EXPECT_TRUE(target->pendingMessage.isEmpty());
}

TEST_F(HostState, EveryPrefixOfABlockLoadsSafely)
{
    setUpSource();
    const juce::MemoryBlock block = stateOf(*source);
    for (size_t len = 1; len <= block.getSize(); len += (len < 40 || len + 60 > block.getSize()) ? 1u : 37u)
    {
        // An exact-size copy, so that the sanitizers see any read past the end.
        std::vector<unsigned char> prefix(static_cast<const unsigned char*>(block.getData()),
                                          static_cast<const unsigned char*>(block.getData()) + len);
        target->setStateInformation(prefix.data(), static_cast<int>(len));
        ASSERT_LE(target->nodeCanvas.nodeCount, kMaxSoundNodes);
        for (int i = 0; i < target->nodeCanvas.nodeCount; ++i)
            ASSERT_LT(target->nodeCanvas.nodes[size_t(i)].soundId, target->dsp->numSounds());
        ASSERT_GE(target->nodeCanvas.mode, 0);
        ASSERT_LE(target->nodeCanvas.mode, 2);
    }
}
} // namespace
