// Block rendering: notes in, audio out, through the whole engine. Golden render signatures pin voice
// set-up, placement, modulation and resynthesis together; the properties below them say what must
// hold whatever the signatures are.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "engine/Random.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/params/ParamTable.h"
#include "support/EngineTestHelpers.h"

using qmtest::EngineRig;

namespace
{

constexpr float kRate = 44100.0f;

void resetSeeds()
{
    engineSrand(12345u);
    setCanonRandSeed(kCanonRandInitialSeed);
}

void setSlot(KeySpaceDSP& dsp, int slot, float source, float amount, float scaler, float target)
{
    const int base = kFirstModSlotParam + kParamsPerModSlot * slot;
    dsp.params[size_t(base + kModParamSource)].value = source;
    dsp.params[size_t(base + kModParamAmount)].value = amount;
    dsp.params[size_t(base + kModParamScaler)].value = scaler;
    dsp.params[size_t(base + kModParamTarget)].value = target;
}

void midi(KeySpaceDSP& dsp, std::vector<uint8_t> bytes)
{
    applyMidiMessage(dsp, bytes.data(), int(bytes.size()));
}

// clang-format off
struct Scene { const char* golden; std::function<void(EngineRig&, std::vector<float>&, std::vector<float>&)> play; };
// clang-format on

// Fixed performances on the demo bank, each about 1.5 s.
const Scene kScenes[] = {
    {"render_chord.txt", // a chord over a three-sound mix, modulators and every effect on, one release
     [](EngineRig& rig, std::vector<float>& l, std::vector<float>& r)
     {
         KeySpaceDSP& dsp = rig.dsp();
         rig.setAllEffects(true);
         dsp.params[kParamStereoSpread].value = 0.7f;
         setSlot(dsp, 0, 1, 4.0f, 1, 2); // LFO 1 x velocity -> Gain
         setSlot(dsp, 1, 3, 2.0f, 0, 9); // Env 1 -> Detune
         setSlot(dsp, 2, 2, 3.0f, 2, 5); // LFO 2 x mod wheel -> Flatten
         setSlot(dsp, 3, 4, 1.0f, 5, 6); // Env 2 x note frequency -> Brightness
         dsp.channels[1].modWheel = 0.8f;
         rig.pushCanvas({0, 3, 7, 11}, {0.5f, 0.3f, 0.2f});
         for (int note : {48, 55, 60, 64, 71})
             qmtest::noteOn(dsp, note, 90);
         rig.render(20000, 333, l, r);
         qmtest::noteOff(dsp, 55);
         qmtest::noteOff(dsp, 71);
         rig.render(46000, 500, l, r);
         // Released voices end; a free voice below a sounding one keeps its slot counted.
         EXPECT_TRUE(dsp.voices[1].state == 0 && dsp.voices[4].state == 0 && dsp.voiceCount == 4);
     }},
    {"render_morph.txt", // XY pad: the morph point crosses the canvas while two notes hold; effects off
     [](EngineRig& rig, std::vector<float>& l, std::vector<float>& r)
     {
         KeySpaceDSP& dsp = rig.dsp();
         rig.setAllEffects(false);
         rig.pushCanvas({1, 5, 9, 13, 17, 21, 25, 29}, {}, kCanvasModeXYPad);
         dsp.params[kParamTimeshift].value = -0.25f; // time runs silently before the sounds start
         qmtest::noteOn(dsp, 57, 100);
         qmtest::noteOn(dsp, 64, 70);
         for (int block = 0; block < 129; ++block)
         {
             dsp.params[kParamMorphX].value = float(block) / 128.0f;
             dsp.params[kParamMorphY].value = 0.5f + 0.5f * std::sin(float(block) * 0.1f);
             rig.render(512, 512, l, r);
         }
     }},
    {"render_bend.txt", // Keyboard mode over MIDI: bend, mod wheel vibrato, pressure, pedal-held release
     [](EngineRig& rig, std::vector<float>& l, std::vector<float>& r)
     {
         KeySpaceDSP& dsp = rig.dsp();
         rig.setAllEffects(false);
         rig.pushCanvas({2, 6, 10, 14, 18, 22}, {}, kCanvasModeKeyboard);
         dsp.params[kParamRelease].value = 0.1f;
         midi(dsp, {0x90, 60, 100});
         midi(dsp, {0x90, 67, 127});
         rig.render(8192, 256, l, r);
         midi(dsp, {0xE0, 0x7F, 0x7F}); // full bend up
         midi(dsp, {0xB0, 1, 90});      // mod wheel
         midi(dsp, {0xA0, 67, 120});    // key pressure on the fifth
         rig.render(12288, 256, l, r);
         midi(dsp, {0xB0, 64, 127}); // pedal down, keys up: the notes hold
         midi(dsp, {0x80, 60, 0});
         midi(dsp, {0x80, 67, 0});
         rig.render(22050, 256, l, r);
         EXPECT_TRUE(dsp.voices[0].state == 2u && dsp.voices[0].releaseProgress == 0.0f);
         midi(dsp, {0xB0, 64, 0}); // pedal up: the release runs out into exact silence
         rig.render(22050, 256, l, r);
         EXPECT_EQ(dsp.voiceCount, 0);
         EXPECT_EQ(qmtest::peakOf(std::vector<float>(l.end() - 4096, l.end())), 0.0f);
         // No release time with the pedal down still ends the voice.
         dsp.params[kParamRelease].value = 0.0f;
         midi(dsp, {0xB0, 64, 127});
         midi(dsp, {0x90, 69, 127});
         rig.render(1280, 128, l, r);
         midi(dsp, {0x80, 69, 0});
         rig.render(768, 128, l, r);
         EXPECT_EQ(dsp.voiceCount, 0);
     }},
    {"render_binaural.txt", // placement: a low note (left of 57), then a high one (right), spread on
     [](EngineRig& rig, std::vector<float>& l, std::vector<float>& r)
     {
         KeySpaceDSP& dsp = rig.dsp();
         rig.setAllEffects(false);
         dsp.params[kFirstFxSwitch + kFxSlotBinaural].value = 1.0f;
         dsp.params[kParamStereoX].value = 0.35f;
         dsp.params[kParamStereoY].value = 0.8f;
         dsp.params[kParamStereoSpread].value = 0.3f;
         dsp.params[kParamRelease].value = 0.05f;
         rig.pushCanvas({4, 12}, {0.6f, 0.4f});
         qmtest::noteOn(dsp, 30, 110);
         rig.render(32768, 512, l, r);
         qmtest::noteOff(dsp, 30);
         qmtest::noteOn(dsp, 90, 110);
         rig.render(32768, 512, l, r);
     }},
};

qmtest::GoldenRows playScene(const Scene& scene, std::vector<float>& l, std::vector<float>& r)
{
    resetSeeds();
    EngineRig rig(qmbank::demoBank(), kRate);
    scene.play(rig, l, r);
    return qmtest::renderSignature(l, r, kRate);
}

double mean(const qmtest::GoldenRows& rows, size_t from, size_t to, size_t column)
{
    double sum = 0.0;
    for (size_t w = from; w < to; ++w)
        sum += rows[w][column];
    return sum / double(to - from);
}

} // namespace

