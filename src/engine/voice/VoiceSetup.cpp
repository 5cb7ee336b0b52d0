#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "engine/KeySpaceDSP.h"
#include "engine/synth/FourLanes.h"
#include "engine/voice/StandingMix.h"
#include "engine/VectorWidth.h"

// The voice's spectral set-up: blends the zones of the mixed sounds into per-band, per-resonance and
// per-harmonic values, and at a note start renders the onset burst straight into the rings.

namespace
{
// MIDI note (semitones) to hertz.
float noteToHz(float note)
{
    return 8.175799f * std::exp(note / 17.31234f);
}

// Smooth step (3 - 2x) x^2 on 0..1.
float smoothStep(float x)
{
    return (3.0f - 2.0f * x) * x * x;
}

// Header bytes of a zone's band record.
constexpr int kBandLevelA = 0;
constexpr int kBandWidthA = 2;
constexpr int kBandLevelB = 4;
constexpr int kBandWidthB = 6;
constexpr int kBandDecayShape = 8;
constexpr int kBandLevelC = 9;
constexpr int kBandDetune = 11;
constexpr int kBandBinOffset = 13;

// Resonance record bytes.
constexpr int kResLevel = 0;
constexpr int kResWidth = 2;
constexpr int kResDamping = 4;
constexpr int kResSplit = 5;
constexpr int kResShade = 6;
constexpr int kResSpread = 7;

// Onset band record bytes.
constexpr int kOnsetLevel = 0;
constexpr int kOnsetDuration = 2;
constexpr int kOnsetCentre = 4;
constexpr int kOnsetDelay = 5;

// Spacing of the onset bands: one bin of the 64-point transform at 44.1 kHz.
constexpr float kOnsetBandHz = 689.0625f;

// A change in summed mix weight below this keeps the voice's set-up.
constexpr float kMixChangeThreshold = 0.001f;

constexpr float kDbToExp = 0.115129255f; // ln(10) / 20

// Decodes the first `bands` band records of a zone into d; the other bands read 0.
void decodeBands(DecodedBands& d, const uint8_t* records, ptrdiff_t stride, int bands, const uint8_t* share) noexcept
{
    d.records = records;
    d.share = share;
    d.stride = stride;
    d.bands = bands;
    for (auto& f : d.field)
        f.fill(0.0f);
    for (int b = 0; b < bands; ++b)
    {
        const uint8_t* r = records + static_cast<ptrdiff_t>(b) * stride;
        const auto set = [&d, b](int field, float x) noexcept { d.field[static_cast<size_t>(field)][static_cast<size_t>(b)] = x; };
        set(DecodedBands::kLevelA, static_cast<float>(blobI16(r + kBandLevelA)));
        set(DecodedBands::kWidthA, static_cast<float>(blobU16(r + kBandWidthA)));
        set(DecodedBands::kLevelB, static_cast<float>(blobI16(r + kBandLevelB)));
        set(DecodedBands::kWidthB, static_cast<float>(blobU16(r + kBandWidthB)));
        set(DecodedBands::kLevelC, static_cast<float>(blobU16(r + kBandLevelC)));
        set(DecodedBands::kDecayShape, static_cast<float>(r[kBandDecayShape]));
        set(DecodedBands::kDetune, static_cast<float>(blobI16(r + kBandDetune)));
        const uint8_t offset = r[kBandBinOffset];
        set(DecodedBands::kBinOffset, b < kSingleHarmonicBands ? static_cast<float>(static_cast<int8_t>(offset))
                                                               : static_cast<float>(offset));
        set(DecodedBands::kShare, share != nullptr ? static_cast<float>(share[b]) : 0.0f);
        for (int i = 0; i < 8; ++i)
            set(DecodedBands::kByte14 + i, static_cast<float>(r[14 + i]));
        set(DecodedBands::kDetuneGain,
            1.0f - 0.00024557384f * static_cast<float>(r[14]) * std::sqrt(static_cast<float>(r[15])));
    }
}

// Zone `index` of `map` with the values its header alone gives: from the voice's known zones when it
// parsed it lately, else parsed now into the oldest of them.
const KeyVoice::KnownZone& knownZone(KeyVoice& v, const InstrumentMap& map, int index) noexcept
{
    for (const KeyVoice::KnownZone& k : v.knownZones)
        if (k.sound == map.data && k.index == index)
            return k;
    const auto at = static_cast<size_t>(std::clamp(v.knownZoneNext, 0, kMaxSoundSlots - 1));
    v.knownZoneNext = (static_cast<int>(at) + 1) % kMaxSoundSlots;
    KeyVoice::KnownZone& k = v.knownZones[at];
    k.sound = map.data;
    k.index = index;
    k.zone = map.zone(index);
    k.tuneRatio = std::exp2(static_cast<float>(k.zone.tuneCents) / 1200.0f) - 1.0f;
    const float warp = static_cast<float>(k.zone.warpWidth) / 128.0f;
    k.warp = 1.0f / (warp * warp + 1e-20f);
    return k;
}

// Per-band sums of the blend over the mixed sounds, one array per sum, so that each sound adds its
// bands in one plain loop over bands (vectorised in the chosen width).
struct BlendSums
{
    enum Sum { kE, kA, kWidthANum, kAbsA, kB, kWidthBNum, kAbsB, kC, kDecay, kBin, kDetuneNum, kDetuneDen,
               kShare, kByte14, kNumSums = kByte14 + 8 };
    alignas(32) std::array<std::array<float, kMaxBands>, kNumSums> sum;
};

// Four or eight floats (ints) side by side, by width. They read and write float arrays in place,
// so they may alias floats and need no more than a float's alignment. The helpers below take and
// return them by value and are always inlined, so no call passes an eight-lane vector under the
// baseline's calling convention, which is what the compilers' ABI note is about.
#pragma GCC diagnostic ignored "-Wpsabi"
template <int kLanes> struct Lanes;
template <> struct Lanes<4>
{
    QM_ELEMENT_ALIGNED_VECTOR(V, float, 16);
    QM_ELEMENT_ALIGNED_VECTOR(I, int32_t, 16);
};
template <> struct Lanes<8>
{
    QM_ELEMENT_ALIGNED_VECTOR(V, float, 32);
    QM_ELEMENT_ALIGNED_VECTOR(I, int32_t, 32);
};

// Adds one sound at weight w into the sums of bands 0..count-1, kLanes bands at a time, count
// rounded up: a sound's decoded fields past its bands are +0 and w is finite and not negative, so
// every term it adds there is a zero, which leaves a sum (never -0, as it starts at +0) unchanged,
// as leaving the sound out would. The first sound starts the sums (at +0) instead of adding to
// them, so that only the bands it does not reach need clearing first.
template <int kLanes, bool kWithShare, bool kFirst>
[[gnu::always_inline]] inline void addSlot(BlendSums& s, const DecodedBands& d, float w, int count) noexcept
{
    using V = typename Lanes<kLanes>::V;
    using I = typename Lanes<kLanes>::I;
    static_assert(sizeof(V) == 4 * kLanes && kMaxBands % kLanes == 0);
    using F = DecodedBands;
    using S = BlendSums;
    // Field f and sum k as groups of kLanes bands.
    const auto field = [&d](int f) noexcept {
        return reinterpret_cast<const V*>(d.field[static_cast<size_t>(f)].data());
    };
    const auto sum = [&s](int k) noexcept {
        return reinterpret_cast<V*>(s.sum[static_cast<size_t>(k)].data());
    };
    const V zero{};
    const I noSign = I{} + 0x7fffffff;
    for (int i = 0; i * kLanes < count; ++i)
    {
        const V aw = field(F::kLevelA)[i] * w;
        const V bw = field(F::kLevelB)[i] * w;
        const V cw = field(F::kLevelC)[i] * w;
        // Each level where it is not below zero, else +0; |x| by the sign bit, as std::fabs.
        const V e = reinterpret_cast<V>(reinterpret_cast<I>(aw) & ~(aw < zero)) +
                    reinterpret_cast<V>(reinterpret_cast<I>(bw) & ~(bw < zero)) + cw;
        const V absAw = reinterpret_cast<V>(reinterpret_cast<I>(aw) & noSign);
        const V absBw = reinterpret_cast<V>(reinterpret_cast<I>(bw) & noSign);
        const auto add = [=](V* at, const V& term) noexcept {
            if constexpr (kFirst)
                *at = zero + term;
            else
                *at += term;
        };
        add(sum(S::kA) + i, aw);
        add(sum(S::kWidthANum) + i, field(F::kWidthA)[i] * absAw);
        add(sum(S::kAbsA) + i, absAw);
        add(sum(S::kB) + i, bw);
        add(sum(S::kWidthBNum) + i, field(F::kWidthB)[i] * absBw);
        add(sum(S::kAbsB) + i, absBw);
        add(sum(S::kC) + i, cw);
        add(sum(S::kE) + i, e);
        add(sum(S::kDecay) + i, field(F::kDecayShape)[i] * e);
        for (int k = 0; k < 8; ++k)
            add(sum(S::kByte14 + k) + i, field(F::kByte14 + k)[i] * e);
        add(sum(S::kBin) + i, field(F::kBinOffset)[i] * e);
        const V g = field(F::kDetuneGain)[i];
        const V eg2 = (e * g) * (e * g);
        add(sum(S::kDetuneNum) + i, field(F::kDetune)[i] * eg2);
        add(sum(S::kDetuneDen) + i, eg2);
        if constexpr (kWithShare)
            add(sum(S::kShare) + i, e * field(F::kShare)[i]);
        else if constexpr (kFirst)
            sum(S::kShare)[i] = zero;
    }
}

// Lane-wise: a where mask, else b. By value: a deduced reference would carry the full vector
// alignment, which the float-aligned lanes do not have.
template <class V, class I>
[[gnu::always_inline]] inline V pickLanes(I mask, V a, V b) noexcept
{
    return reinterpret_cast<V>((reinterpret_cast<I>(a) & mask) | (reinterpret_cast<I>(b) & ~mask));
}

// Lane-wise square root, as std::sqrt; eight lanes as two halves of four (as fast per lane, and
// every x86-64 has the four-lane form), kept in registers.
[[gnu::always_inline]] inline void sqrtLanes(const Lanes<4>::V& x, Lanes<4>::V& out) noexcept
{
    out = reinterpret_cast<Lanes<4>::V>(lanes::sqrt4(reinterpret_cast<lanes::F4>(x)));
}
[[gnu::always_inline]] inline void sqrtLanes(const Lanes<8>::V& x, Lanes<8>::V& out) noexcept
{
    const lanes::F4 lo = lanes::sqrt4(__builtin_shufflevector(x, x, 0, 1, 2, 3));
    const lanes::F4 hi = lanes::sqrt4(__builtin_shufflevector(x, x, 4, 5, 6, 7));
    out = __builtin_shufflevector(lo, hi, 0, 1, 2, 3, 4, 5, 6, 7);
}

// Every lane x, as one broadcast (a loop over the lanes becomes one insert per lane).
template <class V>
[[gnu::always_inline]] inline V splatLanes(float x) noexcept
{
    static_assert(sizeof(V) == 4 * sizeof(float) || sizeof(V) == 8 * sizeof(float));
    const typename Lanes<4>::V one{x};
    if constexpr (sizeof(V) == 4 * sizeof(float))
        return __builtin_shufflevector(one, one, 0, 0, 0, 0);
    else
        return __builtin_shufflevector(one, one, 0, 0, 0, 0, 0, 0, 0, 0);
}

// Harmonics 0..n-1 of the single-harmonic bands: each is its band (the arrays never overlap).
template <class T>
[[gnu::always_inline]] inline void copyRun(T* __restrict dst, const T* __restrict src, int n) noexcept
{
    for (int h = 0; h < n; ++h)
        dst[h] = src[h];
}

// Their share, crossfaded from their band's towards the next one's by the harmonic's weight, and
// the coherent part that goes with it.
[[gnu::always_inline]] inline void shareRun(float* __restrict share, float* __restrict coherent,
                                            const float* __restrict here, const float* __restrict next,
                                            const float* __restrict weight, int n) noexcept
{
    for (int h = 0; h < n; ++h)
    {
        const float cs = here[h] * weight[h] + next[h] * (1.0f - weight[h]);
        const float c2 = 1.0f - cs * cs;
        share[h] = cs;
        coherent[h] = std::sqrt(0.0f < c2 ? c2 : 0.0f);
    }
}

// What the harmonics of one band take from it.
struct BandRun
{
    float rate, depth1, depth2, detune, offset, shareHere, shareNext;
};

// Harmonics from..to-1 of one band: its values, the phase offset scattered by each harmonic's
// random factor and, when sharing, the share crossfaded towards the next band. Whole groups of
// kLanes harmonics from `from` on while they end at or below limit, the last one running past `to`
// into later bands' harmonics, which those bands write over after; the rest one by one.
template <int kLanes>
[[gnu::always_inline]] inline void spreadBand(HarmonicBands& hs, int from, int to, int limit,
                                              const BandRun& r, bool sharing, const float* randReal,
                                              const float* bandWeight) noexcept
{
    using V = typename Lanes<kLanes>::V;
    using I = typename Lanes<kLanes>::I;
    const auto at = [](auto& field, int h) noexcept { return reinterpret_cast<V*>(field.data() + h); };
    V rate, depth1, depth2, detune;
    rate = splatLanes<V>(r.rate), depth1 = splatLanes<V>(r.depth1), depth2 = splatLanes<V>(r.depth2);
    detune = splatLanes<V>(r.detune);
    const V zero{};
    int h = from;
    for (; h < to && h + kLanes <= limit; h += kLanes)
    {
        *at(hs.bandOscRate, h) = rate;
        *at(hs.bandDepth1, h) = depth1;
        *at(hs.bandDepth2, h) = depth2;
        *at(hs.bandDetune, h) = detune;
        const V scattered = r.offset * *reinterpret_cast<const V*>(randReal + h);
        *reinterpret_cast<I*>(hs.phaseOffset.data() + h) = __builtin_convertvector(scattered, I);
        if (!sharing) continue;
        const V hw = *reinterpret_cast<const V*>(bandWeight + h);
        const V cs = r.shareHere * hw + r.shareNext * (1.0f - hw);
        const V c2 = 1.0f - cs * cs;
        V coherent;
        coherent = pickLanes(zero < c2, c2, zero);
        sqrtLanes(coherent, coherent);
        *at(hs.share, h) = cs;
        *at(hs.shareCoherent, h) = coherent;
    }
    for (; h < to; ++h)
    {
        const auto sh = static_cast<size_t>(h);
        hs.bandOscRate[sh] = r.rate;
        hs.bandDepth1[sh] = r.depth1;
        hs.bandDepth2[sh] = r.depth2;
        hs.bandDetune[sh] = r.detune;
        hs.phaseOffset[sh] = static_cast<int32_t>(r.offset * randReal[h]);
        if (!sharing) continue;
        const float hw = bandWeight[h];
        const float cs = r.shareHere * hw + r.shareNext * (1.0f - hw);
        const float c2 = 1.0f - cs * cs;
        hs.share[sh] = cs;
        hs.shareCoherent[sh] = std::sqrt(0.0f < c2 ? c2 : 0.0f);
    }
}

// Stores the lanes of x that keep marks at dst (all of them when whole), the others keeping what
// dst holds, so that nothing past the blended bands changes.
template <class Dst, class V, class I>
[[gnu::always_inline]] inline void storeLanes(Dst* dst, V x, I keep, bool whole) noexcept
{
    static_assert(sizeof x == sizeof keep);
    if (whole)
    {
        std::memcpy(dst, &x, sizeof x);
        return;
    }
    I old;
    std::memcpy(&old, dst, sizeof old);
    const I merged = (reinterpret_cast<I>(x) & keep) | (old & ~keep);
    std::memcpy(dst, &merged, sizeof merged);
}

// The voice's band values of bands 0..count-1 from the blend's sums, kLanes bands at a time, and
// bytes 20 and 21 of the blended records for the jitter generators (whole groups).
template <int kLanes>
[[gnu::always_inline]] inline void blendedBands(BlendSums& s, int count, float hopSeconds, float noteHz,
                                                float veloGain, bool sharing, VoiceBands& vb,
                                                KeyVoice::UnscaledBands& unscaled, float* share,
                                                float* mean19Out, float* mean20Out, float* mean21Out) noexcept
{
    using V = typename Lanes<kLanes>::V;
    using I = typename Lanes<kLanes>::I;
    using S = BlendSums;
    const auto sum = [&s](int k) noexcept {
        return reinterpret_cast<const V*>(s.sum[static_cast<size_t>(k)].data());
    };
    const V zero{};
    const V one = zero + 1.0f;
    const I noSign = I{} + 0x7fffffff;
    I laneIndex;
    for (int k = 0; k < kLanes; ++k)
        laneIndex[k] = k;
    for (int i = 0; i * kLanes < count; ++i)
    {
        const int b = i * kLanes;
        const bool whole = b + kLanes <= count;
        const I keep = laneIndex < count - b;
        const V invE = 1.0f / (sum(S::kE)[i] + 1e-20f);
        const V wa = sum(S::kWidthANum)[i] / (sum(S::kAbsA)[i] + 1e-20f);
        const V wb = sum(S::kWidthBNum)[i] / (sum(S::kAbsB)[i] + 1e-20f);
        const auto byteSum = [&](int byte) noexcept { return sum(S::kByte14 + byte - 14) + i; };
        const V unit16 = (*byteSum(16) * invE) / 255.0f;
        const V unit14 = (*byteSum(14) * invE) / 255.0f;
        V m16, depth1, depth2, tonal, tonality;
        m16 = pickLanes(one < unit16, one, unit16);
        tonal = pickLanes(one < unit14, one, unit14);
        sqrtLanes(1.0f - m16, depth1);
        sqrtLanes(2.0f * m16, depth2);
        sqrtLanes(tonal, tonality);
        const V m17 = (*byteSum(17) * invE);
        const V sa = sum(S::kA)[i], sb = sum(S::kB)[i], sc = sum(S::kC)[i];
        const V absA = reinterpret_cast<V>(reinterpret_cast<I>(sa) & noSign);
        const V absB = reinterpret_cast<V>(reinterpret_cast<I>(sb) & noSign);
        const V absC = reinterpret_cast<V>(reinterpret_cast<I>(sc) & noSign);
        const V levelA = absA * sa * 1e-6f, levelB = absB * sb * 1e-6f, levelC = absC * sc * 1e-6f;
        storeLanes(unscaled.levelA.data() + b, levelA, keep, true);
        storeLanes(unscaled.levelB.data() + b, levelB, keep, true);
        storeLanes(unscaled.levelC.data() + b, levelC, keep, true);
        storeLanes(vb.levelA.data() + b, levelA * veloGain, keep, whole);
        storeLanes(vb.sharpA.data() + b, 1.0f / (wa * wa * 1e-6f + 1e-4f), keep, whole);
        storeLanes(vb.levelB.data() + b, levelB * veloGain, keep, whole);
        storeLanes(vb.sharpB.data() + b, 1.0f / (wb * wb * 1e-6f + 1e-4f), keep, whole);
        storeLanes(vb.decayShape.data() + b, sum(S::kDecay)[i] * invE / 255.0f, keep, whole);
        storeLanes(vb.levelC.data() + b, levelC * veloGain, keep, whole);
        storeLanes(vb.oscDepth1.data() + b, depth1, keep, whole);
        storeLanes(vb.oscDepth2.data() + b, depth2, keep, whole);
        storeLanes(vb.oscRate.data() + b, m17 * m17 * 0.01f * hopSeconds, keep, whole);
        storeLanes(vb.oscStartPhase.data() + b, (*byteSum(18) * invE) / 255.0f, keep, whole);
        storeLanes(vb.tonality.data() + b, tonality, keep, whole);
        const V noiseWidth = (*byteSum(15) * invE) * 1.333f * hopSeconds;
        storeLanes(unscaled.noiseWidth.data() + b, noiseWidth, keep, true);
        storeLanes(vb.noiseWidth.data() + b, noiseWidth * noteHz / 255.0f, keep, whole);
        const V detune = sum(S::kDetuneNum)[i] / (sum(S::kDetuneDen)[i] + 1e-20f) * 3.0517578e-5f;
        storeLanes(vb.detune.data() + b, detune, keep, whole);
        const I phaseOffset = __builtin_convertvector(4.0f * sum(S::kBin)[i] * invE, I);
        storeLanes(vb.phaseOffset.data() + b, phaseOffset, keep, whole);
        storeLanes(mean19Out + b, (*byteSum(19) * invE) / 255.0f, keep, whole);
        storeLanes(mean20Out + b, (*byteSum(20) * invE) / 255.0f, keep, true);
        storeLanes(mean21Out + b, (*byteSum(21) * invE), keep, true);
        if (sharing)
        {
            V r, level;
            sqrtLanes(sum(S::kShare)[i] * invE / 255.0f, r);
            level = pickLanes(one < r, one, r);
            level = pickLanes(r < zero, zero, level);
            storeLanes(share + b, level, keep, whole);
        }
    }
}

// kLanes values from p on (floats or ints, by V).
template <class V, class T>
[[gnu::always_inline]] inline V loadLanes(const T* p) noexcept
{
    static_assert(sizeof(V) % sizeof(T) == 0);
    V x;
    std::memcpy(&x, p, sizeof x);
    return x;
}

// The band data of bands 0..count-1 that src's blend gave, into v, with v's own velocity gain and
// note frequency applied as the blend applies them; the lanes past count keep what v holds.
template <int kLanes>
[[gnu::always_inline]] inline void takeBands(KeyVoice& v, const KeyVoice& src, int count, bool sharing,
                                             float veloGain, float noteHz) noexcept
{
    using V = typename Lanes<kLanes>::V;
    using I = typename Lanes<kLanes>::I;
    I laneIndex;
    for (int k = 0; k < kLanes; ++k)
        laneIndex[k] = k;
    VoiceBands& vb = v.bands;
    const VoiceBands& sb = src.bands;
    const KeyVoice::UnscaledBands& su = src.unscaled;
    // The float arrays copied as they are, each with its source.
    float* const copiedTo[] = {vb.sharpA.data(),    vb.sharpB.data(),        vb.decayShape.data(),
                               vb.oscDepth1.data(), vb.oscDepth2.data(),     vb.oscRate.data(),
                               vb.oscStartPhase.data(), vb.tonality.data(),  vb.detune.data(),
                               v.bandMean19.data(), v.bandRunningSum.data(), v.bandShare.data()};
    const float* const copiedFrom[] = {sb.sharpA.data(),    sb.sharpB.data(),          sb.decayShape.data(),
                                       sb.oscDepth1.data(), sb.oscDepth2.data(),       sb.oscRate.data(),
                                       sb.oscStartPhase.data(), sb.tonality.data(),    sb.detune.data(),
                                       src.bandMean19.data(), src.bandRunningSum.data(), src.bandShare.data()};
    static_assert(std::size(copiedTo) == std::size(copiedFrom));
    // The share (last) only while the voice shares, as the blend writes it; the others as a fixed
    // run, which unrolls into plain copies.
    constexpr size_t kAlways = std::size(copiedTo) - 1;
    // One group of kLanes bands of each array at a time, as the blend stores them.
    for (int b = 0; b < count; b += kLanes)
    {
        const bool whole = b + kLanes <= count;
        const I keep = laneIndex < count - b;
        storeLanes(vb.levelA.data() + b, loadLanes<V>(su.levelA.data() + b) * veloGain, keep, whole);
        storeLanes(vb.levelB.data() + b, loadLanes<V>(su.levelB.data() + b) * veloGain, keep, whole);
        storeLanes(vb.levelC.data() + b, loadLanes<V>(su.levelC.data() + b) * veloGain, keep, whole);
        storeLanes(vb.noiseWidth.data() + b, loadLanes<V>(su.noiseWidth.data() + b) * noteHz / 255.0f, keep, whole);
        storeLanes(vb.phaseOffset.data() + b, loadLanes<I>(sb.phaseOffset.data() + b), keep, whole);
        for (size_t k = 0; k < kAlways; ++k)
            storeLanes(copiedTo[k] + b, loadLanes<V>(copiedFrom[k] + b), keep, whole);
        if (sharing)
            storeLanes(copiedTo[kAlways] + b, loadLanes<V>(copiedFrom[kAlways] + b), keep, whole);
    }
}

// The bands the spread over harmonics reads and the harmonics it writes for a band count: up to
// the band past the blended ones; below the banded harmonics harmonic h is band h (bands and
// harmonics 0..single-1), above them band by band over its run of harmonics up to the last band
// that starts below the harmonic limit (bands single..end-1, harmonics single..limit-1).
struct SpreadRange
{
    int single, end, limit;
};

SpreadRange spreadRange(const std::array<int32_t, kBandTableSize>& bandStart, int bandCount) noexcept
{
    const int last = std::clamp(bandCount + 1, 0, kMaxBands - 1);
    const int single = std::min(last + 1, kSingleHarmonicBands);
    // Band starts rise with the band, so the bands that start below the limit come first: a
    // bisection instead of a walk over up to forty of them on every set-up.
    const auto first = bandStart.begin() + single, past = bandStart.begin() + last + 1;
    const auto belowLimit = [](int32_t start) noexcept { return start < kMaxHarmonics; };
    const int end = single + static_cast<int>(std::partition_point(first, past, belowLimit) - first);
    const int limit = end > single ? std::min(bandStart[static_cast<size_t>(end)], kMaxHarmonics) : 0;
    return {single, end, limit};
}

// Keys are built from zeros and hold no padding, so equal keys are equal bytes: one compare of the
// whole key instead of field by field and slot by slot.
static_assert(std::has_unique_object_representations_v<KeySpaceDSP::BlendKey>, "a blend key holds no padding");
bool sameBlend(const KeySpaceDSP::BlendKey& a, const KeySpaceDSP::BlendKey& b) noexcept
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}
} // namespace

