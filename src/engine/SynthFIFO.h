#pragma once

// A ring of whole records carried from writer threads to readers, e.g. canvases and mixes to the
// render thread and events to the editor.
//
// Writers: several threads may push into one ring. Pushes are serialised by a small spin lock that is
// held only for the copy of one record; push() waits for it (message and host threads), tryPush()
// gives up after a bounded number of tries and says so (the render thread, which must never wait on
// another thread). Every pushed record gets a ticket: a 64-bit count of the pushes before it.
//
// Readers never lock and never block. Each slot carries a sequence word that is odd while a writer
// fills the slot and names the ticket it holds once filled, so a reader copies a slot, checks the
// word again and knows whether the copy is whole (a seqlock). Slot contents are stored as atomic
// words, so a reader racing a writer reads stale or new words, never undefined data, and the sequence
// word tells which: each word is stored with release and loaded with acquire, so a reader that sees
// any word of a newer write also sees that write's odd sequence word when it checks again (no
// stand-alone fences, which the thread sanitizer cannot follow). A reader remembers the ticket count
// it has seen; counting tickets rather than slot indices means a whole ring's worth of pushes between
// two reads is still noticed.
//
// Memory is allocated once, at construction; push and read are noexcept and allocation-free.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <type_traits>

template <class T> class SynthFIFO
{
    static_assert(std::is_trivially_copyable_v<T>, "records cross threads by whole copies");

  public:
    // Spins of tryPush() before it gives up (the lock is held for one record copy).
    static constexpr int kTryPushSpins = 4096;
    // Attempts of a newest-only read that keeps colliding with writers before it reports nothing.
    static constexpr int kReadAttempts = 16;

    // Every slot starts as a copy of initial; readers never see it (they only take pushed records).
    explicit SynthFIFO(int slotCount, const T& initial = T{})
        : numSlots(slotCount > 0 ? static_cast<uint32_t>(slotCount) : 1u),
          slots(std::make_unique<Slot[]>(numSlots))
    {
        for (uint32_t s = 0; s < numSlots; ++s)
            storeWords(slots[s], initial);
    }

    SynthFIFO(const SynthFIFO&) = delete;
    SynthFIFO& operator=(const SynthFIFO&) = delete;

    // Pushes a copy of rec, waiting for another writer's copy to finish when one is under way.
    void push(const T& rec) noexcept
    {
        for (int spin = 0; !tryLock(); ++spin)
            if (spin >= kTryPushSpins)
            {
                std::this_thread::yield();
                spin = 0;
            }
        pushLocked(rec);
    }

    // Pushes a copy of rec unless another writer keeps the ring busy for kTryPushSpins tries; then
    // nothing is pushed, the refusal is counted and false returned, so the caller can keep the
    // record and retry later.
    [[nodiscard]] bool tryPush(const T& rec) noexcept
    {
        for (int spin = 0; spin < kTryPushSpins; ++spin)
            if (tryLock())
            {
                pushLocked(rec);
                return true;
            }
        refused.fetch_add(1, std::memory_order_relaxed);
        return false;
    }

    int slotCount() const noexcept { return static_cast<int>(numSlots); }
    // Next slot a push fills (0 at start).
    uint32_t writeIndex() const noexcept
    {
        return static_cast<uint32_t>(published.load(std::memory_order_acquire) % numSlots);
    }
    // Number of slots ever written, at most the slot count.
    uint32_t fillCount() const noexcept
    {
        const uint64_t p = published.load(std::memory_order_acquire);
        return static_cast<uint32_t>(p < numSlots ? p : numSlots);
    }
    // Records pushed so far.
    uint64_t pushCount() const noexcept { return published.load(std::memory_order_acquire); }
    // tryPush() calls that gave up.
    uint64_t refusedPushes() const noexcept { return refused.load(std::memory_order_relaxed); }

    // A reader's own position in one ring; copied by value into its owner. A reader made from a ring
    // sees only what is pushed after it was made. One reader is used by one thread at a time.
    class Reader
    {
      public:
        Reader() noexcept = default;
        explicit Reader(const SynthFIFO* ring) noexcept
            : fifo(ring), seen(ring != nullptr ? ring->published.load(std::memory_order_acquire) : 0)
        {
        }

        // Takes the newest record when anything was pushed since the last read; skips the others.
        // False when nothing is new (or, rarely, when writers kept overwriting the newest slot during
        // every attempt; the record is then offered again by the next call).
        bool readNewest(T& out) noexcept
        {
            if (fifo == nullptr) return false;
            for (int attempt = 0; attempt < kReadAttempts; ++attempt)
            {
                const uint64_t p = fifo->published.load(std::memory_order_acquire);
                if (p == seen) return false;
                if (fifo->readTicket(p - 1, out))
                {
                    lostCount += p - 1 - seen;
                    seen = p;
                    return true;
                }
            }
            return false;
        }

        // Takes the next record in push order. A reader that fell a ring or more behind loses the
        // records that were overwritten (counted in lost()) and goes on with the oldest one left.
        bool readNext(T& out) noexcept
        {
            if (fifo == nullptr) return false;
            for (;;)
            {
                const uint64_t p = fifo->published.load(std::memory_order_acquire);
                if (seen >= p) return false;
                if (p - seen > fifo->numSlots)
                {
                    lostCount += p - fifo->numSlots - seen;
                    seen = p - fifo->numSlots;
                }
                if (fifo->readTicket(seen, out))
                {
                    ++seen;
                    return true;
                }
                // Overwritten while we looked: that record is gone; the loop moves past it.
                ++lostCount;
                ++seen;
            }
        }

        // True when a record was pushed since the reader's last read.
        bool hasNew() const noexcept
        {
            return fifo != nullptr && fifo->published.load(std::memory_order_acquire) != seen;
        }
        // Records this reader skipped or lost since it was made.
        uint64_t lost() const noexcept { return lostCount; }
        const SynthFIFO* ring() const noexcept { return fifo; }

      private:
        const SynthFIFO* fifo = nullptr;
        uint64_t seen = 0;      // tickets seen: every push before this count has been read or skipped
        uint64_t lostCount = 0; // diagnostics only
    };

    Reader makeReader() const noexcept { return Reader(this); }

  private:
    using Word = uint32_t;
    static constexpr size_t kWords = (sizeof(T) + sizeof(Word) - 1) / sizeof(Word);

    struct Slot
    {
        // 0: never written; 2t + 1: ticket t being written; 2t + 2: ticket t complete.
        std::atomic<uint64_t> seq{0};
        std::array<std::atomic<Word>, kWords> words{};
    };

    static void storeWords(Slot& slot, const T& rec) noexcept
    {
        const auto* src = reinterpret_cast<const unsigned char*>(&rec);
        for (size_t w = 0; w < kWords; ++w)
        {
            Word v = 0;
            const size_t bytes = (w + 1 < kWords) ? sizeof(Word) : sizeof(T) - w * sizeof(Word);
            std::memcpy(&v, src + w * sizeof(Word), bytes);
            slot.words[w].store(v, std::memory_order_release);
        }
    }

    static void loadWords(const Slot& slot, T& rec) noexcept
    {
        auto* dst = reinterpret_cast<unsigned char*>(&rec);
        for (size_t w = 0; w < kWords; ++w)
        {
            const Word v = slot.words[w].load(std::memory_order_acquire);
            const size_t bytes = (w + 1 < kWords) ? sizeof(Word) : sizeof(T) - w * sizeof(Word);
            std::memcpy(dst + w * sizeof(Word), &v, bytes);
        }
    }

    bool tryLock() noexcept
    {
        return !writerBusy.load(std::memory_order_relaxed) &&
               !writerBusy.exchange(true, std::memory_order_acquire);
    }

    void pushLocked(const T& rec) noexcept
    {
        const uint64_t ticket = published.load(std::memory_order_relaxed);
        Slot& slot = slots[ticket % numSlots];
        slot.seq.store(2 * ticket + 1, std::memory_order_relaxed);
        storeWords(slot, rec);
        slot.seq.store(2 * ticket + 2, std::memory_order_release);
        published.store(ticket + 1, std::memory_order_release);
        writerBusy.store(false, std::memory_order_release);
    }

    // Copies the record of ticket t; false when the slot no longer (or not yet wholly) holds it.
    bool readTicket(uint64_t t, T& out) const noexcept
    {
        const Slot& slot = slots[t % numSlots];
        const uint64_t expected = 2 * t + 2;
        if (slot.seq.load(std::memory_order_acquire) != expected) return false;
        T copy;
        loadWords(slot, copy);
        if (slot.seq.load(std::memory_order_relaxed) != expected) return false;
        out = copy;
        return true;
    }

    const uint32_t numSlots;
    std::unique_ptr<Slot[]> slots;
    std::atomic<uint64_t> published{0}; // tickets handed out and complete: the pushes so far
    std::atomic<uint64_t> refused{0};
    std::atomic<bool> writerBusy{false};
};
