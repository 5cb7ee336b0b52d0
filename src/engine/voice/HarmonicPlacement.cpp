// Position and phase of each harmonic, then the stereo share and the far ear's shadow and delay.

#include <algorithm>
#include <cstdint>

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

// x where keep is all ones, +0 where it is 0.
[[gnu::always_inline]] inline float silentUnless(int32_t keep, float x) noexcept
{
    return __builtin_bit_cast(float, __builtin_bit_cast(int32_t, x) & keep);
}

// Harmonics [from, to) of one voice, first half: phase, position and the index of the rotation of
// each harmonic, all contiguous per harmonic. Single-harmonic bands keep their detune and level;
// higher harmonics scatter both by fixed random factors; harmonic 0 sits at half the fundamental.
// The branches on share and binaural are taken once per range, not per harmonic.
template <bool kHalfFundamental, bool kScatter, bool kSharing>
[[gnu::always_inline]] inline void
positionAndPhase(const HarmonicHop hh, int from, int to, const float* __restrict detune,
                 const int32_t* __restrict phaseOffset, const float* __restrict randReal,
                 int32_t* __restrict phase, int32_t* __restrict positions, int32_t* __restrict rotIndex,
                 float* __restrict re0, float* __restrict im0, float* __restrict re1, float* __restrict im1) noexcept
{
    for (int h = from; h < to; ++h)
    {
        const float det = hh.lifeFactor * detune[h];
        float delta = det;
        const int32_t offset = phaseOffset[h];
        if constexpr (kScatter)
        {
            const float rt = randReal[h];
            delta = det * rt;
            const float mu = det < 0.134f ? det : 0.134f;
            const float scale = 4.0f * mu * randReal[h + 64] + 1.0f - mu;
            re0[h] *= scale, im0[h] *= scale;
            re1[h] *= scale, im1[h] *= scale;
        }
        int32_t step =
            static_cast<int32_t>(static_cast<float>(static_cast<int32_t>(delta * hh.binPos + kPosRound)) +
                                 hh.shift + kPosRound) >>
            1;
        const int32_t word = phase[h] & kPhaseMask;
        bool keepDelta = true;
        if constexpr (kSharing)
        {
            // The deviation stays inside its window; at its edges it jumps back to no deviation.
            const int32_t next = word + step;
            const bool low = word == 0 || next < kShareLowPhase;
            const bool high = !low && next > kShareHighPhase;
            step = low ? -word : (high ? kPhaseUnits - word : step);
            keepDelta = !(low || high);
        }
        const float mh = kHalfFundamental ? 0.5f : static_cast<float>(h);
        const float posF = (mh + (keepDelta ? delta : 0.0f)) * hh.binPos + kPosRound + hh.shift + kPosRound;
        const bool inside = posF >= 1.0f && posF < static_cast<float>(kMaxPartialPos);
        // Inside the spectrum a position is at least 1, so 0 marks a partial outside it.
        positions[h] = static_cast<int32_t>(inside ? posF : 0.0f);
        const uint32_t base = kHalfFundamental ? (hh.midPhase >> 1) : static_cast<uint32_t>(h) * hh.midPhase;
        rotIndex[h] = static_cast<int32_t>((base + static_cast<uint32_t>(offset) + static_cast<uint32_t>(word) +
                                            static_cast<uint32_t>(step >> 1)) &
                                           kPhaseMask);
        phase[h] = static_cast<int32_t>(static_cast<uint32_t>(word + step) & kPhaseMask);
    }
}

