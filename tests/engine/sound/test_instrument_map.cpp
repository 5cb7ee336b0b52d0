#include "engine/sound/InstrumentMap.h"

#include "bankmaker/BankMaker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{
// A blob in a heap block of exactly its own size, so that AddressSanitizer reports any read past
// its end.
struct OwnedBlob
{
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
};

OwnedBlob own(const std::vector<uint8_t>& v, size_t size)
{
    OwnedBlob b;
    b.size = size;
    b.bytes.reset(new uint8_t[size == 0 ? 1 : size]);
    std::memcpy(b.bytes.get(), v.data(), std::min(size, v.size()));
    return b;
}

SoundDataRef refTo(const OwnedBlob& b, const char* name)
{
    SoundDataRef r;
    std::strncpy(r.name, name, sizeof r.name - 1);
    r.data = b.bytes.get();
    r.size = b.size;
    return r;
}

bool parse(const std::vector<uint8_t>& bytes, const char* name, InstrumentMap* map, size_t size)
{
    const OwnedBlob b = own(bytes, size);
    return makeInstrumentMap(refTo(b, name), map, 7);
}

bool parse(const std::vector<uint8_t>& bytes, const char* name, InstrumentMap* map)
{
    return parse(bytes, name, map, bytes.size());
}

qmbank::BlobSpec zonesWithKeys(std::vector<int> keys)
{
    qmbank::SoundDescription d;
    d.harmonics = 3;
    d.zoneKeys = std::move(keys);
    return qmbank::describeBlob(d);
}

void putU16(std::vector<uint8_t>& b, size_t at, unsigned v)
{
    b[at] = uint8_t(v & 0xff);
    b[at + 1] = uint8_t(v >> 8);
}
} // namespace

// Generated blobs ------------------------------------------------------------------------------

TEST(InstrumentMapRoundTrip, DemoBankZonesOffsetsAndKeys)
{
    const std::vector<qmbank::SoundDescription> sounds = qmbank::demoSounds();
    ASSERT_GE(sounds.size(), 30u);
    for (size_t s = 0; s < sounds.size(); ++s)
    {
        const qmbank::BlobSpec desc = qmbank::describeBlob(sounds[s]);
        const std::vector<uint8_t> bytes = qmbank::encodeBlob(desc);
        const std::vector<uint32_t> offsets = qmbank::zoneOffsets(desc);
        const OwnedBlob blob = own(bytes, bytes.size());
        const std::string entry = qmbank::entryName(sounds[s]);
        InstrumentMap map;
        ASSERT_TRUE(makeInstrumentMap(refTo(blob, entry.c_str()), &map, int(s))) << entry;
        EXPECT_STREQ(map.category, sounds[s].category.c_str());
        EXPECT_STREQ(map.name, sounds[s].name.c_str());
        EXPECT_EQ(map.index, int(s));
        EXPECT_EQ(map.data, blob.bytes.get());
        EXPECT_EQ(map.size, bytes.size());
        EXPECT_FLOAT_EQ(map.gain, float(desc.gainByte) / 255.0f);
        ASSERT_EQ(map.numZones, int(desc.zones.size()));
        for (int k = 0; k < map.numZones; ++k)
        {
            const qmbank::BlobZone& z = desc.zones[size_t(k)];
            EXPECT_EQ(map.zoneOffset[size_t(k)], offsets[size_t(k)]);
            EXPECT_EQ(map.zoneKey[size_t(k)], z.key);
            // The zones tile the blob: each ends where the formula says the next one starts.
            const uint64_t end = k + 1 < map.numZones ? map.zoneOffset[size_t(k + 1)] : map.size;
            EXPECT_EQ(end - map.zoneOffset[size_t(k)],
                      uint64_t(zoneLength(int(z.bands.size()), z.frameCount, z.harmonicShareFlag,
                                          int(z.resonances.size()))));
            const SoundZone view = map.zone(k);
            EXPECT_EQ(view.harmonicCount, int(z.bands.size()));
            EXPECT_EQ(view.resonanceCount, int(z.resonances.size()));
            EXPECT_EQ(view.frameCount, z.frameCount);
            EXPECT_EQ(view.frameRate, z.frameRate);
            EXPECT_EQ(view.tuneCents, z.tuneCents);
            EXPECT_EQ(view.jitterRate, z.jitterRate);
            EXPECT_EQ(view.vibratoDepth, z.vibratoDepth);
            EXPECT_EQ(view.shareBytes != nullptr, z.harmonicShareFlag != 0);
            if (!z.bands.empty())
            {
                const uint8_t* last = view.bandRecords + (z.bands.size() - 1) * size_t(view.bandStride);
                EXPECT_EQ(blobI16(last), z.bands.back().levelA);
                EXPECT_EQ(blobU16(last + 9), z.bands.back().levelC);
                EXPECT_EQ(blobI16(last + 11), z.bands.back().detune);
                EXPECT_LE(last + view.bandStride, map.data + map.size);
            }
            if (!z.resonances.empty())
            {
                EXPECT_EQ(blobU16(view.resonances + 7), z.resonances[0].spread);
            }
            EXPECT_EQ(blobU16(view.onsetBands + 6 * 5), z.onsetBands[5].level);
        }
    }
}

