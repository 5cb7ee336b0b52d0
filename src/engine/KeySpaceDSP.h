#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/synth/AddSynth.h"
#include "engine/fx/FxUnit.h"
#include "engine/sound/InstrumentMap.h"
#include "engine/voice/HarmonicBandPool.h"
#include "engine/voice/KeyVoice.h"
#include "engine/modulation/Modulators.h"
#include "engine/canvas/NodeMixer.h"
#include "engine/params/Param.h"
#include "engine/params/ParamTable.h"
#include "engine/SynthFIFO.h"

// Lookup-table sizes of the engine.
inline constexpr int kNumErbBands = 64;
inline constexpr int kRotTableSize = 1024;
inline constexpr int kRandTableSize = 1024;
// Work buffers of the onset rendering (spectrum columns; two channels of onset samples).
inline constexpr int kScratchSize = 768;
inline constexpr float kDefaultSampleRate = 44100.0f;

// What the editor may show of one voice: its state (0 free, 1 sounding, 2 released), how far its
// release has gone, and its mix with sound indices.
struct VoiceDot
{
    uint32_t state = 0;
    float level = 0.0f;
    NodeMix mix{};
};

// Every voice slot below the voice count at the end of one process() call.
struct VoiceSnapshot
{
    std::array<VoiceDot, kMaxVoices> voices{};
    int32_t count = 0;
};

// Where a voice sits in the stereo image when the binaural stage is on.
struct BinauralParams
{
    bool on = false;
    float angle = 0.0f;         // radians, positive to the right
    float delay = 0.0f;         // seconds between the ears
    float shadowFreq = 1.0e10f; // corner of the far ear's head shadow, Hz
};

// The synthesis engine: queue readers, its own canvas copy, 16 voices, the 135 parameters, the effect
// chain, modulation and the tables that voice set-up and rendering share. Owned by the processor.
// Construction and init() may allocate; process() and everything it calls never allocate or lock.
class KeySpaceDSP
{
  public:
    KeySpaceDSP(SynthFIFO<NodeCanvasData>::Reader canvasReader, SynthFIFO<NodeMix>::Reader mixReader,
                SoundDataRef* soundRefs, int count);
    ~KeySpaceDSP();

    KeySpaceDSP(const KeySpaceDSP&) = delete;
    KeySpaceDSP& operator=(const KeySpaceDSP&) = delete;

    // Sets the sample rate, resets the resynthesis and sets up the effects. Call before the first
    // process() and whenever the rate changes; isInitialised() tells whether it ever ran, so a host
    // that never prepares at the default rate is still initialised once.
    void init(float newSampleRate);
    // Runs the per-partial loops in their wide vector form where allowed and the processor has it,
    // else in the baseline form; both give the same output. init() allows it unless the
    // environment holds QM_BASELINE_VECTORS=1; call this after init() to force a choice.
    void useWideVectors(bool allowed) noexcept;
    bool usesWideVectors() const noexcept { return wideVectors; }
    bool isInitialised() const noexcept { return initialised; }

    // Renders numSamples into out[0..min(numChannels, 2) - 1], then runs the effect chain.
    void process(float** out, int numSamples, int numChannels) noexcept;

