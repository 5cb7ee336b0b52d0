// Band levels: the envelope frames a voice keeps from hop to hop give, hop after hop, exactly what
// reading the frames afresh gives, while the frames move on, the sounds change and the number of
// bands read grows and shrinks; so do the per-band terms a settled voice keeps, also once their
// inputs change; a tone shape that claims the same level at every band gives it there; and the
// sounds' envelope sums do not depend on which sound starts them.

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "engine/modulation/CanonRandom.h"
#include "engine/params/ParamTable.h"
#include "engine/voice/VoiceHop.h"
#include "support/EngineTestHelpers.h"

TEST(BandLevels, ShapeWithoutBrightnessGivesOneLevelAtEveryBand)
{
    // The band loop then takes the level at the first band for all: it must be each band's, for
    // any gain. Columns: gain, brightness up, brightness down (squared), whether the shape says so.
    constexpr float kInf = std::numeric_limits<float>::infinity();
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    const std::array<std::array<float, 4>, 12> cases{{
        {0.7f, 0.0f, 0.0f, 1}, {0.0f, 0.0f, 0.0f, 1}, {-0.0f, -0.0f, 0.0f, 1}, {1e-40f, 0.0f, 0.0f, 1},
        {3e30f, 0.0f, -0.0f, 1}, {kInf, 0.0f, 0.0f, 1}, {kNaN, -0.0f, 0.0f, 1}, {0.7f, 0.3f, 0.0f, 0},
        {0.7f, 0.0f, 0.25f, 0}, {0.7f, 1e-30f, 0.0f, 0}, {0.7f, kNaN, 0.0f, 0}, {0.7f, 0.0f, kNaN, 0},
    }};
    for (const auto& c : cases)
    {
        voicehop::ToneShape shape;
        shape.gain = c[0], shape.brightPos = c[1], shape.brightNeg2 = c[2];
        ASSERT_EQ(shape.levelSameEverywhere(), c[3] != 0.0f) << c[0] << " " << c[1] << " " << c[2];
        const uint32_t first = std::bit_cast<uint32_t>(shape.levelAt(0.0f));
        for (int x = 1; shape.levelSameEverywhere() && x <= kMaxHarmonics; ++x)
            ASSERT_EQ(std::bit_cast<uint32_t>(shape.levelAt(static_cast<float>(x))), first) << c[0] << " at " << x;
    }
}

TEST(BandLevels, KeptEnvelopeFramesGiveWhatFreshlyReadOnesGive)
{
    // Two engines render the same scene one hop per call; before each call the second one forgets
    // the frames its voices kept, so that it reads them afresh every hop.
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    qmtest::EngineRig keptRig(bank);
    qmtest::EngineRig freshRig(bank);
    constexpr int kHop = 128;
    for (qmtest::EngineRig* rig : {&keptRig, &freshRig})
    {
        KeySpaceDSP& dsp = rig->dsp();
        rig->setAllEffects(false);
        rig->pushCanvas({4, 8, 19, 22, 25, 30}, {}, kCanvasModeXYPad); // sounds with frame envelopes
        dsp.params[kParamTimeWarp].value = 0.15f; // the sounds' envelopes last several times longer
        for (int note : {84, 52, 91, 67, 96})
            qmtest::noteOn(dsp, note, 100);
    }

    std::vector<float> keptL, keptR, freshL, freshR;
    bool grew = false;
    bool shrank = false;
    bool moved = false;
    for (int hop = 0; hop < 1500; ++hop)
    {
        const float s = std::sin(static_cast<float>(hop) * 0.05f);
        for (qmtest::EngineRig* rig : {&keptRig, &freshRig})
        {
            KeySpaceDSP& dsp = rig->dsp();
            // The formant shift moves the bands the harmonics read; the morph point the sounds.
            dsp.params[kParamFormant].value = 30.0f * s;
            dsp.params[kParamMorphX].value = 0.5f + 0.45f * s;
            dsp.params[kParamMorphY].value = 0.5f + 0.45f * std::cos(static_cast<float>(hop) * 0.007f);
        }
        for (KeyVoice& v : freshRig.dsp().voices)
            for (KeyVoice::EnvelopeFrames& ef : v.envelopeFrames)
                ef = KeyVoice::EnvelopeFrames{};
        const auto before = keptRig.dsp().voices[0].envelopeFrames;
        const uint32_t seed = static_cast<uint32_t>(hop) * 7919u + 1u;
        keptRig.renderSeeded(seed, kHop, keptL, keptR);
        freshRig.renderSeeded(seed, kHop, freshL, freshR);
        const auto& after = keptRig.dsp().voices[0].envelopeFrames;
        for (std::size_t j = 0; j < after.size(); ++j)
        {
            const bool same = after[j].envelope == before[j].envelope && after[j].frame0 == before[j].frame0 &&
                              after[j].frame1 == before[j].frame1;
            grew = grew || (same && after[j].bands > before[j].bands && before[j].bands > 0);
            shrank = shrank || (same && after[j].bands < before[j].bands && after[j].bands > 0);
            moved = moved || (after[j].envelope == before[j].envelope && after[j].frame0 != before[j].frame0 &&
                              before[j].frame0 >= 0);
        }
    }
    ASSERT_EQ(keptL.size(), freshL.size());
    EXPECT_EQ(std::memcmp(keptL.data(), freshL.data(), keptL.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(keptR.data(), freshR.data(), keptR.size() * sizeof(float)), 0);
    EXPECT_GT(qmtest::peakOf(keptL), 0.0f);
    // The scene kept frames while the bands read grew and shrank, and moved on to new frames.
    EXPECT_TRUE(grew);
    EXPECT_TRUE(shrank);
    EXPECT_TRUE(moved);
}

namespace
{

// The work tables one call of bandLevels leaves, as bytes, and its tone shape field by field (its
// padding holds no value).
std::vector<uint8_t> bandLevelsOf(KeySpaceDSP& dsp, KeyVoice& v, voicehop::BandHop hop, bool settled)
{
    setCanonRandSeed(kCanonRandInitialSeed + 17u); // the same draws for every call
    hop.bandsSettled = settled;
    const voicehop::ToneShape s = voicehop::bandLevels(dsp, v, hop);
    std::vector<uint8_t> out;
    const auto add = [&out](const auto& x) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(&x);
        out.insert(out.end(), bytes, bytes + sizeof x);
    };
    add(dsp.bandAmpWork), add(dsp.bandTonalWork);
    add(dsp.bandNoisyWork), add(dsp.bandWidthWork);
    add(dsp.markValueWork), add(v.marks), add(s.hiLoOn);
    for (float f : {s.gain, s.brightPos, s.brightNeg2, s.flatten, s.flatten2, s.flattenC, s.flattenG, s.hiLoCut,
                    s.hiLoA, s.hiLoB, s.hiPassCorner, s.loPassFactor})
        add(f);
    return out;
}

} // namespace

