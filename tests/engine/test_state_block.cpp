// The host state block: exact layout, round trips between engines, version rules and hostile input.
// Arbitrary mutations of blocks are the fuzz corpus's business.

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/StateBlock.h"
#include "engine/params/ParamTable.h"
#include "support/EngineTestHelpers.h"
#include "support/TestCanvas.h"

namespace
{

using Bytes = std::vector<unsigned char>;
using qmtest::startCanvas;

void put(Bytes& b, float v)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}

void put(Bytes& b, const std::string& s)
{
    b.insert(b.end(), s.c_str(), s.c_str() + s.size() + 1);
}

using StoredNode = std::pair<std::string, Point2D>;

// A block assembled by hand: header strings, values, spacer, mode, nodes by name, point.
Bytes makeBlock(const std::vector<std::string>& header, const std::vector<float>& values, int mode,
                const std::vector<StoredNode>& nodes, Point2D point)
{
    Bytes b{static_cast<unsigned char>(header.size())};
    for (const auto& s : header)
        put(b, s);
    b.insert(b.end(), {static_cast<unsigned char>(values.size() & 0xFF),
                       static_cast<unsigned char>(values.size() >> 8)});
    for (float v : values)
        put(b, v);
    b.insert(b.end(), {3, static_cast<unsigned char>(mode), static_cast<unsigned char>(nodes.size())});
    for (const auto& [name, p] : nodes)
        put(b, name), put(b, p.x), put(b, p.y);
    put(b, point.x), put(b, point.y);
    return b;
}

std::vector<float> values(const KeySpaceDSP& dsp)
{
    std::vector<float> v;
    for (const auto& p : dsp.params)
        v.push_back(p.value);
    return v;
}

// Measures, then writes; a buffer too small for the block is never written at all.
Bytes writeBlock(KeySpaceDSP& dsp, const NodeCanvasData& canvas)
{
    const auto write = [&](Bytes& b, int cap)
    {
        return writeStateBlock(b.data(), cap, dsp.params.data(), int(dsp.params.size()), canvas,
                               dsp.sounds.data(), dsp.numSounds());
    };
    Bytes none;
    const int len = write(none, 0);
    Bytes b(size_t(len), 0xEE);
    for (int cap = 0; cap < len; cap += 7)
        EXPECT_TRUE(write(b, cap) == len && b == Bytes(size_t(len), 0xEE)) << cap;
    EXPECT_EQ(write(b, len), len);
    return b;
}

StateReadOutcome readBlock(const Bytes& b, KeySpaceDSP& dsp, NodeCanvasData& canvas)
{
    return readStateBlock(b.data(), int(b.size()), dsp.params.data(), int(dsp.params.size()), canvas,
                          dsp.sounds.data(), dsp.numSounds());
}

class StateBlock : public ::testing::Test
{
  protected:
    qmtest::EngineRig a{
        qmtest::bankOf({"Keys_Alpha", "Keys_Beta", "Pads_Gamma", "Pads_Delta", "Bass_Epsilon"})};
    // The same sounds in another order: a block refers to sounds by name, not position.
    qmtest::EngineRig b{qmtest::bankOf(
        {"Bass_Epsilon", "Pads_Delta", "Keys_Alpha", "Pads_Gamma", "Keys_Beta", "Keys_Alpha"})};
};

TEST_F(StateBlock, LayoutGivesTheGoldenBytes)
{
    KeySpaceDSP& dsp = a.dsp();
    dsp.params[kParamGain].value = 1.5f;
    NodeCanvasData canvas = startCanvas();
    canvas.currentMix.point = {0.25f, -2.0f};
    canvas.nodeCount = 3;
    canvas.nodes[0] = {{0.2f, 0.3f}, 0};
    canvas.nodes[1] = {{0.7f, 0.6f}, 2};
    canvas.nodes[2] = {{0.5f, 0.5f}, 9}; // outside the sound list: stored with the empty name
    const Bytes block = writeBlock(dsp, canvas);
    EXPECT_EQ(block, makeBlock({"Quillmoor", "1.2.0"}, values(dsp), kCanvasModeXYPad,
                               {{"Alpha", {0.2f, 0.3f}}, {"Gamma", {0.7f, 0.6f}}, {"", {0.5f, 0.5f}}},
                               {0.25f, -2.0f}));
}

TEST_F(StateBlock, RoundTripKeepsValuesModeNodesByNameAndPoint)
{
    KeySpaceDSP& src = a.dsp();
    for (auto& p : src.params)
        p.value = p.convertUnitToVal(0.3f);
    NodeCanvasData canvas = startCanvas(kCanvasModeKeyboard);
    const int ids[] = {0, 2, 3, 4};
    for (int i = 0; i < 4; ++i)
        canvas.nodes[size_t(i)] = {{0.1f + 0.2f * i, 0.2f + 0.15f * i}, ids[i]};
    canvas.nodeCount = 4;
    canvas.currentMix.point = {0.45f, 0.5f};
    canvas.triangulate();
    const Bytes block = writeBlock(src, canvas);

    NodeCanvasData loaded = startCanvas();
    loaded.dirty = 1;
    const StateReadOutcome out = readBlock(block, b.dsp(), loaded);
    EXPECT_TRUE(out.result == StateReadResult::applied && out.savedVersion == "1.2.0");
    EXPECT_TRUE(loaded.triCount == canvas.triCount && loaded.dirty == 0);
    // Written again from the loaded engine (with its own sound order) the block is the same: values,
    // mode, nodes by name, positions and point came through bit for bit.
    EXPECT_EQ(writeBlock(b.dsp(), loaded), block);
}

