// The record ring between threads: single-thread semantics, then several writers and readers at once.

#include "engine/canvas/NodeMixer.h"
#include "engine/SynthFIFO.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace
{

struct Rec
{
    int32_t value = 0;
};

// An odd-sized record: its last storage word is only partly used.
struct Odd
{
    std::array<char, 13> text{};
};

} // namespace

// ---- one thread ---------------------------------------------------------------------------------

TEST(SynthFIFO, NewestOnlyReaderTakesTheLastPushOnly)
{
    SynthFIFO<Rec> ring(8);
    auto reader = ring.makeReader();
    Rec out{-1};
    EXPECT_FALSE(reader.readNewest(out));
    ring.push({1});
    ring.push({2});
    ASSERT_TRUE(reader.readNewest(out));
    EXPECT_EQ(out.value, 2);
    EXPECT_FALSE(reader.readNewest(out)); // nothing new since
    EXPECT_EQ(out.value, 2);
}

TEST(SynthFIFO, ExactlyOneRingOfPushesIsStillNoticed)
{
    SynthFIFO<Rec> ring(8);
    auto newest = ring.makeReader();
    auto drain = ring.makeReader();
    Rec out;
    for (int i = 1; i <= 8; ++i)
        ring.push({i});
    EXPECT_EQ(ring.writeIndex(), 0u); // back where it started
    ASSERT_TRUE(newest.readNewest(out));
    EXPECT_EQ(out.value, 8);
    for (int i = 1; i <= 8; ++i)
    {
        ASSERT_TRUE(drain.readNext(out));
        EXPECT_EQ(out.value, i);
    }
    EXPECT_FALSE(drain.readNext(out));
    EXPECT_EQ(drain.lost(), 0u);

    // Two whole rings later the newest record is still the one taken.
    for (int i = 9; i <= 24; ++i)
        ring.push({i});
    ASSERT_TRUE(newest.readNewest(out));
    EXPECT_EQ(out.value, 24);
}

TEST(SynthFIFO, DrainReaderGetsEveryRecordInOrderAndLosesOnlyOverwrittenOnes)
{
    SynthFIFO<Rec> ring(8);
    auto drain = ring.makeReader();
    Rec out;
    for (int i = 0; i < 5; ++i)
        ring.push({i});
    for (int i = 0; i < 5; ++i)
    {
        ASSERT_TRUE(drain.readNext(out));
        EXPECT_EQ(out.value, i);
    }
    // Fall 3 records more than a ring behind: the oldest 3 are gone, the last 8 come in order.
    for (int i = 100; i < 111; ++i)
        ring.push({i});
    for (int i = 103; i < 111; ++i)
    {
        ASSERT_TRUE(drain.readNext(out));
        EXPECT_EQ(out.value, i);
    }
    EXPECT_FALSE(drain.readNext(out));
    EXPECT_EQ(drain.lost(), 3u);
}

TEST(SynthFIFO, CountsAndIndices)
{
    SynthFIFO<Rec> ring(4, Rec{-7});
    EXPECT_EQ(ring.slotCount(), 4);
    EXPECT_EQ(ring.fillCount(), 0u);
    EXPECT_EQ(ring.writeIndex(), 0u);
    for (int i = 0; i < 6; ++i)
    {
        ring.push({i});
        EXPECT_EQ(ring.writeIndex(), static_cast<uint32_t>((i + 1) % 4));
        EXPECT_EQ(ring.fillCount(), static_cast<uint32_t>(std::min(i + 1, 4)));
    }
    EXPECT_EQ(ring.pushCount(), 6u);
    EXPECT_TRUE(ring.tryPush({6})); // nobody else writes: never refused
    EXPECT_EQ(ring.refusedPushes(), 0u);

    // A reader made now sees nothing of the past, only later pushes; the initial slots never show.
    auto late = ring.makeReader();
    Rec out;
    EXPECT_FALSE(late.hasNew());
    EXPECT_FALSE(late.readNext(out));
    EXPECT_FALSE(late.readNewest(out));
    ring.push({42});
    EXPECT_TRUE(late.hasNew());
    ASSERT_TRUE(late.readNext(out));
    EXPECT_EQ(out.value, 42);

    // A default reader belongs to no ring and never reads.
    SynthFIFO<Rec>::Reader none;
    EXPECT_FALSE(none.readNewest(out));
    EXPECT_FALSE(none.readNext(out));

    // A ring asked for no slots still has one.
    SynthFIFO<Rec> tiny(0);
    auto r = tiny.makeReader();
    tiny.push({5});
    ASSERT_TRUE(r.readNewest(out));
    EXPECT_EQ(out.value, 5);
}

TEST(SynthFIFO, WholeRecordsOfAnySizeArriveIntact)
{
    SynthFIFO<Odd> ring(3);
    auto reader = ring.makeReader();
    Odd in;
    for (size_t i = 0; i < in.text.size(); ++i)
        in.text[i] = static_cast<char>('a' + i);
    ring.push(in);
    Odd out;
    ASSERT_TRUE(reader.readNext(out));
    EXPECT_EQ(out.text, in.text);

    // Whole canvases, as the engine takes them.
    SynthFIFO<NodeCanvasData> canvases(8);
    auto engineSide = canvases.makeReader();
    NodeCanvasData c{};
    c.nodeCount = 3;
    c.nodes[2] = {{0.25f, 0.75f}, 9};
    c.hi[2] = {1.0f, 0.625f};
    canvases.push(c);
    NodeCanvasData got{};
    ASSERT_TRUE(engineSide.readNewest(got));
    EXPECT_EQ(std::memcmp(&got, &c, sizeof c), 0);
}