TEST(BandLevels, KeptBandTermsGiveWhatTheLoopsWorkOut)
{
    // A settled voice takes the terms its bands alone give from those it kept, worked out anew when
    // its bands, mark count or Fatness changed. On copies of one voice, for Fatness on both sides of
    // 1, with and without brightness, with one and with several jitter marks: whatever was kept
    // (nothing, this voice's terms, or those from before a change) gives what the loops give.
    struct Case
    {
        std::vector<int> sounds;
        int note;
        float fatness, brightness, t;
    };
    const Case cases[] = {
        {{0, 1}, 36, 1.0f, 0.0f, 0.3f},         {{0, 1}, 36, 0.3f, 0.0f, 1.2f},
        {{16, 21, 11}, 48, 2.5f, 0.4f, 0.05f},  {{16, 21, 11}, 60, 0.0f, -0.5f, 2.0f},
        {{4, 8, 19}, 84, 3.7f, 0.0f, 0.7f},     {{4, 8, 19}, 96, 1.0f, 0.2f, 0.0f},
        {{23, 26, 33}, 30, 1.6f, 0.0f, 4.0f},   {{6, 11}, 72, 0.8f, -0.1f, 0.4f},
    };
    const std::function<void(KeySpaceDSP&, KeyVoice&)> changes[] = {
        [](KeySpaceDSP&, KeyVoice&) {},
        [](KeySpaceDSP&, KeyVoice& x) { x.bands.tonality[0] = x.bands.tonality[0] * 0.5f + 0.25f; },
        [](KeySpaceDSP&, KeyVoice& x) { x.bands.noiseWidth[static_cast<std::size_t>(x.activeBands - 1)] += 1.0f; },
        [](KeySpaceDSP&, KeyVoice& x) { x.bandRunningSum[static_cast<std::size_t>(x.activeBands - 1)] += 0.5f; },
        [](KeySpaceDSP&, KeyVoice& x) { x.markCount = x.markCount > 2 ? x.markCount / 2 : 3; },
        [](KeySpaceDSP& d, KeyVoice&) { d.params[kParamFatness].modValue += 0.125f; },
    };
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    bool oneMark = false, manyMarks = false;
    for (const Case& c : cases)
    {
        qmtest::EngineRig rig(bank);
        KeySpaceDSP& dsp = rig.dsp();
        const float weight = 1.0f / static_cast<float>(c.sounds.size());
        rig.pushCanvas(c.sounds, std::vector<float>(c.sounds.size(), weight));
        KeyVoice& v = dsp.voices[static_cast<std::size_t>(qmtest::noteOn(dsp, c.note, 100))];
        std::vector<float> l, r;
        rig.render(1024, 256, l, r);
        ASSERT_GT(v.activeBands, 0);
        // Jitter that shows in every band: the generators mid-way between targets of their own.
        v.bandMean19.fill(0.5f);
        for (std::size_t m = 0; m < v.marks.size(); ++m)
        {
            v.marks[m].oldTarget = std::sin(static_cast<float>(m));
            v.marks[m].newTarget = std::cos(static_cast<float>(m));
            v.marks[m].phase = 0.3f;
        }
        (v.markCount <= 1 ? oneMark : manyMarks) = true;
        voicehop::BandHop hop;
        hop.t = c.t, hop.hopSeconds = 128.0f / 44100.0f, hop.gain = 0.6f;
        hop.f = 440.0f * std::exp2(static_cast<float>(c.note - 69) / 12.0f);
        for (std::size_t k = 0; k < std::size(changes); ++k)
        {
            dsp.params[kParamFatness].modValue = c.fatness;
            dsp.params[kParamBrightness].modValue = c.brightness;
            const auto keeper = std::make_unique<KeyVoice>(v);
            keeper->steadyBands = {};
            const std::vector<uint8_t> keptAfresh = bandLevelsOf(dsp, *keeper, hop, true);
            ASSERT_GT(keeper->steadyBands.bands, 0);
            const auto byLoops = std::make_unique<KeyVoice>(v);
            changes[k](dsp, *byLoops);
            const auto byKept = std::make_unique<KeyVoice>(*byLoops);
            byKept->steadyBands = keeper->steadyBands;
            const std::vector<uint8_t> expected = bandLevelsOf(dsp, *byLoops, hop, false);
            EXPECT_EQ(bandLevelsOf(dsp, *byKept, hop, true), expected) << "note " << c.note << ", change " << k;
            if (k == 0)
            {
                EXPECT_EQ(keptAfresh, expected) << "note " << c.note;
            }
        }
    }
    EXPECT_TRUE(oneMark);
    EXPECT_TRUE(manyMarks);
}

