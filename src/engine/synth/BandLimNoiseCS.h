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
    // read the values in a loop of their own, from the arrays with bandlim::crossfaded.
    [[gnu::always_inline]] inline void advance(const float* step, const int32_t* active, int count, float corr,
                                               float spread) noexcept;
};

namespace bandlim
{
// The phases of a bank move on as getUnitWithStep moves them, where active; drawKind[i] tells
// whether source i draws: 0 no, 1 white, 2 after its crossfade ran out.
[[gnu::always_inline]] inline void advancePhases(int n, const float* __restrict step, const int32_t* __restrict active,
                                                 float* __restrict phase, int32_t* __restrict drawKind) noexcept
{
    for (int i = 0; i < n; ++i)
    {
        const float s = step[i];
        const float moved = phase[i] + phaseStep(s);
        const float p = moved >= 0.0f ? moved : 0.0f; // a negative or NaN step restarts the crossfade
        const int32_t white = s > kWhiteStep ? 1 : 0;
        const int32_t crossing = p >= 1.0f && s <= kWhiteStep ? 1 : 0;
        const int32_t on = active[i] != 0 ? 1 : 0;
        // Below the white limit a step moves the phase by less than 1, so its whole part is 1.
        const float next = crossing != 0 ? p - 1.0f : p;
        phase[i] = (on & (1 - white)) != 0 ? next : phase[i];
        drawKind[i] = on * (white + 2 * crossing);
    }
}

} // namespace bandlim

template <int kCapacity>
void BandLimNoiseBank<kCapacity>::advance(const float* stepBy, const int32_t* active, int count, float corr,
                                          float spread) noexcept
{
    constexpr int kGroup = 8;
    // The group loop below also writes pending entries for the lanes past the last source of a
    // partial group; with whole groups of capacity they stay inside pending.
    static_assert(kCapacity % kGroup == 0, "the noise bank holds whole groups of eight sources");
    // Room for a whole group of eight past the last source, none of which draws.
    alignas(32) std::array<int32_t, kCapacity + kGroup> drawKind;
    const int n = count < 0 ? 0 : (count < kCapacity ? count : kCapacity);
    bandlim::advancePhases(n, stepBy, active, phase.data(), drawKind.data());
    std::memset(drawKind.data() + n, 0, kGroup * sizeof(int32_t));

    // Fresh targets in source order, in batches from the canonical generator. A hop draws for few
    // of its sources, so a group of eight without a draw is passed over after one test.
    std::array<int32_t, kCapacity> pending;
    int drawCount = 0;
    for (int group = 0; group < n; group += kGroup)
    {
        uint64_t kinds[kGroup / 2];
        std::memcpy(kinds, drawKind.data() + group, sizeof kinds);
        if ((kinds[0] | kinds[1] | kinds[2] | kinds[3]) == 0) continue;
        for (int i = group; i < group + kGroup; ++i)
        {
            pending[static_cast<std::size_t>(drawCount)] = i;
            drawCount += drawKind[static_cast<std::size_t>(i)] != 0 ? 1 : 0;
        }
    }
    constexpr int kBatch = kCanonRandMaxBatch / 4;
    for (int first = 0; first < drawCount; first += kBatch)
    {
        const int m = drawCount - first < kBatch ? drawCount - first : kBatch;
        float r[kCanonRandMaxBatch];
        getCanonRandFloats(r, 4 * m);
        for (int j = 0; j < m; ++j)
        {
            const auto i = static_cast<std::size_t>(pending[static_cast<std::size_t>(first + j)]);
            if (drawKind[i] == 2)
            {
                old1Re[i] = new1Re[i];
                old1Im[i] = new1Im[i];
                old2Re[i] = new2Re[i];
                old2Im[i] = new2Im[i];
            }
            CF t1, t2;
            bandlim::targets(r + 4 * j, corr, spread, t1, t2);
            new1Re[i] = t1.re, new1Im[i] = t1.im, new2Re[i] = t2.re, new2Im[i] = t2.im;
        }
    }
}
