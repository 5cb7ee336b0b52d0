#include "engine/canvas/NodeMixer.h"

#include "engine/Random.h"
#include "engine/VectorWidth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{

// Nodes further than this from the canvas centre take no part in the triangulation: their
// circumcircles would swamp the double-precision tests, and no edit puts a sound there.
constexpr double kMaxNodeOffset = 1.0e4;
// Jitter that breaks exact co-circular and collinear layouts in the triangulation's working copy.
constexpr double kJitter = 1.0e-4;
// Triples whose circumcircle is larger than this (squared radius) are near-collinear: skipped.
constexpr double kMaxCircleRadiusSq = 1.0e25;
constexpr int kNumShades = 4;
constexpr int kMaxShadeNeighbours = 3;

struct PointD
{
    double x;
    double y;
};

double jitter() noexcept
{
    return (static_cast<double>(engineRand()) / 2147483648.0 - 0.5) * kJitter;
}

bool usableNode(Point2D p) noexcept
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::fabs(p.x - 0.5f) <= kMaxNodeOffset &&
           std::fabs(p.y - 0.5f) <= kMaxNodeOffset;
}

int sharedCorners(const std::array<uint16_t, 3>& a, const std::array<uint16_t, 3>& b) noexcept
{
    int n = 0;
    for (uint16_t i : a)
        for (uint16_t j : b)
            n += (i == j) ? 1 : 0;
    return n;
}

// A mix copied as three 16-byte moves: the compiler turns a whole 48-byte copy into a string
// move, which takes longer to start than the lookup it saves.
void copyMix(NodeMix& to, const NodeMix& from) noexcept
{
    QM_ELEMENT_ALIGNED_VECTOR(Chunk, int32_t, 16);
    static_assert(sizeof(NodeMix) == 3 * sizeof(Chunk));
    auto* dst = reinterpret_cast<Chunk*>(&to);
    const auto* src = reinterpret_cast<const Chunk*>(&from);
    const Chunk a = src[0], b = src[1], c = src[2];
    dst[0] = a, dst[1] = b, dst[2] = c;
}

float clampCoordinate(float v, float lo, float hi) noexcept
{
    if (std::isnan(v)) return 0.5f * (lo + hi);
    return std::min(std::max(v, lo), hi);
}

float readF32(const unsigned char* buf, int size, int pos) noexcept
{
    if (buf == nullptr || pos < 0 || pos > size - 4) return 0.0f;
    uint32_t bits = static_cast<uint32_t>(buf[pos]) | (static_cast<uint32_t>(buf[pos + 1]) << 8) |
                    (static_cast<uint32_t>(buf[pos + 2]) << 16) | (static_cast<uint32_t>(buf[pos + 3]) << 24);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void writeF32(unsigned char* buf, int& pos, int cap, float v) noexcept
{
    if (buf != nullptr && pos >= 0 && pos <= cap - 4)
    {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        for (int b = 0; b < 4; ++b)
            buf[pos + b] = static_cast<unsigned char>(bits >> (8 * b));
    }
    pos += 4;
}

} // namespace

