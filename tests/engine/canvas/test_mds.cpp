// The canvas layout: its cost and gradient, and the adaptive steps that spread points in a box.

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "engine/canvas/MultiDimScaler.h"
#include "engine/Random.h"

namespace
{

const Point2D kLo{0.12f, 0.27f};
const Point2D kHi{0.83f, 0.72f};

// The layout cost from its definition, in double precision: repulsion 1 / (d^2 + 1e-10) per pair,
// four walls 1 / ((10 (x - wall))^2 + 1e-10), and the centre pull s^2.
double referenceCost(const std::vector<double>& x, const std::vector<double>& y, Point2D lo, Point2D hi)
{
    const auto t = [](double v) { return 1.0 / (v * v + 1e-10); };
    double cost = 0.0;
    const size_t n = x.size();
    for (size_t i = 0; i < n; ++i)
    {
        for (size_t j = 0; j < i; ++j)
            cost += 1.0 / ((x[i] - x[j]) * (x[i] - x[j]) + (y[i] - y[j]) * (y[i] - y[j]) + 1e-10);
        cost += t(10 * (x[i] - lo.x)) + t(10 * (y[i] - lo.y)) + t(10 * (x[i] - hi.x)) + t(10 * (y[i] - hi.y));
        const double qx = (x[i] - 0.5 * (lo.x + hi.x)) * 6 / (hi.x - lo.x);
        const double qy = (y[i] - 0.5 * (lo.y + hi.y)) * 6 / (hi.y - lo.y);
        const double s = qx * qx + qy * qy;
        cost += s * s;
    }
    return cost;
}

std::vector<Point2D> randomPoints(int n, Point2D lo, Point2D hi, uint32_t seed)
{
    engineSrand(seed);
    std::vector<Point2D> p(static_cast<size_t>(n));
    for (Point2D& q : p)
        q = Point2D{lo.x + (hi.x - lo.x) * (0.1f + 0.8f * engineRandUnit()),
                    lo.y + (hi.y - lo.y) * (0.1f + 0.8f * engineRandUnit())};
    return p;
}

bool strictlyInside(Point2D p, Point2D lo, Point2D hi)
{
    return p.x > lo.x && p.x < hi.x && p.y > lo.y && p.y < hi.y;
}

TEST(LayoutCost, MatchesDefinitionAndFiniteDifferences)
{
    const std::vector<Point2D> pts = randomPoints(7, kLo, kHi, 5);
    const int n = static_cast<int>(pts.size());
    std::vector<double> x, y;
    for (Point2D p : pts)
    {
        x.push_back(p.x);
        y.push_back(p.y);
    }
    std::vector<Point2D> grad(pts.size(), Point2D{99.0f, 99.0f}); // cleared by the call
    const float cost = computeCostAndGradient(pts.data(), n, grad.data(), kLo, kHi);
    const double ref = referenceCost(x, y, kLo, kHi);
    EXPECT_NEAR(cost, ref, 1e-5 * ref);
    EXPECT_EQ(cost, computeCostAndGradient(pts.data(), n, nullptr, kLo, kHi));

    // Central differences of the reference; the float gradient agrees to 1e-3 of its size.
    const double h = 1e-6;
    for (size_t i = 0; i < pts.size(); ++i)
    {
        for (int axis = 0; axis < 2; ++axis)
        {
            std::vector<double>& c = axis == 0 ? x : y;
            const double keep = c[i];
            c[i] = keep + h;
            const double up = referenceCost(x, y, kLo, kHi);
            c[i] = keep - h;
            const double down = referenceCost(x, y, kLo, kHi);
            c[i] = keep;
            const double fd = (up - down) / (2 * h);
            const float g = axis == 0 ? grad[i].x : grad[i].y;
            EXPECT_NEAR(g, fd, 1e-3 * std::fabs(fd) + 1e-2) << "point " << i << " axis " << axis;
        }
    }
}

TEST(LayoutCost, SkipsNonFinitePointsAndDegenerateBoxes)
{
    std::vector<Point2D> pts = {{0.3f, 0.4f}, {std::numeric_limits<float>::quiet_NaN(), 0.5f}, {0.6f, 0.5f}};
    std::vector<Point2D> grad(3);
    const float withNan = computeCostAndGradient(pts.data(), 3, grad.data(), kLo, kHi);
    const std::vector<Point2D> finite = {pts[0], pts[2]};
    std::vector<Point2D> finiteGrad(2);
    EXPECT_EQ(withNan, computeCostAndGradient(finite.data(), 2, finiteGrad.data(), kLo, kHi));
    EXPECT_EQ(grad[1].x, 0.0f);
    EXPECT_EQ(grad[0].x, finiteGrad[0].x);
    EXPECT_EQ(grad[2].y, finiteGrad[1].y);

    const Point2D flat{0.5f, 0.5f};
    EXPECT_TRUE(std::isfinite(computeCostAndGradient(finite.data(), 2, finiteGrad.data(), flat, flat)));
    EXPECT_TRUE(std::isfinite(finiteGrad[0].x) && std::isfinite(finiteGrad[0].y));
}

TEST(LayoutStep, FirstStepOfAFreshScalerIsPlainGradientDescent)
{
    std::vector<Point2D> pts = {{0.4f, 0.45f}, {0.5f, 0.5f}};
    std::vector<Point2D> grad(2);
    computeCostAndGradient(pts.data(), 2, grad.data(), kLo, kHi);
    const Point2D p0 = pts[0];
    MDS_2D mds;
    EXPECT_EQ(mds.started, 0);
    EXPECT_EQ(mds.stepGain[63].x, 1.0f);
    EXPECT_EQ(mds.stepGain[64].x, 0.0f);
    mds.iterate(pts.data(), 2, kLo, kHi, 0);
    // Point 0 moves by 0.001 g, held to half its distance to each wall.
    const float ex = std::clamp(p0.x - 0.001f * grad[0].x, (p0.x + kLo.x) / 2, (p0.x + kHi.x) / 2);
    const float ey = std::clamp(p0.y - 0.001f * grad[0].y, (p0.y + kLo.y) / 2, (p0.y + kHi.y) / 2);
    EXPECT_FLOAT_EQ(pts[0].x, ex);
    EXPECT_FLOAT_EQ(pts[0].y, ey);
    EXPECT_EQ(mds.started, 1);
    EXPECT_EQ(mds.prevPos[0].x, p0.x);
    EXPECT_EQ(mds.prevGrad[0].y, grad[0].y);
}

TEST(LayoutStep, FixedPointsStayAndOthersStayInsideWhileCostFalls)
{
    for (uint32_t seed : {1u, 2u, 3u})
    {
        // A tight cluster in the middle of the box: high repulsion to work off.
        std::vector<Point2D> pts = randomPoints(20, Point2D{0.45f, 0.45f}, Point2D{0.55f, 0.55f}, seed);
        const std::vector<Point2D> start = pts;
        const int n = static_cast<int>(pts.size());
        const float before = computeCostAndGradient(pts.data(), n, nullptr, kLo, kHi);
        MDS_2D mds;
        for (int step = 0; step < 100; ++step)
        {
            mds.iterate(pts.data(), n, kLo, kHi, 3);
            for (int i = 0; i < 3; ++i)
            {
                ASSERT_EQ(pts[size_t(i)].x, start[size_t(i)].x);
                ASSERT_EQ(pts[size_t(i)].y, start[size_t(i)].y);
            }
            for (const Point2D& p : pts)
                ASSERT_TRUE(strictlyInside(p, kLo, kHi)) << "step " << step << ": " << p.x << ", " << p.y;
        }
        const float after = computeCostAndGradient(pts.data(), n, nullptr, kLo, kHi);
        EXPECT_LT(after, 0.1f * before) << "seed " << seed;
    }
}

TEST(LayoutStep, PointsNearTheWallsNeverReachThem)
{
    std::vector<Point2D> pts = {{kLo.x + 1e-4f, 0.5f},
                                {kHi.x - 1e-4f, kHi.y - 1e-4f},
                                {0.5f, kLo.y + 1e-5f},
                                {0.47f, 0.5f},
                                {0.4701f, 0.5f}};
    MDS_2D mds;
    for (int step = 0; step < 300; ++step)
    {
        mds.iterate(pts.data(), 5, kLo, kHi, 0);
        for (const Point2D& p : pts)
            ASSERT_TRUE(strictlyInside(p, kLo, kHi)) << step;
    }
}

TEST(LayoutStep, NonFiniteAndCoincidentPointsEndFiniteAndInside)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<Point2D> pts = {{nan, 0.5f}, {0.3f, 0.4f}, {inf, -inf}, {0.6f, 0.6f}, {0.6f, 0.6f}};
    MDS_2D mds;
    for (int step = 0; step < 100; ++step)
        mds.iterate(pts.data(), 5, kLo, kHi, 0);
    for (const Point2D& p : pts)
        EXPECT_TRUE(strictlyInside(p, kLo, kHi)) << p.x << ", " << p.y;