void KeySpaceDSP::setVoiceData(KeyVoice* voice, NodeMix mix, BlendMemo* memo) noexcept
{
    if (voice == nullptr) return;
    KeyVoice& v = *voice;

    // A standing morph hands every hop the very mix that passed as no change before.
    if (standsOnSettledMix(v, mix))
    {
        v.mix.point = mix.point;
        return;
    }
    const NodeMix incoming = mix;

    // The mix may come from a queue or another canvas: hold its count and weights in range.
    mix.count = std::clamp(mix.count, 0, kMaxMixEntries);
    for (int i = 0; i < mix.count; ++i)
    {
        float& w = mix.weight[static_cast<size_t>(i)];
        w = (w > 0.0f) ? std::min(w, 1.0f) : 0.0f; // NaN gives 0
    }

    // Change test: summed weight difference against the stored mix.
    if (v.needsSetup == 0)
    {
        const NodeMix& stored = v.mix;
        float distance = 0.0f;
        int cursor = 0;
        for (int i = 0; i < stored.count; ++i)
        {
            bool found = false;
            for (int k = cursor; k < mix.count; ++k)
            {
                if (mix.node[static_cast<size_t>(k)] == stored.node[static_cast<size_t>(i)])
                {
                    distance +=
                        std::fabs(stored.weight[static_cast<size_t>(i)] - mix.weight[static_cast<size_t>(k)]);
                    if (k == cursor) ++cursor;
                    found = true;
                    break;
                }
            }
            if (!found) distance += stored.weight[static_cast<size_t>(i)];
        }
        if (stored.count <= 0 || distance < kMixChangeThreshold)
        {
            v.mix.point = mix.point;
            v.settledMix = incoming;
            v.settled = 1;
            return;
        }
    }

    // One pass that moves the lightest entry last.
    for (int i = 0; i + 1 < mix.count; ++i)
    {
        if (mix.weight[static_cast<size_t>(i + 1)] > mix.weight[static_cast<size_t>(i)])
        {
            std::swap(mix.weight[static_cast<size_t>(i)], mix.weight[static_cast<size_t>(i + 1)]);
            std::swap(mix.node[static_cast<size_t>(i)], mix.node[static_cast<size_t>(i + 1)]);
        }
    }

    // A voice outside the voice table has one set of per-harmonic values for all such voices, so
    // it neither takes a blend nor hands one on.
    const int slot = voiceSlot(v);
    if (slot == HarmonicBandPool::kOutsideSlot) memo = nullptr;

    // From here on the voice is set up for this mix.
    v.needsSetup = 0;
    v.mix = mix;
    v.settled = 0;
    v.vibratoDepth = 0.0f;
    v.markCount = 0;

    // Notes come from MIDI (0..127); anything else is held there rather than overflowing the exponential.
    const int heldNote = std::clamp(v.note, 0, 127);
    if (v.hzNote != heldNote)
    {
        v.hzNote = heldNote;
        v.noteHz = noteToHz(static_cast<float>(heldNote));
    }
    const float noteHz = v.noteHz;
    const float rate = sampleRate > 0.0f ? sampleRate : kDefaultSampleRate;
    const float hopSeconds = static_cast<float>(addSynth ? addSynth->hop : kSynthHop) / rate;

    // Slots: only entries that name a sound of this engine take a slot, packed in mix order, so
    // no slot is left over from an earlier set-up. What the blends read of each slot's zone is
    // kept here rather than the zone (a later slot may parse its zone over the known zone an
    // earlier one read, and copying whole zones cost more than the fields read).
    struct SlotBands
    {
        const uint8_t* records;
        ptrdiff_t stride;
        int bands;
        float weight;
        const uint8_t* share; // null unless the zone has a harmonic share
    };
    std::array<SlotBands, kMaxSoundSlots> slotBands; // entries 0..slots-1
    std::array<const uint8_t*, kMaxSoundSlots> slotResonanceRecords; // entries 0..slots-1
    std::array<int, kMaxSoundSlots> slotResonances{};
    int slots = 0;
    int bandCount = 0;
    int resonanceCount = 0;
    float keySum = 0.0f, gainNum = 0.0f, gainDen = 0.0f, pitchOffset = 0.0f;
    float warpNum = 0.0f, warpDen = 0.0f, vibrato = 0.0f;
    float jitterRateNum = 0.0f, jitterDen = 0.0f, jitterAmp = 0.0f;
    float shareNum = 0.0f, shareDen = 0.0f;
    for (int i = 0; i < mix.count; ++i)
    {
        const int soundIndex = mix.node[static_cast<size_t>(i)];
        if (soundIndex < 0 || soundIndex >= numSounds()) continue;
        const InstrumentMap& map = sounds[static_cast<size_t>(soundIndex)];
        const int zoneIndex = map.zoneForNote(v.note);
        if (zoneIndex < 0 || zoneIndex >= map.numZones) continue;
        const KeyVoice::KnownZone& known = knownZone(v, map, zoneIndex);
        const SoundZone& zone = known.zone;
        const float w = mix.weight[static_cast<size_t>(i)];
        const int j = slots++;
        slotBands[static_cast<size_t>(j)] = {zone.bandRecords, static_cast<ptrdiff_t>(zone.bandStride),
                                             std::min(zone.harmonicCount, kMaxBands), w,
                                             zone.harmonicShareFlag != 0 ? zone.shareBytes : nullptr};
        slotResonanceRecords[static_cast<size_t>(j)] = zone.resonances;
        const int h = std::clamp(zone.harmonicCount, 0, kMaxBands);
        const int p = std::clamp(zone.resonanceCount, 0, kMaxResonances);
        slotResonances[j] = p;

        v.slotZone[j] = zone.bytes;
        v.slotEnvelope[j] = zone.bandRecords + kZoneBandHeaderSize;
        v.slotStride[j] = zone.bandStride;
        v.slotFrameRate[j] = static_cast<float>(zone.frameRate) * 0.01f;
        v.slotWeight[j] = w;
        v.slotFrameCount[j] = zone.frameCount;
        v.slotTuneRatio[j] = known.tuneRatio;
        v.slotWarp[j] = known.warp;
        v.slotBandCount[j] = h;

        const float tune = w * static_cast<float>(zone.tuneCents) * 0.01f;
        keySum += w * static_cast<float>(static_cast<int16_t>(map.zoneKey[static_cast<size_t>(zoneIndex)]));
        gainNum += w * w * map.gain;
        gainDen += w * w;
        pitchOffset += tune;
        warpNum += static_cast<float>(zone.warpWidth) * std::fabs(tune);
        warpDen += std::fabs(tune);
        vibrato += static_cast<float>(zone.vibratoDepth) * w / 128.0f;
        jitterRateNum += static_cast<float>(zone.jitterRate) * static_cast<float>(zone.jitterAmount) * w;
        jitterDen += static_cast<float>(zone.jitterAmount) * w;
        jitterAmp += static_cast<float>(zone.jitterAmount) * w * 0.0078125f;
        if (zone.harmonicShareFlag != 0)
        {
            shareNum += w * (1.0f - static_cast<float>(zone.harmonicShareFlag) / 255.0f) / noteHz;
            shareDen += w;
        }
        bandCount = std::max(bandCount, h);
        resonanceCount = std::max(resonanceCount, p);
    }
    v.soundSlots = slots;
    v.bandCount = bandCount;
    v.soundKey = keySum;
    v.soundPitchOffset = pitchOffset;
    const float warpMean = warpNum / ((warpDen + 1e-20f) * 128.0f);
    v.pitchDecayRate = 1.0f / (warpMean * warpMean + 1e-20f);
    v.vibratoDepth = vibrato;
    const float jitterMean = jitterRateNum / (jitterDen * 128.0f + 1e-20f);
    v.jitterRate = jitterMean * jitterMean;
    v.jitterAmplitude = jitterAmp * jitterAmp;
    v.shareTime = shareDen > 0.0f ? shareNum / (shareDen + 1e-20f) : 0.0f;

    // Velocity curve.
    if (static_cast<int>(params.size()) > kParamVeloToAmp)
    {
        const Param& velo = params[kParamVeloToAmp];
        uint32_t velocityBits, valueBits;
        std::memcpy(&velocityBits, &v.velocity, sizeof velocityBits);
        std::memcpy(&valueBits, &velo.value, sizeof valueBits);
        if (v.curveKnown == 0 || v.curveVelocity != velocityBits || v.curveValue != valueBits)
        {
            v.veloGain = std::pow(v.velocity + 1e-5f, velo.convertValToUnit(velo.value));
            v.curveVelocity = velocityBits;
            v.curveValue = valueBits;
            v.curveKnown = 1;
        }
    }
    else
    {
        v.veloGain = v.velocity;
        v.curveKnown = 0;
    }
    const float veloGain = v.veloGain;

    // This voice's band data changes from here on: no later voice may take it from the memo.
    if (memo != nullptr)
        for (BlendMemo::Entry& e : memo->entries)
            if (e.source == &v) e.source = nullptr;

    // The band just past the blended ones is cleared, so nothing read at the top edge is left over.
    v.activeBands = bandCount;
    if (bandCount < kMaxBands - 1)
    {
        const auto n = static_cast<size_t>(bandCount);
        VoiceBands& next = v.bands;
        next.decayShape[n] = next.levelC[n] = next.oscDepth1[n] = next.oscDepth2[n] = next.oscRate[n] = 0.0f;
        next.oscStartPhase[n] = next.tonality[n] = next.noiseWidth[n] = next.detune[n] = 0.0f;
    }
    for (int b = bandCount; b < kMaxBands; ++b)
        v.bandShare[static_cast<size_t>(b)] = 0.0f;
    v.soundGain = gainNum / (gainDen + 1e-20f);
    const bool sharing = v.shareTime > 0.0f;

    // Bands. A moving morph re-blends every band of the voice every hop, so the blend runs as
    // plain loops over bands on each slot's decoded records (decoded only when the slot's zone was
    // not among the voice's last ones), in the chosen vector width: lane-wise arithmetic in the
    // scalar order, so both widths give the values of one band at a time.

    // Voices of one zone range on one morph blend the same records with the same weights: a voice
    // whose blend key matches one made before it in this call takes that voice's band data.
    BlendKey key;
    const KeyVoice* source = nullptr;
    if (memo != nullptr)
    {
        key.slots = slots;
        key.bandCount = bandCount;
        key.hopSecondsBits = std::bit_cast<uint32_t>(hopSeconds);
        key.sharing = sharing ? 1 : 0;
        for (int j = 0; j < slots; ++j)
        {
            const SlotBands& sb = slotBands[static_cast<size_t>(j)];
            key.slot[static_cast<size_t>(j)] = {sb.records, sb.share, sb.stride, sb.bands, std::bit_cast<uint32_t>(sb.weight)};
        }
        for (int k = 0; k < 2; ++k)
        {
            const int b = bandCount + k;
            if (b >= kMaxBands) break;
            const auto sb = static_cast<size_t>(b);
            const VoiceBands& vb = v.bands;
            const std::array<float, BlendKey::kEdgeFields - 1> edge{vb.oscRate[sb], vb.oscDepth1[sb], vb.oscDepth2[sb],
                                                                     vb.detune[sb]};
            for (size_t f = 0; f < edge.size(); ++f)
                key.edge[static_cast<size_t>(k * BlendKey::kEdgeFields) + f] = std::bit_cast<uint32_t>(edge[f]);
            key.edge[static_cast<size_t>(k * BlendKey::kEdgeFields + BlendKey::kEdgeFields - 1)] =
                static_cast<uint32_t>(vb.phaseOffset[sb]);
        }
        for (const BlendMemo::Entry& e : memo->entries)
            if (e.source != nullptr && sameBlend(e.key, key))
            {
                source = e.source;
                ++memo->taken;
                break;
            }
    }
    if (source != nullptr)
    {
        const KeyVoice& src = *source;
        vectorwidth::dispatch(usesWideVectors(), [&](auto wide) __attribute__((always_inline)) {
            takeBands<decltype(wide)::value ? 8 : 4>(v, src, bandCount, sharing, veloGain, noteHz);
        });
        v.markCount = src.markCount;
        v.markRateSet = src.markRateSet;
        for (size_t word = 0; word < src.markRateSet.size(); ++word)
            for (uint64_t bits = src.markRateSet[word]; bits != 0; bits &= bits - 1)
            {
                const size_t m = std::min(word * 64 + static_cast<size_t>(__builtin_ctzll(bits)), v.marks.size() - 1);
                v.marks[m].rate = src.marks[m].rate;
            }
        // Its per-harmonic values are read where the source's are: the source writes them again
        // only into a set nobody else reads.
        harmonicBandPool.share(slot, voiceSlot(src));
    }
    else
    {
        std::array<const DecodedBands*, kMaxSoundSlots> decoded{};
        {
            std::array<bool, kMaxSoundSlots> claimed{};
            const auto holds = [](const DecodedBands& d, const SlotBands& s) noexcept {
                return d.records == s.records && d.stride == s.stride && d.bands == s.bands && d.share == s.share;
            };
            for (int j = 0; j < slots; ++j)
                for (size_t i = 0; i < claimed.size() && decoded[static_cast<size_t>(j)] == nullptr; ++i)
                    if (!claimed[i] && holds(v.decodedBands[i], slotBands[static_cast<size_t>(j)]))
                        claimed[i] = true, decoded[static_cast<size_t>(j)] = &v.decodedBands[i];
            for (int j = 0; j < slots; ++j)
                for (size_t i = 0; i < claimed.size() && decoded[static_cast<size_t>(j)] == nullptr; ++i)
                    if (!claimed[i])
                    {
                        const SlotBands& s = slotBands[static_cast<size_t>(j)];
                        decodeBands(v.decodedBands[i], s.records, s.stride, s.bands, s.share);
                        claimed[i] = true, decoded[static_cast<size_t>(j)] = &v.decodedBands[i];
                    }
        }
        BlendSums sums;
        std::array<float, kMaxBands> mean20, mean21;
        vectorwidth::dispatch(usesWideVectors(), [&](auto wide) __attribute__((always_inline)) {
            constexpr int kLanes = decltype(wide)::value ? 8 : 4;
            const auto roundUp = [](int n) noexcept { return (std::max(n, 0) + kLanes - 1) / kLanes * kLanes; };
            for (int j = 0; j < slots; ++j)
            {
                const SlotBands& slot = slotBands[static_cast<size_t>(j)];
                const DecodedBands& d = *decoded[static_cast<size_t>(j)];
                const int count = std::min(slot.bands, bandCount);
                const bool share = slot.share != nullptr;
                if (j > 0)
                {
                    share ? addSlot<kLanes, true, false>(sums, d, slot.weight, count)
                          : addSlot<kLanes, false, false>(sums, d, slot.weight, count);
                    continue;
                }
                share ? addSlot<kLanes, true, true>(sums, d, slot.weight, count)
                      : addSlot<kLanes, false, true>(sums, d, slot.weight, count);
                // Bands past the first sound's, one zero group at a time (a fill per sum would call
                // memset for each).
                for (int i = roundUp(count) / kLanes; i < roundUp(bandCount) / kLanes; ++i)
                    for (auto& sum : sums.sum)
                        std::fill_n(sum.begin() + i * kLanes, kLanes, 0.0f);
            }
            blendedBands<kLanes>(sums, bandCount, hopSeconds, noteHz, veloGain, sharing, v.bands,
                                 v.unscaled, v.bandShare.data(), v.bandMean19.data(), mean20.data(), mean21.data());
        });
        // The jitter generators: a band's running sum of byte 20 picks its generator, and the first
        // band to reach one sets its rate.
        float runningSum = 0.0f;
        v.markRateSet = {};
        for (int b = 0; b < bandCount; ++b)
        {
            runningSum += mean20[static_cast<size_t>(b)];
            v.bandRunningSum[static_cast<size_t>(b)] = runningSum;
            const int markIndex = static_cast<int>(runningSum);
            if (markIndex >= v.markCount && markIndex <= kMaxBands)
            {
                const float m21 = mean21[static_cast<size_t>(b)];
                v.marks[static_cast<size_t>(markIndex)].rate = m21 * m21 * 0.01f;
                v.markRateSet[static_cast<size_t>(markIndex) / 64] |= uint64_t{1} << (markIndex % 64);
                v.markCount = markIndex + 1;
            }
        }
        spreadBandsToHarmonics(v, bandCount, harmonicBandPool.writeAlone(slot));
        if (memo != nullptr)
        {
            BlendMemo::Entry& e = memo->entries[static_cast<size_t>(memo->next) % memo->entries.size()];
            memo->next = static_cast<int32_t>((static_cast<size_t>(memo->next) + 1) % memo->entries.size());
            e.key = key;
            e.source = &v;
        }
    }

    v.harmonicBandSet = harmonicBandPool.setOfSlot(slot);

    // Without a sound to play nothing more can be set up: stay ready for the first mix that brings
    // one (and keep a pending onset for it), instead of playing silence for the rest of the note.
    if (slots == 0)
    {
        v.needsSetup = 1;
        return;
    }

    // Resonances, harmonic phases and the onset burst belong to a note's start only.
    if (v.onsetPending == 0) return;

    // Resonances.
    for (int p = 0; p < resonanceCount; ++p)
    {
        float sa = 0.0f, sWidth = 0.0f, sDamp = 0.0f, sSplit = 0.0f, sShade = 0.0f, sSpread = 0.0f;
        for (int j = 0; j < slots; ++j)
        {
            if (p >= slotResonances[j]) continue;
            const uint8_t* rec = slotResonanceRecords[static_cast<size_t>(j)] + static_cast<ptrdiff_t>(p) * kZoneResonanceSize;
            const float a = static_cast<float>(blobU16(rec + kResLevel)) * v.slotWeight[j];
            sa += a;
            sWidth += static_cast<float>(blobU16(rec + kResWidth)) * a;
            sDamp += rec[kResDamping] * a;
            sSplit += rec[kResSplit] * a;
            sShade += rec[kResShade] * a;
            sSpread += static_cast<float>(blobU16(rec + kResSpread)) * a;
        }
        const float m = 1.0f / (sa + 1e-20f);
        const float amp = std::fabs(sa) * sa * 1e-6f * veloGain;
        const float s = sSplit * m / 255.0f;
        const float d = sDamp * m / 255.0f;
        const float width = sWidth * m;
        const float q = 1.0f / (width * width * 1e-6f + 1e-5f);
        const float spread = sSpread * m;
        VoiceResonance& r = v.resonances[static_cast<size_t>(p)];
        r.tonalLevel = std::sqrt(std::max(1.01f - s, 0.0f)) * amp;
        r.noisyLevel = std::sqrt(s) * amp;
        r.freqHz = spread * spread * 1e-4f;
        r.bandwidthHz = erbBandWidthHz[static_cast<size_t>(p)] * sShade * m / 255.0f;
        r.decayLinear = q * (1.001f - d);
        r.decayQuad = q * q * d * d;
        r.phase = 256;
    }
    v.voiceResonanceCount = resonanceCount;
    v.activeResonances = resonanceCount;

    // Harmonics.
    const int start = bandStart[static_cast<size_t>(bandCount + 1)];
    const int n = std::clamp(start - 1, 0, kMaxHarmonics);
    if (start >= 2)
    {
        for (int i = 0; i < n; ++i)
        {
            v.harmonics.phase[static_cast<size_t>(i)] = 0;
            const auto band = static_cast<size_t>(harmBand[static_cast<size_t>(i)]);
            v.harmonics.oscPhase[static_cast<size_t>(i)] = v.bands.oscStartPhase[band];
        }
    }
    v.voiceHarmonicCount = n;

    // A fresh note has neither released nor damped.
    v.releaseProgress = 0.0f;
    v.dampProgress = 0.0f;

    // The onset burst, once per note.
    renderOnset(voice, mix);
    v.onsetPending = 0;
}

