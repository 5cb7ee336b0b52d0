#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "engine/synth/AddSynth.h"
#include "engine/modulation/Modulators.h"
#include "engine/canvas/NodeMixer.h"
#include "engine/sound/InstrumentMap.h"

// Fixed capacities of one voice and of the engine's voice tables.
inline constexpr int kMaxVoices = 16;
inline constexpr int kMaxHarmonics = 384;
inline constexpr int kMaxResonances = 64;
// Band records a zone may hold (its harmonicCount is at most this).
inline constexpr int kMaxBands = 80;
// Tables indexed by a band count plus one or two (bandStart[bandCount + 1], the mark list that a
// running sum over 80 bands can push to index 80 and rendering reads one past) get this room.
inline constexpr int kBandTableSize = kMaxBands + 2;
// Harmonic indices below this each form a band of their own.
inline constexpr int kSingleHarmonicBands = 40;
// Bands the harmonic indices 0..383 actually fall into.
inline constexpr int kNumHarmonicBands = 67;
// Mixed sounds per voice; a mix holds three, the slot arrays keep one spare entry.
inline constexpr int kMaxMixEntries = 3;
inline constexpr int kMaxSoundSlots = 4;
// Onset bands per zone and the onset transform.
inline constexpr int kOnsetBands = 32;
inline constexpr int kOnsetFftSize = 64;
inline constexpr int kOnsetHop = kOnsetFftSize / 2;
// Samples per channel of the onset buffer (scratchB holds two channels back to back).
inline constexpr int kOnsetMaxSamples = 256;
// Partials one voice hands to the resynthesis per hop: harmonics, then resonances.
inline constexpr int kMaxVoicePartials = kMaxHarmonics + kMaxResonances;
// Channel records: index = 1-based MIDI channel; record 0 is never written, record 16 (channel 16)
// is never written by block processing, so voices on channel 16 read neutral controllers.
inline constexpr int kNumMidiChannels = 16;
inline constexpr int kNumChannelRecords = kNumMidiChannels + 1;

// Blended band records of a voice, one array per field indexed by band, so that the per-band and
// per-harmonic loops read them as vectors; field numbers as rendering refers to them.
struct VoiceBands
{
    alignas(32) std::array<float, kMaxBands> levelA{};        // 0: decaying level
    alignas(32) std::array<float, kMaxBands> sharpA{};        // 1: its decay rate
    alignas(32) std::array<float, kMaxBands> levelB{};        // 2: transient level
    alignas(32) std::array<float, kMaxBands> sharpB{};        // 3: its decay rate
    alignas(32) std::array<float, kMaxBands> decayShape{};    // 4
    alignas(32) std::array<float, kMaxBands> levelC{};        // 5: steady level
    alignas(32) std::array<float, kMaxBands> oscDepth1{};     // 6: first oscillation depth
    alignas(32) std::array<float, kMaxBands> oscDepth2{};     // 7: second oscillation depth (times the sine)
    alignas(32) std::array<float, kMaxBands> oscRate{};       // 8: oscillation phase step per hop
    alignas(32) std::array<float, kMaxBands> oscStartPhase{}; // 9: start phase of the oscillation
    alignas(32) std::array<float, kMaxBands> tonality{};      // 10
    alignas(32) std::array<float, kMaxBands> noiseWidth{};    // 11
    alignas(32) std::array<float, kMaxBands> detune{};        // 13: harmonic-number offset
    alignas(32) std::array<int32_t, kMaxBands> phaseOffset{}; // 14: phase offset in 1024ths of a turn
};

// One mixed sound's band records as floats, one array per field in band order, so that the voice
// set-up blends whole vectors of bands instead of gathering each field from records a stride
// apart. Kept per voice for the zones it last blended (the key), since a moving morph re-blends the
// same zones every hop with new weights. Bands past the zone's count read 0, as a missing record.
struct DecodedBands
{
    const uint8_t* records = nullptr;
    const uint8_t* share = nullptr;
    ptrdiff_t stride = 0;
    int32_t bands = 0;
    // levels and widths of the two decays, steady level, decay shape, detune, bin offset, share,
    // 1 - detune weighting by bytes 14 and 15, then bytes 14..21 of the record.
    enum Field { kLevelA, kWidthA, kLevelB, kWidthB, kLevelC, kDecayShape, kDetune, kBinOffset, kShare, kDetuneGain,
                 kByte14, kNumFields = kByte14 + 8 };
    alignas(16) std::array<std::array<float, kMaxBands>, kNumFields> field{};
};