    // A fixed point that is not a number only drops out of the cost.
    std::vector<Point2D> withFixedNan = {{nan, nan}, {0.4f, 0.5f}, {0.5f, 0.5f}};
    MDS_2D second;
    for (int step = 0; step < 50; ++step)
        second.iterate(withFixedNan.data(), 3, kLo, kHi, 1);
    EXPECT_TRUE(std::isnan(withFixedNan[0].x));
    EXPECT_TRUE(strictlyInside(withFixedNan[1], kLo, kHi));
    EXPECT_TRUE(strictlyInside(withFixedNan[2], kLo, kHi));
    EXPECT_GT(std::fabs(withFixedNan[1].x - withFixedNan[2].x), 0.1f);
}

TEST(LayoutStep, AllPointsEqualStayFinite)
{
    std::vector<Point2D> pts(6, Point2D{0.5f, 0.5f});
    MDS_2D mds;
    for (int step = 0; step < 100; ++step)
        mds.iterate(pts.data(), 6, kLo, kHi, 0);
    for (const Point2D& p : pts)
        EXPECT_TRUE(strictlyInside(p, kLo, kHi));
}

TEST(LayoutStep, DegenerateBoxOrCountMovesNothing)
{
    std::vector<Point2D> pts = {{0.4f, 0.5f}, {0.41f, 0.5f}};
    const std::vector<Point2D> start = pts;
    MDS_2D mds;
    mds.iterate(pts.data(), 2, Point2D{0.5f, 0.5f}, Point2D{0.5f, 0.5f}, 0);
    mds.iterate(pts.data(), 2, kHi, kLo, 0); // inverted
    mds.iterate(pts.data(), 0, kLo, kHi, 0);
    mds.iterate(pts.data(), 2, kLo, kHi, 2); // nothing movable
    mds.iterate(nullptr, 2, kLo, kHi, 0);
    EXPECT_EQ(pts[0].x, start[0].x);
    EXPECT_EQ(pts[1].x, start[1].x);

    // More than 64 points: only the first 64 take part.
    std::vector<Point2D> many = randomPoints(kMdsMaxPoints, kLo, kHi, 9);
    const std::vector<Point2D> manyStart = many;
    MDS_2D big;
    big.iterate(many.data(), kMdsMaxPoints, kLo, kHi, 0);
    for (int i = kMdsMaxStepPoints; i < kMdsMaxPoints; ++i)
        ASSERT_EQ(many[size_t(i)].x, manyStart[size_t(i)].x);
}

} // namespace
