// Each harmonic's amplitude per channel from its formant-shifted band position, its band's
// oscillation and, for noisy bands, its own band-limited noise.

// Eight-float vectors pass between functions here only inside one form's inlined loop, never
// across a call the two forms would have to agree on.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "engine/KeySpaceDSP.h"
#include "engine/VectorWidth.h"
#include "engine/voice/VoiceHop.h"

#if QM_WIDE_VECTORS
#include <immintrin.h>
#endif

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

// The band values at the formant positions of harmonics 0..count-1, one harmonic at a time: the
// band index c gathered by the harmonic's position index, then each value by c.
[[gnu::always_inline]] inline void bandsAtHarmonics(int count, const int32_t* __restrict index,
                                                    const int32_t* __restrict harmBandPos,
                                                    const int32_t* __restrict bandStart,
                                                    const float* __restrict invWidth, const float* __restrict tonalW,
                                                    const float* __restrict noisyW, const float* __restrict widthW,
                                                    float* const* __restrict out) noexcept
{
    for (int h = 0; h < count; ++h)
    {
        const int32_t c = harmBandPos[index[h]];
        out[KeySpaceDSP::kBandAtStart][h] = static_cast<float>(bandStart[c]);
        out[KeySpaceDSP::kBandAtInvWidth][h] = invWidth[c];
        out[KeySpaceDSP::kBandAtTonal][h] = tonalW[c];
        out[KeySpaceDSP::kBandAtTonalNext][h] = tonalW[c + 1];
        out[KeySpaceDSP::kBandAtNoisy][h] = noisyW[c];
        out[KeySpaceDSP::kBandAtNoisyNext][h] = noisyW[c + 1];
        out[KeySpaceDSP::kBandAtWidth][h] = widthW[c];
        out[KeySpaceDSP::kBandAtWidthNext][h] = widthW[c + 1];
    }
}

#if QM_WIDE_VECTORS
// The same values eight harmonics at a time: the bands in use laid out as rows of the eight values,
// then eight harmonics' rows read whole and transposed into the eight per-harmonic arrays. The
// position index never falls as h rises, so the last harmonic's band is the highest one read.
QM_WIDE_TARGET void bandsAtHarmonicsWide(int count, const int32_t* __restrict index,
                                         const int32_t* __restrict harmBandPos, const int32_t* __restrict bandStart,
                                         const float* __restrict invWidth, const float* __restrict tonalW,
                                         const float* __restrict noisyW, const float* __restrict widthW,
                                         float* const* __restrict out) noexcept
{
    if (count <= 0) return;
    alignas(32) float rows[kNumHarmonicBands][KeySpaceDSP::kNumBandAtParts];
    const int top = std::min(harmBandPos[index[count - 1]], kNumHarmonicBands - 1);
    for (int c = 0; c <= top; ++c)
    {
        float* row = rows[c];
        row[KeySpaceDSP::kBandAtStart] = static_cast<float>(bandStart[c]);
        row[KeySpaceDSP::kBandAtInvWidth] = invWidth[c];
        row[KeySpaceDSP::kBandAtTonal] = tonalW[c];
        row[KeySpaceDSP::kBandAtTonalNext] = tonalW[c + 1];
        row[KeySpaceDSP::kBandAtNoisy] = noisyW[c];
        row[KeySpaceDSP::kBandAtNoisyNext] = noisyW[c + 1];
        row[KeySpaceDSP::kBandAtWidth] = widthW[c];
        row[KeySpaceDSP::kBandAtWidthNext] = widthW[c + 1];
    }
    int h = 0;
    for (; h + 8 <= count; h += 8)
    {
        __m256 r[8];
        for (int k = 0; k < 8; ++k)
            r[k] = _mm256_load_ps(rows[std::min(harmBandPos[index[h + k]], top)]);
        __m256 t[8];
        for (int k = 0; k < 8; k += 2)
        {
            t[k] = _mm256_unpacklo_ps(r[k], r[k + 1]);
            t[k + 1] = _mm256_unpackhi_ps(r[k], r[k + 1]);
        }
        __m256 q[8];
        for (int k = 0; k < 8; k += 4)
        {
            q[k] = _mm256_shuffle_ps(t[k], t[k + 2], _MM_SHUFFLE(1, 0, 1, 0));
            q[k + 1] = _mm256_shuffle_ps(t[k], t[k + 2], _MM_SHUFFLE(3, 2, 3, 2));
            q[k + 2] = _mm256_shuffle_ps(t[k + 1], t[k + 3], _MM_SHUFFLE(1, 0, 1, 0));
            q[k + 3] = _mm256_shuffle_ps(t[k + 1], t[k + 3], _MM_SHUFFLE(3, 2, 3, 2));
        }
        for (int k = 0; k < 4; ++k)
        {
            _mm256_storeu_ps(out[k] + h, _mm256_permute2f128_ps(q[k], q[k + 4], 0x20));
            _mm256_storeu_ps(out[k + 4] + h, _mm256_permute2f128_ps(q[k], q[k + 4], 0x31));
        }
    }
    for (; h < count; ++h)
    {
        const float* row = rows[std::min(harmBandPos[index[h]], top)];
        for (int k = 0; k < KeySpaceDSP::kNumBandAtParts; ++k)
            out[k][h] = row[k];
    }
}
#endif

