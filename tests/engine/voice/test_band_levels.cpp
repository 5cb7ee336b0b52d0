// Band levels: the envelope frames a voice keeps from hop to hop give, hop after hop, exactly what
// reading the frames afresh gives, while the frames move on, the sounds change and the number of
// bands read grows and shrinks; a tone shape that claims the same level at every band gives it
// there bit for bit.

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
    // The band loop takes the level at the first band for all bands when the shape says so, so
    // that must be what the level at each band's harmonic number is, for any gain the voice has.
    constexpr float kInf = std::numeric_limits<float>::infinity();
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    struct Case
    {
        float gain, brightPos, brightNeg2;
        bool same;
    };
    const Case cases[] = {
        {0.7f, 0.0f, 0.0f, true},    {0.0f, 0.0f, 0.0f, true},   {-0.0f, 0.0f, 0.0f, true},
        {1e-40f, 0.0f, 0.0f, true},  {3e30f, 0.0f, 0.0f, true},  {kInf, 0.0f, 0.0f, true},
        {kNaN, 0.0f, 0.0f, true},    {0.7f, -0.0f, 0.0f, true},  {-0.0f, -0.0f, 0.0f, true},
        {0.7f, 0.0f, -0.0f, true},   {0.7f, 0.3f, 0.0f, false},  {0.7f, 0.0f, 0.25f, false},
        {0.7f, 1e-30f, 0.0f, false}, {0.7f, kNaN, 0.0f, false},  {0.7f, 0.0f, kNaN, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "gain " << c.gain << ", brightness " << c.brightPos << " / " << c.brightNeg2);
        voicehop::ToneShape shape;
        shape.gain = c.gain;
        shape.brightPos = c.brightPos;
        shape.brightNeg2 = c.brightNeg2;
        EXPECT_EQ(shape.levelSameEverywhere(), c.same);
        if (!shape.levelSameEverywhere())
            continue;
        const uint32_t first = std::bit_cast<uint32_t>(shape.levelAt(0.0f));
        for (int x = 1; x <= kMaxHarmonics; ++x)
            ASSERT_EQ(std::bit_cast<uint32_t>(shape.levelAt(static_cast<float>(x))), first) << "at " << x;
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

// What one call of bandLevels leaves in the engine's band work tables.
struct BandWork
{
    std::array<float, kBandTableSize> amp, env;
    std::array<float, kBandTableSize + 1> tonal, noisy, width, marks;
    voicehop::ToneShape shape;
};

BandWork bandLevelsOf(KeySpaceDSP& dsp, KeyVoice& v, voicehop::BandHop hop, bool settled)
{
    setCanonRandSeed(kCanonRandInitialSeed + 17u); // the same draws for every call
    hop.bandsSettled = settled;
    BandWork w;
    w.shape = voicehop::bandLevels(dsp, v, hop);
    w.amp = dsp.bandAmpWork, w.env = dsp.bandEnvWork, w.tonal = dsp.bandTonalWork;
    w.noisy = dsp.bandNoisyWork, w.width = dsp.bandWidthWork, w.marks = dsp.markValueWork;
    return w;
}

// Field by field, as the shape's padding holds no value.
bool sameShape(const voicehop::ToneShape& a, const voicehop::ToneShape& b)
{
    const auto bits = [](const voicehop::ToneShape& s) {
        return std::array<uint32_t, 12>{std::bit_cast<uint32_t>(s.gain), std::bit_cast<uint32_t>(s.brightPos),
                                        std::bit_cast<uint32_t>(s.brightNeg2), std::bit_cast<uint32_t>(s.flatten),
                                        std::bit_cast<uint32_t>(s.flatten2), std::bit_cast<uint32_t>(s.flattenC),
                                        std::bit_cast<uint32_t>(s.flattenG), std::bit_cast<uint32_t>(s.hiLoCut),
                                        std::bit_cast<uint32_t>(s.hiLoA), std::bit_cast<uint32_t>(s.hiLoB),
                                        std::bit_cast<uint32_t>(s.hiPassCorner), std::bit_cast<uint32_t>(s.loPassFactor)};
    };
    return a.hiLoOn == b.hiLoOn && bits(a) == bits(b);
}

} // namespace