void KeySpaceDSP::spreadBandsToHarmonics(const KeyVoice& v, int bandCount, HarmonicBands& hs) const noexcept
{
    // Rendering reads harmonics only up to the last one of the band past the blended ones, and the
    // share only while the voice has one (a set-up that gives it one comes through here again).
    const bool sharing = v.shareTime > 0.0f;
    const VoiceBands& vb = v.bands;
    const SpreadRange range = spreadRange(bandStart, bandCount);
    const int single = range.single, end = range.end, limit = range.limit;
    vectorwidth::dispatch(usesWideVectors(), [&](auto wide) __attribute__((always_inline)) {
        constexpr int kLanes = decltype(wide)::value ? 8 : 4;
        copyRun(hs.bandOscRate.data(), vb.oscRate.data(), single);
        copyRun(hs.bandDepth1.data(), vb.oscDepth1.data(), single);
        copyRun(hs.bandDepth2.data(), vb.oscDepth2.data(), single);
        copyRun(hs.bandDetune.data(), vb.detune.data(), single);
        copyRun(hs.phaseOffset.data(), vb.phaseOffset.data(), single);
        if (sharing)
            shareRun(hs.share.data(), hs.shareCoherent.data(), v.bandShare.data(), v.bandShare.data() + 1,
                     harmBandWeight.data(), single);
        for (int b = single; b < end; ++b)
        {
            const auto sb = static_cast<size_t>(b);
            const BandRun run{vb.oscRate[sb], vb.oscDepth1[sb], vb.oscDepth2[sb], vb.detune[sb],
                              static_cast<float>(vb.phaseOffset[sb]), v.bandShare[sb],
                              v.bandShare[std::min(sb + 1, size_t{kMaxBands - 1})]};
            spreadBand<kLanes>(hs, bandStart[sb], std::min(bandStart[sb + 1], kMaxHarmonics), limit, run,
                               sharing, randTableReal.data(), harmBandWeight.data());
        }
    });
}