TEST(InstrumentMapRoundTrip, LeavesAnalysisFieldsUntouched)
{
    const std::vector<uint8_t> bytes = qmbank::encodeBlob(zonesWithKeys({60}));
    InstrumentMap map;
    map.categoryIndex = 3;
    map.colour = 0xff123456;
    map.features[5] = 2.5f;
    ASSERT_TRUE(parse(bytes, "A_B", &map));
    EXPECT_EQ(map.categoryIndex, 3);
    EXPECT_EQ(map.colour, 0xff123456u);
    EXPECT_EQ(map.features[5], 2.5f);
    EXPECT_EQ(map.index, 7);
}

TEST(InstrumentMapRoundTrip, ShareFlagAddsOneByteperBandRecord)
{
    for (int flag : {0, 1, 255})
    {
        qmbank::BlobSpec desc = zonesWithKeys({60});
        desc.zones[0].harmonicShareFlag = uint8_t(flag);
        const std::vector<uint8_t> bytes = qmbank::encodeBlob(desc);
        InstrumentMap map;
        ASSERT_TRUE(parse(bytes, "A_B", &map));
        const int h = int(desc.zones[0].bands.size());
        EXPECT_EQ(map.size, 6u + 210u + (flag ? h : 0) + h * 22u) << flag;
    }
}

TEST(InstrumentMapRoundTrip, HeaderExtraMovesTheFirstZone)
{
    qmbank::BlobSpec desc = zonesWithKeys({60});
    desc.headerExtra = 40;
    InstrumentMap map;
    ASSERT_TRUE(parse(qmbank::encodeBlob(desc), "A_B", &map));
    EXPECT_EQ(map.zoneOffset[0], 43u);
}

// Names ------------------------------------------------------------------------------------------

TEST(InstrumentMapNames, SplitsCategoryAndName)
{
    const std::vector<uint8_t> bytes = qmbank::encodeBlob(zonesWithKeys({60}));
    InstrumentMap map;
    ASSERT_TRUE(parse(bytes, "Keys_Soft Piano_2", &map));
    EXPECT_STREQ(map.category, "Keys");
    EXPECT_STREQ(map.name, "Soft Piano");
    ASSERT_TRUE(parse(bytes, "_Pad", &map));
    EXPECT_STREQ(map.category, "");
    EXPECT_STREQ(map.name, "Pad");
    ASSERT_TRUE(parse(bytes, "Pads_", &map));
    EXPECT_STREQ(map.category, "Pads");
    EXPECT_STREQ(map.name, "");
    EXPECT_FALSE(parse(bytes, "NoUnderscore", &map));
    EXPECT_FALSE(parse(bytes, "", &map));
}