TEST(BlockRendering, ScenesMatchTheirGoldenSignaturesAndRenderReproducibly)
{
    for (const Scene& scene : kScenes)
    {
        SCOPED_TRACE(scene.golden);
        std::vector<float> l, r, l2, r2;
        const auto rows = playScene(scene, l, r);
        ASSERT_TRUE(qmtest::allFinite(l) && qmtest::allFinite(r));
        qmtest::expectMatchesGolden(scene.golden, rows, 0.01, 1e-6);
        playScene(scene, l2, r2);
        EXPECT_TRUE(l == l2 && r == r2) << "same seeds, same output";
        // Binaural stage off: both channels draw the same random pairs and the same rotation.
        if (scene.golden == kScenes[1].golden)
        {
            EXPECT_EQ(l, r);
        }
        if (scene.golden == kScenes[3].golden)
        {
            // The far ear hears the head's shadow: the right one for the low note, the left one for
            // the high note, which it also hears more quietly.
            EXPECT_GT(mean(rows, 4, 30, 2), 1.5 * mean(rows, 4, 30, 3));
            EXPECT_GT(mean(rows, 36, 62, 3), 1.5 * mean(rows, 36, 62, 2));
            EXPECT_GT(mean(rows, 36, 62, 1), 1.2 * mean(rows, 36, 62, 0));
        }
    }
}