TEST(BandLevels, KeptBandTermsGiveWhatTheLoopsWorkOut)
{
    // A settled voice takes the terms its bands alone give from those it kept, worked out anew
    // when its bands, mark count or Fatness changed. On copies of one voice: the loops working the
    // terms out, the terms kept afresh, kept from before, and kept from before the bands changed
    // must give the same work tables and voice, for Fatness on both sides of 1, with and without
    // brightness, and voices with one and with several jitter marks.
    struct Case
    {
        std::vector<int> sounds;
        int note;
        float fatness, brightness, t;
    };
    const Case cases[] = {
        {{0, 1}, 36, 1.0f, 0.0f, 0.3f},     {{0, 1}, 36, 0.3f, 0.0f, 1.2f},     {{16, 21, 11}, 48, 2.5f, 0.4f, 0.05f},
        {{16, 21, 11}, 60, 0.0f, -0.5f, 2.0f}, {{4, 8, 19}, 84, 3.7f, 0.0f, 0.7f}, {{4, 8, 19}, 96, 1.0f, 0.2f, 0.0f},
        {{23, 26, 33}, 30, 1.6f, 0.0f, 4.0f}, {{6, 11}, 72, 0.8f, -0.1f, 0.4f},
    };
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    bool oneMark = false;
    bool manyMarks = false;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "note " << c.note << ", fatness " << c.fatness);
        qmtest::EngineRig rig(bank);
        KeySpaceDSP& dsp = rig.dsp();
        rig.pushCanvas(c.sounds, std::vector<float>(c.sounds.size(), 1.0f / static_cast<float>(c.sounds.size())));
        KeyVoice& v = dsp.voices[static_cast<std::size_t>(qmtest::noteOn(dsp, c.note, 100))];
        std::vector<float> l, r;
        rig.render(1024, 256, l, r);
        dsp.params[kParamFatness].modValue = c.fatness;
        dsp.params[kParamBrightness].modValue = c.brightness;
        ASSERT_GT(v.activeBands, 0);
        (v.markCount <= 1 ? oneMark : manyMarks) = true;

        voicehop::BandHop hop;
        hop.t = c.t;
        hop.hopSeconds = 128.0f / 44100.0f;
        hop.f = 440.0f * std::exp2(static_cast<float>(c.note - 69) / 12.0f);
        hop.gain = 0.6f;
        const auto copy = [&v] { return std::make_unique<KeyVoice>(v); };
        const auto direct = copy();
        const BandWork byLoops = bandLevelsOf(dsp, *direct, hop, false);
        const auto fresh = copy();
        fresh->steadyBands = {};
        const BandWork keptAfresh = bandLevelsOf(dsp, *fresh, hop, true);
        ASSERT_GT(fresh->steadyBands.bands, 0);
        const auto later = copy();
        later->steadyBands = fresh->steadyBands;
        const BandWork keptBefore = bandLevelsOf(dsp, *later, hop, true);
        for (const BandWork* w : {&keptAfresh, &keptBefore})
        {
            EXPECT_TRUE(qmtest::sameBytes(w->amp, byLoops.amp));
            EXPECT_TRUE(qmtest::sameBytes(w->env, byLoops.env));
            EXPECT_TRUE(qmtest::sameBytes(w->tonal, byLoops.tonal));
            EXPECT_TRUE(qmtest::sameBytes(w->noisy, byLoops.noisy));
            EXPECT_TRUE(qmtest::sameBytes(w->width, byLoops.width));
            EXPECT_TRUE(qmtest::sameBytes(w->marks, byLoops.marks));
            EXPECT_TRUE(sameShape(w->shape, byLoops.shape));
        }
        EXPECT_TRUE(qmtest::sameBytes(later->marks, direct->marks));

        // The same voice once its bands, its mark count or the Fatness moved on: what was kept no
        // longer holds and must not be taken.
        const std::function<void(KeyVoice&)> changes[] = {
            [](KeyVoice& x) { x.bands.tonality[0] = x.bands.tonality[0] * 0.5f + 0.25f; },
            [](KeyVoice& x) { x.bands.noiseWidth[static_cast<std::size_t>(x.activeBands - 1)] += 1.0f; },
            [](KeyVoice& x) { x.bandRunningSum[static_cast<std::size_t>(x.activeBands - 1)] += 0.5f; },
            [](KeyVoice& x) { x.markCount = x.markCount > 1 ? 1 : 3; },
        };
        for (const auto& change : changes)
        {
            const auto moved = copy();
            change(*moved);
            const auto movedByLoops = std::make_unique<KeyVoice>(*moved);
            moved->steadyBands = fresh->steadyBands;
            const BandWork expected = bandLevelsOf(dsp, *movedByLoops, hop, false);
            const BandWork got = bandLevelsOf(dsp, *moved, hop, true);
            EXPECT_TRUE(qmtest::sameBytes(got.amp, expected.amp));
            EXPECT_TRUE(qmtest::sameBytes(got.tonal, expected.tonal));
            EXPECT_TRUE(qmtest::sameBytes(got.noisy, expected.noisy));
            EXPECT_TRUE(qmtest::sameBytes(got.width, expected.width));
        }
        dsp.params[kParamFatness].modValue = c.fatness + 0.125f;
        const auto refat = copy();
        refat->steadyBands = fresh->steadyBands;
        const auto refatByLoops = copy();
        const BandWork expected = bandLevelsOf(dsp, *refatByLoops, hop, false);
        const BandWork got = bandLevelsOf(dsp, *refat, hop, true);
        EXPECT_TRUE(qmtest::sameBytes(got.tonal, expected.tonal));
        EXPECT_TRUE(qmtest::sameBytes(got.noisy, expected.noisy));
        EXPECT_TRUE(qmtest::sameBytes(got.width, expected.width));
    }
    EXPECT_TRUE(oneMark);
    EXPECT_TRUE(manyMarks);
}
