// The record ring between threads: single-thread semantics, then several writers and readers at once.

#include "engine/SynthFIFO.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace
{

// clang-format off
struct Rec { int32_t value = 0; };
// clang-format on

std::vector<int> drain(SynthFIFO<Rec>::Reader& reader)
{
    std::vector<int> values;
    for (Rec out; reader.readNext(out);)
        values.push_back(out.value);
    return values;
}

} // namespace

TEST(SynthFIFO, ReadersTakeTheNewestOrEveryRecordInOrder)
{
    SynthFIFO<Rec> ring(8, Rec{-7});
    auto newest = ring.makeReader(), all = ring.makeReader();
    Rec out{-1};
    EXPECT_FALSE(newest.readNewest(out));
    for (int i = 1; i <= 8; ++i) // exactly one ring: the write index is back where it started
        ring.push({i});
    ASSERT_TRUE(newest.readNewest(out));
    EXPECT_EQ(out.value, 8);
    EXPECT_FALSE(newest.readNewest(out)); // nothing new since
    EXPECT_EQ(drain(all), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    // Fall 3 records more than a ring behind: the oldest 3 are lost, the last 8 come in order.
    for (int i = 100; i < 111; ++i)
        ring.push({i});
    EXPECT_EQ(drain(all), (std::vector<int>{103, 104, 105, 106, 107, 108, 109, 110}));
    EXPECT_EQ(all.lost(), 3u);
    for (int i = 200; i < 216; ++i) // two whole rings later the newest is still the one taken
        ring.push({i});
    ASSERT_TRUE(newest.readNewest(out));
    EXPECT_EQ(out.value, 215);
    EXPECT_TRUE(ring.tryPush({6})); // nobody else writes: never refused
    EXPECT_EQ(ring.refusedPushes(), 0u);

    // A reader made now sees only later pushes; a default one belongs to no ring; a ring asked for no
    // slots still has one.
    auto late = ring.makeReader();
    EXPECT_FALSE(late.hasNew() || late.readNewest(out));
    ring.push({42});
    EXPECT_EQ(drain(late), std::vector<int>{42});
    SynthFIFO<Rec>::Reader none;
    EXPECT_FALSE(none.readNewest(out) || none.readNext(out));
    SynthFIFO<Rec> tiny(0);
    auto one = tiny.makeReader();
    tiny.push({5});
    EXPECT_EQ(drain(one), std::vector<int>{5});
    SynthFIFO<std::array<char, 13>> odd(3); // a record whose last storage word is only partly used
    auto oddReader = odd.makeReader();
    const std::array<char, 13> text = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm'};
    odd.push(text);
    std::array<char, 13> got{};
    EXPECT_TRUE(oddReader.readNext(got) && got == text);
}

// ---- several threads ----------------------------------------------------------------------------

namespace
{

// A self-checking record: every word derives from (writer, seq), so a torn copy shows.
// clang-format off
struct Stamped { uint32_t writer = 0; uint32_t seq = 0; std::array<uint32_t, 14> payload{}; };
// clang-format on

uint32_t mixWord(uint32_t writer, uint32_t seq, uint32_t k)
{
    uint32_t h = writer * 0x9e3779b9u ^ seq * 0x85ebca6bu ^ (k + 1) * 0xc2b2ae35u;
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    return h ^ (h >> 12);
}

constexpr uint32_t kPerWriter = 20000;
constexpr uint32_t kWriters = 3;

// What one reader saw: records, torn ones, and records that did not move each writer's sequence on
// (for a drain reader: strictly; for a newest-only reader: never backwards).
struct Tally
{
    uint64_t received = 0, torn = 0, disordered = 0;
    std::array<int64_t, kWriters> last{-1, -1, -1};
    void take(const Stamped& s, bool strict)
    {
        ++received;
        bool whole = s.writer < kWriters;
        for (uint32_t k = 0; whole && k < s.payload.size(); ++k)
            whole = s.payload[k] == mixWord(s.writer, s.seq, k);
        if (!whole) return void(++torn);
        disordered += int64_t(s.seq) < last[s.writer] + (strict ? 1 : 0) ? 1 : 0;
        last[s.writer] = s.seq;
    }
};

} // namespace

TEST(SynthFIFOThreads, ThreeWritersADrainAndANewestReaderSeeWholeRecordsInOrder)
{
    SynthFIFO<Stamped> ring(8); // small, so that slots are reused while being read
    auto drain = ring.makeReader();
    auto newest = ring.makeReader();
    std::atomic<uint32_t> writersDone{0};
    std::atomic<uint64_t> refusals{0};
    std::vector<std::thread> threads;
    for (uint32_t w = 0; w < kWriters; ++w)
        threads.emplace_back(
            [&, w]
            {
                for (uint32_t seq = 0; seq < kPerWriter; ++seq)
                {
                    Stamped rec{w, seq, {}};
                    for (uint32_t k = 0; k < rec.payload.size(); ++k)
                        rec.payload[k] = mixWord(w, seq, k);
                    // Writer 0 pushes the render thread's way: a bounded try that may be refused, the
                    // record kept for another try.
                    while (w == 0 && !ring.tryPush(rec))
                        refusals.fetch_add(1, std::memory_order_relaxed), std::this_thread::yield();
                    if (w != 0) ring.push(rec);
                }
                writersDone.fetch_add(1);
            });
    Tally newestTally;
    threads.emplace_back(
        [&]
        {
            Stamped s;
            while (writersDone.load() < kWriters)
                if (newest.readNewest(s)) newestTally.take(s, false);
            if (newest.readNewest(s)) newestTally.take(s, false);
        });
    Tally drainTally;
    Stamped s;
    while (writersDone.load() < kWriters)
        while (drain.readNext(s))
            drainTally.take(s, true);
    for (auto& t : threads)
        t.join();
    while (drain.readNext(s))
        drainTally.take(s, true);

    for (const Tally& t : {drainTally, newestTally})
        EXPECT_TRUE(t.torn == 0 && t.disordered == 0 && t.received > 0)
            << t.torn << " torn, " << t.disordered << " out of order of " << t.received;
    EXPECT_EQ(ring.pushCount(), uint64_t{kWriters} * kPerWriter); // no push went missing
    EXPECT_EQ(drainTally.received + drain.lost(), ring.pushCount());
    EXPECT_EQ(ring.refusedPushes(), refusals.load());
    EXPECT_FALSE(drain.hasNew() || newest.hasNew()); // the last records were taken after the writers
}
