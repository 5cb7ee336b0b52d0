// Position and phase of each harmonic, then the stereo share and the far ear's shadow and delay.

#include <algorithm>
#include <cstdint>

#include "engine/KeySpaceDSP.h"
#include "engine/VectorWidth.h"
#include "engine/voice/VoiceHop.h"

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

// Harmonics [from, to) of one voice: phase, positions, amplitudes and the copies of each harmonic's
// band values contiguous per harmonic, rotations gathered by their computed index.
// Single-harmonic bands keep their detune and level; higher harmonics scatter both by fixed random
// factors; harmonic 0 sits at half the fundamental. The branches on share and binaural are taken
// once per range, not per harmonic.
template <bool kHalfFundamental, bool kScatter, bool kSharing, bool kBinaural>
[[gnu::always_inline]] inline void
place(const HarmonicHop hh, int from, int to, const float* __restrict detune,
      const int32_t* __restrict phaseOffset, const float* __restrict randReal, const float* __restrict share,
      const float* __restrict shareCoherent, const CF* __restrict rotTable,
      const float* __restrict pairRe, const float* __restrict pairIm, int32_t* __restrict phase,
      int32_t* __restrict positions, float* __restrict re0, float* __restrict im0, float* __restrict re1,
      float* __restrict im1) noexcept
{
    for (int h = from; h < to; ++h)
    {
        CF a0{re0[h], im0[h]};
        CF a1{re1[h], im1[h]};
        const float det = hh.lifeFactor * detune[h];
        float delta = det;
        const int32_t offset = phaseOffset[h];
        if constexpr (kScatter)
        {
            const float rt = randReal[h];
            delta = det * rt;
            const float mu = det < 0.134f ? det : 0.134f;
            const float scale = 4.0f * mu * randReal[h + 64] + 1.0f - mu;
            a0 = voicehop::cscale(a0, scale);
            a1 = voicehop::cscale(a1, scale);
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
        const int32_t pos = static_cast<int32_t>(inside ? posF : 0.0f);
        const uint32_t base = kHalfFundamental ? (hh.midPhase >> 1) : static_cast<uint32_t>(h) * hh.midPhase;
        const uint32_t idx0 = (base + static_cast<uint32_t>(offset) + static_cast<uint32_t>(word) +
                               static_cast<uint32_t>(step >> 1)) &
                              kPhaseMask;
        const uint32_t idx1 = (idx0 + hh.rotSpread) & kPhaseMask;
        a0 = voicehop::cmul(a0, rotTable[idx0]);
        a1 = voicehop::cmul(a1, rotTable[idx1]);
        phase[h] = static_cast<int32_t>(static_cast<uint32_t>(word + step) & kPhaseMask);

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
            const CF r = rotTable[(0u - static_cast<uint32_t>(h) * hh.farStep) & kPhaseMask];
            const CF turn{-r.im, r.re};
            const float shadow = 1.0f / (xs * xs + 1.0f);
            const CF far0 = voicehop::cmul(voicehop::cscale(a0, shadow), turn);
            const CF far1 = voicehop::cmul(voicehop::cscale(a1, shadow), turn);
            a0 = hh.farEar == 0 ? far0 : a0;
            a1 = hh.farEar == 0 ? a1 : far1;
        }
        // Outside the spectrum the partial is silent: its amplitudes become +0 by a bit mask (a
        // select here would let the compiler compute the whole partial conditionally).
        const int32_t keep = inside ? -1 : 0;
        positions[h] = pos;
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

template <bool kHalfFundamental, bool kScatter, bool kSharing, bool kBinaural>
[[gnu::always_inline]] inline void placeRange(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh, int from,
                                              int to) noexcept
{
    auto& amp = e.partialAmp;
    place<kHalfFundamental, kScatter, kSharing, kBinaural>(
        hh, from, to, v.harmonics.bandDetune.data(), v.harmonics.phaseOffset.data(), e.randTableReal.data(),
        v.harmonics.share.data(), v.harmonics.shareCoherent.data(), e.rotTable.data(),
        e.sharePairWork[0].data(), e.sharePairWork[1].data(), v.harmonics.phase.data(), e.partialPos.data(),
        amp[KeySpaceDSP::kPartialRe0].data(), amp[KeySpaceDSP::kPartialIm0].data(),
        amp[KeySpaceDSP::kPartialRe1].data(), amp[KeySpaceDSP::kPartialIm1].data());
}

template <bool kSharing, bool kBinaural>
[[gnu::always_inline]] inline void placeAll(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    const int count = std::clamp(hh.count, 0, kMaxHarmonics);
    const int single = std::min(count, kSingleHarmonicBands);
    if constexpr (kSharing) sharePairs(hh, count, e.sharePairWork[0].data(), e.sharePairWork[1].data());
    placeRange<true, false, kSharing, kBinaural>(e, v, hh, 0, std::min(count, 1));
    placeRange<false, false, kSharing, kBinaural>(e, v, hh, 1, single);
    placeRange<false, true, kSharing, kBinaural>(e, v, hh, single, count);
}

[[gnu::always_inline]] inline void placement(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    if (hh.sharing)
    {
        if (hh.binaural)
            placeAll<true, true>(e, v, hh);
        else
            placeAll<true, false>(e, v, hh);
    }
    else
    {
        if (hh.binaural)
            placeAll<false, true>(e, v, hh);
        else
            placeAll<false, false>(e, v, hh);
    }
}

void placementBaseline(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    placement(e, v, hh);
}

#if QM_WIDE_VECTORS
QM_WIDE_TARGET void placementWide(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    placement(e, v, hh);
}
#endif

} // namespace

void voicehop::harmonicPlacement(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
#if QM_WIDE_VECTORS
    if (e.usesWideVectors()) return placementWide(e, v, hh);
#endif
    placementBaseline(e, v, hh);
}