void NodeCanvasData::triangulate() noexcept
{
    nodeCount = std::clamp(nodeCount, 0, kMaxSoundNodes);
    const int n = nodeCount + kNumFramePoints;

    for (int k = 0; k < kNumFramePoints; ++k)
    {
        const float angle = static_cast<float>(k) * 0.785398163f; // 45 degrees
        CanvasNode& f = nodes[static_cast<size_t>(nodeCount + k)];
        f.pos = {0.5f + kFrameRadius * std::cos(angle), 0.5f + kFrameRadius * std::sin(angle)};
        f.soundId = -1;
    }

    // Jittered working copy in double precision, so that the circle tests decide by the jitter and
    // not by rounding. Nodes that cannot be placed are left out (they never join a triangle).
    std::array<PointD, kMaxTriangulationPoints> p{};
    std::array<uint8_t, kMaxTriangulationPoints> usable{};
    for (int i = 0; i < n; ++i)
    {
        const Point2D s = nodes[static_cast<size_t>(i)].pos;
        const double jx = jitter();
        const double jy = jitter();
        usable[static_cast<size_t>(i)] = usableNode(s) ? 1 : 0;
        p[static_cast<size_t>(i)] = {static_cast<double>(s.x) + jx, static_cast<double>(s.y) + jy};
    }

    triCount = 0;
    for (int i = 0; i < n && triCount < kMaxTriangles; ++i)
    {
        if (!usable[static_cast<size_t>(i)]) continue;
        const PointD pi = p[static_cast<size_t>(i)];
        for (int j = i + 1; j < n && triCount < kMaxTriangles; ++j)
        {
            if (!usable[static_cast<size_t>(j)]) continue;
            const PointD b{p[static_cast<size_t>(j)].x - pi.x, p[static_cast<size_t>(j)].y - pi.y};
            const double bb = b.x * b.x + b.y * b.y;
            for (int k = j + 1; k < n && triCount < kMaxTriangles; ++k)
            {
                if (!usable[static_cast<size_t>(k)]) continue;
                const PointD c{p[static_cast<size_t>(k)].x - pi.x, p[static_cast<size_t>(k)].y - pi.y};
                const double cc = c.x * c.x + c.y * c.y;
                const double d = 2.0 * (b.x * c.y - b.y * c.x);
                if (d == 0.0) continue; // collinear: no circle
                const PointD u{(bb * c.y - cc * b.y) / d, (cc * b.x - bb * c.x) / d};
                const double r2 = u.x * u.x + u.y * u.y;
                if (!(r2 <= kMaxCircleRadiusSq)) continue; // near-collinear, or not a number
                const PointD centre{pi.x + u.x, pi.y + u.y};
                bool empty = true;
                for (int m = 0; m < n && empty; ++m)
                {
                    if (m == i || m == j || m == k || !usable[static_cast<size_t>(m)]) continue;
                    const double dx = p[static_cast<size_t>(m)].x - centre.x;
                    const double dy = p[static_cast<size_t>(m)].y - centre.y;
                    empty = !(dx * dx + dy * dy < r2);
                }
                if (!empty) continue;
                tri[static_cast<size_t>(triCount)] = {static_cast<uint16_t>(i), static_cast<uint16_t>(j),
                                                      static_cast<uint16_t>(k)};
                ++triCount;
            }
        }
    }

    // Shades: every triangle takes the smallest shade none of its first three earlier neighbours has.
    // A triangle has at most three edge neighbours, so four shades always leave one free.
    for (int t = 0; t < triCount; ++t)
    {
        std::array<bool, kNumShades> taken{};
        int found = 0;
        for (int e = 0; e < t && found < kMaxShadeNeighbours; ++e)
        {
            if (sharedCorners(tri[static_cast<size_t>(t)], tri[static_cast<size_t>(e)]) >= 2)
            {
                const int s = triShade[static_cast<size_t>(e)];
                if (s >= 0 && s < kNumShades) taken[static_cast<size_t>(s)] = true;
                ++found;
            }
        }
        int shade = 0;
        while (shade < kNumShades - 1 && taken[static_cast<size_t>(shade)])
            ++shade;
        triShade[static_cast<size_t>(t)] = static_cast<int16_t>(shade);
    }

    lastHinted.tri = -1;
    getNodeMixForPoint(currentMix.point, true, nullptr, true);
    dirty = 0;
}

