#include "engine/CanonRandom.h"

#include <atomic>

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

void setCanonRandSeed(uint32_t seed) noexcept
{
    gCanonRandSeed.store(seed, std::memory_order_relaxed);
}

uint32_t getCanonRandSeed() noexcept
{
    return gCanonRandSeed.load(std::memory_order_relaxed);
}
