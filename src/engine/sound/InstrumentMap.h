#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Sound blobs and their parsed headers.
//
// A sound blob is one analysed sound: little-endian, packed, offsets from its first byte.
//   header  0..1  magic "Qj"
//           2     0
//           3     headerExtra: zone 0 starts at offset 3 + headerExtra
//           4     zone count Z (1..kMaxSoundZones)
//           5     gain byte G (the map's gain is G / 255)
//           6..   headerExtra - 3 bytes that nobody reads
//   zones   back to back, the last one ending exactly at the blob's end.
//
// Zone record (offsets from the zone's first byte):
//    0 u8 key  1..2 unread  3 u16 harmonicCount H  5 u8 format (1)  6 u8 frameCount T
//    7 u16 frameRate (frames per second x 100)  9 u8 harmonicShareFlag  10 u8 resonanceCount P
//   11 i16 tuneCents  13 u8 warpWidth  14 u8 jitterAmount  15 u16 jitterRate  17 u8 vibratoDepth
//   18 32 onset bands of 6 bytes {u16 level, u16 width, i8 centre offset, i8 delay}
//  210 P resonance records of 9 bytes {u16 level, u16 width, u8 damping, u8 split, u8 shade,
//      u16 spread}
//  then H share bytes when harmonicShareFlag is non-zero
//  then H band ("harmonic") records of 22 + T bytes: i16 level A, u16 width A, i16 level B,
//      u16 width B, u8 decay shape, u16 level C, i16 detune, u8 bin offset, bytes 14..21, then T
//      signed envelope bytes.
// Zone length = 210 + 9 P + (H if harmonicShareFlag else 0) + H (22 + T).
//
// The parser accepts some values that the voice code must bound where it uses them: H up to 80
// (the band tables are indexed up to H + 1), H = 0 (no energy), P up to 255 (a voice keeps 64
// resonance records), keys up to 255 (noteToZone has room for every u8 key, see below), and
// band bytes 20 whose running sum reaches 80 or more (the jitter generators).

inline constexpr int kMaxSoundZones = 64;        // zones per blob
inline constexpr int kNoteMapNotes = 128;        // MIDI notes the note map is computed for
inline constexpr int kNoteMapSize = 256;         // room for a lookup at any u8 zone key
inline constexpr int kMaxZoneHarmonics = 80;     // largest harmonicCount the parser accepts
inline constexpr int kSoundNameSize = 64;        // name fields, NUL included
inline constexpr std::size_t kMinBlobSize = 129; // shorter blobs are refused unread
inline constexpr int kNumInstrumentFeatures = 98;

// Zone layout.
inline constexpr int kZoneHeaderSize = 18; // bytes before the onset bands
inline constexpr int kZoneOnsetBands = 32;
inline constexpr int kZoneOnsetBandSize = 6;
inline constexpr int kZoneFixedSize = kZoneHeaderSize + kZoneOnsetBands * kZoneOnsetBandSize; // 210
inline constexpr int kZoneResonanceSize = 9;
inline constexpr int kZoneBandHeaderSize = 22;
inline constexpr int kZoneFormat = 1;

// Little-endian field readers for blob bytes.
inline uint16_t blobU16(const uint8_t* p) noexcept
{
    return uint16_t(p[0] | (p[1] << 8));
}
inline int16_t blobI16(const uint8_t* p) noexcept
{
    return int16_t(blobU16(p));
}

// Length in bytes of a zone with these counts (at most 24745, so int is wide enough).
constexpr int32_t zoneLength(int harmonicCount, int frameCount, int harmonicShareFlag,
                             int resonanceCount) noexcept
{
    return kZoneFixedSize + kZoneResonanceSize * resonanceCount +
           (harmonicShareFlag != 0 ? harmonicCount : 0) + harmonicCount * (kZoneBandHeaderSize + frameCount);
}

// One blob as the sound library hands it over. Owns nothing: data points into the processor's
// sound buffer, which outlives every map made from it.
struct SoundDataRef
{
    // NUL-terminated (a field without a NUL is read up to its end): category, "_", name, and
    // optionally "_" and anything, which is ignored.
    char name[kSoundNameSize] = {};
    const unsigned char* data = nullptr; // first byte of the blob; null for an empty entry
    uint64_t size = 0;                   // blob length in bytes
};

