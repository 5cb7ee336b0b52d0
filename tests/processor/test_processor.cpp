// The processor object: construction, first canvas, and block processing through processBlock.
#include <cmath>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "ProcessorTestSupport.h"
#include "bankmaker/BankMaker.h"
#include "engine/params/ParamTable.h"
#include "processor/PluginProcessor.h"

namespace
{
constexpr double kRate = 48000.0;
constexpr int kBlock = 512;

std::unique_ptr<PluginProcessor> makePrepared(double rate = kRate, int block = kBlock)
{
    auto p = std::make_unique<PluginProcessor>();
    p->setPlayConfigDetails(0, 2, rate, block);
    p->prepareToPlay(rate, block);
    return p;
}

struct Rendered
{
    std::vector<float> left, right;
};

// Renders numBlocks blocks; events go into the first block at the given positions.
Rendered render(PluginProcessor& p, int numBlocks,
                const std::vector<std::pair<int, juce::MidiMessage>>& first, int block = kBlock)
{
    Rendered out;
    juce::AudioBuffer<float> buffer(2, block);
    for (int b = 0; b < numBlocks; ++b)
    {
        juce::MidiBuffer midi;
        if (b == 0)
            for (const auto& [pos, msg] : first)
                midi.addEvent(msg, pos);
        buffer.clear();
        p.processBlock(buffer, midi);
        out.left.insert(out.left.end(), buffer.getReadPointer(0), buffer.getReadPointer(0) + block);
        out.right.insert(out.right.end(), buffer.getReadPointer(1), buffer.getReadPointer(1) + block);
    }
    return out;
}

float peak(const std::vector<float>& x)
{
    float m = 0.0f;
    for (float v : x)
        m = std::max(m, std::fabs(v));
    return m;
}

bool finite(const std::vector<float>& x)
{
    for (float v : x)
        if (!std::isfinite(v)) return false;
    return true;
}

std::vector<SynthEvent> drain(SynthFIFO<SynthEvent>::Reader& reader)
{
    std::vector<SynthEvent> out;
    SynthEvent e;
    while (reader.readNext(e))
        out.push_back(e);
    return out;
}

class ProcessorTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        qmproc::clearLibrary();
        qmproc::writeBank("Quillmoor Demo.qmbank", qmbank::demoBank());
    }
};
} // namespace

TEST_F(ProcessorTest, InstancesAreCounted)
{
    ASSERT_EQ(gNumInstances.load(), 0);
    auto first = std::make_unique<PluginProcessor>();
    EXPECT_EQ(first->instanceIndex, 0);
    EXPECT_EQ(gNumInstances.load(), 1);
    auto second = std::make_unique<PluginProcessor>();
    EXPECT_EQ(second->instanceIndex, 1);
    EXPECT_EQ(gNumInstances.load(), 2);
    first.reset();
    second.reset();
    EXPECT_EQ(gNumInstances.load(), 0);
}

TEST_F(ProcessorTest, FirstCanvasWithoutPresets)
{
    PluginProcessor p;
    EXPECT_GT(p.dsp->numSounds(), 12);
    EXPECT_EQ(p.nodeCanvas.nodeCount, 12);
    EXPECT_EQ(p.nodeCanvas.mode, kCanvasModeXYPad);
    EXPECT_FLOAT_EQ(p.nodeCanvas.lo[1].x, 0.3f);
    EXPECT_FLOAT_EQ(p.nodeCanvas.hi[1].y, 0.67f);
    EXPECT_FLOAT_EQ(p.nodeCanvas.lo[2].y, 0.375f);
    EXPECT_FLOAT_EQ(p.nodeCanvas.hi[2].x, 1.0f);
    EXPECT_EQ(p.nodeCanvas.lo[0].x, 0.0f);
    EXPECT_FLOAT_EQ(p.nodeCanvas.keyOffsetX, -0.4f);
    EXPECT_FLOAT_EQ(p.nodeCanvas.keyOctaveWidth, 0.2f);
    EXPECT_GT(p.nodeCanvas.currentMix.count, 0);
    EXPECT_EQ(p.canvasQueue.pushCount(), 1u);
    EXPECT_EQ(p.canvasQueue.writeIndex(), 1u);
    EXPECT_EQ(p.canvasQueue.fillCount(), 1u);
    for (int i = 0; i < p.nodeCanvas.nodeCount; ++i)
    {
        EXPECT_GE(p.nodeCanvas.nodes[static_cast<size_t>(i)].soundId, 0);
        EXPECT_LT(p.nodeCanvas.nodes[static_cast<size_t>(i)].soundId, p.dsp->numSounds());
    }
}

TEST_F(ProcessorTest, NoSoundsGivesAnEmptyCanvas)
{
    qmproc::clearLibrary();
    PluginProcessor p;
    EXPECT_EQ(p.dsp->numSounds(), 0);
    EXPECT_TRUE(p.soundStorage.empty());
    EXPECT_EQ(p.nodeCanvas.nodeCount, 0);
    EXPECT_EQ(p.canvasQueue.pushCount(), 1u);
}

