#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Quillmoor's own sound-bank maker: writes sound blobs from synthetic descriptions and packs them
// into ".qmbank" zip archives. Plain C++, deterministic: the same calls give the same bytes.
//
// Two levels:
//  - BlobSpec / BlobZone hold every stored field literally; encodeBlob() writes them in the blob
//    layout (header, zones, records). Tests that need exact values build these directly.
//  - SoundDescription describes a sound by its timbre (spectral tilt, odd/even balance, inharmonic
//    partials, formants, decay, noise, resonances, onset, envelopes, vibrato, ...);
//    describeBlob() turns it into a BlobSpec and makeBlob() into bytes.
//
// Level convention: the engine squares stored levels (amplitude = |L| x L x 1e-6), so a level L
// gives a partial of amplitude L^2 / 1e6; descriptions take linear amplitudes and store their
// signed square roots.
namespace qmbank
{

// One onset band (6 bytes): u16 level, u16 duration (seconds = d^2 x 1e-6), i8 centre offset in
// 1/128 of a 689 Hz band, i8 delay (seconds = e |e| with e = d x 0.001).
struct OnsetBand
{
    uint16_t level = 0;
    uint16_t duration = 0;
    int8_t centre = 0;
    int8_t delay = 0;
};

// One resonance record (9 bytes): level (amplitude = L^2 x 1e-6), width (decay rate
// 1 / (W^2 x 1e-6 + 1e-5) per second), damping (0..255), split (0 tonal .. 255 noisy), shade
// (bandwidth as a fraction of an ERB band, /255), spread (frequency in Hz = S^2 x 1e-4).
struct Resonance
{
    uint16_t level = 0;
    uint16_t width = 0;
    uint8_t damping = 0;
    uint8_t split = 0;
    uint8_t shade = 0;
    uint16_t spread = 0;
};

// One band ("harmonic") record: a 22-byte header and the zone's frameCount envelope bytes.
// Records 0..39 are single partials (record 0 sits at half the fundamental, record h at harmonic
// h), later records cover bands of harmonics.
struct BandRecord
{
    int16_t levelA = 0;           // decaying level (negative: a swell towards levelC)
    uint16_t widthA = 0;          // its decay: rate 1 / (W^2 x 1e-6 + 1e-4) per second
    int16_t levelB = 0;           // transient level
    uint16_t widthB = 0;          // its extra decay, same scale
    uint8_t decayShape = 0;       // byte 8: 0 exponential .. 255 faster than exponential
    uint16_t levelC = 0;          // steady level
    int16_t detune = 0;           // harmonic-number offset x 32768 (-1..1)
    uint8_t binOffset = 0;        // byte 13: phase offset in 1/256 turn (signed for records 0..39)
    uint8_t noisiness = 0;        // byte 14: 0 tonal .. 255 all noise
    uint8_t noiseWidth = 0;       // byte 15: noise bandwidth
    uint8_t oscDepth = 0;         // byte 16: depth of the band's oscillation (0..255)
    uint8_t oscRate = 0;          // byte 17: oscillation rate, Hz = r^2 x 0.01
    uint8_t oscPhase = 0;         // byte 18: start phase of the oscillation, /255 turn
    uint8_t shimmer = 0;          // byte 19: depth of the random amplitude jitter
    uint8_t markStride = 0;       // byte 20: band advance of the jitter generators, /255
    uint8_t markRate = 0;         // byte 21: jitter generator rate, Hz = r^2 x 0.01
    std::vector<int8_t> envelope; // frame envelope; encodeBlob pads or cuts it to frameCount
};

inline constexpr int kOnsetBandCount = 32;

struct BlobZone
{
    uint8_t key = 60;   // MIDI note of the zone
    uint8_t spare1 = 0; // bytes 1..2, never read by the engine
    uint8_t spare2 = 0;
    uint8_t format = 1;            // must be 1
    uint8_t frameCount = 0;        // T: envelope bytes per band record
    uint16_t frameRate = 0;        // envelope frames per second x 100
    uint8_t harmonicShareFlag = 0; // non-zero: one share byte per band record follows the resonances
    int16_t tuneCents = 0;
    uint8_t warpWidth = 0;
    uint8_t jitterAmount = 0;
    uint16_t jitterRate = 0;
    uint8_t vibratoDepth = 0;
    std::array<OnsetBand, kOnsetBandCount> onsetBands{};
    std::vector<Resonance> resonances; // resonanceCount = size (at most 255)
    std::vector<uint8_t> shareBytes;   // written only when harmonicShareFlag != 0; padded to bands
    std::vector<BandRecord> bands;     // harmonicCount = size
};

struct BlobSpec
{
    uint8_t headerExtra = 3; // zone 0 starts at 3 + headerExtra; values above 3 add filler bytes
    uint8_t gainByte = 0;    // the sound's gain (formant key tracking) x 255
    std::vector<BlobZone> zones;
};

// Writes the blob bytes of desc. Counts come from the vector sizes (harmonic and resonance counts
// are stored as u16 and u8 as given, without checks, so hostile blobs can be made too).
std::vector<uint8_t> encodeBlob(const BlobSpec& desc);

// Byte offset of each zone in a blob that encodeBlob(desc) writes.
std::vector<uint32_t> zoneOffsets(const BlobSpec& desc);

// Synthetic sound description ---------------------------------------------------------------

struct InharmonicPartial
{
    float ratio = 1.0f;        // frequency / fundamental; placed at the nearest record (1..39)
    float amplitude = 0.0f;    // linear, relative to SoundDescription::level
    float decaySeconds = 1.0f; // time constant of its decay
};

struct Formant
{
    float hz = 500.0f;
    float bandwidthHz = 100.0f;
    float amplitude = 1.0f; // linear peak gain
};

struct ResonanceDescription
{
    float hz = 1000.0f;
    float amplitude = 0.01f; // linear
    float decaySeconds = 0.5f;
    float damping = 0.2f;   // 0..1
    float noisy = 0.1f;     // 0 tonal .. 1 noisy (split)
    float bandwidth = 0.2f; // 0..1 of an ERB band (shade)
};

enum class Envelope
{
    None,
    Fall,    // frames fall from +depth to -depth
    Rise,    // frames rise from -depth to +depth
    Wah,     // one slow sine cycle over the frames, high bands first
    Tremolo, // fast alternation
};

struct SoundDescription
{
    std::string category = "Test";
    std::string name = "Sound";
    std::string suffix; // written after a second "_" in the entry name, ignored by the engine

