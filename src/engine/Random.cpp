#include "engine/Random.h"

#include <atomic>

namespace
{
// 64-bit LCG (Knuth's MMIX constants); the top 31 bits are returned, the low bits of an LCG
// being poor. A 64-bit atomic is lock-free on every target we build for.
constexpr uint64_t kMul = 6364136223846793005ull;
constexpr uint64_t kInc = 1442695040888963407ull;

uint64_t seedToState(uint32_t seed) noexcept { return (uint64_t(seed) << 32) ^ 0x853c49e6748fea9bull; }

std::atomic<uint64_t> gEngineRandState{seedToState(1)};
static_assert(std::atomic<uint64_t>::is_always_lock_free);
} // namespace

int32_t engineRand() noexcept
{
    uint64_t old = gEngineRandState.load(std::memory_order_relaxed);
    uint64_t next;
    do
    {
        next = old * kMul + kInc;
    } while (!gEngineRandState.compare_exchange_weak(old, next, std::memory_order_relaxed));
    return int32_t(next >> 33);
}

void engineSrand(uint32_t seed) noexcept { gEngineRandState.store(seedToState(seed), std::memory_order_relaxed); }

float engineRandUnit() noexcept { return float(engineRand()) / float(kEngineRandMax); }
