#include "platform/VectorDsp.h"

// Plain loops: the compiler vectorises them at -O2/-O3 and they stay exact IEEE arithmetic (no
// reassociation beyond what the loop order gives, since the build never uses -ffast-math).

namespace vdsp
{

void ztoc(const SplitComplex& src, float* dst, std::size_t n) noexcept
{
    for (std::size_t k = 0; k < n; ++k)
    {
        dst[2 * k] = src.realp[k];
        dst[2 * k + 1] = src.imagp[k];
    }
}

void vma(const float* a, const float* b, const float* c, float* d, std::size_t n) noexcept
{
    for (std::size_t i = 0; i < n; ++i)
        d[i] = a[i] * b[i] + c[i];
}

void vsma(const float* a, float b, const float* c, float* d, std::size_t n) noexcept
{
    for (std::size_t i = 0; i < n; ++i)
        d[i] = a[i] * b + c[i];
}

void vsmul(const float* a, float b, float* c, std::size_t n) noexcept
{
    for (std::size_t i = 0; i < n; ++i)
        c[i] = a[i] * b;
}

float svesq(const float* a, std::size_t n) noexcept
{
    // Four partial sums: faster than one dependent chain and a little more accurate.
    float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
    {
        s0 += a[i] * a[i];
        s1 += a[i + 1] * a[i + 1];
        s2 += a[i + 2] * a[i + 2];
        s3 += a[i + 3] * a[i + 3];
    }
    for (; i < n; ++i)
        s0 += a[i] * a[i];
    return (s0 + s1) + (s2 + s3);
}

float dotpr(const float* a, const float* b, std::size_t n) noexcept
{
    float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
    {
        s0 += a[i] * b[i];
        s1 += a[i + 1] * b[i + 1];
        s2 += a[i + 2] * b[i + 2];
        s3 += a[i + 3] * b[i + 3];
    }
    for (; i < n; ++i)
        s0 += a[i] * b[i];
    return (s0 + s1) + (s2 + s3);
}

} // namespace vdsp
