#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "engine/CF.h"
#include "engine/modulation/CanonRandom.h"

// Smoothly varying random complex values for noisy partials: two sources per call whose targets
// come from the canonical generator and are crossfaded with a power-keeping cubic.
struct BandLimNoiseCS
{
    // Advances by one step and returns the two values. step: how far the crossfade moves per call
    // (above 0.85 every call draws fresh, uninterpolated values); corr mixes the first source into
    // the second; spread scales the second source's own part. Inline, as it runs once per noisy
    // partial and hop.
    inline void getUnitWithStep(float step, float corr, float spread, CF& out1, CF& out2) noexcept;

    // Draws fresh targets from the canonical generator into new1 and new2.
    void draw(float corr, float spread) noexcept;

    float phase = 0.0f;
    CF old1;
    CF new1;
    CF old2;
    CF new2;
};
static_assert(sizeof(BandLimNoiseCS) == 9 * sizeof(float), "noise state is nine words");

namespace bandlim
{
// Above this step the source is white: fresh values every call, no crossfade.
inline constexpr float kWhiteStep = 0.85f;
// 1/sqrt(2): each component gets half the unit variance, so a value has unit power.
inline constexpr float kHalfPower = 0.707f;

// How far a step below the white limit moves the crossfade: stretched as it nears the limit, so
// the band of the noise keeps widening.
[[gnu::always_inline]] inline float phaseStep(float step) noexcept { return (0.01f / (0.97f - step) + 1.0f) * step; }

// Fresh targets of the two sources from four draws q: the second mixes in corr of the first.
[[gnu::always_inline]] inline void targets(const float* q, float corr, float spread, CF& new1, CF& new2) noexcept
{
    new1 = {kHalfPower * q[0], kHalfPower * q[1]};
    new2 = {kHalfPower * spread * q[2] + corr * new1.re, kHalfPower * spread * q[3] + corr * new1.im};
}

// Cubic crossfade at phase x from old to new: the weights' sum is 1 at the ends and 1.375 at the
// middle (0.6875 each), which keeps the power of two uncorrelated values roughly constant. A white
// source gives its new value as it is. For one source (float, bool) or several side by side
// (compiler vector types and a lane mask), the same arithmetic.
template <class T, class Mask>
[[gnu::always_inline]] inline T crossfaded(Mask white, T x, T oldValue, T newValue) noexcept
{
    const T y = 1.0f - x;
    const T a = 1.0f - (4.0f - 3.0f * x) * x * x * x;
    const T b = 1.0f - (4.0f - 3.0f * y) * y * y * y;
    const T mixed = b * newValue + a * oldValue;
    return white ? newValue : mixed;
}
} // namespace bandlim

void BandLimNoiseCS::getUnitWithStep(float step, float corr, float spread, CF& out1, CF& out2) noexcept
{
    if (step > bandlim::kWhiteStep)
    {
        draw(corr, spread);
        out1 = new1;
        out2 = new2;
        return;
    }
    phase += bandlim::phaseStep(step);
    if (!(phase >= 0.0f)) // a negative or NaN step must not leave the crossfade range
        phase = 0.0f;
    if (phase >= 1.0f)
    {
        old1 = new1;
        old2 = new2;
        draw(corr, spread);
        phase -= static_cast<float>(static_cast<int>(phase));
    }
    const auto value = [this](float oldValue, float newValue) {
        return bandlim::crossfaded(false, phase, oldValue, newValue);
    };
    out1 = {value(old1.re, new1.re), value(old1.im, new1.im)};
    out2 = {value(old2.re, new2.re), value(old2.im, new2.im)};
}

// Many sources side by side, one array per field, so that stepping them is a plain loop over
// arrays. Advancing source i by step[i] where active[i] is non-zero, then reading its crossfaded
// values, gives exactly the values and draws of getUnitWithStep on each active source in
// ascending order; the others do not move.
template <int kCapacity>
struct BandLimNoiseBank
{
    alignas(32) std::array<float, kCapacity> phase{};
    alignas(32) std::array<float, kCapacity> old1Re{};
    alignas(32) std::array<float, kCapacity> old1Im{};
    alignas(32) std::array<float, kCapacity> new1Re{};
    alignas(32) std::array<float, kCapacity> new1Im{};
    alignas(32) std::array<float, kCapacity> old2Re{};
    alignas(32) std::array<float, kCapacity> old2Im{};
    alignas(32) std::array<float, kCapacity> new2Re{};
    alignas(32) std::array<float, kCapacity> new2Im{};

    // Moves the phases of sources 0..count-1 where active and draws their new targets; callers
    // read the values in a loop of their own, from the arrays with bandlim::crossfaded. step and
    // active hold whole groups of eight (the lanes past count are read, never used).
    [[gnu::always_inline]] inline void advance(const float* step, const int32_t* active, int count, float corr,
                                               float spread) noexcept;

    // The second half of advance, for callers that move the phases in a loop of their own with
    // bandlim::stepPhases: fresh targets, in source order, for the sources 0..count-1 that draw.
    // groupDraws[g] tells for sources 8g..8g+7 (bandlim::drawBits): bit k set where source 8g+k
    // draws, bit 8+k where its crossfade ran out, so that its old targets take the new ones first.
    [[gnu::always_inline]] inline void drawTargets(const uint32_t* groupDraws, int count, float corr,
                                                   float spread) noexcept;

    // drawTargets for callers that have counted the draws (the bits k of groupDraws) on the way.
    [[gnu::always_inline]] inline void drawTargets(const uint32_t* groupDraws, int count, int draws, float corr,
                                                   float spread) noexcept;
};

