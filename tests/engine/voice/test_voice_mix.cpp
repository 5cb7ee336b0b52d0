// A voice's mix on the XY Pad: the lookup memo that voices of one render call share gives, call
// after call, exactly what the canvas lookup gives without it (mix, hint, the canvas's current mix
// and its record of the last hinted lookup); the mix a voice's set-up remembers as settled gives
// what the set-up's change test gives.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/params/ParamTable.h"
#include "support/EngineTestHelpers.h"
#include "support/TestCanvas.h"

namespace
{

using qmtest::sameBytes;

// One voice's lookup: the morph point it asks for (its modulated values) and its triangle hint;
// a hint of kFound starts it from the triangle the previous lookup ended in.
struct Lookup
{
    float x;
    float y;
    int hint;
};
constexpr int kFound = -1000;

} // namespace

TEST(VoiceMix, XYPadLookupMemoGivesWhatTheLookupGives)
{
    // Two engines on the same sounds and the same triangulated canvas: one looks every voice up on
    // its own, the other through one memo for the whole sequence, as a render call does.
    const std::vector<qmbank::BankEntry> sounds = qmtest::bankOf({"A_One", "A_Two", "A_Three", "A_Four"});
    qmtest::EngineRig plainRig(sounds);
    qmtest::EngineRig memoRig(sounds);
    NodeCanvasData canvas = qmtest::startCanvas(kCanvasModeXYPad);
    const Point2D pos[] = {{0.35f, 0.4f}, {0.6f, 0.38f}, {0.5f, 0.62f}, {0.42f, 0.5f}, {0.65f, 0.6f}};
    for (int i = 0; i < 5; ++i)
        canvas.nodes[static_cast<std::size_t>(i)] = {pos[i], i == 4 ? 99 : i % 4}; // node 4 names no sound
    canvas.nodeCount = 5;
    canvas.currentMix.point = {0.5f, 0.5f};
    canvas.triangulate();
    plainRig.canvasQueue.push(canvas);
    memoRig.canvasQueue.push(canvas);
    KeySpaceDSP& plain = plainRig.dsp();
    KeySpaceDSP& memoed = memoRig.dsp();
    plain.pollQueues();
    memoed.pollQueues();
    ASSERT_EQ(plain.canvas.mode, kCanvasModeXYPad);
    ASSERT_GT(plain.canvas.triCount, 1);

    const Lookup sequence[] = {
        {0.4f, 0.6f, 0},      {0.4f, 0.6f, 0},       {0.4f, 0.6f, kFound},  {0.4f, 0.6f, kFound},
        {0.4f, 0.6f, 3},      {0.4f, 0.6f, 0},       {0.7f, 0.2f, kFound},  {0.4f, 0.6f, kFound},
        {0.4f, 0.6f, kFound}, {-0.0f, 0.5f, 0},      {0.0f, 0.5f, 0},       {-0.0f, 0.5f, 0},
        {0.125f, 0.25f, -7},  {0.125f, 0.25f, -7},   {0.125f, 0.25f, 5000}, {0.125f, 0.25f, 5000},
        {2.0f, -1.0f, 1},     {2.0f, -1.0f, 1},      {0.5f, 0.5f, kFound},  {0.5f, 0.5f, kFound},
        {0.4f, 0.6f, kFound}, {0.4f, 0.6f, kFound},  {0.85f, 0.75f, 2},    {0.85f, 0.75f, 2},
    };
    KeySpaceDSP::MixLookupMemo memo;
    int found = 0;
    int voice = 0;
    std::vector<bool> counts(kMaxMixNodes + 1, false);
    bool unnamed = false;
    for (const Lookup& l : sequence)
    {
        SCOPED_TRACE(testing::Message() << "lookup " << voice << " at " << l.x << ", " << l.y << " hint " << l.hint);
        const std::size_t vi = static_cast<std::size_t>(voice++ % kMaxVoices);
        for (KeySpaceDSP* dsp : {&plain, &memoed})
        {
            dsp->params[kParamMorphX].modValue = l.x;
            dsp->params[kParamMorphY].modValue = l.y;
            dsp->voices[vi].triHint = l.hint == kFound ? found : l.hint;
        }
        const NodeMix expected = plain.getMixDataForVoice(&plain.voices[vi]);
        const NodeMix got = memoed.getMixDataForVoice(&memoed.voices[vi], &memo);
        found = plain.voices[vi].triHint;
        EXPECT_TRUE(sameBytes(got, expected));
        EXPECT_EQ(memoed.voices[vi].triHint, plain.voices[vi].triHint);
        EXPECT_TRUE(sameBytes(memoed.canvas.currentMix, plain.canvas.currentMix));
        const NodeCanvasData::HintedLookup& a = memoed.canvas.lastHinted;
        const NodeCanvasData::HintedLookup& b = plain.canvas.lastHinted;
        EXPECT_TRUE(sameBytes(a.point, b.point) && a.tri == b.tri && a.corner == b.corner &&
                    sameBytes(a.cornerPos, b.cornerPos) && a.nodeCount == b.nodeCount && a.triCount == b.triCount &&
                    a.mode == b.mode && sameBytes(a.mix, b.mix));
        counts.at(static_cast<std::size_t>(expected.count)) = true;
        for (int i = 0; i < expected.count; ++i)
            unnamed = unnamed || expected.node[static_cast<std::size_t>(i)] < 0;
    }
    // The sequence met mixes of one sound and of several, and a node that names no sound.
    EXPECT_TRUE(counts[1]);
    EXPECT_TRUE(counts[2] || counts[3]);
    EXPECT_TRUE(unnamed);
}