TEST(InstrumentMapNames, SearchStopsAtTheFieldEnd)
{
    const std::vector<uint8_t> bytes = qmbank::encodeBlob(zonesWithKeys({60}));
    const OwnedBlob blob = own(bytes, bytes.size());
    // A reference field filled to its last byte, without a NUL: the text ends with the field.
    auto ref = std::make_unique<SoundDataRef>();
    std::memset(ref->name, 'B', sizeof ref->name);
    std::memset(ref->name, 'A', 30);
    ref->name[30] = '_';
    ref->data = blob.bytes.get();
    ref->size = blob.size;
    InstrumentMap map;
    ASSERT_TRUE(makeInstrumentMap(*ref, &map, 0));
    EXPECT_EQ(std::string(map.category), std::string(30, 'A'));
    EXPECT_EQ(std::string(map.name), std::string(33, 'B'));

    // An underscore after the NUL is not found.
    std::memset(ref->name, 0, sizeof ref->name);
    std::strcpy(ref->name, "Plain");
    ref->name[20] = '_';
    EXPECT_FALSE(makeInstrumentMap(*ref, &map, 0));
}

// Note map ---------------------------------------------------------------------------------------

TEST(InstrumentMapNoteMap, MidpointsOfTheKeys)
{
    InstrumentMap map;
    ASSERT_TRUE(parse(qmbank::encodeBlob(zonesWithKeys({60, 64})), "A_B", &map));
    for (int n = 0; n < 128; ++n)
        EXPECT_EQ(map.noteToZone[size_t(n)], n <= 61 ? 0 : 1) << n;

    ASSERT_TRUE(parse(qmbank::encodeBlob(zonesWithKeys({60, 63})), "A_B", &map));
    EXPECT_EQ(map.noteToZone[61], 0);
    EXPECT_EQ(map.noteToZone[62], 1);

    ASSERT_TRUE(parse(qmbank::encodeBlob(zonesWithKeys({60, 60, 60})), "A_B", &map));
    for (int n = 0; n < 128; ++n)
        EXPECT_EQ(map.noteToZone[size_t(n)], n < 60 ? 0 : (n == 60 ? 1 : 2)) << n;

    ASSERT_TRUE(parse(qmbank::encodeBlob(zonesWithKeys({72})), "A_B", &map));
    for (int n = 0; n < kNoteMapSize; ++n)
        EXPECT_EQ(map.noteToZone[size_t(n)], 0);
}

TEST(InstrumentMapNoteMap, SevenZonesEachOwnTheirKey)
{
    InstrumentMap map;
    const std::vector<int> keys = {28, 40, 52, 64, 76, 88, 100};
    ASSERT_TRUE(parse(qmbank::encodeBlob(zonesWithKeys(keys)), "A_B", &map));
    for (size_t k = 0; k < keys.size(); ++k)
        EXPECT_EQ(map.noteToZone[size_t(keys[k])], k);
    for (int n = 1; n < 128; ++n)
        EXPECT_LE(map.noteToZone[size_t(n)] - map.noteToZone[size_t(n - 1)], 1);
    EXPECT_EQ(map.noteToZone[127], 6);
}

TEST(InstrumentMapNoteMap, KeysThatNeverReachTheLastZoneAreRefused)
{
    InstrumentMap map;
    EXPECT_FALSE(parse(qmbank::encodeBlob(zonesWithKeys({120, 140})), "A_B", &map));
    // Three equal keys at 127 need notes 127, 128 and 129 to reach zone 2.
    EXPECT_FALSE(parse(qmbank::encodeBlob(zonesWithKeys({127, 127, 127})), "A_B", &map));
    EXPECT_TRUE(parse(qmbank::encodeBlob(zonesWithKeys({126, 127})), "A_B", &map));
}

