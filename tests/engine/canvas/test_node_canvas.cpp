// Canvas model: triangulation, point lookup and the node part of the state block.

#include "engine/sound/InstrumentMap.h"
#include "engine/canvas/NodeMixer.h"
#include "engine/Random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace
{

NodeCanvasData canvasWith(const std::vector<Point2D>& points, uint32_t seed = 1)
{
    NodeCanvasData c{};
    for (size_t i = 0; i < points.size(); ++i)
        c.nodes[i] = {points[i], static_cast<int32_t>(i)};
    c.nodeCount = static_cast<int32_t>(points.size());
    c.dirty = 1;
    engineSrand(seed);
    c.triangulate();
    return c;
}

std::vector<Point2D> randomPoints(int n, uint32_t seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> u(0.02f, 0.98f);
    std::vector<Point2D> pts;
    for (int i = 0; i < n; ++i)
        pts.push_back({u(gen), u(gen)});
    return pts;
}

double signedArea(const NodeCanvasData& c, int t)
{
    const Point2D a = c.nodes[c.tri[t][0]].pos, b = c.nodes[c.tri[t][1]].pos, d = c.nodes[c.tri[t][2]].pos;
    return 0.5 * ((double(b.x) - a.x) * (double(d.y) - a.y) - (double(d.x) - a.x) * (double(b.y) - a.y));
}

int sharedCorners(const NodeCanvasData& c, int s, int t)
{
    int n = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            n += c.tri[s][i] == c.tri[t][j];
    return n;
}

// Any mix must name real sound nodes with finite weights that sum to 1 (or be empty).
void expectValidMix(const NodeCanvasData& c, const NodeMix& m)
{
    ASSERT_GE(m.count, 0);
    ASSERT_LE(m.count, 3);
    EXPECT_TRUE(std::isfinite(m.point.x) && std::isfinite(m.point.y));
    float sum = 0.0f;
    for (int q = 0; q < m.count; ++q)
    {
        EXPECT_GE(m.node[q], 0);
        EXPECT_LT(m.node[q], c.nodeCount);
        EXPECT_TRUE(std::isfinite(m.weight[q]));
        EXPECT_GT(m.weight[q], 0.0f);
        sum += m.weight[q];
    }
    if (m.count > 0)
    {
        EXPECT_NEAR(sum, 1.0f, 1e-5f);
    }
}

// One hand-made triangle over nodes a, b, c (indices 0..2); nodes at or past soundNodes act as frame.
NodeCanvasData singleTriangle(Point2D a, Point2D b, Point2D d, int soundNodes)
{
    NodeCanvasData c{};
    c.nodes[0] = {a, 0};
    c.nodes[1] = {b, 1};
    c.nodes[2] = {d, 2};
    c.nodeCount = soundNodes;
    c.tri[0] = {0, 1, 2};
    c.triCount = 1;
    return c;
}

} // namespace

// ---- triangulation ------------------------------------------------------------------------------

TEST(CanvasTriangulation, EmptyCanvasHasTheFrameOctagonsSixTriangles)
{
    NodeCanvasData c = canvasWith({});
    EXPECT_EQ(c.triCount, 6);
    EXPECT_EQ(c.dirty, 0);
    for (int k = 0; k < kNumFramePoints; ++k)
    {
        const double angle = k * std::numbers::pi / 4.0;
        EXPECT_NEAR(c.nodes[k].pos.x, 0.5 + 2.0 * std::cos(angle), 1e-6);
        EXPECT_NEAR(c.nodes[k].pos.y, 0.5 + 2.0 * std::sin(angle), 1e-6);
        EXPECT_EQ(c.nodes[k].soundId, -1);
    }
    for (float x = -0.5f; x <= 1.5f; x += 0.25f)
        for (float y = -0.5f; y <= 1.5f; y += 0.25f)
            EXPECT_EQ(c.getNodeMixForPoint({x, y}, false, nullptr, false).count, 0);
}

