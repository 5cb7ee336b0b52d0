#pragma once

// What the parts of one voice's hop share: the small formulas of rendering, the tone shaping
// that bands and resonances both follow, the per-harmonic hop values, and the entry points of
// the parts (band levels, harmonic amplitudes, harmonic placement, resonances). Internal to the
// voice rendering; everything here runs on the render thread and never allocates.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/CF.h"
#include "engine/dspConstants.h"
#include "engine/voice/KeyVoice.h"

class KeySpaceDSP;
struct KeyVoice;

namespace voicehop
{

// Cheap stand-in for e^x used throughout rendering (always positive).
inline float approxExp(float x) noexcept
{
    const float x2 = x * x;
    return 1.0f + x + 0.5f * x2 + 0.17f * x2 * x2;
}

// Smooth 0..1 ramp (3 - 2x) x^2.
inline float smoothStep(float x) noexcept { return (3.0f - 2.0f * x) * x * x; }

// Weight of the old value of a smoothed random generator at phase x: 1 - (4 - 3x) x^3. The new
// value's weight is the same function of 1 - x; the pair keeps the power of uncorrelated values.
inline float crossfadeOld(float x) noexcept { return 1.0f - (4.0f - 3.0f * x) * x * x * x; }

inline float clampUnit(float x) noexcept { return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f; }

inline float fraction(float x) noexcept { return x - std::floor(x); }

inline CF cmul(CF a, CF b) noexcept { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline CF cscale(CF a, float s) noexcept { return {a.re * s, a.im * s}; }

// Eight harmonics side by side for the per-harmonic loops that read several arrays per harmonic.
// Plain compiler vector types: the baseline form runs each as two four-float halves, the wide form
// as one register, both with the arithmetic of scalar code written in the same order, lane by lane.
using F8 = float __attribute__((vector_size(32)));
using I8 = int32_t __attribute__((vector_size(32)));
inline constexpr int kLanes8 = 8;

// Eight lanes from or to any float- (int-) aligned address. Always inlined, so no call passes an
// eight-lane vector under the baseline's calling convention, which the compilers' ABI note is about.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
[[gnu::always_inline]] inline F8 load8(const float* p) noexcept
{
    F8 x;
    std::memcpy(&x, p, sizeof x);
    return x;
}
[[gnu::always_inline]] inline I8 load8i(const int32_t* p) noexcept
{
    I8 x;
    std::memcpy(&x, p, sizeof x);
    return x;
}
[[gnu::always_inline]] inline void store8(float* p, F8 x) noexcept { std::memcpy(p, &x, sizeof x); }
[[gnu::always_inline]] inline void store8i(int32_t* p, I8 x) noexcept { std::memcpy(p, &x, sizeof x); }
#pragma GCC diagnostic pop

// Float to int for values that a hostile parameter or blob could push past the int range.
inline int32_t toIntSafe(float x) noexcept
{
    constexpr float kLimit = 1.0e9f;
    if (!(x > -kLimit))
        return x != x ? 0 : -static_cast<int32_t>(kLimit);
    if (x > kLimit)
        return static_cast<int32_t>(kLimit);
    return static_cast<int32_t>(x);
}

inline constexpr float kPosRound = 0.49f;
// Partials at or beyond this position would reach past the spectrum's guard bins; they are dropped.
inline constexpr int32_t kMaxPartialPos = (kSynthBins + 1) << kPosFracBits;

// Level shaping of one voice and hop by frequency (x: harmonic number), shared by the bands and
// the resonances: gain and brightness, Flatten, the Hi-Lo filter.
struct ToneShape
{
    float gain = 0.0f;
    float brightPos = 0.0f;
    float brightNeg2 = 0.0f;
    float flatten = 0.0f;
    float flatten2 = 0.0f;
    float flattenC = 1.0f;
    float flattenG = 1.0f;
    bool hiLoOn = false;
    float hiLoCut = 0.0f;
    float hiLoA = 1.0f;
    float hiLoB = 1.0f;
    float hiPassCorner = 0.0f;
    float loPassFactor = 0.0f;

    float levelAt(float x) const noexcept
    {
        return (gain + 0.2f * gain * brightPos * x) / (1.0f + 0.05f * brightPos * x + 0.5f * brightNeg2 * x * x);
    }
    // Without brightness either way levelAt gives the very same float at every x >= 0: the divisor
    // is exactly 1 and the gain's term adds a zero of one sign (or NaN for a gain that is not
    // finite), so a loop over bands may take it once instead of dividing per band.
    bool levelSameEverywhere() const noexcept { return brightPos == 0.0f && brightNeg2 == 0.0f; }
    float hiLoResponse(float hz) const noexcept
    {
        const float x = hiLoCut > 0.0f ? hiPassCorner / std::max(hz, 1e-20f) : hz * loPassFactor;
        const float xm = x - 1.0f;
        return 2.0f / ((x * x + hiLoA) * (xm * xm + hiLoB));
    }
};

// The voice's values that its bands need besides the tone shape.
struct BandHop
{
    float t = 0.0f; // seconds into the sound
    float lifeFactor = 1.0f;
    float hopSeconds = 0.0f;
    float f = 0.0f;    // fundamental in Hz
    float gain = 0.0f; // the voice's gain before brightness
    // The leading bands whose work-table values the harmonics read; the others are left out.
    int bandsRead = kBandTableSize + 1;
    // The voice's set-up let this hop's mix pass unchanged, so its bands are likely the last hop's:
    // worth checking the per-band terms kept from then (KeyVoice::SteadyBands) instead of working
    // them out in the band loops.
    bool bandsSettled = false;
};

// Formant-shifted position of harmonic h >= 1 (never below 1; harmonic 0 stays at 0), and the
// band table entry it reads. Neither falls as h rises.
inline float formantPosition(int h, float formantRatio) noexcept
{
    const float scaled = static_cast<float>(h) * formantRatio;
    return 1.0f < scaled ? scaled : 1.0f;
}
inline int32_t formantIndex(float position) noexcept
{
    constexpr float kTopHarmonic = static_cast<float>(kMaxHarmonics - 1);
    return static_cast<int32_t>(position < kTopHarmonic ? position : kTopHarmonic);
}

// What the per-harmonic passes of one voice and hop share.
struct HarmonicHop
{
    int count = 0;
    float formantRatio = 1.0f;
    float lifeFactor = 1.0f;
    float binPos = 0.0f;
    float shift = 0.0f;
    uint32_t midPhase = 0;
    uint32_t rotSpread = 0;
    float corrWeight = 1.0f;
    float spreadWeight = 0.0f;
    int shareOffset = 0;
    float shareOldWeight = 0.0f;
    float shareNewWeight = 0.0f;
    const KeyVoice::SharePairTable* shareOld = nullptr;
    const KeyVoice::SharePairTable* shareNew = nullptr;
    bool sharing = false;
    bool binaural = false;
    int farEar = 1;
    float shadowInv = 0.0f;
    uint32_t farStep = 0;
};

// The jitter generators, band amplitudes and envelopes, Flatten, Hi-Lo and Fatness into the
// engine's band work tables (tonal, noisy and width per band); returns the tone shape.
ToneShape bandLevels(KeySpaceDSP& e, KeyVoice& v, const BandHop& hop) noexcept;

// Each harmonic's amplitude per channel into the engine's partial list: band position, the
// band's oscillation and, for noisy bands, the harmonic's band-limited noise.
void harmonicAmplitudes(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept;

// Position and phase of each harmonic, then the stereo share and the far ear's shadow and delay.
void harmonicPlacement(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept;

// The voice's resonances after its harmonics in the partial list, from index `first`; returns
// how many it placed.
int renderResonances(KeySpaceDSP& e, KeyVoice& v, const ToneShape& shape, float t, float f, float hopSeconds,
                     float corrWeight, float spreadWeight, int first) noexcept;

} // namespace voicehop