namespace bandlim
{
// Eight sources side by side (compiler vector types; a true lane of a mask is -1).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
using Floats8 = float __attribute__((vector_size(32)));
using Ints8 = int32_t __attribute__((vector_size(32)));

// The phases of eight sources moved on as getUnitWithStep moves them, where on; draws marks the
// sources that draw (white ones, and those whose crossfade ran out), renews those of them whose
// crossfade ran out.
[[gnu::always_inline]] inline void stepPhases(const Floats8& step, const Ints8& on, Floats8& phase, Ints8& draws,
                                              Ints8& renews) noexcept
{
    const Floats8 zero{};
    const Floats8 moved = phase + (0.01f / (0.97f - step) + 1.0f) * step;
    const Floats8 p = moved >= zero ? moved : zero; // a negative or NaN step restarts the crossfade
    const Ints8 white = step > kWhiteStep;
    const Ints8 crossing = (p >= 1.0f) & (step <= kWhiteStep);
    // Below the white limit a step moves the phase by less than 1, so its whole part is 1.
    const Floats8 next = crossing != 0 ? p - 1.0f : p;
    draws = on & (white | crossing);
    renews = on & crossing;
    phase = (on & ~white) != 0 ? next : phase;
}

// Bit k set where lane k of a mask is true.
[[gnu::always_inline]] inline uint32_t laneBits(const Ints8& mask) noexcept
{
    Ints8 bits = mask & Ints8{1, 2, 4, 8, 16, 32, 64, 128};
    bits |= __builtin_shufflevector(bits, bits, 4, 5, 6, 7, 0, 1, 2, 3);
    bits |= __builtin_shufflevector(bits, bits, 2, 3, 0, 1, 2, 3, 0, 1);
    bits |= __builtin_shufflevector(bits, bits, 1, 0, 1, 0, 1, 0, 1, 0);
    return static_cast<uint32_t>(bits[0]);
}

// What BandLimNoiseBank::drawTargets takes for a group of eight sources from the masks of
// stepPhases, given as their laneBits.
inline constexpr uint32_t drawBits(uint32_t draws, uint32_t renews) noexcept { return draws | renews << 8; }
} // namespace bandlim

template <int kCapacity>
void BandLimNoiseBank<kCapacity>::advance(const float* stepBy, const int32_t* active, int count, float corr,
                                          float spread) noexcept
{
    constexpr int kGroup = 8;
    static_assert(kCapacity % kGroup == 0, "the noise bank holds whole groups of eight sources");
    std::array<uint32_t, kCapacity / kGroup> groupDraws;
    const int n = count < 0 ? 0 : (count < kCapacity ? count : kCapacity);
    for (int group = 0; group < n; group += kGroup)
    {
        bandlim::Floats8 step, at;
        bandlim::Ints8 on, draws, renews;
        std::memcpy(&step, stepBy + group, sizeof step);
        std::memcpy(&on, active + group, sizeof on);
        std::memcpy(&at, phase.data() + group, sizeof at);
        on = (on != 0) & (bandlim::Ints8{0, 1, 2, 3, 4, 5, 6, 7} + group < n);
        bandlim::stepPhases(step, on, at, draws, renews);
        std::memcpy(phase.data() + group, &at, sizeof at);
        groupDraws[static_cast<std::size_t>(group / kGroup)] =
            bandlim::drawBits(bandlim::laneBits(draws), bandlim::laneBits(renews));
    }
    drawTargets(groupDraws.data(), n, corr, spread);
}

#pragma GCC diagnostic pop

template <int kCapacity>
void BandLimNoiseBank<kCapacity>::drawTargets(const uint32_t* groupDraws, int count, float corr,
                                              float spread) noexcept
{
    constexpr int kGroup = 8;
    const int n = count < 0 ? 0 : (count < kCapacity ? count : kCapacity);
    const int groups = (n + kGroup - 1) / kGroup;
    int draws = 0;
    for (int g = 0; g < groups; ++g)
        for (uint32_t lanes = groupDraws[g] & 0xffu; lanes != 0; lanes &= lanes - 1)
            ++draws;
    drawTargets(groupDraws, n, draws, corr, spread);
}

template <int kCapacity>
void BandLimNoiseBank<kCapacity>::drawTargets(const uint32_t* groupDraws, int count, int drawCount, float corr,
                                              float spread) noexcept
{
    constexpr int kGroup = 8;
    const int n = count < 0 ? 0 : (count < kCapacity ? count : kCapacity);
    const int groups = (n + kGroup - 1) / kGroup;
    const int draws = drawCount < 0 ? 0 : (drawCount < n ? drawCount : n);
    // All the hop's draws at once, in batches as large as the canonical generator gives.
    float r[4 * kCapacity];
    for (int first = 0; first < 4 * draws; first += kCanonRandMaxBatch)
        getCanonRandFloats(r + first, 4 * draws - first < kCanonRandMaxBatch ? 4 * draws - first : kCanonRandMaxBatch);
    // A hop draws for few of its sources: they are found by their bits, group by group.
    int j = 0;
    for (int g = 0; g < groups; ++g)
    {
        const uint32_t bits = groupDraws[g];
        for (uint32_t lanes = bits & 0xffu; lanes != 0; lanes &= lanes - 1, ++j)
        {
            const int lane = __builtin_ctz(lanes);
            const auto s = static_cast<std::size_t>(g * kGroup + lane);
            if ((bits >> (kGroup + lane) & 1u) != 0)
            {
                old1Re[s] = new1Re[s];
                old1Im[s] = new1Im[s];
                old2Re[s] = new2Re[s];
                old2Im[s] = new2Im[s];
            }
            CF t1, t2;
            bandlim::targets(r + 4 * j, corr, spread, t1, t2);
            new1Re[s] = t1.re, new1Im[s] = t1.im, new2Re[s] = t2.re, new2Im[s] = t2.im;
        }
    }
}
