// Voice set-up with a blend memo: a voice that takes an earlier voice's band blend ends up with
// exactly the voice data that setting it up alone gives, for notes of one zone range and of other
// zones, other velocities, other mixes, sounds with a stereo share, a pending onset, a voice set up
// again while the memo lives, voices that keep band values past the blended ones from a wider
// sound they played before, and blends whose last harmonic ends inside a vector group, past which
// each voice keeps values of its own; in both vector forms.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/EngineTestHelpers.h"

namespace
{

using qmtest::sameBytes;

// A voice before the memo's lifetime: its note and velocity, whether its onset is pending, and the
// mix it was set up with before (-1: none), which leaves band values past a narrower blend.
struct VoiceSpec
{
    int note;
    int velocity;
    bool onset;
    int earlierMix;
};

// One set-up while the memo lives: which voice, with which mix.
struct Step
{
    int voice;
    int mix;
};

struct Case
{
    const char* name;
    std::vector<VoiceSpec> voices;
    std::vector<Step> steps;
    int taken; // set-ups that must take an earlier voice's blend
};

// The sounds and weights of each mix, by sound name.
struct MixSpec
{
    std::vector<std::string> sounds;
    std::vector<float> weights;
};
const std::vector<MixSpec> kMixes = {
    {{"Choir Ah", "Soft Piano", "Saw Lead"}, {0.5f, 0.3f, 0.2f}},  // 0: five, seven and three zones
    {{"Choir Ah", "Soft Piano", "Saw Lead"}, {0.45f, 0.35f, 0.2f}}, // 1: as 0, other weights
    {{"Soft Sine"}, {1.0f}},                                        // 2: six bands, one zone
    {{"Choir Oo", "Soft Sine"}, {0.6f, 0.4f}},                      // 3: a stereo share
    {{"Soft Piano", "Saw Lead"}, {0.7f, 0.3f}},                     // 4: no share bytes
    {{"Nylon Pluck"}, {1.0f}},                                      // 5: 45 bands, no share bytes
};

const std::vector<Case> kCases = {
    {"notes of one zone range", {{60, 100, false, -1}, {61, 100, false, -1}, {62, 100, false, -1}},
     {{0, 0}, {1, 0}, {2, 0}}, 2},
    {"other velocities", {{60, 30, false, -1}, {60, 100, false, -1}, {61, 127, false, -1}},
     {{0, 0}, {1, 0}, {2, 0}}, 2},
    {"notes of other zones", {{30, 100, false, -1}, {60, 100, false, -1}, {90, 100, false, -1}},
     {{0, 0}, {1, 0}, {2, 0}}, 0},
    {"notes of other zones without share bytes",
     {{30, 100, false, -1}, {60, 100, false, -1}, {90, 100, false, -1}, {91, 100, false, -1}},
     {{0, 4}, {1, 4}, {2, 4}, {3, 4}}, 1},
    {"other mixes",
     {{60, 100, false, -1}, {61, 100, false, -1}, {62, 100, false, -1}, {63, 100, false, -1}},
     {{0, 0}, {1, 1}, {2, 0}, {3, 1}}, 2},
    {"a voice set up again while the memo lives",
     {{60, 100, false, -1}, {61, 100, false, -1}, {62, 100, false, -1}},
     {{0, 0}, {0, 1}, {1, 0}, {2, 1}}, 1},
    {"band values past the blend from a wider sound",
     {{60, 100, false, -1}, {61, 100, false, 0}, {62, 100, false, 0}, {63, 100, false, 1}},
     {{0, 2}, {1, 2}, {2, 2}, {3, 2}}, 1},
    {"a stereo share", {{48, 100, false, -1}, {49, 80, false, -1}, {50, 60, false, -1}},
     {{0, 3}, {1, 3}, {2, 3}}, 2},
    {"harmonics that end inside a vector group", {{60, 100, false, -1}, {61, 70, false, -1}, {62, 100, false, -1}},
     {{0, 5}, {1, 5}, {2, 5}}, 2},
    {"pending onsets", {{60, 100, true, -1}, {61, 90, true, -1}, {62, 100, false, -1}},
     {{0, 0}, {1, 0}, {2, 0}}, 2},
};

NodeMix makeMix(const KeySpaceDSP& dsp, const MixSpec& spec)
{
    NodeMix mix;
    mix.count = static_cast<int>(spec.sounds.size());
    for (size_t i = 0; i < spec.sounds.size(); ++i)
    {
        int index = -1;
        for (int s = 0; s < dsp.numSounds(); ++s)
            if (spec.sounds[i] == dsp.sounds[static_cast<size_t>(s)].name)
                index = s;
        EXPECT_GE(index, 0) << spec.sounds[i];
        mix.node[i] = index;
        mix.weight[i] = spec.weights[i];
    }
    return mix;
}

// A mark of the voice's own in every per-harmonic band value: set-ups write them only up to their
// blend's last harmonic, so a voice that takes a blend and writes past it shows another voice's marks.
void markHarmonics(KeyVoice& v, int voice)
{
    HarmonicState& h = v.harmonics;
    for (int i = 0; i < kMaxHarmonics; ++i)
    {
        const auto at = static_cast<size_t>(i);
        const float mark = static_cast<float>(voice + 1) * 1000.0f + static_cast<float>(i);
        for (auto* field : {&h.bandOscRate, &h.bandDepth1, &h.bandDepth2, &h.bandDetune, &h.share, &h.shareCoherent})
            (*field)[at] = mark;
        h.phaseOffset[at] = static_cast<int32_t>(mark);
    }
}

void prepareVoices(KeySpaceDSP& dsp, const Case& c, bool wide)
{
    dsp.useWideVectors(wide);
    for (size_t i = 0; i < c.voices.size(); ++i)
    {
        const VoiceSpec& spec = c.voices[i];
        KeyVoice& v = dsp.voices[i];
        v.state = 1;
        v.note = spec.note;
        v.velocity = static_cast<float>(spec.velocity) / 127.0f;
        v.needsSetup = 1;
        v.onsetPending = 0;
        if (spec.earlierMix >= 0)
            dsp.setVoiceData(&v, makeMix(dsp, kMixes[static_cast<size_t>(spec.earlierMix)]));
        v.onsetPending = spec.onset ? 1 : 0;
        markHarmonics(v, static_cast<int>(i));
    }
}

// Everything the set-up gives a voice, bit for bit (not the caches it keeps for its next set-up).
void expectSameVoice(const KeyVoice& a, const KeyVoice& b, const std::string& where)
{
    SCOPED_TRACE(where);
    EXPECT_TRUE(sameBytes(a.bands, b.bands));
    const HarmonicState& ha = a.harmonics;
    const HarmonicState& hb = b.harmonics;
    EXPECT_TRUE(sameBytes(ha.bandOscRate, hb.bandOscRate));
    EXPECT_TRUE(sameBytes(ha.bandDepth1, hb.bandDepth1));
    EXPECT_TRUE(sameBytes(ha.bandDepth2, hb.bandDepth2));
    EXPECT_TRUE(sameBytes(ha.bandDetune, hb.bandDetune));
    EXPECT_TRUE(sameBytes(ha.phaseOffset, hb.phaseOffset));
    EXPECT_TRUE(sameBytes(ha.share, hb.share));
    EXPECT_TRUE(sameBytes(ha.shareCoherent, hb.shareCoherent));
    EXPECT_TRUE(sameBytes(ha.phase, hb.phase));
    EXPECT_TRUE(sameBytes(ha.oscPhase, hb.oscPhase));
    EXPECT_TRUE(sameBytes(a.bandShare, b.bandShare));
    EXPECT_TRUE(sameBytes(a.bandMean19, b.bandMean19));
    EXPECT_TRUE(sameBytes(a.bandRunningSum, b.bandRunningSum));
    EXPECT_TRUE(sameBytes(a.marks, b.marks));
    EXPECT_EQ(a.markCount, b.markCount);
    for (size_t p = 0; p < a.resonances.size(); ++p)
    {
        const VoiceResonance& ra = a.resonances[p];
        const VoiceResonance& rb = b.resonances[p];
        const float fa[] = {ra.tonalLevel, ra.noisyLevel, ra.freqHz, ra.bandwidthHz, ra.decayLinear, ra.decayQuad};
        const float fb[] = {rb.tonalLevel, rb.noisyLevel, rb.freqHz, rb.bandwidthHz, rb.decayLinear, rb.decayQuad};
        EXPECT_TRUE(sameBytes(fa, fb) && ra.phase == rb.phase) << "resonance " << p;
    }
    const float sa[] = {a.soundGain, a.soundKey,  a.soundPitchOffset, a.pitchDecayRate, a.vibratoDepth,
                        a.jitterRate, a.jitterAmplitude, a.shareTime, a.veloGain};
    const float sb[] = {b.soundGain, b.soundKey,  b.soundPitchOffset, b.pitchDecayRate, b.vibratoDepth,
                        b.jitterRate, b.jitterAmplitude, b.shareTime, b.veloGain};
    EXPECT_TRUE(sameBytes(sa, sb));
    const int32_t ia[] = {a.soundSlots, a.bandCount, a.activeBands, a.voiceResonanceCount, a.voiceHarmonicCount,
                          a.needsSetup, a.onsetPending};
    const int32_t ib[] = {b.soundSlots, b.bandCount, b.activeBands, b.voiceResonanceCount, b.voiceHarmonicCount,
                          b.needsSetup, b.onsetPending};
    EXPECT_TRUE(sameBytes(ia, ib));
    EXPECT_TRUE(sameBytes(a.slotWeight, b.slotWeight));
    EXPECT_TRUE(sameBytes(a.slotTuneRatio, b.slotTuneRatio));
    EXPECT_TRUE(sameBytes(a.slotWarp, b.slotWarp));
    EXPECT_TRUE(sameBytes(a.slotBandCount, b.slotBandCount));
}

} // namespace

