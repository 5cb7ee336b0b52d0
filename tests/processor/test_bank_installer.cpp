// Installing sound banks: the message for every outcome, in the order the checks run, and what ends
// up in the sounds folder.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ProcessorTestSupport.h"
#include "bankmaker/BankMaker.h"
#include "processor/LibraryFolders.h"
#include "processor/PluginProcessor.h"
#include "support/TestSounds.h"

namespace
{
constexpr size_t kLimit = 10000000;

qmbank::BankEntry sound(const std::string& name)
{
    return {name, qmbank::encodeBlob(qmtest::makePlainSpec(60, 4, 1000))};
}

std::vector<qmbank::BankEntry> goodSounds(int n)
{
    std::vector<qmbank::BankEntry> entries;
    for (int i = 0; i < n; ++i)
        entries.push_back(sound("Keys_Sound " + std::to_string(i)));
    return entries;
}

class BankInstaller : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        qmproc::clearLibrary();
        incoming = qmproc::testDataHome().getChildFile("incoming");
        incoming.deleteRecursively();
        ASSERT_TRUE(incoming.createDirectory().wasOk());
    }
    void TearDown() override
    {
        incoming.deleteRecursively();
        getSoundsFolder().deleteRecursively();
        qmproc::clearLibrary();
    }

    juce::File put(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const juce::File f = incoming.getChildFile(juce::String(name));
        // replaceWithData deletes the file for zero bytes.
        EXPECT_TRUE(bytes.empty() ? f.create().wasOk() : f.replaceWithData(bytes.data(), bytes.size()));
        return f;
    }
    juce::File putBank(const std::string& name, const std::vector<qmbank::BankEntry>& entries)
    {
        return put(name, qmbank::makeBankZip(entries));
    }
    static juce::String install(const juce::File& f)
    {
        return PluginProcessor::addDataFromFilePath(f.getFullPathName());
    }
    static juce::String installed(const std::string& name)
    {
        return "Installed sound bank " + juce::String(name) + ". Restart Quillmoor to activate.\n";
    }
    static juce::String invalid(const std::string& name)
    {
        return "Error: " + juce::String(name) + " is not a valid soundbank, did not install.\n";
    }

    juce::File incoming;
};

TEST_F(BankInstaller, ValidBankIsCopiedByteForByte)
{
    const juce::File bank = putBank("My Sounds.qmbank", goodSounds(3));
    EXPECT_EQ(install(bank), installed("My Sounds.qmbank"));
    juce::MemoryBlock source, copy;
    ASSERT_TRUE(bank.loadFileAsData(source));
    ASSERT_TRUE(getSoundsFolder().getChildFile("My Sounds.qmbank").loadFileAsData(copy));
    EXPECT_EQ(copy, source);

    // Installing the same file name again replaces the copy; nothing else is left in the folder.
    const juce::File again = putBank("My Sounds.qmbank", goodSounds(5));
    EXPECT_EQ(install(again), installed("My Sounds.qmbank"));
    juce::MemoryBlock newer, replaced;
    ASSERT_TRUE(again.loadFileAsData(newer));
    ASSERT_TRUE(getSoundsFolder().getChildFile("My Sounds.qmbank").loadFileAsData(replaced));
    EXPECT_EQ(replaced, newer);
    EXPECT_EQ(getSoundsFolder().getNumberOfChildFiles(juce::File::findFilesAndDirectories), 1);
}

TEST_F(BankInstaller, MissingFilesAndFolders)
{
    EXPECT_EQ(PluginProcessor::addDataFromFilePath(incoming.getChildFile("Gone.qmbank").getFullPathName()),
              "Error: couldn't open file Gone.qmbank\n");
    EXPECT_EQ(PluginProcessor::addDataFromFilePath("relative/Gone.qmbank"),
              "Error: couldn't open file Gone.qmbank\n");
    // A folder passes the existence and size checks but cannot be read as a file.
    ASSERT_TRUE(incoming.getChildFile("Folder.qmbank").createDirectory().wasOk());
    EXPECT_EQ(install(incoming.getChildFile("Folder.qmbank")), "Error: couldn't load file");
}

TEST_F(BankInstaller, SizeLimitIsTenMillionBytes)
{
    // A real bank padded with a stray entry to exactly the limit installs.
    std::vector<qmbank::BankEntry> entries = goodSounds(2);
    entries.push_back({"padding.bin", {}});
    const size_t base = qmbank::makeBankZip(entries).size();
    entries.back().data.assign(kLimit - base, 0x5A);
    std::vector<uint8_t> bytes = qmbank::makeBankZip(entries);
    ASSERT_EQ(bytes.size(), kLimit);
    EXPECT_EQ(install(put("Edge.qmbank", bytes)), installed("Edge.qmbank"));

    // One byte more is refused before anything is read.
    bytes.push_back(0);
    EXPECT_EQ(install(put("Over.qmbank", bytes)), "Error: uncompatible file Over.qmbank\n");
    EXPECT_FALSE(getSoundsFolder().getChildFile("Over.qmbank").exists());
}

