// Engine construction: init(), the sound list with its categories, colours and features (against a
// golden), and the queue intake's validation. The lookup tables are pinned by the golden renders.

#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/canvas/SoundAnalysis.h"
#include "support/EngineTestHelpers.h"

namespace
{

using qmtest::EngineRig;

TEST(EngineTables, InitTakesUsableRatesOnly)
{
    KeySpaceDSP dsp({}, {}, nullptr, 0);
    EXPECT_FALSE(dsp.isInitialised());
    for (auto [rate, taken] :
         {std::pair{48000.0f, 48000.0f}, {0.0f, 44100.0f}, {std::nanf(""), 44100.0f}, {-44100.0f, 44100.0f}})
    {
        dsp.init(rate);
        EXPECT_TRUE(dsp.isInitialised() && dsp.sampleRate == taken &&
                    dsp.addSynth->binsPerHz == dsp.binsPerHz &&
                    std::fabs(dsp.binsPerHz * taken - 262144.0f) < 0.1f)
            << rate;
    }
}

TEST(EngineQueueIntake, CountsIndicesModesAndChannelsAreMadeSafe)
{
    EngineRig rig(qmtest::bankOf({"A_One", "A_Two"}));
    KeySpaceDSP& dsp = rig.dsp();
    NodeCanvasData hostile{};
    hostile.nodeCount = 200, hostile.triCount = 500, hostile.mode = 7;
    // Sound 2 is past the sound list.
    hostile.nodes[0].soundId = 1, hostile.nodes[1].soundId = 2, hostile.nodes[2].soundId = -5;
    hostile.tri[1] = {0, 1, 79}; // 79 is past the 64 nodes and 8 frame points
    hostile.tri[2] = {3, 4, 71};
    hostile.currentMix.count = 9, hostile.currentMix.node = {0, 70, 1};
    hostile.currentMix.weight = {0.5f, 0.5f, std::nanf("")};
    dsp.receiveCanvas(hostile);
    const NodeCanvasData& c = dsp.canvas;
    EXPECT_EQ(
        (std::vector<float>{float(c.nodeCount), float(c.mode), float(c.triCount), float(c.tri[1][2]),
                            float(c.nodes[0].soundId), float(c.nodes[1].soundId), float(c.nodes[2].soundId),
                            float(c.currentMix.count), c.currentMix.weight[0]}),
        (std::vector<float>{64, 0, kMaxTriangles - 1, 71, 1, -1, -1, 1, 0.5f}));

    // A mix computed for another mode is dropped; a negative count empties; bad entries go.
    dsp.canvas.mode = kCanvasModeXYPad;
    NodeMix m{};
    m.mode = kCanvasModeKeyboard, m.count = 1;
    EXPECT_FALSE(dsp.receiveMix(m));
    m.mode = kCanvasModeXYPad, m.count = -4;
    EXPECT_TRUE(dsp.receiveMix(m) && c.currentMix.count == 0);
    m.count = 3, m.node = {1, 70, -1}, m.weight = {0.7f, 0.2f, 0.1f};
    EXPECT_TRUE(dsp.receiveMix(m) && c.currentMix.count == 1 && c.currentMix.node[0] == 1);

    // Channels 1 to 16 have records of their own; anything else reads the neutral record 0.
    for (auto [ch, record] : {std::pair{1, 1}, {16, 16}, {0, 0}, {17, 0}, {-3, 0}})
        EXPECT_EQ(&dsp.channelState(ch), &dsp.channels[size_t(record)]) << ch;
}

TEST(EngineSoundList, CategoriesColoursAndFeaturesMatchTheGolden)
{
    // Silent and band-less sounds (zero profiles) and keys where plain profile weights would underflow,
    // in categories that come back (each return starts a new category), then sounds the list refuses
    // and the demo bank, whose trailing "x" category stays uncounted and grey.
    std::vector<qmbank::BankEntry> bank;
    for (auto [name, key, bands, level] : {std::tuple{"S_silent", 60, 20, 0},
                                           {"H_top", 127, 80, 400},
                                           {"S_empty", 60, 0, 0},
                                           {"H_over_v2", 200, 10, 400}})
        bank.push_back(qmtest::entry(name, qmtest::makePlainSpec(key, bands, uint16_t(level))));
    std::vector<uint8_t> truncated = qmbank::encodeBlob(qmtest::makePlainSpec(60, 4, 1000));
    truncated.pop_back();
    bank.insert(bank.end(), {{"Keys_Short", truncated},
                             {"Pads_Broken", {'Q', 'j', 0}},
                             qmtest::entry("NoUnderscore", qmtest::makePlainSpec(60, 4, 1000))});
    const size_t edge = 4;
    for (const auto& e : qmbank::demoBank())
        bank.push_back(e);
    qmtest::EngineRig rig(bank);
    const KeySpaceDSP& dsp = rig.dsp();
    ASSERT_EQ(size_t(dsp.numSounds()), bank.size() - 3);
    EXPECT_STREQ(dsp.sounds[3].name, "over"); // the name ends at its second "_"
    qmtest::GoldenRows rows;
    for (const InstrumentMap& m : dsp.sounds)
    {
        EXPECT_EQ(m.index, &m - dsp.sounds.data());
        EXPECT_EQ(m.colour == kUncountedCategoryColour, m.category[0] == 'x') << m.category;
        rows.push_back({double(m.categoryIndex), double(m.colour >> 16 & 255), double(m.colour >> 8 & 255),
                        double(m.colour & 255)});
        rows.back().insert(rows.back().end(), m.features.values.begin(), m.features.values.end());
        for (size_t other = edge; rows.size() > edge && other + 1 < rows.size(); ++other)
        {
            double d = 0.0;
            for (size_t i = 4; i < rows[other].size(); ++i)
                d += std::pow(rows[other][i] - rows.back()[i], 2);
            EXPECT_GT(d, 1e-6) << m.name << " sounds like sound " << other;
        }
    }
    qmtest::expectMatchesGolden("render_features.txt", rows, 1e-4, 1e-6);
    for (const KeyVoice& v : dsp.voices) // the measuring voice is a temporary one
        EXPECT_EQ(v.state, 0u);
}

} // namespace