TEST(CanvasTriangulation, RandomCanvasesAreDelaunayAndCoverTheFrame)
{
    const double octagonArea = 2.0 * std::sqrt(2.0) * kFrameRadius * kFrameRadius;
    for (int n : {1, 2, 7, 20, 64})
        for (uint32_t seed = 1; seed <= 4; ++seed)
        {
            SCOPED_TRACE("n=" + std::to_string(n) + " seed=" + std::to_string(seed));
            const NodeCanvasData c = canvasWith(randomPoints(n, seed * 977u + n), seed);
            const int total = n + kNumFramePoints;
            ASSERT_EQ(c.triCount, 2 * n + 6);

            double area = 0.0;
            for (int t = 0; t < c.triCount; ++t)
            {
                area += std::fabs(signedArea(c, t));
                // Empty circle, with room for the 1e-4 jitter the triangulation decided on.
                const Point2D a = c.nodes[c.tri[t][0]].pos, b = c.nodes[c.tri[t][1]].pos,
                              d = c.nodes[c.tri[t][2]].pos;
                const double bx = b.x - a.x, by = b.y - a.y, dx = d.x - a.x, dy = d.y - a.y;
                const double D = 2.0 * (bx * dy - by * dx);
                const double ux = ((bx * bx + by * by) * dy - (dx * dx + dy * dy) * by) / D;
                const double uy = ((dx * dx + dy * dy) * bx - (bx * bx + by * by) * dx) / D;
                const double r = std::hypot(ux, uy);
                for (int m = 0; m < total; ++m)
                {
                    if (m == c.tri[t][0] || m == c.tri[t][1] || m == c.tri[t][2]) continue;
                    EXPECT_GT(std::hypot(c.nodes[m].pos.x - (a.x + ux), c.nodes[m].pos.y - (a.y + uy)),
                              r - 1e-3);
                }
                // Neighbours (sharing an edge) never share a shade.
                EXPECT_GE(c.triShade[t], 0);
                EXPECT_LE(c.triShade[t], 3);
                for (int s = 0; s < t; ++s)
                    if (sharedCorners(c, s, t) >= 2)
                    {
                        EXPECT_NE(c.triShade[s], c.triShade[t]);
                    }
            }
            // Triangles that tile the octagon without overlap add up to its area exactly.
            EXPECT_NEAR(area, octagonArea, 1e-4);
        }
}

TEST(CanvasTriangulation, TrianglesAreAcceptedInTripleOrderAndFirstShadeIsZero)
{
    const NodeCanvasData c = canvasWith(randomPoints(12, 5), 5);
    ASSERT_GT(c.triCount, 1);
    EXPECT_EQ(c.triShade[0], 0);
    for (int t = 0; t < c.triCount; ++t)
    {
        EXPECT_LT(c.tri[t][0], c.tri[t][1]);
        EXPECT_LT(c.tri[t][1], c.tri[t][2]);
        if (t > 0)
        {
            EXPECT_LT(c.tri[t - 1], c.tri[t]); // lexicographic: i outermost, then j, then k
        }
    }
}

TEST(CanvasTriangulation, FourConcyclicNodesGiveTwoTrianglesEitherDiagonal)
{
    const std::vector<Point2D> square{{0.3f, 0.3f}, {0.7f, 0.3f}, {0.7f, 0.7f}, {0.3f, 0.7f}};
    for (uint32_t seed = 1; seed <= 6; ++seed)
    {
        const NodeCanvasData c = canvasWith(square, seed);
        EXPECT_EQ(c.triCount, 14);
        int inner = 0;
        for (int t = 0; t < c.triCount; ++t)
            inner += (c.tri[t][0] < 4 && c.tri[t][1] < 4 && c.tri[t][2] < 4) ? 1 : 0;
        EXPECT_EQ(inner, 2);
        const NodeMix m = NodeCanvasData(c).getNodeMixForPoint({0.5f, 0.4f}, false, nullptr, false);
        expectValidMix(c, m);
        EXPECT_GE(m.count, 2);
    }
}

TEST(CanvasTriangulation, RecomputesTheCurrentMixClampedToTheModeAndClearsDirty)
{
    NodeCanvasData c{};
    c.nodes[0] = {{0.5f, 0.5f}, 0};
    c.nodeCount = 1;
    c.mode = kCanvasModeXYPad;
    c.lo[1] = {0.3f, 0.33f};
    c.hi[1] = {0.7f, 0.67f};
    c.currentMix.point = {0.9f, 0.1f};
    c.dirty = 1;
    engineSrand(3);
    c.triangulate();
    EXPECT_EQ(c.dirty, 0);
    EXPECT_FLOAT_EQ(c.currentMix.point.x, 0.7f);
    EXPECT_FLOAT_EQ(c.currentMix.point.y, 0.33f);
    EXPECT_EQ(c.currentMix.mode, kCanvasModeXYPad);
    ASSERT_EQ(c.currentMix.count, 1);
    EXPECT_EQ(c.currentMix.node[0], 0);
}

// ---- lookup -------------------------------------------------------------------------------------