// ---- several threads ----------------------------------------------------------------------------

namespace
{

// A self-checking record: every word derives from (writer, seq), so a torn copy shows.
struct Stamped
{
    uint32_t writer = 0;
    uint32_t seq = 0;
    std::array<uint32_t, 14> payload{};
};

uint32_t mixWord(uint32_t writer, uint32_t seq, uint32_t k)
{
    uint32_t h = writer * 0x9e3779b9u ^ seq * 0x85ebca6bu ^ (k + 1) * 0xc2b2ae35u;
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    return h ^ (h >> 12);
}

Stamped stamp(uint32_t writer, uint32_t seq)
{
    Stamped s;
    s.writer = writer;
    s.seq = seq;
    for (uint32_t k = 0; k < s.payload.size(); ++k)
        s.payload[k] = mixWord(writer, seq, k);
    return s;
}

bool intact(const Stamped& s)
{
    if (s.writer >= 3) return false;
    for (uint32_t k = 0; k < s.payload.size(); ++k)
        if (s.payload[k] != mixWord(s.writer, s.seq, k)) return false;
    return true;
}

constexpr uint32_t kPerWriter = 20000;
constexpr int kWriters = 3;

} // namespace

TEST(SynthFIFOThreads, ThreeWritersOneDrainReaderNothingTornDuplicatedOrReordered)
{
    SynthFIFO<Stamped> ring(8); // small, so that slots are reused while being read
    auto drain = ring.makeReader();
    std::atomic<int> writersDone{0};
    std::atomic<uint64_t> refusals{0};

    std::vector<std::thread> writers;
    for (uint32_t w = 0; w < kWriters; ++w)
        writers.emplace_back(
            [&, w]
            {
                for (uint32_t seq = 0; seq < kPerWriter; ++seq)
                {
                    const Stamped rec = stamp(w, seq);
                    if (w == 0)
                    {
                        // The render thread's way: a bounded try that may be refused; it keeps the
                        // record and tries again later.
                        while (!ring.tryPush(rec))
                        {
                            refusals.fetch_add(1, std::memory_order_relaxed);
                            std::this_thread::yield();
                        }
                    }
                    else
                    {
                        ring.push(rec);
                    }
                }
                writersDone.fetch_add(1);
            });

    std::array<int64_t, kWriters> last{-1, -1, -1};
    uint64_t received = 0, torn = 0, disordered = 0;
    auto take = [&](const Stamped& s)
    {
        ++received;
        if (!intact(s))
        {
            ++torn;
            return;
        }
        if (static_cast<int64_t>(s.seq) <= last[s.writer]) ++disordered;
        last[s.writer] = s.seq;
    };
    Stamped s;
    while (writersDone.load() < kWriters)
        while (drain.readNext(s))
            take(s);
    for (auto& t : writers)
        t.join();
    while (drain.readNext(s))
        take(s);

    EXPECT_EQ(torn, 0u);
    EXPECT_EQ(disordered, 0u);
    EXPECT_EQ(ring.pushCount(), uint64_t{kWriters} * kPerWriter); // no push went missing
    EXPECT_EQ(received + drain.lost(), ring.pushCount());
    EXPECT_EQ(ring.refusedPushes(), refusals.load());
    EXPECT_FALSE(drain.hasNew()); // the last ring's worth of records was drained after the writers
    EXPECT_GT(received, 0u);
}

TEST(SynthFIFOThreads, NewestOnlyReaderSeesWholeRecordsMovingForward)
{
    SynthFIFO<Stamped> ring(4);
    auto newest = ring.makeReader();
    std::atomic<bool> stop{false};

    std::vector<std::thread> writers;
    for (uint32_t w = 0; w < kWriters; ++w)
        writers.emplace_back(
            [&, w]
            {
                for (uint32_t seq = 0; seq < kPerWriter / 4; ++seq)
                    ring.push(stamp(w, seq));
            });

    uint64_t reads = 0, torn = 0, backwards = 0;
    std::array<int64_t, kWriters> last{-1, -1, -1};
    std::thread reader(
        [&]
        {
            Stamped s;
            auto check = [&]
            {
                ++reads;
                if (!intact(s))
                    ++torn;
                else if (static_cast<int64_t>(s.seq) < last[s.writer])
                    ++backwards;
                else
                    last[s.writer] = s.seq;
            };
            while (!stop.load())
                if (newest.readNewest(s)) check();
            if (newest.readNewest(s)) check();
        });
    for (auto& t : writers)
        t.join();
    stop.store(true);
    reader.join();

    EXPECT_EQ(torn, 0u);
    EXPECT_EQ(backwards, 0u);
    EXPECT_GT(reads, 0u);
    EXPECT_FALSE(newest.hasNew()); // the very last push was taken
}
