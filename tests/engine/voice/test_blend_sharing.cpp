// Voice set-up with a blend memo: a voice that takes an earlier voice's band blend ends up with
// exactly the voice data that setting it up alone gives, and reads the same per-harmonic values,
// for notes of one zone range and of other zones, other velocities, other mixes, sounds with a
// stereo share, a pending onset, a voice set up again while the memo lives, voices that keep band
// values past the blended ones from a wider sound they played before, and blends whose last
// harmonic ends inside a vector group; in both vector forms. A voice that took a blend keeps
// reading what it took whatever its source does after (blends again, takes another blend, is
// freed and started on a new note), and the engine's sets of per-harmonic values stay counted.
// Rendering reads no per-harmonic value past the band after a voice's blended ones, where a set
// holds what an earlier blend left.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/modulation/CanonRandom.h"
#include "engine/params/ParamTable.h"
#include "engine/Random.h"
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

// A mark of the voice's own in every per-harmonic band value it reads: a set-up that leaves a
// harmonic the voice may read unwritten shows the mark.
void markHarmonics(KeySpaceDSP& dsp, int voice)
{
    HarmonicBandPool& pool = dsp.harmonicBandPool;
    HarmonicBands& h = pool.sets[static_cast<size_t>(pool.setOf[static_cast<size_t>(voice)])];
    for (int i = 0; i < kMaxHarmonics; ++i)
    {
        const auto at = static_cast<size_t>(i);
        const float mark = static_cast<float>(voice + 1) * 1000.0f + static_cast<float>(i);
        for (auto* field : {&h.bandOscRate, &h.bandDepth1, &h.bandDepth2, &h.bandDetune, &h.share, &h.shareCoherent})
            (*field)[at] = mark;
        h.phaseOffset[at] = static_cast<int32_t>(mark);
    }
}

void prepareVoices(KeySpaceDSP& dsp, const std::vector<VoiceSpec>& voices, bool wide)
{
    dsp.useWideVectors(wide);
    for (size_t i = 0; i < voices.size(); ++i)
    {
        const VoiceSpec& spec = voices[i];
        KeyVoice& v = dsp.voices[i];
        v.state = 1;
        v.note = spec.note;
        v.velocity = static_cast<float>(spec.velocity) / 127.0f;
        v.needsSetup = 1;
        v.onsetPending = 0;
        if (spec.earlierMix >= 0)
            dsp.setVoiceData(&v, makeMix(dsp, kMixes[static_cast<size_t>(spec.earlierMix)]));
        v.onsetPending = spec.onset ? 1 : 0;
        markHarmonics(dsp, static_cast<int>(i));
    }
}

// The harmonics a voice's hops may read of its per-harmonic band values: its harmonic count stays
// below the start of the band after its blended ones.
int harmonicsRead(const KeySpaceDSP& dsp, const KeyVoice& v)
{
    const int after = std::clamp(v.bandCount + 1, 0, kBandTableSize - 1);
    return std::clamp(dsp.bandStart[static_cast<size_t>(after)], 0, kMaxHarmonics);
}

// The first n values of two arrays, bit for bit.
template <class A>
bool sameFirst(const A& a, const A& b, int n)
{
    return std::memcmp(a.data(), b.data(), sizeof a[0] * static_cast<size_t>(n)) == 0;
}