TEST(BlockRendering, FundamentalSoundGivesItsToneAndGainInAnyBlockSize)
{
    // clang-format off
    struct Row { float gainDb, freqShiftMod /* modulation amount on FreqShift (x 100 Hz) */; double hz; int block; };
    const Row rows[] = {{0.0f, 0.0f, 440.0, 256}, {0.0f, 0.0f, 440.0, 1}, {0.0f, 0.0f, 440.0, 77},
                        {6.0f, 0.0f, 440.0, 1000}, {0.0f, 20.0f, 2440.0, 128}};
    // clang-format on
    std::vector<float> plain;
    for (const Row& row : rows)
    {
        resetSeeds();
        EngineRig rig({qmtest::fundamentalOnlySound()}, kRate);
        rig.setAllEffects(false);
        rig.dsp().params[kParamGain].value = row.gainDb;
        setSlot(rig.dsp(), 0, 5, row.freqShiftMod, 0, 11); // constant source
        rig.pushCanvas({0}, {1.0f});
        float* none[2] = {nullptr, nullptr}; // a zero-length call does not even take the queues
        rig.dsp().process(none, 0, 2);
        EXPECT_EQ(rig.dsp().canvas.nodeCount, 0);
        qmtest::noteOn(rig.dsp(), 69, 127);
        std::vector<float> l, r;
        rig.render(8192, row.block, l, r);
        EXPECT_EQ(l, r);
        const auto sig = qmtest::renderSignature(l, r, kRate);
        for (size_t w = 4; w < sig.size(); ++w)
            ASSERT_NEAR(sig[w][2], row.hz, 2.0) << "window " << w << " of " << row.hz;
        if (plain.empty()) plain = l;
        const float k = std::pow(10.0f, row.gainDb / 20.0f); // decibels scale every sample by 10^(dB / 20)
        float worst = 0.0f;
        for (size_t i = 0; row.freqShiftMod == 0.0f && i < l.size(); ++i)
            worst = std::max(worst, std::fabs(l[i] - k * plain[i]));
        EXPECT_LT(worst, 1e-5f * qmtest::peakOf(plain)) << "in blocks of " << row.block;
        // One channel asked for: only it is written; three: the third is left alone.
        std::vector<float> a(600), b(600, 7.0f), c(600, 7.0f);
        float* mono[2] = {a.data(), b.data()};
        rig.dsp().process(mono, 600, 1);
        EXPECT_EQ(b, std::vector<float>(600, 7.0f));
        float* three[3] = {a.data(), b.data(), c.data()};
        rig.dsp().process(three, 600, 3);
        EXPECT_TRUE(c == std::vector<float>(600, 7.0f) && qmtest::peakOf(b) > 0.0f);
    }
    // Zero sounds: silence.
    EngineRig empty({}, kRate);
    qmtest::noteOn(empty.dsp(), 60, 100);
    std::vector<float> l, r;
    empty.render(4096, 512, l, r);
    EXPECT_EQ(qmtest::peakOf(l) + qmtest::peakOf(r), 0.0f);
}

