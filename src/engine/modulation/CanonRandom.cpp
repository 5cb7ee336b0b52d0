#include "engine/modulation/CanonRandom.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>

namespace
{
std::atomic<uint32_t> gCanonRandSeed{kCanonRandInitialSeed};
static_assert(std::atomic<uint32_t>::is_always_lock_free);
} // namespace

float getCanonRandFloat() noexcept
{
    uint32_t old = gCanonRandSeed.load(std::memory_order_relaxed);
    uint32_t next;
    do
    {
        next = old * kCanonRandMul + kCanonRandAdd;
    } while (!gCanonRandSeed.compare_exchange_weak(old, next, std::memory_order_relaxed));
    return canonRandValueOf(next);
}

namespace
{
// Four generator states side by side (compiler vector type; any x86-64 multiplies them lane by lane).
using States4 = uint32_t __attribute__((vector_size(16)));
using Ints4 = int32_t __attribute__((vector_size(16)));
using Floats4 = float __attribute__((vector_size(16)));

using Jump = CanonRandJump;
constexpr Jump jumpOf(int steps) noexcept { return canonRandJumpOf(steps); }
constexpr Jump kJump1 = jumpOf(1), kJump2 = jumpOf(2), kJump3 = jumpOf(3), kJump4 = jumpOf(4);
// Where a batch of n values leaves the state, by n.
constexpr std::array<Jump, kCanonRandMaxBatch + 1> kBatchJumps = [] {
    std::array<Jump, kCanonRandMaxBatch + 1> j{};
    for (int n = 0; n <= kCanonRandMaxBatch; ++n)
        j[static_cast<std::size_t>(n)] = jumpOf(n);
    return j;
}();

[[gnu::always_inline]] inline Floats4 valuesOf(States4 s) noexcept
{
    return __builtin_convertvector(reinterpret_cast<Ints4>(s), Floats4) * kCanonRandScale;
}
} // namespace

void getCanonRandFloats(float* out, int n) noexcept
{
    if (n <= 0) return;
    if (n > kCanonRandMaxBatch) n = kCanonRandMaxBatch;
    // The values are computed from a private copy of the state and published with one
    // compare-and-swap, so a batch costs one atomic operation instead of one per value; a lost race
    // computes them again from the state that won. Four states move at once, each jumping four
    // steps, which gives the same integers as stepping one at a time.
    const int whole = n & ~3;
    const States4 startMul = {kJump1.mul, kJump2.mul, kJump3.mul, kJump4.mul};
    const States4 startAdd = {kJump1.add, kJump2.add, kJump3.add, kJump4.add};
    const Jump batch = kBatchJumps[static_cast<std::size_t>(n)];
    uint32_t old = gCanonRandSeed.load(std::memory_order_relaxed);
    do
    {
        States4 s = (States4{} + old) * startMul + startAdd;
        for (int i = 0; i < whole; i += 4)
        {
            const Floats4 v = valuesOf(s);
            std::memcpy(out + i, &v, sizeof v);
            s = s * kJump4.mul + kJump4.add;
        }
        const Floats4 v = valuesOf(s);
        for (int i = whole; i < n; ++i)
            out[i] = v[i - whole];
    } while (!gCanonRandSeed.compare_exchange_weak(old, old * batch.mul + batch.add, std::memory_order_relaxed));
}

uint32_t takeCanonRandStates(int n) noexcept
{
    uint32_t old = gCanonRandSeed.load(std::memory_order_relaxed);
    if (n <= 0) return old;
    // Up to a batch the jump is at hand; beyond, it is put together from the power-of-two jumps
    // n's bits pick, a few multiplications instead of one per step.
    Jump whole = kBatchJumps[static_cast<std::size_t>(n < kCanonRandMaxBatch ? n : 0)];
    Jump power = kJump1;
    for (auto bits = static_cast<uint32_t>(n >= kCanonRandMaxBatch ? n : 0); bits != 0; bits >>= 1)
    {
        if ((bits & 1u) != 0) whole = {whole.mul * power.mul, whole.add * power.mul + power.add};
        power = {power.mul * power.mul, power.add * power.mul + power.add};
    }
    while (!gCanonRandSeed.compare_exchange_weak(old, old * whole.mul + whole.add, std::memory_order_relaxed))
    {
    }
    return old;
}

void setCanonRandSeed(uint32_t seed) noexcept
{
    gCanonRandSeed.store(seed, std::memory_order_relaxed);
}

uint32_t getCanonRandSeed() noexcept
{
    return gCanonRandSeed.load(std::memory_order_relaxed);
}
