#include "engine/VectorWidth.h"

bool wideVectorsSupported() noexcept
{
#if QM_WIDE_VECTORS
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}
