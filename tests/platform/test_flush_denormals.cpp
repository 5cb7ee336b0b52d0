#include "platform/FlushDenormals.h"

#include <gtest/gtest.h>

#include <cfloat>

namespace
{
float multiplyOpaque(float a, float b)
{
    volatile float x = a, y = b;
    return x * y;
}
} // namespace

TEST(FlushDenormals, FlushesInsideScopeAndRestoresAfter)
{
    const float tiny = FLT_MIN; // smallest normal
    EXPECT_GT(multiplyOpaque(tiny, 0.5f), 0.0f) << "denormal result expected outside the guard";
    {
        FlushDenormals guard;
        EXPECT_EQ(multiplyOpaque(tiny, 0.5f), 0.0f);
    }
    EXPECT_GT(multiplyOpaque(tiny, 0.5f), 0.0f);
}