TEST(BandLevels, EnvelopeSumsDoNotDependOnWhichSoundStartsThem)
{
    // The first sound to reach a group of eight bands starts its envelope sums and the others add
    // to them, so with two sounds of different band counts each starts some groups and adds to
    // others. Two sounds' sums do not depend on their order: swapping the sounds must leave every
    // band level as it is. Rows: the band counts of the two sounds (0: as the sound has them) and
    // the time into the sound.
    struct Case
    {
        int bands0, bands1;
        float t;
    };
    const Case cases[] = {
        {0, 0, 0.05f}, {3, 0, 0.2f}, {0, 5, 0.4f}, {9, 17, 0.05f}, {17, 9, 0.7f}, {1, 40, 0.3f}, {8, 16, 1.1f},
    };
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    qmtest::EngineRig rig(bank);
    KeySpaceDSP& dsp = rig.dsp();
    rig.pushCanvas({4, 8}, {0.6f, 0.4f}); // sounds with frame envelopes
    KeyVoice& v = dsp.voices[static_cast<std::size_t>(qmtest::noteOn(dsp, 45, 100))];
    std::vector<float> l, r;
    rig.render(512, 128, l, r);
    ASSERT_EQ(v.soundSlots, 2);
    ASSERT_GT(v.activeBands, 24);
    for (int j = 0; j < 2; ++j)
    {
        ASSERT_NE(v.slotEnvelope[static_cast<std::size_t>(j)], nullptr);
        ASSERT_GT(v.slotFrameCount[static_cast<std::size_t>(j)], 1);
    }
    int shown = 0;
    for (const Case& c : cases)
    {
        const auto inOrder = std::make_unique<KeyVoice>(v);
        for (int j = 0; j < 2; ++j)
        {
            const int bands = j == 0 ? c.bands0 : c.bands1;
            if (bands > 0)
                inOrder->slotBandCount[static_cast<std::size_t>(j)] = bands;
        }
        const auto swapped = std::make_unique<KeyVoice>(*inOrder);
        KeyVoice& s = *swapped;
        const auto swap = [](auto& slots) { std::swap(slots[0], slots[1]); };
        swap(s.slotEnvelope), swap(s.slotZone), swap(s.slotStride), swap(s.slotFrameRate), swap(s.slotWeight);
        swap(s.slotFrameCount), swap(s.slotTuneRatio), swap(s.slotWarp), swap(s.slotBandCount);
        swap(s.envelopeFrames);
        voicehop::BandHop hop;
        hop.t = c.t, hop.hopSeconds = 128.0f / 44100.0f, hop.gain = 0.6f, hop.f = 110.0f;
        const std::vector<uint8_t> expected = bandLevelsOf(dsp, *inOrder, hop, false);
        EXPECT_EQ(bandLevelsOf(dsp, s, hop, false), expected) << c.bands0 << " " << c.bands1 << " at " << c.t;
        // The sums reached the band levels: without the envelopes they differ.
        const auto without = std::make_unique<KeyVoice>(*inOrder);
        without->slotEnvelope = {};
        shown += bandLevelsOf(dsp, *without, hop, false) != expected ? 1 : 0;
    }
    EXPECT_EQ(shown, static_cast<int>(std::size(cases)));
}
