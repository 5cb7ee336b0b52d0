// Reading the sound banks of the sounds folder.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ProcessorTestSupport.h"
#include "processor/LibraryFolders.h"
#include "processor/SoundLibrary.h"

namespace
{
std::vector<uint8_t> bytes(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

struct Loaded
{
    std::vector<uint8_t> storage;
    std::vector<SoundDataRef> refs;
    int count = 0;
};

Loaded load()
{
    Loaded l;
    l.count = loadSoundBanks(getSoundsFolder(), l.storage, l.refs);
    return l;
}

// Offset of a central-directory field of the first (only) entry of a stored zip made by the bank
// maker: the central directory starts after the local header, the name and the data.
void setDeclaredSize(std::vector<uint8_t>& zip, size_t localRecordLength, uint32_t size)
{
    // Central directory header: signature 4, versions 4, flags 2, method 2, time 4, crc 4,
    // compressed size 4, uncompressed size at 24. Only the uncompressed size changes: the stream
    // still holds the stored bytes.
    const size_t central = localRecordLength;
    ASSERT_EQ(zip[central], 0x50);
    ASSERT_EQ(zip[central + 1], 0x4b);
    ASSERT_EQ(zip[central + 2], 0x01);
    std::memcpy(&zip[central + 24], &size, 4);
}

class SoundLibraryTest : public ::testing::Test
{
  protected:
    void SetUp() override { qmproc::clearLibrary(); }
};
} // namespace

TEST_F(SoundLibraryTest, FolderPathsFollowXdgDataHome)
{
    const juce::File home = qmproc::testDataHome();
    EXPECT_EQ(getLibraryFolder(), home.getChildFile("Velmora"));
    EXPECT_EQ(getSoundsFolderPath(), home.getFullPathName() + "/Velmora/Quillmoor Sounds/");
    EXPECT_EQ(getPresetsFolderPath(), home.getFullPathName() + "/Velmora/Quillmoor Presets/");
}

TEST_F(SoundLibraryTest, MissingFolderGivesNothing)
{
    getSoundsFolder().deleteRecursively();
    const Loaded l = load();
    EXPECT_EQ(l.count, 0);
    EXPECT_TRUE(l.refs.empty());
    EXPECT_TRUE(l.storage.empty());
}

TEST_F(SoundLibraryTest, EntriesLieBackToBack)
{
    const auto a = bytes(1000, 1), b = bytes(2000, 2), c = bytes(500, 3);
    qmproc::writeBank("One.qmbank", {{"Keys_A", a}, {"Keys_B", b}, {"Pads_C", c}});
    const Loaded l = load();
    ASSERT_EQ(l.count, 3);
    EXPECT_EQ(l.storage.size(), 3500u);
    const uint64_t sizes[] = {1000, 2000, 500};
    const size_t offsets[] = {0, 1000, 3000};
    const std::vector<uint8_t>* contents[] = {&a, &b, &c};
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(l.refs[i].size, sizes[i]);
        EXPECT_EQ(l.refs[i].data, l.storage.data() + offsets[i]);
        EXPECT_EQ(0, std::memcmp(l.refs[i].data, contents[i]->data(), contents[i]->size()));
    }
    EXPECT_STREQ(l.refs[0].name, "Keys_A");
    EXPECT_STREQ(l.refs[2].name, "Pads_C");
}

TEST_F(SoundLibraryTest, BanksInSubFoldersAreRead)
{
    qmproc::writeBank("Top.qmbank", {{"Keys_A", bytes(10, 1)}});
    qmproc::writeBank("More/Deeper/Inner.qmbank", {{"Pads_B", bytes(20, 2)}, {"Pads_C", bytes(30, 3)}});
    const Loaded l = load();
    ASSERT_EQ(l.count, 3);
    std::set<std::string> names;
    for (const auto& r : l.refs)
        names.insert(r.name);
    EXPECT_EQ(names, (std::set<std::string>{"Keys_A", "Pads_B", "Pads_C"}));
    EXPECT_EQ(l.storage.size(), 60u);
}