NodeMix NodeCanvasData::getNodeMixForPoint(Point2D pt, bool store, int* triHint, bool clampToMode) noexcept
{
    NodeMix mix;
    mix.mode = mode;

    Point2D lower{kFallbackLo, kFallbackLo};
    Point2D upper{kFallbackHi, kFallbackHi};
    if (clampToMode && mode >= 0 && mode < kNumCanvasModes)
    {
        const Point2D l = lo[static_cast<size_t>(mode)];
        const Point2D h = hi[static_cast<size_t>(mode)];
        // Bounds without positive, finite width and height (such as zeroed ones) cannot hold a point.
        if (h.x > l.x && h.y > l.y && std::isfinite(l.x) && std::isfinite(l.y) && std::isfinite(h.x) &&
            std::isfinite(h.y))
        {
            lower = l;
            upper = h;
        }
    }
    const Point2D p{clampCoordinate(pt.x, lower.x, upper.x), clampCoordinate(pt.y, lower.y, upper.y)};
    mix.point = p;

    const int soundNodes = std::clamp(nodeCount, 0, kMaxSoundNodes);
    const int nodesUsed = soundNodes + kNumFramePoints;
    const int tris = std::clamp(triCount, 0, kMaxTriangles);
    int start = 0;
    if (triHint != nullptr && *triHint >= 0 && *triHint < tris) start = *triHint;

    // The hinted triangle is tried first, so when it holds the point the mix depends on nothing but
    // the point, that triangle's corners and their positions, and the counts and mode; compared
    // bit for bit, so a reused mix is the one the search would find.
    const auto same = [](const auto& x, const auto& y) noexcept {
        return std::memcmp(&x, &y, sizeof x) == 0;
    };
    // (A canvas copied in carries its last lookup too: its corners are held inside the node array.)
    const auto cornerPos = [this](const std::array<uint16_t, 3>& c) noexcept {
        return std::array<Point2D, 3>{nodes[c[0] % kMaxCanvasNodes].pos, nodes[c[1] % kMaxCanvasNodes].pos,
                                      nodes[c[2] % kMaxCanvasNodes].pos};
    };
    HintedLookup& last = lastHinted;
    if (triHint != nullptr && start < tris && last.tri == start && same(last.point, p) &&
        last.nodeCount == nodeCount && last.triCount == triCount && last.mode == mode &&
        same(last.corner, tri[static_cast<size_t>(start)]) && same(last.cornerPos, cornerPos(last.corner)))
    {
        *triHint = start;
        copyMix(mix, last.mix);
        if (store) copyMix(currentMix, mix);
        return mix;
    }

    for (int visit = 0; visit < tris; ++visit)
    {
        const int t = (start + visit) % tris;
        const std::array<uint16_t, 3>& corner = tri[static_cast<size_t>(t)];
        if (corner[0] >= nodesUsed || corner[1] >= nodesUsed || corner[2] >= nodesUsed)
            continue; // left over from a larger canvas: triangulate() was not called after the change
        const Point2D a = nodes[corner[0]].pos;
        const Point2D b = nodes[corner[1]].pos;
        const Point2D c = nodes[corner[2]].pos;

        const float sa = (p.x - b.x) * (a.y - b.y) - (a.x - b.x) * (p.y - b.y);
        const float sb = (p.x - c.x) * (b.y - c.y) - (b.x - c.x) * (p.y - c.y);
        const float sc = (p.x - a.x) * (c.y - a.y) - (p.y - a.y) * (c.x - a.x);
        // The point is inside or on the edge for either winding of the corners, so that points on
        // shared edges and on nodes are found whatever order the triangle's corners were stored in.
        const bool inside =
            (sa >= 0.0f && sb >= 0.0f && sc >= 0.0f) || (sa <= 0.0f && sb <= 0.0f && sc <= 0.0f);
        if (!inside) continue;

        const float area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
        if (area == 0.0f || !std::isfinite(area))
            continue; // coincident or collinear corners hold no area: weights would not be numbers
        const float inv = 1.0f / area;
        const float wb = sc * inv;
        const float wc = ((p.y - a.y) * (b.x - a.x) - (b.y - a.y) * (p.x - a.x)) * inv;
        const float wa = 1.0f - wb - wc;
        if (!std::isfinite(wa) || !std::isfinite(wb) || !std::isfinite(wc)) continue;

        if (triHint != nullptr) *triHint = t;
        mix.rebuiltPoint = {wa * a.x + wb * b.x + wc * c.x, wa * a.y + wb * b.y + wc * c.y};

        const std::array<float, 3> w{wa, wb, wc};
        std::array<int32_t, kMaxMixNodes> keptNode{};
        std::array<float, kMaxMixNodes> keptWeight{};
        int kept = 0;
        float dropped = 0.0f;
        for (size_t q = 0; q < 3; ++q)
        {
            const float wq = std::max(w[q], 0.0f);
            if (corner[q] < soundNodes)
            {
                keptNode[static_cast<size_t>(kept)] = corner[q];
                keptWeight[static_cast<size_t>(kept)] = wq;
                ++kept;
            }
            else
            {
                dropped += wq;
            }
        }
        if (dropped > 0.0f)
        {
            if (kept == 0 || !(dropped < 1.0f))
                kept = 0; // only frame corners carry weight
            else
                for (int q = 0; q < kept; ++q)
                    keptWeight[static_cast<size_t>(q)] *= 1.0f / (1.0f - dropped);
        }

        // Dead zone: faint contributions vanish, so a point near a node plays that node alone.
        float sum = 0.0f;
        for (int q = 0; q < kept; ++q)
        {
            const float wq = keptWeight[static_cast<size_t>(q)];
            if (wq > kMixDeadZone)
            {
                mix.node[static_cast<size_t>(mix.count)] = keptNode[static_cast<size_t>(q)];
                mix.weight[static_cast<size_t>(mix.count)] = wq - kMixDeadZone;
                sum += wq - kMixDeadZone;
                ++mix.count;
            }
        }
        if (mix.count > 0 && sum > 0.0f && std::isfinite(sum))
            for (int q = 0; q < mix.count; ++q)
                mix.weight[static_cast<size_t>(q)] /= sum;
        else
            mix.count = 0;
        if (triHint != nullptr && visit == 0)
            last = {p, t, corner, cornerPos(corner), nodeCount, triCount, mode, mix};
        break;
    }

    if (store) currentMix = mix;
    return mix;
}