// Blended resonance record (16 words): six values set by the voice set-up, the phase, and the
// band-limited noise state that rendering owns.
struct VoiceResonance
{
    float tonalLevel = 0.0f;  // 0
    float noisyLevel = 0.0f;  // 1
    float freqHz = 0.0f;      // 2
    float bandwidthHz = 0.0f; // 3
    float decayLinear = 0.0f; // 4
    float decayQuad = 0.0f;   // 5
    int32_t phase = 0;        // 6: 1024ths of a turn
    BandLimNoiseCS noise;     // 7..15
};

// Per-harmonic state of a voice, one array per field, so that the per-harmonic loops read and
// write whole vectors: phase deviation (1024ths of a turn), oscillation phase (0..1) and the
// band-limited noise source.
struct HarmonicState
{
    alignas(32) std::array<int32_t, kMaxHarmonics> phase{};
    alignas(32) std::array<float, kMaxHarmonics> oscPhase{};
    BandLimNoiseBank<kMaxHarmonics> noise;
};

// What each harmonic reads from its own band, written whenever the set-up re-blends the bands, so
// that the per-harmonic loops read in harmonic order instead of gathering by band: oscillation rate
// and depths, detune, phase offset (scattered by the harmonic's random factor above the
// single-harmonic bands) and the stereo share crossfaded between its band and the next, with the
// coherent part that goes with it. Rendering only reads them, so voices with equal blends read one
// set (HarmonicBandPool).
struct HarmonicBands
{
    alignas(32) std::array<float, kMaxHarmonics> bandOscRate{};
    alignas(32) std::array<float, kMaxHarmonics> bandDepth1{};
    alignas(32) std::array<float, kMaxHarmonics> bandDepth2{};
    alignas(32) std::array<float, kMaxHarmonics> bandDetune{};
    alignas(32) std::array<int32_t, kMaxHarmonics> phaseOffset{};
    alignas(32) std::array<float, kMaxHarmonics> share{};
    alignas(32) std::array<float, kMaxHarmonics> shareCoherent{};
};

// One smoothed random generator of rendering's band jitter.
struct VoiceMark
{
    float rate = 0.0f;
    float reserved = 0.0f;
    float phase = 0.0f;
    float oldTarget = 0.0f;
    float newTarget = 0.0f;
    float value = 0.0f;
};

// Controller values of one MIDI channel (16 bytes).
struct ChannelState
{
    float bend = 0.0f;     // -1..1
    float modWheel = 0.0f; // 0..1
    float sustain = 0.0f;  // 0..1
    float pressure = 0.0f; // channel pressure 0..1
};

// Modulation routing of one render call: the active slots of the eight modulation slots, in slot
// order, each with its amount already scaled for its target.
inline constexpr int kNumModSlots = 8;

struct ModChainEntry
{
    int32_t source = 0;  // 0 none, 1 LFO 1, 2 LFO 2, 3 envelope 1, 4 envelope 2, 5 constant
    float amount = 0.0f; // slot amount times the target's scale
    int32_t scaler = 0;  // 0 none, 1 velocity, 2 mod wheel, 3 aftertouch, 4 note number, 5 note frequency
    int32_t target = 0;  // parameter index
};

struct ModChains
{
    std::array<ModChainEntry, kNumModSlots> entries{};
    int32_t count = 0;
};

// Fills a modulator state as the engine and every voice start it: both LFOs with 0.99 as their
// previous phase and random Noise/Sample&Hold values in -1..1, everything else 0.
void initModState(ModState& state) noexcept;

// One of the engine's voices. Block processing starts, retriggers and releases it; rendering ends it;
// KeySpaceDSP::setVoiceData fills the spectral data from the voice's mix of sounds.
struct KeyVoice
{
    KeyVoice() noexcept;

