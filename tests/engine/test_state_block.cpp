// The host state block: exact layout, round trips between engines, version rules and hostile input.

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/params/ParamTable.h"
#include "engine/Random.h"
#include "engine/StateBlock.h"
#include "support/TestCanvas.h"
#include "support/TestSounds.h"

namespace
{

using Bytes = std::vector<unsigned char>;
using qmtest::startCanvas;
using qmtest::TestEngine;
using qmtest::TestSoundList;

constexpr int32_t kVersion100 = 10000000; // versionStringToInt("1.0.0")

void appendString(Bytes& b, const std::string& s)
{
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
}

void appendU16(Bytes& b, uint16_t v)
{
    b.push_back(static_cast<unsigned char>(v & 0xFF));
    b.push_back(static_cast<unsigned char>(v >> 8));
}

void appendF32(Bytes& b, float v)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>((bits >> (8 * i)) & 0xFF));
}

// A block assembled by hand: header strings, values, spacer, mode, nodes by name, point.
struct NodeSpec
{
    std::string name;
    float x, y;
};
Bytes makeBlock(const std::vector<std::string>& header, const std::vector<float>& values, int mode,
                const std::vector<NodeSpec>& nodes, Point2D point)
{
    Bytes b;
    b.push_back(static_cast<unsigned char>(header.size()));
    for (const auto& s : header)
        appendString(b, s);
    appendU16(b, static_cast<uint16_t>(values.size()));
    for (float v : values)
        appendF32(b, v);
    b.push_back(3);
    b.push_back(static_cast<unsigned char>(mode));
    b.push_back(static_cast<unsigned char>(nodes.size()));
    for (const auto& n : nodes)
    {
        appendString(b, n.name);
        appendF32(b, n.x);
        appendF32(b, n.y);
    }
    appendF32(b, point.x);
    appendF32(b, point.y);
    return b;
}

std::vector<float> values(const KeySpaceDSP& dsp)
{
    std::vector<float> v;
    for (const auto& p : dsp.params)
        v.push_back(p.value);
    return v;
}

Bytes writeBlock(KeySpaceDSP& dsp, const NodeCanvasData& canvas)
{
    const int len = writeStateBlock(nullptr, 0, dsp.params.data(), static_cast<int>(dsp.params.size()),
                                    canvas, dsp.sounds.data(), dsp.numSounds());
    Bytes b(static_cast<size_t>(len), 0xEE);
    EXPECT_EQ(writeStateBlock(b.data(), len, dsp.params.data(), static_cast<int>(dsp.params.size()), canvas,
                              dsp.sounds.data(), dsp.numSounds()),
              len);
    return b;
}

StateReadOutcome readBlock(const Bytes& b, KeySpaceDSP& dsp, NodeCanvasData& canvas)
{
    return readStateBlock(b.data(), static_cast<int>(b.size()), dsp.params.data(),
                          static_cast<int>(dsp.params.size()), canvas, dsp.sounds.data(), dsp.numSounds());
}

void expectSameCanvas(const NodeCanvasData& a, const NodeCanvasData& b)
{
    EXPECT_EQ(a.mode, b.mode);
    ASSERT_EQ(a.nodeCount, b.nodeCount);
    for (int i = 0; i < a.nodeCount; ++i)
    {
        EXPECT_EQ(a.nodes[i].soundId, b.nodes[i].soundId) << "node " << i;
        EXPECT_EQ(a.nodes[i].pos.x, b.nodes[i].pos.x) << "node " << i;
        EXPECT_EQ(a.nodes[i].pos.y, b.nodes[i].pos.y) << "node " << i;
    }
    EXPECT_EQ(a.currentMix.point.x, b.currentMix.point.x);
    EXPECT_EQ(a.currentMix.point.y, b.currentMix.point.y);
    EXPECT_EQ(a.triCount, b.triCount);
}

class StateBlock : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        engineSrand(7);
        for (const char* n : {"Keys_Alpha", "Keys_Beta", "Pads_Gamma", "Pads_Delta", "Bass_Epsilon"})
            sounds.add(n, qmtest::makePlainSpec(60, 4, 1000));
        // The same sounds in another order: a block refers to sounds by name, not position.
        for (const char* n : {"Bass_Epsilon", "Pads_Delta", "Keys_Alpha", "Pads_Gamma", "Keys_Beta"})
            reordered.add(n, qmtest::makePlainSpec(60, 4, 1000));
        a = std::make_unique<TestEngine>(&sounds);
        b = std::make_unique<TestEngine>(&reordered);
    }

    TestSoundList sounds, reordered;
    std::unique_ptr<TestEngine> a, b;
};

