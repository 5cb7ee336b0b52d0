// An LFO that no modulation slot routes is read by nothing during a render call, so the call works
// its value out in its last hop only: between calls of any length, every counted voice's LFO
// records and the engine's hold the value the step to their phase gives.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/params/ParamTable.h"
#include "support/EngineTestHelpers.h"

namespace
{

// Whether the record's value is what the step to its phase gives, for the engine's current shape.
bool holdsItsValue(const LFO& lfo, int shape)
{
    LFO expected = lfo;
    expected.getVal(lfo.phase, shape);
    return std::memcmp(&expected.value, &lfo.value, sizeof lfo.value) == 0;
}

} // namespace

TEST(UnroutedLfo, RecordsHoldTheirValuesBetweenCallsOfAnyLength)
{
    const std::vector<qmbank::BankEntry> sounds = qmtest::bankOf({"A_One", "A_Two"});
    qmtest::EngineRig rig(sounds);
    rig.setAllEffects(false);
    rig.pushCanvas({0, 1}, {0.6f, 0.4f});
    KeySpaceDSP& dsp = rig.dsp();
    // LFO 1 per voice, LFO 2 the engine's, both Sine at odd rates; no slot in use.
    for (int l = 0; l < 2; ++l)
    {
        const int first = kFirstLfoParam + kParamsPerLfo * l;
        dsp.params[static_cast<std::size_t>(first + kLfoParamShape)].value = static_cast<float>(kLfoSine);
        dsp.params[static_cast<std::size_t>(first + kLfoParamSpeed)].value = 1.7f + 2.9f * static_cast<float>(l);
        dsp.params[static_cast<std::size_t>(first + kLfoParamPerVoice)].value = l == 0 ? 1.0f : 0.0f;
    }
    for (int note : {48, 55, 64})
        qmtest::noteOn(dsp, note, 90);

    // Calls shorter than a hop, of one hop, a sample past it, and of several hops with a rest.
    const int lengths[] = {1, 127, 128, 129, 300, 512, 64, 1000, 384, 37};
    std::vector<float> left, right;
    for (const int length : lengths)
    {
        SCOPED_TRACE(testing::Message() << "call of " << length << " samples");
        rig.render(length, length, left, right);
        ASSERT_GE(dsp.voiceCount, 3);
        for (int l = 0; l < 2; ++l)
        {
            EXPECT_TRUE(holdsItsValue(dsp.globalMod.lfo[static_cast<std::size_t>(l)], kLfoSine));
            for (int i = 0; i < dsp.voiceCount; ++i)
                EXPECT_TRUE(holdsItsValue(dsp.voices[static_cast<std::size_t>(i)].mod.lfo[static_cast<std::size_t>(l)], kLfoSine));
        }
    }
    // The LFOs did move and swing.
    EXPECT_NE(dsp.voices[0].mod.lfo[0].phase, 0.0f);
    EXPECT_NE(dsp.voices[0].mod.lfo[0].value, 0.0f);
}