// Everything the set-up gives a voice, bit for bit (not the caches it keeps for its next set-up),
// and what its hops read of the per-harmonic band values, as the renderers read them. The share
// only matters (and is written only) while the voice shares.
void expectSameVoice(const KeySpaceDSP& da, const KeyVoice& a, const KeySpaceDSP& db, const KeyVoice& b,
                     const std::string& where)
{
    SCOPED_TRACE(where);
    EXPECT_TRUE(sameBytes(a.bands, b.bands));
    const int n = harmonicsRead(da, a);
    EXPECT_EQ(n, harmonicsRead(db, b));
    EXPECT_GT(n, 0);
    const HarmonicBands& ra = da.harmonicBands(a);
    const HarmonicBands& rb = db.harmonicBands(b);
    EXPECT_TRUE(sameFirst(ra.bandOscRate, rb.bandOscRate, n));
    EXPECT_TRUE(sameFirst(ra.bandDepth1, rb.bandDepth1, n));
    EXPECT_TRUE(sameFirst(ra.bandDepth2, rb.bandDepth2, n));
    EXPECT_TRUE(sameFirst(ra.bandDetune, rb.bandDetune, n));
    EXPECT_TRUE(sameFirst(ra.phaseOffset, rb.phaseOffset, n));
    const int shared = a.shareTime > 0.0f ? n : 0;
    EXPECT_TRUE(sameFirst(ra.share, rb.share, shared));
    EXPECT_TRUE(sameFirst(ra.shareCoherent, rb.shareCoherent, shared));
    const HarmonicState& ha = a.harmonics;
    const HarmonicState& hb = b.harmonics;
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
            prepareVoices(shared, c.voices, wide);
            prepareVoices(alone, c.voices, wide);
            KeySpaceDSP::BlendMemo memo;
            for (const Step& s : c.steps)
            {
                const NodeMix mix = makeMix(shared, kMixes[static_cast<size_t>(s.mix)]);
                shared.setVoiceData(&shared.voices[static_cast<size_t>(s.voice)], mix, &memo);
                alone.setVoiceData(&alone.voices[static_cast<size_t>(s.voice)], mix);
            }
            EXPECT_EQ(memo.taken, c.taken) << where;
            for (size_t i = 0; i < c.voices.size(); ++i)
                expectSameVoice(shared, shared.voices[i], alone, alone.voices[i], where + ", voice " + std::to_string(i));
            EXPECT_GT(shared.voices[0].bandCount, 0) << where;
        }
}

namespace
{

// What happens to the voices while sets of per-harmonic values are shared: a set-up (with the
// call's memo), a new render call (a new memo), a voice freed, or a note started (on the first
// free voice, through the engine's note start, which resets the voice; between render calls).
struct Event
{
    enum Kind { kSetUp, kNewCall, kFree, kNoteOn } kind;
    int voice;
    int mix; // kSetUp: the mix; kNoteOn: the note
};

struct OwnershipCase
{
    const char* name;
    std::vector<VoiceSpec> voices;
    std::vector<Event> events;
    int taken; // set-ups that took an earlier voice's blend
    int sets;  // sets of per-harmonic values the voices read in the end
};

using E = Event;
const std::vector<VoiceSpec> kThreeNotes = {{60, 100, false, -1}, {61, 90, false, -1}, {62, 100, false, -1}};

const std::vector<OwnershipCase> kOwnershipCases = {
    {"standing takers while their source blends again",
     kThreeNotes, {{E::kSetUp, 0, 0}, {E::kSetUp, 1, 0}, {E::kSetUp, 2, 0}, {E::kSetUp, 0, 1}}, 2, 2},
    {"the source blends again in a later call",
     kThreeNotes, {{E::kSetUp, 0, 0}, {E::kSetUp, 1, 0}, {E::kNewCall, 0, 0}, {E::kSetUp, 0, 3}}, 1, 3},
    {"the source takes another voice's blend",
     kThreeNotes,
     {{E::kSetUp, 0, 0}, {E::kSetUp, 1, 0}, {E::kNewCall, 0, 0}, {E::kSetUp, 2, 1}, {E::kSetUp, 0, 1}}, 2, 2},
    {"the source freed and its voice started on a new note",
     kThreeNotes,
     {{E::kSetUp, 0, 0}, {E::kSetUp, 1, 0}, {E::kSetUp, 2, 0}, {E::kFree, 0, 0}, {E::kNoteOn, 0, 70},
      {E::kSetUp, 0, 2}}, 2, 2},
    {"a taker freed, reset by a new note and set up alone",
     kThreeNotes,
     {{E::kSetUp, 0, 0}, {E::kSetUp, 1, 0}, {E::kSetUp, 2, 0}, {E::kFree, 1, 0}, {E::kNoteOn, 1, 48},
      {E::kNewCall, 0, 0}, {E::kSetUp, 1, 3}}, 2, 2},
    {"a taker set up alone while its source stands",
     kThreeNotes, {{E::kSetUp, 0, 0}, {E::kSetUp, 1, 0}, {E::kNewCall, 0, 0}, {E::kSetUp, 1, 5}}, 1, 3},
    {"every voice takes again every call, the source moving each time",
     kThreeNotes,
     {{E::kSetUp, 0, 0}, {E::kSetUp, 1, 0}, {E::kSetUp, 2, 0}, {E::kNewCall, 0, 0}, {E::kSetUp, 0, 1},
      {E::kSetUp, 1, 1}, {E::kSetUp, 2, 1}, {E::kNewCall, 0, 0}, {E::kSetUp, 0, 0}, {E::kSetUp, 1, 0},
      {E::kSetUp, 2, 0}}, 6, 1},
    {"a taker takes another voice's blend",
     kThreeNotes, {{E::kSetUp, 0, 0}, {E::kSetUp, 1, 0}, {E::kSetUp, 2, 1}, {E::kSetUp, 1, 1}}, 2, 2},
};

// Each set's reader count is the number of slots that read it, a set nobody reads is left, no
// voice reads the set of voices outside the voice table, and each voice renders from its slot's set.
void expectCountedSets(const KeySpaceDSP& dsp)
{
    const HarmonicBandPool& pool = dsp.harmonicBandPool;
    std::array<int32_t, HarmonicBandPool::kSets> readers{};
    for (const int32_t set : pool.setOf)
    {
        ASSERT_GE(set, 0);
        ASSERT_LT(set, HarmonicBandPool::kSets);
        ++readers[static_cast<size_t>(set)];
    }
    EXPECT_TRUE(sameBytes(readers, pool.readers));
    EXPECT_NE(std::find(readers.begin(), readers.end(), 0), readers.end());
    const int32_t outside = pool.setOf[HarmonicBandPool::kOutsideSlot];
    for (int slot = 0; slot < kMaxVoices; ++slot)
    {
        const auto at = static_cast<size_t>(slot);
        EXPECT_NE(pool.setOf[at], outside) << "slot " << slot;
        EXPECT_EQ(&dsp.harmonicBands(dsp.voices[at]), &pool.sets[static_cast<size_t>(pool.setOf[at])]) << "slot " << slot;
    }
}

} // namespace

