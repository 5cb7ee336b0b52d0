#pragma once

#include <cstdint>

// Sets the CPU's flush-to-zero and denormals-are-zero modes for the current thread while in
// scope and restores the previous modes afterwards. Decaying filters, reverbs and envelopes
// otherwise stall on denormal arithmetic when a sound fades out.
class FlushDenormals
{
public:
    FlushDenormals() noexcept;
    ~FlushDenormals() noexcept;
    FlushDenormals(const FlushDenormals&) = delete;
    FlushDenormals& operator=(const FlushDenormals&) = delete;

private:
    uint32_t previous = 0;
};
