// The band levels of one voice and hop: the smoothed jitter generators, each band's amplitude
// from its decays, steady level and jitter, the mixed sounds' envelope frames, Flatten, the Hi-Lo
// filter, and the tonal and noisy parts by Fatness. Per band, at most 82 per voice and hop.

// Eight-lane vectors pass between functions here only inside one form's inlined code, never
// across a call the two forms would have to agree on.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "engine/KeySpaceDSP.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/voice/VoiceHop.h"

#include "engine/VectorWidth.h"

using namespace voicehop;

namespace
{

// Runs f with std::true_type or std::false_type as flag says, so that a loop's variants are
// chosen once before it instead of per element.
template <class F>
[[gnu::always_inline]] inline void withFlag(bool flag, F f) noexcept
{
    if (flag)
        f(std::true_type{});
    else
        f(std::false_type{});
}

// The bits of eight floats from any float-aligned address.
[[gnu::always_inline]] inline I8 bits8(const float* p) noexcept
{
    I8 x;
    std::memcpy(&x, p, sizeof x);
    return x;
}
// Whether any lane has a bit set: the halves folded onto lane 0, as a lane-by-lane test would
// branch per lane.
[[gnu::always_inline]] inline bool anyBits(I8 x) noexcept
{
    x |= __builtin_shufflevector(x, x, 4, 5, 6, 7, 0, 1, 2, 3);
    x |= __builtin_shufflevector(x, x, 2, 3, 0, 1, 6, 7, 4, 5);
    x |= __builtin_shufflevector(x, x, 1, 0, 3, 2, 5, 4, 7, 6);
    return x[0] != 0;
}

// A band's place among the jitter generators: the marks below and above its running sum and the
// smoothed weight of the upper one. The mark index is the clamped truncation of the running sum
// (a NaN reads mark 0).
struct MarkPlace
{
    int32_t low;
    int32_t high;
    float weight;
};
[[gnu::always_inline]] inline MarkPlace markPlace(float runningSum, float markTop, int markCount) noexcept
{
    const float rsLow = runningSum > 0.0f ? runningSum : 0.0f;
    const int32_t k = static_cast<int32_t>(rsLow < markTop ? rsLow : markTop);
    return {k, std::min(k + 1, markCount), smoothStep(clampUnit(runningSum - static_cast<float>(k)))};
}

// The voice's kept mark places of bands 0..end-1 for these running sums and mark count.
inline void keepMarkPlaces(KeyVoice::SteadyBands& kept, const float* __restrict runningSum, int markCount,
                           int end) noexcept
{
    const float markTop = static_cast<float>(markCount);
    int32_t* __restrict low = kept.markLow.data();
    int32_t* __restrict high = kept.markHigh.data();
    float* __restrict weight = kept.markWeight.data();
    int32_t* __restrict from = kept.runningSum.data();
    for (int g = 0; g < end; g += kLanes8)
    for (int b = g; b < g + kLanes8; ++b)
    {
        const MarkPlace place = markPlace(runningSum[b], markTop, markCount);
        low[b] = place.low;
        high[b] = place.high;
        weight[b] = place.weight;
        from[b] = std::bit_cast<int32_t>(runningSum[b]);
    }
}

// Amplitude of bands first..end-1 (first a whole group of eight) from their decays, steady level,
// jitter and tone shape level, with kEnvelope plus their share of the mixed sounds' envelope
// frames (envelope: the frames' weighted sums per band, see envelopeSums): band records gathered
// field by field, per-band tables contiguous, the jitter generators' values by the band's place
// among them (with kKept read from the voice's kept places instead of worked out). With kOneMark
// (at most one mark) each band picks its marks' values by a select on values copied before the
// loop, which vectorises far better than a gather lane by lane (with more marks the selects keep
// the loop scalar); otherwise it reads them by index.
// Bands go in whole groups of eight, so that no scalar remainder loop (a division per band) runs
// for the last few: the spare lanes read the per-band arrays' unused entries, and what they write
// past the active bands is never read. With kSameGain the tone shape's level is the same at every
// band (see ToneShape::levelSameEverywhere), taken once before the loop instead of one division
// per band.
static_assert(kMaxBands % kLanes8 == 0, "per-band arrays hold whole groups of eight");
template <bool kOneMark, bool kSameGain, bool kKept, bool kEnvelope>
[[gnu::always_inline]] inline void bandAmplitudes(int first, int end, const ToneShape shape, float t, float lifeFactor,
                                                  int markCount, const int32_t* __restrict bandStart,
                                                  const float* __restrict levelA, const float* __restrict sharpA,
                                                  const float* __restrict levelB, const float* __restrict sharpB,
                                                  const float* __restrict decayShape, const float* __restrict levelC,
                                                  const float* __restrict runningSum,
                                                  const int32_t* __restrict keptLow, const int32_t* __restrict keptHigh,
                                                  const float* __restrict keptWeight,
                                                  const float* __restrict mean19, const float* __restrict markValue,
                                                  const float* __restrict envelope, float* __restrict ampOut) noexcept
{
    const float markTop = static_cast<float>(markCount);
    const float sameGain = shape.levelAt(static_cast<float>(bandStart[0]));
    std::array<float, 2> table;
    for (std::size_t m = 0; m < table.size(); ++m)
        table[m] = markValue[m];
    for (int g = first; g < end; g += kLanes8)
    for (int b = g; b < g + kLanes8; ++b)
    {
        const float bandGain = kSameGain ? sameGain : shape.levelAt(static_cast<float>(bandStart[b]));
        const float f4 = decayShape[b];
        const float d1 = (f4 * f4 * sharpA[b] * t + 1.0f - f4) * sharpA[b] * t;
        const float d2 = sharpB[b] * t;
        const float p1 = approxExp(d1);
        const MarkPlace place =
            kKept ? MarkPlace{keptLow[b], keptHigh[b], keptWeight[b]} : markPlace(runningSum[b], markTop, markCount);
        const float s = place.weight;
        const float markLow = kOneMark ? (place.low == 1 ? table[1] : table[0]) : markValue[place.low];
        const float markHigh = kOneMark ? (place.high == 1 ? table[1] : table[0]) : markValue[place.high];
        const float jitter = (1.0f - s) * markLow + s * markHigh;
        const float level = levelA[b] / p1 + levelB[b] / (p1 * approxExp(d2)) + levelC[b];
        const float amp = (1.0f + mean19[b] * lifeFactor * jitter) * bandGain * level;
        const float a = 0.0f < amp ? amp : 0.0f;
        ampOut[b] = kEnvelope ? std::max(0.0f, a + bandGain * envelope[b] / 32768.0f) : a;
    }
}

// Each band's index as a float, read as a vector: converting the loop index lane by lane would
// build an index vector from eight scalar counters every group.
constexpr std::array<float, kMaxBands> kBandIndex = [] {
    std::array<float, kMaxBands> index{};
    for (int b = 0; b < kMaxBands; ++b)
        index[static_cast<std::size_t>(b)] = static_cast<float>(b);
    return index;
}();

// What Fatness makes of the bands: the slope and offset of the noisy factor over tonality, and
// the noise width's scale and rise per band.
struct Fatness
{
    float slope;
    float offset;
    float widthScale;
    float widthRise;
};
inline Fatness fatnessOf(float fat) noexcept
{
    float slope = 0.0f;
    float offset = 0.0f;
    if (fat >= 1.0f)
    {
        slope = 1.0f;
        offset = fat - 1.0f;
    }
    else if (fat >= 0.0f)
    {
        const float u = 1.0f - fat;
        slope = 1.0f - u * u;
    }
    const float rise = fat >= 0.0f ? fat - 1.0f : -1.0f;
    return {slope, offset, 0.8f * rise + 1.0f, std::max(rise, 0.0f)};
}

// A band's noisy and tonal factor and noise width under Fatness.
struct FatSplit
{
    float noisy;
    float tonal;
    float width;
};
[[gnu::always_inline]] inline FatSplit fatSplit(float tonality, float noiseWidth, float bandIndex,
                                                const Fatness& fat) noexcept
{
    const float k = clampUnit(tonality * fat.slope + fat.offset);
    const float width = noiseWidth * fat.widthScale;
    const float widened = fat.offset > 0.0f ? width * (tonality / (k + 1e-20f)) : width;
    return {k, std::sqrt(1.0f - k * k), 0.05f * bandIndex * fat.widthRise + widened};
}

// The voice's kept splits of bands 0..end-1 for these tonalities, noise widths and Fatness.
inline void keepFatSplits(KeyVoice::SteadyBands& kept, const float* __restrict tonality,
                          const float* __restrict noiseWidth, const Fatness& fat, int end) noexcept
{
    const float* __restrict bandIndex = kBandIndex.data();
    float* __restrict noisy = kept.noisy.data();
    float* __restrict tonal = kept.tonal.data();
    float* __restrict width = kept.width.data();
    int32_t* __restrict fromTonality = kept.tonality.data();
    int32_t* __restrict fromWidth = kept.noiseWidth.data();
    for (int g = 0; g < end; g += kLanes8)
    for (int b = g; b < g + kLanes8; ++b)
    {
        const FatSplit split = fatSplit(tonality[b], noiseWidth[b], bandIndex[b], fat);
        noisy[b] = split.noisy;
        tonal[b] = split.tonal;
        width[b] = split.width;
        fromTonality[b] = std::bit_cast<int32_t>(tonality[b]);
        fromWidth[b] = std::bit_cast<int32_t>(noiseWidth[b]);
    }
}

// Brings the voice's kept terms of bands 0..end-1 (whole groups of eight) up to date: worked out
// anew unless they came from the same bits of the same inputs. One pass compares all the inputs,
// as on a standing morph they hold and the comparison is all there is to pay.
inline void keepSteadyBands(KeyVoice::SteadyBands& kept, const VoiceBands& bands, const float* __restrict runningSum,
                            int markCount, float fat, const Fatness& fatness, int end) noexcept
{
    const uint32_t fatBits = std::bit_cast<uint32_t>(fat);
    const float* __restrict tonality = bands.tonality.data();
    const float* __restrict noiseWidth = bands.noiseWidth.data();
    if (kept.markCount == markCount && kept.fatness == fatBits && kept.bands >= end)
    {
        // Differing bits per lane, eight bands at a time (as a plain loop the reduction stays
        // scalar).
        I8 diff{};
        for (int g = 0; g < end; g += kLanes8)
            diff |= (load8i(kept.runningSum.data() + g) ^ bits8(runningSum + g)) |
                    (load8i(kept.tonality.data() + g) ^ bits8(tonality + g)) |
                    (load8i(kept.noiseWidth.data() + g) ^ bits8(noiseWidth + g));
        if (!anyBits(diff))
            return;
    }
    keepMarkPlaces(kept, runningSum, markCount, end);
    keepFatSplits(kept, tonality, noiseWidth, fatness, end);
    kept.markCount = markCount;
    kept.fatness = fatBits;
    kept.bands = end;
}

// Tonal and noisy parts and noise width by Fatness of the bands the harmonics read
// (0..bandsRead-1), with kKept from the voice's kept splits; those past the active ones (at most
// kMaxBands) stay silent. Whole groups of eight, as above.
template <bool kKept>
[[gnu::always_inline]] inline void tonalAndNoisy(int activeBands, int bandsRead, const Fatness& fat,
                                                 const float* __restrict tonality, const float* __restrict noiseWidth,
                                                 const float* __restrict keptNoisy, const float* __restrict keptTonal,
                                                 const float* __restrict keptWidth, const float* __restrict ampIn,
                                                 float* __restrict tonalOut, float* __restrict noisyOut,
                                                 float* __restrict widthOut, int capacity) noexcept
{
    const float* __restrict bandIndex = kBandIndex.data();
    for (int g = 0; g < activeBands; g += kLanes8)
    for (int b = g; b < g + kLanes8; ++b)
    {
        const FatSplit split = kKept ? FatSplit{keptNoisy[b], keptTonal[b], keptWidth[b]}
                                     : fatSplit(tonality[b], noiseWidth[b], bandIndex[b], fat);
        noisyOut[b] = ampIn[b] * split.noisy;
        tonalOut[b] = ampIn[b] * split.tonal;
        widthOut[b] = split.width;
    }
    // One array at a time: a loop storing to all three stays scalar. The spare lanes of the last
    // group of eight are cleared too; mostly nothing else is, and then eight zeros from the first
    // silent band on do it in one store instead of a library call (bands past those read are
    // never read). capacity: the length of the three arrays.
    const int start = std::max(activeBands, 0);
    const int end = std::max({activeBands, bandsRead, (activeBands + kLanes8 - 1) & -kLanes8});
    const bool oneStore = end - start <= kLanes8 && start + kLanes8 <= capacity;
    for (float* out : {noisyOut, tonalOut, widthOut})
    {
        if (oneStore)
            store8(out + start, F8{});
        else
            std::fill(out + start, out + end, 0.0f);
    }
}

// Bands 0..bands-1 of frames f0 and f1 of an envelope into the voice's copy (see EnvelopeFrames),
// reading only what the copy does not hold yet; the rest of the last group of eight is cleared, so
// that it adds nothing (+0, as the weights are never negative) to the sums it goes into.
inline void readEnvelopeFrames(KeyVoice::EnvelopeFrames& ef, const uint8_t* env, int stride, int f0, int f1,
                               int bands) noexcept
{
    if (ef.envelope != env || ef.stride != stride || ef.frame0 != f0 || ef.frame1 != f1)
    {
        ef.envelope = env;
        ef.stride = stride;
        ef.frame0 = f0;
        ef.frame1 = f1;
        ef.bands = 0;
    }
    if (bands == ef.bands)
        return;
    for (int b = std::max(ef.bands, 0); b < bands; ++b)
    {
        const uint8_t* row = env + static_cast<std::ptrdiff_t>(b) * stride;
        ef.at0[static_cast<std::size_t>(b)] = static_cast<float>(static_cast<int8_t>(row[f0]));
        ef.at1[static_cast<std::size_t>(b)] = static_cast<float>(static_cast<int8_t>(row[f1]));
    }
    const int end = (bands + kLanes8 - 1) & -kLanes8;
    std::fill(ef.at0.begin() + bands, ef.at0.begin() + end, 0.0f);
    std::fill(ef.at1.begin() + bands, ef.at1.begin() + end, 0.0f);
    ef.bands = bands;
}

// The weighted sums of the mixed sounds' envelope frames per band (into sums), and the end of
// the groups of eight they add to the band amplitudes: 0 when no sound has frames left, or the
// ones left have faded out. A frame position past the end is a test, not a loop; positions before
// the first frame read frame 0.
// The first sound to reach a group of eight starts its sums, the later ones add to them; nothing
// reads past the groups they reach. A sum started at a sound's term instead of 0 + term can
// differ only in the sign of a zero, which adding it to a band amplitude (never -0, see
// bandAmplitudes) does not show.
inline int envelopeSums(KeyVoice& v, float t, int activeBands, float* __restrict sum) noexcept
{
    int started = 0;
    float ended = 0.0f;
    bool anyFrames = false;
    const int slots = std::clamp(v.soundSlots, 0, kMaxSoundSlots);
    for (int j = 0; j < slots; ++j)
    {
        const auto sj = static_cast<std::size_t>(j);
        const uint8_t* env = v.slotEnvelope[sj];
        const int frames = v.slotFrameCount[sj];
        if (env == nullptr || frames <= 0)
            continue;
        const float warp = v.slotWarp[sj];
        float framePos =
            ((1.0f - 1.0f / approxExp(t * warp)) * v.slotTuneRatio[sj] / (warp + 1e-20f) + t) * v.slotFrameRate[sj];
        if (!(framePos > 0.0f))
            framePos = 0.0f;
        const float fade = clampUnit((static_cast<float>(frames) - framePos) / (0.1f * static_cast<float>(frames) + 1.0f));
        if (!(framePos < static_cast<float>(frames)))
            continue;
        const int f0 = static_cast<int>(framePos);
        const int f1 = std::min(f0 + 1, frames - 1);
        const float ff = framePos - static_cast<float>(f0);
        const float w = v.slotWeight[sj] * fade;
        const float w0 = w * (1.0f - ff);
        const float w1 = w * ff;
        const int nb = std::min({frames, activeBands, std::clamp(v.slotBandCount[sj], 0, kMaxBands)});
        const float* __restrict at0;
        const float* __restrict at1;
        {
            KeyVoice::EnvelopeFrames& ef = v.envelopeFrames[sj];
            readEnvelopeFrames(ef, env, v.slotStride[sj], f0, f1, nb);
            at0 = ef.at0.data();
            at1 = ef.at1.data();
        }
        const int groupsEnd = (nb + kLanes8 - 1) & -kLanes8;
        const int adding = std::min(started, groupsEnd);
        for (int g = 0; g < adding; g += kLanes8)
        for (int b = g; b < g + kLanes8; ++b)
            sum[b] += w0 * at0[b] + w1 * at1[b];
        for (int g = adding; g < groupsEnd; g += kLanes8)
        for (int b = g; b < g + kLanes8; ++b)
            sum[b] = w0 * at0[b] + w1 * at1[b];
        started = std::max(started, groupsEnd);
        ended += (1.0f - fade) * 100.0f * v.slotWeight[sj];
        anyFrames = true;
    }
    return anyFrames && ended < 100.0f ? started : 0;
}

[[gnu::always_inline]] inline ToneShape levels(KeySpaceDSP& e, KeyVoice& v, const BandHop& hop) noexcept
{
    const auto modulated = [&e](int i) noexcept { return e.params[static_cast<std::size_t>(i)].modValue; };
    const float t = hop.t;
    const float lifeFactor = hop.lifeFactor;

    // Mark generators; their values form a list closed by a 0. The ones that wrap this hop are
    // found first, so that their new targets come from batches of draws (one atomic update each
    // instead of one per draw), in mark order as ever.
    const int markCount = std::clamp(v.markCount, 0, kBandTableSize);
    std::array<int, kBandTableSize> wrapped;
    int wraps = 0;
    for (int m = 0; m < markCount; ++m)
    {
        VoiceMark& mk = v.marks[static_cast<std::size_t>(m)];
        mk.phase += mk.rate * hop.hopSeconds;
        if (mk.phase >= 1.0f)
            wrapped[static_cast<std::size_t>(wraps++)] = m;
    }
    std::array<float, kCanonRandMaxBatch> draws;
    for (int first = 0; first < wraps; first += kCanonRandMaxBatch)
    {
        const int n = std::min(wraps - first, kCanonRandMaxBatch);
        getCanonRandFloats(draws.data(), n);
        for (int i = 0; i < n; ++i)
        {
            VoiceMark& mk = v.marks[static_cast<std::size_t>(wrapped[static_cast<std::size_t>(first + i)])];
            mk.oldTarget = mk.newTarget;
            mk.newTarget = draws[static_cast<std::size_t>(i)];
            mk.phase = fraction(mk.phase);
        }
    }
    for (int m = 0; m < markCount; ++m)
    {
        VoiceMark& mk = v.marks[static_cast<std::size_t>(m)];
        const float p = mk.phase;
        mk.value = crossfadeOld(1.0f - p) * mk.newTarget + crossfadeOld(p) * mk.oldTarget;
        e.markValueWork[static_cast<std::size_t>(m)] = mk.value;
    }
    e.markValueWork[static_cast<std::size_t>(markCount)] = 0.0f;

    // Only the bands the harmonics read get levels; marks above move on all the same.
    const int activeBands = std::min(std::clamp(v.activeBands, 0, kMaxBands), std::max(hop.bandsRead, 0));
    const float brightness = modulated(kParamBrightness);
    const float brightNeg = std::max(-brightness, 0.0f) + v.dampProgress;
    ToneShape shape;
    shape.gain = hop.gain;
    shape.brightPos = std::max(brightness, 0.0f);
    shape.brightNeg2 = brightNeg * brightNeg;

    // A settled voice's bands are mostly the last hop's: the terms they alone give are then
    // checked against those kept (and worked out anew only if they changed) instead of worked out
    // in the loops. The loops run in whole groups of eight.
    const VoiceBands& bands = v.bands;
    KeyVoice::SteadyBands& kept = v.steadyBands;
    const bool keep = hop.bandsSettled;
    const int groupsEnd = (activeBands + kLanes8 - 1) & -kLanes8;
    const float fat = modulated(kParamFatness);
    const Fatness fatness = fatnessOf(fat);
    if (keep)
        keepSteadyBands(kept, bands, v.bandRunningSum.data(), markCount, fat, fatness, groupsEnd);
    // The envelope frames add to the bands up to envelopeEnd; the loop runs in two parts, with and
    // without them, instead of testing each group of eight.
    std::array<float, kMaxBands> envelope;
    const int envelopeEnd = envelopeSums(v, t, activeBands, envelope.data());
    withFlag(markCount <= 1, [&](auto oneMark) __attribute__((always_inline)) {
        withFlag(shape.levelSameEverywhere(), [&](auto sameGain) __attribute__((always_inline)) {
            withFlag(keep, [&](auto fromKept) __attribute__((always_inline)) {
                const auto part = [&](int first, int end, auto withEnvelope) __attribute__((always_inline)) {
                    bandAmplitudes<decltype(oneMark)::value, decltype(sameGain)::value, decltype(fromKept)::value,
                                   decltype(withEnvelope)::value>(
                        first, end, shape, t, lifeFactor, markCount, e.bandStart.data(), bands.levelA.data(),
                        bands.sharpA.data(), bands.levelB.data(), bands.sharpB.data(), bands.decayShape.data(),
                        bands.levelC.data(), v.bandRunningSum.data(), kept.markLow.data(), kept.markHigh.data(),
                        kept.markWeight.data(), v.bandMean19.data(), e.markValueWork.data(), envelope.data(),
                        e.bandAmpWork.data());
                };
                part(0, envelopeEnd, std::true_type{});
                part(envelopeEnd, activeBands, std::false_type{});
            });
        });
    });

    // From here on the per-band loops also go in whole groups of eight (see bandAmplitudes), on
    // local copies and restrict pointers, as the engine's arrays could otherwise alias any float.
    float* __restrict bandAmp = e.bandAmpWork.data();
    const int32_t* __restrict bandStart = e.bandStart.data();

    // Flatten.
    const float fl = shape.flatten = modulated(kParamFlatten) * 0.01f;
    const float fl2 = shape.flatten2 = fl * fl;
    const float flC = shape.flattenC = 39.0f * fl2 + 1.0f;
    const float flG = shape.flattenG = 1.0f / (0.7f / (flC - 0.99f) + 0.18f);
    if (fl < -0.005f)
    {
        for (int g = 0; g < activeBands; g += kLanes8)
        for (int b = g; b < g + kLanes8; ++b)
        {
            float& a = bandAmp[b];
            a = (kBandIndex[static_cast<std::size_t>(b)] + 1.0f) * 3.0f * fl2 * a * a + (1.0f - fl2) * a;
        }
    }
    else if (fl > 0.005f)
    {
        for (int g = 0; g < activeBands; g += kLanes8)
        for (int b = g; b < g + kLanes8; ++b)
        {
            float& a = bandAmp[b];
            a = a / ((kBandIndex[static_cast<std::size_t>(b)] + 1.0f) * flG * a + 1.0f / flC);
        }
    }

    // Hi-Lo filter.
    const float hiLoCut = shape.hiLoCut = modulated(kParamHiLoCut);
    shape.hiLoOn = std::fabs(hiLoCut) > 0.0001f;
    const float hiLoRez = clampUnit(modulated(kParamHiLoRez));
    shape.hiLoA = hiLoRez + 1.0f;
    shape.hiLoB = 1.02f - hiLoRez;
    shape.hiPassCorner = 10000.0f * hiLoCut * hiLoCut;
    shape.loPassFactor = (100.0f * hiLoCut * hiLoCut + 10.0f * std::fabs(hiLoCut) + 1.0f) / 20000.0f;
    if (shape.hiLoOn)
    {
        const ToneShape hiLo = shape;
        const float f = hop.f;
        for (int g = 0; g < activeBands; g += kLanes8)
        for (int b = g; b < g + kLanes8; ++b)
            bandAmp[b] *= hiLo.hiLoResponse(static_cast<float>(bandStart[b]) * f);
    }

    // Tonal and noisy parts by Fatness; bands past the active ones stay silent.
    withFlag(keep, [&](auto fromKept) __attribute__((always_inline)) {
        tonalAndNoisy<decltype(fromKept)::value>(
            activeBands, std::clamp(hop.bandsRead, 0, kBandTableSize + 1), fatness, bands.tonality.data(),
            bands.noiseWidth.data(), kept.noisy.data(), kept.tonal.data(), kept.width.data(), e.bandAmpWork.data(), e.bandTonalWork.data(), e.bandNoisyWork.data(),
            e.bandWidthWork.data(),
            static_cast<int>(std::min({e.bandTonalWork.size(), e.bandNoisyWork.size(), e.bandWidthWork.size()})));
    });

    return shape;
}

} // namespace

ToneShape voicehop::bandLevels(KeySpaceDSP& e, KeyVoice& v, const BandHop& hop) noexcept
{
    return vectorwidth::dispatch(e.usesWideVectors(),
                                 [&](auto) __attribute__((always_inline)) { return levels(e, v, hop); });
}