TEST_F(StateBlock, VersionsAndHeadersDecideWhatIsRead)
{
    constexpr int kNone = -1; // nothing is read
    const std::vector<float> zeros(kNumEngineParams, 0.0f);
    // Parameters whose sinceVersion is at most storedUpTo are stored and read.
    // clang-format off
    struct Case { std::vector<std::string> header; StateReadResult result; int storedUpTo; };
    // clang-format on
    const Case cases[] = {
        {{"Quillmoor", "1.0.0"}, StateReadResult::applied, 10000000},
        // Texts the version reader cannot read count as the oldest.
        {{"Quillmoor", "1.2.0rc1"}, StateReadResult::applied, 0},
        {{"Quillmoor", "1.2.0.0.0"}, StateReadResult::applied, 0},
        {{"Quillmoor", std::string(200, '9')}, StateReadResult::applied, 0},
        {{"Quillmoor", "1.2.0", "a", "b", "c", "d", "e", "f"}, StateReadResult::applied, 1 << 30},
        {{"Quillmoor", "1.2.1"}, StateReadResult::newerVersion, kNone},
        {{}, StateReadResult::ignored, kNone},
        {{"Quillmoor"}, StateReadResult::ignored, kNone},
        {{"quillmoor", "1.2.0"}, StateReadResult::ignored, kNone},
        {{"Quillmoor ", "1.2.0"}, StateReadResult::ignored, kNone},
        {{std::string(80, 'Q'), "1.2.0"}, StateReadResult::ignored, kNone},
        {{"Quillmoor", "1.2.0", "a", "b", "c", "d", "e", "f", "g"}, StateReadResult::ignored, kNone},
    };
    KeySpaceDSP& dsp = b.dsp();
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.header.empty() ? "no header" : c.header.back());
        std::vector<float> stored;
        for (auto& p : dsp.params)
        {
            if (p.sinceVersion <= c.storedUpTo) stored.push_back(p.convertUnitToVal(0.75f));
            p.value = p.convertUnitToVal(0.1f); // neither default nor stored
        }
        const std::vector<float> before = values(dsp);
        NodeCanvasData canvas = startCanvas();
        const Bytes block = makeBlock(c.header, c.storedUpTo == kNone ? zeros : stored, 2,
                                      {{"Gamma", {0.4f, 0.5f}}}, {0.5f, 0.5f});
        const StateReadOutcome out = readBlock(block, dsp, canvas);
        EXPECT_EQ(out.result, c.result);
        EXPECT_EQ(canvas.nodeCount, c.storedUpTo == kNone ? 0 : 1);
        EXPECT_EQ(canvas.mode, c.storedUpTo == kNone ? kCanvasModeXYPad : kCanvasModeKeyboard);
        size_t k = 0;
        for (size_t i = 0; i < dsp.params.size(); ++i)
        {
            const Param& p = dsp.params[i];
            const float want = c.storedUpTo == kNone            ? before[i]
                               : p.sinceVersion <= c.storedUpTo ? stored[k++]
                                                                : p.defaultValue;
            EXPECT_EQ(p.value, want) << p.name;
        }
    }
}

TEST_F(StateBlock, ValuesModesAndNodesAreReadDefensively)
{
    KeySpaceDSP& dsp = b.dsp();
    std::vector<float> stored;
    for (const auto& p : dsp.params)
        stored.push_back(p.convertUnitToVal(0.5f));
    // Beyond the range a value takes the nearer end, infinities too; a NaN has none and takes the
    // default.
    auto end = [&](int i, bool high)
    {
        const Param& p = dsp.params[size_t(i)];
        const float a = p.convertUnitToVal(0.0f), b = p.convertUnitToVal(1.0f);
        return high ? std::max(a, b) : std::min(a, b);
    };
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const struct { int param; float stored, want; } kValueRows[] = {
        {kParamGain, 1e9f, end(kParamGain, true)},
        {kParamTimeWarp, -1e9f, end(kParamTimeWarp, false)},
        {kParamLife, kInf, end(kParamLife, true)},
        {kParamFatness, -kInf, end(kParamFatness, false)},
        {kParamFlatten, std::numeric_limits<float>::quiet_NaN(), dsp.params[kParamFlatten].defaultValue}};
    for (const auto& row : kValueRows)
        stored[size_t(row.param)] = row.stored;
    // Unknown and empty names drop their nodes; past 64 nodes the rest are read over and the point still
    // lands.
    std::vector<StoredNode> nodes = {{"Nowhere", {0.1f, 0.1f}},
                                     {"", {0.2f, 0.2f}},
                                     {"Delta", {0.3f, 0.4f}},
                                     {std::string(70, 'x'), {0, 0}}};
    for (int i = 0; i < 70; ++i)
        nodes.push_back({i % 2 ? "Alpha" : "Beta", {0.01f * float(i), 0.5f}});
    NodeCanvasData canvas = startCanvas();
    ASSERT_EQ(
        readBlock(makeBlock({"Quillmoor", "1.2.0"}, stored, 200, nodes, {0.45f, 0.55f}), dsp, canvas).result,
        StateReadResult::applied);
    for (const auto& row : kValueRows)
        EXPECT_EQ(dsp.params[size_t(row.param)].value, row.want) << dsp.params[size_t(row.param)].name;
    EXPECT_EQ(canvas.mode, kCanvasModeXYPad); // mode 200 is no mode
    ASSERT_EQ(canvas.nodeCount, kMaxSoundNodes);
    EXPECT_STREQ(dsp.sounds[size_t(canvas.nodes[0].soundId)].name, "Delta");
    // Of two sounds with one name, the first.
    EXPECT_TRUE(canvas.nodes[63].pos.x == 0.01f * 62.0f && canvas.nodes[2].soundId == 2 &&
                canvas.currentMix.point.y == 0.55f);
}

} // namespace