// Values beyond what the voice code holds --------------------------------------------------------

TEST(InstrumentMapHostile, KeysAbove127StayInsideTheNoteMap)
{
    InstrumentMap map;
    ASSERT_TRUE(parse(qmbank::encodeBlob(zonesWithKeys({255})), "A_B", &map));
    EXPECT_EQ(map.zoneKey[0], 255);
    EXPECT_EQ(map.zoneForNote(map.zoneKey[0]), 0);

    ASSERT_TRUE(parse(qmbank::encodeBlob(zonesWithKeys({60, 190})), "A_B", &map));
    EXPECT_EQ(map.noteToZone[190], 1);
    EXPECT_EQ(map.noteToZone[255], 1);
    EXPECT_EQ(map.zoneForNote(1000), 1);
    EXPECT_EQ(map.zoneForNote(-5), 0);
}

TEST(InstrumentMapHostile, HostileBankIsAcceptedWithViewsInsideTheBlob)
{
    const std::vector<qmbank::BankEntry> bank = qmbank::hostileBank();
    ASSERT_GE(bank.size(), 6u);
    for (const qmbank::BankEntry& e : bank)
    {
        const OwnedBlob blob = own(e.data, e.data.size());
        InstrumentMap map;
        ASSERT_TRUE(makeInstrumentMap(refTo(blob, e.name.c_str()), &map, 0)) << e.name;
        for (int k = 0; k < map.numZones; ++k)
        {
            const SoundZone z = map.zone(k);
            EXPECT_LE(z.harmonicCount, kMaxZoneHarmonics);
            const uint8_t* end = z.bandRecords + size_t(z.harmonicCount) * size_t(z.bandStride);
            EXPECT_LE(end, map.data + map.size) << e.name;
            EXPECT_LT(map.zoneForNote(z.key), map.numZones);
        }
    }
}

TEST(InstrumentMapHostile, BandRecordLimitIsEighty)
{
    qmbank::BlobSpec desc = zonesWithKeys({60});
    desc.zones[0].bands.resize(80);
    InstrumentMap map;
    EXPECT_TRUE(parse(qmbank::encodeBlob(desc), "A_B", &map));
    desc.zones[0].bands.resize(81);
    EXPECT_FALSE(parse(qmbank::encodeBlob(desc), "A_B", &map));
}

TEST(InstrumentMapHostile, OutOfRangeZoneViewIsEmpty)
{
    InstrumentMap map;
    ASSERT_TRUE(parse(qmbank::encodeBlob(zonesWithKeys({60})), "A_B", &map));
    EXPECT_EQ(map.zone(1).bytes, nullptr);
    EXPECT_EQ(map.zone(-1).bytes, nullptr);
    EXPECT_EQ(InstrumentMap{}.zone(0).bytes, nullptr);
}

// Malformed blobs --------------------------------------------------------------------------------

TEST(InstrumentMapMalformed, ShortAndEmptyBlobsAreRefusedUnread)
{
    // A valid two-zone blob cut at every length up to 128: the size test comes before the magic.
    const std::vector<uint8_t> bytes = qmbank::encodeBlob(zonesWithKeys({48, 72}));
    InstrumentMap map;
    for (size_t size = 0; size < kMinBlobSize; ++size)
        EXPECT_FALSE(parse(bytes, "A_B", &map, size)) << size;

    SoundDataRef empty;
    std::strcpy(empty.name, "A_B");
    EXPECT_FALSE(makeInstrumentMap(empty, &map, 0));
    empty.size = 4096; // a size without data
    EXPECT_FALSE(makeInstrumentMap(empty, &map, 0));

    const OwnedBlob blob = own(bytes, bytes.size());
    EXPECT_FALSE(makeInstrumentMap(refTo(blob, "A_B"), nullptr, 0));
}

