// The far ear's delay turns a voice slot keeps from hop to hop: whatever steps and harmonic
// counts came before, placing a voice's harmonics with the turns read back gives the same
// amplitudes as placing them with every turn looked up afresh, in either vector form.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "engine/KeySpaceDSP.h"
#include "engine/VectorWidth.h"
#include "engine/params/ParamTable.h"
#include "engine/voice/VoiceHop.h"
#include "support/EngineTestHelpers.h"

namespace
{

struct Hop
{
    uint32_t farStep;
    int count;
};

// Each sequence runs on one voice in order: growing and shrinking counts under one step, a new
// step, no delay at all, the full harmonic range.
const std::vector<std::vector<Hop>> kSequences = {
    {{30, 100}, {30, 200}, {30, 50}, {30, 51}, {31, 51}, {31, 384}},
    {{339, 26}, {340, 26}, {340, 384}, {0, 9}, {0, 17}, {339, 1}},
    {{7, 1}, {7, 8}, {7, 9}, {1023, 9}, {4096 + 7, 120}},
};

voicehop::HarmonicHop binauralHop(const Hop& hop, int farEar)
{
    voicehop::HarmonicHop hh;
    hh.count = hop.count;
    hh.formantRatio = 1.02f;
    hh.binPos = 2.5f;
    hh.shift = 0.3f;
    hh.midPhase = 77;
    hh.rotSpread = 51;
    hh.binaural = true;
    hh.farEar = farEar;
    hh.shadowInv = 0.01f;
    hh.farStep = hop.farStep;
    return hh;
}

TEST(FarTurns, TurnsReadBackPlaceAsFreshLookupsDo)
{
    for (const bool wide : {false, wideVectorsSupported()})
        for (const auto& sequence : kSequences)
            for (const int farEar : {0, 1})
            {
                qmtest::EngineRig rig(qmbank::demoBank(), 44100.0f);
                KeySpaceDSP& dsp = rig.dsp();
                dsp.useWideVectors(wide);
                dsp.params[kFirstFxSwitch + kFxSlotBinaural].value = 1.0f;
                rig.pushCanvas({16, 21}, {0.5f, 0.5f});
                const auto slot = size_t(qmtest::noteOn(dsp, 40, 100));
                KeyVoice& v = dsp.voices[slot];
                std::vector<float> l, r;
                rig.render(1024, 256, l, r);
                for (const Hop& hop : sequence)
                {
                    SCOPED_TRACE(testing::Message() << "wide " << wide << ", far ear " << farEar << ", step "
                                                    << hop.farStep << ", count " << hop.count);
                    const voicehop::HarmonicHop hh = binauralHop(hop, farEar);
                    voicehop::harmonicAmplitudes(dsp, v, hh);
                    const HarmonicState harmonics = v.harmonics;
                    const auto amplitudes = dsp.partialAmp;
                    const KeySpaceDSP::FarTurns held = dsp.farTurnWork[slot];
                    // Afresh: the slot holds no turns.
                    dsp.farTurnWork[slot].count = 0;
                    voicehop::harmonicPlacement(dsp, v, hh);
                    const auto fresh = dsp.partialAmp;
                    // Read back: the slot holds what the hops before left.
                    v.harmonics = harmonics;
                    dsp.partialAmp = amplitudes;
                    dsp.farTurnWork[slot] = held;
                    voicehop::harmonicPlacement(dsp, v, hh);
                    for (size_t part = 0; part < fresh.size(); ++part)
                        for (size_t h = 0; h < size_t(hop.count); ++h)
                            ASSERT_EQ(fresh[part][h], dsp.partialAmp[part][h])
                                << "part " << part << ", harmonic " << h;
                }
            }
}

} // namespace
