#include "bankmaker/BankMaker.h"

#include "engine/sound/InstrumentMap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

namespace
{
std::string tempPath(const char* file)
{
    const char* dir = std::getenv("QM_TEST_TMP");
    std::string base = dir != nullptr ? dir : "/tmp";
    std::system(("mkdir -p '" + base + "'").c_str());
    return base + "/" + file;
}

bool parseEntry(const qmbank::BankEntry& e, InstrumentMap* map)
{
    SoundDataRef ref;
    std::strncpy(ref.name, e.name.c_str(), sizeof ref.name - 1);
    ref.data = e.data.data();
    ref.size = e.data.size();
    return makeInstrumentMap(ref, map, 0);
}

float amplitude(int level)
{
    return std::fabs(float(level) * float(level) * 1e-6f);
}

// Harmonics that band record b covers in the engine's band layout.
int harmonicsInRecord(int b)
{
    if (b < 40) return 1;
    int start = 40;
    for (int i = 40; i < b; ++i)
        start = int(1.09 * start + 0.5);
    const int next = b >= 66 ? 384 : int(1.09 * start + 0.5);
    return std::max(1, std::min(next, 384) - start);
}
} // namespace

TEST(BankMakerZip, CrcMatchesKnownValues)
{
    const char* text = "123456789";
    EXPECT_EQ(qmbank::crc32(reinterpret_cast<const uint8_t*>(text), 9), 0xCBF43926u);
    EXPECT_EQ(qmbank::crc32(nullptr, 0), 0u);
    // Incremental use gives the same as one call.
    const uint32_t part = qmbank::crc32(reinterpret_cast<const uint8_t*>(text), 4);
    EXPECT_EQ(qmbank::crc32(reinterpret_cast<const uint8_t*>(text) + 4, 5, part), 0xCBF43926u);
}

TEST(BankMakerZip, ArchiveRoundTripsAndIsDeterministic)
{
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    const std::vector<uint8_t> zip = qmbank::makeBankZip(bank);
    EXPECT_EQ(zip, qmbank::makeBankZip(qmbank::demoBank()));
    std::vector<qmbank::BankEntry> back;
    ASSERT_TRUE(qmbank::readBankZip(zip, &back));
    ASSERT_EQ(back.size(), bank.size());
    for (size_t i = 0; i < bank.size(); ++i)
    {
        EXPECT_EQ(back[i].name, bank[i].name);
        EXPECT_EQ(back[i].data, bank[i].data);
    }

    std::vector<uint8_t> broken = zip;
    broken[30 + bank[0].name.size() + 100] ^= 0xff; // inside the first entry's data: the CRC fails
    EXPECT_FALSE(qmbank::readBankZip(broken, &back));
    broken.assign(zip.begin(), zip.end() - 1);
    EXPECT_FALSE(qmbank::readBankZip(broken, &back));
    EXPECT_FALSE(qmbank::readBankZip({}, &back));
}

