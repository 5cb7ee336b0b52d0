// Each harmonic's amplitude per channel from its formant-shifted band position, its band's
// oscillation and, for noisy bands, its own band-limited noise.

#include <algorithm>
#include <cstdint>

#include "engine/KeySpaceDSP.h"
#include "engine/VectorWidth.h"
#include "engine/voice/VoiceHop.h"

namespace
{

using voicehop::HarmonicHop;

// A harmonic whose noisy part is at most this share of its tonal part is rendered as a pure tone.
constexpr float kNoiseThreshold = 0.001f;
// Harmonic positions at or above this read the last band position.
constexpr float kTopHarmonic = static_cast<float>(kMaxHarmonics - 1);

// x - floor(x) without a library call: truncation corrected for negative values where the value
// fits an int; beyond that every float is whole (and inf or NaN gives NaN, as x - floor(x) does).
[[gnu::always_inline]] inline float fractionOf(float x) noexcept
{
    const float whole = static_cast<float>(static_cast<int32_t>(x));
    const float below = whole > x ? whole - 1.0f : whole;
    return std::fabs(x) < 2147483520.0f ? x - below : x - x;
}

// Formant-shifted position of harmonics 0..count-1 and the index of its band table entry.
// Harmonic 0 (half the fundamental) stays at 0, the others at 1 or above.
[[gnu::always_inline]] inline void formantPositions(int count, float formantRatio, float* __restrict position,
                                                    int32_t* __restrict index) noexcept
{
    if (count > 0) position[0] = 0.0f, index[0] = 0;
    for (int h = 1; h < count; ++h)
    {
        const float scaled = static_cast<float>(h) * formantRatio;
        const float hpos = 1.0f < scaled ? scaled : 1.0f;
        position[h] = hpos;
        index[h] = static_cast<int32_t>(hpos < kTopHarmonic ? hpos : kTopHarmonic);
    }
}

// Band levels and oscillation of harmonics 0..count-1: state, outputs and the copies of each
// harmonic's own band values contiguous per harmonic, band tables of this hop gathered by the
// harmonic's formant position c. Returns how many harmonics are noisy.
[[gnu::always_inline]] inline int
bandValues(int count, const float* __restrict position, const int32_t* __restrict index,
           const int32_t* __restrict harmBandPos,
           const int32_t* __restrict bandStart, const float* __restrict invWidth,
           const float* __restrict tonalW, const float* __restrict noisyW, const float* __restrict widthW,
           const float* __restrict oscRate, const float* __restrict depth1, const float* __restrict depth2,
           float* __restrict oscPhase, float* __restrict tonalOut, float* __restrict noisyOut,
           float* __restrict stepOut, float* __restrict rotRe, float* __restrict rotIm,
           int32_t* __restrict isNoisy) noexcept
{
    int noisyCount = 0;
    for (int h = 0; h < count; ++h)
    {
        const int32_t c = harmBandPos[index[h]];
        const float x = (position[h] - static_cast<float>(bandStart[c])) * invWidth[c];
        const float tonal = tonalW[c] + x * (tonalW[c + 1] - tonalW[c]);
        const float noisy = noisyW[c] + x * (noisyW[c + 1] - noisyW[c]);
        const float phase = fractionOf(oscPhase[h] + oscRate[h]);
        oscPhase[h] = phase;
        const float y = phase - 0.5f;
        const float y2 = y * y;
        const float sine = y * (6.2790036f + y2 * (-41.104263f + y2 * (77.99433f + y2 * -56.165348f)));
        const int32_t noisyHarmonic = noisy <= kNoiseThreshold * tonal ? 0 : 1;
        tonalOut[h] = tonal;
        noisyOut[h] = noisy;
        stepOut[h] = widthW[c] + x * (widthW[c + 1] - widthW[c]);
        rotRe[h] = depth1[h];
        rotIm[h] = depth2[h] * sine;
        isNoisy[h] = noisyHarmonic;
        noisyCount += noisyHarmonic;
    }
    return noisyCount;
}

// Pure tones: the rotation scaled by the tonal level, the same in both channels.
[[gnu::always_inline]] inline void pureTones(int count, const float* __restrict rotRe,
                                             const float* __restrict rotIm, const float* __restrict tonal,
                                             float* __restrict re0, float* __restrict im0,
                                             float* __restrict re1, float* __restrict im1) noexcept
{
    for (int h = 0; h < count; ++h)
    {
        re0[h] = re1[h] = rotRe[h] * tonal[h];
        im0[h] = im1[h] = rotIm[h] * tonal[h];
    }
}

// Tone plus noise where the harmonic is noisy (re0..im1 hold its two noise values on entry), the
// pure tone elsewhere; all arrays contiguous per harmonic.
[[gnu::always_inline]] inline void
tonesWithNoise(int count, const float* __restrict rotRe, const float* __restrict rotIm,
               const float* __restrict tonalIn, const float* __restrict noisyIn,
               const int32_t* __restrict isNoisy, float* __restrict re0, float* __restrict im0,
               float* __restrict re1, float* __restrict im1) noexcept
{
    for (int h = 0; h < count; ++h)
    {
        const CF rot{rotRe[h], rotIm[h]};
        const float tonal = tonalIn[h];
        const float noisy = noisyIn[h];
        const CF pure = voicehop::cscale(rot, tonal);
        const CF a0 = voicehop::cmul({noisy * re0[h] + tonal, noisy * im0[h]}, rot);
        const CF a1 = voicehop::cmul({noisy * re1[h] + tonal, noisy * im1[h]}, rot);
        const bool mixed = isNoisy[h] != 0;
        re0[h] = mixed ? a0.re : pure.re;
        im0[h] = mixed ? a0.im : pure.im;
        re1[h] = mixed ? a1.re : pure.re;
        im1[h] = mixed ? a1.im : pure.im;
    }
}

[[gnu::always_inline]] inline void amplitudes(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    const int count = std::clamp(hh.count, 0, kMaxHarmonics);
    auto& work = e.harmonicWork;
    float* tonal = work[KeySpaceDSP::kHarmWorkTonal].data();
    float* noisy = work[KeySpaceDSP::kHarmWorkNoisy].data();
    float* step = work[KeySpaceDSP::kHarmWorkNoiseStep].data();
    float* rotRe = work[KeySpaceDSP::kHarmWorkRotRe].data();
    float* rotIm = work[KeySpaceDSP::kHarmWorkRotIm].data();
    float* position = work[KeySpaceDSP::kHarmWorkPosition].data();
    int32_t* index = e.harmonicIndexWork[KeySpaceDSP::kHarmWorkBandIndex].data();
    int32_t* isNoisy = e.harmonicIndexWork[KeySpaceDSP::kHarmWorkIsNoisy].data();
    formantPositions(count, hh.formantRatio, position, index);
    const int noisyCount = bandValues(count, position, index, e.harmBandPos.data(),
                                      e.bandStart.data(), e.bandInvWidth.data(), e.bandTonalWork.data(),
                                      e.bandNoisyWork.data(), e.bandWidthWork.data(), v.harmonics.bandOscRate.data(),
                                      v.harmonics.bandDepth1.data(), v.harmonics.bandDepth2.data(),
                                      v.harmonics.oscPhase.data(), tonal, noisy, step, rotRe, rotIm, isNoisy);
    float* amp[4] = {
        e.partialAmp[KeySpaceDSP::kPartialRe0].data(), e.partialAmp[KeySpaceDSP::kPartialIm0].data(),
        e.partialAmp[KeySpaceDSP::kPartialRe1].data(), e.partialAmp[KeySpaceDSP::kPartialIm1].data()};
    if (noisyCount == 0) return pureTones(count, rotRe, rotIm, tonal, amp[0], amp[1], amp[2], amp[3]);
    // The noise values go into the partial list first, where the amplitudes then replace them.
    v.harmonics.noise.step(step, isNoisy, count, hh.corrWeight, hh.spreadWeight, amp);
    tonesWithNoise(count, rotRe, rotIm, tonal, noisy, isNoisy, amp[0], amp[1], amp[2], amp[3]);
}

void amplitudesBaseline(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    amplitudes(e, v, hh);
}

#if QM_WIDE_VECTORS
QM_WIDE_TARGET void amplitudesWide(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    amplitudes(e, v, hh);
}
#endif

} // namespace

void voicehop::harmonicAmplitudes(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
#if QM_WIDE_VECTORS
    if (e.usesWideVectors()) return amplitudesWide(e, v, hh);
#endif
    amplitudesBaseline(e, v, hh);
}