TEST_F(StateBlock, EmptyCanvasGivesTheGoldenBytes)
{
    KeySpaceDSP& dsp = a->dsp();
    ASSERT_EQ(dsp.params.size(), size_t{kNumEngineParams});
    dsp.params[kParamGain].value = 1.5f; // 0x3FC00000
    NodeCanvasData canvas = startCanvas();
    canvas.currentMix.point = {0.25f, -2.0f};

    const Bytes block = writeBlock(dsp, canvas);
    ASSERT_EQ(block.size(), 570u);

    const unsigned char head[] = {2, 'Q', 'u', 'i', 'l', 'l', 'm', 'o', 'o', 'r',
                                  0, '1', '.', '2', '.', '0', 0,   135, 0};
    ASSERT_EQ(0, std::memcmp(block.data(), head, sizeof head));
    const unsigned char gain[] = {0x00, 0x00, 0xC0, 0x3F};
    EXPECT_EQ(0, std::memcmp(block.data() + 19, gain, 4));
    // Every value as stored, then spacer 3, mode 1, no nodes and the point.
    Bytes expected(block.begin(), block.begin() + 19);
    for (const auto& p : dsp.params)
        appendF32(expected, p.value);
    expected.push_back(3);
    expected.push_back(1);
    expected.push_back(0);
    appendF32(expected, 0.25f);
    appendF32(expected, -2.0f);
    EXPECT_EQ(block, expected);
}

TEST_F(StateBlock, LengthFollowsTheNodeNames)
{
    NodeCanvasData canvas = startCanvas();
    canvas.nodeCount = 2;
    canvas.nodes[0] = {{0.2f, 0.3f}, 0}; // "Alpha"
    canvas.nodes[1] = {{0.7f, 0.6f}, 2}; // "Gamma"
    const Bytes block = writeBlock(a->dsp(), canvas);
    EXPECT_EQ(block.size(), 570u + (5 + 9) + (5 + 9));
    // A too small buffer is only measured, never written.
    Bytes small(100, 0xAB);
    EXPECT_EQ(writeStateBlock(small.data(), 100, a->dsp().params.data(), kNumEngineParams, canvas,
                              a->dsp().sounds.data(), a->dsp().numSounds()),
              static_cast<int>(block.size()));
    EXPECT_EQ(small, Bytes(100, 0xAB));
}

TEST_F(StateBlock, RoundTripKeepsValuesModeNodesByNameAndPoint)
{
    KeySpaceDSP& src = a->dsp();
    for (auto& p : src.params)
        p.value = p.convertUnitToVal(0.3f);
    NodeCanvasData canvas = startCanvas();
    canvas.mode = kCanvasModeKeyboard;
    const int ids[] = {0, 2, 3, 4};
    for (int i = 0; i < 4; ++i)
        canvas.nodes[i] = {{0.1f + 0.2f * i, 0.2f + 0.15f * i}, ids[i]};
    canvas.nodeCount = 4;
    canvas.currentMix.point = {0.45f, 0.5f};
    canvas.dirty = 1;
    canvas.triangulate();
    const Bytes block = writeBlock(src, canvas);

    NodeCanvasData loaded = startCanvas();
    const StateReadOutcome out = readBlock(block, b->dsp(), loaded);
    EXPECT_EQ(out.result, StateReadResult::applied);
    EXPECT_EQ(out.savedVersion, "1.2.0");
    EXPECT_EQ(values(b->dsp()), values(src));
    EXPECT_EQ(loaded.mode, kCanvasModeKeyboard);
    ASSERT_EQ(loaded.nodeCount, 4);
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_STREQ(b->dsp().sounds[loaded.nodes[i].soundId].name, src.sounds[ids[i]].name);
        EXPECT_EQ(loaded.nodes[i].pos.x, canvas.nodes[i].pos.x);
        EXPECT_EQ(loaded.nodes[i].pos.y, canvas.nodes[i].pos.y);
    }
    EXPECT_EQ(loaded.currentMix.point.x, canvas.currentMix.point.x);
    EXPECT_EQ(loaded.currentMix.point.y, canvas.currentMix.point.y);
    EXPECT_GT(loaded.triCount, 0);
    EXPECT_EQ(loaded.dirty, 0);

    // Written again from the loaded engine (with its own sound order) the block is the same.
    EXPECT_EQ(writeBlock(b->dsp(), loaded), block);
}