    float timePos = 0.0f;  // seconds into the sound; negative until the sound starts
    uint32_t state = 0;    // 0 free, 1 sounding, 2 released
    int32_t note = 0;      // MIDI note 0..127
    int32_t channel = 1;   // 1-based MIDI channel
    int32_t triHint = 0;   // triangle search hint of the XY Pad lookup
    float pitch = 0.0f;    // glided pitch in semitones
    int32_t phaseAcc = 0;  // fundamental's phase in 1024ths of a turn (only the low 10 bits matter)
    float velocity = 0.0f; // 0..1
    float aftertouch = 0.0f;
    float releaseProgress = 0.0f;
    float dampProgress = 0.0f;
    float attackProgress = 0.0f;
    uint8_t onsetPending = 0;
    uint8_t needsSetup = 1;

    // Spectral data written by the voice set-up.
    float veloGain = 0.0f;
    VoiceBands bands{};
    std::array<VoiceResonance, kMaxResonances> resonances{};
    int32_t voiceResonanceCount = 0;
    int32_t activeResonances = 0;
    int32_t bandCount = 0;
    int32_t activeBands = 0;
    float soundKey = 0.0f;
    float soundGain = 0.0f;
    float soundPitchOffset = 0.0f;
    float pitchDecayRate = 0.0f;
    float vibratoDepth = 0.0f;

    LFOState vibrato{};

    // Pitch jitter: rate and amplitude from the set-up, the rest advanced by rendering.
    float jitterRate = 1.0f;
    float jitterAmplitude = 1.0f;
    float jitterPhase = 1.0f;
    float jitterOld = 0.0f;
    float jitterNew = 0.0f;
    float jitterValue = 0.0f;

    HarmonicState harmonics{};
    int32_t voiceHarmonicCount = 0;
    // The engine's set of per-harmonic band values the voice reads (KeySpaceDSP::harmonicBands),
    // as the set-up last chose it: rendering reads it every hop without looking the slot up.
    int32_t harmonicBandSet = 0;

    // The gain exponent the voice last rendered with and its exponential, so that a gain that
    // holds from hop to hop costs no library call (NaN: nothing cached yet).
    float gainExponent = std::numeric_limits<float>::quiet_NaN();
    float gainFactor = 0.0f;

    // ---- Block-rendering state (owned by KeySpaceDSP::process; may grow there) ----
    // Random pairs of the stereo share: one per harmonic plus the second channel's offset into them.
    static constexpr int kMaxSharePairs = 416;
    // Stereo share decorrelation: two tables of smoothly renewed random complex pairs. While
    // shareCounter runs from 0 to 1 the voice crossfades from table 1 - shareNewTable to table
    // shareNewTable; each time it passes 1 the old table is refilled and the roles swap. Real and
    // imaginary parts in arrays of their own, as the per-harmonic crossfade of the tables reads them.
    struct SharePairTable
    {
        alignas(32) std::array<float, kMaxSharePairs> re{};
        alignas(32) std::array<float, kMaxSharePairs> im{};
    };
    std::array<SharePairTable, 2> sharePairs{};
    int32_t shareNewTable = 0;
    float shareCounter = 0.0f;
    // Each mixed sound's envelope bytes at the two frames around the voice's frame position, as
    // floats in band order, so that the per-hop blend of the frames is a plain vector loop instead
    // of two byte loads a band record apart per band. A frame lasts a dozen hops and more, so they
    // are read again only when the frames (or where the envelopes lie) change, or more bands are
    // wanted; keyed by address like the decoded bands. Past the bands read the last group of eight
    // holds zeros.
    struct EnvelopeFrames
    {
        const uint8_t* envelope = nullptr;
        int32_t stride = 0;
        int32_t frame0 = -1;
        int32_t frame1 = -1;
        int32_t bands = 0;
        alignas(32) std::array<float, kMaxBands> at0{};
        alignas(32) std::array<float, kMaxBands> at1{};
    };
    std::array<EnvelopeFrames, kMaxSoundSlots> envelopeFrames{};
    // What the band levels work out per band from the blended bands alone, kept while a standing
    // morph leaves the bands as they are, so that its hops only scale them: the jitter marks around
    // each band's running sum with the smoothed weight of the upper one, and each band's noisy and
    // tonal factor and noise width. Keyed by the bits of the inputs they came from: the first
    // `bands` bands' running sums, tonalities and noise widths, the mark count and the Fatness.
    struct SteadyBands
    {
        int32_t bands = 0; // 0: nothing kept
        int32_t markCount = 0;
        uint32_t fatness = 0;
        alignas(32) std::array<int32_t, kMaxBands> runningSum{};
        alignas(32) std::array<int32_t, kMaxBands> tonality{};
        alignas(32) std::array<int32_t, kMaxBands> noiseWidth{};
        alignas(32) std::array<int32_t, kMaxBands> markLow{};
        alignas(32) std::array<int32_t, kMaxBands> markHigh{};
        alignas(32) std::array<float, kMaxBands> markWeight{};
        alignas(32) std::array<float, kMaxBands> noisy{};
        alignas(32) std::array<float, kMaxBands> tonal{};
        alignas(32) std::array<float, kMaxBands> width{};
    };
    SteadyBands steadyBands{};
    // ---- end of block-rendering state ----

