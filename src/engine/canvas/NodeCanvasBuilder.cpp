#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/KeySpaceDSP.h"
#include "engine/canvas/MultiDimScaler.h"
#include "engine/Random.h"

// Building a new canvas: choose a set of sounds, project their feature vectors onto the plane of
// their two main directions, spread them with the layout and triangulate.

namespace
{
// RandomSet and RotateAll fill the neighbourhood up to this many sounds.
constexpr int kNeighbourhoodSize = 12;
// Layout steps of one construction.
constexpr int kLayoutSteps = 100;
// Power-iteration refinements after the first product, and row draws allowed to find a non-zero row.
constexpr int kPowerSteps = 6;
constexpr int kMaxRowDraws = 20;
// Random plane coordinates of one or two sounds spread over this width.
constexpr float kRandomCoordWidth = 0.3499271f;
// Relative and absolute jitter of the feature rows (keeps equal sounds from projecting onto one
// point and the power iteration from starting on an exact null vector).
constexpr float kRowRelJitter = 0.001f;
constexpr float kRowAbsJitter = 1e-6f;
constexpr float kPositionJitter = 0.01f;
// Projected positions are scaled so the farthest lies this far from the canvas centre.
constexpr float kSpreadRadius = 0.18f;
// Fixed sounds of a rotated mix sit at this scale about the centre.
constexpr float kFixedFigureScale = 0.12f;
constexpr float kPushOutGrowth = 1.5f;
// A point is pushed out of the fixed triangle at most this often (each push moves it 1.5 times
// farther from the centre, so a handful always suffices for finite positions).
constexpr int kMaxPushOuts = 64;

constexpr float kTwoPi = 6.2831853f;

using FeatureRow = std::array<float, kNumInstrumentFeatures>;

// rand() / 2^31, the draw the layout uses everywhere.
float draw() noexcept
{
    return static_cast<float>(engineRand()) * 4.656612873e-10f;
}

double dot(const FeatureRow& a, const FeatureRow& b) noexcept
{
    double s = 0.0;
    for (int i = 0; i < kNumInstrumentFeatures; ++i)
        s += static_cast<double>(a[static_cast<size_t>(i)]) * b[static_cast<size_t>(i)];
    return s;
}

// Scales v to length 1; false (v unchanged) when it has no usable length.
bool normalise(std::array<double, kNumInstrumentFeatures>& v) noexcept
{
    double len2 = 0.0;
    for (double e : v)
        len2 += e * e;
    if (!(len2 > 0.0) || !std::isfinite(len2)) return false;
    const double inv = 1.0 / std::sqrt(len2);
    for (double& e : v)
        e *= inv;
    return true;
}

// Main direction of the rows by power iteration from a random non-zero row; writes each row's
// coordinate along it into coord and removes that part from the rows. A direction without length
// (all rows zero) gives zero coordinates and leaves the rows as they are.
void projectOnMainDirection(std::vector<FeatureRow>& rows, float* coord) noexcept
{
    const int count = static_cast<int>(rows.size());
    int r = engineRand() % count;
    for (int draws = 1;
         draws < kMaxRowDraws && !(dot(rows[static_cast<size_t>(r)], rows[static_cast<size_t>(r)]) > 0.0);
         ++draws)
        r = engineRand() % count;

    std::array<double, kNumInstrumentFeatures> v{};
    for (int e = 0; e < kNumInstrumentFeatures; ++e)
        v[static_cast<size_t>(e)] = rows[static_cast<size_t>(r)][static_cast<size_t>(e)];
    bool ok = true;
    for (int step = 0; step <= kPowerSteps && ok; ++step)
    {
        std::array<double, kNumInstrumentFeatures> next{};
        for (const FeatureRow& row : rows)
        {
            double d = 0.0;
            for (int e = 0; e < kNumInstrumentFeatures; ++e)
                d += row[static_cast<size_t>(e)] * v[static_cast<size_t>(e)];
            for (int e = 0; e < kNumInstrumentFeatures; ++e)
                next[static_cast<size_t>(e)] += d * row[static_cast<size_t>(e)];
        }
        v = next;
        ok = normalise(v);
    }
    if (!ok)
    {
        std::fill(coord, coord + count, 0.0f);
        return;
    }
    for (int i = 0; i < count; ++i)
    {
        FeatureRow& row = rows[static_cast<size_t>(i)];
        double c = 0.0;
        for (int e = 0; e < kNumInstrumentFeatures; ++e)
            c += row[static_cast<size_t>(e)] * v[static_cast<size_t>(e)];
        // v has unit length, so c is the coordinate (row . v) / |v|^2.
        coord[i] = std::isfinite(c) ? static_cast<float>(c) : 0.0f;
        for (int e = 0; e < kNumInstrumentFeatures; ++e)
            row[static_cast<size_t>(e)] -= static_cast<float>(c * v[static_cast<size_t>(e)]);
    }
}

// Inside-or-on-edge test of the canvas lookup: the three edge signs agree (zero counts as positive).
bool insideTriangle(Point2D p, Point2D a, Point2D b, Point2D c) noexcept
{
    const float sa = (p.x - b.x) * (a.y - b.y) - (a.x - b.x) * (p.y - b.y);
    const float sb = (p.x - c.x) * (b.y - c.y) - (b.x - c.x) * (p.y - c.y);
    const float sc = (p.x - a.x) * (c.y - a.y) - (p.y - a.y) * (c.x - a.x);
    return (sa < 0.0f) == (sb < 0.0f) && (sc < 0.0f) == (sb < 0.0f);
}

bool finitePoint(Point2D p) noexcept
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}
} // namespace