TEST_F(StateBlock, OlderVersionLeavesNewerParametersAtTheirDefaults)
{
    KeySpaceDSP& dsp = b->dsp();
    std::vector<int> older;
    for (int i = 0; i < kNumEngineParams; ++i)
        if (dsp.params[i].sinceVersion <= kVersion100) older.push_back(i);
    ASSERT_EQ(older.size(), 69u);

    std::vector<float> stored;
    for (int i : older)
        stored.push_back(dsp.params[i].convertUnitToVal(0.75f));
    for (auto& p : dsp.params)
        p.value = p.convertUnitToVal(0.1f); // differs from both the default and the stored values

    NodeCanvasData canvas = startCanvas();
    const Bytes block = makeBlock({"Quillmoor", "1.0.0"}, stored, 0, {{"Gamma", 0.4f, 0.5f}}, {0.5f, 0.5f});
    ASSERT_EQ(readBlock(block, dsp, canvas).result, StateReadResult::applied);
    size_t k = 0;
    for (int i = 0; i < kNumEngineParams; ++i)
    {
        const Param& p = dsp.params[i];
        if (p.sinceVersion > kVersion100)
            EXPECT_EQ(p.value, p.defaultValue) << p.name << " (" << i << ")";
        else
            EXPECT_EQ(p.value, stored[k++]) << p.name << " (" << i << ")";
    }
    EXPECT_EQ(canvas.mode, kCanvasModeExplore);
    ASSERT_EQ(canvas.nodeCount, 1);
    EXPECT_STREQ(dsp.sounds[canvas.nodes[0].soundId].name, "Gamma");
}

TEST_F(StateBlock, UnreadableVersionTextsCountAsTheOldest)
{
    // Texts versionStringToInt cannot read (another character, five fields, longer than a slot).
    for (const std::string& version :
         {std::string("1.2.0rc1"), std::string("1.2.0.0.0"), std::string(200, '9')})
    {
        KeySpaceDSP& dsp = b->dsp();
        std::vector<float> stored;
        for (const auto& p : dsp.params)
            if (p.sinceVersion == 0) stored.push_back(p.convertUnitToVal(0.6f));
        for (auto& p : dsp.params)
            p.value = p.convertUnitToVal(0.1f);
        NodeCanvasData canvas = startCanvas();
        const Bytes block = makeBlock({"Quillmoor", version}, stored, 1, {}, {0.5f, 0.5f});
        ASSERT_EQ(readBlock(block, dsp, canvas).result, StateReadResult::applied) << version;
        size_t k = 0;
        for (const auto& p : dsp.params)
            EXPECT_EQ(p.value, p.sinceVersion > 0 ? p.defaultValue : stored[k++]) << p.name;
    }
}

TEST_F(StateBlock, NewerVersionChangesNothing)
{
    KeySpaceDSP& dsp = b->dsp();
    const std::vector<float> before = values(dsp);
    NodeCanvasData canvas = startCanvas();
    const NodeCanvasData original = canvas;
    std::vector<float> stored(kNumEngineParams, 0.0f);
    const Bytes block = makeBlock({"Quillmoor", "1.2.1"}, stored, 2, {{"Alpha", 0.1f, 0.1f}}, {0.9f, 0.9f});
    const StateReadOutcome out = readBlock(block, dsp, canvas);
    EXPECT_EQ(out.result, StateReadResult::newerVersion);
    EXPECT_EQ(out.savedVersion, "1.2.1");
    EXPECT_EQ(
        newerStateVersionMessage(out.savedVersion),
        "This state was saved with a newer version of Quillmoor: 1.2.1, you have 1.2.0. Please upgrade.\n");
    EXPECT_EQ(values(dsp), before);
    expectSameCanvas(canvas, original);
}