TEST(BankMakerZip, UnzipListsTheEntries)
{
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    const std::string path = tempPath("bankmaker-demo.qmbank");
    ASSERT_TRUE(qmbank::writeBankZip(path, bank));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(qmbank::readFile(path, &bytes));
    EXPECT_EQ(bytes, qmbank::makeBankZip(bank));

    if (std::system("unzip -v >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "unzip is not installed; the archive was checked by its central directory";
    const std::string listing = tempPath("bankmaker-demo.txt");
    ASSERT_EQ(
        std::system(
            ("unzip -tq '" + path + "' >/dev/null && unzip -l '" + path + "' >'" + listing + "'").c_str()),
        0);
    std::vector<uint8_t> text;
    ASSERT_TRUE(qmbank::readFile(listing, &text));
    const std::string out(text.begin(), text.end());
    for (const qmbank::BankEntry& e : bank)
        EXPECT_NE(out.find("   " + e.name + "\n"), std::string::npos) << e.name;
    EXPECT_NE(out.find(std::to_string(bank.size()) + " files"), std::string::npos);
    std::remove(path.c_str());
    std::remove(listing.c_str());
}

TEST(BankMakerZip, BuildWritesTheDemoBank)
{
    // The build writes the demo bank next to the tests' scratch folder.
    const char* tmp = std::getenv("QM_TEST_TMP");
    if (tmp == nullptr) GTEST_SKIP() << "not run from ctest";
    std::vector<uint8_t> bytes;
    if (!qmbank::readFile(std::string(tmp) + "/../banks/Quillmoor Demo.qmbank", &bytes))
        GTEST_SKIP() << "the demo bank target was not built";
    EXPECT_EQ(bytes, qmbank::makeBankZip(qmbank::demoBank()));
}

TEST(BankMakerBanks, DemoBankLayout)
{
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    EXPECT_GE(bank.size(), 30u);
    std::vector<std::string> categories;
    std::set<std::string> names;
    for (const qmbank::BankEntry& e : bank)
    {
        InstrumentMap map;
        ASSERT_TRUE(parseEntry(e, &map)) << e.name;
        if (categories.empty() || categories.back() != map.category) categories.push_back(map.category);
        EXPECT_TRUE(names.insert(map.name).second) << "duplicate name " << map.name;
    }
    // Each category's sounds are consecutive.
    EXPECT_EQ(std::set<std::string>(categories.begin(), categories.end()).size(), categories.size());
    EXPECT_GE(categories.size(), 5u);
    EXPECT_EQ(categories.back()[0], 'x');
}

TEST(BankMakerBanks, LargeBankHasACategoryBeyondTheCanvas)
{
    std::map<std::string, int> counts;
    std::set<std::string> names;
    for (const qmbank::BankEntry& e : qmbank::largeBank())
    {
        InstrumentMap map;
        ASSERT_TRUE(parseEntry(e, &map)) << e.name;
        ++counts[map.category];
        EXPECT_TRUE(names.insert(map.name).second);
    }
    EXPECT_EQ(counts["Grid"], qmbank::kLargeBankBigCategorySize);
    EXPECT_GT(counts["Grid"], 64);
}

TEST(BankMakerBanks, DemoBankExercisesEveryField)
{
    std::set<std::string> seen;
    for (const qmbank::BankEntry& e : qmbank::demoBank())
    {
        InstrumentMap map;
        ASSERT_TRUE(parseEntry(e, &map));
        if (map.zoneOffset[0] > 6) seen.insert("headerExtra");
        if (map.gain == 1.0f) seen.insert("full key tracking");
        if (map.gain == 0.0f) seen.insert("no key tracking");
        if (map.numZones >= 5) seen.insert("five zones");
        for (int k = 0; k < map.numZones; ++k)
        {
            const SoundZone z = map.zone(k);
            if (z.frameCount > 0 && z.frameRate > 0) seen.insert("frames");
            if (z.harmonicShareFlag != 0) seen.insert("share");
            if (z.resonanceCount > 0) seen.insert("resonances");
            if (z.tuneCents > 0) seen.insert("tune up");
            if (z.tuneCents < 0) seen.insert("tune down");
            if (z.jitterAmount > 0 && z.jitterRate > 0) seen.insert("jitter");
            if (z.vibratoDepth > 0) seen.insert("vibrato");
            if (z.warpWidth > 0) seen.insert("warp");
            for (int i = 0; i < kZoneOnsetBands; ++i)
            {
                const uint8_t* o = z.onsetBands + i * kZoneOnsetBandSize;
                if (blobU16(o) > 0 && blobU16(o + 2) > 0) seen.insert("onset");
                if (int8_t(o[5]) > 0) seen.insert("onset delay");
            }
            for (int b = 0; b < z.harmonicCount; ++b)
            {
                const uint8_t* r = z.bandRecords + b * z.bandStride;
                if (blobI16(r) < 0) seen.insert("swell");
                if (blobI16(r) > 0) seen.insert("decay");
                if (blobI16(r + 4) > 0) seen.insert("transient");
                if (blobU16(r + 9) > 0) seen.insert("steady");
                if (blobI16(r + 11) != 0) seen.insert("detune");
                if (r[8] > 0) seen.insert("decay shape");
                const char* bytes[] = {
                    "noise",   "noise width", "oscillation", "oscillation rate", "oscillation phase",
                    "shimmer", "mark stride", "mark rate"};
                for (int j = 0; j < 8; ++j)
                    if (r[14 + j] > 0) seen.insert(bytes[j]);
                for (int f = 0; f < z.frameCount; ++f)
                    if (r[22 + f] != 0) seen.insert("envelope");
            }
        }
    }
    for (const char* field : {"headerExtra",
                              "full key tracking",
                              "no key tracking",
                              "five zones",
                              "frames",
                              "share",
                              "resonances",
                              "tune up",
                              "tune down",
                              "jitter",
                              "vibrato",
                              "warp",
                              "onset",
                              "onset delay",
                              "swell",
                              "decay",
                              "transient",
                              "steady",
                              "detune",
                              "decay shape",
                              "noise",
                              "noise width",
                              "oscillation",
                              "oscillation rate",
                              "oscillation phase",
                              "shimmer",
                              "mark stride",
                              "mark rate",
                              "envelope"})
        EXPECT_EQ(seen.count(field), 1u) << field;
}

TEST(BankMakerBanks, NotesStayWellBelowFullScale)
{
    // Worst case of one note: every partial at its loudest, all in phase. Levels are signed
    // square roots of amplitudes.
    for (const qmbank::BankEntry& e : qmbank::demoBank())
    {
        InstrumentMap map;
        ASSERT_TRUE(parseEntry(e, &map));
        for (int k = 0; k < map.numZones; ++k)
        {
            const SoundZone z = map.zone(k);
            float partials = 0.0f;
            int jitterGenerators = 0;
            for (int b = 0; b < z.harmonicCount; ++b)
            {
                const uint8_t* r = z.bandRecords + b * z.bandStride;
                const float a = std::max(0.0f, float(blobI16(r)) * std::fabs(float(blobI16(r)))) * 1e-6f;
                partials +=
                    (a + amplitude(blobI16(r + 4)) + amplitude(blobU16(r + 9))) * float(harmonicsInRecord(b));
                jitterGenerators += r[20];
            }
            float onset = 0.0f;
            for (int i = 0; i < kZoneOnsetBands; ++i)
                onset += amplitude(blobU16(z.onsetBands + i * kZoneOnsetBandSize));
            float resonances = 0.0f;
            for (int p = 0; p < z.resonanceCount; ++p)
                resonances += amplitude(blobU16(z.resonances + p * kZoneResonanceSize));
            EXPECT_LE(partials, 0.26f) << e.name << " zone " << k;
            EXPECT_GT(partials, 0.005f) << e.name << " zone " << k;
            EXPECT_LE(onset, 0.16f) << e.name;
            EXPECT_LE(resonances, 0.09f) << e.name;
            EXPECT_LE(z.harmonicCount, 67) << e.name;
            EXPECT_LE(z.resonanceCount, 64) << e.name;
            EXPECT_LT(jitterGenerators / 255, 79) << e.name;
        }
    }
}

TEST(BankMakerBanks, DemoSoundsHaveDistinctTimbres)
{
    // A coarse timbre of each sound's middle zone: its band amplitudes (normalised), noisiness,
    // decaying share and onset energy. No two sounds may come close.
    std::vector<std::vector<float>> timbres;
    std::vector<std::string> names;
    for (const qmbank::BankEntry& e : qmbank::demoBank())
    {
        InstrumentMap map;
        ASSERT_TRUE(parseEntry(e, &map));
        const SoundZone z = map.zone(map.numZones / 2);
        std::vector<float> t(80 + 3, 0.0f);
        float total = 0.0f;
        for (int b = 0; b < z.harmonicCount; ++b)
        {
            const uint8_t* r = z.bandRecords + b * z.bandStride;
            const float a = amplitude(blobI16(r));
            const float c = amplitude(blobU16(r + 9));
            t[size_t(b)] = a + c + amplitude(blobI16(r + 4));
            total += t[size_t(b)];
            t[80] += float(r[14]) / 255.0f / float(z.harmonicCount);
            t[81] += a / (a + c + 1e-9f) / float(z.harmonicCount);
        }
        for (int b = 0; b < 80; ++b)
            t[size_t(b)] /= total + 1e-9f;
        for (int i = 0; i < kZoneOnsetBands; ++i)
            t[82] += amplitude(blobU16(z.onsetBands + i * kZoneOnsetBandSize)) * 5.0f;
        timbres.push_back(t);
        names.push_back(e.name);
    }
    for (size_t i = 0; i < timbres.size(); ++i)
        for (size_t j = i + 1; j < timbres.size(); ++j)
        {
            float d = 0.0f;
            for (size_t k = 0; k < timbres[i].size(); ++k)
                d += std::fabs(timbres[i][k] - timbres[j][k]);
            EXPECT_GT(d, 0.05f) << names[i] << " and " << names[j];
        }
}

TEST(BankMakerBlobs, LevelsAreSignedSquareRoots)
{
    qmbank::SoundDescription d;
    d.harmonics = 2;
    d.level = 0.09f;
    d.sustain = 1.0f;
    const qmbank::BlobSpec desc = qmbank::describeBlob(d);
    ASSERT_EQ(desc.zones[0].bands.size(), 2u);
    EXPECT_EQ(desc.zones[0].bands[0].levelC, 0);   // no sub partial
    EXPECT_EQ(desc.zones[0].bands[1].levelC, 300); // sqrt(0.09) x 1000
    d.swellSeconds = 1.0f;
    EXPECT_LT(qmbank::describeBlob(d).zones[0].bands[1].levelA, 0);
}
