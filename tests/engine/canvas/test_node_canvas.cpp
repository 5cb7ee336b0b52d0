// The canvas: triangulation, point lookup (against a brute-force oracle) and canvases built from the
// sound list with the layout that spreads them. Its node part of the state block is tested there.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/Random.h"
#include "engine/canvas/MultiDimScaler.h"
#include "engine/canvas/NodeMixer.h"
#include "support/EngineTestHelpers.h"
#include "support/TestCanvas.h"

namespace
{

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

NodeCanvasData canvasWith(const std::vector<Point2D>& points, uint32_t seed = 1)
{
    NodeCanvasData c = qmtest::startCanvas();
    for (size_t i = 0; i < points.size(); ++i)
        c.nodes[i] = {points[i], int32_t(i)};
    c.nodeCount = int32_t(points.size());
    c.dirty = 1;
    engineSrand(seed);
    c.triangulate();
    return c;
}

std::vector<Point2D> randomPoints(int n, uint32_t seed, float lo = 0.02f, float hi = 0.98f)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> u(lo, hi);
    std::vector<Point2D> pts(static_cast<size_t>(n));
    for (Point2D& p : pts)
        p = {u(gen), u(gen)};
    return pts;
}

// Any mix must name real sound nodes with finite positive weights that sum to 1 (or be empty).
void expectValidMix(const NodeCanvasData& c, const NodeMix& m)
{
    ASSERT_TRUE(m.count >= 0 && m.count <= 3 && std::isfinite(m.point.x) && std::isfinite(m.point.y));
    float sum = 0.0f;
    for (int q = 0; q < m.count; ++q)
    {
        ASSERT_TRUE(m.node[size_t(q)] >= 0 && m.node[size_t(q)] < c.nodeCount);
        ASSERT_TRUE(std::isfinite(m.weight[size_t(q)]) && m.weight[size_t(q)] > 0.0f);
        sum += m.weight[size_t(q)];
    }
    ASSERT_TRUE(m.count == 0 || std::fabs(sum - 1.0f) < 1e-5f) << sum;
}

// The mixes a point may get, one per triangle holding it: barycentric weights, the frame corners'
// share spread over the sound corners, then the dead zone taken off every weight and the rest
// renormalised. Nothing when the point lies too near a dead-zone edge to tell.
std::vector<std::map<int, double>> oracleMixes(const NodeCanvasData& c, Point2D p)
{
    std::vector<std::map<int, double>> out;
    for (int t = 0; t < c.triCount; ++t)
    {
        const auto& k = c.tri[size_t(t)];
        const Point2D a = c.nodes[k[0]].pos, b = c.nodes[k[1]].pos, d = c.nodes[k[2]].pos;
        const auto cross = [](Point2D o, Point2D u, Point2D v)
        { return (double(u.x) - o.x) * (double(v.y) - o.y) - (double(v.x) - o.x) * (double(u.y) - o.y); };
        const double det = cross(a, b, d),
                     w[3] = {cross(p, b, d) / det, cross(a, p, d) / det, cross(a, b, p) / det};
        if (std::min({w[0], w[1], w[2]}) < -1e-6) continue;
        double sound = 0.0, sum = 0.0;
        for (int q = 0; q < 3; ++q)
            sound += k[size_t(q)] < c.nodeCount ? std::max(w[q], 0.0) : 0.0;
        std::map<int, double> mix;
        for (int q = 0; q < 3 && sound > 0.0; ++q)
        {
            const double share = k[size_t(q)] < c.nodeCount ? std::max(w[q], 0.0) / sound : 0.0;
            if (std::fabs(share - kMixDeadZone) < 1e-4) return {};
            if (share > kMixDeadZone) sum += (mix[k[size_t(q)]] = share - kMixDeadZone);
        }
        for (auto& entry : mix)
            entry.second /= sum;
        out.push_back(mix);
    }
    return out;
}

const Point2D kLo{0.12f, 0.27f};
const Point2D kHi{0.83f, 0.72f};

// A triangulated canvas of the given sounds on a spiral, with a current mix as a lookup leaves it.
NodeCanvasData withMix(const std::vector<int>& sounds, const std::vector<int>& nodes,
                       const std::vector<float>& w)
{
    NodeCanvasData c{};
    for (size_t i = 0; i < sounds.size(); ++i)
        c.nodes[i] = {{0.5f + 0.3f * std::cos(0.7f * float(i)) * (0.3f + 0.07f * float(i)),
                       0.5f + 0.2f * std::sin(0.7f * float(i))},
                      sounds[i]};
    c.nodeCount = int(sounds.size());
    c.triangulate();
    c.currentMix.count = int(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i)
        c.currentMix.node[i] = nodes[i], c.currentMix.weight[i] = w[i];
    return c;
}

} // namespace

