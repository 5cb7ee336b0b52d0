#include "engine/canvas/MultiDimScaler.h"

#include <algorithm>
#include <cmath>

namespace
{
// Softened inverse square: large but finite for coincident points.
inline float inverseSquare(float v) noexcept
{
    return 1.0f / (v * v + 1e-10f);
}

// Walls act from a tenth of the distance they are seen at, so their push falls off quickly inside.
constexpr float kWallScale = 10.0f;
// The centre pull measures positions in sixths of the box.
constexpr float kConfineScale = 6.0f;

constexpr float kFirstStepRate = 0.001f;
constexpr float kHistoryDecay = 0.9f;
constexpr float kGainGrowth = 1.1f;
// The step gain grows by 10 % per step while a gradient keeps its sign; long runs (the editor may
// keep iterating) must not let it overflow.
constexpr float kMaxStepGain = 1.0e6f;

inline bool finitePoint(Point2D p) noexcept
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}

bool usableBox(Point2D lo, Point2D hi) noexcept
{
    return finitePoint(lo) && finitePoint(hi) && hi.x > lo.x && hi.y > lo.y;
}

// Adaptive step on one axis; updates the axis's history and returns the proposed coordinate.
float adaptiveStep(float p, float g, float& prevGrad, float prevPos, float& prod, float& sq,
                   float& gain) noexcept
{
    const float dg = g - prevGrad;
    prod = (p - prevPos) * dg + kHistoryDecay * prod;
    sq = dg * dg + kHistoryDecay * sq;
    gain = (prevGrad * g > 0.0f) ? std::min(gain * kGainGrowth, kMaxStepGain) : 1.0f;
    if (!std::isfinite(prod) || !std::isfinite(sq))
    {
        // Forget a history that overflowed rather than carry NaN into every later step.
        prod = 0.0f;
        sq = 0.0f;
        gain = 1.0f;
    }
    return p - (std::fabs(prod) / (sq + 1e-6f)) * gain * g;
}
} // namespace

float computeCostAndGradient(const Point2D* pts, int n, Point2D* grad, Point2D lo, Point2D hi) noexcept
{
    if (pts == nullptr || n <= 0) return 0.0f;
    if (grad != nullptr)
        for (int i = 0; i < n; ++i)
            grad[i] = Point2D{};

    const bool confine = usableBox(lo, hi);
    const Point2D centre{(lo.x + hi.x) * 0.5f, (lo.y + hi.y) * 0.5f};
    const float sx = confine ? kConfineScale / (hi.x - lo.x) : 0.0f;
    const float sy = confine ? kConfineScale / (hi.y - lo.y) : 0.0f;

    float cost = 0.0f;
    for (int i = 0; i < n; ++i)
    {
        const Point2D p = pts[i];
        if (!finitePoint(p)) continue;

        for (int j = 0; j < i; ++j)
        {
            const Point2D q = pts[j];
            if (!finitePoint(q)) continue;
            const float dx = p.x - q.x, dy = p.y - q.y;
            const float t = 1.0f / (dx * dx + dy * dy + 1e-10f);
            cost += t;
            if (grad != nullptr)
            {
                const float k = -2.0f * t * t;
                grad[i].x += k * dx;
                grad[i].y += k * dy;
                grad[j].x -= k * dx;
                grad[j].y -= k * dy;
            }
        }

        const float ux[2] = {kWallScale * (p.x - lo.x), kWallScale * (p.x - hi.x)};
        const float uy[2] = {kWallScale * (p.y - lo.y), kWallScale * (p.y - hi.y)};
        const float tx0 = inverseSquare(ux[0]), ty0 = inverseSquare(uy[0]);
        const float tx1 = inverseSquare(ux[1]), ty1 = inverseSquare(uy[1]);
        cost += tx0 + ty0 + tx1 + ty1;
        if (grad != nullptr)
        {
            grad[i].x += -2.0f * kWallScale * (ux[0] * tx0 * tx0 + ux[1] * tx1 * tx1);
            grad[i].y += -2.0f * kWallScale * (uy[0] * ty0 * ty0 + uy[1] * ty1 * ty1);
        }

        if (confine)
        {
            const float qx = (p.x - centre.x) * sx;
            const float qy = (p.y - centre.y) * sy;
            const float s = qx * qx + qy * qy;
            cost += s * s;
            if (grad != nullptr)
            {
                grad[i].x += 4.0f * s * qx * sx;
                grad[i].y += 4.0f * s * qy * sy;
            }
        }
    }
    return cost;
}

MDS_2D::MDS_2D() noexcept
{
    for (int i = 0; i < kMdsMaxStepPoints; ++i)
        stepGain[static_cast<size_t>(i)] = Point2D{1.0f, 1.0f};
}

void MDS_2D::iterate(Point2D* pts, int n, Point2D lo, Point2D hi, int firstMovable) noexcept
{
    if (pts == nullptr || !usableBox(lo, hi)) return;
    n = std::min(n, kMdsMaxStepPoints);
    if (n <= 0) return;
    const int first = std::max(firstMovable, 0);

    const Point2D centre{(lo.x + hi.x) * 0.5f, (lo.y + hi.y) * 0.5f};
    for (int i = first; i < n; ++i)
        if (!finitePoint(pts[i])) pts[i] = centre;

    std::array<Point2D, kMdsMaxStepPoints> g{};
    computeCostAndGradient(pts, n, g.data(), lo, hi);

    for (int i = first; i < n; ++i)
    {
        const size_t k = static_cast<size_t>(i);
        const Point2D p = pts[i];
        const Point2D gi = g[k];
        Point2D proposal;
        if (started == 0)
            proposal = Point2D{p.x - kFirstStepRate * gi.x, p.y - kFirstStepRate * gi.y};
        else
        {
            proposal.x = adaptiveStep(p.x, gi.x, prevGrad[k].x, prevPos[k].x, prodChange[k].x,
                                      sqGradChange[k].x, stepGain[k].x);
            proposal.y = adaptiveStep(p.y, gi.y, prevGrad[k].y, prevPos[k].y, prodChange[k].y,
                                      sqGradChange[k].y, stepGain[k].y);
        }
        prevGrad[k] = gi;
        prevPos[k] = p;
        started = 1;

        // At most half the way to each wall per step. A NaN proposal passes the clamps unchanged and
        // then fails the inside test, so the point stays.
        const float ny = std::clamp(proposal.y, (p.y + lo.y) * 0.5f, (p.y + hi.y) * 0.5f);
        const float nx = std::clamp(proposal.x, (p.x + lo.x) * 0.5f, (p.x + hi.x) * 0.5f);
        if (ny < hi.y && nx > lo.x && nx < hi.x && ny > lo.y) pts[i] = Point2D{nx, ny};
    }
}
