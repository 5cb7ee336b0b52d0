// Each harmonic's amplitude per channel from its formant-shifted band position, its band's
// oscillation and, for noisy bands, its own band-limited noise.

// Eight-float vectors pass between functions here only inside one form's inlined loop, never
// across a call the two forms would have to agree on.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "engine/KeySpaceDSP.h"
#include "engine/VectorWidth.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/synth/BandLimNoiseCS.h"
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

// What a group of eight harmonics sounds besides its noise: tonal and noisy level, rotation (real
// and imaginary part), and which harmonics' noise steps are white.
struct ToneGroup
{
    voicehop::F8 tonal, noisy, rotRe, rotIm;
    voicehop::I8 white;
};

// The four amplitude arrays (channel 0 and 1, real and imaginary part).
using AmpArrays = float* const*;

// Pure tones: the rotation scaled by the tonal level, the same in both channels.
[[gnu::always_inline]] inline void pureTones(int h, const ToneGroup& g, AmpArrays amp) noexcept
{
    const voicehop::F8 re = g.rotRe * g.tonal, im = g.rotIm * g.tonal;
    voicehop::store8(amp[0] + h, re);
    voicehop::store8(amp[1] + h, im);
    voicehop::store8(amp[2] + h, re);
    voicehop::store8(amp[3] + h, im);
}

// Tone plus noise where the harmonic is noisy (mixed, its lanes' bits mixedBits), the pure tone
// elsewhere, with the noise values of the sources at phase x with targets t. Sources whose step is
// white give their new values as they are. A group whose harmonics are all noisy skips the choice.
[[gnu::always_inline]] inline void tonesWithNoise(int h, const ToneGroup& g, voicehop::I8 mixed, uint32_t mixedBits,
                                                  voicehop::F8 x, const bandlim::Targets8& t, AmpArrays amp) noexcept
{
    using voicehop::F8;
    const F8 n0re = bandlim::crossfaded(g.white, x, t.old1Re, t.new1Re);
    const F8 n0im = bandlim::crossfaded(g.white, x, t.old1Im, t.new1Im);
    const F8 n1re = bandlim::crossfaded(g.white, x, t.old2Re, t.new2Re);
    const F8 n1im = bandlim::crossfaded(g.white, x, t.old2Im, t.new2Im);
    const F8 rotR = g.rotRe, rotI = g.rotIm, tonal = g.tonal, noisy = g.noisy;
    const F8 a0r = noisy * n0re + tonal, a0i = noisy * n0im;
    const F8 a1r = noisy * n1re + tonal, a1i = noisy * n1im;
    F8 out[4] = {a0r * rotR - a0i * rotI, a0r * rotI + a0i * rotR, a1r * rotR - a1i * rotI, a1r * rotI + a1i * rotR};
    if (mixedBits != (1u << voicehop::kLanes8) - 1)
    {
        const F8 re = rotR * tonal, im = rotI * tonal;
        out[0] = mixed ? out[0] : re;
        out[1] = mixed ? out[1] : im;
        out[2] = mixed ? out[2] : re;
        out[3] = mixed ? out[3] : im;
    }
    for (int k = 0; k < 4; ++k)
        voicehop::store8(amp[k] + h, out[k]);
}

// Where a group's harmonics are noisy (a true lane is -1).
[[gnu::always_inline]] inline voicehop::I8 noisyLanes(const ToneGroup& g) noexcept
{
    return ~(g.noisy <= kNoiseThreshold * g.tonal);
}

// The hop's groups whose noise draws, in harmonic order: the group's first harmonic and its
// draw bits (bandlim::drawBits).
struct DrawingGroups
{
    std::array<int32_t, kMaxHarmonics / voicehop::kLanes8> first;
    std::array<uint32_t, kMaxHarmonics / voicehop::kLanes8> bits;
    int count = 0;
    int draws = 0;
};

