// The processor object: construction, first canvas, block processing through processBlock and its
// cutting of blocks at MIDI events, and the parameters the host sees (names, values, texts, reports).
#include <cmath>
#include <limits>
#include <set>

#include "ProcessorTestSupport.h"
#include "RenderPeaks.h"
#include "engine/params/ParamTable.h"
#include "processor/BlockProcessing.h"
#include "processor/PluginParam.h"

using namespace qmproc;

namespace
{
constexpr int kBlock = 512;

std::unique_ptr<PluginProcessor> makePrepared(double rate = 48000.0, int channels = 2)
{
    auto p = std::make_unique<PluginProcessor>();
    p->setPlayConfigDetails(0, channels, rate, kBlock);
    p->prepareToPlay(rate, kBlock);
    return p;
}

struct ProcessorTest : ::testing::Test
{
    void SetUp() override
    {
        clearLibrary();
        writeBank("Quillmoor Demo.qmbank", qmbank::demoBank());
    }
};

TEST_F(ProcessorTest, FirstCanvasBusesInstancesAndNoSounds)
{
    ASSERT_EQ(gNumInstances.load(), 0);
    auto p = std::make_unique<PluginProcessor>();
    const NodeCanvasData& c = p->nodeCanvas;
    EXPECT_GT(p->dsp->numSounds(), 12);
    EXPECT_EQ(c.nodeCount, 12);
    EXPECT_EQ(c.mode, kCanvasModeXYPad);
    EXPECT_EQ((std::vector<float>{c.lo[0].x, c.lo[1].x, c.hi[1].y, c.lo[2].y, c.hi[2].x, c.keyOffsetX,
                                  c.keyOctaveWidth}),
              (std::vector<float>{0.0f, 0.3f, 0.67f, 0.375f, 1.0f, -0.4f, 0.2f}));
    EXPECT_GT(c.currentMix.count, 0);
    EXPECT_EQ(p->canvasQueue.fillCount(), 1u);
    for (int i = 0; i < c.nodeCount; ++i)
        EXPECT_TRUE(c.nodes[size_t(i)].soundId >= 0 && c.nodes[size_t(i)].soundId < p->dsp->numSounds());
    // Buses: a stereo input and a stereo output, neither enabled until the host asks.
    for (bool input : {true, false})
    {
        ASSERT_EQ(p->getBusCount(input), 1);
        EXPECT_EQ(p->getBus(input, 0)->getName(), input ? "Input" : "Output");
        EXPECT_EQ(p->getBus(input, 0)->getDefaultLayout(), juce::AudioChannelSet::stereo());
        EXPECT_FALSE(p->getBus(input, 0)->isEnabledByDefault());
    }
    clearLibrary();
    auto q = std::make_unique<PluginProcessor>();
    EXPECT_EQ(std::pair(p->instanceIndex, q->instanceIndex), std::pair(0, 1));
    EXPECT_EQ(gNumInstances.load(), 2);
    EXPECT_TRUE(q->dsp->numSounds() == 0 && q->soundStorage.empty() && q->nodeCanvas.nodeCount == 0);
    EXPECT_EQ(q->canvasQueue.pushCount(), 1u);
    p.reset();
    q.reset();
    EXPECT_EQ(gNumInstances.load(), 0);
}

TEST_F(ProcessorTest, BlocksPlayFiniteAudioReportNotesAndCountSeconds)
{
    for (int channels : {2, 1})
    {
        auto p = makePrepared(48000.0, channels);
        auto reader = p->eventQueue.makeReader();
        const auto peak = renderPeaks(*p, 40, kBlock, {{0, chord({{60, 100, 0}, {64, 90, 100}})}});
        for (float x : peak)
            EXPECT_TRUE(x > 1e-4f && x < 4.0f) << x;
        EXPECT_EQ(p->lastBlockSize, kBlock);
        renderPeaks(*p, 1, kBlock, {{0, chord({{60, 0, 0}}, false)}});
        EXPECT_EQ(drain(reader),
                  (Events{{kSynthEventNote, 60, 100}, {kSynthEventNote, 64, 90}, {kSynthEventNote, 60, 0}}));
    }
    // A zero-length block applies its events without rendering.
    auto p = makePrepared();
    juce::AudioBuffer<float> empty(2, 0);
    juce::MidiBuffer midi(juce::MidiMessage::noteOn(2, 62, juce::uint8(80)));
    p->processBlock(empty, midi);
    EXPECT_EQ(p->lastBlockSize, 0);
    EXPECT_EQ(std::pair(p->dsp->voices[0].state, p->dsp->voices[0].channel), std::pair(1u, 2));

    // Each block takes the host's rate and tempo and counts the seconds rendered.
    for (double rate : {44100.0, 4000.0})
    {
        auto p = makePrepared(rate);
        const double before = gOnSeconds.load();
        renderPeaks(*p, 1, kBlock);
        // Only above five kilohertz.
        EXPECT_DOUBLE_EQ(gOnSeconds.load() - before, rate > 5000.0 ? double(512.0f / 44100.0f) : 0.0);
    }
    p = makePrepared(44100.0);
    EXPECT_EQ(p->dsp->sampleRate, 44100.0f);
    p->setPlayConfigDetails(0, 2, 96000.0, kBlock);
    p->dsp->tempoBpm = 33.0;
    renderPeaks(*p, 1, kBlock);
    EXPECT_EQ(p->dsp->sampleRate, 96000.0f);
    EXPECT_EQ(p->dsp->tempoBpm, 120.0); // no play head
    // A canvas the editor sends reaches the engine and drops the preset name.
    p->presetName = "Something";
    const uint64_t before = p->canvasQueue.pushCount();
    p->sendNodeCanvasToDSP();
    EXPECT_TRUE(p->presetName.isEmpty());
    EXPECT_EQ(p->canvasQueue.pushCount(), before + 1);
}

// The walk as a trace: "r<start>+<length>" for a rendered segment, "e<id>" for an applied event.
std::string trace(int numSamples, const std::vector<std::pair<int, int>>& events)
{
    std::string out;
    walkBlockSegments(
        numSamples, events, [](const auto& e) { return e.first; },
        [&](int start, int length) { out += " r" + std::to_string(start) + "+" + std::to_string(length); },
        [&](const auto& e) { out += " e" + std::to_string(e.second); });
    return out;
}

TEST(SegmentPlanner, Traces)
{
    EXPECT_EQ(trace(512, {}), " r0+512");
    EXPECT_EQ(trace(512, {{0, 1}}), " e1 r0+512");                         // before any audio
    EXPECT_EQ(trace(512, {{100, 1}, {100, 2}}), " r0+100 e1 e2 r100+412"); // one cut a position
    EXPECT_EQ(trace(512, {{512, 1}, {9999, 2}}),
              " r0+511 e1 e2 r511+1"); // past the end: before the last sample
    EXPECT_EQ(trace(64, {{-5, 1}, {-1, 2}, {10, 3}}), " r0+10 e3 r10+54"); // negative: skipped
    EXPECT_EQ(trace(64, {{0, 1}, {7, 2}, {7, 3}, {31, 4}, {63, 5}}),
              " e1 r0+7 e2 e3 r7+24 e4 r31+32 e5 r63+1");
    // Hosts send zero-length blocks with events to flush them: the events still count.
    EXPECT_EQ(trace(0, {}), "");
    EXPECT_EQ(trace(0, {{0, 1}, {3, 2}}), " e1 e2");
}

struct RecordingListener : PluginParam::Listener, juce::AudioProcessorParameter::Listener
{
    void receivedParamChange(int hostIndex) override { calls.push_back(hostIndex); }
    void parameterValueChanged(int, float newValue) override { values.push_back(newValue); }
    void parameterGestureChanged(int, bool) override {}
    std::vector<int> calls;
    std::vector<float> values;
};

TEST(HostParams, ThirteenNamedParametersInHostIndexOrderReachTheEventQueue)
{
    PluginProcessor processor;
    ASSERT_EQ(processor.getParameters().size(), 13);
    ASSERT_EQ(processor.dsp->hostParamCount, 13);
    std::set<juce::String> ids;
    for (int h = 0; h < 13; ++h)
    {
        auto* p = dynamic_cast<PluginParam*>(processor.getParameters()[h]);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->getParameterIndex(), h);
        EXPECT_EQ(p->param, &processor.dsp->params[size_t(processor.dsp->hostParamIndex[size_t(h)])]);
        EXPECT_EQ(p->param->hostIndex, h);
        // Spaces for underscores; the length limit is not applied.
        EXPECT_EQ(p->getName(4), juce::String(p->param->name).replaceCharacter('_', ' '));
        // Distinct ids that do not start with a digit (LV2 symbols).
        EXPECT_FALSE(juce::CharacterFunctions::isDigit(p->getParameterID()[0])) << p->getParameterID();
        ids.insert(p->getParameterID());
        // Every text reads back to its value, up to the printed precision.
        for (float u : {0.1f, 0.37f, 0.8f})
        {
            const float value = p->param->convertUnitToVal(u), back = p->getValueForText(p->getText(u, 100));
            if (!p->param->isChoice())
                EXPECT_NEAR(p->param->convertUnitToVal(back), value, 0.01f * (1.0f + std::fabs(value))) << h;
        }
    }
    EXPECT_EQ(ids.size(), 13u);
    EXPECT_EQ(processor.getParameters()[0]->getName(100), "Gain");

