#pragma once

#include <cstdint>

// The engine's stand-in for the C library's rand()/srand(): the same contract (values 0 to
// kEngineRandMax, a seed call), but lock-free, because glibc's rand() takes a lock and the render
// thread must never lock. One generator is shared by the whole process, as rand() is.
inline constexpr int32_t kEngineRandMax = 0x7fffffff;
// 2^-31: turns an engineRand() value into 0..1 without a division.
inline constexpr float kEngineRandScale = 4.656613e-10f;

// Next value in 0..kEngineRandMax. Safe to call from any thread.
int32_t engineRand() noexcept;

// Restarts the sequence; tests seed it for reproducible results.
void engineSrand(uint32_t seed) noexcept;

// engineRand() / kEngineRandMax, in 0..1.
float engineRandUnit() noexcept;
