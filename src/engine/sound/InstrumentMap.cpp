#include "engine/sound/InstrumentMap.h"

namespace
{
constexpr uint8_t kMagic0 = 'Q';
constexpr uint8_t kMagic1 = 'j';
constexpr int kHeaderExtraOffset = 3;
constexpr int kZoneCountOffset = 4;
constexpr int kGainOffset = 5;

// Zone header fields the parser reads.
constexpr int kZoneKey = 0;
constexpr int kZoneHarmonicCount = 3;
constexpr int kZoneFormatOffset = 5;
constexpr int kZoneFrameCount = 6;
constexpr int kZoneFrameRate = 7;
constexpr int kZoneShareFlag = 9;
constexpr int kZoneResonanceCount = 10;
constexpr int kZoneTuneCents = 11;
constexpr int kZoneWarpWidth = 13;
constexpr int kZoneJitterAmount = 14;
constexpr int kZoneJitterRate = 15;
constexpr int kZoneVibratoDepth = 17;

// Length of the text in a fixed field: up to its NUL or the field's end, whichever comes first.
int boundedLength(const char* text, int capacity) noexcept
{
    int n = 0;
    while (n < capacity && text[n] != '\0')
        ++n;
    return n;
}

void copyText(char* dst, const char* src, int count) noexcept
{
    for (int i = 0; i < count; ++i)
        dst[i] = src[i];
    dst[count] = '\0';
}

// Splits "Category_Name[_anything]" into its two parts; false without an underscore.
bool splitReferenceName(const SoundDataRef& ref, InstrumentMap* map) noexcept
{
    const int length = boundedLength(ref.name, kSoundNameSize);
    int first = -1;
    for (int i = 0; i < length && first < 0; ++i)
        if (ref.name[i] == '_') first = i;
    if (first < 0) return false;
    int end = length;
    for (int i = first + 1; i < length; ++i)
        if (ref.name[i] == '_')
        {
            end = i;
            break;
        }
    // Both parts are shorter than the source field, so they fit with their NUL.
    copyText(map->category, ref.name, first);
    copyText(map->name, ref.name + first + 1, end - first - 1);
    return true;
}
} // namespace

void InstrumentFeatures::addScaledFeatures(const InstrumentFeatures* other, float w) noexcept
{
    for (int i = 0; i < kNumInstrumentFeatures; ++i)
        values[size_t(i)] += w * other->values[size_t(i)];
}

SoundZone InstrumentMap::zone(int k) const noexcept
{
    SoundZone z;
    if (data == nullptr || k < 0 || k >= numZones || k >= kMaxSoundZones) return z;
    const uint8_t* p = data + zoneOffset[size_t(k)];
    z.bytes = p;
    z.key = p[kZoneKey];
    z.harmonicCount = blobU16(p + kZoneHarmonicCount);
    z.frameCount = p[kZoneFrameCount];
    z.frameRate = blobU16(p + kZoneFrameRate);
    z.harmonicShareFlag = p[kZoneShareFlag];
    z.resonanceCount = p[kZoneResonanceCount];
    z.tuneCents = blobI16(p + kZoneTuneCents);
    z.warpWidth = p[kZoneWarpWidth];
    z.jitterAmount = p[kZoneJitterAmount];
    z.jitterRate = blobU16(p + kZoneJitterRate);
    z.vibratoDepth = p[kZoneVibratoDepth];
    z.onsetBands = p + kZoneHeaderSize;
    z.resonances = p + kZoneFixedSize;
    const uint8_t* afterResonances = z.resonances + kZoneResonanceSize * z.resonanceCount;
    z.shareBytes = z.harmonicShareFlag != 0 ? afterResonances : nullptr;
    z.bandRecords = afterResonances + (z.harmonicShareFlag != 0 ? z.harmonicCount : 0);
    z.bandStride = kZoneBandHeaderSize + z.frameCount;
    return z;
}

bool makeInstrumentMap(const SoundDataRef& ref, InstrumentMap* map, int index) noexcept
{
    // Size first: empty references (directory entries, entries never filled) have no bytes to
    // look at, not even a magic.
    if (map == nullptr || ref.data == nullptr || ref.size < kMinBlobSize) return false;
    const uint8_t* blob = ref.data;
    if (blob[0] != kMagic0 || blob[1] != kMagic1 || blob[2] != 0) return false;

    map->index = index;
    if (!splitReferenceName(ref, map)) return false;

    map->data = blob;
    map->size = ref.size;
    const int zoneCount = blob[kZoneCountOffset];
    map->numZones = zoneCount;
    if (zoneCount > kMaxSoundZones) return false;
    map->gain = float(blob[kGainOffset]) / 255.0f;

    // The zones must tile the blob exactly. Each zone start is checked before its header is read;
    // 64 zones of at most 24745 bytes cannot overflow 64 bits, and the exact-end test below
    // refuses any zone that runs past the end.
    const int64_t size = int64_t(ref.size > uint64_t(INT64_MAX) ? uint64_t(INT64_MAX) : ref.size);
    int64_t o = kHeaderExtraOffset + int64_t(blob[kHeaderExtraOffset]);
    for (int k = 0; k < zoneCount; ++k)
    {
        if (o + kZoneHeaderSize > size) return false;
        const uint8_t* zone = blob + o;
        map->zoneOffset[size_t(k)] = uint32_t(o);
        map->zoneKey[size_t(k)] = zone[kZoneKey];
        const int harmonicCount = blobU16(zone + kZoneHarmonicCount);
        if (harmonicCount > kMaxZoneHarmonics) return false;
        if (zone[kZoneFormatOffset] != kZoneFormat) return false;
        o +=
            zoneLength(harmonicCount, zone[kZoneFrameCount], zone[kZoneShareFlag], zone[kZoneResonanceCount]);
    }
    if (o != size) return false;

    // A note moves to the next zone at the midpoint of the two keys; the zone advances by at most
    // one per note, so equal keys each still own a note.
    int z = 0;
    for (int n = 0; n < kNoteMapNotes; ++n)
    {
        if (z < zoneCount - 1)
        {
            const float midpoint =
                float(map->zoneKey[size_t(z)] + map->zoneKey[size_t(z + 1)]) * 0.5f - 0.01f;
            if (float(n) >= midpoint) ++z;
        }
        map->noteToZone[size_t(n)] = uint16_t(z);
    }
    if (z != zoneCount - 1) return false;
    // Keys are u8 and reach 255: the entries above the MIDI range keep every lookup at a zone key
    // in bounds, and they belong to the last zone like note 127.
    for (int n = kNoteMapNotes; n < kNoteMapSize; ++n)
        map->noteToZone[size_t(n)] = uint16_t(z);
    return true;
}