    auto reader = processor.eventQueue.makeReader();
    auto* morphX = processor.getParameters()[processor.dsp->params[kParamMorphX].hostIndex];
    morphX->setValue(0.75f);
    const float value = processor.dsp->params[kParamMorphX].convertUnitToVal(0.75f);
    EXPECT_EQ(processor.dsp->params[kParamMorphX].value, value);
    EXPECT_EQ(drain(reader), (Events{{kSynthEventParamChanged, kParamMorphX, value}}));
}

TEST(HostParams, ValuesAndTexts)
{
    RecordingListener listener;
    Param p("Cutoff", kCurvePowUnit, 30.0f, 8000.0f, 4.0f, "%.0f Hz");
    PluginParam pp(&listener, &p, 5);
    pp.setValue(1.5f);
    EXPECT_EQ(p.value, p.convertUnitToVal(1.0f));
    for (float u : {-0.2f, std::numeric_limits<float>::quiet_NaN()}) // clamped; not a number: ignored
        pp.setValue(u);
    EXPECT_EQ(p.value, p.convertUnitToVal(0.0f));
    EXPECT_EQ(listener.calls, (std::vector<int>{5, 5}));
    for (float u : {0.0f, 0.25f, 0.5f, 0.9f, 1.0f})
    {
        pp.setValue(u);
        EXPECT_NEAR(pp.getValue(), u, 1e-5f);
    }

    Param shape("Shape", kCurveRoundLinear, 0.0f, 2.0f, 0.0f, "Sine|Square|Saw");
    // Beyond the labels: the format text, which is the first label.
    for (auto [u, text] :
         {std::pair{0.0f, "Sine"}, {0.5f, "Square"}, {1.0f, "Saw"}, {2.0f, "Sine"}, {-1.0f, "Sine"}})
        EXPECT_EQ(PluginParam(nullptr, &shape, 0).getText(u, 100), text) << u;
    Param plain("Plain", kCurveLinear, 0.0f, 1.0f, 0.0f, ""),
        db("Level", kCurveLinear, -12.0f, 12.0f, 0.0f, "%.1f dB");
    EXPECT_EQ(PluginParam(nullptr, &plain, 0).getText(0.5f, 100), "0.500");
    EXPECT_EQ(PluginParam(nullptr, &db, 0).getText(0.75f, 100), "6.0 dB");
    EXPECT_FLOAT_EQ(PluginParam(nullptr, &db, 0).getValueForText("  6.0 dB"), 0.75f);
    EXPECT_FLOAT_EQ(PluginParam(nullptr, &db, 0).getValueForText("dB"), 0.5f);
}

TEST(HostParams, ReportsOnlyValuesTheHostDoesNotHold)
{
    // A wrapper echoes every report to the host at the end of its next block; re-reporting an
    // unchanged value after the host changed it would undo the host's change.
    Param p("Depth", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.2f");
    RecordingListener host;
    PluginParam pp(&host, &p, 0);
    pp.addListener(&host);
    pp.reportValueIfChanged(); // first report
    pp.reportValueIfChanged(); // nothing new
    pp.setValue(0.8f);         // the host's own change
    pp.reportValueIfChanged();
    p.value = 0.25f; // changed inside the instrument (a loaded state)
    pp.reportValueIfChanged();
    EXPECT_EQ(host.values, (std::vector<float>{0.5f, 0.25f}));
    pp.removeListener(&host);
}
} // namespace