TEST_F(BankInstaller, OtherExtensionsAreUnsupported)
{
    const std::vector<uint8_t> bank = qmbank::makeBankZip(goodSounds(2));
    for (const char* name : {"Upper.QMBANK", "Sounds.zip", "Sounds.qmbank.txt", "NoExtension", "x.qmpreset"})
        EXPECT_EQ(install(put(name, bank)), "Unsupported file type.") << name;
    EXPECT_EQ(getSoundsFolder().getNumberOfChildFiles(juce::File::findFilesAndDirectories), 0);
}

TEST_F(BankInstaller, AtMostTwoEntriesMayNotBeSounds)
{
    std::vector<qmbank::BankEntry> entries = goodSounds(3);
    entries.push_back({"Extras/", {}});                           // a folder entry
    entries.push_back({"readme.txt", {'h', 'e', 'l', 'l', 'o'}}); // a stray file
    EXPECT_EQ(install(putBank("Five.qmbank", entries)), installed("Five.qmbank"));

    entries.push_back({"Keys_Broken", {'Q', 'j', 0, 0}}); // a blob the parser refuses
    EXPECT_EQ(install(putBank("Six.qmbank", entries)), invalid("Six.qmbank"));
    EXPECT_FALSE(getSoundsFolder().getChildFile("Six.qmbank").exists());
}

TEST_F(BankInstaller, ArchivesWithoutSoundsAreRefused)
{
    EXPECT_EQ(install(putBank("Empty.qmbank", {})), invalid("Empty.qmbank"));
    EXPECT_EQ(install(putBank("Folders.qmbank", {{"A/", {}}, {"B/", {}}})), invalid("Folders.qmbank"));
    EXPECT_EQ(install(putBank("Junk.qmbank", {{"a.txt", {1, 2, 3}}, {"Keys_Bad", {'Q', 'j'}}})),
              invalid("Junk.qmbank"));
    EXPECT_EQ(install(put("NotZip.qmbank", std::vector<uint8_t>(5000, 0x42))), invalid("NotZip.qmbank"));
    EXPECT_EQ(install(put("Zero.qmbank", {})), invalid("Zero.qmbank"));
    EXPECT_EQ(getSoundsFolder().getNumberOfChildFiles(juce::File::findFilesAndDirectories), 0);
}

// Sets the uncompressed size that the central directory declares for entry `index`.
void declareSize(std::vector<uint8_t>& zip, int index, uint32_t size)
{
    int seen = 0;
    for (size_t i = 0; i + 46 <= zip.size(); ++i)
        if (zip[i] == 'P' && zip[i + 1] == 'K' && zip[i + 2] == 1 && zip[i + 3] == 2 && seen++ == index)
        {
            for (int b = 0; b < 4; ++b)
                zip[i + 24 + size_t(b)] = uint8_t(size >> (8 * b));
            return;
        }
    FAIL() << "no central directory entry " << index;
}

TEST_F(BankInstaller, DeclaredSizesAndEntryNamesAreNotTrusted)
{
    // Entries that claim gigabytes are not given them: they count as failures.
    std::vector<qmbank::BankEntry> entries = goodSounds(2);
    entries.push_back(sound("Keys_Huge"));
    entries.push_back(sound("Keys_Negative"));
    std::vector<uint8_t> zip = qmbank::makeBankZip(entries);
    declareSize(zip, 2, 0x7FFFFFF0u);
    declareSize(zip, 3, 0xFFFFFFF0u);
    EXPECT_EQ(install(put("Claims.qmbank", zip)), installed("Claims.qmbank"));

    // Names inside the archive never become paths: the copy is named after the file.
    std::vector<qmbank::BankEntry> sneaky = {sound("../../Keys_Escape"), sound("/tmp/Keys_Abs"),
                                             sound("Keys_Fine")};
    EXPECT_EQ(install(putBank("Sneaky.qmbank", sneaky)), installed("Sneaky.qmbank"));
    EXPECT_FALSE(qmproc::testDataHome().getChildFile("Keys_Escape").exists());
    EXPECT_FALSE(juce::File("/tmp/Keys_Abs").exists());
    EXPECT_EQ(getSoundsFolder().getNumberOfChildFiles(juce::File::findFilesAndDirectories), 2);
}

TEST_F(BankInstaller, WriteFailureIsReported)
{
    // A file in place of the sounds folder (root writes anywhere, so permissions prove nothing).
    getSoundsFolder().deleteRecursively();
    ASSERT_TRUE(getSoundsFolder().replaceWithText("not a folder"));
    EXPECT_EQ(install(putBank("Blocked.qmbank", goodSounds(2))),
              "Error: failed to write to sounds directory! Try reinstalling Quillmoor.\n");
    EXPECT_EQ(getSoundsFolder().loadFileAsString(), "not a folder");

    // A folder where the installed copy should go.
    getSoundsFolder().deleteFile();
    ASSERT_TRUE(getSoundsFolder().getChildFile("Taken.qmbank").createDirectory().wasOk());
    EXPECT_EQ(install(putBank("Taken.qmbank", goodSounds(2))),
              "Error: failed to write to sounds directory! Try reinstalling Quillmoor.\n");
    EXPECT_EQ(getSoundsFolder().getNumberOfChildFiles(juce::File::findFilesAndDirectories), 1);
}
} // namespace