TEST_F(SoundLibraryTest, DirectoryEntryGivesAnEmptyReference)
{
    qmproc::writeBank("Dir.qmbank",
                      {{"Folder/", {}}, {"Folder/Keys_A", bytes(100, 1)}, {"Keys_B", bytes(50, 2)}});
    const Loaded l = load();
    ASSERT_EQ(l.count, 3);
    EXPECT_EQ(l.refs[0].size, 0u);
    EXPECT_EQ(l.refs[0].data, nullptr);
    EXPECT_STREQ(l.refs[1].name, "Folder/Keys_A");
    EXPECT_EQ(l.refs[1].size, 100u);
    EXPECT_EQ(l.refs[2].data, l.storage.data() + 100);
}

TEST_F(SoundLibraryTest, LongNamesAreCutTo63Bytes)
{
    const std::string longName = "Keys_" + std::string(65, 'x');
    ASSERT_EQ(longName.size(), 70u);
    qmproc::writeBank("Long.qmbank", {{longName, bytes(10, 1)}});
    const Loaded l = load();
    ASSERT_EQ(l.count, 1);
    EXPECT_EQ(std::string(l.refs[0].name), longName.substr(0, 63));
    EXPECT_EQ(l.refs[0].name[63], '\0');
}

TEST_F(SoundLibraryTest, FilesThatAreNotZipArchivesAreSkipped)
{
    getSoundsFolder().getChildFile("Broken.qmbank").replaceWithText("this is not a zip archive");
    getSoundsFolder().getChildFile("Empty.qmbank").create();
    getSoundsFolder().getChildFile("Folder.qmbank").createDirectory();
    qmproc::writeBank("Good.qmbank", {{"Keys_A", bytes(40, 1)}});
    const Loaded l = load();
    ASSERT_EQ(l.count, 1);
    EXPECT_EQ(l.refs[0].size, 40u);
}

TEST_F(SoundLibraryTest, HostileDeclaredSizeIsCapped)
{
    // A bank whose directory declares a 4 GB entry: the allocation stays small and the entry gets
    // only what the stream really holds.
    const auto blob = bytes(300, 9);
    const std::string name = "Keys_Huge";
    std::vector<uint8_t> zip = qmbank::makeBankZip({{name, blob}});
    setDeclaredSize(zip, 30 + name.size() + blob.size(), 0xFFFFFFF0u);
    const juce::File bank = getSoundsFolder().getChildFile("Hostile.qmbank");
    ASSERT_TRUE(qmbank::writeFile(bank.getFullPathName().toStdString(), zip));
    qmproc::writeBank("Next.qmbank", {{"Keys_Next", bytes(64, 4)}});

    const Loaded l = load();
    ASSERT_EQ(l.count, 2);
    EXPECT_LE(l.storage.capacity(), static_cast<size_t>(bank.getSize() * kMaxBankInflation + 64));
    for (const auto& r : l.refs)
    {
        EXPECT_LE(r.size, 300u);
        if (std::string(r.name) == "Keys_Next")
        {
            ASSERT_EQ(r.size, 64u);
            EXPECT_EQ(0, std::memcmp(r.data, bytes(64, 4).data(), 64));
        }
    }
}

TEST_F(SoundLibraryTest, DeclaredSizeSmallerThanTheDataDoesNotSpillIntoTheNextEntry)
{
    const std::string name = "Keys_Short";
    std::vector<uint8_t> zip = qmbank::makeBankZip({{name, bytes(300, 9)}});
    setDeclaredSize(zip, 30 + name.size() + 300, 100);
    ASSERT_TRUE(qmbank::writeFile(
        getSoundsFolder().getChildFile("Short.qmbank").getFullPathName().toStdString(), zip));
    const Loaded l = load();
    ASSERT_EQ(l.count, 1);
    EXPECT_LE(l.refs[0].size, 100u);
    EXPECT_LE(l.storage.size(), 100u);
}