TEST(CanvasTriangulation, RandomCanvasesAreDelaunayTileTheFrameAndShadeNeighboursApart)
{
    for (int n : {0, 1, 2, 7, 20, 64})
        for (uint32_t seed = 1; seed <= 3; ++seed)
        {
            SCOPED_TRACE("n=" + std::to_string(n) + " seed=" + std::to_string(seed));
            const NodeCanvasData c = canvasWith(randomPoints(n, seed * 977u + uint32_t(n)), seed);
            ASSERT_EQ(c.triCount, 2 * n + 6);
            EXPECT_EQ(c.dirty, 0);
            double area = 0.0;
            for (int t = 0; t < c.triCount; ++t)
            {
                const auto& k = c.tri[size_t(t)];
                const Point2D a = c.nodes[k[0]].pos, b = c.nodes[k[1]].pos, d = c.nodes[k[2]].pos;
                const double bx = b.x - a.x, by = b.y - a.y, dx = d.x - a.x, dy = d.y - a.y,
                             D = bx * dy - by * dx;
                area += 0.5 * std::fabs(D);
                // Empty circumcircle, with room for the jitter the triangulation may add.
                const double ux = ((bx * bx + by * by) * dy - (dx * dx + dy * dy) * by) / (2 * D);
                const double uy = ((dx * dx + dy * dy) * bx - (bx * bx + by * by) * dx) / (2 * D);
                for (int m = 0; m < n + kNumFramePoints; ++m)
                    ASSERT_TRUE(m == k[0] || m == k[1] || m == k[2] ||
                                std::hypot(c.nodes[size_t(m)].pos.x - a.x - ux,
                                           c.nodes[size_t(m)].pos.y - a.y - uy) > std::hypot(ux, uy) - 1e-3)
                        << t << " " << m;
                ASSERT_TRUE(c.triShade[size_t(t)] >= 0 && c.triShade[size_t(t)] <= 3);
                for (int s = 0; s < t; ++s)
                {
                    int shared = 0;
                    for (uint16_t corner : c.tri[size_t(s)])
                        shared += int(std::count(k.begin(), k.end(), corner));
                    ASSERT_TRUE(shared < 2 || c.triShade[size_t(s)] != c.triShade[size_t(t)])
                        << t << " " << s;
                }
            }
            EXPECT_NEAR(area, 2.0 * std::sqrt(2.0) * kFrameRadius * kFrameRadius, 1e-4); // the octagon
        }
}

TEST(CanvasLookup, MatchesTheBruteForceOracleEverywhere)
{
    std::mt19937 gen(5);
    for (int n : {0, 3, 16, 40})
    {
        NodeCanvasData c = canvasWith(randomPoints(n, uint32_t(n) + 1), uint32_t(n));
        const std::vector<Point2D> probes = randomPoints(1500, uint32_t(n), -1.0f, 2.0f);
        for (int i = 0; i < 1500; ++i)
        {
            const Point2D p = i < n ? c.nodes[size_t(i)].pos : probes[size_t(i)];
            int found = -1;
            const NodeMix m = c.getNodeMixForPoint(p, false, &found, false);
            expectValidMix(c, m);
            ASSERT_TRUE(found >= 0 && found < c.triCount);
            ASSERT_TRUE(std::fabs(m.rebuiltPoint.x - m.point.x) < 1e-5f &&
                        std::fabs(m.rebuiltPoint.y - m.point.y) < 1e-5f);
            ASSERT_TRUE(i >= n || (m.count == 1 && m.node[0] == i)) << "a point on a node plays it alone";
            std::map<int, double> got;
            for (int q = 0; q < m.count; ++q)
                got[m.node[size_t(q)]] = m.weight[size_t(q)];
            // Points outside the fallback range are held in it.
            const auto expected = oracleMixes(
                c, {std::clamp(p.x, kFallbackLo, kFallbackHi), std::clamp(p.y, kFallbackLo, kFallbackHi)});
            const auto same = [&](const std::map<int, double>& e)
            {
                return e.size() == got.size() &&
                       std::equal(e.begin(), e.end(), got.begin(),
                                  [](auto& x, auto& y)
                                  { return x.first == y.first && std::fabs(x.second - y.second) < 1e-4; });
            };
            ASSERT_TRUE(expected.empty() || std::any_of(expected.begin(), expected.end(), same))
                << p.x << ", " << p.y;
            // A hint, valid or not, only moves where the search starts; the triangle found is written back.
            int hint = int(gen() % 600) - 300;
            ASSERT_EQ(c.getNodeMixForPoint(p, false, &hint, false).count, m.count);
            ASSERT_TRUE(hint >= 0 && hint < c.triCount);
        }
    }
}