TEST_F(StateBlock, RejectedHeadersChangeNothing)
{
    KeySpaceDSP& dsp = b->dsp();
    const std::vector<float> before = values(dsp);
    const std::vector<float> stored(kNumEngineParams, 0.0f);
    std::vector<Bytes> blocks = {
        Bytes{},
        makeBlock({}, stored, 0, {}, {}),
        makeBlock({"Quillmoor"}, stored, 0, {}, {}),
        makeBlock({"quillmoor", "1.2.0"}, stored, 0, {}, {}),
        makeBlock({"Quillmoor ", "1.2.0"}, stored, 0, {}, {}),
        makeBlock({std::string(80, 'Q'), "1.2.0"}, stored, 0, {}, {}),
        makeBlock({"Quillmoor", "1.2.0", "a", "b", "c", "d", "e", "f", "g"}, stored, 0, {}, {}),
    };
    for (size_t i = 0; i < blocks.size(); ++i)
    {
        NodeCanvasData canvas = startCanvas();
        const NodeCanvasData original = canvas;
        EXPECT_EQ(readBlock(blocks[i], dsp, canvas).result, StateReadResult::ignored) << "block " << i;
        EXPECT_EQ(values(dsp), before) << "block " << i;
        expectSameCanvas(canvas, original);
    }
    // Eight header strings are still a block; the ones after the second are passed over.
    NodeCanvasData canvas = startCanvas();
    const Bytes eight = makeBlock({"Quillmoor", "1.2.0", "a", "b", "c", "d", "e", "f"}, stored, 2, {}, {});
    EXPECT_EQ(readBlock(eight, dsp, canvas).result, StateReadResult::applied);
    EXPECT_EQ(canvas.mode, kCanvasModeKeyboard);
}

TEST_F(StateBlock, StoredValuesAreClampedAndNonNumbersTakeTheDefault)
{
    KeySpaceDSP& dsp = b->dsp();
    std::vector<float> stored;
    for (const auto& p : dsp.params)
        stored.push_back(p.convertUnitToVal(0.5f));
    stored[kParamGain] = 1e9f;
    stored[kParamTimeWarp] = -1e9f;
    stored[kParamFlatten] = std::numeric_limits<float>::quiet_NaN();
    stored[kParamLife] = std::numeric_limits<float>::infinity();
    stored[kParamFatness] = -std::numeric_limits<float>::infinity();
    NodeCanvasData canvas = startCanvas();
    ASSERT_EQ(readBlock(makeBlock({"Quillmoor", "1.2.0"}, stored, 1, {}, {}), dsp, canvas).result,
              StateReadResult::applied);
    auto hi = [&](int i)
    { return std::max(dsp.params[i].convertUnitToVal(0), dsp.params[i].convertUnitToVal(1)); };
    auto lo = [&](int i)
    { return std::min(dsp.params[i].convertUnitToVal(0), dsp.params[i].convertUnitToVal(1)); };
    EXPECT_EQ(dsp.params[kParamGain].value, hi(kParamGain));
    EXPECT_EQ(dsp.params[kParamTimeWarp].value, lo(kParamTimeWarp));
    EXPECT_EQ(dsp.params[kParamFlatten].value, dsp.params[kParamFlatten].defaultValue);
    EXPECT_EQ(dsp.params[kParamLife].value, dsp.params[kParamLife].defaultValue);
    EXPECT_EQ(dsp.params[kParamFatness].value, dsp.params[kParamFatness].defaultValue);
}

TEST_F(StateBlock, ModeByteOutsideTheModesOrMissingKeepsTheMode)
{
    KeySpaceDSP& dsp = b->dsp();
    const std::vector<float> stored(4, 0.0f);
    for (int mode : {3, 200, 255})
    {
        NodeCanvasData canvas = startCanvas();
        ASSERT_EQ(readBlock(makeBlock({"Quillmoor", "1.2.0"}, stored, mode, {}, {}), dsp, canvas).result,
                  StateReadResult::applied);
        EXPECT_EQ(canvas.mode, kCanvasModeXYPad) << mode;
    }
    // Cut just after the spacer byte: no mode, no nodes, no point.
    Bytes cut = makeBlock({"Quillmoor", "1.2.0"}, stored, 0, {{"Alpha", 0.2f, 0.2f}}, {0.5f, 0.5f});
    cut.resize(1 + 10 + 6 + 2 + 16 + 1);
    NodeCanvasData canvas = startCanvas();
    canvas.currentMix.point = {0.6f, 0.6f};
    ASSERT_EQ(readBlock(cut, dsp, canvas).result, StateReadResult::applied);
    EXPECT_EQ(canvas.mode, kCanvasModeXYPad);
    EXPECT_EQ(canvas.nodeCount, 0);
    // The point (0, 0), held in the XY Pad bounds by the triangulation's lookup.
    EXPECT_EQ(canvas.currentMix.point.x, 0.3f);
    EXPECT_EQ(canvas.currentMix.point.y, 0.33f);
}