    // Spectrum: amplitude of harmonic h = level x h^-tilt x (oddGain or evenGain) x formants.
    float level = 0.05f; // linear amplitude of the fundamental before formants
    float tilt = 1.0f;
    float oddGain = 1.0f;
    float evenGain = 1.0f;
    float subLevel = 0.0f;                   // record 0, half the fundamental, relative to level
    int harmonics = 40;                      // band records per zone (0..80; the engine has 67 bands)
    float stretch = 0.0f;                    // detune of harmonic h = stretch x h^2 (clamped to +-0.99)
    std::vector<InharmonicPartial> partials; // non-empty: only these partials sound
    std::vector<Formant> formants;           // fixed in Hz across zones, so the spectrum follows the key
    std::vector<int> zoneKeys = {60};
    uint8_t gainByte = 0; // formant key tracking of the renderer, 0..255
    uint8_t headerExtra = 3;

    // Time behaviour of every band (seconds; 0 = no such part).
    float sustain = 1.0f;      // share of the level that stays (level C)
    float decaySeconds = 0.0f; // decay of the rest (level A); higher bands decay faster
    float decayShape = 0.0f;   // 0..1
    float transient = 0.0f;    // extra transient level (level B), relative
    float transientSeconds = 0.05f;
    float swellSeconds = 0.0f; // > 0: level A is negative, the sound swells into level C

    // Noise and movement.
    float noise = 0.0f;      // 0 tonal .. 1 noise (byte 14), more in higher bands
    float noiseWidth = 0.0f; // 0..1 (byte 15)
    float oscDepth = 0.0f;   // 0..1 (byte 16)
    float oscRateHz = 0.0f;  // (byte 17)
    float shimmer = 0.0f;    // 0..1 (byte 19)
    float markStride = 0.0f; // 0..1 (byte 20); keep the sum over bands below 60
    float markRateHz = 0.0f; // (byte 21)
    uint8_t shareFlag = 0;   // harmonicShareFlag
    float share = 0.0f;      // 0..1: share bytes, rising with the band

    std::vector<ResonanceDescription> resonances;

    // Onset burst over the 32 onset bands (689 Hz apart).
    float onsetLevel = 0.0f; // linear amplitude of the loudest onset band
    float onsetSeconds = 0.02f;
    float onsetCentreHz = 2000.0f; // peak of the onset spectrum
    float onsetSpreadHz = 3000.0f;
    float onsetDelaySeconds = 0.0f; // delay of the highest band (lower ones less)

    // Frame envelope.
    Envelope envelope = Envelope::None;
    int frames = 0; // frameCount
    float frameRateHz = 20.0f;
    int envelopeDepth = 40; // peak envelope byte

    // Pitch behaviour.
    int tuneCents = 0; // per zone, alternating sign across zones when tuneAlternate
    bool tuneAlternate = false;
    uint8_t warpWidth = 64;
    uint8_t jitterAmount = 0;
    uint16_t jitterRate = 0;
    uint8_t vibratoDepth = 0;
};

// The sound's entry name: "Category_Name", plus "_suffix" when it has one.
std::string entryName(const SoundDescription& d);
BlobSpec describeBlob(const SoundDescription& d);
std::vector<uint8_t> makeBlob(const SoundDescription& d);

// Banks ----------------------------------------------------------------------------------------

struct BankEntry
{
    std::string name;          // entry name in the archive, "Category_Name"
    std::vector<uint8_t> data; // blob bytes
};

// Descriptions of the demo bank's sounds, categories consecutive, the "x" category last.
std::vector<SoundDescription> demoSounds();
// The demo bank: about 30 sounds in 6 categories, exercising every blob field.
std::vector<BankEntry> demoBank();
// A bank with one category of 72 sounds (more than a canvas holds) and one small category.
std::vector<BankEntry> largeBank();
inline constexpr int kLargeBankBigCategorySize = 72;
// Blobs the parser accepts but whose values push the voice code's limits: 80 band records,
// 255 resonances, zone keys above 127, no band records, jitter strides summing past 80.
std::vector<BankEntry> hostileBank();

// Zip archives ---------------------------------------------------------------------------------

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
// A zip archive of stored entries in the given order, with fixed time stamps.
std::vector<uint8_t> makeBankZip(const std::vector<BankEntry>& entries);
bool writeBankZip(const std::string& path, const std::vector<BankEntry>& entries);
// Reads an archive's central directory and the entries' contents. Stored entries only; false on
// any inconsistency (bad signatures, out-of-range offsets, CRC mismatch).
bool readBankZip(const std::vector<uint8_t>& zip, std::vector<BankEntry>* entries);

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool readFile(const std::string& path, std::vector<uint8_t>* bytes);

} // namespace qmbank
