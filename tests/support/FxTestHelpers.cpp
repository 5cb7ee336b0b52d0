#include "support/FxTestHelpers.h"

#include <cmath>

#include "engine/Random.h"

namespace qmtest
{

Block noise(int channels, int n, float amp)
{
    Block ch(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(n)));
    for (auto& c : ch)
        for (auto& s : c)
            s = amp * (2.0f * engineRandUnit() - 1.0f);
    return ch;
}

Block zeros(int channels, int n)
{
    return Block(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(n)));
}

Block impulses(int channels, int n)
{
    Block ch = zeros(channels, n);
    for (auto& c : ch)
        if (!c.empty()) c[0] = 1.0f;
    return ch;
}

bool allFinite(const Block& ch)
{
    for (const auto& c : ch)
        if (!allFinite(c)) return false;
    return true;
}

bool anyNonZero(const Block& ch)
{
    for (const auto& c : ch)
        for (float s : c)
            if (s != 0.0f) return true;
    return false;
}

} // namespace qmtest