TEST_F(StateBlock, UnknownNamesDropTheirNodesAndMoreThan64KeepTheFirst)
{
    KeySpaceDSP& dsp = b->dsp();
    std::vector<NodeSpec> nodes = {
        {"Nowhere", 0.1f, 0.1f}, {"Delta", 0.3f, 0.4f}, {std::string(70, 'x'), 0, 0}};
    for (int i = 0; i < 70; ++i)
        nodes.push_back({i % 2 ? "Alpha" : "Beta", 0.01f * i, 0.5f});
    NodeCanvasData canvas = startCanvas();
    ASSERT_EQ(readBlock(makeBlock({"Quillmoor", "1.2.0"}, {}, 0, nodes, {0.25f, 0.75f}), dsp, canvas).result,
              StateReadResult::applied);
    ASSERT_EQ(canvas.nodeCount, kMaxSoundNodes);
    EXPECT_STREQ(dsp.sounds[canvas.nodes[0].soundId].name, "Delta");
    EXPECT_EQ(canvas.nodes[0].pos.y, 0.4f);
    EXPECT_EQ(canvas.nodes[63].pos.x, 0.01f * 62);
    // The nodes past the 64th are still read past: the point after them lands.
    EXPECT_EQ(canvas.currentMix.point.x, 0.25f);
    EXPECT_EQ(canvas.currentMix.point.y, 0.75f);
}

// Checks the engine stays sane after reading arbitrary bytes.
void expectSane(const KeySpaceDSP& dsp, const NodeCanvasData& canvas)
{
    ASSERT_GE(canvas.nodeCount, 0);
    ASSERT_LE(canvas.nodeCount, kMaxSoundNodes);
    ASSERT_GE(canvas.mode, 0);
    ASSERT_LT(canvas.mode, kNumCanvasModes);
    for (int i = 0; i < canvas.nodeCount; ++i)
    {
        ASSERT_GE(canvas.nodes[i].soundId, 0);
        ASSERT_LT(canvas.nodes[i].soundId, dsp.numSounds());
        ASSERT_TRUE(std::isfinite(canvas.nodes[i].pos.x) && std::isfinite(canvas.nodes[i].pos.y));
    }
    for (const auto& p : dsp.params)
        ASSERT_TRUE(std::isfinite(p.value)) << p.name;
}

TEST_F(StateBlock, EveryPrefixAndRandomMutationsReadSafely)
{
    KeySpaceDSP& src = a->dsp();
    NodeCanvasData canvas = startCanvas();
    for (int i = 0; i < 5; ++i)
        canvas.nodes[i] = {{0.15f * (i + 1), 0.1f + 0.17f * i}, i};
    canvas.nodeCount = 5;
    canvas.currentMix.point = {0.5f, 0.5f};
    const Bytes block = writeBlock(src, canvas);

    KeySpaceDSP& dsp = b->dsp();
    for (size_t len = 0; len <= block.size(); ++len)
    {
        // Copied into a buffer of exactly that length so that the sanitizer sees any overread.
        const Bytes prefix(block.begin(), block.begin() + static_cast<long>(len));
        NodeCanvasData c = startCanvas();
        readBlock(prefix, dsp, c);
        expectSane(dsp, c);
    }

    std::mt19937 rng(12345);
    for (int round = 0; round < 2000; ++round)
    {
        Bytes m = block;
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e)
        {
            const size_t at = rng() % m.size();
            switch (rng() % 4)
            {
            case 0:
                m[at] = static_cast<unsigned char>(rng());
                break;
            case 1:
                m[at] ^= static_cast<unsigned char>(1u << (rng() % 8));
                break;
            case 2:
                m.erase(m.begin() + static_cast<long>(at));
                break;
            default:
                m.resize(at + 1);
                break;
            }
            if (m.empty()) m.push_back(2);
        }
        NodeCanvasData c = startCanvas();
        readBlock(m, dsp, c);
        expectSane(dsp, c);
    }
}

} // namespace
