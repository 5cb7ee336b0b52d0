// A voice handed the mix it settled on skips the set-up's call: what it is left with must be, byte
// for byte, what the set-up itself leaves, for that mix and for every near miss of it.

#include <gtest/gtest.h>

#include <cmath>
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

} // namespace

TEST(StandingMix, SpareTheSetUpOnlyWhereItWouldChangeNothingButThePoint)
{
    const std::vector<qmbank::BankEntry> sounds = qmtest::bankOf({"A_One", "A_Two", "A_Three", "A_Four"});
    qmtest::EngineRig rig(sounds);
    rig.setAllEffects(false);
    rig.pushCanvas({0, 1, 2, 3}, {}, kCanvasModeXYPad);
    KeySpaceDSP& dsp = rig.dsp();
    dsp.params[kParamMorphX].value = 0.4f;
    dsp.params[kParamMorphY].value = 0.55f;
    qmtest::noteOn(dsp, 60, 100);
    std::vector<float> left, right;
    rig.render(8 * 128, 128, left, right);

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

        voice = *settled;
        change.voice(voice);
        EXPECT_EQ(standsOnSettledMix(voice, mix), change.stands);
        engineSrand(7u);
        setCanonRandSeed(7u);
        setUpVoiceForMix(dsp, voice, mix, nullptr);
        EXPECT_TRUE(sameBytes(voice, *expected));
        standing += change.stands ? 1 : 0;
    }
    EXPECT_EQ(standing, 1);
}
