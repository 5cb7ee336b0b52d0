// Each harmonic's amplitude per channel from its formant-shifted band position, its band's
// oscillation and, for noisy bands, its own band-limited noise.

// Eight-float vectors pass between functions here only inside one form's inlined loop, never
// across a call the two forms would have to agree on.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

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

static_assert(kMaxHarmonics % voicehop::kLanes8 == 0, "per-harmonic arrays hold whole groups of eight");


// Formant-shifted position of harmonics 0..count-1 and the index of its band table entry, eight
// at a time (the arrays hold whole groups of eight; the spare lanes get the positions of the
// harmonics they stand for). Harmonic 0 (half the fundamental) stays at 0, the others at 1 or above.
[[gnu::always_inline]] inline void formantPositions(int count, float formantRatio, float* __restrict position,
                                                    int32_t* __restrict index) noexcept
{
    using voicehop::F8;
    using voicehop::I8;
    const F8 zero{};
    const F8 one = zero + 1.0f;
    const F8 top = zero + static_cast<float>(kMaxHarmonics - 1);
    for (int h = 0; h < count; h += voicehop::kLanes8)
    {
        const I8 harmonic = I8{0, 1, 2, 3, 4, 5, 6, 7} + h;
        const F8 scaled = __builtin_convertvector(harmonic, F8) * formantRatio;
        const F8 hpos = harmonic == 0 ? zero : (scaled > one ? scaled : one);
        std::memcpy(position + h, &hpos, sizeof hpos);
        const I8 entry = __builtin_convertvector(hpos < top ? hpos : top, I8);
        std::memcpy(index + h, &entry, sizeof entry);
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

// The band values of harmonics h..h+7 as eight vectors, one per value, from the arrays the
// baseline gathers harmonic by harmonic.
struct GatheredBands
{
    const float* const* at;
    [[gnu::always_inline]] void operator()(int h, voicehop::F8* part) const noexcept
    {
        for (int p = 0; p < KeySpaceDSP::kNumBandAtParts; ++p)
            std::memcpy(&part[p], at[p] + h, sizeof part[p]);
    }
};

#if QM_WIDE_VECTORS
// The same vectors straight from rows of the bands' eight values: eight harmonics' rows read whole
// and transposed in registers.
QM_WIDE_TARGET inline void transposedRows(const float (*rows)[KeySpaceDSP::kNumBandAtParts],
                                          const int32_t* harmBandPos, const int32_t* index, int top,
                                          voicehop::F8* part) noexcept
{
    __m256 r[8];
    for (int k = 0; k < 8; ++k)
        r[k] = _mm256_load_ps(rows[std::min(harmBandPos[index[k]], top)]);
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
        part[k] = reinterpret_cast<voicehop::F8>(_mm256_permute2f128_ps(q[k], q[k + 4], 0x20));
        part[k + 4] = reinterpret_cast<voicehop::F8>(_mm256_permute2f128_ps(q[k], q[k + 4], 0x31));
    }
}

// The bands in use laid out as rows of their eight values. The position index never falls as h
// rises, so the last harmonic's band is the highest one read.
// Bands in groups of eight: the rows above the highest band read are filled but never read.
constexpr int kBandRowCount = (kNumHarmonicBands + voicehop::kLanes8 - 1) / voicehop::kLanes8 * voicehop::kLanes8;
static_assert(kBandRowCount + 1 <= kBandTableSize && kBandRowCount <= kMaxBands, "band tables cover the rows");
static_assert(KeySpaceDSP::kNumBandAtParts == voicehop::kLanes8, "a row is one vector");

// The transpose of eight vectors of eight, in place.
[[gnu::always_inline]] inline void transpose8(voicehop::F8 (&a)[8]) noexcept
{
    using voicehop::F8;
    F8 t[8];
    for (int k = 0; k < 8; k += 2)
    {
        t[k] = __builtin_shufflevector(a[k], a[k + 1], 0, 8, 1, 9, 4, 12, 5, 13);
        t[k + 1] = __builtin_shufflevector(a[k], a[k + 1], 2, 10, 3, 11, 6, 14, 7, 15);
    }
    F8 q[8];
    for (int k = 0; k < 8; k += 4)
    {
        q[k] = __builtin_shufflevector(t[k], t[k + 2], 0, 1, 8, 9, 4, 5, 12, 13);
        q[k + 1] = __builtin_shufflevector(t[k], t[k + 2], 2, 3, 10, 11, 6, 7, 14, 15);
        q[k + 2] = __builtin_shufflevector(t[k + 1], t[k + 3], 0, 1, 8, 9, 4, 5, 12, 13);
        q[k + 3] = __builtin_shufflevector(t[k + 1], t[k + 3], 2, 3, 10, 11, 6, 7, 14, 15);
    }
    for (int k = 0; k < 4; ++k)
    {
        a[k] = __builtin_shufflevector(q[k], q[k + 4], 0, 1, 2, 3, 8, 9, 10, 11);
        a[k + 4] = __builtin_shufflevector(q[k], q[k + 4], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

struct BandRows
{
    alignas(32) float rows[kBandRowCount][KeySpaceDSP::kNumBandAtParts];
    const int32_t* harmBandPos;
    const int32_t* index;
    int top;

    [[gnu::always_inline]] BandRows(const KeySpaceDSP& e, const int32_t* index_, int count) noexcept
        : harmBandPos(e.harmBandPos.data()), index(index_),
          top(std::min(harmBandPos[index[count - 1]], kNumHarmonicBands - 1))
    {
        // Eight bands at a time: each value of eight bands as one vector, turned into their rows.
        for (int c = 0; c <= top; c += voicehop::kLanes8)
        {
            voicehop::F8 part[KeySpaceDSP::kNumBandAtParts];
            const auto at = [c](const auto& table, int next) __attribute__((always_inline)) {
                voicehop::F8 x;
                if constexpr (std::is_same_v<typename std::decay_t<decltype(table)>::value_type, float>)
                    std::memcpy(&x, table.data() + c + next, sizeof x);
                else
                {
                    voicehop::I8 i;
                    std::memcpy(&i, table.data() + c + next, sizeof i);
                    x = __builtin_convertvector(i, voicehop::F8);
                }
                return x;
            };
            part[KeySpaceDSP::kBandAtStart] = at(e.bandStart, 0);
            part[KeySpaceDSP::kBandAtInvWidth] = at(e.bandInvWidth, 0);
            part[KeySpaceDSP::kBandAtTonal] = at(e.bandTonalWork, 0);
            part[KeySpaceDSP::kBandAtTonalNext] = at(e.bandTonalWork, 1);
            part[KeySpaceDSP::kBandAtNoisy] = at(e.bandNoisyWork, 0);
            part[KeySpaceDSP::kBandAtNoisyNext] = at(e.bandNoisyWork, 1);
            part[KeySpaceDSP::kBandAtWidth] = at(e.bandWidthWork, 0);
            part[KeySpaceDSP::kBandAtWidthNext] = at(e.bandWidthWork, 1);
            transpose8(part);
            std::memcpy(rows[c], part, sizeof part);
        }
    }
    [[gnu::always_inline]] void operator()(int h, voicehop::F8* part) const noexcept
    {
        // Above the lowest harmonics eight neighbours mostly share one band (the position index
        // never falls as h rises, so equal ends mean all equal): its row spread over the lanes.
        const int32_t first = std::min(harmBandPos[index[h]], top);
        if (first == std::min(harmBandPos[index[h + voicehop::kLanes8 - 1]], top))
        {
            for (int p = 0; p < KeySpaceDSP::kNumBandAtParts; ++p)
                part[p] = voicehop::F8{} + rows[first][p];
            return;
        }
        transposedRows(rows, harmBandPos, index + h, top, part);
    }
};
#endif

// x - floor(x) without a library call: truncation corrected for negative values where the value
// fits an int; beyond that every float is whole (and inf or NaN gives NaN, as x - floor(x) does).
[[gnu::always_inline]] inline voicehop::F8 fractionOf(voicehop::F8 x) noexcept
{
    using voicehop::F8;
    const F8 whole = __builtin_convertvector(__builtin_convertvector(x, voicehop::I8), F8);
    const F8 below = whole > x ? whole - 1.0f : whole;
    const F8 magnitude = reinterpret_cast<F8>(reinterpret_cast<voicehop::I8>(x) & 0x7fffffff);
    return magnitude < 2147483520.0f ? x - below : x - x;
}

// Band levels and oscillation of harmonics 0..count-1 from the band values at each harmonic's
// formant position (bandsAt(h, values) gives harmonics h..h+7): state and outputs. The real part
// of each harmonic's rotation is its band's first depth as it is (depth1). Eight harmonics at a time; the last group's spare
// lanes leave the state alone. Returns how many harmonics are noisy.
template <class BandsAt>
[[gnu::always_inline]] inline int
bandValues(int count, const float* __restrict position, const BandsAt& bandsAt,
           const float* __restrict oscRate, const float* __restrict depth2, float* __restrict oscPhase,
           float* __restrict tonalOut, float* __restrict noisyOut, float* __restrict stepOut,
           float* __restrict rotIm, int32_t* __restrict isNoisy) noexcept
{
    using voicehop::F8;
    using voicehop::I8;
    I8 noisyLanes{};
    for (int h = 0; h < count; h += voicehop::kLanes8)
    {
        F8 at[KeySpaceDSP::kNumBandAtParts];
        bandsAt(h, at);
        const I8 valid = I8{0, 1, 2, 3, 4, 5, 6, 7} + h < count;
        const F8 x = (voicehop::load8(position + h) - at[KeySpaceDSP::kBandAtStart]) * at[KeySpaceDSP::kBandAtInvWidth];
        const F8 tonal = at[KeySpaceDSP::kBandAtTonal] +
                         x * (at[KeySpaceDSP::kBandAtTonalNext] - at[KeySpaceDSP::kBandAtTonal]);
        const F8 noisy = at[KeySpaceDSP::kBandAtNoisy] +
                         x * (at[KeySpaceDSP::kBandAtNoisyNext] - at[KeySpaceDSP::kBandAtNoisy]);
        const F8 before = voicehop::load8(oscPhase + h);
        const F8 phase = fractionOf(before + voicehop::load8(oscRate + h));
        voicehop::store8(oscPhase + h, valid != 0 ? phase : before);
        const F8 y = phase - 0.5f;
        const F8 y2 = y * y;
        const F8 sine = y * (6.2790036f + y2 * (-41.104263f + y2 * (77.99433f + y2 * -56.165348f)));
        const I8 noisyHarmonic = (noisy <= kNoiseThreshold * tonal) + 1; // a true lane is -1
        voicehop::store8(tonalOut + h, tonal);
        voicehop::store8(noisyOut + h, noisy);
        voicehop::store8(stepOut + h, at[KeySpaceDSP::kBandAtWidth] +
                                x * (at[KeySpaceDSP::kBandAtWidthNext] - at[KeySpaceDSP::kBandAtWidth]));
        voicehop::store8(rotIm + h, voicehop::load8(depth2 + h) * sine);
        std::memcpy(isNoisy + h, &noisyHarmonic, sizeof noisyHarmonic);
        noisyLanes += noisyHarmonic & valid;
    }
    int noisyCount = 0;
    for (int k = 0; k < voicehop::kLanes8; ++k)
        noisyCount += noisyLanes[k];
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
        const I8 white = voicehop::load8(step + h) > bandlim::kWhiteStep;
        const F8 x = voicehop::load8(phase + h);
        const F8 n0re = bandlim::crossfaded(white, x, voicehop::load8(old1Re + h), voicehop::load8(new1Re + h));
        const F8 n0im = bandlim::crossfaded(white, x, voicehop::load8(old1Im + h), voicehop::load8(new1Im + h));
        const F8 n1re = bandlim::crossfaded(white, x, voicehop::load8(old2Re + h), voicehop::load8(new2Re + h));
        const F8 n1im = bandlim::crossfaded(white, x, voicehop::load8(old2Im + h), voicehop::load8(new2Im + h));
        const F8 rotR = voicehop::load8(rotRe + h);
        const F8 rotI = voicehop::load8(rotIm + h);
        const F8 tonal = voicehop::load8(tonalIn + h);
        const F8 noisy = voicehop::load8(noisyIn + h);
        const I8 mixed = voicehop::load8i(isNoisy + h) != 0;
        const F8 a0r = noisy * n0re + tonal, a0i = noisy * n0im;
        const F8 a1r = noisy * n1re + tonal, a1i = noisy * n1im;
        voicehop::store8(re0 + h, mixed ? a0r * rotR - a0i * rotI : rotR * tonal);
        voicehop::store8(im0 + h, mixed ? a0r * rotI + a0i * rotR : rotI * tonal);
        voicehop::store8(re1 + h, mixed ? a1r * rotR - a1i * rotI : rotR * tonal);
        voicehop::store8(im1 + h, mixed ? a1r * rotI + a1i * rotR : rotI * tonal);
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
    const float* rotRe = v.harmonics.bandDepth1.data();
    float* rotIm = work[KeySpaceDSP::kHarmWorkRotIm].data();
    float* position = work[KeySpaceDSP::kHarmWorkPosition].data();
    int32_t* index = e.harmonicIndexWork[KeySpaceDSP::kHarmWorkBandIndex].data();
    int32_t* isNoisy = e.harmonicIndexWork[KeySpaceDSP::kHarmWorkIsNoisy].data();
    formantPositions(count, hh.formantRatio, position, index);
    const auto values = [&](const auto& bandsAt) __attribute__((always_inline)) {
        return bandValues(count, position, bandsAt, v.harmonics.bandOscRate.data(), v.harmonics.bandDepth2.data(),
                          v.harmonics.oscPhase.data(), tonal, noisy, step, rotIm, isNoisy);
    };
    int noisyCount = 0;
#if QM_WIDE_VECTORS
    if constexpr (kWide)
        noisyCount = count > 0 ? values(BandRows(e, index, count)) : 0;
    else
#endif
    {
        float* at[KeySpaceDSP::kNumBandAtParts];
        for (int k = 0; k < KeySpaceDSP::kNumBandAtParts; ++k)
            at[k] = e.bandAtHarmonicWork[static_cast<std::size_t>(k)].data();
        bandsAtHarmonics(count, index, e.harmBandPos.data(), e.bandStart.data(), e.bandInvWidth.data(),
                         e.bandTonalWork.data(), e.bandNoisyWork.data(), e.bandWidthWork.data(), at);
        noisyCount = values(GatheredBands{at});
    }
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
