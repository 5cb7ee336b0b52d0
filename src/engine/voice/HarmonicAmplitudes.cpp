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


// Formant-shifted positions of harmonics h..h+7 and the indices of their band table entries.
// Harmonic 0 (half the fundamental) stays at 0, the others at 1 or above.
[[gnu::always_inline]] inline voicehop::F8 formantPositions8(int h, float formantRatio, voicehop::I8& index) noexcept
{
    using voicehop::F8;
    using voicehop::I8;
    const F8 zero{};
    const F8 one = zero + 1.0f;
    const F8 top = zero + static_cast<float>(kMaxHarmonics - 1);
    const I8 harmonic = I8{0, 1, 2, 3, 4, 5, 6, 7} + h;
    const F8 scaled = __builtin_convertvector(harmonic, F8) * formantRatio;
    const F8 position = harmonic == 0 ? zero : (scaled > one ? scaled : one);
    index = __builtin_convertvector(position < top ? position : top, I8);
    return position;
}

// The band table indices of harmonics 0..count-1, eight at a time (the array holds whole groups
// of eight; the spare lanes get the indices of the harmonics they stand for).
[[gnu::always_inline]] inline void formantIndices(int count, float formantRatio, int32_t* __restrict index) noexcept
{
    for (int h = 0; h < count; h += voicehop::kLanes8)
    {
        voicehop::I8 entry;
        formantPositions8(h, formantRatio, entry);
        voicehop::store8i(index + h, entry);
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
    [[gnu::always_inline]] void operator()(int h, voicehop::I8, voicehop::F8* part) const noexcept
    {
        for (int p = 0; p < KeySpaceDSP::kNumBandAtParts; ++p)
            std::memcpy(&part[p], at[p] + h, sizeof part[p]);
    }
};

#if QM_WIDE_VECTORS
// The wide form's helpers below take and give eight-lane vectors by reference: their callers are
// compiled for the baseline until they are inlined into the wide form, and a vector passed by value
// across that boundary would change the calling convention, which Clang refuses.

// One value in every lane.
QM_WIDE_TARGET inline void spreadOver(const float& x, voicehop::F8& out) noexcept
{
    out = reinterpret_cast<voicehop::F8>(_mm256_broadcast_ss(&x));
}
QM_WIDE_TARGET inline void spreadOver(const int32_t& x, voicehop::I8& out) noexcept
{
    out = reinterpret_cast<voicehop::I8>(_mm256_set1_epi32(x));
}

// Lane k of the result is lane offset[k] mod 8 of x.
QM_WIDE_TARGET inline void lanesAt(const voicehop::F8& x, const voicehop::I8& offset, voicehop::F8& out) noexcept
{
    out = reinterpret_cast<voicehop::F8>(
        _mm256_permutevar8x32_ps(reinterpret_cast<__m256>(x), reinterpret_cast<__m256i>(offset)));
}

QM_WIDE_TARGET inline void lanesAt(const voicehop::I8& x, const voicehop::I8& offset, voicehop::I8& out) noexcept
{
    out = reinterpret_cast<voicehop::I8>(
        _mm256_permutevar8x32_epi32(reinterpret_cast<__m256i>(x), reinterpret_cast<__m256i>(offset)));
}

// table[index[k]] in lane k.
QM_WIDE_TARGET inline void gathered(const int32_t* table, const voicehop::I8& index, voicehop::I8& out) noexcept
{
    out = reinterpret_cast<voicehop::I8>(_mm256_i32gather_epi32(table, reinterpret_cast<__m256i>(index), 4));
}

// A group reads eight bands in a row from its first one on, and the band after each.
static_assert(kNumHarmonicBands - 1 + voicehop::kLanes8 <= kMaxBands &&
                  kNumHarmonicBands - 1 + voicehop::kLanes8 + 1 <= kBandTableSize,
              "band tables cover eight bands from any harmonic band on");

// The band values of a group of eight harmonics. The position index never falls as h rises, so
// the lanes' bands run from the first lane's to the last lane's: one band is spread over the
// lanes, more are taken eight bands in a row at a time, as they stand in the band tables, and
// moved to the lanes that read them.
struct BandsAtLanes
{
    const KeySpaceDSP& e;
    const int32_t* harmBandPos;
    int top;

    [[gnu::always_inline]] BandsAtLanes(const KeySpaceDSP& e_, int lastIndex) noexcept
        : e(e_), harmBandPos(e_.harmBandPos.data()),
          top(std::min(harmBandPos[std::clamp(lastIndex, 0, kMaxHarmonics - 1)], kNumHarmonicBands - 1))
    {
    }

    // The values of bands c..c+7, one vector per value.
    [[gnu::always_inline]] void bandsInARow(int c, voicehop::F8* part) const noexcept
    {
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
    }

    // The values of band c in every lane.
    [[gnu::always_inline]] void oneBand(int c, voicehop::F8* part) const noexcept
    {
        const auto at = [c](const auto& table, int next) __attribute__((always_inline)) -> const auto& {
            return table[static_cast<std::size_t>(c + next)];
        };
        voicehop::I8 start;
        spreadOver(at(e.bandStart, 0), start);
        part[KeySpaceDSP::kBandAtStart] = __builtin_convertvector(start, voicehop::F8);
        spreadOver(at(e.bandInvWidth, 0), part[KeySpaceDSP::kBandAtInvWidth]);
        spreadOver(at(e.bandTonalWork, 0), part[KeySpaceDSP::kBandAtTonal]);
        spreadOver(at(e.bandTonalWork, 1), part[KeySpaceDSP::kBandAtTonalNext]);
        spreadOver(at(e.bandNoisyWork, 0), part[KeySpaceDSP::kBandAtNoisy]);
        spreadOver(at(e.bandNoisyWork, 1), part[KeySpaceDSP::kBandAtNoisyNext]);
        spreadOver(at(e.bandWidthWork, 0), part[KeySpaceDSP::kBandAtWidth]);
        spreadOver(at(e.bandWidthWork, 1), part[KeySpaceDSP::kBandAtWidthNext]);
    }

    // The values of bands first..last, eight bands in a row at a time, each lane taking those of
    // its own band.
    [[gnu::always_inline]] void manyBands(voicehop::I8 index, int first, int last, voicehop::F8* part) const noexcept
    {
        using voicehop::F8;
        using voicehop::I8;
        const I8 bandTop = I8{} + top;
        I8 band;
        // Unless the formants shift upwards the lanes' position indices lie within eight entries
        // of the first lane's: one load and a move of lanes read them faster than a gather.
        const int32_t nearest = index[0];
        if (index[voicehop::kLanes8 - 1] - nearest < voicehop::kLanes8)
        {
            const int32_t from = std::min(nearest, kMaxHarmonics - voicehop::kLanes8);
            I8 row;
            std::memcpy(&row, harmBandPos + from, sizeof row);
            lanesAt(row, index - from, band);
        }
        else
            gathered(harmBandPos, index, band);
        const I8 offset = (band < bandTop ? band : bandTop) - first;
        bandsInARow(first, part);
        for (int p = 0; p < KeySpaceDSP::kNumBandAtParts; ++p)
            lanesAt(part[p], offset, part[p]);
        for (int row = voicehop::kLanes8; row <= last - first; row += voicehop::kLanes8)
        {
            F8 next[KeySpaceDSP::kNumBandAtParts];
            bandsInARow(first + row, next);
            const I8 inRow = offset >= row;
            for (int p = 0; p < KeySpaceDSP::kNumBandAtParts; ++p)
            {
                F8 moved;
                lanesAt(next[p], offset, moved);
                part[p] = inRow != 0 ? moved : part[p];
            }
        }
    }

    [[gnu::always_inline]] void operator()(int, voicehop::I8 index, voicehop::F8* part) const noexcept
    {
        const int32_t first = std::min(harmBandPos[index[0]], top);
        const int32_t last = std::min(harmBandPos[index[voicehop::kLanes8 - 1]], top);
        if (first == last) return oneBand(first, part);
        manyBands(index, first, last, part);
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

#if QM_WIDE_VECTORS
// x - floor(x) by the processor's rounding: the values of fractionOf.
QM_WIDE_TARGET inline void fractionRounded(voicehop::F8& x) noexcept
{
    x = x - reinterpret_cast<voicehop::F8>(_mm256_floor_ps(reinterpret_cast<__m256>(x)));
}
#endif

#if QM_WIDE_VECTORS
// Bit k set where lane k of a mask is true, by the processor's sign bit gathering.
QM_WIDE_TARGET inline uint32_t signBits(const voicehop::I8& mask) noexcept
{
    return static_cast<uint32_t>(_mm256_movemask_ps(reinterpret_cast<__m256>(mask)));
}
#endif

template <bool kWide>
[[gnu::always_inline]] inline uint32_t laneBits(voicehop::I8 mask) noexcept
{
#if QM_WIDE_VECTORS
    if constexpr (kWide) return signBits(mask);
#endif
    return bandlim::laneBits(mask);
}

#if QM_WIDE_VECTORS
// a * b + c, rounded once.
QM_WIDE_TARGET inline void fusedMulAdd(const voicehop::F8& a, const voicehop::F8& b, voicehop::F8& c) noexcept
{
    c = reinterpret_cast<voicehop::F8>(_mm256_fmadd_ps(reinterpret_cast<__m256>(a), reinterpret_cast<__m256>(b),
                                                       reinterpret_cast<__m256>(c)));
}
#endif

// a * b + c, fused in the wide form. Only for values that decide nothing: which harmonics are
// noisy and when their noise draws must come out alike in both forms.
template <bool kWide>
[[gnu::always_inline]] inline voicehop::F8 mulAdd(voicehop::F8 a, voicehop::F8 b, voicehop::F8 c) noexcept
{
#if QM_WIDE_VECTORS
    if constexpr (kWide)
    {
        fusedMulAdd(a, b, c);
        return c;
    }
#endif
    return a * b + c;
}

template <bool kWide>
[[gnu::always_inline]] inline voicehop::F8 fraction(voicehop::F8 x) noexcept
{
#if QM_WIDE_VECTORS
    if constexpr (kWide)
    {
        fractionRounded(x);
        return x;
    }
#endif
    return fractionOf(x);
}

// The sum of the lanes of x.
[[gnu::always_inline]] inline int32_t laneSum(voicehop::I8 x) noexcept
{
    x += __builtin_shufflevector(x, x, 4, 5, 6, 7, 0, 1, 2, 3);
    x += __builtin_shufflevector(x, x, 2, 3, 0, 1, 6, 7, 4, 5);
    x += __builtin_shufflevector(x, x, 1, 0, 3, 2, 5, 4, 7, 6);
    return x[0];
}

// Band levels, oscillation and noise phase of harmonics 0..count-1 from the band values at each
// harmonic's formant position (bandsAt(h, index, values) gives harmonics h..h+7): state and
// outputs, and for each group the draws of its noise as BandLimNoiseBank::drawTargets takes them.
// The real part of each harmonic's rotation is its band's first depth as it is (depth1). Eight
// harmonics at a time; the last group's spare lanes leave the state alone. whiteNoise marks the
// harmonics whose noise step is white (anyWhite whether there are any); drawCount is how many
// harmonics draw. Returns how many harmonics are noisy.
template <bool kWide, class BandsAt>
[[gnu::always_inline]] inline int
bandValues(int count, float formantRatio, BandsAt& bandsAt, const float* __restrict oscRate,
           const float* __restrict depth2, float* __restrict oscPhase, float* __restrict noisePhase,
           float* __restrict tonalOut, float* __restrict noisyOut, float* __restrict rotIm,
           int32_t* __restrict whiteNoise, bool& anyWhite, uint32_t* __restrict groupDraws,
           int& drawCount) noexcept
{
    using voicehop::F8;
    using voicehop::I8;
    I8 drawLanes{};
    I8 whiteLanes{};
    I8 noisyLanes{};
    for (int h = 0; h < count; h += voicehop::kLanes8)
    {
        I8 index;
        const F8 position = formantPositions8(h, formantRatio, index);
        F8 at[KeySpaceDSP::kNumBandAtParts];
        bandsAt(h, index, at);
        const I8 valid = I8{0, 1, 2, 3, 4, 5, 6, 7} + h < count;
        const F8 x = (position - at[KeySpaceDSP::kBandAtStart]) * at[KeySpaceDSP::kBandAtInvWidth];
        const F8 tonal = at[KeySpaceDSP::kBandAtTonal] +
                         x * (at[KeySpaceDSP::kBandAtTonalNext] - at[KeySpaceDSP::kBandAtTonal]);
        const F8 noisy = at[KeySpaceDSP::kBandAtNoisy] +
                         x * (at[KeySpaceDSP::kBandAtNoisyNext] - at[KeySpaceDSP::kBandAtNoisy]);
        const F8 step = at[KeySpaceDSP::kBandAtWidth] +
                        x * (at[KeySpaceDSP::kBandAtWidthNext] - at[KeySpaceDSP::kBandAtWidth]);
        const F8 before = voicehop::load8(oscPhase + h);
        const F8 phase = fraction<kWide>(before + voicehop::load8(oscRate + h));
        voicehop::store8(oscPhase + h, valid != 0 ? phase : before);
        const F8 y = phase - 0.5f;
        const F8 y2 = y * y;
        const auto coef = [](float c) __attribute__((always_inline)) { return F8{} + c; };
        const F8 inner = mulAdd<kWide>(y2, coef(-56.165348f), coef(77.99433f));
        const F8 sine = y * mulAdd<kWide>(y2, mulAdd<kWide>(y2, inner, coef(-41.104263f)), coef(6.2790036f));
        const I8 noisyHarmonic = ~(noisy <= kNoiseThreshold * tonal); // a true lane is -1
        F8 noise = voicehop::load8(noisePhase + h);
        I8 draws, renews;
        bandlim::stepPhases(step, noisyHarmonic & valid, noise, draws, renews);
        voicehop::store8(noisePhase + h, noise);
        groupDraws[h / voicehop::kLanes8] = bandlim::drawBits(laneBits<kWide>(draws), laneBits<kWide>(renews));
        drawLanes -= draws;
        voicehop::store8(tonalOut + h, tonal);
        voicehop::store8(noisyOut + h, noisy);
        voicehop::store8(rotIm + h, voicehop::load8(depth2 + h) * sine);
        const I8 white = step > bandlim::kWhiteStep;
        voicehop::store8i(whiteNoise + h, white);
        whiteLanes |= white;
        noisyLanes -= noisyHarmonic & valid;
    }
    anyWhite = laneBits<kWide>(whiteLanes) != 0;
    drawCount = laneSum(drawLanes);
    return laneSum(noisyLanes);
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
// contiguous per harmonic. Sources whose step is white give their new values as they are: a hop
// without any (kAnyWhite false) leaves their mask unread. A group of pure tones leaves the noise
// unread, and one of noisy harmonics only skips the choice: most groups are one or the other,
// so the branches are mostly foreseen.
template <bool kWide, bool kAnyWhite>
[[gnu::always_inline]] inline void tonesWithNoise(int count, const float* __restrict rotRe,
                                                  const float* __restrict rotIm, const float* __restrict tonalIn,
                                                  const float* __restrict noisyIn, const int32_t* __restrict whiteNoise,
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
        const F8 rotR = voicehop::load8(rotRe + h);
        const F8 rotI = voicehop::load8(rotIm + h);
        const F8 tonal = voicehop::load8(tonalIn + h);
        const F8 noisy = voicehop::load8(noisyIn + h);
        const I8 mixed = ~(noisy <= kNoiseThreshold * tonal);
        const uint32_t mixedBits = laneBits<kWide>(mixed);
        const F8 pureRe = rotR * tonal, pureIm = rotI * tonal;
        if (mixedBits == 0)
        {
            voicehop::store8(re0 + h, pureRe);
            voicehop::store8(im0 + h, pureIm);
            voicehop::store8(re1 + h, pureRe);
            voicehop::store8(im1 + h, pureIm);
            continue;
        }
        const I8 white = kAnyWhite ? voicehop::load8i(whiteNoise + h) : I8{};
        const F8 x = voicehop::load8(phase + h);
        const F8 n0re = bandlim::crossfaded(white, x, voicehop::load8(old1Re + h), voicehop::load8(new1Re + h));
        const F8 n0im = bandlim::crossfaded(white, x, voicehop::load8(old1Im + h), voicehop::load8(new1Im + h));
        const F8 n1re = bandlim::crossfaded(white, x, voicehop::load8(old2Re + h), voicehop::load8(new2Re + h));
        const F8 n1im = bandlim::crossfaded(white, x, voicehop::load8(old2Im + h), voicehop::load8(new2Im + h));
        const F8 a0r = mulAdd<kWide>(noisy, n0re, tonal), a0i = noisy * n0im;
        const F8 a1r = mulAdd<kWide>(noisy, n1re, tonal), a1i = noisy * n1im;
        F8 out[4] = {mulAdd<kWide>(a0r, rotR, -(a0i * rotI)), mulAdd<kWide>(a0r, rotI, a0i * rotR),
                     mulAdd<kWide>(a1r, rotR, -(a1i * rotI)), mulAdd<kWide>(a1r, rotI, a1i * rotR)};
        if (mixedBits != (1u << voicehop::kLanes8) - 1)
        {
            out[0] = mixed ? out[0] : pureRe;
            out[1] = mixed ? out[1] : pureIm;
            out[2] = mixed ? out[2] : pureRe;
            out[3] = mixed ? out[3] : pureIm;
        }
        voicehop::store8(re0 + h, out[0]);
        voicehop::store8(im0 + h, out[1]);
        voicehop::store8(re1 + h, out[2]);
        voicehop::store8(im1 + h, out[3]);
    }
}

template <bool kWide>
[[gnu::always_inline]] inline void amplitudes(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    const int count = std::clamp(hh.count, 0, kMaxHarmonics);
    if (count == 0) return;
    auto& work = e.harmonicWork;
    float* tonal = work[KeySpaceDSP::kHarmWorkTonal].data();
    float* noisy = work[KeySpaceDSP::kHarmWorkNoisy].data();
    const HarmonicBands& bands = e.harmonicBands(v);
    const float* rotRe = bands.bandDepth1.data();
    float* rotIm = work[KeySpaceDSP::kHarmWorkRotIm].data();
    int32_t* whiteNoise = e.harmonicIndexWork[KeySpaceDSP::kHarmWorkWhiteNoise].data();
    bool anyWhite = false;
    int drawCount = 0;
    std::array<uint32_t, kMaxHarmonics / voicehop::kLanes8> groupDraws;
    const auto values = [&](auto&& bandsAt) __attribute__((always_inline)) {
        return bandValues<kWide>(count, hh.formantRatio, bandsAt, bands.bandOscRate.data(),
                          bands.bandDepth2.data(), v.harmonics.oscPhase.data(),
                          v.harmonics.noise.phase.data(), tonal, noisy, rotIm, whiteNoise, anyWhite,
                                 groupDraws.data(), drawCount);
    };
    int noisyCount = 0;
#if QM_WIDE_VECTORS
    if constexpr (kWide)
    {
        const int lastHarmonic = count - 1;
        const float lastPosition = lastHarmonic == 0 ? 0.0f : voicehop::formantPosition(lastHarmonic, hh.formantRatio);
        BandsAtLanes bandsAt(e, voicehop::formantIndex(lastPosition));
        noisyCount = values(bandsAt);
    }
    else
#endif
    {
        int32_t* index = e.harmonicIndexWork[KeySpaceDSP::kHarmWorkBandIndex].data();
        formantIndices(count, hh.formantRatio, index);
        float* at[KeySpaceDSP::kNumBandAtParts];
        for (int k = 0; k < KeySpaceDSP::kNumBandAtParts; ++k)
            at[k] = e.bandAtHarmonicWork[static_cast<std::size_t>(k)].data();
        bandsAtHarmonics(count, index, e.harmBandPos.data(), e.bandStart.data(), e.bandInvWidth.data(),
                         e.bandTonalWork.data(), e.bandNoisyWork.data(), e.bandWidthWork.data(), at);
        GatheredBands gathered{at};
        noisyCount = values(gathered);
    }
    float* amp[4] = {
        e.partialAmp[KeySpaceDSP::kPartialRe0].data(), e.partialAmp[KeySpaceDSP::kPartialIm0].data(),
        e.partialAmp[KeySpaceDSP::kPartialRe1].data(), e.partialAmp[KeySpaceDSP::kPartialIm1].data()};
    if (noisyCount == 0) return pureTones(count, rotRe, rotIm, tonal, amp[0], amp[1], amp[2], amp[3]);
    v.harmonics.noise.drawTargets(groupDraws.data(), count, drawCount, hh.corrWeight, hh.spreadWeight);
    const auto noise = [&](auto white) __attribute__((always_inline)) {
        tonesWithNoise<kWide, decltype(white)::value>(count, rotRe, rotIm, tonal, noisy, whiteNoise, v.harmonics.noise,
                                               amp[0], amp[1], amp[2], amp[3]);
    };
    if (anyWhite)
        noise(std::true_type{});
    else
        noise(std::false_type{});
}

} // namespace

void voicehop::harmonicAmplitudes(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    vectorwidth::dispatch(e.usesWideVectors(), [&](auto wide) __attribute__((always_inline)) {
        amplitudes<decltype(wide)::value>(e, v, hh);
    });
}
