// A voice handed the mix it settled on skips the set-up's call, and one that stood on the render
// call's remembered lookup skips the lookup too: what it is left with must be, byte for byte, what
// the lookup and the set-up themselves leave, for that mix and for every near miss of it.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <vector>

#include "engine/modulation/CanonRandom.h"
#include "engine/params/ParamTable.h"
#include "engine/Random.h"
#include "engine/voice/StandingMix.h"
#include "support/EngineTestHelpers.h"

namespace
{

using qmtest::sameBytes;

// What one case does to the settled voice and to the mix it is then handed.
struct Change
{
    const char* what;
    void (*voice)(KeyVoice&);
    void (*mix)(NodeMix&);
    bool stands; // whether the voice still stands on its settled mix
};

void keep(KeyVoice&) {}
void keep(NodeMix&) {}

const Change kChanges[] = {
    {"the very mix", keep, keep, true},
    {"the point one step right", keep, [](NodeMix& m) { m.point.x = std::nextafter(m.point.x, 2.0f); }, false},
    {"the rebuilt point one step up", keep, [](NodeMix& m) { m.rebuiltPoint.y = std::nextafter(m.rebuiltPoint.y, 2.0f); }, false},
    {"a weight a hair heavier", keep, [](NodeMix& m) { m.weight[0] += 1.0e-6f; }, false},
    {"a weight far heavier", keep, [](NodeMix& m) { m.weight[0] += 0.3f; m.weight[1] -= 0.3f; }, false},
    {"another sound", keep, [](NodeMix& m) { m.node[0] = (m.node[0] + 1) % 4; }, false},
    {"one sound fewer", keep, [](NodeMix& m) { m.count -= 1; }, false},
    {"a voice to set up anew", [](KeyVoice& v) { v.needsSetup = 1; }, keep, false},
    {"a voice not settled", [](KeyVoice& v) { v.settled = 0; }, keep, false},
};

// The rig's four sounds on an XY Pad with the morph point standing at (0.4, 0.55), these notes
// started and rendered for this many hops, so that their voices have settled.
KeySpaceDSP& standOnTheMorph(qmtest::EngineRig& rig, std::initializer_list<int> notes, int hops)
{
    rig.setAllEffects(false);
    rig.pushCanvas({0, 1, 2, 3}, {}, kCanvasModeXYPad);
    KeySpaceDSP& dsp = rig.dsp();
    dsp.params[kParamMorphX].value = 0.4f;
    dsp.params[kParamMorphY].value = 0.55f;
    for (int note : notes)
        qmtest::noteOn(dsp, note, 100);
    std::vector<float> left, right;
    rig.render(hops * 128, 128, left, right);
    return dsp;
}

} // namespace

TEST(StandingMix, SpareTheSetUpOnlyWhereItWouldChangeNothingButThePoint)
{
    const std::vector<qmbank::BankEntry> sounds = qmtest::bankOf({"A_One", "A_Two", "A_Three", "A_Four"});
    qmtest::EngineRig rig(sounds);
    KeySpaceDSP& dsp = standOnTheMorph(rig, {60}, 8);

    // Voice 0 has been set up and settled on the standing morph's mix.
    KeyVoice& voice = dsp.voices[0];
    ASSERT_EQ(voice.needsSetup, 0);
    ASSERT_NE(voice.settled, 0);
    ASSERT_GE(voice.settledMix.count, 2);
    const auto settled = std::make_unique<KeyVoice>(voice);

    int standing = 0;
    for (const Change& change : kChanges)
    {
        SCOPED_TRACE(change.what);
        NodeMix mix = settled->settledMix;
        change.mix(mix);

        // The set-up itself, then the spared call, each from the same voice and generators.
        voice = *settled;
        change.voice(voice);
        engineSrand(7u);
        setCanonRandSeed(7u);
        dsp.setVoiceData(&voice, mix);
        const auto expected = std::make_unique<KeyVoice>(voice);
        const auto expectedBands = std::make_unique<HarmonicBands>(dsp.harmonicBands(voice));

        voice = *settled;
        change.voice(voice);
        EXPECT_EQ(standsOnSettledMix(voice, mix), change.stands);
        engineSrand(7u);
        setCanonRandSeed(7u);
        setUpVoiceForMix(dsp, voice, mix, nullptr);
        EXPECT_TRUE(sameBytes(voice, *expected));
        EXPECT_TRUE(sameBytes(dsp.harmonicBands(voice), *expectedBands));
        standing += change.stands ? 1 : 0;
    }
    EXPECT_EQ(standing, 1);
}