TEST(CanvasLookup, EveryPointOfTheSquareIsFoundWithConsistentWeights)
{
    for (uint32_t seed = 1; seed <= 3; ++seed)
    {
        NodeCanvasData c = canvasWith(randomPoints(16, seed), seed);
        int hint = 0;
        for (int i = 0; i <= 40; ++i)
            for (int j = 0; j <= 40; ++j)
            {
                const Point2D p{i / 40.0f, j / 40.0f};
                int probe = -1;
                const NodeMix m = c.getNodeMixForPoint(p, false, &probe, false);
                ASSERT_GE(probe, 0);
                ASSERT_LT(probe, c.triCount);
                ASSERT_GE(m.count, 1);
                expectValidMix(c, m);
                // The unclamped barycentric weights rebuild the point.
                EXPECT_NEAR(m.rebuiltPoint.x, p.x, 1e-5f);
                EXPECT_NEAR(m.rebuiltPoint.y, p.y, 1e-5f);
                // Starting from a hint finds the same mix (interior points lie in one triangle).
                const NodeMix h = c.getNodeMixForPoint(p, false, &hint, false);
                EXPECT_EQ(h.count, m.count);
            }
    }
}

TEST(CanvasLookup, APointOnANodeGivesThatNodeAlone)
{
    NodeCanvasData c = canvasWith(randomPoints(20, 11), 11);
    for (int i = 0; i < c.nodeCount; ++i)
    {
        const NodeMix m = c.getNodeMixForPoint(c.nodes[i].pos, false, nullptr, false);
        ASSERT_EQ(m.count, 1) << "node " << i;
        EXPECT_EQ(m.node[0], i);
        EXPECT_FLOAT_EQ(m.weight[0], 1.0f);
    }
}

TEST(CanvasLookup, DeadZoneDropsFaintWeightsAndRenormalises)
{
    // Right triangle at the origin: the weights of b and c are the point's x and y.
    NodeCanvasData c = singleTriangle({0, 0}, {1, 0}, {0, 1}, 3);

    NodeMix m = c.getNodeMixForPoint({0.03f, 0.01f}, false, nullptr, false); // 0.96, 0.03, 0.01
    ASSERT_EQ(m.count, 1);
    EXPECT_EQ(m.node[0], 0);
    EXPECT_FLOAT_EQ(m.weight[0], 1.0f);

    m = c.getNodeMixForPoint({0.45f, 0.05f}, false, nullptr, false); // 0.5, 0.45, 0.05
    ASSERT_EQ(m.count, 2);
    EXPECT_EQ(m.node[0], 0);
    EXPECT_EQ(m.node[1], 1);
    EXPECT_NEAR(m.weight[0], 0.45f / 0.85f, 1e-6f);
    EXPECT_NEAR(m.weight[1], 0.40f / 0.85f, 1e-6f);

    m = c.getNodeMixForPoint({0.2f, 0.3f}, false, nullptr, false); // 0.5, 0.2, 0.3
    ASSERT_EQ(m.count, 3);
    EXPECT_NEAR(m.weight[0], 0.45f / 0.85f, 1e-6f);
    EXPECT_NEAR(m.weight[1], 0.15f / 0.85f, 1e-6f);
    EXPECT_NEAR(m.weight[2], 0.25f / 0.85f, 1e-6f);
    EXPECT_EQ(m.mode, c.mode);
}

TEST(CanvasLookup, FrameCornersAreDropped)
{
    // Only node 0 is a sound; 1 and 2 stand for frame points.
    NodeCanvasData c = singleTriangle({0, 0}, {1, 0}, {0, 1}, 1);
    NodeMix m = c.getNodeMixForPoint({0.4f, 0.0f}, false, nullptr, false); // node 0.6, frame 0.4
    ASSERT_EQ(m.count, 1);
    EXPECT_EQ(m.node[0], 0);
    EXPECT_FLOAT_EQ(m.weight[0], 1.0f);
    EXPECT_NEAR(m.rebuiltPoint.x, 0.4f, 1e-6f);

    // Two sounds and a frame corner: the frame's share is spread over the sounds.
    c.nodeCount = 2;
    m = c.getNodeMixForPoint({0.3f, 0.5f}, false, nullptr, false); // 0.2, 0.3, frame 0.5
    ASSERT_EQ(m.count, 2);
    EXPECT_NEAR(m.weight[0], (0.4f - 0.05f) / (1.0f - 0.1f), 1e-5f);
    EXPECT_NEAR(m.weight[1], (0.6f - 0.05f) / (1.0f - 0.1f), 1e-5f);

    c.nodeCount = 0;
    EXPECT_EQ(c.getNodeMixForPoint({0.2f, 0.2f}, false, nullptr, false).count, 0);
}

