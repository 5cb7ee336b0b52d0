#include "engine/VectorWidth.h"

#include <cstdlib>
#include <string_view>

bool wideVectorsSupported() noexcept
{
#if QM_WIDE_VECTORS
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

bool wideVectorsWanted() noexcept
{
    const char* baseline = std::getenv("QM_BASELINE_VECTORS");
    return !(baseline != nullptr && std::string_view(baseline) == "1");
}
