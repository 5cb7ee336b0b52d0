#include "engine/modulation/CanonRandom.h"

#include <array>
#include <atomic>
#include <cstddef>

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
    return float(static_cast<int32_t>(next)) * kCanonRandScale;
}

void getCanonRandFloats(float* out, int n) noexcept
{
    if (n <= 0) return;
    if (n > kCanonRandMaxBatch) n = kCanonRandMaxBatch;
    // The states are computed from a private copy and published with one compare-and-swap, so a
    // batch costs one atomic operation instead of one per value.
    std::array<uint32_t, kCanonRandMaxBatch> states;
    uint32_t old = gCanonRandSeed.load(std::memory_order_relaxed);
    do
    {
        uint32_t s = old;
        for (int i = 0; i < n; ++i)
        {
            s = s * kCanonRandMul + kCanonRandAdd;
            states[static_cast<std::size_t>(i)] = s;
        }
    } while (!gCanonRandSeed.compare_exchange_weak(old, states[static_cast<std::size_t>(n - 1)], std::memory_order_relaxed));
    for (int i = 0; i < n; ++i)
        out[i] = float(static_cast<int32_t>(states[static_cast<std::size_t>(i)])) * kCanonRandScale;
}

void setCanonRandSeed(uint32_t seed) noexcept
{
    gCanonRandSeed.store(seed, std::memory_order_relaxed);
}

uint32_t getCanonRandSeed() noexcept
{
    return gCanonRandSeed.load(std::memory_order_relaxed);
}
