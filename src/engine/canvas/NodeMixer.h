#pragma once

// The canvas of sounds: nodes on the unit square, their triangulation, the lookup that turns a point
// into up to three sounds with weights, and the node part of the host state block.
//
// The records here are plain fixed-size data: they cross threads by whole copies (through SynthFIFO)
// and must stay trivially copyable.

#include <array>
#include <cstdint>
#include <type_traits>

// ---- capacities ---------------------------------------------------------------------------------

// A state block stores the node count in one byte, but the canvas itself never holds more than this.
inline constexpr int kMaxSoundNodes = 64;
// The octagon of frame points that triangulate() appends behind the sound nodes.
inline constexpr int kNumFramePoints = 8;
// Sound nodes plus frame points: the largest point set the triangulation works on.
inline constexpr int kMaxTriangulationPoints = kMaxSoundNodes + kNumFramePoints;
// Room in the node array: 64 sound nodes, the 8 frame points behind them and some slack.
inline constexpr int kMaxCanvasNodes = 80;
// 64 interior nodes inside the octagon triangulate into 2 * 64 + 6 = 134 triangles; 148 leaves slack.
inline constexpr int kMaxTriangles = 148;
// Sounds a mix blends at most (the corners of one triangle).
inline constexpr int kMaxMixNodes = 3;

static_assert(kMaxTriangulationPoints <= kMaxCanvasNodes);
static_assert(2 * kMaxSoundNodes + 6 <= kMaxTriangles);

// ---- canvas modes -------------------------------------------------------------------------------

inline constexpr int32_t kCanvasModeExplore = 0;
inline constexpr int32_t kCanvasModeXYPad = 1;
inline constexpr int32_t kCanvasModeKeyboard = 2;
inline constexpr int kNumCanvasModes = 3;

// Range every looked-up point is held in when the mode's bounds are not used (or are unusable).
inline constexpr float kFallbackLo = -0.5f;
inline constexpr float kFallbackHi = 1.5f;

// Frame octagon: radius about the canvas centre.
inline constexpr float kFrameRadius = 2.0f;

// Weights at or below this are dropped from a mix; the rest lose it and are renormalised.
inline constexpr float kMixDeadZone = 0.05f;

// ---- state block strings -------------------------------------------------------------------------

// Longest text writeStringSafe writes (longer ones are cut) and readStringSafe accepts.
inline constexpr int kStateStringMaxLen = 64;
// Size of a slot that holds such a text with its terminating NUL.
inline constexpr int kStateStringSlotSize = kStateStringMaxLen + 1;

// ---- records ------------------------------------------------------------------------------------

struct Point2D
{
    float x = 0.0f;
    float y = 0.0f;
};

struct CanvasNode
{
    Point2D pos;
    int32_t soundId = 0; // index into the engine's sound list; -1 for a frame point
};

// Result of a point lookup. Entries of node/weight at or beyond count carry no meaning.
struct NodeMix
{
    std::array<int32_t, kMaxMixNodes> node{}; // indices into NodeCanvasData::nodes, never a frame point
    int32_t count = 0;                        // 0 to 3
    std::array<float, kMaxMixNodes> weight{}; // sum to 1 when count > 0
    Point2D point;                            // the looked-up point after clamping
    Point2D rebuiltPoint;                     // point rebuilt from the triangle and unclamped weights
    int32_t mode = 0;                         // canvas mode the mix was computed for
};

// One canvas. A new canvas starts zeroed ({}), is filled, then triangulated.
struct NodeCanvasData
{
    // Sound nodes 0 .. nodeCount-1, then the frame points triangulate() appends.
    std::array<CanvasNode, kMaxCanvasNodes> nodes{};
    std::array<std::array<uint16_t, 3>, kMaxTriangles> tri{};
    std::array<int16_t, kMaxTriangles> triShade{}; // 0 to 3; triangles sharing an edge differ
    int32_t nodeCount = 0;                         // sound nodes only, 0 to kMaxSoundNodes
    int32_t triCount = 0;
    NodeMix currentMix; // its point is the canvas's current point
    uint8_t dirty = 0;  // 1 while the nodes changed since the last triangulation
    int32_t mode = kCanvasModeExplore;
    float keyOffsetX = 0.0f;                   // Keyboard mode: x of the keyboard's origin
    float keyOctaveWidth = 0.0f;               // Keyboard mode: canvas width of one octave
    std::array<Point2D, kNumCanvasModes> lo{}; // lower corner of the point's bounds, per mode
    std::array<Point2D, kNumCanvasModes> hi{}; // upper corner of the point's bounds, per mode

