// The per-harmonic amplitude pass in its two vector forms: the wide form takes a group's band
// values by how many bands the group's formant positions span, the baseline gathers them harmonic
// by harmonic, and both must give the same amplitudes, state and noise draws at any formant shift.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/Random.h"
#include "engine/VectorWidth.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/voice/VoiceHop.h"
#include "support/EngineTestHelpers.h"

namespace
{

// An engine playing one noisy, oscillating note of the demo bank in the given vector form; the
// voice it plays.
struct NoisyNote
{
    explicit NoisyNote(bool wide) : rig((engineSrand(99u), qmbank::demoBank()))
    {
        rig.dsp().useWideVectors(wide);
        rig.pushCanvas({16, 21}, {0.6f, 0.4f});
        voice = &rig.dsp().voices[size_t(qmtest::noteOn(rig.dsp(), 33, 110))];
        setCanonRandSeed(kCanonRandInitialSeed);
        std::vector<float> l, r;
        rig.render(2048, 512, l, r);
    }
    qmtest::EngineRig rig;
    KeyVoice* voice = nullptr;
};

template <class A>
bool sameBits(const A& a, const A& b, int count)
{
    return std::memcmp(a.data(), b.data(), sizeof(a[0]) * size_t(count)) == 0;
}

} // namespace

// Formant ratios from a group in one band to groups over many more bands than eight (and the
// harmonics pressed below the first band), counts from one partial group to all harmonics; three
// hops each, so that noise phases run out and draw. Amplitudes, oscillation and noise state and
// the canonical generator's state after each hop agree bit for bit.
TEST(HarmonicAmplitudes, BothVectorFormsAgreeAtAnyFormantShift)
{
    if (!wideVectorsSupported()) GTEST_SKIP() << "no AVX2 and FMA here: only the baseline form runs";
    NoisyNote baseline(false), wide(true);
    ASSERT_GE(baseline.voice->voiceHarmonicCount, 100) << "the note must sound many harmonics";
    const float kRatios[] = {0.3f, 0.77f, 1.0f, 1.02f, 1.37f, 2.6f, 9.0f};
    const int kCounts[] = {1, 7, 9, 40, 100, kMaxHarmonics};
    uint32_t seed = 1234u;
    int hopsThatDrew = 0;
    for (const float ratio : kRatios)
        for (const int count : kCounts)
            for (int hop = 0; hop < 3; ++hop)
            {
                SCOPED_TRACE(testing::Message() << "ratio " << ratio << " count " << count << " hop " << hop);
                voicehop::HarmonicHop hh{count, ratio, 1.0f, 2.5f};
                hh.corrWeight = 0.7f;
                hh.spreadWeight = 0.4f;
                uint32_t after[2];
                NoisyNote* notes[2] = {&baseline, &wide};
                for (int k = 0; k < 2; ++k)
                {
                    setCanonRandSeed(seed);
                    voicehop::harmonicAmplitudes(notes[k]->rig.dsp(), *notes[k]->voice, hh);
                    after[k] = getCanonRandSeed();
                }
                ASSERT_EQ(after[0], after[1]) << "both forms draw alike";
                hopsThatDrew += after[0] != seed ? 1 : 0;
                ++seed;
                const KeySpaceDSP& b = baseline.rig.dsp();
                const KeySpaceDSP& w = wide.rig.dsp();
                for (size_t part = 0; part < KeySpaceDSP::kNumPartialParts; ++part)
                    ASSERT_TRUE(sameBits(b.partialAmp[part], w.partialAmp[part], count)) << "part " << part;
                const HarmonicState& bs = baseline.voice->harmonics;
                const HarmonicState& ws = wide.voice->harmonics;
                ASSERT_TRUE(sameBits(bs.oscPhase, ws.oscPhase, kMaxHarmonics));
                for (const auto field : {&BandLimNoiseBank<kMaxHarmonics>::phase, &BandLimNoiseBank<kMaxHarmonics>::old1Re,
                                         &BandLimNoiseBank<kMaxHarmonics>::new1Re, &BandLimNoiseBank<kMaxHarmonics>::old2Im,
                                         &BandLimNoiseBank<kMaxHarmonics>::new2Im})
                    ASSERT_TRUE(sameBits(bs.noise.*field, ws.noise.*field, kMaxHarmonics));
            }
    EXPECT_GT(hopsThatDrew, 20) << "the noise must draw";
}
