#include "engine/sound/InstrumentMap.h"

#include "bankmaker/BankMaker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

namespace
{
// The blob is copied into a heap block of exactly `size` bytes, so that AddressSanitizer reports
// any read past its end; name is the reference's name field (NULs included). Returns the block,
// which the map's views point into, when the blob is accepted.
std::unique_ptr<uint8_t[]> parse(const std::vector<uint8_t>& bytes, const std::string& name,
                                 InstrumentMap* map, size_t size = SIZE_MAX)
{
    size = std::min(size, bytes.size());
    auto block = std::make_unique<uint8_t[]>(std::max<size_t>(size, 1));
    std::memcpy(block.get(), bytes.data(), size);
    SoundDataRef ref;
    std::memcpy(ref.name, name.data(), std::min(name.size(), sizeof ref.name));
    ref.data = block.get();
    ref.size = size;
    if (!makeInstrumentMap(ref, map, 7)) return nullptr;
    EXPECT_TRUE(map->data == block.get() && map->size == size && map->index == 7);
    return block;
}

qmbank::BlobSpec zonesWithKeys(std::vector<int> keys)
{
    qmbank::SoundDescription d;
    d.harmonics = 3;
    d.zoneKeys = std::move(keys);
    return qmbank::describeBlob(d);
}

// Every demo sound parses back to what the bank maker wrote: names, gain, zone offsets and keys,
// and zone views whose fields and last records read the written values, inside the blob.
TEST(InstrumentMap, DemoBankRoundTrips)
{
    for (const qmbank::SoundDescription& sound : qmbank::demoSounds())
    {
        const qmbank::BlobSpec desc = qmbank::describeBlob(sound);
        const std::vector<uint8_t> bytes = qmbank::encodeBlob(desc);
        const std::string entry = qmbank::entryName(sound);
        InstrumentMap map;
        const auto block = parse(bytes, entry, &map);
        ASSERT_TRUE(block) << entry;
        EXPECT_TRUE(map.category == sound.category && map.name == sound.name &&
                    map.gain == float(desc.gainByte) / 255.0f)
            << entry;
        ASSERT_EQ(map.numZones, int(desc.zones.size()));
        EXPECT_TRUE(map.zone(map.numZones).bytes == nullptr && map.zone(-1).bytes == nullptr);
        const std::vector<uint32_t> offsets = qmbank::zoneOffsets(desc);
        for (int k = 0; k < map.numZones; ++k)
        {
            const qmbank::BlobZone& z = desc.zones[size_t(k)];
            const SoundZone view = map.zone(k);
            EXPECT_TRUE(map.zoneOffset[size_t(k)] == offsets[size_t(k)] && map.zoneKey[size_t(k)] == z.key &&
                        view.harmonicCount == int(z.bands.size()) &&
                        view.resonanceCount == int(z.resonances.size()) && view.frameCount == z.frameCount &&
                        view.frameRate == z.frameRate && view.tuneCents == z.tuneCents &&
                        view.jitterRate == z.jitterRate && view.vibratoDepth == z.vibratoDepth &&
                        (view.shareBytes != nullptr) == (z.harmonicShareFlag != 0))
                << entry << " zone " << k;
            const uint8_t* last = view.bandRecords + (z.bands.size() - 1) * size_t(view.bandStride);
            const uint8_t* end = block.get() + (k + 1 < map.numZones ? offsets[size_t(k + 1)] : bytes.size());
            EXPECT_TRUE(blobI16(last) == z.bands.back().levelA &&
                        blobU16(last + 9) == z.bands.back().levelC &&
                        blobI16(last + 11) == z.bands.back().detune && last + view.bandStride == end &&
                        (z.resonances.empty() || blobU16(view.resonances + 7) == z.resonances[0].spread) &&
                        blobU16(view.onsetBands + 6 * 5) == z.onsetBands[5].level)
                << entry << " zone " << k;
        }
    }
}

// Each check of the parser refuses a blob broken in just its field (or a name without its "_", or
// zone keys that never let notes up to 127 reach the last zone); the unbroken blob, the largest band
// count, a name filling its field without a NUL and keys above 127 pass. AddressSanitizer watches
// each exact-size block. (The note map of every accepted blob is checked against the midpoint rule
// by the parser's fuzz target, whose corpus ctest replays.)
TEST(InstrumentMap, EachCheckRefusesItsBlob)
{
    const qmbank::BlobSpec desc = zonesWithKeys({48, 72});
    const std::vector<uint8_t> good = qmbank::encodeBlob(desc);
    const size_t zone1 = qmbank::zoneOffsets(desc)[1];
    const auto patched = [&good](std::vector<std::pair<size_t, uint8_t>> bytes, size_t size = 0)
    {
        std::vector<uint8_t> b = good;
        for (const auto& [at, v] : bytes)
            b[at] = v;
        b.resize(size != 0 ? size : b.size());
        return b;
    };
    qmbank::BlobSpec bands = desc;
    bands.zones[0].bands.resize(80);
    const std::vector<uint8_t> eighty = qmbank::encodeBlob(bands);
    bands.zones[0].bands.resize(81);
    std::vector<int> keys(65); // 65 zones whose note map would be valid
    std::iota(keys.begin(), keys.end(), 0);
    const auto keyed = [](std::vector<int> k) { return qmbank::encodeBlob(zonesWithKeys(std::move(k))); };
    // clang-format off
    const std::tuple<const char*, std::vector<uint8_t>, bool> cases[] = {
        {"unbroken", good, true}, {"80 band records", eighty, true},
        {"81 band records", qmbank::encodeBlob(bands), false}, {"no zones", patched({{4, 0}}), false},
        {"keys 120, 140: note 127 stays below the last zone", keyed({120, 140}), false},
        {"keys 127, 127, 127: the last zone starts at note 129", keyed({127, 127, 127}), false},
        {"keys 126, 127", keyed({126, 127}), true}, {"keys 60, 190", keyed({60, 190}), true},
        {"key 255", keyed({255}), true}, {"65 zones", keyed(keys), false},
        {"64 zones", keyed({keys.begin(), keys.end() - 1}), true},
        {"first magic byte", patched({{0, 'q'}}), false}, {"second magic byte", patched({{1, 'J'}}), false},
        {"byte 2 not zero", patched({{2, 1}}), false}, {"zone format 0", patched({{zone1 + 5, 0}}), false},
        {"zone format 2", patched({{zone1 + 5, 2}}), false},
        {"81 band records in the header", patched({{zone1 + 3, 81}, {zone1 + 4, 0}}), false},
        {"65535 band records", patched({{zone1 + 3, 255}, {zone1 + 4, 255}}), false},
        {"more resonances than bytes", patched({{zone1 + 10, 200}}), false},
        {"fewer resonances than bytes", patched({{6 + 10, 1}}), false},
        {"longer envelopes", patched({{zone1 + 6, 9}}), false},
        {"share flag without bytes", patched({{zone1 + 9, 1}}), false},
        {"header extra past the end", patched({{3, 255}}), false},
        {"trailing byte", patched({}, good.size() + 1), false},
        {"last zone one byte short", patched({}, good.size() - 1), false},
        {"last zone header cut", patched({}, zone1 + 17), false},
        {"zone header cut before its later fields", patched({}, zone1 + 10), false},
        {"last zone missing", patched({}, zone1), false}};
    // clang-format on
    InstrumentMap map;
    for (const auto& [what, bytes, accepted] : cases)
        EXPECT_EQ(parse(bytes, "A_B", &map) != nullptr, accepted) << what;
    const std::string full = std::string(30, 'A') + "_" + std::string(33, 'B'); // 64 bytes, no NUL
    for (const std::string& name :
         {full, std::string("NoUnderscore"), std::string(), std::string("Plain\0_x", 8)})
        EXPECT_EQ(parse(good, name, &map) != nullptr, name == full) << name;
    // Blobs shorter than the minimum are refused before the magic is read.
    for (size_t size = 0; size < kMinBlobSize; ++size)
        EXPECT_EQ(parse(good, "A_B", &map, size), nullptr) << size;
    SoundDataRef empty;
    std::strcpy(empty.name, "A_B");
    empty.size = 4096; // a size without data
    EXPECT_FALSE(makeInstrumentMap(empty, &map, 0));
    empty.data = good.data(), empty.size = good.size();
    EXPECT_FALSE(makeInstrumentMap(empty, nullptr, 0));
}
} // namespace