TEST(BlendSharing, AVoiceKeepsReadingTheBlendItTookWhateverItsSourceDoesAfter)
{
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    for (const bool wide : {true, false})
        for (const OwnershipCase& c : kOwnershipCases)
        {
            const std::string where = std::string(c.name) + (wide ? " (wide)" : " (baseline)");
            SCOPED_TRACE(where);
            qmtest::EngineRig sharedRig(bank);
            qmtest::EngineRig aloneRig(bank);
            KeySpaceDSP& shared = sharedRig.dsp();
            KeySpaceDSP& alone = aloneRig.dsp();
            expectCountedSets(shared);
            prepareVoices(shared, c.voices, wide);
            prepareVoices(alone, c.voices, wide);
            KeySpaceDSP::BlendMemo memo;
            int taken = 0;
            for (const Event& ev : c.events)
            {
                KeyVoice& sv = shared.voices[static_cast<size_t>(ev.voice)];
                KeyVoice& av = alone.voices[static_cast<size_t>(ev.voice)];
                switch (ev.kind)
                {
                case Event::kSetUp:
                {
                    const NodeMix mix = makeMix(shared, kMixes[static_cast<size_t>(ev.mix)]);
                    shared.setVoiceData(&sv, mix, &memo);
                    alone.setVoiceData(&av, mix);
                    break;
                }
                case Event::kNewCall:
                    taken += memo.taken;
                    memo = {};
                    break;
                case Event::kFree:
                    sv.state = av.state = 0;
                    break;
                case Event::kNoteOn:
                    // Notes start between render calls.
                    taken += memo.taken;
                    memo = {};
                    EXPECT_EQ(qmtest::noteOn(shared, ev.mix, 100), ev.voice);
                    EXPECT_EQ(qmtest::noteOn(alone, ev.mix, 100), ev.voice);
                    break;
                }
                expectCountedSets(shared);
            }
            EXPECT_EQ(taken + memo.taken, c.taken);
            std::vector<const HarmonicBands*> sets;
            for (size_t i = 0; i < c.voices.size(); ++i)
            {
                expectSameVoice(shared, shared.voices[i], alone, alone.voices[i], "voice " + std::to_string(i));
                const HarmonicBands* read = &shared.harmonicBands(shared.voices[i]);
                if (std::find(sets.begin(), sets.end(), read) == sets.end()) sets.push_back(read);
            }
            EXPECT_EQ(static_cast<int>(sets.size()), c.sets);
        }
}

