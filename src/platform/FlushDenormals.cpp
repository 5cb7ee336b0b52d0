#include "platform/FlushDenormals.h"

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define QM_HAVE_MXCSR 1
#endif

#if defined(__aarch64__)
namespace
{
uint64_t readFpcr() noexcept
{
    uint64_t v;
    asm volatile("mrs %0, fpcr" : "=r"(v));
    return v;
}
void writeFpcr(uint64_t v) noexcept { asm volatile("msr fpcr, %0" : : "r"(v)); }
} // namespace
#endif

FlushDenormals::FlushDenormals() noexcept
{
#if defined(QM_HAVE_MXCSR)
    previous = _mm_getcsr();
    _mm_setcsr(previous | 0x8040u); // FTZ (bit 15) and DAZ (bit 6)
#elif defined(__aarch64__)
    previous = uint32_t(readFpcr());
    writeFpcr(previous | (1u << 24)); // FZ
#endif
}

FlushDenormals::~FlushDenormals() noexcept
{
#if defined(QM_HAVE_MXCSR)
    _mm_setcsr(previous);
#elif defined(__aarch64__)
    writeFpcr(previous);
#endif
}