TEST(InstrumentMapMalformed, EachCheckRefusesItsBlob)
{
    const qmbank::BlobSpec desc = zonesWithKeys({48, 72});
    const std::vector<uint8_t> good = qmbank::encodeBlob(desc);
    const size_t zone1 = qmbank::zoneOffsets(desc)[1];
    InstrumentMap map;
    ASSERT_TRUE(parse(good, "A_B", &map));

    struct Case
    {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* name;
    };
    std::vector<Case> cases;
    auto patched = [&good](size_t at, uint8_t v)
    {
        std::vector<uint8_t> b = good;
        b[at] = v;
        return b;
    };
    cases.push_back({"first magic byte", patched(0, 'q'), "A_B"});
    cases.push_back({"second magic byte", patched(1, 'J'), "A_B"});
    cases.push_back({"byte 2 not zero", patched(2, 1), "A_B"});
    cases.push_back({"no underscore", good, "AB"});
    cases.push_back({"65 zones", patched(4, 65), "A_B"});
    cases.push_back({"255 zones", patched(4, 255), "A_B"});
    cases.push_back({"no zones", patched(4, 0), "A_B"});
    cases.push_back({"zone format 0", patched(zone1 + 5, 0), "A_B"});
    cases.push_back({"zone format 2", patched(zone1 + 5, 2), "A_B"});
    {
        std::vector<uint8_t> b = good;
        putU16(b, zone1 + 3, 81);
        cases.push_back({"81 band records", b, "A_B"});
        putU16(b, zone1 + 3, 65535);
        cases.push_back({"65535 band records", b, "A_B"});
    }
    cases.push_back({"more resonances than bytes", patched(zone1 + 10, 200), "A_B"});
    cases.push_back({"fewer resonances than bytes", patched(6 + 10, 1), "A_B"});
    cases.push_back({"longer envelopes", patched(zone1 + 6, 9), "A_B"});
    cases.push_back({"share flag without bytes", patched(zone1 + 9, 1), "A_B"});
    cases.push_back({"header extra past the end", patched(3, 255), "A_B"});
    {
        std::vector<uint8_t> b = good;
        b.push_back(0);
        cases.push_back({"trailing byte", b, "A_B"});
        b = good;
        b.pop_back();
        cases.push_back({"last zone one byte short", b, "A_B"});
        b.resize(zone1 + 17);
        cases.push_back({"last zone header cut", b, "A_B"});
        b.resize(zone1);
        cases.push_back({"last zone missing", b, "A_B"});
    }
    for (const Case& c : cases)
        EXPECT_FALSE(parse(c.bytes, c.name, &map)) << c.what;
}

TEST(InstrumentMapMalformed, ZoneHeaderCheckedBeforeItIsRead)
{
    // Z = 2 but the blob ends 10 bytes into the second zone's header: refused without reading
    // the header's later fields (AddressSanitizer watches the exact-size block).
    const qmbank::BlobSpec desc = zonesWithKeys({48, 72});
    std::vector<uint8_t> bytes = qmbank::encodeBlob(desc);
    bytes.resize(qmbank::zoneOffsets(desc)[1] + 10);
    InstrumentMap map;
    EXPECT_FALSE(parse(bytes, "A_B", &map));
}

// Features ---------------------------------------------------------------------------------------

TEST(InstrumentFeaturesTest, AddScaledFeatures)
{
    InstrumentFeatures a;
    InstrumentFeatures b;
    for (int i = 0; i < kNumInstrumentFeatures; ++i)
    {
        a[i] = float(i);
        b[i] = 1.0f + 0.5f * float(i);
    }
    a.addScaledFeatures(&b, -2.0f);
    for (int i = 0; i < kNumInstrumentFeatures; ++i)
        EXPECT_FLOAT_EQ(a[i], float(i) - 2.0f - float(i)) << i;
    EXPECT_EQ(sizeof(InstrumentFeatures), kNumInstrumentFeatures * sizeof(float));
    EXPECT_EQ(InstrumentMap{}.features[97], 0.0f);
}