// A hinted lookup that reuses the last one gives what the same canvas without it finds (stored
// as the current mix too), after each change that the reused mix depends on (mode 2: Keyboard),
// or one it does not (the current mix).
TEST(CanvasLookup, ReusedHintedLookupsMatchFreshOnes)
{
    const std::vector<void (*)(NodeCanvasData&, std::array<uint16_t, 3>&)> changes = {
        [](auto& c, auto&) { c.currentMix = {}; }, [](auto& c, auto&) { c.nodeCount = 0; },
        [](auto& c, auto& t) { c.nodes[t[0]].pos.x += 0.01f; }, [](auto& c, auto&) { c.mode = 2; },
        [](auto&, auto& t) { std::rotate(t.begin(), t.begin() + 1, t.end()); }};
    for (const auto change : changes)
    {
        NodeCanvasData c = canvasWith(randomPoints(16, 17u), 16u), fresh;
        int hint = 0;
        for (int pass = 0; pass < 3; ++pass) // the second finds the point where the hint says
        {
            const NodeMix m = c.getNodeMixForPoint({0.43f, 0.57f}, true, &hint, false);
            fresh = c, fresh.lastHinted = {};
            const NodeMix f = fresh.getNodeMixForPoint({0.43f, 0.57f}, true, &hint, false);
            EXPECT_TRUE(std::memcmp(&m, &f, sizeof m) == 0 && std::memcmp(&c.currentMix, &f, sizeof f) == 0);
            if (pass == 1) change(c, c.tri[size_t(hint)]);
        }
    }
}

TEST(CanvasLookup, PointsAreHeldInTheModesBoundsOrTheFallbackRange)
{
    NodeCanvasData c = canvasWith(randomPoints(5, 2), 2);
    // clang-format off
    struct Case { int mode; bool clampToMode; Point2D in, out; float xPadHi = 0.7f; };
    // clang-format on
    const Case cases[] = {
        {kCanvasModeXYPad, true, {0.9f, 0.1f}, {0.7f, 0.33f}},
        {kCanvasModeKeyboard, true, {-3.0f, 0.9f}, {0.0f, 0.625f}},
        {kCanvasModeExplore, true, {2.0f, -1.0f}, {1.5f, -0.5f}}, // zeroed bounds
        {7, true, {2.0f, -1.0f}, {1.5f, -0.5f}},
        {kCanvasModeXYPad, true, {2.0f, 0.5f}, {1.5f, 0.5f}, kInf}, // unusable bounds
        {kCanvasModeXYPad, false, {kNaN, -kInf}, {0.5f, -0.5f}},
    };
    for (const Case& k : cases)
    {
        c.mode = k.mode, c.hi[1].x = k.xPadHi;
        const NodeMix m = c.getNodeMixForPoint(k.in, false, nullptr, k.clampToMode);
        EXPECT_TRUE(m.point.x == k.out.x && m.point.y == k.out.y && m.mode == k.mode) << k.mode;
        expectValidMix(c, m);
    }
}