// Band levels and oscillation of harmonics 0..count-1: state, outputs, the band values at each
// harmonic's formant position and the copies of its own band's values contiguous per harmonic.
// Returns how many harmonics are noisy.
[[gnu::always_inline]] inline int
bandValues(int count, const float* __restrict position, const float* const* __restrict at,
           const float* __restrict oscRate, const float* __restrict depth1, const float* __restrict depth2,
           float* __restrict oscPhase, float* __restrict tonalOut, float* __restrict noisyOut,
           float* __restrict stepOut, float* __restrict rotRe, float* __restrict rotIm,
           int32_t* __restrict isNoisy) noexcept
{
    const float* __restrict start = at[KeySpaceDSP::kBandAtStart];
    const float* __restrict invWidth = at[KeySpaceDSP::kBandAtInvWidth];
    const float* __restrict tonal0 = at[KeySpaceDSP::kBandAtTonal];
    const float* __restrict tonal1 = at[KeySpaceDSP::kBandAtTonalNext];
    const float* __restrict noisy0 = at[KeySpaceDSP::kBandAtNoisy];
    const float* __restrict noisy1 = at[KeySpaceDSP::kBandAtNoisyNext];
    const float* __restrict width0 = at[KeySpaceDSP::kBandAtWidth];
    const float* __restrict width1 = at[KeySpaceDSP::kBandAtWidthNext];
    int noisyCount = 0;
    for (int h = 0; h < count; ++h)
    {
        const float x = (position[h] - start[h]) * invWidth[h];
        const float tonal = tonal0[h] + x * (tonal1[h] - tonal0[h]);
        const float noisy = noisy0[h] + x * (noisy1[h] - noisy0[h]);
        const float phase = fractionOf(oscPhase[h] + oscRate[h]);
        oscPhase[h] = phase;
        const float y = phase - 0.5f;
        const float y2 = y * y;
        const float sine = y * (6.2790036f + y2 * (-41.104263f + y2 * (77.99433f + y2 * -56.165348f)));
        const int32_t noisyHarmonic = noisy <= kNoiseThreshold * tonal ? 0 : 1;
        tonalOut[h] = tonal;
        noisyOut[h] = noisy;
        stepOut[h] = width0[h] + x * (width1[h] - width0[h]);
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

static_assert(kMaxHarmonics % voicehop::kLanes8 == 0, "per-harmonic arrays hold whole groups of eight");

[[gnu::always_inline]] inline voicehop::F8 load8(const float* p) noexcept
{
    voicehop::F8 x;
    std::memcpy(&x, p, sizeof x);
    return x;
}
[[gnu::always_inline]] inline voicehop::I8 load8i(const int32_t* p) noexcept
{
    voicehop::I8 x;
    std::memcpy(&x, p, sizeof x);
    return x;
}
[[gnu::always_inline]] inline void store8(float* p, voicehop::F8 x) noexcept { std::memcpy(p, &x, sizeof x); }

// Tone plus noise where the harmonic is noisy, the pure tone elsewhere, with the noise values
// read from the harmonics' noise sources as they stand after this hop's step; all arrays
// contiguous per harmonic.
[[gnu::always_inline]] inline void tonesWithNoise(int count, const float* __restrict rotRe,
                                                  const float* __restrict rotIm, const float* __restrict tonalIn,
                                                  const float* __restrict noisyIn, const float* __restrict step,
                                                  const int32_t* __restrict isNoisy,
                                                  const BandLimNoiseBank<kMaxHarmonics>& noise,
                                                  float* __restrict re0, float* __restrict im0,
                                                  float* __restrict re1, float* __restrict im1) noexcept
{
    const float* __restrict phase = noise.phase.data();
    const float* __restrict old1Re = noise.old1Re.data();
    const float* __restrict old1Im = noise.old1Im.data();
    const float* __restrict new1Re = noise.new1Re.data();
    const float* __restrict new1Im = noise.new1Im.data();
    const float* __restrict old2Re = noise.old2Re.data();
    const float* __restrict old2Im = noise.old2Im.data();
    const float* __restrict new2Re = noise.new2Re.data();
    const float* __restrict new2Im = noise.new2Im.data();
    // Eight harmonics at a time, the last group's spare lanes computed and stored with the rest:
    // every array holds whole groups of eight, and nothing downstream reads past count.
    for (int h = 0; h < count; h += voicehop::kLanes8)
    {
        using voicehop::F8;
        using voicehop::I8;
        const I8 white = load8(step + h) > bandlim::kWhiteStep;
        const F8 x = load8(phase + h);
        const F8 n0re = bandlim::crossfaded(white, x, load8(old1Re + h), load8(new1Re + h));
        const F8 n0im = bandlim::crossfaded(white, x, load8(old1Im + h), load8(new1Im + h));
        const F8 n1re = bandlim::crossfaded(white, x, load8(old2Re + h), load8(new2Re + h));
        const F8 n1im = bandlim::crossfaded(white, x, load8(old2Im + h), load8(new2Im + h));
        const F8 rotR = load8(rotRe + h);
        const F8 rotI = load8(rotIm + h);
        const F8 tonal = load8(tonalIn + h);
        const F8 noisy = load8(noisyIn + h);
        const I8 mixed = load8i(isNoisy + h) != 0;
        const F8 a0r = noisy * n0re + tonal, a0i = noisy * n0im;
        const F8 a1r = noisy * n1re + tonal, a1i = noisy * n1im;
        store8(re0 + h, mixed ? a0r * rotR - a0i * rotI : rotR * tonal);
        store8(im0 + h, mixed ? a0r * rotI + a0i * rotR : rotI * tonal);
        store8(re1 + h, mixed ? a1r * rotR - a1i * rotI : rotR * tonal);
        store8(im1 + h, mixed ? a1r * rotI + a1i * rotR : rotI * tonal);
    }
}

template <bool kWide>
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
    float* at[KeySpaceDSP::kNumBandAtParts];
    for (int k = 0; k < KeySpaceDSP::kNumBandAtParts; ++k)
        at[k] = e.bandAtHarmonicWork[static_cast<std::size_t>(k)].data();
#if QM_WIDE_VECTORS
    if constexpr (kWide)
        bandsAtHarmonicsWide(count, index, e.harmBandPos.data(), e.bandStart.data(), e.bandInvWidth.data(),
                             e.bandTonalWork.data(), e.bandNoisyWork.data(), e.bandWidthWork.data(), at);
    else
#endif
        bandsAtHarmonics(count, index, e.harmBandPos.data(), e.bandStart.data(), e.bandInvWidth.data(),
                         e.bandTonalWork.data(), e.bandNoisyWork.data(), e.bandWidthWork.data(), at);
    const int noisyCount = bandValues(count, position, at, v.harmonics.bandOscRate.data(),
                                      v.harmonics.bandDepth1.data(), v.harmonics.bandDepth2.data(),
                                      v.harmonics.oscPhase.data(), tonal, noisy, step, rotRe, rotIm, isNoisy);
    float* amp[4] = {
        e.partialAmp[KeySpaceDSP::kPartialRe0].data(), e.partialAmp[KeySpaceDSP::kPartialIm0].data(),
        e.partialAmp[KeySpaceDSP::kPartialRe1].data(), e.partialAmp[KeySpaceDSP::kPartialIm1].data()};
    if (noisyCount == 0) return pureTones(count, rotRe, rotIm, tonal, amp[0], amp[1], amp[2], amp[3]);
    v.harmonics.noise.advance(step, isNoisy, count, hh.corrWeight, hh.spreadWeight);
    tonesWithNoise(count, rotRe, rotIm, tonal, noisy, step, isNoisy, v.harmonics.noise, amp[0], amp[1], amp[2],
                   amp[3]);
}

} // namespace

void voicehop::harmonicAmplitudes(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    vectorwidth::dispatch(e.usesWideVectors(), [&](auto wide) __attribute__((always_inline)) {
        amplitudes<decltype(wide)::value>(e, v, hh);
    });
}