    // The last lookup that found its point in the triangle its hint named, with everything its mix
    // came from; a lookup of the same point from the same hint on an unchanged triangle reuses the
    // mix, since voices ask for the same point every hop while the morph stands still.
    struct HintedLookup
    {
        Point2D point;
        int32_t tri = -1;
        std::array<uint16_t, 3> corner{};
        std::array<Point2D, 3> cornerPos{};
        int32_t nodeCount = 0;
        int32_t triCount = 0;
        int32_t mode = 0;
        NodeMix mix;
    };
    HintedLookup lastHinted;

    // Appends the frame points, rebuilds tri/triCount/triShade, recomputes currentMix for the current
    // point (clamped to the mode, no hint) and clears dirty. A nodeCount outside 0..64 is first held
    // in that range; nodes with non-finite or absurdly distant coordinates join no triangle.
    void triangulate() noexcept;

    // Looks up the mix for p. With store the result also becomes currentMix. triHint may be null;
    // when given, the search starts at that triangle and the triangle found is written back.
    // clampToMode holds p in the mode's bounds instead of the fallback range. Never allocates.
    NodeMix getNodeMixForPoint(Point2D p, bool store, int* triHint, bool clampToMode) noexcept;

    // Node part of the state block: the count byte, each node's sound name, x and y, then the current
    // point. Returns the part's length; a null buf makes it a size pass. Map is any record with a
    // NUL-terminated char array `name` (InstrumentMap); mapCount is the number of records in maps, and
    // a node whose soundId lies outside it is written with an empty name.
    template <class Map>
    int writeState(unsigned char* buf, int cap, const Map* maps, int mapCount) const noexcept
    {
        return writeNodePart(buf, cap, &mapName<Map>, maps, mapCount);
    }

    // Reads a node part that starts at pos in a block of size bytes (untrusted: every read is bounded
    // by size) into nodes, nodeCount and the current point, then triangulates. Each stored name maps
    // to the first of the mapCount maps with that name (compared over 64 bytes); unknown or over-long
    // names drop their node, as do nodes beyond 64. Numbers past the end read as 0, non-finite
    // coordinates as 0. mode, bounds and key layout stay as they are. Returns the position just past
    // the node part (which may lie beyond size for a truncated block).
    template <class Map>
    int readState(const unsigned char* buf, int size, int pos, const Map* maps, int mapCount) noexcept
    {
        return readNodePart(buf, size, pos, &mapName<Map>, maps, mapCount);
    }

    // Name lookup behind the two templates: the name of sound soundId in the list at ctx.
    using SoundNameFn = const char* (*)(const void* ctx, int soundId);
    int writeNodePart(unsigned char* buf, int cap, SoundNameFn nameOf, const void* ctx,
                      int count) const noexcept;
    int readNodePart(const unsigned char* buf, int size, int pos, SoundNameFn nameOf, const void* ctx,
                     int count) noexcept;

  private:
    template <class Map> static const char* mapName(const void* ctx, int soundId) noexcept
    {
        return static_cast<const Map*>(ctx)[soundId].name;
    }
};

// Writes s (at most 64 characters of it) and a 0 byte at pos when it fits below cap and buf is given;
// pos always grows by the text's length + 1, so a null buf measures. The last argument is unused.
void writeStringSafe(unsigned char* buf, int& pos, int cap, const char* s, int unused = 0) noexcept;

// Reads a 0-terminated text at pos from a buffer of size bytes (a text that runs to the end is taken
// up to the end). A text of at most 64 characters that fits outCap with its NUL is copied into out;
// a longer one leaves out unchanged. pos grows by the text's length + 1. At or past the end, out
// becomes empty and pos becomes size + 1. Give out kStateStringSlotSize bytes to read every text that
// writeStringSafe writes.
void readStringSafe(const unsigned char* buf, int& pos, int size, char* out, int outCap) noexcept;

static_assert(sizeof(Point2D) == 8);
static_assert(sizeof(CanvasNode) == 12);
static_assert(sizeof(NodeMix) == 48, "the mix queue carries 48-byte records");
static_assert(std::is_trivially_copyable_v<Point2D>);
static_assert(std::is_trivially_copyable_v<NodeMix>);
static_assert(std::is_trivially_copyable_v<NodeCanvasData>, "canvases cross threads by whole copies");