TEST(VoiceMix, SettledMixGivesWhatTheChangeTestGives)
{
    // Two engines render the same scene one hop per call; before each call the second one forgets
    // the mixes its voices settled on, so that its set-up runs the change test every hop.
    const std::vector<qmbank::BankEntry> sounds = qmtest::bankOf({"A_One", "A_Two", "A_Three", "A_Four"});
    qmtest::EngineRig keptRig(sounds);
    qmtest::EngineRig freshRig(sounds);
    constexpr int kHop = 128;
    for (qmtest::EngineRig* rig : {&keptRig, &freshRig})
    {
        rig->setAllEffects(false);
        rig->pushCanvas({0, 1, 2, 3}, {}, kCanvasModeXYPad);
        for (int note : {48, 60, 67})
            qmtest::noteOn(rig->dsp(), note, 100);
    }
    // The morph point: standing, creeping by steps too small to count as a change, standing,
    // away for one hop and back to where it stood, away for longer and back, and moving on every hop.
    const auto morphX = [](int hop) {
        if (hop < 40) return 0.3f;
        if (hop < 80) return 0.3f + 2.0e-6f * static_cast<float>(hop - 40);
        if (hop == 100 || (hop >= 120 && hop < 160)) return 0.7f;
        if (hop < 200) return 0.3f + 8.0e-5f;
        return 0.7f - 0.004f * static_cast<float>(hop - 200);
    };
    std::vector<float> keptL, keptR, freshL, freshR;
    bool reused = false;
    for (int hop = 0; hop < 280; ++hop)
    {
        for (qmtest::EngineRig* rig : {&keptRig, &freshRig})
        {
            rig->dsp().params[kParamMorphX].value = morphX(hop);
            rig->dsp().params[kParamMorphY].value = 0.5f;
        }
        for (KeyVoice& v : freshRig.dsp().voices)
            v.settled = 0;
        for (const KeyVoice& v : keptRig.dsp().voices)
            reused = reused || (v.state != 0 && v.settled != 0 && sameBytes(v.settledMix, v.mix) == false);
        const uint32_t seed = static_cast<uint32_t>(hop) * 7919u + 1u;
        keptRig.renderSeeded(seed, kHop, keptL, keptR);
        freshRig.renderSeeded(seed, kHop, freshL, freshR);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_TRUE(sameBytes(keptRig.dsp().voices[i].mix, freshRig.dsp().voices[i].mix)) << "hop " << hop;
    }
    ASSERT_EQ(keptL.size(), freshL.size());
    EXPECT_EQ(std::memcmp(keptL.data(), freshL.data(), keptL.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(keptR.data(), freshR.data(), keptR.size() * sizeof(float)), 0);
    EXPECT_GT(qmtest::peakOf(keptL), 0.0f);
    // Voices did keep a settled mix that differs from the one they were set up for.
    EXPECT_TRUE(reused);
}
