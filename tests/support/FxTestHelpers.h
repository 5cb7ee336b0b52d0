#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "engine/params/Param.h"

namespace qmtest
{

// Channels of one process call, each its own buffer.
using Block = std::vector<std::vector<float>>;

// An effect bound to its own run of records, as the engine binds it to its table slice, with a
// stereo pair l, r that run() processes in place.
template <class Unit> struct FxRig
{
    using Params = std::array<Param, Unit::kNumParams>;

    Params p{};
    Unit unit;
    std::vector<float> l, r;

    explicit FxRig(float rate = 44100.0f, int channels = 2) : FxRig(rate, channels, [](Params&) {}) {}

    // prepare(p) runs between binding and set-up, for values that set-up already reads.
    template <class Prepare> FxRig(float rate, int channels, Prepare prepare)
    {
        unit.setParamPtr(p.data());
        prepare(p);
        unit.setup(rate, channels);
    }

    void set(int i, float v) { p[static_cast<std::size_t>(i)].value = v; }

    // Every record to v (a corrupt state when v is not finite).
    void setAll(float v)
    {
        for (Param& q : p)
            q.value = v;
    }

    // One corner of the value space: record i gets lo[i], hi[i] or their middle, picked by
    // (combo + stride * i) % 3, so that successive combos walk through mixed corners.
    void setCorner(int combo, int stride, const float* lo, const float* hi)
    {
        for (int i = 0; i < Unit::kNumParams; ++i)
        {
            const int pick = (combo + stride * i) % 3;
            set(i, pick == 0 ? lo[i] : pick == 1 ? hi[i] : 0.5f * (lo[i] + hi[i]));
        }
    }

    // Runs the unit in place on l and r.
    void run(bool& silent, bool bypass = false, int channels = 2)
    {
        std::array<float*, 2> ch{l.data(), r.data()};
        unit.process(ch.data(), ch.data(), static_cast<int>(l.size()), channels, silent, bypass);
    }

    // Processes one or two channels in place; returns the silence flag as the unit leaves it.
    bool run(Block& ch, bool silent = false, bool bypass = false)
    {
        float* ptrs[2] = {ch[0].data(), ch.size() > 1 ? ch[1].data() : nullptr};
        unit.process(ptrs, ptrs, static_cast<int>(ch[0].size()), static_cast<int>(ch.size()), silent, bypass);
        return silent;
    }

    // Runs `blocks` stereo blocks of n samples, loud noise of peak amp alternating with silence, so
    // that feedback runs both driven and free; false at the first block with a non-finite sample.
    bool staysFiniteOverNoiseAndSilence(int blocks, int n, float amp);

    void fill(int n, float left, float right)
    {
        l.assign(static_cast<std::size_t>(n), left);
        r.assign(static_cast<std::size_t>(n), right);
    }
};

// Uniform noise of peak amp from engineRandUnit(), channel after channel.
Block noise(int channels, int n, float amp = 0.5f);
Block zeros(int channels, int n);
// A unit impulse at the first sample of every channel.
Block impulses(int channels, int n);

// Whether every sample is finite (the one-buffer form lives with the engine helpers); whether any
// sample is not zero.
bool allFinite(const std::vector<float>& x);
bool allFinite(const Block& ch);
bool anyNonZero(const Block& ch);

template <class Unit> bool FxRig<Unit>::staysFiniteOverNoiseAndSilence(int blocks, int n, float amp)
{
    for (int b = 0; b < blocks; ++b)
    {
        Block x = b % 2 ? zeros(2, n) : noise(2, n, amp);
        run(x);
        if (!allFinite(x)) return false;
    }
    return true;
}

} // namespace qmtest