TEST(CanvasLookup, OddNodeSetsGiveUsableCanvases)
{
    std::vector<Point2D> doubled = randomPoints(12, 8), line, broken = randomPoints(6, 9);
    doubled.insert(doubled.end(), {doubled[3], doubled[3]});
    for (int i = 0; i < 12; ++i)
        line.push_back({0.1f + 0.07f * float(i), i < 6 ? 0.5f : 0.07f * float(i)});
    broken.insert(broken.end(), {{kNaN, 0.5f}, {0.5f, kInf}, {-kInf, kNaN}, {1e30f, 1e30f}});
    const std::vector<std::vector<Point2D>> sets = {std::vector<Point2D>(10, {0.5f, 0.5f}), doubled, line,
                                                    broken, randomPoints(kMaxSoundNodes, 12)};
    for (size_t s = 0; s < sets.size(); ++s)
    {
        NodeCanvasData c = canvasWith(sets[s]);
        c.nodeCount = s == 4 ? 200 : c.nodeCount; // held at 64
        c.triangulate();
        ASSERT_TRUE(c.nodeCount <= kMaxSoundNodes && c.triCount >= 0 && c.triCount <= kMaxTriangles) << s;
        for (int t = 0; t < c.triCount; ++t)
            for (uint16_t corner : c.tri[size_t(t)]) // nodes that are no numbers or absurdly far join none
                ASSERT_TRUE(corner < c.nodeCount + kNumFramePoints && (s != 3 || corner < 6 || corner >= 10))
                    << s;
        for (float x = -0.6f; x <= 1.6f; x += 0.1f)
            for (float y = -0.6f; y <= 1.6f; y += 0.1f)
                expectValidMix(c, c.getNodeMixForPoint({x, y}, false, nullptr, false));
    }
    // A count past the nodes the canvas was triangulated with stays inside the node array.
    NodeCanvasData c = canvasWith(randomPoints(5, 3));
    c.nodeCount = 1000;
    expectValidMix(c, c.getNodeMixForPoint({0.5f, 0.5f}, false, nullptr, false));
}

TEST(MakeNodeCanvas, EachRuleOnTheDemoBankMatchesTheGolden)
{
    // Sounds and positions of the canvases each rule builds: the neighbourhoods, categories, the
    // rotated mixes' fixed figures and the feature layout.
    qmtest::EngineRig rig(qmbank::demoBank());
    qmtest::GoldenRows rows;
    for (int round = 0; round < 8; ++round)
    {
        engineSrand(uint32_t(round) + 1);
        NodeCanvasData c = round < 4
                               ? withMix({4, 9, 15, 20}, {1, 3}, {0.7f, 0.3f})
                               : withMix({0, 3, 6, 9, 12, 15, 18, 21, 24}, {2, 5, 7}, {0.5f, 0.3f, 0.2f});
        rig.dsp().makeNodeCanvas(&c, KeySpaceDSP::NodeMixType(round % 4), round, kLo, kHi);
        for (int i = 0; i < c.nodeCount; ++i)
            rows.push_back({double(round), double(c.nodes[size_t(i)].soundId), c.nodes[size_t(i)].pos.x,
                            c.nodes[size_t(i)].pos.y});
    }
    qmtest::expectMatchesGolden("render_canvases.txt", rows, 0.0, 2e-4);
}

TEST(MakeNodeCanvas, OddInputsStillGiveUsableCanvases)
{
    std::vector<qmbank::BankEntry> many;
    for (int i = 0; i < 70; ++i)
        many.push_back(qmtest::entry("Big_" + std::to_string(i),
                                     qmtest::makePlainSpec(36 + i % 50, 4 + i % 37, uint16_t(80 + 7 * i))));
    const std::vector<qmbank::BankEntry> none,
        demo = qmbank::demoBank(),
        same = qmtest::bankOf({"Same_a", "Same_b", "Same_c", "Same_d", "Same_e", "Same_f"});
    // clang-format off
    struct Case { const std::vector<qmbank::BankEntry>* bank; KeySpaceDSP::NodeMixType type; int category, fixed;
                  NodeCanvasData canvas; std::vector<int> ids /* empty: only the count is known */; int count; };
    const Case cases[] = {
        {&none, KeySpaceDSP::RotateAll, 0, 0, withMix({}, {}, {}), {}, 0},
        {&same, KeySpaceDSP::RotateCurrent, 0, 3, withMix({0, 1, 2, 3}, {0, 1, 3}, {0.4f, 0.3f, 0.3f}), {}, 4},
        {&same, KeySpaceDSP::RotateAll, 0, 3, withMix({0, 1, 2, 3}, {0, 1, 3}, {0.4f, 0.3f, 0.3f}), {}, 6},
        {&many, KeySpaceDSP::CategorySpace, 0, 0, {}, {}, 64},
        {&many, KeySpaceDSP::CategorySpace, 7, 0, {}, {}, 0},
        // Node 40 does not exist and a NaN weight counts as 0; sound 999 is dropped.
        {&demo, KeySpaceDSP::RotateCurrent, 0, 2, withMix({0, 1, 2, 3, 999}, {1, 40, 2}, {kNaN, 0.5f, 0.5f}), {1, 2, 0, 3}, 4},
        {&demo, KeySpaceDSP::RotateAll, 0, 0, withMix({0, 1, 2}, {}, {}), {}, 12}, // no mix: nearest to zero
    };
    // clang-format on
    for (const Case& k : cases)
    {
        SCOPED_TRACE(&k - cases);
        qmtest::EngineRig rig(*k.bank);
        NodeCanvasData c = k.canvas;
        c.mode = kCanvasModeKeyboard;
        rig.dsp().makeNodeCanvas(&c, k.type, k.category, kLo, kHi);
        rig.dsp().makeNodeCanvas(nullptr, k.type, 0, kLo, kHi);
        std::vector<int> ids;
        for (int i = 0; i < c.nodeCount; ++i)
        {
            const Point2D p = c.nodes[size_t(i)].pos;
            EXPECT_TRUE(i < k.fixed || (p.x > kLo.x && p.x < kHi.x && p.y > kLo.y && p.y < kHi.y)) << i;
            for (int j = 0; j < i; ++j)
                EXPECT_GT(std::hypot(p.x - c.nodes[size_t(j)].pos.x, p.y - c.nodes[size_t(j)].pos.y), 1e-4)
                    << i;
            EXPECT_EQ(std::count(ids.begin(), ids.end(), c.nodes[size_t(i)].soundId), 0);
            ids.push_back(c.nodes[size_t(i)].soundId);
        }
        EXPECT_EQ(int(ids.size()), k.count);
        EXPECT_TRUE(k.ids.empty() || ids == k.ids);
        EXPECT_TRUE(c.triCount > 0 && c.dirty == 0 && c.mode == kCanvasModeKeyboard);
    }
}

