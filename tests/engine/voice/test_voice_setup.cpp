// Voice set-up: what it keeps from one set-up to the next (the zones it parsed, the note's
// frequency, the velocity curve's gain) gives, set-up after set-up, exactly what working it all out
// afresh gives, while the morph moves over sounds of several zones, notes start and the curve changes.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "engine/params/ParamTable.h"
#include "support/EngineTestHelpers.h"

TEST(VoiceSetup, KeptZonesAndCurveGiveWhatWorkingThemOutAfreshGives)
{
    // Two engines render the same scene one hop per call; before each call the second one forgets
    // what its voices kept, so that every set-up works everything out afresh.
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    qmtest::EngineRig keptRig(bank);
    qmtest::EngineRig freshRig(bank);
    constexpr int kHop = 128;
    for (qmtest::EngineRig* rig : {&keptRig, &freshRig})
    {
        rig->setAllEffects(false);
        rig->pushCanvas({6, 10, 12, 14, 16, 18, 22, 24}, {}, kCanvasModeXYPad); // sounds of five or seven zones
        qmtest::noteOn(rig->dsp(), 40, 100);
        qmtest::noteOn(rig->dsp(), 64, 50);
    }
    std::vector<float> keptL, keptR, freshL, freshR;
    for (int hop = 0; hop < 600; ++hop)
    {
        for (qmtest::EngineRig* rig : {&keptRig, &freshRig})
        {
            KeySpaceDSP& dsp = rig->dsp();
            // The morph point circles the canvas, so that sounds come and go; the curve changes.
            dsp.params[kParamMorphX].value = 0.5f + 0.48f * std::sin(static_cast<float>(hop) * 0.03f);
            dsp.params[kParamMorphY].value = 0.5f + 0.48f * std::cos(static_cast<float>(hop) * 0.021f);
            dsp.params[kParamVeloToAmp].value = hop < 300 ? 0.5f : 1.0f;
            // The first voice's note ends, and the voice plays another one in another zone.
            if (hop == 100)
                qmtest::noteOff(dsp, 40);
            if (hop == 320)
                qmtest::noteOn(dsp, 76, 60);
            if (hop == 450)
                qmtest::noteOn(dsp, 52, 90);
        }
        for (KeyVoice& v : freshRig.dsp().voices)
        {
            v.knownZones = {};
            v.hzNote = -1;
            v.curveKnown = 0;
        }
        const uint32_t seed = static_cast<uint32_t>(hop) * 7919u + 1u;
        keptRig.renderSeeded(seed, kHop, keptL, keptR);
        freshRig.renderSeeded(seed, kHop, freshL, freshR);
    }
    ASSERT_EQ(keptL.size(), freshL.size());
    EXPECT_EQ(std::memcmp(keptL.data(), freshL.data(), keptL.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(keptR.data(), freshR.data(), keptR.size() * sizeof(float)), 0);
    EXPECT_GT(qmtest::peakOf(keptL), 0.0f);
    // The first voice played the new note, and the voices kept zones and a curve's gain.
    const KeyVoice& v = keptRig.dsp().voices[0];
    EXPECT_EQ(v.note, 76);
    EXPECT_NE(v.knownZones[0].sound, nullptr);
    EXPECT_EQ(v.curveKnown, 1);
}