TEST(CanvasLookup, ClampsToTheModesBoundsOrTheFallbackRange)
{
    NodeCanvasData c = canvasWith(randomPoints(5, 2), 2);
    c.lo[1] = {0.3f, 0.33f};
    c.hi[1] = {0.7f, 0.67f};
    c.lo[2] = {0.0f, 0.375f};
    c.hi[2] = {1.0f, 0.625f};

    c.mode = kCanvasModeXYPad;
    NodeMix m = c.getNodeMixForPoint({0.9f, 0.1f}, false, nullptr, true);
    EXPECT_FLOAT_EQ(m.point.x, 0.7f);
    EXPECT_FLOAT_EQ(m.point.y, 0.33f);
    EXPECT_EQ(m.mode, kCanvasModeXYPad);
    m = c.getNodeMixForPoint({2.0f, -1.0f}, false, nullptr, false);
    EXPECT_FLOAT_EQ(m.point.x, 1.5f);
    EXPECT_FLOAT_EQ(m.point.y, -0.5f);

    c.mode = kCanvasModeKeyboard;
    m = c.getNodeMixForPoint({-3.0f, 0.9f}, false, nullptr, true);
    EXPECT_FLOAT_EQ(m.point.x, 0.0f);
    EXPECT_FLOAT_EQ(m.point.y, 0.625f);

    // Zeroed (Explore) bounds, a mode outside 0..2 and non-finite bounds all use the fallback range.
    for (int mode : {kCanvasModeExplore, 7, -1})
    {
        c.mode = mode;
        m = c.getNodeMixForPoint({2.0f, -1.0f}, false, nullptr, true);
        EXPECT_FLOAT_EQ(m.point.x, 1.5f);
        EXPECT_FLOAT_EQ(m.point.y, -0.5f);
    }
    c.mode = kCanvasModeXYPad;
    c.hi[1] = {std::numeric_limits<float>::infinity(), 0.67f};
    m = c.getNodeMixForPoint({2.0f, 0.5f}, false, nullptr, true);
    EXPECT_FLOAT_EQ(m.point.x, 1.5f);

    // Non-finite points land inside the range and still give a valid mix.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    m = c.getNodeMixForPoint({nan, -inf}, false, nullptr, false);
    EXPECT_FLOAT_EQ(m.point.x, 0.5f);
    EXPECT_FLOAT_EQ(m.point.y, -0.5f);
    expectValidMix(c, m);
}

TEST(CanvasLookup, HintStartsTheSearchAndIsWrittenBack)
{
    // Two triangles sharing the edge (1,0)-(0,1): a point on it goes to whichever is visited first.
    NodeCanvasData c{};
    c.nodes[0] = {{0, 0}, 0};
    c.nodes[1] = {{1, 0}, 1};
    c.nodes[2] = {{0, 1}, 2};
    c.nodes[3] = {{1, 1}, 3};
    c.nodeCount = 4;
    c.tri[0] = {0, 1, 2};
    c.tri[1] = {1, 2, 3};
    c.triCount = 2;
    const Point2D onEdge{0.5f, 0.5f};

    int hint = 1;
    c.getNodeMixForPoint(onEdge, false, &hint, false);
    EXPECT_EQ(hint, 1);
    for (int bad : {2, 500, -1, -400})
    {
        hint = bad;
        c.getNodeMixForPoint(onEdge, false, &hint, false);
        EXPECT_EQ(hint, 0) << "from " << bad;
    }
    // The point on the shared edge mixes the edge's two nodes equally whichever triangle holds it.
    const NodeMix m = c.getNodeMixForPoint(onEdge, false, nullptr, false);
    ASSERT_EQ(m.count, 2);
    EXPECT_NEAR(m.weight[0], 0.5f, 1e-6f);

    // A point that no triangle holds leaves the hint as it was.
    hint = 77;
    const NodeMix none = c.getNodeMixForPoint({1.4f, 1.4f}, false, &hint, false);
    EXPECT_EQ(none.count, 0);
    EXPECT_EQ(hint, 77);
    EXPECT_FLOAT_EQ(none.rebuiltPoint.x, 0.0f);
}

TEST(CanvasLookup, StoreReplacesTheCurrentMixWhateverItsCount)
{
    NodeCanvasData c = canvasWith(randomPoints(6, 4), 4);
    const NodeMix before = c.currentMix;
    const NodeMix m = c.getNodeMixForPoint({0.25f, 0.75f}, false, nullptr, false);
    EXPECT_EQ(std::memcmp(&before, &c.currentMix, sizeof before), 0);
    c.getNodeMixForPoint({0.25f, 0.75f}, true, nullptr, false);
    EXPECT_EQ(std::memcmp(&m, &c.currentMix, sizeof m), 0);

    NodeCanvasData empty = canvasWith({});
    empty.currentMix.count = 2;
    empty.getNodeMixForPoint({0.5f, 0.5f}, true, nullptr, false);
    EXPECT_EQ(empty.currentMix.count, 0);
}