TEST(MakeNodeCanvas, LayoutStepsKeepPointsInsideAndFixedOnesStill)
{
    // clang-format off
    struct Case { std::vector<Point2D> pts; int firstMovable, steps; bool costFalls; };
    // clang-format on
    // clang-format off
    const Case cases[] = {
        {randomPoints(20, 3, 0.45f, 0.55f), 3, 100, true},
        {{{kLo.x + 1e-4f, 0.5f}, {kHi.x - 1e-4f, kHi.y - 1e-4f}, {0.5f, kLo.y + 1e-5f}, {0.47f, 0.5f}, {0.4701f, 0.5f}}, 0, 300, false},
        {{{kNaN, 0.5f}, {0.3f, 0.4f}, {kInf, -kInf}, {0.6f, 0.6f}, {0.6f, 0.6f}}, 0, 100, false},
        {std::vector<Point2D>(6, {0.5f, 0.5f}), 0, 100, false},
        {{{kNaN, kNaN}, {0.4f, 0.5f}, {0.5f, 0.5f}}, 1, 50, false}, // a fixed NaN only drops out
        {randomPoints(kMdsMaxPoints, 9, 0.3f, 0.6f), 0, 1, false},   // only the first 64 move
    };
    // clang-format on
    for (const Case& k : cases)
    {
        std::vector<Point2D> pts = k.pts;
        const int n = int(pts.size());
        const float before = computeCostAndGradient(pts.data(), n, nullptr, kLo, kHi);
        MDS_2D mds;
        for (int step = 0; step < k.steps; ++step)
            mds.iterate(pts.data(), n, kLo, kHi, k.firstMovable);
        for (int i = 0; i < n; ++i)
            if (i < k.firstMovable || i >= kMdsMaxStepPoints)
                ASSERT_EQ(std::memcmp(&pts[size_t(i)], &k.pts[size_t(i)], sizeof(Point2D)), 0) << i;
            else
                ASSERT_TRUE(pts[size_t(i)].x > kLo.x && pts[size_t(i)].x < kHi.x &&
                            pts[size_t(i)].y > kLo.y && pts[size_t(i)].y < kHi.y)
                    << i;
        EXPECT_TRUE(!k.costFalls || computeCostAndGradient(pts.data(), n, nullptr, kLo, kHi) < 0.1f * before);
    }
    // A box without size, no points or nothing movable moves nothing.
    std::vector<Point2D> pts = {{0.4f, 0.5f}, {0.41f, 0.5f}};
    MDS_2D mds;
    mds.iterate(pts.data(), 2, {0.5f, 0.5f}, {0.5f, 0.5f}, 0);
    mds.iterate(pts.data(), 2, kHi, kLo, 0);
    mds.iterate(pts.data(), 0, kLo, kHi, 0);
    mds.iterate(pts.data(), 2, kLo, kHi, 2);
    mds.iterate(nullptr, 2, kLo, kHi, 0);
    EXPECT_TRUE(pts[0].x == 0.4f && pts[1].x == 0.41f);
}
