// Feeds arbitrary bytes to the sound-blob parser. Every accepted blob must satisfy the map's
// invariants: zones tiling the blob, counts in range, a monotonic note map that reaches the last
// zone, bounded names and zone views inside the blob. Any violation aborts.
#include "engine/sound/InstrumentMap.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// Any violation aborts, which libFuzzer and the corpus replay both report.
#define require(condition) ((condition) ? void() : std::abort())

namespace
{

void checkMap(const InstrumentMap& map, const SoundDataRef& ref, int index)
{
    const uint8_t* blob = ref.data;
    require(map.data == blob && map.size == ref.size && map.index == index && map.size >= kMinBlobSize);
    require(blob[0] == 'Q' && blob[1] == 'j' && blob[2] == 0 && map.gain == float(blob[5]) / 255.0f);
    require(map.numZones >= 1 && map.numZones <= kMaxSoundZones && map.numZones == blob[4]);

    // Names: terminated inside their fields, and together no longer than the reference name.
    const size_t categoryLength = strnlen(map.category, kSoundNameSize);
    const size_t nameLength = strnlen(map.name, kSoundNameSize);
    require(categoryLength + 1 + nameLength <= size_t(kSoundNameSize) && nameLength < size_t(kSoundNameSize));
    require(std::memcmp(map.category, ref.name, categoryLength) == 0 && ref.name[categoryLength] == '_');
    require(!std::memchr(map.category, '_', categoryLength) && !std::memchr(map.name, '_', nameLength));

    // Zones tile the blob exactly.
    uint64_t o = 3 + uint64_t(blob[3]);
    for (int k = 0; k < map.numZones; ++k)
    {
        require(map.zoneOffset[size_t(k)] == o && o + kZoneHeaderSize <= map.size);
        const SoundZone z = map.zone(k);
        require(z.bytes == blob + o && z.key == map.zoneKey[size_t(k)] && z.key == blob[o]);
        require(z.harmonicCount <= kMaxZoneHarmonics && z.bytes[5] == kZoneFormat);
        const uint64_t length =
            uint64_t(zoneLength(z.harmonicCount, z.frameCount, z.harmonicShareFlag, z.resonanceCount));
        require(o + length <= map.size);
        const uint8_t* end = blob + o + length;
        require(z.resonances + size_t(z.resonanceCount) * kZoneResonanceSize <= end);
        require(z.bandRecords + size_t(z.harmonicCount) * size_t(z.bandStride) == end);
        // Touch every byte the views address, so a wrong pointer shows under AddressSanitizer.
        volatile unsigned sum = 0;
        for (const uint8_t* p = z.onsetBands; p < end; ++p)
            sum = sum + *p;
        // The zone's lookup at its own key stays in the table.
        require(map.zoneForNote(z.key) < map.numZones);
        o += length;
    }
    require(o == map.size);

    // Note map: starts at zone 0, advances by at most one per note, reaches the last zone at
    // note 127 and keeps it above; matches the midpoint rule.
    int z = 0;
    for (int n = 0; n < kNoteMapSize; ++n)
    {
        if (n < kNoteMapNotes && z < map.numZones - 1 &&
            float(n) >= float(map.zoneKey[size_t(z)] + map.zoneKey[size_t(z + 1)]) * 0.5f - 0.01f)
            ++z;
        require(map.noteToZone[size_t(n)] == z);
    }
    require(z == map.numZones - 1);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size copy: any read past the blob's end is reported.
    std::vector<uint8_t> blob(data, data + size);

    SoundDataRef ref;
    std::strcpy(ref.name, "Fuzz_Blob");
    ref.data = size == 0 ? nullptr : blob.data();
    ref.size = size;
    InstrumentMap map;
    if (makeInstrumentMap(ref, &map, 3))
    {
        require(std::strcmp(map.category, "Fuzz") == 0 && std::strcmp(map.name, "Blob") == 0);
        checkMap(map, ref, 3);
    }

    // The same blob under a name taken from its last bytes, without a guaranteed NUL: the name
    // search must stay inside the field.
    auto named = std::make_unique<SoundDataRef>(ref);
    const size_t n = size < size_t(kSoundNameSize) ? size : size_t(kSoundNameSize);
    std::memset(named->name, '_', sizeof named->name);
    if (n > 0) std::memcpy(named->name, data + size - n, n);
    InstrumentMap other;
    if (makeInstrumentMap(*named, &other, 0)) checkMap(other, *named, 0);
    return 0;
}