// ---- degenerate canvases ------------------------------------------------------------------------

namespace
{

void expectUsableCanvas(NodeCanvasData c)
{
    ASSERT_GE(c.triCount, 0);
    ASSERT_LE(c.triCount, kMaxTriangles);
    ASSERT_LE(c.nodeCount, kMaxSoundNodes);
    for (int t = 0; t < c.triCount; ++t)
        for (int q = 0; q < 3; ++q)
            ASSERT_LT(c.tri[t][q], c.nodeCount + kNumFramePoints);
    int hint = 0;
    for (float x = -0.6f; x <= 1.6f; x += 0.05f)
        for (float y = -0.6f; y <= 1.6f; y += 0.05f)
        {
            expectValidMix(c, c.getNodeMixForPoint({x, y}, false, &hint, false));
            expectValidMix(c, c.getNodeMixForPoint({x, y}, false, nullptr, false));
        }
}

} // namespace

TEST(CanvasDegenerate, CoincidentNodes)
{
    expectUsableCanvas(canvasWith(std::vector<Point2D>(10, Point2D{0.5f, 0.5f})));
    std::vector<Point2D> pts = randomPoints(12, 8);
    pts.push_back(pts[3]);
    pts.push_back(pts[3]);
    const NodeCanvasData c = canvasWith(pts, 8);
    expectUsableCanvas(c);
    // A point on the doubled node plays one of its copies alone.
    const NodeMix m = NodeCanvasData(c).getNodeMixForPoint(pts[3], false, nullptr, false);
    ASSERT_EQ(m.count, 1);
    EXPECT_TRUE(m.node[0] == 3 || m.node[0] == 12 || m.node[0] == 13);
}

TEST(CanvasDegenerate, CollinearNodes)
{
    std::vector<Point2D> line;
    for (int i = 0; i < 12; ++i)
        line.push_back({0.1f + 0.07f * i, 0.5f});
    expectUsableCanvas(canvasWith(line));
    std::vector<Point2D> diagonal;
    for (int i = 0; i < 9; ++i)
        diagonal.push_back({0.1f * i, 0.1f * i});
    expectUsableCanvas(canvasWith(diagonal));
}

TEST(CanvasDegenerate, NonFiniteAndFarAwayNodesJoinNoTriangle)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<Point2D> pts = randomPoints(6, 9);
    pts.push_back({nan, 0.5f});
    pts.push_back({0.5f, inf});
    pts.push_back({-inf, nan});
    pts.push_back({1e30f, 1e30f});
    const NodeCanvasData c = canvasWith(pts, 9);
    expectUsableCanvas(c);
    EXPECT_EQ(c.triCount, 2 * 6 + 6);
    for (int t = 0; t < c.triCount; ++t)
        for (int q = 0; q < 3; ++q)
            EXPECT_TRUE(c.tri[t][q] < 6 || c.tri[t][q] >= 10);
}

TEST(CanvasDegenerate, NeverHoldsMoreThan64SoundNodes)
{
    NodeCanvasData c{};
    for (auto& n : c.nodes)
        n = {{0.5f, 0.5f}, 0};
    const std::vector<Point2D> pts = randomPoints(kMaxSoundNodes, 12);
    for (int i = 0; i < kMaxSoundNodes; ++i)
        c.nodes[i].pos = pts[i];
    c.nodeCount = 200;
    engineSrand(12);
    c.triangulate();
    EXPECT_EQ(c.nodeCount, kMaxSoundNodes);
    EXPECT_EQ(c.triCount, 2 * kMaxSoundNodes + 6);
    expectUsableCanvas(c);

    // A lookup on an untriangulated, oversized count stays inside the node array too.
    c.nodeCount = 1000;
    expectValidMix(c, c.getNodeMixForPoint({0.5f, 0.5f}, false, nullptr, false));
    c.nodeCount = -5;
    EXPECT_EQ(c.getNodeMixForPoint({0.5f, 0.5f}, false, nullptr, false).count, 0);
}

TEST(CanvasDegenerate, ZeroAreaTrianglesNeverGiveNaNWeights)
{
    // Hand-made triangles with coincident and collinear corners: the lookup must skip them.
    NodeCanvasData c = singleTriangle({0.5f, 0.5f}, {0.5f, 0.5f}, {0.9f, 0.5f}, 3);
    for (float x : {0.5f, 0.7f, 0.9f, 1.2f})
        EXPECT_EQ(c.getNodeMixForPoint({x, 0.5f}, false, nullptr, false).count, 0);
    c = singleTriangle({0.1f, 0.1f}, {0.5f, 0.5f}, {0.9f, 0.9f}, 3);
    for (float x : {0.1f, 0.3f, 0.5f})
        EXPECT_EQ(c.getNodeMixForPoint({x, x}, false, nullptr, false).count, 0);
}

