#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

#include "engine/Random.h"
#include "engine/params/Param.h"

namespace qmtest
{

// Channels of one process call, each its own buffer.
using Block = std::vector<std::vector<float>>;

inline Block zeros(int channels, int n)
{
    return Block(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(n)));
}

// Uniform noise of peak amp from engineRandUnit(), channel after channel.
inline Block noise(int channels, int n, float amp = 0.5f)
{
    Block ch = zeros(channels, n);
    for (auto& c : ch)
        for (auto& s : c)
            s = amp * (2.0f * engineRandUnit() - 1.0f);
    return ch;
}

inline bool allFinite(const Block& ch)
{
    for (const auto& c : ch)
        for (float s : c)
            if (!std::isfinite(s)) return false;
    return true;
}

// An effect bound to its own run of records, as the engine binds it to its table slice, then set up.
template <class Unit> struct FxRig
{
    std::array<Param, Unit::kNumParams> p{};
    Unit unit;

    explicit FxRig(float rate = 44100.0f, int channels = 2)
    {
        unit.setParamPtr(p.data());
        unit.setup(rate, channels);
    }

    void set(int i, float v) { p[static_cast<std::size_t>(i)].value = v; }

    // Processes in into out (the same block: in place); returns the silence flag as the unit leaves it.
    bool run(Block& in, Block& out, bool silent, bool bypass)
    {
        float* ip[2] = {in[0].data(), in.back().data()};
        float* op[2] = {out[0].data(), out.back().data()};
        unit.process(ip, op, static_cast<int>(in[0].size()), static_cast<int>(in.size()), silent, bypass);
        return silent;
    }
    bool run(Block& ch, bool silent = false, bool bypass = false) { return run(ch, ch, silent, bypass); }
};

} // namespace qmtest
