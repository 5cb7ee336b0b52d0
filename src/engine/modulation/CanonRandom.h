#pragma once

#include <cstdint>

// The engine's canonical random generator: seed = seed * 1664525 + 1013904223 (mod 2^32), each
// value the new seed read as a signed 32-bit integer times kCanonRandScale, which is roughly
// uniform over -1.732..1.732 with unit variance. Vibrato, pitch jitter and partial decorrelation
// draw from it. One state is shared by the whole process; it is advanced atomically, so engines
// rendering on different threads never lose or tear an update (they do interleave draws).
inline constexpr uint32_t kCanonRandInitialSeed = 22222u;
inline constexpr uint32_t kCanonRandMul = 1664525u;
inline constexpr uint32_t kCanonRandAdd = 1013904223u;
inline constexpr float kCanonRandScale = 8.0652535e-10f;

// Advances the shared state and returns the next value.
float getCanonRandFloat() noexcept;

// The next n values (0 <= n <= kCanonRandMaxBatch) into out[0..n-1], in draw order, taken in one
// atomic update: the same values n calls of getCanonRandFloat() give on a single thread.
inline constexpr int kCanonRandMaxBatch = 64;
void getCanonRandFloats(float* out, int n) noexcept;

// k steps of the generator as one: state -> state * mul + add.
struct CanonRandJump
{
    uint32_t mul = 1u;
    uint32_t add = 0u;
};
constexpr CanonRandJump canonRandJumpOf(int steps) noexcept
{
    CanonRandJump j;
    for (int i = 0; i < steps; ++i)
        j = {j.mul * kCanonRandMul, j.add * kCanonRandMul + kCanonRandAdd};
    return j;
}

// The value a draw gives that leaves the generator in the given state.
constexpr float canonRandValueOf(uint32_t state) noexcept
{
    return float(static_cast<int32_t>(state)) * kCanonRandScale;
}

// Takes the next n values (n >= 0) in one atomic update, for callers that compute them where they
// need them: value i is canonRandValueOf(the returned state advanced by i + 1 steps), the same
// values n calls of getCanonRandFloat() give on a single thread.
uint32_t takeCanonRandStates(int n) noexcept;

// Sets the shared state (tests make draws reproducible with it).
void setCanonRandSeed(uint32_t seed) noexcept;

// The current shared state.
uint32_t getCanonRandSeed() noexcept;
