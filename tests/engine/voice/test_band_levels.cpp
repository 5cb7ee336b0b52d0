// Band levels: the envelope frames a voice keeps from hop to hop give, hop after hop, exactly what
// reading the frames afresh gives, while the frames move on, the sounds change and the number of
// bands read grows and shrinks.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "engine/params/ParamTable.h"
#include "support/EngineTestHelpers.h"

TEST(BandLevels, KeptEnvelopeFramesGiveWhatFreshlyReadOnesGive)
{
    // Two engines render the same scene one hop per call; before each call the second one forgets
    // the frames its voices kept, so that it reads them afresh every hop.
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    qmtest::EngineRig keptRig(bank);
    qmtest::EngineRig freshRig(bank);
    constexpr int kHop = 128;
    for (qmtest::EngineRig* rig : {&keptRig, &freshRig})
    {
        KeySpaceDSP& dsp = rig->dsp();
        rig->setAllEffects(false);
        rig->pushCanvas({4, 8, 19, 22, 25, 30}, {}, kCanvasModeXYPad); // sounds with frame envelopes
        dsp.params[kParamTimeWarp].value = 0.15f; // the sounds' envelopes last several times longer
        for (int note : {84, 52, 91, 67, 96})
            qmtest::noteOn(dsp, note, 100);
    }

    std::vector<float> keptL, keptR, freshL, freshR;
    bool grew = false;
    bool shrank = false;
    bool moved = false;
    for (int hop = 0; hop < 1500; ++hop)
    {
        const float s = std::sin(static_cast<float>(hop) * 0.05f);
        for (qmtest::EngineRig* rig : {&keptRig, &freshRig})
        {
            KeySpaceDSP& dsp = rig->dsp();
            // The formant shift moves the bands the harmonics read; the morph point the sounds.
            dsp.params[kParamFormant].value = 30.0f * s;
            dsp.params[kParamMorphX].value = 0.5f + 0.45f * s;
            dsp.params[kParamMorphY].value = 0.5f + 0.45f * std::cos(static_cast<float>(hop) * 0.007f);
        }
        for (KeyVoice& v : freshRig.dsp().voices)
            for (KeyVoice::EnvelopeFrames& ef : v.envelopeFrames)
                ef = KeyVoice::EnvelopeFrames{};
        const auto before = keptRig.dsp().voices[0].envelopeFrames;
        const uint32_t seed = static_cast<uint32_t>(hop) * 7919u + 1u;
        keptRig.renderSeeded(seed, kHop, keptL, keptR);
        freshRig.renderSeeded(seed, kHop, freshL, freshR);
        const auto& after = keptRig.dsp().voices[0].envelopeFrames;
        for (std::size_t j = 0; j < after.size(); ++j)
        {
            const bool same = after[j].envelope == before[j].envelope && after[j].frame0 == before[j].frame0 &&
                              after[j].frame1 == before[j].frame1;
            grew = grew || (same && after[j].bands > before[j].bands && before[j].bands > 0);
            shrank = shrank || (same && after[j].bands < before[j].bands && after[j].bands > 0);
            moved = moved || (after[j].envelope == before[j].envelope && after[j].frame0 != before[j].frame0 &&
                              before[j].frame0 >= 0);
        }
    }
    ASSERT_EQ(keptL.size(), freshL.size());
    EXPECT_EQ(std::memcmp(keptL.data(), freshL.data(), keptL.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(keptR.data(), freshR.data(), keptR.size() * sizeof(float)), 0);
    EXPECT_GT(qmtest::peakOf(keptL), 0.0f);
    // The scene kept frames while the bands read grew and shrank, and moved on to new frames.
    EXPECT_TRUE(grew);
    EXPECT_TRUE(shrank);
    EXPECT_TRUE(moved);
}