void KeySpaceDSP::makeNodeCanvas(NodeCanvasData* canvas, NodeMixType type, int n, Point2D lo,
                                 Point2D hi) const
{
    if (canvas == nullptr) return;
    if (type != CategorySpace && type != RotateCurrent && type != RotateAll) type = RandomSet;
    const int soundCount = numSounds();
    if (soundCount == 0)
    {
        canvas->nodeCount = 0;
        canvas->triCount = 0;
        canvas->dirty = 1;
        canvas->triangulate();
        return;
    }

    // The chosen sounds C, the seed vector F and the K positions that stay fixed.
    std::array<int, kMaxSoundNodes> chosen{};
    int chosenCount = 0;
    InstrumentFeatures seed{};
    std::array<Point2D, kMaxSoundNodes> pos{};
    int fixedCount = 0;
    const auto featuresOf = [this](int sound) -> const InstrumentFeatures&
    { return sounds[static_cast<size_t>(sound)].features; };

    if (type == CategorySpace)
    {
        for (int s = 0; s < soundCount && chosenCount < kMaxSoundNodes; ++s)
        {
            if (sounds[static_cast<size_t>(s)].categoryIndex != n) continue;
            chosen[static_cast<size_t>(chosenCount++)] = s;
            seed.addScaledFeatures(&featuresOf(s), 1.0f);
        }
        const float inv = 1.0f / (static_cast<float>(chosenCount) + 1e-20f);
        for (float& v : seed.values)
            v *= inv;
    }
    else if (type == RotateCurrent || type == RotateAll)
    {
        // The current mix's entries that name a sound node of this canvas and a sound of this engine.
        const NodeMix& mix = canvas->currentMix;
        const int nodeCount = std::clamp(canvas->nodeCount, 0, kMaxSoundNodes);
        std::array<int, kMaxMixNodes> mixNode{};
        std::array<float, kMaxMixNodes> weight{};
        int m = 0;
        float weightSum = 0.0f;
        for (int i = 0; i < std::clamp(mix.count, 0, kMaxMixNodes); ++i)
        {
            const int node = mix.node[static_cast<size_t>(i)];
            if (node < 0 || node >= nodeCount) continue;
            const int sound = canvas->nodes[static_cast<size_t>(node)].soundId;
            if (sound < 0 || sound >= soundCount) continue;
            const float w = mix.weight[static_cast<size_t>(i)];
            mixNode[static_cast<size_t>(m)] = node;
            weight[static_cast<size_t>(m)] = (std::isfinite(w) && w > 0.0f) ? w : 0.0f;
            weightSum += weight[static_cast<size_t>(m)];
            chosen[static_cast<size_t>(m)] = sound;
            ++m;
        }
        // A mix read from a canvas sums to 1; one with dropped entries is brought back to that.
        for (int i = 0; i < m; ++i)
            weight[static_cast<size_t>(i)] =
                weightSum > 0.0f ? weight[static_cast<size_t>(i)] / weightSum : 1.0f / static_cast<float>(m);
        for (int i = 0; i < m; ++i)
            seed.addScaledFeatures(&featuresOf(chosen[static_cast<size_t>(i)]),
                                   weight[static_cast<size_t>(i)]);
        chosenCount = m;
        fixedCount = m;

        if (m == 1)
            pos[0] = Point2D{0.5f, 0.5f};
        else if (m >= 2)
        {
            // Unit figure: a segment or an equilateral triangle, corner k for mix entry k. Its point
            // at the mix's weights goes to the canvas centre, so the old mix lies at (0.5, 0.5).
            const float h = -0.8660254f; // -sqrt(3) / 2
            const std::array<Point2D, 3> corner =
                m == 2 ? std::array<Point2D, 3>{Point2D{0, 0}, Point2D{0, -1}, Point2D{}}
                       : std::array<Point2D, 3>{Point2D{0, 0}, Point2D{1, 0}, Point2D{0.5f, h}};
            Point2D w{};
            for (int k = 0; k < m; ++k)
            {
                w.x += weight[static_cast<size_t>(k)] * corner[static_cast<size_t>(k)].x;
                w.y += weight[static_cast<size_t>(k)] * corner[static_cast<size_t>(k)].y;
            }
            const float theta = kTwoPi * draw();
            const float ct = std::cos(theta), st = std::sin(theta);
            for (int k = 0; k < m; ++k)
            {
                const float dx = corner[static_cast<size_t>(k)].x - w.x;
                const float dy = corner[static_cast<size_t>(k)].y - w.y;
                pos[static_cast<size_t>(k)] = Point2D{0.5f + kFixedFigureScale * (dx * ct + dy * st),
                                                      0.5f + kFixedFigureScale * (dy * ct - dx * st)};
            }
        }

        if (type == RotateCurrent)
        {
            for (int i = 0; i < nodeCount && chosenCount < kMaxSoundNodes; ++i)
            {
                if (std::find(mixNode.begin(), mixNode.begin() + m, i) != mixNode.begin() + m) continue;
                const int sound = canvas->nodes[static_cast<size_t>(i)].soundId;
                if (sound < 0 || sound >= soundCount) continue;
                chosen[static_cast<size_t>(chosenCount++)] = sound;
            }
        }
    }
    else
    {
        seed = featuresOf(engineRand() % soundCount);
    }

    // Neighbourhood: the sounds nearest to the seed vector, not already chosen.
    if (type == RandomSet || type == RotateAll)
    {
        constexpr float kChosen = std::numeric_limits<float>::infinity();
        std::vector<IndexAndVal> order(static_cast<size_t>(soundCount));
        for (int s = 0; s < soundCount; ++s)
        {
            IndexAndVal& rec = order[static_cast<size_t>(s)];
            rec.index = s;
            if (std::find(chosen.begin(), chosen.begin() + chosenCount, s) != chosen.begin() + chosenCount)
            {
                rec.val = kChosen;
                continue;
            }
            double d2 = 0.0;
            const InstrumentFeatures& f = featuresOf(s);
            for (int e = 0; e < kNumInstrumentFeatures; ++e)
            {
                const double d = static_cast<double>(f[e]) - seed[e];
                d2 += d * d;
            }
            // A distance that is not a number must not reach the sort; such a sound sorts last among
            // the unchosen ones.
            const float v = static_cast<float>(d2);
            rec.val = std::isfinite(v) ? v : std::numeric_limits<float>::max();
        }
        std::sort(order.begin(), order.end(),
                  [](const IndexAndVal& a, const IndexAndVal& b)
                  { return a.val < b.val || (a.val == b.val && a.index < b.index); });
        const int want = kNeighbourhoodSize - chosenCount;
        if (want >= 1 && chosenCount <= kMaxSoundNodes - 1)
        {
            const int take = std::min({want, kMaxSoundNodes - chosenCount, soundCount});
            // Chosen sounds sort last; they are not added a second time, so fewer sounds than the
            // target give a smaller canvas.
            for (int i = 0; i < take && order[static_cast<size_t>(i)].val != kChosen; ++i)
                chosen[static_cast<size_t>(chosenCount++)] = order[static_cast<size_t>(i)].index;
        }
    }

    // Feature rows relative to the seed, slightly jittered.
    const int rowCount = chosenCount;
    std::vector<FeatureRow> rows(static_cast<size_t>(rowCount));
    for (int r = 0; r < rowCount; ++r)
    {
        const InstrumentFeatures& f = featuresOf(chosen[static_cast<size_t>(r)]);
        for (int e = 0; e < kNumInstrumentFeatures; ++e)
        {
            float v = f[e] - seed[e];
            const float u1 = draw();
            const float u2 = draw();
            v = v * (1.0f + (u1 - 0.5f) * kRowRelJitter) + (u2 - 0.5f) * kRowAbsJitter;
            rows[static_cast<size_t>(r)][static_cast<size_t>(e)] = std::isfinite(v) ? v : 0.0f;
        }
    }

    // Plane coordinates: random for one or two sounds, else the two main directions.
    std::array<float, kMaxSoundNodes> px{}, py{};
    if (rowCount < 3)
    {
        for (int i = 0; i < rowCount; ++i)
            px[static_cast<size_t>(i)] = (draw() - 0.5f) * kRandomCoordWidth;
        for (int i = 0; i < rowCount; ++i)
            py[static_cast<size_t>(i)] = (draw() - 0.5f) * kRandomCoordWidth;
    }
    else
    {
        projectOnMainDirection(rows, px.data());
        projectOnMainDirection(rows, py.data());
    }
    for (int i = fixedCount; i < rowCount; ++i)
    {
        const float jx = (draw() - 0.5f) * kPositionJitter;
        const float jy = (draw() - 0.5f) * kPositionJitter;
        pos[static_cast<size_t>(i)] =
            Point2D{px[static_cast<size_t>(i)] + jx, py[static_cast<size_t>(i)] + jy};
    }

    canvas->nodeCount = 0;
    canvas->triCount = 0;
    canvas->dirty = 1;

    // Scale so the farthest coordinate (fixed positions included) lies kSpreadRadius from the centre.
    float extent = 0.0f;
    for (int i = 0; i < rowCount; ++i)
    {
        const Point2D p = pos[static_cast<size_t>(i)];
        extent = std::max({extent, p.x, p.y, -p.x, -p.y});
    }
    // All points at the origin (or a non-finite extent) would give 0 / 0: keep them unscaled.
    const float scale = (extent > 1e-20f && std::isfinite(extent)) ? kSpreadRadius / extent : kSpreadRadius;
    for (int i = fixedCount; i < rowCount; ++i)
    {
        Point2D& p = pos[static_cast<size_t>(i)];
        p = finitePoint(p) ? Point2D{p.x * scale + 0.5f, p.y * scale + 0.5f} : Point2D{0.5f, 0.5f};
    }
    if (fixedCount == 3)
    {
        for (int i = fixedCount; i < rowCount; ++i)
        {
            Point2D& p = pos[static_cast<size_t>(i)];
            for (int push = 0; push < kMaxPushOuts && insideTriangle(p, pos[0], pos[1], pos[2]); ++push)
            {
                const float jx = (draw() - 0.5f) * kPositionJitter;
                const float jy = (draw() - 0.5f) * kPositionJitter;
                p = Point2D{(p.x - 0.5f) * kPushOutGrowth + 0.5f + jx,
                            (p.y - 0.5f) * kPushOutGrowth + 0.5f + jy};
            }
        }
    }
    // Coincident points repel each other with a zero gradient and would never separate.
    for (int i = std::max(fixedCount, 1); i < rowCount; ++i)
    {
        Point2D& p = pos[static_cast<size_t>(i)];
        for (int j = 0; j < i; ++j)
        {
            if (p.x != pos[static_cast<size_t>(j)].x || p.y != pos[static_cast<size_t>(j)].y) continue;
            p.x += (draw() - 0.5f) * kPositionJitter * 0.1f;
            p.y += (draw() - 0.5f) * kPositionJitter * 0.1f;
        }
    }

    MDS_2D scaler;
    for (int step = 0; step < kLayoutSteps; ++step)
        scaler.iterate(pos.data(), rowCount, lo, hi, fixedCount);

    for (int i = 0; i < rowCount && canvas->nodeCount < kMaxSoundNodes; ++i)
    {
        CanvasNode& node = canvas->nodes[static_cast<size_t>(canvas->nodeCount++)];
        node.pos = pos[static_cast<size_t>(i)];
        node.soundId = chosen[static_cast<size_t>(i)];
        canvas->dirty = 1;
    }
    canvas->triangulate();
}