// Harmonics 0..count-1, eight at a time, from the band values at each harmonic's formant position
// (bandsAt(h, index, values) gives harmonics h..h+7): oscillation and noise phases move on, and a
// group whose noise does not draw gets its amplitudes at once. A group that draws is left to
// finishDrawingGroups, which takes the hop's draws in one update of the generator, with its tone
// kept in the tone arrays (tonal, noisy, imaginary rotation, white steps). The real part of each
// harmonic's rotation is its band's first depth as it is (depth1). The last group's spare lanes
// leave the state alone; their amplitudes are computed and stored with the rest, as every array
// holds whole groups of eight and nothing downstream reads past count.
template <bool kWide, class BandsAt>
[[gnu::always_inline]] inline void
stepGroups(int count, float formantRatio, BandsAt& bandsAt, const float* __restrict depth1,
           const float* __restrict oscRate, const float* __restrict depth2, float* __restrict oscPhase,
           BandLimNoiseBank<kMaxHarmonics>& noise, float* const* __restrict tone, int32_t* __restrict whiteTone,
           DrawingGroups& drawing, AmpArrays amp) noexcept
{
    using voicehop::F8;
    using voicehop::I8;
    float* __restrict noisePhase = noise.phase.data();
    for (int h = 0; h < count; h += voicehop::kLanes8)
    {
        I8 index;
        const F8 position = formantPositions8(h, formantRatio, index);
        F8 at[KeySpaceDSP::kNumBandAtParts];
        bandsAt(h, index, at);
        const I8 valid = I8{0, 1, 2, 3, 4, 5, 6, 7} + h < count;
        const F8 x = (position - at[KeySpaceDSP::kBandAtStart]) * at[KeySpaceDSP::kBandAtInvWidth];
        ToneGroup g;
        g.tonal = at[KeySpaceDSP::kBandAtTonal] + x * (at[KeySpaceDSP::kBandAtTonalNext] - at[KeySpaceDSP::kBandAtTonal]);
        g.noisy = at[KeySpaceDSP::kBandAtNoisy] + x * (at[KeySpaceDSP::kBandAtNoisyNext] - at[KeySpaceDSP::kBandAtNoisy]);
        const F8 step = at[KeySpaceDSP::kBandAtWidth] +
                        x * (at[KeySpaceDSP::kBandAtWidthNext] - at[KeySpaceDSP::kBandAtWidth]);
        const F8 before = voicehop::load8(oscPhase + h);
        const F8 phase = fraction<kWide>(before + voicehop::load8(oscRate + h));
        voicehop::store8(oscPhase + h, valid != 0 ? phase : before);
        const F8 y = phase - 0.5f;
        const F8 y2 = y * y;
        const F8 sine = y * (6.2790036f + y2 * (-41.104263f + y2 * (77.99433f + y2 * -56.165348f)));
        g.rotRe = voicehop::load8(depth1 + h);
        g.rotIm = voicehop::load8(depth2 + h) * sine;
        g.white = step > bandlim::kWhiteStep;
        const I8 mixed = noisyLanes(g);
        F8 noisePhaseNow = voicehop::load8(noisePhase + h);
        I8 draws, renews;
        bandlim::stepPhases(step, mixed & valid, noisePhaseNow, draws, renews);
        voicehop::store8(noisePhase + h, noisePhaseNow);
        const uint32_t drawBits = laneBits<kWide>(draws);
        if (drawBits != 0)
        {
            const auto k = static_cast<std::size_t>(drawing.count++);
            drawing.first[k] = h;
            drawing.bits[k] = bandlim::drawBits(drawBits, laneBits<kWide>(renews));
            drawing.draws += __builtin_popcount(drawBits);
            voicehop::store8(tone[0] + h, g.tonal);
            voicehop::store8(tone[1] + h, g.noisy);
            voicehop::store8(tone[2] + h, g.rotIm);
            voicehop::store8i(whiteTone + h, g.white);
            continue;
        }
        const uint32_t mixedBits = laneBits<kWide>(mixed);
        if (mixedBits == 0)
        {
            pureTones(h, g, amp);
            continue;
        }
        bandlim::Targets8 t;
        noise.targetsAt(h, t);
        tonesWithNoise(h, g, mixed, mixedBits, noisePhaseNow, t, amp);
    }
}

