// The per-harmonic amplitude pass in its two vector forms: the wide form takes a group's band
// values by how many bands the group's formant positions span, the baseline gathers them harmonic
// by harmonic, and both must give the same state and noise draws at any formant shift, and the same
// amplitudes up to the rounding of the wide form's fused multiply-adds.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/Random.h"
#include "engine/VectorWidth.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/synth/BandLimNoiseCS.h"
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

// Fused and separate roundings of a channel's complex amplitude differ by a few units in the last
// place of its magnitude: far below this share of it, and far above it where a term is wrong.
constexpr float kFusedRounding = 1e-5f;

// Whether two engines' amplitudes of harmonics 0..count-1 agree within kFusedRounding of each
// channel's larger part.
bool sameWithinRounding(const KeySpaceDSP& a, const KeySpaceDSP& b, int count)
{
    for (size_t h = 0; h < size_t(count); ++h)
        for (size_t re = 0; re < KeySpaceDSP::kNumPartialParts; re += 2)
        {
            const float scale = std::max(std::fabs(a.partialAmp[re][h]), std::fabs(a.partialAmp[re + 1][h]));
            for (const size_t part : {re, re + 1})
                if (!(std::fabs(a.partialAmp[part][h] - b.partialAmp[part][h]) <= kFusedRounding * scale))
                    return false;
        }
    return true;
}

} // namespace

// Formant ratios from a group in one band to groups over many more bands than eight (and the
// harmonics pressed below the first band), counts from one partial group to all harmonics; three
// hops each, so that noise phases run out and draw. Oscillation and noise state and the canonical
// generator's state after each hop agree bit for bit, the amplitudes within rounding.
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
                ASSERT_TRUE(sameWithinRounding(b, w, count));
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

// Each form against a plain model, harmonic by harmonic, after every hop: the band values at the
// formant position, the oscillation at the new phase and the noise as the sources stand after the
// step give tone plus noise where the noisy level is above a thousandth of the tonal one, the pure
// tone elsewhere, also where a little noise is left out: the baseline exactly, the wide form within
// the rounding of its fused multiply-adds. The hops must reach groups of eight that are all pure,
// all noisy and mixed.
TEST(HarmonicAmplitudes, EveryGroupSoundsToneAndNoiseHarmonicByHarmonic)
{
    struct Form
    {
        bool wide;
    };
    std::vector<Form> forms = {{false}};
    if (wideVectorsSupported()) forms.push_back({true});
    for (const Form form : forms)
    {
        SCOPED_TRACE(form.wide ? "wide" : "baseline");
        NoisyNote note(form.wide);
        const KeySpaceDSP& e = note.rig.dsp();
        // Every third band barely noisy, below the threshold: its harmonics are pure tones whose
        // noise would still be heard if it were mixed in.
        for (size_t c = 1; c < note.rig.dsp().bandNoisyWork.size(); c += 3)
            note.rig.dsp().bandNoisyWork[c] = 0.0005f * std::fabs(e.bandTonalWork[c]);
        const HarmonicState& hs = note.voice->harmonics;
        const HarmonicBands& bands = e.harmonicBands(*note.voice);
        const auto& bank = hs.noise;
        int pureGroups = 0, noisyGroups = 0, mixedGroups = 0;
        for (const float ratio : {0.3f, 0.77f, 1.0f, 1.37f, 2.6f, 9.0f})
            for (const int count : {9, 100, kMaxHarmonics})
                for (int hop = 0; hop < 4; ++hop)
                {
                    SCOPED_TRACE(testing::Message() << "ratio " << ratio << " count " << count << " hop " << hop);
                    voicehop::HarmonicHop hh{count, ratio, 1.0f, 2.5f};
                    hh.corrWeight = 0.6f;
                    hh.spreadWeight = 0.5f;
                    voicehop::harmonicAmplitudes(note.rig.dsp(), *note.voice, hh);
                    uint32_t groupNoisy = 0;
                    for (int h = 0; h < count; ++h)
                    {
                        const float position = h == 0 ? 0.0f : voicehop::formantPosition(h, ratio);
                        const auto c = size_t(e.harmBandPos[size_t(voicehop::formantIndex(position))]);
                        const float x = (position - float(e.bandStart[c])) * e.bandInvWidth[c];
                        const auto at = [&](const auto& table) { return table[c] + x * (table[c + 1] - table[c]); };
                        const float tonal = at(e.bandTonalWork), noisy = at(e.bandNoisyWork);
                        const bool white = at(e.bandWidthWork) > bandlim::kWhiteStep;
                        const float y = hs.oscPhase[size_t(h)] - 0.5f, y2 = y * y;
                        const float sine = y * (6.2790036f + y2 * (-41.104263f + y2 * (77.99433f + y2 * -56.165348f)));
                        const CF rot = {bands.bandDepth1[size_t(h)], bands.bandDepth2[size_t(h)] * sine};
                        const auto value = [&](const auto& oldValue, const auto& newValue) {
                            return bandlim::crossfaded(white, bank.phase[size_t(h)], oldValue[size_t(h)],
                                                       newValue[size_t(h)]);
                        };
                        const bool isNoisy = !(noisy <= 0.001f * tonal);
                        const CF n[2] = {{value(bank.old1Re, bank.new1Re), value(bank.old1Im, bank.new1Im)},
                                         {value(bank.old2Re, bank.new2Re), value(bank.old2Im, bank.new2Im)}};
                        for (size_t ch = 0; ch < 2; ++ch)
                        {
                            const CF a = {noisy * n[ch].re + tonal, noisy * n[ch].im};
                            const CF want = isNoisy ? CF{a.re * rot.re - a.im * rot.im, a.re * rot.im + a.im * rot.re}
                                                    : CF{rot.re * tonal, rot.im * tonal};
                            const float rounding =
                                form.wide ? kFusedRounding * std::max(std::fabs(want.re), std::fabs(want.im)) : 0.0f;
                            ASSERT_NEAR(e.partialAmp[2 * ch][size_t(h)], want.re, rounding)
                                << "harmonic " << h << " channel " << ch;
                            ASSERT_NEAR(e.partialAmp[2 * ch + 1][size_t(h)], want.im, rounding)
                                << "harmonic " << h << " channel " << ch;
                        }
                        groupNoisy |= (isNoisy ? 1u : 0u) << (h % 8);
                        if (h % 8 == 7)
                        {
                            pureGroups += groupNoisy == 0 ? 1 : 0;
                            noisyGroups += groupNoisy == 0xffu ? 1 : 0;
                            mixedGroups += groupNoisy != 0 && groupNoisy != 0xffu ? 1 : 0;
                            groupNoisy = 0;
                        }
                    }
                }
        EXPECT_GT(pureGroups, 10);
        EXPECT_GT(noisyGroups, 10);
        EXPECT_GT(mixedGroups, 10);
    }
}