TEST(BlendSharing, VoicesThatTakeABlendGetWhatSettingThemUpAloneGives)
{
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    for (const bool wide : {true, false})
        for (const Case& c : kCases)
        {
            const std::string where = std::string(c.name) + (wide ? " (wide)" : " (baseline)");
            // The same voices on two engines of the same sounds: one set up with a memo, one alone.
            qmtest::EngineRig sharedRig(bank);
            qmtest::EngineRig aloneRig(bank);
            KeySpaceDSP& shared = sharedRig.dsp();
            KeySpaceDSP& alone = aloneRig.dsp();
            prepareVoices(shared, c, wide);
            prepareVoices(alone, c, wide);
            KeySpaceDSP::BlendMemo memo;
            for (const Step& s : c.steps)
            {
                const NodeMix mix = makeMix(shared, kMixes[static_cast<size_t>(s.mix)]);
                shared.setVoiceData(&shared.voices[static_cast<size_t>(s.voice)], mix, &memo);
                alone.setVoiceData(&alone.voices[static_cast<size_t>(s.voice)], mix);
            }
            EXPECT_EQ(memo.taken, c.taken) << where;
            for (size_t i = 0; i < c.voices.size(); ++i)
                expectSameVoice(shared.voices[i], alone.voices[i], where + ", voice " + std::to_string(i));
            EXPECT_GT(shared.voices[0].bandCount, 0) << where;
        }
}