int NodeCanvasData::writeNodePart(unsigned char* buf, int cap, SoundNameFn nameOf, const void* ctx,
                                  int count) const noexcept
{
    const int stored = std::clamp(nodeCount, 0, kMaxSoundNodes);
    int pos = 0;
    if (buf != nullptr && cap >= 1) buf[0] = static_cast<unsigned char>(stored);
    pos = 1;
    for (int i = 0; i < stored; ++i)
    {
        const CanvasNode& node = nodes[static_cast<size_t>(i)];
        const bool known = nameOf != nullptr && ctx != nullptr && node.soundId >= 0 && node.soundId < count;
        writeStringSafe(buf, pos, cap, known ? nameOf(ctx, node.soundId) : "");
        writeF32(buf, pos, cap, node.pos.x);
        writeF32(buf, pos, cap, node.pos.y);
    }
    writeF32(buf, pos, cap, currentMix.point.x);
    writeF32(buf, pos, cap, currentMix.point.y);
    return pos;
}

int NodeCanvasData::readNodePart(const unsigned char* buf, int size, int pos, SoundNameFn nameOf,
                                 const void* ctx, int count) noexcept
{
    if (buf == nullptr || size < 0) size = 0;
    if (pos < 0) pos = size; // nothing to read: an empty canvas
    auto finite = [](float v) { return std::isfinite(v) ? v : 0.0f; };

    nodeCount = 0;
    if (pos >= size)
    {
        currentMix.point = {0.0f, 0.0f};
        triangulate();
        return pos;
    }

    const int stored = buf[pos];
    ++pos;
    std::array<char, kStateStringSlotSize> name{};
    for (int s = 0; s < stored; ++s)
    {
        name.fill(0);
        const int before = pos;
        readStringSafe(buf, pos, size, name.data(), kStateStringSlotSize);
        const bool tooLong = (pos - before - 1) > kStateStringMaxLen;
        int soundId = -1;
        if (!tooLong && nameOf != nullptr && ctx != nullptr)
        {
            for (int m = 0; m < count; ++m)
            {
                const char* candidate = nameOf(ctx, m);
                if (candidate != nullptr && std::strncmp(name.data(), candidate, kStateStringMaxLen) == 0)
                {
                    soundId = m;
                    break;
                }
            }
        }
        if (soundId >= 0 && nodeCount < kMaxSoundNodes)
        {
            CanvasNode& node = nodes[static_cast<size_t>(nodeCount)];
            node.pos = {finite(readF32(buf, size, pos)), finite(readF32(buf, size, pos + 4))};
            node.soundId = soundId;
            ++nodeCount;
        }
        pos += 8;
    }
    currentMix.point = {finite(readF32(buf, size, pos)), finite(readF32(buf, size, pos + 4))};
    pos += 8;
    dirty = 1;
    triangulate();
    return pos;
}

void writeStringSafe(unsigned char* buf, int& pos, int cap, const char* s, int) noexcept
{
    const int len = (s == nullptr) ? 0 : static_cast<int>(strnlen(s, kStateStringMaxLen));
    if (buf != nullptr && pos >= 0 && pos < cap - len)
    {
        std::memcpy(buf + pos, s, static_cast<size_t>(len));
        buf[pos + len] = 0;
    }
    pos += len + 1;
}

void readStringSafe(const unsigned char* buf, int& pos, int size, char* out, int outCap) noexcept
{
    if (buf == nullptr || pos < 0 || pos >= size)
    {
        if (out != nullptr && outCap >= 1) out[0] = 0;
        pos = (size < 0 ? 0 : size) + 1;
        return;
    }
    const void* nul = std::memchr(buf + pos, 0, static_cast<size_t>(size - pos));
    const int len = (nul != nullptr) ? static_cast<int>(static_cast<const unsigned char*>(nul) - (buf + pos))
                                     : size - pos;
    if (out != nullptr && len <= kStateStringMaxLen && len < outCap)
    {
        std::memcpy(out, buf + pos, static_cast<size_t>(len));
        out[len] = 0;
    }
    pos += len + 1;
}
