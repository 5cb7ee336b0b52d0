// Position and phase of each harmonic, then the stereo share and the far ear's shadow and delay.

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
#include "engine/voice/VoiceHop.h"

#if QM_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace
{

using voicehop::HarmonicHop;
using voicehop::kMaxPartialPos;
using voicehop::kPosRound;

// Harmonic deviation window of sounds with a harmonic share, in 1024ths of a turn.
constexpr int32_t kShareLowPhase = 64;
constexpr int32_t kShareHighPhase = 960;


// Each harmonic's index as int and as float, so that a group reads its indices in one load each
// instead of broadcasting, adding and converting them.
struct HarmonicIndices
{
    alignas(32) std::array<int32_t, kMaxHarmonics> whole{};
    alignas(32) std::array<float, kMaxHarmonics> real{};
};
constexpr HarmonicIndices makeHarmonicIndices() noexcept
{
    HarmonicIndices t;
    for (int h = 0; h < kMaxHarmonics; ++h)
        t.whole[static_cast<std::size_t>(h)] = h, t.real[static_cast<std::size_t>(h)] = static_cast<float>(h);
    return t;
}
constexpr HarmonicIndices kHarmonicIndices = makeHarmonicIndices();

// Harmonics 0..count-1 of one voice, first half: phase, position and the index of the rotation of
// each harmonic, all contiguous per harmonic, eight harmonics at a time. The harmonics of the
// single-harmonic bands keep their detune and level, harmonic 0 sitting at half the fundamental;
// the groups past them (kScattered; the single-harmonic bands fill whole groups) scatter both by
// fixed random factors, the levels through scale, which the second half multiplies in. Either way
// the arithmetic is that of one harmonic at a time in the same order; the last group's spare lanes
// leave the phases alone (the arrays hold whole groups).
template <bool kSharing, bool kScattered>
[[gnu::always_inline]] inline void
positionAndPhase(const HarmonicHop hh, int from, int to, int count, const float* __restrict detune,
                 const int32_t* __restrict phaseOffset, const float* __restrict randReal,
                 int32_t* __restrict phase, int32_t* __restrict positions, int32_t* __restrict rotIndex,
                 float* __restrict scale) noexcept
{
    using voicehop::F8;
    using voicehop::I8;
    using U8 = uint32_t __attribute__((vector_size(32)));
    const F8 zero{};
    const F8 muLimit = zero + 0.134f;
    const F8 half = zero + 0.5f;
    const U8 halfBase = U8{} + (hh.midPhase >> 1);
    for (int h = from; h < to; h += voicehop::kLanes8)
    {
        const I8 index = voicehop::load8i(kHarmonicIndices.whole.data() + h);
        const I8 valid = index < count;
        const F8 det = hh.lifeFactor * voicehop::load8(detune + h);
        F8 delta = det;
        if constexpr (kScattered)
        {
            delta = det * voicehop::load8(randReal + h);
            const F8 mu = det < 0.134f ? det : muLimit;
            voicehop::store8(scale + h, 4.0f * mu * voicehop::load8(randReal + h + 64) + 1.0f - mu);
        }
        const F8 rough = __builtin_convertvector(__builtin_convertvector(delta * hh.binPos + kPosRound, I8), F8);
        I8 step = __builtin_convertvector(rough + hh.shift + kPosRound, I8) >> 1;
        const I8 before = voicehop::load8i(phase + h);
        const I8 word = before & kPhaseMask;
        I8 jumped{}; // no lane jumps
        if constexpr (kSharing)
        {
            // The deviation stays inside its window; at its edges it jumps back to no deviation.
            const I8 next = word + step;
            const I8 low = (word == 0) | (next < kShareLowPhase);
            const I8 high = ~low & (next > kShareHighPhase);
            jumped = low | high;
            step = jumped != 0 ? (high & kPhaseUnits) - word : step;
        }
        const F8 whole = voicehop::load8(kHarmonicIndices.real.data() + h);
        const F8 mh = kScattered ? whole : (index == 0 ? half : whole);
        const F8 kept = reinterpret_cast<F8>(reinterpret_cast<I8>(delta) & ~jumped);
        const F8 posF = (mh + kept) * hh.binPos + kPosRound + hh.shift + kPosRound;
        const I8 inside = (posF >= 1.0f) & (posF < static_cast<float>(kMaxPartialPos));
        // Inside the spectrum a position is at least 1, so 0 marks a partial outside it.
        voicehop::store8i(positions + h, __builtin_convertvector(inside != 0 ? posF : zero, I8));
        const U8 times = reinterpret_cast<U8>(index) * hh.midPhase;
        const U8 base = kScattered ? times : (index == 0 ? halfBase : times);
        const U8 turn = base + reinterpret_cast<U8>(voicehop::load8i(phaseOffset + h)) + reinterpret_cast<U8>(word) +
                        reinterpret_cast<U8>(step >> 1);
        voicehop::store8i(rotIndex + h, reinterpret_cast<I8>(turn & kPhaseMask));
        const I8 after = reinterpret_cast<I8>((reinterpret_cast<U8>(word) + reinterpret_cast<U8>(step)) & kPhaseMask);
        voicehop::store8i(phase + h, valid != 0 ? after : before);
    }
}

// The second channel turns further than the first by the spread: e^(2 pi i spread / 1024), which
// is i rotTable[spread].
inline CF spreadTurn(const KeySpaceDSP& e, const HarmonicHop& hh) noexcept
{
    const CF r = e.rotTable[hh.rotSpread & kPhaseMask];
    return {-r.im, r.re};
}

// The rotations of harmonics [from, to), one harmonic at a time: the first channel's from the
// rotation table by the harmonic's index, the second's as that times the spread's turn.
[[gnu::always_inline]] inline void rotations(int from, int to, const int32_t* __restrict rotIndex,
                                             const CF* __restrict rotTable, CF spread,
                                             float* const* __restrict out) noexcept
{
    for (int h = from; h < to; ++h)
    {
        const auto idx0 = static_cast<uint32_t>(rotIndex[h]);
        const CF r0 = rotTable[idx0];
        const CF r1 = voicehop::cmul(r0, spread);
        out[KeySpaceDSP::kRotRe0][h] = r0.re, out[KeySpaceDSP::kRotIm0][h] = r0.im;
        out[KeySpaceDSP::kRotRe1][h] = r1.re, out[KeySpaceDSP::kRotIm1][h] = r1.im;
    }
}

// The far ear's delay turns of harmonics 0..count-1 (whole groups) for this voice slot, looked up
// again only for the harmonics the slot does not hold for this delay step. rotTable[u] is
// -i e^(2 pi i u / 1024); the delay turns by e^(2 pi i u / 1024) alone, so that the first partial
// (u = 0) and a centred sound keep both ears in phase.
inline const KeySpaceDSP::FarTurns& farTurns(KeySpaceDSP& e, const KeyVoice& v, const HarmonicHop& hh,
                                             int count) noexcept
{
    static_assert(kMaxHarmonics % voicehop::kLanes8 == 0, "the turns are held in whole groups of eight");
    const auto slot = std::clamp<std::ptrdiff_t>(&v - e.voices.data(), 0, kMaxVoices - 1);
    KeySpaceDSP::FarTurns& far = e.farTurnWork[static_cast<std::size_t>(slot)];
    const int whole = std::min((count + voicehop::kLanes8 - 1) & -voicehop::kLanes8, kMaxHarmonics);
    const int from = far.step == hh.farStep ? std::clamp(far.count, 0, kMaxHarmonics) : 0;
    for (int h = from; h < whole; ++h)
    {
        const CF r = e.rotTable[(0u - static_cast<uint32_t>(h) * hh.farStep) & kPhaseMask];
        far.re[static_cast<std::size_t>(h)] = -r.im;
        far.im[static_cast<std::size_t>(h)] = r.re;
    }
    far.step = hh.farStep;
    far.count = std::max(from, whole);
    return far;
}

#if QM_WIDE_VECTORS
// Entries i0..i3 of the rotation table as re, im, re, im of two 128-bit halves: i0, i1 low, i2, i3 high.
QM_WIDE_TARGET inline __m256 rotationPairs(const CF* table, uint32_t i0, uint32_t i1, uint32_t i2, uint32_t i3) noexcept
{
    const auto pair = [table](__m128 x, uint32_t i, bool high) noexcept {
        const auto* p = reinterpret_cast<const __m64*>(table + i);
        return high ? _mm_loadh_pi(x, p) : _mm_loadl_pi(x, p);
    };
    const __m128 lo = pair(pair(_mm_setzero_ps(), i0, false), i1, true);
    const __m128 hi = pair(pair(_mm_setzero_ps(), i2, false), i3, true);
    return _mm256_insertf128_ps(_mm256_castps128_ps256(lo), hi, 1);
}

// Eight table entries by index into a vector of real and one of imaginary parts.
QM_WIDE_TARGET inline void rotations8(const CF* table, const uint32_t* i, voicehop::F8& re, voicehop::F8& im) noexcept
{
    const __m256 a = rotationPairs(table, i[0], i[1], i[4], i[5]);
    const __m256 b = rotationPairs(table, i[2], i[3], i[6], i[7]);
    re = reinterpret_cast<voicehop::F8>(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    im = reinterpret_cast<voicehop::F8>(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
}

// The rotations of harmonics h..h+7 into registers: the first channel's read from the table, each
// entry as one 64-bit pair, the second's as those times the spread's turn (as rotations() does).
struct TableRotations
{
    const int32_t* rotIndex;
    const CF* rotTable;
    CF spread;

    QM_WIDE_TARGET void operator()(int h, voicehop::F8* rot) const noexcept
    {
        // An int32_t array may be read through its unsigned counterpart.
        const auto* i0 = reinterpret_cast<const uint32_t*>(rotIndex + h);
        voicehop::F8& re0 = rot[KeySpaceDSP::kRotRe0];
        voicehop::F8& im0 = rot[KeySpaceDSP::kRotIm0];
        rotations8(rotTable, i0, re0, im0);
        rot[KeySpaceDSP::kRotRe1] = re0 * spread.re - im0 * spread.im;
        rot[KeySpaceDSP::kRotIm1] = re0 * spread.im + im0 * spread.re;
    }
};
#endif

// The rotations of harmonics h..h+7 from the arrays the baseline fills harmonic by harmonic.
struct ListedRotations
{
    const float* const* rot;
    [[gnu::always_inline]] void operator()(int h, voicehop::F8* out) const noexcept
    {
        for (int k = 0; k < KeySpaceDSP::kNumRotParts; ++k)
            std::memcpy(&out[k], rot[k] + h, sizeof out[k]);
    }
};

// Harmonics [from, to), second half: the scattered groups' levels (kScattered, from scale), the
// rotations (rotationsAt(h, rot) gives harmonics h..h+7), the stereo share and the far ear's shadow
// and delay turn (farRe, farIm) on the amplitudes, all contiguous per harmonic, eight harmonics at
// a time (the last group's spare lanes are computed and stored with the rest: the arrays hold
// whole groups of eight and nothing downstream reads past count). kFarFirst: the first channel is
// the far ear (else the second, when binaural).
template <bool kSharing, bool kBinaural, bool kFarFirst, bool kScattered, class RotationsAt>
[[gnu::always_inline]] inline void
rotateAndShare(const HarmonicHop hh, int from, int to, const RotationsAt& rotationsAt,
               const float* __restrict scale, const float* __restrict farRe, const float* __restrict farIm,
               const float* __restrict share, const float* __restrict shareCoherent,
               const float* __restrict pairRe, const float* __restrict pairIm,
               const int32_t* __restrict positions, float* __restrict re0, float* __restrict im0,
               float* __restrict re1, float* __restrict im1) noexcept
{
    using voicehop::F8;
    using voicehop::I8;
    // Complex products as cmul: (a.re b.re - a.im b.im, a.re b.im + a.im b.re).
    const auto times = [](F8& aRe, F8& aIm, F8 bRe, F8 bIm) __attribute__((always_inline)) {
        const F8 re = aRe * bRe - aIm * bIm;
        aIm = aRe * bIm + aIm * bRe;
        aRe = re;
    };
    for (int h = from; h < to; h += voicehop::kLanes8)
    {
        F8 rot[KeySpaceDSP::kNumRotParts];
        rotationsAt(h, rot);
        F8 a0Re = voicehop::load8(re0 + h), a0Im = voicehop::load8(im0 + h);
        F8 a1Re = voicehop::load8(re1 + h), a1Im = voicehop::load8(im1 + h);
        if constexpr (kScattered)
        {
            const F8 by = voicehop::load8(scale + h);
            a0Re *= by, a0Im *= by, a1Re *= by, a1Im *= by;
        }
        times(a0Re, a0Im, rot[KeySpaceDSP::kRotRe0], rot[KeySpaceDSP::kRotIm0]);
        times(a1Re, a1Im, rot[KeySpaceDSP::kRotRe1], rot[KeySpaceDSP::kRotIm1]);
        I8 pos;
        std::memcpy(&pos, positions + h, sizeof pos);
        if constexpr (kSharing)
        {
            const F8 cs = voicehop::load8(share + h);
            const F8 coherent = voicehop::load8(shareCoherent + h);
            times(a0Re, a0Im, coherent + cs * voicehop::load8(pairRe + h), cs * voicehop::load8(pairIm + h));
            times(a1Re, a1Im, coherent + cs * voicehop::load8(pairRe + h + hh.shareOffset),
                  cs * voicehop::load8(pairIm + h + hh.shareOffset));
        }
        if constexpr (kBinaural)
        {
            const F8 xs = __builtin_convertvector(pos, F8) * hh.shadowInv;
            const F8 turnRe = voicehop::load8(farRe + h);
            const F8 turnIm = voicehop::load8(farIm + h);
            const F8 shadow = 1.0f / (xs * xs + 1.0f);
            if constexpr (kFarFirst)
            {
                a0Re *= shadow, a0Im *= shadow;
                times(a0Re, a0Im, turnRe, turnIm);
            }
            else
            {
                a1Re *= shadow, a1Im *= shadow;
                times(a1Re, a1Im, turnRe, turnIm);
            }
        }
        // Outside the spectrum the partial is silent: its amplitudes become +0 by a bit mask.
        const I8 outside = pos == 0;
        const auto silentUnless = [outside](F8 x) __attribute__((always_inline)) {
            return reinterpret_cast<F8>(reinterpret_cast<I8>(x) & ~outside);
        };
        voicehop::store8(re0 + h, silentUnless(a0Re));
        voicehop::store8(im0 + h, silentUnless(a0Im));
        voicehop::store8(re1 + h, silentUnless(a1Re));
        voicehop::store8(im1 + h, silentUnless(a1Im));
    }
}

// The share pairs harmonics 0..count-1 read in both channels: the old and new tables crossfaded,
// pair j for the first channel's harmonic j, pair j + offset for the second one's (clamped to the
// last pair, repeated past it).
[[gnu::always_inline]] inline void sharePairs(const HarmonicHop& hh, int count, float* __restrict pairRe,
                                              float* __restrict pairIm) noexcept
{
    constexpr int kPairs = KeyVoice::kMaxSharePairs;
    const int offset = std::clamp(hh.shareOffset, 0, kPairs);
    const int used = std::min(count + offset, kPairs);
    const float* __restrict newRe = hh.shareNew->re.data();
    const float* __restrict newIm = hh.shareNew->im.data();
    const float* __restrict oldRe = hh.shareOld->re.data();
    const float* __restrict oldIm = hh.shareOld->im.data();
    const float nW = hh.shareNewWeight;
    const float oW = hh.shareOldWeight;
    // Whole groups of eight (the tables hold whole groups), so that no scalar remainder loop runs;
    // pairs past `used` are rewritten just below or never read.
    static_assert(kPairs % voicehop::kLanes8 == 0, "share tables hold whole groups of eight");
    for (int g = 0; g < used; g += voicehop::kLanes8)
    for (int j = g; j < g + voicehop::kLanes8; ++j)
    {
        pairRe[j] = nW * newRe[j] + oW * oldRe[j];
        pairIm[j] = nW * newIm[j] + oW * oldIm[j];
    }
    for (int j = used; j < count + offset; ++j)
    {
        pairRe[j] = nW * newRe[kPairs - 1] + oW * oldRe[kPairs - 1];
        pairIm[j] = nW * newIm[kPairs - 1] + oW * oldIm[kPairs - 1];
    }
}

template <bool kWide, bool kSharing, bool kBinaural>
[[gnu::always_inline]] inline void placeAll(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    const int count = std::clamp(hh.count, 0, kMaxHarmonics);
    if constexpr (kSharing) sharePairs(hh, count, e.sharePairWork[0].data(), e.sharePairWork[1].data());
    auto& amp = e.partialAmp;
    // The scattered harmonics' level factors, from the first half to the second, which multiplies
    // them into the amplitudes it loads anyway.
    alignas(32) std::array<float, kMaxHarmonics> scale;
    // Past the single-harmonic bands (a whole number of groups) every harmonic scatters.
    static_assert(kSingleHarmonicBands % voicehop::kLanes8 == 0, "the scattered harmonics start a group");
    const int single = std::min(count, kSingleHarmonicBands);
    const HarmonicBands& bands = e.harmonicBands(v);
    const auto place = [&](auto scattered, int from, int to) __attribute__((always_inline)) {
        positionAndPhase<kSharing, decltype(scattered)::value>(
            hh, from, to, count, bands.bandDetune.data(), bands.phaseOffset.data(),
            e.randTableReal.data(), v.harmonics.phase.data(), e.partialPos.data(), e.rotationIndexWork.data(),
            scale.data());
    };
    place(std::false_type{}, 0, single);
    place(std::true_type{}, kSingleHarmonicBands, count);
    const float* farRe = nullptr;
    const float* farIm = nullptr;
    if constexpr (kBinaural)
    {
        const KeySpaceDSP::FarTurns& far = farTurns(e, v, hh, count);
        farRe = far.re.data(), farIm = far.im.data();
    }
    const auto rotateWith = [&](auto farFirst, const auto& rotationsAt) __attribute__((always_inline)) {
        const auto rotate = [&](auto scattered, int from, int to) __attribute__((always_inline)) {
            rotateAndShare<kSharing, kBinaural, decltype(farFirst)::value, decltype(scattered)::value>(
                hh, from, to, rotationsAt, scale.data(), farRe, farIm, bands.share.data(),
                bands.shareCoherent.data(), e.sharePairWork[0].data(), e.sharePairWork[1].data(),
                e.partialPos.data(), amp[KeySpaceDSP::kPartialRe0].data(), amp[KeySpaceDSP::kPartialIm0].data(),
                amp[KeySpaceDSP::kPartialRe1].data(), amp[KeySpaceDSP::kPartialIm1].data());
        };
        rotate(std::false_type{}, 0, single);
        rotate(std::true_type{}, kSingleHarmonicBands, count);
    };
    // The far ear is fixed for the hop: one loop per side, no test per group.
    const auto rotateAll = [&](const auto& rotationsAt) __attribute__((always_inline)) {
        if (kBinaural && hh.farEar == 0)
            rotateWith(std::true_type{}, rotationsAt);
        else
            rotateWith(std::false_type{}, rotationsAt);
    };
    const CF spread = spreadTurn(e, hh);
#if QM_WIDE_VECTORS
    if constexpr (kWide)
        rotateAll(TableRotations{e.rotationIndexWork.data(), e.rotTable.data(), spread});
    else
#endif
    {
        float* rot[KeySpaceDSP::kNumRotParts];
        for (int k = 0; k < KeySpaceDSP::kNumRotParts; ++k)
            rot[k] = e.rotationWork[static_cast<std::size_t>(k)].data();
        rotations(0, count, e.rotationIndexWork.data(), e.rotTable.data(), spread, rot);
        rotateAll(ListedRotations{rot});
    }
}

template <bool kWide>
[[gnu::always_inline]] inline void placement(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    if (hh.sharing)
    {
        if (hh.binaural)
            placeAll<kWide, true, true>(e, v, hh);
        else
            placeAll<kWide, true, false>(e, v, hh);
    }
    else
    {
        if (hh.binaural)
            placeAll<kWide, false, true>(e, v, hh);
        else
            placeAll<kWide, false, false>(e, v, hh);
    }
}

} // namespace

void voicehop::harmonicPlacement(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    vectorwidth::dispatch(e.usesWideVectors(), [&](auto wide) __attribute__((always_inline)) {
        placement<decltype(wide)::value>(e, v, hh);
    });
}