TEST(BlockRendering, ParameterExtremesAndHostileSoundsKeepTheOutputFinite)
{
    resetSeeds();
    std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    const int demoCount = int(bank.size());
    for (const auto& e : qmbank::hostileBank())
        bank.push_back(e);
    EngineRig rig(bank, kRate);
    KeySpaceDSP& dsp = rig.dsp();
    ASSERT_GT(dsp.numSounds(), demoCount);
    rig.setAllEffects(true);
    // Every slot routes a source to a target at full amount, shifts beyond the spectrum included.
    for (int s = 0; s < kModSlotCount; ++s)
        setSlot(dsp, s, float(1 + s % 5), s % 2 == 0 ? 64.0f : -64.0f, float(s % 6),
                float((s * 3 + 1) % kModTargetCount));
    for (const InstrumentMap& m : dsp.sounds)
        for (float f : m.features.values)
            ASSERT_TRUE(std::isfinite(f)) << m.name;
    // Each parameter's corners in turn, each with one hostile sound in the mix.
    const int hostile = dsp.numSounds() - demoCount;
    ASSERT_TRUE(hostile > 0 && hostile < kNumMainParams);
    std::vector<float> l, r;
    for (int p = 0; p < kNumMainParams; ++p)
    {
        rig.pushCanvas({demoCount + p % hostile, p, 9}, {0.4f, 0.35f, 0.25f});
        Param& param = dsp.params[size_t(p == kParamPolyphony ? kParamDetune : p)];
        const float saved = param.value;
        for (float v : {param.convertUnitToVal(0.0f), param.convertUnitToVal(1.0f)})
        {
            param.value = v;
            for (int note : {0, 33, 69, 127}) // phase accumulators as after hours of a held note
                dsp.voices[size_t(qmtest::noteOn(dsp, note, 127))].phaseAcc = 0x7fffff00;
            dsp.channels[1].bend = p % 2 == 0 ? 1.0f : -1.0f;
            dsp.channels[1].modWheel = 1.0f;
            l.clear();
            r.clear();
            rig.render(1500, 500, l, r);
            for (int note : {0, 33, 69, 127})
                qmtest::noteOff(dsp, note);
            rig.render(700, 700, l, r);
            ASSERT_TRUE(qmtest::allFinite(l) && qmtest::allFinite(r)) << "parameter " << p << " at " << v;
        }
        param.value = saved;
    }
}

TEST(BlockRendering, EachVoiceModulatesThePlainValuesAlone)
{
    resetSeeds();
    EngineRig rig({qmtest::fundamentalOnlySound()}, kRate);
    KeySpaceDSP& dsp = rig.dsp();
    rig.setAllEffects(false);
    rig.pushCanvas({0}, {1.0f});
    // Two slots on one target: the constant by velocity, and the constant alone.
    constexpr int kTarget = 2;
    setSlot(dsp, 0, 5, 2.0f, 1, kTarget);
    setSlot(dsp, 1, 5, 1.0f, 0, kTarget);
    const auto routed = size_t(dsp.modTargets[kTarget]);
    const auto other = size_t(dsp.modTargets[kTarget + 1]);
    const float scale = dsp.modTargetScales[kTarget];
    ASSERT_EQ(qmtest::noteOn(dsp, 60, 127), 0);
    ASSERT_EQ(qmtest::noteOn(dsp, 64, 40), 1);
    std::vector<float> l, r;
    // After each block the routed target holds the last voice's modulation on its value, not a sum
    // over voices or hops, and a target no slot routes follows its value from one block to the next.
    for (const float plain : {dsp.params[routed].value, 0.25f})
    {
        dsp.params[routed].value = plain;
        dsp.params[other].value = plain + 1.0f;
        rig.render(1024, 512, l, r);
        float expected = plain;
        expected += 2.0f * scale * dsp.voices[1].velocity;
        expected += 1.0f * scale;
        EXPECT_FLOAT_EQ(dsp.params[routed].modValue, expected);
        EXPECT_EQ(dsp.params[other].modValue, plain + 1.0f);
    }
}
