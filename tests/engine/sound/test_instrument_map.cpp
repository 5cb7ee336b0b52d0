#include "engine/sound/InstrumentMap.h"

#include "bankmaker/BankMaker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
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
        map.categoryIndex = 3, map.features[5] = 2.5f; // analysis fields are left alone
        const auto block = parse(bytes, entry, &map);
        ASSERT_TRUE(block) << entry;
        EXPECT_TRUE(map.categoryIndex == 3 && map.features[5] == 2.5f && map.category == sound.category &&
                    map.name == sound.name && map.gain == float(desc.gainByte) / 255.0f)
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
    const std::string a30(30, 'A'), b33(33, 'B');
    // clang-format off
    const std::tuple<const char*, std::vector<uint8_t>, bool, std::string> cases[] = {
        {"unbroken", good, true, "A_B"}, {"80 band records", eighty, true, "A_B"},
        {"name filling its field, without a NUL", good, true, a30 + "_" + b33},
        {"name without an underscore", good, false, "NoUnderscore"}, {"empty name", good, false, ""},
        {"underscore after the name's NUL", good, false, std::string("Plain\0_x", 8)},
        {"81 band records", qmbank::encodeBlob(bands), false, "A_B"},
        {"keys 120, 140: note 127 stays below the last zone", qmbank::encodeBlob(zonesWithKeys({120, 140})), false, "A_B"},
        {"keys 127, 127, 127: the last zone would start at note 129", qmbank::encodeBlob(zonesWithKeys({127, 127, 127})), false, "A_B"},
        {"keys 126, 127", qmbank::encodeBlob(zonesWithKeys({126, 127})), true, "A_B"},
        {"keys 60, 190", qmbank::encodeBlob(zonesWithKeys({60, 190})), true, "A_B"}, {"key 255", qmbank::encodeBlob(zonesWithKeys({255})), true, "A_B"},
        {"first magic byte", patched({{0, 'q'}}), false, "A_B"}, {"second magic byte", patched({{1, 'J'}}), false, "A_B"},
        {"byte 2 not zero", patched({{2, 1}}), false, "A_B"}, {"65 zones", patched({{4, 65}}), false, "A_B"},
        {"255 zones", patched({{4, 255}}), false, "A_B"}, {"no zones", patched({{4, 0}}), false, "A_B"},
        {"zone format 0", patched({{zone1 + 5, 0}}), false, "A_B"}, {"zone format 2", patched({{zone1 + 5, 2}}), false, "A_B"},
        {"81 band records in the header", patched({{zone1 + 3, 81}, {zone1 + 4, 0}}), false, "A_B"},
        {"65535 band records", patched({{zone1 + 3, 255}, {zone1 + 4, 255}}), false, "A_B"},
        {"more resonances than bytes", patched({{zone1 + 10, 200}}), false, "A_B"},
        {"fewer resonances than bytes", patched({{6 + 10, 1}}), false, "A_B"},
        {"longer envelopes", patched({{zone1 + 6, 9}}), false, "A_B"}, {"share flag without bytes", patched({{zone1 + 9, 1}}), false, "A_B"},
        {"header extra past the end", patched({{3, 255}}), false, "A_B"}, {"trailing byte", patched({}, good.size() + 1), false, "A_B"},
        {"last zone one byte short", patched({}, good.size() - 1), false, "A_B"},
        {"last zone header cut", patched({}, zone1 + 17), false, "A_B"},
        {"zone header cut before its later fields", patched({}, zone1 + 10), false, "A_B"},
        {"last zone missing", patched({}, zone1), false, "A_B"}};
    // clang-format on
    InstrumentMap map;
    for (const auto& [what, bytes, accepted, name] : cases)
        EXPECT_EQ(parse(bytes, name, &map) != nullptr, accepted) << what;
    // Blobs shorter than the minimum are refused before the magic is read.
    for (size_t size = 0; size < kMinBlobSize; ++size)
        EXPECT_EQ(parse(good, "A_B", &map, size), nullptr) << size;
    SoundDataRef empty;
    std::strcpy(empty.name, "A_B");
    empty.size = 4096; // a size without data
    EXPECT_FALSE(makeInstrumentMap(empty, &map, 0));
    empty.data = good.data();
    empty.size = good.size();
    EXPECT_FALSE(makeInstrumentMap(empty, nullptr, 0));
}
} // namespace