// ---- strings of the state block ------------------------------------------------------------------

TEST(StateStrings, WriterCutsAt64CharactersAndMeasuresWithoutABuffer)
{
    const std::string s64(64, 'a'), s70(70, 'b');
    std::vector<unsigned char> buf(200, 0xee);
    int pos = 0;
    writeStringSafe(buf.data(), pos, 200, s64.c_str(), 0);
    EXPECT_EQ(pos, 65);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.data())), s64);
    writeStringSafe(buf.data(), pos, 200, s70.c_str(), 0);
    EXPECT_EQ(pos, 130);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.data() + 65)), s70.substr(0, 64));

    int measured = 3;
    writeStringSafe(nullptr, measured, 0, "hello", 0);
    EXPECT_EQ(measured, 9);

    // A text that does not fit below cap is not written, but the position still moves on.
    std::vector<unsigned char> small(5, 0xee);
    pos = 0;
    writeStringSafe(small.data(), pos, 5, "hello", 0);
    EXPECT_EQ(pos, 6);
    EXPECT_EQ(small[0], 0xee);
    pos = 0;
    writeStringSafe(small.data(), pos, 5, "hell", 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(small.data())), "hell");
}

TEST(StateStrings, ReaderTakesBackEveryWrittenText)
{
    const std::string s64(64, 'q');
    std::vector<unsigned char> buf(100, 0);
    int pos = 0;
    writeStringSafe(buf.data(), pos, 100, s64.c_str());
    writeStringSafe(buf.data(), pos, 100, "");
    writeStringSafe(buf.data(), pos, 100, "tail");

    char out[kStateStringSlotSize];
    int r = 0;
    readStringSafe(buf.data(), r, 100, out, kStateStringSlotSize);
    EXPECT_EQ(std::string(out), s64);
    EXPECT_EQ(r, 65);
    readStringSafe(buf.data(), r, 100, out, kStateStringSlotSize);
    EXPECT_EQ(std::string(out), "");
    readStringSafe(buf.data(), r, 100, out, kStateStringSlotSize);
    EXPECT_EQ(std::string(out), "tail");
    EXPECT_EQ(r, 71);
}

TEST(StateStrings, ReaderPassesOverLongTextsAndStopsAtTheEnd)
{
    std::vector<unsigned char> buf(80, 'z');
    buf[65] = 0; // a 65-character text, longer than any writer makes
    char out[kStateStringSlotSize] = "keep";
    int pos = 0;
    readStringSafe(buf.data(), pos, 80, out, kStateStringSlotSize);
    EXPECT_EQ(std::string(out), "keep");
    EXPECT_EQ(pos, 66);

    // Unterminated at the end: read up to the end, position one past.
    readStringSafe(buf.data(), pos, 80, out, kStateStringSlotSize);
    EXPECT_EQ(std::string(out), std::string(14, 'z'));
    EXPECT_EQ(pos, 81);

    // At or past the end: empty text, position size + 1.
    readStringSafe(buf.data(), pos, 80, out, kStateStringSlotSize);
    EXPECT_EQ(std::string(out), "");
    EXPECT_EQ(pos, 81);

    // A text that does not fit the caller's slot leaves it alone.
    std::strcpy(out, "keep");
    pos = 66;
    readStringSafe(buf.data(), pos, 80, out, 10);
    EXPECT_EQ(std::string(out), "keep");
    EXPECT_EQ(pos, 81);
}

// ---- node part of the state block ----------------------------------------------------------------