// The rotations of harmonics [from, to) from the rotation table, one harmonic at a time: the first
// channel's by the harmonic's index, the second's by it plus the spread, and the far ear's delay.
template <bool kBinaural>
[[gnu::always_inline]] inline void rotations(const HarmonicHop& hh, int from, int to,
                                             const int32_t* __restrict rotIndex, const CF* __restrict rotTable,
                                             float* const* __restrict out) noexcept
{
    for (int h = from; h < to; ++h)
    {
        const auto idx0 = static_cast<uint32_t>(rotIndex[h]);
        const CF r0 = rotTable[idx0];
        const CF r1 = rotTable[(idx0 + hh.rotSpread) & kPhaseMask];
        out[KeySpaceDSP::kRotRe0][h] = r0.re, out[KeySpaceDSP::kRotIm0][h] = r0.im;
        out[KeySpaceDSP::kRotRe1][h] = r1.re, out[KeySpaceDSP::kRotIm1][h] = r1.im;
        if constexpr (kBinaural)
        {
            const CF r = rotTable[(0u - static_cast<uint32_t>(h) * hh.farStep) & kPhaseMask];
            out[KeySpaceDSP::kRotFarRe][h] = r.re, out[KeySpaceDSP::kRotFarIm][h] = r.im;
        }
    }
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
QM_WIDE_TARGET inline void rotations8(const CF* table, const uint32_t* i, float* re, float* im) noexcept
{
    const __m256 a = rotationPairs(table, i[0], i[1], i[4], i[5]);
    const __m256 b = rotationPairs(table, i[2], i[3], i[6], i[7]);
    _mm256_storeu_ps(re, _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    _mm256_storeu_ps(im, _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
}

// The same rotations eight harmonics at a time, each entry read as one 64-bit pair, the rest one
// at a time.
template <bool kBinaural>
QM_WIDE_TARGET void rotationsWide(const HarmonicHop& hh, int count, const int32_t* __restrict rotIndex,
                                  const CF* __restrict rotTable, float* const* __restrict out) noexcept
{
    int h = 0;
    for (; h + 8 <= count; h += 8)
    {
        uint32_t i0[8], i1[8], far[8];
        for (int k = 0; k < 8; ++k)
        {
            i0[k] = static_cast<uint32_t>(rotIndex[h + k]);
            i1[k] = (i0[k] + hh.rotSpread) & kPhaseMask;
            far[k] = (0u - static_cast<uint32_t>(h + k) * hh.farStep) & kPhaseMask;
        }
        rotations8(rotTable, i0, out[KeySpaceDSP::kRotRe0] + h, out[KeySpaceDSP::kRotIm0] + h);
        rotations8(rotTable, i1, out[KeySpaceDSP::kRotRe1] + h, out[KeySpaceDSP::kRotIm1] + h);
        if constexpr (kBinaural)
            rotations8(rotTable, far, out[KeySpaceDSP::kRotFarRe] + h, out[KeySpaceDSP::kRotFarIm] + h);
    }
    rotations<kBinaural>(hh, h, count, rotIndex, rotTable, out);
}
#endif

// Harmonics 0..count-1, second half: the rotations, the stereo share and the far ear's shadow and
// delay on the amplitudes, all contiguous per harmonic.
template <bool kSharing, bool kBinaural>
[[gnu::always_inline]] inline void
rotateAndShare(const HarmonicHop hh, int count, const float* const* __restrict rot,
               const float* __restrict share, const float* __restrict shareCoherent,
               const float* __restrict pairRe, const float* __restrict pairIm,
               const int32_t* __restrict positions, float* __restrict re0, float* __restrict im0,
               float* __restrict re1, float* __restrict im1) noexcept
{
    const float* __restrict rotRe0 = rot[KeySpaceDSP::kRotRe0];
    const float* __restrict rotIm0 = rot[KeySpaceDSP::kRotIm0];
    const float* __restrict rotRe1 = rot[KeySpaceDSP::kRotRe1];
    const float* __restrict rotIm1 = rot[KeySpaceDSP::kRotIm1];
    const float* __restrict farRe = rot[KeySpaceDSP::kRotFarRe];
    const float* __restrict farIm = rot[KeySpaceDSP::kRotFarIm];
    for (int h = 0; h < count; ++h)
    {
        CF a0 = voicehop::cmul({re0[h], im0[h]}, {rotRe0[h], rotIm0[h]});
        CF a1 = voicehop::cmul({re1[h], im1[h]}, {rotRe1[h], rotIm1[h]});
        const int32_t pos = positions[h];
        if constexpr (kSharing)
        {
            const float cs = share[h];
            const float coherent = shareCoherent[h];
            const CF p0{pairRe[h], pairIm[h]};
            const CF p1{pairRe[h + hh.shareOffset], pairIm[h + hh.shareOffset]};
            a0 = voicehop::cmul(a0, {coherent + cs * p0.re, cs * p0.im});
            a1 = voicehop::cmul(a1, {coherent + cs * p1.re, cs * p1.im});
        }
        if constexpr (kBinaural)
        {
            // rotTable[u] is -i e^(2 pi i u / 1024); the delay turns by e^(2 pi i u / 1024) alone,
            // so that the first partial (u = 0) and a centred sound keep both ears in phase.
            const float xs = static_cast<float>(pos) * hh.shadowInv;
            const CF turn{-farIm[h], farRe[h]};
            const float shadow = 1.0f / (xs * xs + 1.0f);
            const CF far0 = voicehop::cmul(voicehop::cscale(a0, shadow), turn);
            const CF far1 = voicehop::cmul(voicehop::cscale(a1, shadow), turn);
            a0 = hh.farEar == 0 ? far0 : a0;
            a1 = hh.farEar == 0 ? a1 : far1;
        }
        // Outside the spectrum the partial is silent: its amplitudes become +0 by a bit mask (a
        // select here would let the compiler compute the whole partial conditionally).
        const int32_t keep = pos != 0 ? -1 : 0;
        re0[h] = silentUnless(keep, a0.re);
        im0[h] = silentUnless(keep, a0.im);
        re1[h] = silentUnless(keep, a1.re);
        im1[h] = silentUnless(keep, a1.im);
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
    const CF* __restrict shareNew = hh.shareNew;
    const CF* __restrict shareOld = hh.shareOld;
    const float nW = hh.shareNewWeight;
    const float oW = hh.shareOldWeight;
    for (int j = 0; j < used; ++j)
    {
        pairRe[j] = nW * shareNew[j].re + oW * shareOld[j].re;
        pairIm[j] = nW * shareNew[j].im + oW * shareOld[j].im;
    }
    for (int j = used; j < count + offset; ++j)
    {
        pairRe[j] = nW * shareNew[kPairs - 1].re + oW * shareOld[kPairs - 1].re;
        pairIm[j] = nW * shareNew[kPairs - 1].im + oW * shareOld[kPairs - 1].im;
    }
}

template <bool kHalfFundamental, bool kScatter, bool kSharing>
[[gnu::always_inline]] inline void placeRange(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh, int from,
                                              int to) noexcept
{
    auto& amp = e.partialAmp;
    positionAndPhase<kHalfFundamental, kScatter, kSharing>(
        hh, from, to, v.harmonics.bandDetune.data(), v.harmonics.phaseOffset.data(), e.randTableReal.data(),
        v.harmonics.phase.data(), e.partialPos.data(), e.rotationIndexWork.data(),
        amp[KeySpaceDSP::kPartialRe0].data(), amp[KeySpaceDSP::kPartialIm0].data(),
        amp[KeySpaceDSP::kPartialRe1].data(), amp[KeySpaceDSP::kPartialIm1].data());
}

template <bool kWide, bool kSharing, bool kBinaural>
[[gnu::always_inline]] inline void placeAll(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    const int count = std::clamp(hh.count, 0, kMaxHarmonics);
    const int single = std::min(count, kSingleHarmonicBands);
    if constexpr (kSharing) sharePairs(hh, count, e.sharePairWork[0].data(), e.sharePairWork[1].data());
    placeRange<true, false, kSharing>(e, v, hh, 0, std::min(count, 1));
    placeRange<false, false, kSharing>(e, v, hh, 1, single);
    placeRange<false, true, kSharing>(e, v, hh, single, count);
    float* rot[KeySpaceDSP::kNumRotParts];
    for (int k = 0; k < KeySpaceDSP::kNumRotParts; ++k)
        rot[k] = e.rotationWork[static_cast<std::size_t>(k)].data();
#if QM_WIDE_VECTORS
    if constexpr (kWide)
        rotationsWide<kBinaural>(hh, count, e.rotationIndexWork.data(), e.rotTable.data(), rot);
    else
#endif
        rotations<kBinaural>(hh, 0, count, e.rotationIndexWork.data(), e.rotTable.data(), rot);
    auto& amp = e.partialAmp;
    rotateAndShare<kSharing, kBinaural>(hh, count, rot, v.harmonics.share.data(), v.harmonics.shareCoherent.data(),
                                        e.sharePairWork[0].data(), e.sharePairWork[1].data(), e.partialPos.data(),
                                        amp[KeySpaceDSP::kPartialRe0].data(), amp[KeySpaceDSP::kPartialIm0].data(),
                                        amp[KeySpaceDSP::kPartialRe1].data(), amp[KeySpaceDSP::kPartialIm1].data());
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