    // Builds the routing of the eight modulation slots.
    void buildModChains(ModChains& chains) const noexcept;
    // Sets every modulation target's modulated value to its value.
    void resetModulation() noexcept;
    // Adds the routed modulation of this voice to the plain values. With chains null every target
    // is reset first and the routing is built on the spot; given chains, only their targets are
    // reset, so since the last resetModulation() nothing but this routing may have moved a target.
    void applyModulationForVoice(KeyVoice* voice, ModChains* chains) noexcept;
    // The last XY Pad lookup of one process() call, point and hint in, hint and mix out. Within a
    // call the canvas never changes and the lookup is a function of point and hint alone (its own
    // last-lookup record included), so voices that ask for the same point from the same triangle
    // take the mix of the voice before them instead of searching again.
    struct MixLookupMemo
    {
        bool valid = false;
        Point2D point{};
        int32_t hintIn = 0;
        int32_t hintOut = 0;
        NodeMix mix{}; // with sound indices
        // How often what it holds changed, and per voice slot that count plus one when the voice
        // last stood on the settled mix it holds, from the triangle it was looked up from (0: not).
        int32_t changes = 0;
        std::array<int32_t, kMaxVoices> stoodAfter{};
    };
    // The voice's mix for the canvas mode, with node entries replaced by sound indices (-1 for an
    // entry that names no sound of this engine). A memo may only be given while nothing but this
    // function changes the canvas since the memo was empty (within one process() call).
    NodeMix getMixDataForVoice(KeyVoice* voice, MixLookupMemo* memo = nullptr) noexcept;
    BinauralParams computeBinauralParams(KeyVoice* voice) const noexcept;
    // What the voices' binaural placements read from the parameters: whether the stage places
    // them at all, and the stereo position (each 0..1). The same for all voices of a render call.
    struct BinauralStage
    {
        bool placed = false;
        float x = 0.0f;
        float y = 0.0f;
    };
    BinauralStage binauralStage() const noexcept;
    // A note's placement at the stage's stereo position (placed), as computeBinauralParams gives it.
    BinauralParams binauralPlacement(int note, const BinauralStage& stage) const noexcept;
    // What a voice's band blend and its spread over the harmonics read: each mixed sound's band
    // records (where, stride, count, share bytes) and weight bits, the band count, the hop length
    // and whether the voice shares, and the bits of the values just past the blended bands that the
    // spread reads (phase offsets and spread fields of bands bandCount and bandCount + 1), which the
    // voice keeps from earlier set-ups. Equal keys give equal band data, up to the velocity gain
    // and the note's frequency, which a voice applies itself.
    struct BlendKey
    {
        struct Slot
        {
            const uint8_t* records = nullptr;
            const uint8_t* share = nullptr;
            ptrdiff_t stride = 0;
            int32_t bands = 0;
            uint32_t weightBits = 0;
        };
        int32_t slots = 0;
        int32_t bandCount = 0;
        uint32_t hopSecondsBits = 0;
        int32_t sharing = 0; // 1 while the voice shares (a full word, so the key holds no padding)
        std::array<Slot, kMaxSoundSlots> slot{};
        static constexpr int kEdgeFields = 5;
        std::array<uint32_t, 2 * kEdgeFields> edge{};
    };
    // The band blends of one process() call that later voices may take: a voice whose blend key
    // equals one a voice made before it copies that voice's band data and reads its per-harmonic
    // values instead of blending again (notes of one zone range on one morph blend the same zones
    // with the same weights). An entry names the voice that made it and goes when that voice is
    // set up again, so a memo may only be given while nothing but the set-up writes the voices'
    // band data since it was empty (within one process() call).
    struct BlendMemo
    {
        struct Entry
        {
            BlendKey key{};
            const KeyVoice* source = nullptr; // null: unused
        };
        std::array<Entry, 4> entries{};
        int32_t next = 0;
        int32_t taken = 0; // set-ups that took a blend from it
    };
    // Blends the mixed sounds' zones into the voice's spectral data, or takes the blend of an
    // earlier voice from the memo; renders the onset burst into the resynthesis rings when the
    // voice's onset is pending.
    void setVoiceData(KeyVoice* voice, NodeMix mix, BlendMemo* memo = nullptr) noexcept;

    // Queue intake (pollQueues passes what it takes through these): copy a canvas or a mix taken
    // from a queue after making every count and index in it safe to use. receiveMix keeps the mix only when
    // it was computed for the canvas's mode and reports whether it did.
    void receiveCanvas(const NodeCanvasData& incoming) noexcept;
    bool receiveMix(const NodeMix& incoming) noexcept;

    // Controller record of a 1-based MIDI channel; out-of-range channels read the neutral record 0.
    ChannelState& channelState(int channel) noexcept;

    int numSounds() const noexcept { return static_cast<int>(sounds.size()); }

    // Rules for choosing the sounds of a new canvas.
    enum NodeMixType : int
    {
        RandomSet = 0,     // a neighbourhood of up to 12 sounds around a randomly drawn sound
        CategorySpace = 1, // the sounds of one category (at most 64)
        RotateCurrent = 2, // the current canvas's sounds, laid out again around its current mix
        RotateAll = 3,     // the current mix's sounds and their nearest neighbours among all sounds
    };
    // Replaces the nodes of *canvas with a set of sounds chosen by type (n is the category index
    // for CategorySpace, unused otherwise), laid out by their features inside lo-hi, and
    // triangulates it. The canvas's mode and bounds are kept; for RotateCurrent and RotateAll its
    // current mix (which must be up to date) is read first. Draws engineRand(); may run on any
    // thread, touches only *canvas.
    void makeNodeCanvas(NodeCanvasData* canvas, NodeMixType type, int n, Point2D lo, Point2D hi) const;