TEST_F(ProcessorTest, SmallOverrides)
{
    PluginProcessor p;
    EXPECT_EQ(p.getName(), "Quillmoor");
    EXPECT_FALSE(p.hasEditor());
    EXPECT_TRUE(p.acceptsMidi());
    EXPECT_FALSE(p.producesMidi());
    EXPECT_EQ(p.getTailLengthSeconds(), 0.0);
    EXPECT_EQ(p.getNumPrograms(), 1);
    EXPECT_EQ(PluginProcessor::getFxName(0), "Binaural");
    EXPECT_EQ(PluginProcessor::getFxName(6), "Distortion");
    EXPECT_EQ(PluginProcessor::getFxName(7), "Unknown FX!");
    EXPECT_EQ(PluginProcessor::getFxName(-1), "Unknown FX!");
    // Buses: a stereo input and a stereo output, neither enabled until the host asks.
    ASSERT_EQ(p.getBusCount(true), 1);
    ASSERT_EQ(p.getBusCount(false), 1);
    EXPECT_EQ(p.getBus(true, 0)->getName(), "Input");
    EXPECT_EQ(p.getBus(false, 0)->getName(), "Output");
    EXPECT_EQ(p.getBus(false, 0)->getDefaultLayout(), juce::AudioChannelSet::stereo());
    EXPECT_FALSE(p.getBus(true, 0)->isEnabledByDefault());
    EXPECT_FALSE(p.getBus(false, 0)->isEnabledByDefault());
}

TEST_F(ProcessorTest, NotesPlayFiniteStereoAndAreReported)
{
    auto p = makePrepared();
    auto reader = p->eventQueue.makeReader();
    const Rendered r = render(*p, 40,
                              {{0, juce::MidiMessage::noteOn(1, 60, (juce::uint8)100)},
                               {100, juce::MidiMessage::noteOn(1, 64, (juce::uint8)90)}});
    EXPECT_TRUE(finite(r.left));
    EXPECT_TRUE(finite(r.right));
    EXPECT_GT(peak(r.left), 1e-4f);
    EXPECT_GT(peak(r.right), 1e-4f);
    EXPECT_LT(peak(r.left), 4.0f);
    EXPECT_EQ(p->lastBlockSize, kBlock);

    const auto events = drain(reader);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, kSynthEventNote);
    EXPECT_EQ(events[0].index, 60);
    EXPECT_FLOAT_EQ(events[0].value, 100.0f);
    EXPECT_EQ(events[1].index, 64);

    render(*p, 1, {{5, juce::MidiMessage::noteOff(1, 60)}});
    const auto offs = drain(reader);
    ASSERT_EQ(offs.size(), 1u);
    EXPECT_EQ(offs[0].value, 0.0f);
}

TEST_F(ProcessorTest, ZeroLengthBlocksApplyEventsWithoutRendering)
{
    auto p = makePrepared();
    juce::AudioBuffer<float> empty(2, 0);
    juce::MidiBuffer midi;
    midi.addEvent(juce::MidiMessage::noteOn(2, 62, (juce::uint8)80), 0);
    p->processBlock(empty, midi);
    EXPECT_EQ(p->lastBlockSize, 0);
    EXPECT_EQ(p->dsp->voices[0].state, 1u);
    EXPECT_EQ(p->dsp->voices[0].channel, 2);
}

TEST_F(ProcessorTest, SecondsAreCountedAboveFiveKilohertz)
{
    {
        auto p = makePrepared(44100.0, kBlock);
        const double before = gOnSeconds.load();
        render(*p, 1, {});
        EXPECT_DOUBLE_EQ(gOnSeconds.load() - before, static_cast<double>(512.0f / 44100.0f));
    }
    {
        auto p = makePrepared(4000.0, kBlock);
        const double before = gOnSeconds.load();
        render(*p, 1, {});
        EXPECT_EQ(gOnSeconds.load(), before);
    }
}

TEST_F(ProcessorTest, SampleRateChangesReachTheEngine)
{
    auto p = makePrepared(44100.0);
    EXPECT_EQ(p->dsp->sampleRate, 44100.0f);
    p->setPlayConfigDetails(0, 2, 96000.0, kBlock);
    render(*p, 1, {});
    EXPECT_EQ(p->dsp->sampleRate, 96000.0f);
}

TEST_F(ProcessorTest, TempoDefaultsWithoutAPlayHead)
{
    auto p = makePrepared();
    p->dsp->tempoBpm = 33.0;
    render(*p, 1, {});
    EXPECT_EQ(p->dsp->tempoBpm, 120.0);
}

TEST_F(ProcessorTest, CanvasSentToTheEngineIsBroadcastAndClearsThePresetName)
{
    auto p = makePrepared();
    p->presetName = "Something";
    const uint64_t before = p->canvasQueue.pushCount();
    p->sendNodeCanvasToDSP();
    EXPECT_TRUE(p->presetName.isEmpty());
    EXPECT_EQ(p->canvasQueue.pushCount(), before + 1);
}

TEST_F(ProcessorTest, MonoOutputRendersOneChannel)
{
    auto p = std::make_unique<PluginProcessor>();
    p->setPlayConfigDetails(0, 1, kRate, kBlock);
    p->prepareToPlay(kRate, kBlock);
    juce::AudioBuffer<float> buffer(1, kBlock);
    float maxAbs = 0.0f;
    for (int b = 0; b < 20; ++b)
    {
        juce::MidiBuffer midi;
        if (b == 0) midi.addEvent(juce::MidiMessage::noteOn(1, 60, (juce::uint8)100), 0);
        p->processBlock(buffer, midi);
        maxAbs = std::max(maxAbs, buffer.getMagnitude(0, 0, kBlock));
    }
    EXPECT_GT(maxAbs, 1e-4f);
}