    std::array<float, kMaxBands> bandShare{};
    float shareTime = 0.0f;
    std::array<VoiceMark, kBandTableSize> marks{};
    int32_t markCount = 0;
    // What the last blend gave before the voice's own factors, for a voice that takes the blend:
    // the three levels before the velocity gain, the noise width before the note's frequency, and
    // the marks whose rate it set (bit m % 64 of word m / 64).
    struct UnscaledBands
    {
        alignas(32) std::array<float, kMaxBands> levelA{};
        alignas(32) std::array<float, kMaxBands> levelB{};
        alignas(32) std::array<float, kMaxBands> levelC{};
        alignas(32) std::array<float, kMaxBands> noiseWidth{};
    };
    UnscaledBands unscaled{};
    std::array<uint64_t, 2> markRateSet{};
    std::array<float, kMaxBands> bandRunningSum{};
    std::array<float, kMaxBands> bandMean19{};

    ModState mod{};
    NodeMix mix{};
    // The mix the set-up last let pass as no change (as it came in), while mix's sounds and weights
    // have not changed since: the same mix again is no change either (settled 0: none).
    NodeMix settledMix{};
    uint8_t settled = 0;
    // What the set-up works out from values that stay while a morph moves, so that a re-blend
    // (every hop, while it moves) takes it from here: the zones it parsed lately with the values
    // their headers alone give (keyed by the sound's bytes and the zone's index, like the decoded
    // bands by address), the note's frequency and the velocity curve's gain.
    struct KnownZone
    {
        const uint8_t* sound = nullptr;
        int32_t index = -1;
        SoundZone zone{};
        float tuneRatio = 0.0f;
        float warp = 0.0f;
    };
    std::array<KnownZone, kMaxSoundSlots> knownZones{};
    int32_t knownZoneNext = 0;
    int32_t hzNote = -1;
    float noteHz = 0.0f;
    uint32_t curveVelocity = 0; // bits of the velocity and of the curve's value the gain is for
    uint32_t curveValue = 0;
    uint8_t curveKnown = 0;

    // Per mixed sound; only the first soundSlots entries are meaningful.
    int32_t soundSlots = 0;
    std::array<const uint8_t*, kMaxSoundSlots> slotEnvelope{};
    std::array<const uint8_t*, kMaxSoundSlots> slotZone{};
    std::array<int32_t, kMaxSoundSlots> slotStride{};
    std::array<float, kMaxSoundSlots> slotFrameRate{};
    std::array<float, kMaxSoundSlots> slotWeight{};
    std::array<int32_t, kMaxSoundSlots> slotFrameCount{};
    std::array<float, kMaxSoundSlots> slotTuneRatio{};
    std::array<float, kMaxSoundSlots> slotWarp{};
    // Harmonic (band record) count of each slot's zone; rendering reads envelopes only below it.
    std::array<int32_t, kMaxSoundSlots> slotBandCount{};
    std::array<DecodedBands, kMaxSoundSlots> decodedBands{};
};