void KeySpaceDSP::renderOnset(KeyVoice* voice, const NodeMix& mix) noexcept
{
    (void)mix;
    KeyVoice& v = *voice;
    if (static_cast<int>(params.size()) < kNumEngineParams || !addSynth || !addSynth->fft64 ||
        v.soundSlots <= 0 || scratchA.size() < static_cast<size_t>(kScratchSize) ||
        scratchB.size() < static_cast<size_t>(2 * kOnsetMaxSamples))
        return;

    auto modulated = [this](int index)
    {
        const Param& p = params[static_cast<size_t>(index)];
        return std::isfinite(p.modValue) ? p.modValue : p.value;
    };
    const float rate = sampleRate > 0.0f ? sampleRate : kDefaultSampleRate;

    // Gain, brightness and the pitch ratio; a broken pitch gives no onset.
    const float gain = std::exp(modulated(kParamGain) * kDbToExp);
    const float bright = modulated(kParamBrightness);
    const float ratio = (1.0f + modulated(kParamFreqScale)) / noteToHz(v.pitch);
    if (!(ratio >= 0.0f) || !std::isfinite(ratio)) return;
    const float brightPos = std::max(bright, 0.0f);
    const float brightNeg = std::max(-bright, 0.0f);

    // Blend the 32 onset bands.
    std::array<float, kOnsetBands> duration{}, freq{}, delay{}, level{};
    for (int i = 0; i < kOnsetBands; ++i)
    {
        float a = 0.0f, sDur = 0.0f, sCentre = 0.0f, sDelay = 0.0f;
        for (int j = 0; j < v.soundSlots; ++j)
        {
            const uint8_t* rec = v.slotZone[j] + kZoneHeaderSize + i * kZoneOnsetBandSize;
            const float aj = static_cast<float>(blobU16(rec + kOnsetLevel)) * v.slotWeight[j];
            a += aj;
            sDur += static_cast<float>(blobU16(rec + kOnsetDuration)) * aj;
            sCentre += static_cast<float>(static_cast<int8_t>(rec[kOnsetCentre])) * aj;
            sDelay += static_cast<float>(static_cast<int8_t>(rec[kOnsetDelay])) * aj;
        }
        const float meanDur = sDur / (a + 1e-25f);
        duration[i] = meanDur * meanDur * 1e-6f;
        // A silent band has no centre of its own; the guard keeps it at its nominal frequency.
        const float f = (sCentre / (a * 128.0f + 1e-25f) + static_cast<float>(i)) * kOnsetBandHz;
        freq[i] = f > 0.0f ? f : 0.0f;
        const float e = sDelay * 0.001f / (a + 1e-25f);
        delay[i] = e * std::fabs(e);
        const float x = freq[i] * ratio;
        level[i] = ((1.0f + 0.2f * brightPos * x) /
                    (0.5f * brightNeg * brightNeg * x * x + 0.05f * brightPos * x + 1.0f)) *
                   v.veloGain * gain * std::fabs(a) * a * 1e-6f;
    }

    // Hi-Lo filter.
    const float cut = modulated(kParamHiLoCut);
    if (std::fabs(cut) > 0.0001f)
    {
        const float rez = std::clamp(modulated(kParamHiLoRez), 0.0f, 1.0f);
        for (int i = 0; i < kOnsetBands; ++i)
        {
            float y;
            if (cut < 0.0f)
                y = freq[i] * (100.0f * cut * cut + 10.0f * std::fabs(cut) + 1.0f) / 20000.0f;
            else
                y = 10000.0f * cut * cut / freq[i];
            level[i] *= 2.0f / ((y * y + 1.0f + rez) * ((y - 1.0f) * (y - 1.0f) + 1.02f - rez));
            if (!std::isfinite(level[i])) level[i] = 0.0f;
        }
    }

    // Spectrum columns, one per 32-sample hop of the 64-point transform.
    constexpr int half = kOnsetHop;
    constexpr int colStride = half + 2;
    const int mainLength = static_cast<int>(addSynth->synthWindow.size());
    const int columns = std::min(128, (mainLength - kOnsetFftSize) / half + 1);
    std::fill(scratchA.begin(), scratchA.end(), 0.0f);
    std::fill(scratchB.begin(), scratchB.end(), 0.0f);
    float* const colBase = scratchA.data();
    auto colRe = [&](int k) { return colBase + 2 * k * colStride; };
    auto colIm = [&](int k) { return colBase + (2 * k + 1) * colStride; };

    // Each band is a partial that starts after its delay and fades over its duration.
    const float colTime = static_cast<float>(half) / rate;
    const float formantRatio = std::exp2(modulated(kParamFormant) / 12.0f);
    float phaseOffset = 0.0f;
    int end = 0;
    for (int i = 0; i < kOnsetBands; ++i)
    {
        const float binPos = formantRatio * freq[i] / rate * static_cast<float>(kOnsetFftSize) + 0.49f;
        if (!(binPos >= 0.0f && binPos < static_cast<float>(half + 1)) || level[i] == 0.0f) continue;
        const int bin = static_cast<int>(binPos);
        const bool low = freq[i] < 10.0f;
        const int start = low ? 1 : static_cast<int>(std::max(delay[i], 0.0f) / colTime + 0.4f);
        phaseOffset += rate * delay[i] / 64.0f;
        if (start >= columns) continue;
        const float lenF = duration[i] / colTime;
        const int len =
            std::min(std::max(1, lenF < static_cast<float>(columns) ? static_cast<int>(lenF) : columns),
                     columns - start);
        end = std::max(end, start + len);
        int phase = static_cast<int>(((low ? 0.75f : 0.0f) + phaseOffset) * 1024.0f + 0.49f);
        const int step = static_cast<int>(freq[i] * 1024.0f * colTime + 0.49f);
        for (int k = 0; k < start + len; ++k)
        {
            if (k >= start)
            {
                // A band of zero duration still sounds for its one column.
                const float x = duration[i] > 0.0f
                                    ? std::min(static_cast<float>(k - start) * colTime / duration[i], 1.0f)
                                    : 0.0f;
                const float value = (1.0f - smoothStep(x)) * level[i];
                const CF& rot =
                    rotTable[static_cast<size_t>(static_cast<uint32_t>(phase) & (kRotTableSize - 1))];
                colRe(k)[bin] += value * rot.re;
                colIm(k)[bin] += value * rot.im;
            }
            phase += step;
        }
    }
    if (end <= 0) return;

    // Inverse transforms, overlap-added into the first onset channel.
    SynthFFT& fft = *addSynth->fft64;
    float* const out = scratchB.data();
    float* const samples = addSynth->onsetOut.data();
    const float* const window = addSynth->onsetWindow.data();
    for (int k = 0; k < end; ++k)
    {
        // Packed real-spectrum layout: the imaginary slot of bin 0 carries the Nyquist bin (a real
        // signal has no imaginary DC part).
        colIm(k)[0] = colRe(k)[half];
        const vdsp::SplitComplex in{colRe(k), colIm(k)};
        vdsp::fftInverseRealSamples(fft.setup, in, samples, kOnsetFFTLog2);
        float* const dst = out + half * k;
        vdsp::vma(samples + half, window, dst, dst, static_cast<size_t>(half));
        vdsp::vma(samples, window + half, dst + half, dst + half, static_cast<size_t>(half));
    }
    int length = (end - 1) * half + kOnsetFftSize;

    // Attack: a positive Attack lifts the burst, a negative one fades it in.
    const float attack = params[kParamAttack].value * 0.01f;
    if (attack > 0.001f)
    {
        vdsp::vsmul(out, 4.0f * attack * attack + 1.0f, out, static_cast<size_t>(length));
    }
    else if (attack < -0.001f)
    {
        const float fadeLength = 2.0f * attack * attack * rate;
        const int n = static_cast<int>(std::min(fadeLength, static_cast<float>(length)));
        for (int i = 0; i < n; ++i)
            out[i] *= smoothStep(static_cast<float>(i) / fadeLength);
    }

    // Binaural: the ear away from the sound hears a delayed, head-shadowed copy.
    float* const undelayed = out;
    float* const delayed = out + kOnsetMaxSamples;
    const float* ch0 = undelayed;
    const float* ch1 = undelayed;
    int len0 = length, len1 = length;
    const BinauralParams bp = computeBinauralParams(voice);
    if (bp.on && std::fabs(bp.angle) > 0.1f)
    {
        const int d = static_cast<int>(std::fabs(bp.delay) * rate);
        const float c = std::exp(-6.0f * bp.shadowFreq / rate);
        const int stop = std::min(kOnsetMaxSamples, length + d);
        float y = 0.0f;
        for (int i = std::max(d, 0); i < stop; ++i)
        {
            y = undelayed[i - d] * (1.0f - c) + y * c;
            delayed[i] = y;
        }
        const int delayedLength = std::min(kOnsetMaxSamples, length + d);
        const int fade = std::min(32, delayedLength);
        for (int i = 0; i < fade; ++i)
        {
            const float u = 1.0f - static_cast<float>(i) / static_cast<float>(fade);
            delayed[delayedLength - fade + i] *= smoothStep(u);
        }
        if (bp.angle > 0.0f)
        {
            ch0 = delayed;
            len0 = delayedLength;
        }
        else
        {
            ch1 = delayed;
            len1 = delayedLength;
        }
    }

    // Straight into the rings at the read position, so the burst sounds at once.
    addSynth->addToRingAtReadPos(0, ch0, len0);
    addSynth->addToRingAtReadPos(1, ch1, len1);
}