    SynthFIFO<NodeCanvasData>::Reader canvasReader;
    SynthFIFO<NodeMix>::Reader mixReader;
    // The voices as the last process() call left them, for the editor's voice dots: the render
    // thread owns the voices, so other threads read only this (newest record).
    SynthFIFO<VoiceSnapshot> voiceSnapshots{2};
    NodeCanvasData canvas{};
    std::array<KeyVoice, kMaxVoices> voices;
    int32_t voiceCount = 0;
    // The per-harmonic band values each voice slot reads (voices with equal blends read one set).
    HarmonicBandPool harmonicBandPool;
    // A voice's index in the voice table, HarmonicBandPool::kOutsideSlot for a voice outside it.
    int voiceSlot(const KeyVoice& v) const noexcept
    {
        const auto at = reinterpret_cast<uintptr_t>(&v);
        const auto first = reinterpret_cast<uintptr_t>(voices.data());
        if (at < first || at >= first + sizeof voices) return HarmonicBandPool::kOutsideSlot;
        return static_cast<int>((at - first) / sizeof(KeyVoice));
    }
    // What the voice's harmonics read of their bands.
    const HarmonicBands& harmonicBands(const KeyVoice& v) const noexcept
    {
        return harmonicBandPool.sets[std::min(static_cast<uint32_t>(v.harmonicBandSet),
                                              uint32_t{HarmonicBandPool::kSets - 1})];
    }
    std::vector<int32_t> hostParamIndex;
    int32_t hostParamCount = 0;
    std::vector<Param> params;
    std::array<FxUnit*, kNumFxUnits> fx{}; // owned; created, bound and deleted through FxChain.h
    std::unique_ptr<Modulators> modulators;
    std::vector<int32_t> modTargets;
    std::vector<float> modTargetScales;
    std::array<float, kNumErbBands> erbBandWidthHz{};
    std::array<int32_t, kMaxHarmonics> harmBand{};
    std::array<int32_t, kBandTableSize> bandStart{};
    std::array<int32_t, kMaxHarmonics> harmBandPos{};
    std::array<float, kMaxHarmonics> harmBandWeight{};
    std::array<float, kMaxBands> bandInvWidth{};
    float sampleRate = kDefaultSampleRate;
    float binsPerHz = 0.0f;
    double tempoBpm = 120.0;
    double lastHostPosition = -100.0;
    double runningPosition = 0.0;
    uint8_t hostPlaying = 0;
    std::vector<float> scratchA;
    std::vector<float> scratchB;
    std::vector<InstrumentMap> sounds;
    std::unique_ptr<AddSynth> addSynth;
    ModState globalMod{};
    std::array<ChannelState, kNumChannelRecords> channels{};
    std::array<CF, kRotTableSize> rotTable{};
    std::array<CF, kRandTableSize> randTable{};
    std::array<float, kRandTableSize> randTableReal{};

