#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "engine/voice/KeyVoice.h"

// The engine's sets of per-harmonic band values. Voices whose blends are equal (notes of one zone
// range on one morph) read one set instead of each holding a copy: with a moving morph every voice
// re-blends every hop, and sixteen copies of the per-harmonic values did not stay in the cache.
//
// Each voice slot reads one set; a set counts the slots that read it. A slot may write its set only
// while it is the set's sole reader, so a voice that took a blend keeps reading what it took when
// its source blends again: the source moves to a set nobody reads. One slot more than the engine's
// voices stands for a voice outside the voice table (the sound analysis's), which never shares;
// with one set more than slots a set nobody reads always exists.
//
// A set holds a blend's values over the harmonics its spread wrote; past them it holds whatever an
// earlier blend left there, which no hop reads (a hop's harmonic count stays below the start of the
// band after the voice's blended ones, where the spread ends).
struct HarmonicBandPool
{
    static constexpr int kOutsideSlot = kMaxVoices;
    static constexpr int kSlots = kMaxVoices + 1;
    static constexpr int kSets = kSlots + 1;

    std::array<HarmonicBands, kSets> sets{};
    std::array<int32_t, kSets> readers{};
    std::array<int32_t, kSlots> setOf{};

    HarmonicBandPool() noexcept { reset(); }

    // Slot s reads set s alone; the last set is free.
    void reset() noexcept
    {
        readers.fill(0);
        for (int s = 0; s < kSlots; ++s)
        {
            setOf[static_cast<size_t>(s)] = s;
            readers[static_cast<size_t>(s)] = 1;
        }
    }

    // The set the slot reads.
    int32_t setOfSlot(int slot) const noexcept { return static_cast<int32_t>(setIndex(slot)); }

    // The set a fresh blend of the slot writes: its own while nobody else reads it, else a free one.
    HarmonicBands& writeAlone(int slot) noexcept
    {
        const size_t at = slotIndex(slot);
        const size_t own = setIndex(slot);
        if (readers[own] <= 1) return sets[own];
        size_t free = 0;
        while (free + 1 < readers.size() && readers[free] > 0)
            ++free;
        --readers[own];
        readers[free] = 1;
        setOf[at] = static_cast<int32_t>(free);
        return sets[free];
    }

    // The slot reads what the source slot reads from now on.
    void share(int slot, int sourceSlot) noexcept
    {
        const size_t at = slotIndex(slot);
        const size_t own = setIndex(slot);
        const size_t from = setIndex(sourceSlot);
        if (own == from) return;
        --readers[own];
        ++readers[from];
        setOf[at] = static_cast<int32_t>(from);
    }

  private:
    static size_t slotIndex(int slot) noexcept { return static_cast<size_t>(std::clamp(slot, 0, kSlots - 1)); }
    size_t setIndex(int slot) const noexcept
    {
        return static_cast<size_t>(std::clamp(setOf[slotIndex(slot)], 0, kSets - 1));
    }
};
