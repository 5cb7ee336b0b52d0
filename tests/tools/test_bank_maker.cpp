#include "bankmaker/BankMaker.h"

#include "engine/sound/InstrumentMap.h"
#include "support/EngineTestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

namespace
{
// The archive is deterministic, reads back, and is refused when cut or corrupted. The one the build's
// tool wrote (next to the scratch folder ctest hands over) is the demo bank byte for byte, and unzip
// tests (CRCs included) and lists every entry.
TEST(BankMakerZip, ArchivesRoundTripAndPassUnzip)
{
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    const std::vector<uint8_t> zip = qmbank::makeBankZip(bank);
    EXPECT_EQ(zip, qmbank::makeBankZip(qmbank::demoBank()));
    std::vector<qmbank::BankEntry> back;
    ASSERT_TRUE(qmbank::readBankZip(zip, &back));
    ASSERT_EQ(back.size(), bank.size());
    for (size_t i = 0; i < bank.size(); ++i)
        EXPECT_TRUE(back[i].name == bank[i].name && back[i].data == bank[i].data) << bank[i].name;
    std::vector<uint8_t> broken = zip;
    broken[30 + bank[0].name.size() + 100] ^= 0xff; // inside the first entry's data: the CRC fails
    EXPECT_FALSE(qmbank::readBankZip(broken, &back));
    EXPECT_FALSE(qmbank::readBankZip({zip.begin(), zip.end() - 1}, &back));
    EXPECT_FALSE(qmbank::readBankZip({}, &back));

    const char* tmp = std::getenv("QM_TEST_TMP");
    ASSERT_NE(tmp, nullptr) << "run through ctest, which sets QM_TEST_TMP";
    const std::string file = std::string(tmp) + "/../banks/Quillmoor Demo.qmbank";
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(qmbank::readFile(file, &bytes)) << file;
    EXPECT_EQ(bytes, zip) << file;
    std::string listing;
    FILE* pipe = popen(("unzip -tq '" + file + "' >/dev/null && unzip -l '" + file + "'").c_str(), "r");
    for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;)
        listing += char(c);
    ASSERT_TRUE(pipe != nullptr && pclose(pipe) == 0)
        << "unzip (scripts/setup.sh installs it) refused " << file;
    for (const qmbank::BankEntry& e : bank)
        EXPECT_NE(listing.find("   " + e.name + "\n"), std::string::npos) << e.name;
    EXPECT_NE(listing.find(std::to_string(bank.size()) + " files"), std::string::npos);
}

// Every sound parses, names are unique, each category's sounds are consecutive; the demo bank ends
// with its "x" category, the large one has a category too big for one canvas. Every demo blob
// (chosen to use every field the renderer reads) against tests/engine/golden/demo_bank.txt.
TEST(BankMakerBanks, LayoutAndGoldenDemoBlobs)
{
    std::string golden;
    for (const bool large : {false, true})
    {
        std::vector<std::string> categories;
        std::set<std::string> names;
        std::map<std::string, int> counts;
        for (const qmbank::BankEntry& e : large ? qmbank::largeBank() : qmbank::demoBank())
        {
            SoundDataRef ref;
            std::strncpy(ref.name, e.name.c_str(), sizeof ref.name - 1);
            ref.data = e.data.data();
            ref.size = e.data.size();
            InstrumentMap map;
            ASSERT_TRUE(makeInstrumentMap(ref, &map, 0)) << e.name;
            if (categories.empty() || categories.back() != map.category) categories.push_back(map.category);
            EXPECT_TRUE(names.insert(map.name).second) << "duplicate name " << map.name;
            ++counts[map.category];
            if (!large)
                golden += e.name + ' ' + std::to_string(e.data.size()) + ' ' +
                          std::to_string(qmbank::crc32(e.data.data(), e.data.size())) + '\n';
        }
        EXPECT_GE(names.size(), 30u);
        EXPECT_EQ(std::set<std::string>(categories.begin(), categories.end()).size(), categories.size());
        EXPECT_TRUE(large ? counts["Grid"] == qmbank::kLargeBankBigCategorySize && counts["Grid"] > 64
                          : categories.size() >= 5 && categories.back()[0] == 'x');
    }
    qmtest::expectGolden("demo_bank.txt", golden);
}

// Every demo sound, played alone at full velocity with the effects off, is clearly audible and
// stays well below full scale (the loudest measure about -14 dBFS) in a low, middle and high zone.
TEST(DemoBankLevels, SingleNotesRenderWellBelowFullScale)
{
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    qmtest::EngineRig rig(bank);
    ASSERT_EQ(rig.dsp().sounds.size(), bank.size());
    rig.setAllEffects(false);
    for (size_t s = 0; s < bank.size(); ++s)
    {
        rig.pushCanvas({int(s)}, {1.0f});
        for (int note : {36, 60, 84})
        {
            std::vector<float> left, right;
            qmtest::noteOn(rig.dsp(), note, 127);
            rig.render(44100 / 2, 512, left, right);
            qmtest::noteOff(rig.dsp(), note);
            rig.render(44100 / 2, 512, left, right);
            const float peak = std::max(qmtest::peakOf(left), qmtest::peakOf(right));
            EXPECT_TRUE(qmtest::allFinite(left) && qmtest::allFinite(right) && peak > 0.003f && peak < 0.5f)
                << bank[s].name << " note " << note << " peak " << peak;
        }
    }
}
} // namespace
