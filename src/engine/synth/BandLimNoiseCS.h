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

// Fresh targets of the two sources from four draws q: the second mixes in corr of the first. For
// one source (float) or several side by side (compiler vector types), the same arithmetic.
template <class T>
[[gnu::always_inline]] inline void targetsOf(const T* q, float corr, float spread, T& new1Re, T& new1Im, T& new2Re,
                                             T& new2Im) noexcept
{
    new1Re = kHalfPower * q[0];
    new1Im = kHalfPower * q[1];
    new2Re = kHalfPower * spread * q[2] + corr * new1Re;
    new2Im = kHalfPower * spread * q[3] + corr * new1Im;
}
[[gnu::always_inline]] inline void targets(const float* q, float corr, float spread, CF& new1, CF& new2) noexcept
{
    targetsOf(q, corr, spread, new1.re, new1.im, new2.re, new2.im);
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

namespace bandlim
{
// Eight sources side by side (compiler vector types; a true lane of a mask is -1).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
using Floats8 = float __attribute__((vector_size(32)));
using Ints8 = int32_t __attribute__((vector_size(32)));
using States8 = uint32_t __attribute__((vector_size(32)));

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

// What drawLanes takes for a group of eight sources from the masks of stepPhases, given as their
// laneBits: bit k set where source k draws, bit 8+k where its crossfade ran out.
inline constexpr uint32_t drawBits(uint32_t draws, uint32_t renews) noexcept { return draws | renews << 8; }

// The targets of eight sources side by side, as the bank holds them.
struct Targets8
{
    Floats8 old1Re, old1Im, new1Re, new1Im, old2Re, old2Im, new2Re, new2Im;
};

// Entry b, lane k: the jump of the generator to where lane k's draws start when the lanes of b
// draw, four values each, in lane order.
struct LaneDrawJumps
{
    alignas(32) std::array<uint32_t, 8> mul;
    alignas(32) std::array<uint32_t, 8> add;
};
inline constexpr auto kLaneDrawJumps = [] {
    std::array<LaneDrawJumps, 256> jumps{};
    for (uint32_t b = 0; b < 256; ++b)
    {
        int drawsBefore = 0;
        for (std::size_t k = 0; k < 8; ++k)
        {
            const CanonRandJump j = canonRandJumpOf(4 * drawsBefore);
            jumps[b].mul[k] = j.mul;
            jumps[b].add[k] = j.add;
            drawsBefore += static_cast<int>(b >> k & 1u);
        }
    }
    return jumps;
}();

// Where the generator stands after n draws of four values, by n (0..8).
inline constexpr auto kGroupDrawJumps = [] {
    std::array<CanonRandJump, 9> jumps{};
    for (int n = 0; n <= 8; ++n)
        jumps[static_cast<std::size_t>(n)] = canonRandJumpOf(4 * n);
    return jumps;
}();

// Fresh targets, as targets() gives them, for the lanes of bits (drawBits) that draw, in lane
// order, their four values each continuing the generator from state; where the crossfade ran
// out the old targets take the new ones first. Each lane jumps straight to its own first value,
// so that the eight lanes draw side by side. Returns the state after the group's draws.
[[gnu::always_inline]] inline uint32_t drawLanes(uint32_t bits, uint32_t state, float corr, float spread,
                                                 Targets8& t) noexcept
{
    const uint32_t drawing = bits & 0xffu;
    const Ints8 lane = {1, 2, 4, 8, 16, 32, 64, 128};
    const Ints8 draws = ((Ints8{} + static_cast<int32_t>(drawing)) & lane) != 0;
    const Ints8 renews = ((Ints8{} + static_cast<int32_t>(bits >> 8 & 0xffu)) & lane) != 0;
    t.old1Re = renews != 0 ? t.new1Re : t.old1Re;
    t.old1Im = renews != 0 ? t.new1Im : t.old1Im;
    t.old2Re = renews != 0 ? t.new2Re : t.old2Re;
    t.old2Im = renews != 0 ? t.new2Im : t.old2Im;

    const LaneDrawJumps& jump = kLaneDrawJumps[drawing];
    States8 mul, add;
    std::memcpy(&mul, jump.mul.data(), sizeof mul);
    std::memcpy(&add, jump.add.data(), sizeof add);
    const States8 first = state * mul + add;
    // Lane k's four values, each read as canonRandValueOf reads a state.
    constexpr CanonRandJump jumps[4] = {canonRandJumpOf(1), canonRandJumpOf(2), canonRandJumpOf(3),
                                        canonRandJumpOf(4)};
    Floats8 q[4];
    for (int k = 0; k < 4; ++k)
        q[k] = __builtin_convertvector(reinterpret_cast<Ints8>(first * jumps[k].mul + jumps[k].add), Floats8) *
               kCanonRandScale;
    Floats8 new1Re, new1Im, new2Re, new2Im;
    targetsOf(q, corr, spread, new1Re, new1Im, new2Re, new2Im);
    t.new1Re = draws != 0 ? new1Re : t.new1Re;
    t.new1Im = draws != 0 ? new1Im : t.new1Im;
    t.new2Re = draws != 0 ? new2Re : t.new2Re;
    t.new2Im = draws != 0 ? new2Im : t.new2Im;
    const CanonRandJump after = kGroupDrawJumps[static_cast<std::size_t>(__builtin_popcount(drawing))];
    return state * after.mul + after.add;
}
} // namespace bandlim

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

    // The targets of sources first..first+7; first is a multiple of eight below kCapacity, which
    // callers make sure of.
    [[gnu::always_inline]] inline void targetsAt(int first, bandlim::Targets8& t) const noexcept;
    [[gnu::always_inline]] inline void setTargets(int first, const bandlim::Targets8& t) noexcept;
};

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