// A sound's feature vector, compared by the canvas construction. Computed by the sound list
// analysis; a fresh map holds zeros.
struct InstrumentFeatures
{
    static constexpr int kDetune = 0;   // mean absolute detune
    static constexpr int kRegister = 1; // register, -1..1
    static constexpr int kProfileBands = 32;
    static constexpr int kProfileEnergy = 2; // [2..33] loudness profile of the energies
    static constexpr int kProfileDecay = 34; // [34..65] profile of the decay-weighted energies
    static constexpr int kProfileNoise = 66; // [66..97] profile of the noise-weighted energies

    std::array<float, kNumInstrumentFeatures> values{};

    float& operator[](int i) noexcept { return values[size_t(i)]; }
    float operator[](int i) const noexcept { return values[size_t(i)]; }

    // this += w * other, entry by entry (sums, weighted means and differences of features).
    void addScaledFeatures(const InstrumentFeatures* other, float w) noexcept;
};

// Decoded view of one zone of a valid map. Pointers point into the blob; every record they
// address lies inside it, because the map was accepted only when the zones tile the blob exactly.
// Counts are the raw stored values: users clamp them to their own capacities.
struct SoundZone
{
    const uint8_t* bytes = nullptr; // the zone's first byte
    int key = 0;                    // MIDI note the zone was recorded at (0..255 as stored)
    int harmonicCount = 0;          // H, 0..kMaxZoneHarmonics
    int frameCount = 0;             // T, envelope bytes per band record
    int frameRate = 0;              // frames per second x 100
    int harmonicShareFlag = 0;      // non-zero: H share bytes are present
    int resonanceCount = 0;         // P, 0..255
    int tuneCents = 0;
    int warpWidth = 0;
    int jitterAmount = 0;
    int jitterRate = 0;
    int vibratoDepth = 0;
    const uint8_t* onsetBands = nullptr;  // kZoneOnsetBands records of kZoneOnsetBandSize bytes
    const uint8_t* resonances = nullptr;  // P records of kZoneResonanceSize bytes
    const uint8_t* shareBytes = nullptr;  // H bytes, or null when harmonicShareFlag is 0
    const uint8_t* bandRecords = nullptr; // H records of bandStride bytes
    int bandStride = kZoneBandHeaderSize; // 22 + T
};

// The parsed header of one valid blob; a fixed record, copied whole between threads.
struct InstrumentMap
{
    char name[kSoundNameSize] = {};      // text between the reference name's first and second "_"
    char category[kSoundNameSize] = {};  // text before the first "_"
    int32_t categoryIndex = 0;           // number of the category in the sound list (analysis)
    uint32_t colour = 0;                 // ARGB colour of the category (analysis)
    const unsigned char* data = nullptr; // the blob
    int32_t index = 0;                   // the sound's index in the engine's sound list
    uint64_t size = 0;                   // the blob's length
    int32_t numZones = 0;                // Z, 1..kMaxSoundZones
    float gain = 0.0f;                   // G / 255; rendering uses it as the formant key tracking
    // Entries at or beyond numZones carry no meaning.
    std::array<uint32_t, kMaxSoundZones> zoneOffset{}; // offset of each zone from the blob start
    std::array<uint16_t, kMaxSoundZones> zoneKey{};    // key byte of each zone
    // Zone index for each note. Entries 0..127 are the note map proper; entries 128..255 repeat
    // the last zone so that a lookup at any stored zone key (a u8) stays in bounds.
    std::array<uint16_t, kNoteMapSize> noteToZone{};
    InstrumentFeatures features; // zeroed until the analysis fills it

    // Zone index for a note; notes outside 0..kNoteMapSize-1 are clamped.
    int zoneForNote(int note) const noexcept
    {
        const int n = note < 0 ? 0 : (note >= kNoteMapSize ? kNoteMapSize - 1 : note);
        return noteToZone[size_t(n)];
    }

    // Decoded zone k (0 <= k < numZones) of a valid map.
    SoundZone zone(int k) const noexcept;
};

// Checks the blob that ref points at and parses its header into *map. Returns false for an
// invalid blob (too short or absent, wrong magic, a reference name without "_", more than 64
// zones, a zone with more than 80 band records or another format than 1, zones that do not tile
// the blob exactly, or keys whose note map never reaches the last zone); a false result may leave
// the map partly filled. Fills name, category, data, size, index, numZones, gain, zoneOffset,
// zoneKey and noteToZone, and leaves categoryIndex, colour and features untouched. Reads nothing
// past ref.size, allocates nothing and keeps no state.
bool makeInstrumentMap(const SoundDataRef& ref, InstrumentMap* map, int index) noexcept;