namespace
{

// A scene of notes rendered hop by hop: the morph standing or moved by both LFOs every hop (every
// voice re-blends, the voices of one zone range taking one blend), and the formant shift.
struct ReadScene
{
    const char* name;
    std::vector<int> notes;
    bool moving;
    float formant;
};

const std::vector<ReadScene> kReadScenes = {
    {"standing, no shift", {24, 36, 48, 60, 61, 62, 72, 84}, false, 0.0f},
    {"standing, shifted down", {24, 36, 48, 60, 61, 62, 72, 84}, false, -12.0f},
    {"standing, shifted up", {24, 36, 48, 60, 61, 62, 72, 84}, false, 12.0f},
    {"moving, low notes", {24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39}, true, 0.0f},
    {"moving, spread notes", {30, 31, 45, 46, 60, 61, 75, 76}, true, 5.0f},
};

// Every value past what the voices reading a set may read turns into NaN (a phase offset into
// one that turns the harmonic elsewhere); a set nobody reads turns wholly.
void poisonUnread(KeySpaceDSP& dsp)
{
    HarmonicBandPool& pool = dsp.harmonicBandPool;
    for (size_t set = 0; set < pool.sets.size(); ++set)
    {
        int from = pool.readers[set] > 0 ? -1 : 0;
        for (size_t slot = 0; slot < dsp.voices.size(); ++slot)
            if (pool.setOf[slot] == static_cast<int32_t>(set))
                from = std::max(from, harmonicsRead(dsp, dsp.voices[slot]));
        if (from < 0) continue; // the set of voices outside the voice table
        HarmonicBands& h = pool.sets[set];
        for (int i = from; i < kMaxHarmonics; ++i)
        {
            const auto at = static_cast<size_t>(i);
            for (auto* field : {&h.bandOscRate, &h.bandDepth1, &h.bandDepth2, &h.bandDetune, &h.share, &h.shareCoherent})
                (*field)[at] = std::numeric_limits<float>::quiet_NaN();
            h.phaseOffset[at] = 0x155;
        }
    }
}

std::vector<float> renderScene(const std::vector<qmbank::BankEntry>& bank, const ReadScene& scene, bool wide,
                               bool poison, int& shared)
{
    engineSrand(3u);
    setCanonRandSeed(3u);
    qmtest::EngineRig rig(bank);
    KeySpaceDSP& dsp = rig.dsp();
    dsp.useWideVectors(wide);
    rig.pushCanvas({0, 6, 11, 16, 19, 23, 26, 33}, {}, kCanvasModeXYPad);
    dsp.params[kParamMorphX].value = 0.4f;
    dsp.params[kParamMorphY].value = 0.6f;
    dsp.params[kParamFormant].value = scene.formant;
    if (scene.moving)
        for (int s = 0; s < 2; ++s)
        {
            dsp.params[static_cast<size_t>(kFirstLfoParam + s * kParamsPerLfo + kLfoParamSpeed)].value = 2.0f - 0.7f * s;
            const int first = kFirstModSlotParam + s * kParamsPerModSlot;
            dsp.params[static_cast<size_t>(first + kModParamSource)].value = static_cast<float>(1 + s);
            dsp.params[static_cast<size_t>(first + kModParamAmount)].value = 4.0f;
            dsp.params[static_cast<size_t>(first + kModParamTarget)].value = static_cast<float>(s);
        }
    for (const int note : scene.notes)
        qmtest::noteOn(dsp, note, 100);
    std::vector<float> left, right;
    shared = 0;
    for (int hop = 0; hop < 48; ++hop)
    {
        rig.renderSeeded(100u + static_cast<uint32_t>(hop), 128, left, right);
        if (poison) poisonUnread(dsp);
        for (const int32_t readers : dsp.harmonicBandPool.readers)
            shared += readers > 1 ? 1 : 0;
    }
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

} // namespace

TEST(BlendSharing, HopsReadNoPerHarmonicValuePastTheBandAfterTheBlendedOnes)
{
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    for (const bool wide : {true, false})
        for (const ReadScene& scene : kReadScenes)
        {
            SCOPED_TRACE(std::string(scene.name) + (wide ? " (wide)" : " (baseline)"));
            int sharedClean = 0, sharedPoisoned = 0;
            const std::vector<float> clean = renderScene(bank, scene, wide, false, sharedClean);
            const std::vector<float> poisoned = renderScene(bank, scene, wide, true, sharedPoisoned);
            ASSERT_EQ(clean.size(), poisoned.size());
            EXPECT_EQ(std::memcmp(clean.data(), poisoned.data(), clean.size() * sizeof(float)), 0);
            EXPECT_GT(*std::max_element(clean.begin(), clean.end()), 0.0f);
            EXPECT_EQ(sharedClean, sharedPoisoned);
            // Moving morphs share sets between voices; standing ones never re-blend in a render call.
            EXPECT_EQ(sharedClean > 0, scene.moving);
        }
}