template <int kCapacity>
void BandLimNoiseBank<kCapacity>::drawTargets(const uint32_t* groupDraws, int count, float corr,
                                              float spread) noexcept
{
    constexpr int kGroup = 8;
    const int n = count < 0 ? 0 : (count < kCapacity ? count : kCapacity);
    const int groups = (n + kGroup - 1) / kGroup;
    int draws = 0;
    for (int g = 0; g < groups; ++g)
        draws += __builtin_popcount(groupDraws[g] & 0xffu);
    drawTargets(groupDraws, n, draws, corr, spread);
}

template <int kCapacity>
void BandLimNoiseBank<kCapacity>::drawTargets(const uint32_t* groupDraws, int count, int drawCount, float corr,
                                              float spread) noexcept
{
    constexpr int kGroup = 8;
    // A group with this many draws or more draws its eight lanes side by side; fewer draws cost
    // less one source at a time.
    constexpr int kLaneDrawsFrom = 3;
    const int n = count < 0 ? 0 : (count < kCapacity ? count : kCapacity);
    const int groups = (n + kGroup - 1) / kGroup;
    const int draws = drawCount < 0 ? 0 : (drawCount < n ? drawCount : n);
    if (draws == 0) return;
    // All the hop's draws in one update of the generator; the values follow from its state.
    uint32_t state = takeCanonRandStates(4 * draws);
    for (int g = 0; g < groups; ++g)
    {
        const uint32_t bits = groupDraws[g];
        const uint32_t drawing = bits & 0xffu;
        if (drawing == 0) continue;
        if (__builtin_popcount(drawing) >= kLaneDrawsFrom)
        {
            bandlim::Targets8 t;
            targetsAt(g * kGroup, t);
            state = bandlim::drawLanes(bits, state, corr, spread, t);
            setTargets(g * kGroup, t);
            continue;
        }
        for (uint32_t lanes = drawing; lanes != 0; lanes &= lanes - 1)
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
            float q[4];
            for (float& value : q)
            {
                state = state * kCanonRandMul + kCanonRandAdd;
                value = canonRandValueOf(state);
            }
            CF t1, t2;
            bandlim::targets(q, corr, spread, t1, t2);
            new1Re[s] = t1.re, new1Im[s] = t1.im, new2Re[s] = t2.re, new2Im[s] = t2.im;
        }
    }
}

template <int kCapacity>
void BandLimNoiseBank<kCapacity>::targetsAt(int first, bandlim::Targets8& t) const noexcept
{
    const auto at = static_cast<std::size_t>(first);
    std::memcpy(&t.old1Re, old1Re.data() + at, sizeof t.old1Re);
    std::memcpy(&t.old1Im, old1Im.data() + at, sizeof t.old1Im);
    std::memcpy(&t.new1Re, new1Re.data() + at, sizeof t.new1Re);
    std::memcpy(&t.new1Im, new1Im.data() + at, sizeof t.new1Im);
    std::memcpy(&t.old2Re, old2Re.data() + at, sizeof t.old2Re);
    std::memcpy(&t.old2Im, old2Im.data() + at, sizeof t.old2Im);
    std::memcpy(&t.new2Re, new2Re.data() + at, sizeof t.new2Re);
    std::memcpy(&t.new2Im, new2Im.data() + at, sizeof t.new2Im);
}

template <int kCapacity>
void BandLimNoiseBank<kCapacity>::setTargets(int first, const bandlim::Targets8& t) noexcept
{
    const auto at = static_cast<std::size_t>(first);
    std::memcpy(old1Re.data() + at, &t.old1Re, sizeof t.old1Re);
    std::memcpy(old1Im.data() + at, &t.old1Im, sizeof t.old1Im);
    std::memcpy(new1Re.data() + at, &t.new1Re, sizeof t.new1Re);
    std::memcpy(new1Im.data() + at, &t.new1Im, sizeof t.new1Im);
    std::memcpy(old2Re.data() + at, &t.old2Re, sizeof t.old2Re);
    std::memcpy(old2Im.data() + at, &t.old2Im, sizeof t.old2Im);
    std::memcpy(new2Re.data() + at, &t.new2Re, sizeof t.new2Re);
    std::memcpy(new2Im.data() + at, &t.new2Im, sizeof t.new2Im);
}

#pragma GCC diagnostic pop