TEST(StandingMix, VoicesThatStoodSkipOnlyWhatTheLookupAndSetUpWouldRepeat)
{
    // Each voice's step is taken through the skipping path, then again from the same voice and
    // memos through the lookup and the set-up; the two must leave the same voice and canvas. Each
    // call below is one memo's life (a render call); a point per voice slot, the same for all slots
    // when the call promises a still point.
    struct Call
    {
        const char* what;
        bool pointStill;
        std::size_t voices; // the first of the three that take part
        float x[3];
        float y[3];
        float xPerHop; // how far a point moves from hop to hop (only where it is not still)
    };
    const Call calls[] = {
        {"standing", true, 3, {0.4f, 0.4f, 0.4f}, {0.55f, 0.55f, 0.55f}, 0.0f},
        {"standing, in a new call", true, 3, {0.4f, 0.4f, 0.4f}, {0.55f, 0.55f, 0.55f}, 0.0f},
        {"one voice elsewhere", false, 3, {0.4f, 0.8f, 0.4f}, {0.55f, 0.2f, 0.55f}, 0.0f},
        {"moved a hair", true, 3, {0.4f + 2.0e-6f, 0.4f + 2.0e-6f, 0.4f + 2.0e-6f}, {0.55f, 0.55f, 0.55f}, 0.0f},
        {"moved far", true, 3, {0.75f, 0.75f, 0.75f}, {0.7f, 0.7f, 0.7f}, 0.0f},
        {"every voice elsewhere", false, 3, {0.2f, 0.5f, 0.8f}, {0.3f, 0.6f, 0.3f}, 0.0f},
        {"back and standing", true, 3, {0.4f, 0.4f, 0.4f}, {0.55f, 0.55f, 0.55f}, 0.0f},
        {"one voice alone, modulated away", false, 1, {0.4f, 0.0f, 0.0f}, {0.55f, 0.0f, 0.0f}, 0.2f},
        {"one voice alone, standing", true, 1, {0.8f, 0.0f, 0.0f}, {0.55f, 0.0f, 0.0f}, 0.0f},
    };
    const std::vector<qmbank::BankEntry> sounds = qmtest::bankOf({"A_One", "A_Two", "A_Three", "A_Four"});
    qmtest::EngineRig rig(sounds);
    KeySpaceDSP& dsp = standOnTheMorph(rig, {48, 60, 67}, 4);

    int skipped = 0;
    int taken = 0;
    for (const Call& call : calls)
    {
        KeySpaceDSP::MixLookupMemo memo;
        KeySpaceDSP::BlendMemo blend;
        for (int hop = 0; hop < 4; ++hop)
            for (std::size_t slot = 0; slot < call.voices; ++slot)
            {
                SCOPED_TRACE(testing::Message() << call.what << ", hop " << hop << ", voice " << slot);
                dsp.params[kParamMorphX].modValue = call.x[slot] + call.xPerHop * static_cast<float>(hop);
                dsp.params[kParamMorphY].modValue = call.y[slot];
                KeyVoice& voice = dsp.voices[slot];
                const auto before = std::make_unique<KeyVoice>(voice);
                const KeySpaceDSP::MixLookupMemo memoBefore = memo;
                const KeySpaceDSP::BlendMemo blendBefore = blend;
                const bool skips = call.pointStill && memo.stoodAfter[slot] == memo.changes + 1;
                (skips ? skipped : taken) += 1;

                takeVoiceMix(dsp, voice, slot, call.pointStill, memo, blend);
                const auto bySkipping = std::make_unique<KeyVoice>(voice);
                const auto bandsBySkipping = std::make_unique<HarmonicBands>(dsp.harmonicBands(voice));
                const NodeMix canvasMix = dsp.canvas.currentMix;

                voice = *before;
                KeySpaceDSP::MixLookupMemo fullMemo = memoBefore;
                KeySpaceDSP::BlendMemo fullBlend = blendBefore;
                const NodeMix mix = dsp.getMixDataForVoice(&voice, &fullMemo);
                dsp.setVoiceData(&voice, mix, &fullBlend);
                EXPECT_TRUE(sameBytes(voice, *bySkipping));
                EXPECT_TRUE(sameBytes(dsp.harmonicBands(voice), *bandsBySkipping));
                EXPECT_TRUE(sameBytes(dsp.canvas.currentMix, canvasMix));
                EXPECT_TRUE(sameBytes(fullMemo.mix, memo.mix) && fullMemo.hintIn == memo.hintIn &&
                            fullMemo.hintOut == memo.hintOut && sameBytes(fullMemo.point, memo.point));
                voice = *bySkipping;
            }
    }
    // Both ways were taken, the skip in most hops of the still calls.
    EXPECT_GT(skipped, 20);
    EXPECT_GT(taken, 40);
}