    // ---- Block-rendering section (members used only by process(); may grow there) ----
    // Takes the newest canvas and the newest mix from the queues, as process() does at its start;
    // block processing calls it at a note start so the note plays on what the editor sent last.
    void pollQueues() noexcept;
    // What every voice of one hop shares.
    struct HopContext
    {
        float hopSeconds = 0.0f;
        double beats = 0.0;
        double* hostPos = nullptr; // musical position while the host plays, else null
        float spread = 0.0f;       // stereo spread 0..1 while the binaural stage is on, else 0
        float corrWeight = 1.0f;   // sqrt(1 - spread)
        float spreadWeight = 0.0f; // sqrt(spread)
        uint32_t rotSpread = 0;    // second channel's extra rotation, (int)(spread x 256)
        bool binauralOn = false;
        // Plain parameter values every voice reads the same way: Damping, Vibrato Life and
        // Vibrato Emphasis as 0..1, and the glide's factor per hop (0: a zero glide time).
        float dampingUnit = 0.0f;
        float vibratoLifeUnit = 0.0f;
        float vibratoEmphasisUnit = 0.0f;
        float glide = 0.0f;
        // The modulators' step of one hop.
        ModulatorStep modStep{};
        BinauralStage binaural{};
    };
    // Renders one voice's partials for one hop into the shared spectrum; mixMemo and blendMemo live
    // as long as the process() call.
    void renderVoiceHop(KeyVoice& voice, const HopContext& hop, ModChains& chains, MixLookupMemo& mixMemo,
                        BlendMemo& blendMemo) noexcept;
    // Per-hop work buffers of one voice: its partial list (positions, and the real and imaginary
    // amplitude parts of channel 0 and channel 1, one array each), per-harmonic values handed from
    // the amplitude pass to the noise (tonal and noisy level, oscillation rotation and whether the
    // harmonic's noise step is white) and per-band values.
    alignas(32) std::array<int32_t, kMaxVoicePartials> partialPos{};
    enum PartialPart { kPartialRe0, kPartialIm0, kPartialRe1, kPartialIm1, kNumPartialParts };
    alignas(32) std::array<std::array<float, kMaxVoicePartials>, kNumPartialParts> partialAmp{};
    enum HarmonicPart
    {
        kHarmWorkTonal,
        kHarmWorkNoisy,
        kHarmWorkRotIm,
        kNumHarmWorkParts
    };
    alignas(32) std::array<std::array<float, kMaxHarmonics>, kNumHarmWorkParts> harmonicWork{};
    // The voice's share pairs of this hop, old and new tables crossfaded (real, imaginary), with
    // room past the last pair for the second channel's offset.
    alignas(32) std::array<std::array<float, KeyVoice::kMaxSharePairs + kMaxHarmonics>, 2> sharePairWork{};
    // The values of the band at each harmonic's formant position: band start, inverse width, and
    // the tonal, noisy and noise-width levels of the band and the next one.
    enum BandAtHarmonic
    {
        kBandAtStart,
        kBandAtInvWidth,
        kBandAtTonal,
        kBandAtTonalNext,
        kBandAtNoisy,
        kBandAtNoisyNext,
        kBandAtWidth,
        kBandAtWidthNext,
        kNumBandAtParts
    };
    alignas(32) std::array<std::array<float, kMaxHarmonics>, kNumBandAtParts> bandAtHarmonicWork{};
    enum HarmonicIndex { kHarmWorkBandIndex, kHarmWorkWhiteNoise, kNumHarmWorkIndices };
    // Each harmonic's index into the rotation table, and the rotations read from it: first and
    // second channel (real and imaginary parts).
    alignas(32) std::array<int32_t, kMaxHarmonics> rotationIndexWork{};
    enum RotationPart { kRotRe0, kRotIm0, kRotRe1, kRotIm1, kNumRotParts };
    alignas(32) std::array<std::array<float, kMaxHarmonics>, kNumRotParts> rotationWork{};
    // Per voice slot, the far ear's delay turns of its harmonics (real, imaginary) for the delay
    // step and the number of harmonics they hold: the step seldom changes from hop to hop, so a
    // voice mostly reads them back instead of looking each one up again.
    struct FarTurns
    {
        uint32_t step = 0;
        int32_t count = 0; // harmonics held, whole groups of eight; 0: none
        alignas(32) std::array<float, kMaxHarmonics> re{};
        alignas(32) std::array<float, kMaxHarmonics> im{};
    };
    std::array<FarTurns, kMaxVoices> farTurnWork{};
    alignas(32) std::array<std::array<int32_t, kMaxHarmonics>, kNumHarmWorkIndices> harmonicIndexWork{};
    std::array<float, kBandTableSize> bandAmpWork{};
    std::array<float, kBandTableSize + 1> bandTonalWork{};
    std::array<float, kBandTableSize + 1> bandNoisyWork{};
    std::array<float, kBandTableSize + 1> bandWidthWork{};
    std::array<float, kBandTableSize + 1> markValueWork{};
    std::array<float, kMaxResonances> resonanceLevelWork{};
    // ---- end of block-rendering section ----

  private:
    void fillBandTables() noexcept;
    // Copies each band's values that its harmonics read into per-harmonic arrays.
    void spreadBandsToHarmonics(const KeyVoice& v, int bandCount, HarmonicBands& hs) const noexcept;
    void fillLookupTables() noexcept;
    void buildSoundList(SoundDataRef* soundRefs, int count);
    // Sound-list analysis hooks: per accepted sound right after it joins the list (category index
    // and features), and once over the whole list (colours).
    void analyseSound(InstrumentMap& map);
    void assignSoundColours();
    // Renders the voice's onset burst and adds it into the resynthesis rings.
    void renderOnset(KeyVoice* voice, const NodeMix& mix) noexcept;

    bool initialised = false;
    bool wideVectors = false;

    // Bands and mix: each MIDI note's binaural placement with the stereo position it was computed
    // at, since every voice asks for its own every hop; only the render thread computes placements.
    struct KnownPlacement
    {
        float x = -1.0f; // the stereo position (each 0..1; -1: none yet)
        float y = -1.0f;
        BinauralParams params;
    };
    mutable std::array<KnownPlacement, 128> binauralByNote{};
    // Works out a note's placement and remembers it (for notes 0..127).
    BinauralParams placeNote(int note, const BinauralStage& stage) const noexcept;
};

// Inline because every voice asks every hop and mostly takes the remembered placement: a call
// there made the render loop save and restore its live values around it. A placement depends on
// nothing but the note and the stereo position (never NaN or -0 here).
inline BinauralParams KeySpaceDSP::binauralPlacement(int note, const BinauralStage& stage) const noexcept
{
    if (note >= 0 && note < static_cast<int>(binauralByNote.size()))
    {
        const KnownPlacement& known = binauralByNote[static_cast<size_t>(note)];
        if (known.x == stage.x && known.y == stage.y)
            return known.params;
    }
    return placeNote(note, stage);
}
