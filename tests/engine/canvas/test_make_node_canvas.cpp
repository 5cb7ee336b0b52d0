// Canvas construction: the four choice rules, the fixed figure of a rotated mix, the layout box and
// inputs that must not break it.

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Random.h"
#include "support/TestSounds.h"

namespace
{

const Point2D kLo{0.12f, 0.27f};
const Point2D kHi{0.83f, 0.72f};

double featureDistance2(const InstrumentFeatures& a, const InstrumentFeatures& b)
{
    double d = 0.0;
    for (int i = 0; i < kNumInstrumentFeatures; ++i)
        d += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return d;
}

double dist(Point2D a, Point2D b)
{
    return std::hypot(double(a.x) - b.x, double(a.y) - b.y);
}

std::vector<int> soundIds(const NodeCanvasData& c)
{
    std::vector<int> ids;
    for (int i = 0; i < c.nodeCount; ++i)
        ids.push_back(c.nodes[size_t(i)].soundId);
    return ids;
}

// The sounds nearest to a feature vector, excluding some, nearest first.
std::vector<int> nearest(const KeySpaceDSP& dsp, const InstrumentFeatures& f, int count,
                         const std::vector<int>& exclude = {})
{
    std::vector<std::pair<double, int>> order;
    for (int s = 0; s < dsp.numSounds(); ++s)
        if (std::find(exclude.begin(), exclude.end(), s) == exclude.end())
            order.push_back({featureDistance2(dsp.sounds[size_t(s)].features, f), s});
    std::sort(order.begin(), order.end());
    std::vector<int> out;
    for (int i = 0; i < count && i < int(order.size()); ++i)
        out.push_back(order[size_t(i)].second);
    return out;
}

void expectLaidOut(const NodeCanvasData& c, int fixedCount = 0)
{
    EXPECT_EQ(c.dirty, 0);
    EXPECT_GT(c.triCount, 0);
    for (int i = 0; i < c.nodeCount; ++i)
    {
        const Point2D p = c.nodes[size_t(i)].pos;
        ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << i;
        if (i < fixedCount) continue;
        EXPECT_TRUE(p.x > kLo.x && p.x < kHi.x && p.y > kLo.y && p.y < kHi.y)
            << i << ": " << p.x << ", " << p.y;
        for (int j = 0; j < i; ++j)
            EXPECT_GT(dist(p, c.nodes[size_t(j)].pos), 1e-4) << i << " " << j;
    }
}

// A canvas of the given sounds at made-up positions, triangulated, with a current mix over the given
// nodes as a lookup would leave it.
NodeCanvasData canvasWithMix(const std::vector<int>& sounds, const std::vector<int>& mixNodes,
                             const std::vector<float>& weights)
{
    NodeCanvasData c{};
    for (size_t i = 0; i < sounds.size(); ++i)
    {
        const float a = 0.7f * float(i);
        c.nodes[i].pos = Point2D{0.5f + 0.3f * std::cos(a) * (0.3f + 0.07f * i), 0.5f + 0.2f * std::sin(a)};
        c.nodes[i].soundId = sounds[i];
    }
    c.nodeCount = int(sounds.size());
    c.triangulate();
    c.currentMix.count = int(mixNodes.size());
    for (size_t i = 0; i < mixNodes.size(); ++i)
    {
        c.currentMix.node[i] = mixNodes[i];
        c.currentMix.weight[i] = weights[i];
    }
    return c;
}

class MakeNodeCanvas : public ::testing::Test, protected qmtest::SoundsAndEngine
{
  protected:
    void SetUp() override { engineSrand(21); }
    KeySpaceDSP& buildDemo(int count = 1000)
    {
        const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
        for (int i = 0; i < count && i < int(bank.size()); ++i)
            sounds.add(bank[size_t(i)]);
        return build();
    }
};

// ---- choice rules -------------------------------------------------------------------------------

TEST_F(MakeNodeCanvas, RandomSetOfThirtyIsTheSeedAndItsElevenNearest)
{
    KeySpaceDSP& dsp = buildDemo(30);
    ASSERT_EQ(dsp.numSounds(), 30);
    for (uint32_t seed : {1u, 2u, 3u, 4u})
    {
        engineSrand(seed);
        const int seedSound = engineRand() % 30; // the construction's first draw
        engineSrand(seed);
        NodeCanvasData c{};
        dsp.makeNodeCanvas(&c, KeySpaceDSP::RandomSet, 0, kLo, kHi);
        ASSERT_EQ(c.nodeCount, 12);
        const std::vector<int> ids = soundIds(c);
        EXPECT_EQ(ids[0], seedSound); // distance 0 sorts first
        std::vector<int> expected = nearest(dsp, dsp.sounds[size_t(seedSound)].features, 12);
        EXPECT_EQ(std::set<int>(ids.begin(), ids.end()), std::set<int>(expected.begin(), expected.end()));
        expectLaidOut(c);
    }
}

TEST_F(MakeNodeCanvas, RandomSetOfFiveGivesFive)
{
    KeySpaceDSP& dsp = buildDemo(5);
    NodeCanvasData c{};
    dsp.makeNodeCanvas(&c, KeySpaceDSP::RandomSet, 0, kLo, kHi);
    const std::vector<int> ids = soundIds(c);
    EXPECT_EQ(std::set<int>(ids.begin(), ids.end()), (std::set<int>{0, 1, 2, 3, 4}));
    expectLaidOut(c);
}

TEST_F(MakeNodeCanvas, CategoryOfSeventyGivesItsFirstSixtyFour)
{
    for (int i = 0; i < 3; ++i)
        sounds.add("Pre_" + std::to_string(i), qmtest::makePlainSpec(50 + i, 12, 200));
    for (int i = 0; i < 70; ++i)
        sounds.add("Big_" + std::to_string(i),
                   qmtest::makePlainSpec(36 + i % 50, 4 + i % 37, uint16_t(80 + 7 * i)));
    sounds.add("Post_0", qmtest::makePlainSpec(60, 12, 200));
    KeySpaceDSP& dsp = build();
    ASSERT_EQ(dsp.numSounds(), 74);
    ASSERT_EQ(dsp.sounds[3].categoryIndex, 1);

    NodeCanvasData c{};
    dsp.makeNodeCanvas(&c, KeySpaceDSP::CategorySpace, 1, kLo, kHi);
    ASSERT_EQ(c.nodeCount, 64);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(c.nodes[size_t(i)].soundId, 3 + i);
    expectLaidOut(c);

    dsp.makeNodeCanvas(&c, KeySpaceDSP::CategorySpace, 2, kLo, kHi);
    EXPECT_EQ(soundIds(c), std::vector<int>{73});
    dsp.makeNodeCanvas(&c, KeySpaceDSP::CategorySpace, 7, kLo, kHi); // no such category
    EXPECT_EQ(c.nodeCount, 0);
    EXPECT_GT(c.triCount, 0); // the frame's triangles
    EXPECT_EQ(c.currentMix.count, 0);
}

TEST_F(MakeNodeCanvas, RotateAllKeepsTwoMixedSoundsOnALineThroughTheCentre)
{
    KeySpaceDSP& dsp = buildDemo();
    NodeCanvasData c = canvasWithMix({4, 9, 15, 20}, {1, 3}, {0.7f, 0.3f});
    c.mode = kCanvasModeXYPad;
    c.lo[1] = Point2D{0.3f, 0.33f};
    c.hi[1] = Point2D{0.7f, 0.67f};
    dsp.makeNodeCanvas(&c, KeySpaceDSP::RotateAll, 0, kLo, kHi);

    ASSERT_EQ(c.nodeCount, 12);
    EXPECT_EQ(c.nodes[0].soundId, 9);
    EXPECT_EQ(c.nodes[1].soundId, 20);
    const Point2D centre{0.5f, 0.5f};
    const Point2D a = c.nodes[0].pos, b = c.nodes[1].pos;
    EXPECT_NEAR(dist(a, centre), 0.12 * 0.3, 1e-5);
    EXPECT_NEAR(dist(b, centre), 0.12 * 0.7, 1e-5);
    // Opposite sides: the centre divides the segment.
    EXPECT_NEAR(dist(a, b), 0.12, 1e-5);

    InstrumentFeatures f{};
    f.addScaledFeatures(&dsp.sounds[9].features, 0.7f);
    f.addScaledFeatures(&dsp.sounds[20].features, 0.3f);
    const std::vector<int> expected = nearest(dsp, f, 10, {9, 20});
    const std::vector<int> ids = soundIds(c);
    EXPECT_EQ(std::set<int>(ids.begin() + 2, ids.end()), std::set<int>(expected.begin(), expected.end()));
    expectLaidOut(c, 2);

    // Mode and bounds stay; the old mix's point is the centre, between the two kept sounds.
    EXPECT_EQ(c.mode, kCanvasModeXYPad);
    EXPECT_EQ(c.hi[1].y, 0.67f);
    const NodeMix at = c.getNodeMixForPoint(centre, false, nullptr, false);
    ASSERT_GE(at.count, 1);
    std::set<int> mixed;
    for (int i = 0; i < at.count; ++i)
        mixed.insert(c.nodes[size_t(at.node[size_t(i)])].soundId);
    EXPECT_TRUE(mixed.count(9) == 1 || mixed.count(20) == 1);
}

TEST_F(MakeNodeCanvas, RotateCurrentKeepsNineSoundsWithTheMixFixedInATriangle)
{
    KeySpaceDSP& dsp = buildDemo();
    const std::vector<int> nine = {0, 3, 6, 9, 12, 15, 18, 21, 24};
    for (uint32_t seed : {5u, 6u, 7u})
    {
        engineSrand(seed);
        NodeCanvasData c = canvasWithMix(nine, {2, 5, 7}, {0.5f, 0.3f, 0.2f});
        dsp.makeNodeCanvas(&c, KeySpaceDSP::RotateCurrent, 0, kLo, kHi);

        ASSERT_EQ(c.nodeCount, 9);
        EXPECT_EQ(soundIds(c), (std::vector<int>{6, 15, 21, 0, 3, 9, 12, 18, 24}));
        const Point2D p0 = c.nodes[0].pos, p1 = c.nodes[1].pos, p2 = c.nodes[2].pos;
        EXPECT_NEAR(dist(p0, p1), 0.12, 1e-5);
        EXPECT_NEAR(dist(p1, p2), 0.12, 1e-5);
        EXPECT_NEAR(dist(p2, p0), 0.12, 1e-5);
        // The mix's weighted point is the centre.
        EXPECT_NEAR(0.5 * p0.x + 0.3 * p1.x + 0.2 * p2.x, 0.5, 1e-5);
        EXPECT_NEAR(0.5 * p0.y + 0.3 * p1.y + 0.2 * p2.y, 0.5, 1e-5);
        expectLaidOut(c, 3);

        // Looking the centre up gives the same three sounds back.
        const NodeMix at = c.getNodeMixForPoint(Point2D{0.5f, 0.5f}, false, nullptr, false);
        ASSERT_EQ(at.count, 3);
        EXPECT_EQ(std::set<int>({at.node[0], at.node[1], at.node[2]}), (std::set<int>{0, 1, 2}));
    }
}

TEST_F(MakeNodeCanvas, RotateAllAmongFewSoundsAddsNoSoundTwice)
{
    KeySpaceDSP& dsp = buildDemo(5);
    NodeCanvasData c = canvasWithMix({0, 1, 2}, {0, 2}, {0.6f, 0.4f});
    dsp.makeNodeCanvas(&c, KeySpaceDSP::RotateAll, 0, kLo, kHi);
    const std::vector<int> ids = soundIds(c);
    EXPECT_EQ(ids.size(), 5u);
    EXPECT_EQ(std::set<int>(ids.begin(), ids.end()).size(), ids.size());
    EXPECT_EQ(ids[0], 0);
    EXPECT_EQ(ids[1], 2);
}

// ---- the layout reflects the features ------------------------------------------------------------

TEST_F(MakeNodeCanvas, SimilarSoundsLieNearerThanDissimilarOnes)
{
    KeySpaceDSP& dsp = buildDemo();
    double nearSum = 0.0, farSum = 0.0;
    int nearCount = 0, farCount = 0;
    const auto collect = [&](const NodeCanvasData& c)
    {
        std::vector<std::pair<double, double>> pairs; // feature distance, canvas distance
        for (int i = 0; i < c.nodeCount; ++i)
            for (int j = 0; j < i; ++j)
                pairs.push_back({featureDistance2(dsp.sounds[size_t(c.nodes[size_t(i)].soundId)].features,
                                                  dsp.sounds[size_t(c.nodes[size_t(j)].soundId)].features),
                                 dist(c.nodes[size_t(i)].pos, c.nodes[size_t(j)].pos)});
        std::sort(pairs.begin(), pairs.end());
        const size_t quarter = pairs.size() / 4;
        for (size_t k = 0; k < quarter; ++k)
        {
            nearSum += pairs[k].second;
            farSum += pairs[pairs.size() - 1 - k].second;
        }
        nearCount += int(quarter);
        farCount += int(quarter);
    };
    for (uint32_t seed = 1; seed <= 12; ++seed)
    {
        engineSrand(seed);
        NodeCanvasData c{};
        dsp.makeNodeCanvas(&c, KeySpaceDSP::RandomSet, 0, kLo, kHi);
        collect(c);
    }
    for (int category = 0; category < 6; ++category)
    {
        NodeCanvasData c{};
        dsp.makeNodeCanvas(&c, KeySpaceDSP::CategorySpace, category, kLo, kHi);
        collect(c);
    }
    ASSERT_GT(nearCount, 0);
    // The layout evens the spacing out, so the projection's order shows as a clear but partial
    // difference; a layout blind to the features gives a ratio near 1.
    EXPECT_LT(nearSum / nearCount, 0.9 * (farSum / farCount));
}

// ---- inputs at the edges ------------------------------------------------------------------------

TEST_F(MakeNodeCanvas, EmptySoundListGivesEmptyCanvas)
{
    KeySpaceDSP& dsp = build();
    NodeCanvasData c = canvasWithMix({}, {}, {});
    c.nodeCount = 5; // stale
    c.mode = kCanvasModeKeyboard;
    for (int type = 0; type < 4; ++type)
    {
        dsp.makeNodeCanvas(&c, KeySpaceDSP::NodeMixType(type), 0, kLo, kHi);
        EXPECT_EQ(c.nodeCount, 0);
        EXPECT_GT(c.triCount, 0);
        EXPECT_EQ(c.dirty, 0);
        EXPECT_EQ(c.mode, kCanvasModeKeyboard);
    }
    dsp.makeNodeCanvas(nullptr, KeySpaceDSP::RandomSet, 0, kLo, kHi);
}

TEST_F(MakeNodeCanvas, OneSoundAndIdenticalSoundsAreSpreadWithoutNaN)
{
    sounds.add("Same_a", qmtest::makePlainSpec(60, 10, 300));
    KeySpaceDSP& one = build();
    NodeCanvasData c{};
    one.makeNodeCanvas(&c, KeySpaceDSP::RandomSet, 0, kLo, kHi);
    EXPECT_EQ(soundIds(c), std::vector<int>{0});
    expectLaidOut(c);

    for (const char* name : {"Same_b", "Same_c", "Same_d", "Same_e", "Same_f"})
        sounds.add(name, qmtest::makePlainSpec(60, 10, 300));
    KeySpaceDSP& six = build();
    for (int type = 0; type < 4; ++type)
    {
        NodeCanvasData d = canvasWithMix({0, 1, 2, 3}, {0, 1, 3}, {0.4f, 0.3f, 0.3f});
        six.makeNodeCanvas(&d, KeySpaceDSP::NodeMixType(type), 0, kLo, kHi);
        EXPECT_GE(d.nodeCount, 4) << type;
        expectLaidOut(d, type >= 2 ? 3 : 0);
    }
}

TEST_F(MakeNodeCanvas, BrokenCurrentMixIsSkipped)
{
    KeySpaceDSP& dsp = buildDemo(12);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    NodeCanvasData c = canvasWithMix({0, 1, 2, 3, 4}, {1, 40, 2}, {nan, 0.5f, 0.5f});
    c.nodes[4].soundId = 999; // names no sound
    dsp.makeNodeCanvas(&c, KeySpaceDSP::RotateCurrent, 0, kLo, kHi);
    // Node 40 does not exist: the mix keeps nodes 1 and 2 (the NaN weight counts as 0), then the
    // rest of the canvas without the unknown sound.
    EXPECT_EQ(soundIds(c), (std::vector<int>{1, 2, 0, 3}));
    expectLaidOut(c, 2);

    NodeCanvasData e = canvasWithMix({0, 1, 2}, {}, {});
    dsp.makeNodeCanvas(&e, KeySpaceDSP::RotateAll, 0, kLo, kHi); // no mix: nearest to zero
    EXPECT_EQ(e.nodeCount, 12);
    expectLaidOut(e);
}

} // namespace