// The groups stepGroups left: their draws, in harmonic order, from one update of the canonical
// generator, then their amplitudes. A group that draws has at least one noisy harmonic.
template <bool kWide>
[[gnu::always_inline]] inline void finishDrawingGroups(const DrawingGroups& drawing, float corr, float spread,
                                                       const float* __restrict depth1,
                                                       BandLimNoiseBank<kMaxHarmonics>& noise,
                                                       const float* const* __restrict tone,
                                                       const int32_t* __restrict whiteTone, AmpArrays amp) noexcept
{
    if (drawing.count == 0) return;
    uint32_t state = takeCanonRandStates(4 * drawing.draws);
    for (int k = 0; k < drawing.count; ++k)
    {
        const int h = std::clamp(drawing.first[static_cast<std::size_t>(k)], 0, kMaxHarmonics - voicehop::kLanes8);
        bandlim::Targets8 t;
        noise.targetsAt(h, t);
        state = bandlim::drawLanes(drawing.bits[static_cast<std::size_t>(k)], state, corr, spread, t);
        noise.setTargets(h, t);
        ToneGroup g;
        g.tonal = voicehop::load8(tone[0] + h);
        g.noisy = voicehop::load8(tone[1] + h);
        g.rotIm = voicehop::load8(tone[2] + h);
        g.rotRe = voicehop::load8(depth1 + h);
        g.white = voicehop::load8i(whiteTone + h);
        const voicehop::I8 mixed = noisyLanes(g);
        tonesWithNoise(h, g, mixed, laneBits<kWide>(mixed), voicehop::load8(noise.phase.data() + h), t, amp);
    }
}

template <bool kWide>
[[gnu::always_inline]] inline void amplitudes(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    const int count = std::clamp(hh.count, 0, kMaxHarmonics);
    if (count == 0) return;
    auto& work = e.harmonicWork;
    float* const tone[3] = {work[KeySpaceDSP::kHarmWorkTonal].data(), work[KeySpaceDSP::kHarmWorkNoisy].data(),
                            work[KeySpaceDSP::kHarmWorkRotIm].data()};
    int32_t* whiteTone = e.harmonicIndexWork[KeySpaceDSP::kHarmWorkWhiteNoise].data();
    float* const amp[4] = {
        e.partialAmp[KeySpaceDSP::kPartialRe0].data(), e.partialAmp[KeySpaceDSP::kPartialIm0].data(),
        e.partialAmp[KeySpaceDSP::kPartialRe1].data(), e.partialAmp[KeySpaceDSP::kPartialIm1].data()};
    const float* depth1 = v.harmonics.bandDepth1.data();
    DrawingGroups drawing;
    const auto step = [&](auto&& bandsAt) __attribute__((always_inline)) {
        stepGroups<kWide>(count, hh.formantRatio, bandsAt, depth1, v.harmonics.bandOscRate.data(),
                          v.harmonics.bandDepth2.data(), v.harmonics.oscPhase.data(), v.harmonics.noise, tone,
                          whiteTone, drawing, amp);
    };
#if QM_WIDE_VECTORS
    if constexpr (kWide)
    {
        const int lastHarmonic = count - 1;
        const float lastPosition = lastHarmonic == 0 ? 0.0f : voicehop::formantPosition(lastHarmonic, hh.formantRatio);
        BandsAtLanes bandsAt(e, voicehop::formantIndex(lastPosition));
        step(bandsAt);
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
        step(gathered);
    }
    finishDrawingGroups<kWide>(drawing, hh.corrWeight, hh.spreadWeight, depth1, v.harmonics.noise, tone, whiteTone,
                               amp);
}

} // namespace

void voicehop::harmonicAmplitudes(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    vectorwidth::dispatch(e.usesWideVectors(), [&](auto wide) __attribute__((always_inline)) {
        amplitudes<decltype(wide)::value>(e, v, hh);
    });
}