namespace
{

std::vector<InstrumentMap> mapsNamed(const std::vector<std::string>& names)
{
    std::vector<InstrumentMap> maps(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        std::memcpy(maps[i].name, names[i].data(), std::min<size_t>(names[i].size(), sizeof maps[i].name));
    return maps;
}

std::vector<unsigned char> writeNodes(const NodeCanvasData& c, const std::vector<InstrumentMap>& maps)
{
    const int size = c.writeState(nullptr, 0, maps.data(), static_cast<int>(maps.size()));
    std::vector<unsigned char> buf(static_cast<size_t>(size), 0xcd);
    EXPECT_EQ(c.writeState(buf.data(), size, maps.data(), static_cast<int>(maps.size())), size);
    return buf;
}

} // namespace

TEST(NodeState, RoundTripKeepsSoundsPositionsAndPointIncludingA64CharacterName)
{
    // 64 characters fill the map's name field without a NUL.
    const std::vector<InstrumentMap> maps =
        mapsNamed({"Soft Piano", std::string(64, 'N'), "Pad", "", "Bell"});
    NodeCanvasData c{};
    const std::vector<Point2D> pts = randomPoints(5, 21);
    const int ids[5] = {1, 0, 4, 2, 1};
    for (int i = 0; i < 5; ++i)
        c.nodes[i] = {pts[i], ids[i]};
    c.nodeCount = 5;
    c.currentMix.point = {0.31f, 0.62f};
    engineSrand(21);
    c.triangulate();

    const std::vector<unsigned char> buf = writeNodes(c, maps);
    size_t expected = 1 + 8;
    for (int id : ids)
        expected += strnlen(maps[id].name, 64) + 9;
    EXPECT_EQ(buf.size(), expected);
    EXPECT_EQ(buf[0], 5);

    NodeCanvasData back{};
    back.mode = kCanvasModeXYPad;
    const int end = back.readState(buf.data(), static_cast<int>(buf.size()), 0, maps.data(), 5);
    EXPECT_EQ(end, static_cast<int>(buf.size()));
    ASSERT_EQ(back.nodeCount, 5);
    for (int i = 0; i < 5; ++i)
    {
        EXPECT_EQ(back.nodes[i].soundId, ids[i]);
        EXPECT_EQ(std::memcmp(&back.nodes[i].pos, &c.nodes[i].pos, sizeof(Point2D)), 0);
    }
    EXPECT_FLOAT_EQ(back.currentMix.point.x, 0.31f);
    EXPECT_FLOAT_EQ(back.currentMix.point.y, 0.62f);
    EXPECT_EQ(back.triCount, 2 * 5 + 6);
    EXPECT_EQ(back.dirty, 0);
    EXPECT_EQ(back.currentMix.mode, kCanvasModeXYPad);
}

TEST(NodeState, EmptyCanvasAndOffsetStart)
{
    const std::vector<InstrumentMap> maps = mapsNamed({"A"});
    NodeCanvasData c = canvasWith({});
    const std::vector<unsigned char> buf = writeNodes(c, maps);
    EXPECT_EQ(buf.size(), 9u);

    // A node part behind other bytes, and one that starts at the very end.
    std::vector<unsigned char> block(3 + buf.size(), 7);
    std::copy(buf.begin(), buf.end(), block.begin() + 3);
    NodeCanvasData back{};
    EXPECT_EQ(back.readState(block.data(), static_cast<int>(block.size()), 3, maps.data(), 1), 12);
    EXPECT_EQ(back.nodeCount, 0);
    EXPECT_EQ(back.triCount, 6);

    back.nodeCount = 3;
    back.currentMix.point = {0.4f, 0.4f};
    back.readState(block.data(), static_cast<int>(block.size()), static_cast<int>(block.size()), maps.data(),
                   1);
    EXPECT_EQ(back.nodeCount, 0);
    EXPECT_FLOAT_EQ(back.currentMix.point.x, 0.0f);
}

TEST(NodeState, UnknownAndDuplicateNamesMapToTheFirstSoundOrDropTheNode)
{
    const std::vector<InstrumentMap> writerMaps = mapsNamed({"Gone", "Twin", "Keep"});
    NodeCanvasData c{};
    c.nodes[0] = {{0.2f, 0.2f}, 0};
    c.nodes[1] = {{0.4f, 0.6f}, 1};
    c.nodes[2] = {{0.7f, 0.3f}, 2};
    c.nodes[3] = {{0.5f, 0.5f}, 9}; // outside the map list: written with an empty name
    c.nodeCount = 4;
    const std::vector<unsigned char> buf = writeNodes(c, writerMaps);

    const std::vector<InstrumentMap> readerMaps = mapsNamed({"Keep", "Twin", "Twin"});
    NodeCanvasData back{};
    back.readState(buf.data(), static_cast<int>(buf.size()), 0, readerMaps.data(), 3);
    ASSERT_EQ(back.nodeCount, 2);
    EXPECT_EQ(back.nodes[0].soundId, 1);
    EXPECT_FLOAT_EQ(back.nodes[0].pos.x, 0.4f);
    EXPECT_EQ(back.nodes[1].soundId, 0);
    EXPECT_FLOAT_EQ(back.nodes[1].pos.y, 0.3f);
}

TEST(NodeState, TruncatedBlocksLoadWhatTheyHold)
{
    const std::vector<InstrumentMap> maps = mapsNamed({"One", "Two", "Three"});
    NodeCanvasData c = canvasWith({{0.2f, 0.3f}, {0.6f, 0.7f}, {0.8f, 0.2f}});
    c.currentMix.point = {0.5f, 0.5f};
    const std::vector<unsigned char> full = writeNodes(c, maps);
    for (size_t len = 0; len <= full.size(); ++len)
    {
        SCOPED_TRACE(len);
        // An exact-size copy, so that any read past the end is caught by the address sanitizer.
        std::vector<unsigned char> cut(full.begin(), full.begin() + static_cast<long>(len));
        NodeCanvasData back{};
        back.readState(cut.data(), static_cast<int>(len), 0, maps.data(), 3);
        ASSERT_LE(back.nodeCount, 3);
        for (int i = 0; i < back.nodeCount; ++i)
            EXPECT_TRUE(std::isfinite(back.nodes[i].pos.x) && std::isfinite(back.nodes[i].pos.y));
        expectUsableCanvas(back);
    }
    // Cut inside the first node's y: its name was read, so it stays with 0.0 for y.
    std::vector<unsigned char> cut(full.begin(), full.begin() + 1 + 4 + 4 + 2);
    NodeCanvasData back{};
    back.readState(cut.data(), static_cast<int>(cut.size()), 0, maps.data(), 3);
    ASSERT_EQ(back.nodeCount, 1);
    EXPECT_FLOAT_EQ(back.nodes[0].pos.x, 0.2f);
    EXPECT_FLOAT_EQ(back.nodes[0].pos.y, 0.0f);
}

TEST(NodeState, HostileBlocksNeverOverflowTheCanvas)
{
    // 70 stored nodes that all match: only 64 are kept, and the point behind them is still read.
    const std::vector<InstrumentMap> maps = mapsNamed({"x"});
    std::vector<unsigned char> block{70};
    for (int i = 0; i < 70; ++i)
    {
        block.insert(block.end(), {'x', 0});
        const float xy[2] = {0.01f * i, std::numeric_limits<float>::quiet_NaN()};
        const auto* b = reinterpret_cast<const unsigned char*>(xy);
        block.insert(block.end(), b, b + 8);
    }
    const float point[2] = {0.25f, 0.75f};
    block.insert(block.end(), reinterpret_cast<const unsigned char*>(point),
                 reinterpret_cast<const unsigned char*>(point) + 8);
    NodeCanvasData c{};
    EXPECT_EQ(c.readState(block.data(), static_cast<int>(block.size()), 0, maps.data(), 1),
              static_cast<int>(block.size()));
    EXPECT_EQ(c.nodeCount, kMaxSoundNodes);
    EXPECT_FLOAT_EQ(c.nodes[63].pos.x, 0.63f);
    EXPECT_FLOAT_EQ(c.nodes[63].pos.y, 0.0f); // a stored NaN reads as 0
    EXPECT_FLOAT_EQ(c.currentMix.point.y, 0.75f);

    // Random bytes of random lengths, with names drawn from a tiny alphabet so that some match.
    const std::vector<InstrumentMap> abc = mapsNamed({"a", "b", ""});
    std::mt19937 gen(99);
    for (int round = 0; round < 300; ++round)
    {
        std::vector<unsigned char> junk(gen() % 600);
        for (auto& byte : junk)
            byte = (gen() % 3 == 0) ? 0
                                    : static_cast<unsigned char>('a' + gen() % 2 + (gen() % 4 == 0 ? 50 : 0));
        if (!junk.empty()) junk[0] = static_cast<unsigned char>(gen());
        NodeCanvasData back{};
        const int start = junk.empty() ? 0 : static_cast<int>(gen() % (junk.size() + 2)) - 1;
        back.readState(junk.data(), static_cast<int>(junk.size()), start, abc.data(), 3);
        ASSERT_LE(back.nodeCount, kMaxSoundNodes);
        for (int i = 0; i < back.nodeCount; ++i)
            ASSERT_TRUE(std::isfinite(back.nodes[i].pos.x) && std::isfinite(back.nodes[i].pos.y));
        ASSERT_TRUE(std::isfinite(back.currentMix.point.x));
    }
    NodeCanvasData none{};
    none.readState(nullptr, 50, 0, abc.data(), 3);
    EXPECT_EQ(none.nodeCount, 0);
}

TEST(NodeState, WriterNeverPassesItsCapacity)
{
    const std::vector<InstrumentMap> maps = mapsNamed({"Alpha", "Beta"});
    NodeCanvasData c = canvasWith({{0.2f, 0.3f}, {0.6f, 0.7f}});
    const int size = c.writeState(nullptr, 0, maps.data(), 2);
    for (int cap = 0; cap < size; ++cap)
    {
        std::vector<unsigned char> buf(static_cast<size_t>(size) + 4, 0xcd);
        EXPECT_EQ(c.writeState(buf.data(), cap, maps.data(), 2), size);
        for (size_t i = static_cast<size_t>(cap); i < buf.size(); ++i)
            ASSERT_EQ(buf[i], 0xcd) << "cap " << cap;
    }
}
