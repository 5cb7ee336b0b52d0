#pragma once

#include <cstddef>

// The small vector and FFT toolkit the engine renders with: a packed inverse real FFT, the
// split-to-interleaved copy and a handful of multiply-add kernels. All operations work on
// contiguous arrays (unit stride). Only createFFTSetup and destroyFFTSetup allocate; everything
// else is allocation- and lock-free and safe to call on the render thread.
namespace vdsp
{

// A complex vector stored as two float arrays.
struct SplitComplex
{
    float* realp = nullptr;
    float* imagp = nullptr;
};

// Plans and aligned work buffers for one transform size. Opaque; one set-up may be used by one
// thread at a time (each engine owns its own).
struct FFTSetup;

// Transform sizes 2^kMinFFTLog2 .. 2^kMaxFFTLog2 are supported.
inline constexpr int kMinFFTLog2 = 2;
inline constexpr int kMaxFFTLog2 = 16;

// Makes the set-up for N = 2^log2n points. Planning is serialised across threads, so several
// engines may be constructed at once. Returns nullptr for an unsupported size or when the planner
// fails. Never call on the render thread.
FFTSetup* createFFTSetup(int log2n);

// Frees a set-up made by createFFTSetup; nullptr is ignored. Never call on the render thread.
void destroyFFTSetup(FFTSetup* setup) noexcept;

// log2 of the set-up's size, or 0 for nullptr.
int fftLog2Size(const FFTSetup* setup) noexcept;

// Packed inverse real FFT of N = 2^log2n points (log2n must equal the set-up's size).
// Input: N/2 complex bins; in.realp[0] holds the DC value X_0, in.imagp[0] the Nyquist value
// X_(N/2), and in.realp[k], in.imagp[k] bin k for 0 < k < N/2. The transform is unscaled:
//     x[n] = X_0 + X_(N/2) (-1)^n + 2 sum_(k=1..N/2-1) Re(X_k e^(2 pi i k n / N)),
// which is what the rest of the engine's gains assume.
// Output: the N real samples packed as N/2 complex values, out.realp[k] = x[2k] and
// out.imagp[k] = x[2k + 1], so that ztoc() turns them into x[0..N-1]. `out` may alias `in`.
// Does nothing when the set-up is null or its size differs from log2n.
void fftInverseReal(FFTSetup* setup, const SplitComplex& in, const SplitComplex& out, int log2n) noexcept;

// The same transform with the N real samples written in order, samples[n] = x[n]: what
// fftInverseReal followed by ztoc gives, bit for bit, without the two copies between them.
// `samples` must not overlap `in`. Does nothing when the set-up is null or its size differs.
void fftInverseRealSamples(FFTSetup* setup, const SplitComplex& in, float* samples, int log2n) noexcept;

// Interleaves n split complex values: dst[2k] = src.realp[k], dst[2k + 1] = src.imagp[k].
void ztoc(const SplitComplex& src, float* dst, std::size_t n) noexcept;

// d[i] = a[i] * b[i] + c[i]. d may alias a, b or c element for element.
void vma(const float* a, const float* b, const float* c, float* d, std::size_t n) noexcept;

// d[i] = a[i] * b + c[i]. d may alias a or c element for element.
void vsma(const float* a, float b, const float* c, float* d, std::size_t n) noexcept;

// c[i] = a[i] * b. c may alias a.
void vsmul(const float* a, float b, float* c, std::size_t n) noexcept;

// Sum of a[i]^2.
float svesq(const float* a, std::size_t n) noexcept;

// Sum of a[i] * b[i].
float dotpr(const float* a, const float* b, std::size_t n) noexcept;

} // namespace vdsp
