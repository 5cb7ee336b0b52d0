// The sound library: reading the banks of the sounds folder, and installing a bank into it (the
// message for every outcome, in the order the checks run, and what ends up in the folder).
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include <sys/stat.h>

#include "ProcessorTestSupport.h"
#include "processor/SoundLibrary.h"
#include "processor/ZipDirectoryCheck.h"

using namespace qmproc;

namespace
{
std::vector<uint8_t> bytes(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

// Sets the uncompressed size that a zip's central directory declares for entry `index`; false when
// there is no such entry.
inline bool declareSize(std::vector<uint8_t>& zip, int index, uint32_t size)
{
    int seen = 0;
    for (size_t i = 0; i + 46 <= zip.size(); ++i)
        if (zip[i] == 'P' && zip[i + 1] == 'K' && zip[i + 2] == 1 && zip[i + 3] == 2 && seen++ == index)
        {
            for (size_t b = 0; b < 4; ++b)
                zip[i + 24 + b] = uint8_t(size >> (8 * b));
            return true;
        }
    return false;
}

std::vector<uint8_t> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Library : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        clearLibrary();
        incoming.deleteRecursively();
        ASSERT_TRUE(incoming.createDirectory().wasOk());
    }
    int load() { return loadSoundBanks(getSoundsFolder(), storage, refs); }
    static juce::String install(const juce::File& f)
    {
        return PluginProcessor::addDataFromFilePath(f.getFullPathName());
    }
    juce::String install(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const juce::File f = incoming.getChildFile(juce::String(name));
        // replaceWithData deletes the file for zero bytes.
        EXPECT_TRUE(bytes.empty() ? f.create().wasOk() : f.replaceWithData(bytes.data(), bytes.size()));
        return install(f);
    }
    juce::String install(const std::string& name, const std::vector<std::string>& sounds)
    {
        return install(name, qmbank::makeBankZip(bankOf(sounds)));
    }
    // Counted by the file system's bytes: the framework's listing cannot hold a name that is not UTF-8.
    static int installedCount()
    {
        const std::filesystem::path sounds = getSoundsFolder().getFullPathName().toStdString();
        if (!std::filesystem::is_directory(sounds)) return 0;
        return int(std::distance(std::filesystem::directory_iterator(sounds),
                                 std::filesystem::directory_iterator()));
    }
    static juce::String installed(const std::string& name, bool ok = true)
    {
        return ok ? "Installed sound bank " + name + ". Restart Quillmoor to activate.\n"
                  : "Error: " + name + " is not a valid soundbank, did not install.\n";
    }

    // The temporary folder XDG_DATA_HOME points at for the whole run (ProcessorTestMain.cpp).
    const juce::File home{juce::SystemStats::getEnvironmentVariable("XDG_DATA_HOME", {})};
    std::vector<uint8_t> storage;
    std::vector<SoundDataRef> refs;
    const juce::File incoming = home.getChildFile("incoming");
};

TEST_F(Library, FoldersFollowXdgDataHomeAndEveryBankEntryIsReadBackToBack)
{
    EXPECT_EQ(getLibraryFolder(), home.getChildFile("Velmora"));
    EXPECT_EQ(getSoundsFolderPath(), home.getFullPathName() + "/Velmora/Quillmoor Sounds/");
    EXPECT_EQ(getPresetsFolderPath(), home.getFullPathName() + "/Velmora/Quillmoor Presets/");
    getSoundsFolder().deleteRecursively();
    EXPECT_EQ(load(), 0);
    EXPECT_TRUE(refs.empty() && storage.empty());
    clearLibrary();
    // Files that are not banks are skipped; sub-folders are read; a folder entry gives an empty
    // reference; names are cut to 63 bytes.
    getSoundsFolder().getChildFile("Broken.qmbank").replaceWithText("this is not a zip archive");
    getSoundsFolder().getChildFile("Empty.qmbank").create();
    getSoundsFolder().getChildFile("Folder.qmbank").createDirectory();
    const std::vector<qmbank::BankEntry> entries = {{"Folder/", {}},
                                                    {"Folder/Keys_A", bytes(1000, 1)},
                                                    {"Keys_B", bytes(2000, 2)},
                                                    {"Keys_" + std::string(65, 'x'), bytes(500, 3)}};
    writeBank("More/Deeper/One.qmbank", entries);
    ASSERT_EQ(load(), 4);
    EXPECT_EQ(storage.size(), 3500u);
    EXPECT_EQ(refs[0].data, nullptr);
    for (size_t i = 0, offset = 0; i < 4; offset += refs[i++].size)
    {
        EXPECT_EQ(std::string(refs[i].name), entries[i].name.substr(0, 63));
        ASSERT_EQ(refs[i].size, entries[i].data.size());
        if (i > 0) EXPECT_EQ(refs[i].data, storage.data() + offset);
        if (i > 0) EXPECT_EQ(0, std::memcmp(refs[i].data, entries[i].data.data(), refs[i].size));
    }
    writeBank("Top.qmbank", {{"Keys_C", bytes(10, 1)}});
    ASSERT_EQ(load(), 5);
    EXPECT_EQ(storage.size(), 3510u);
}

TEST_F(Library, DeclaredSizesAreNotTrusted)
{
    // 4 GB declared: the allocation stays small and the entry gets only what the stream holds.
    // Less than the data: the entry does not spill into the next one.
    for (uint32_t declared : {0xFFFFFFF0u, 100u})
    {
        clearLibrary();
        std::vector<uint8_t> zip = qmbank::makeBankZip({{"Keys_Odd", bytes(300, 9)}});
        ASSERT_TRUE(declareSize(zip, 0, declared));
        const juce::File bank = getSoundsFolder().getChildFile("Hostile.qmbank");
        ASSERT_TRUE(qmbank::writeFile(bank.getFullPathName().toStdString(), zip));
        writeBank("Next.qmbank", {{"Keys_Next", bytes(64, 4)}});
        ASSERT_EQ(load(), 2);
        EXPECT_LE(storage.capacity(), size_t(bank.getSize() * kMaxBankInflation + 64));
        EXPECT_LE(storage.size(), std::min<size_t>(declared, 300) + 64);
        for (const auto& r : refs)
            if (std::string(r.name) == "Keys_Next")
                EXPECT_TRUE(r.size == 64 && std::memcmp(r.data, bytes(64, 4).data(), 64) == 0);
            else
                EXPECT_LE(r.size, std::min<size_t>(declared, 300));
    }

    // The installer: entries that claim gigabytes are not given them (they count as failures),
    // names inside the archive never become paths (the copy is named after the file).
    std::vector<uint8_t> zip =
        qmbank::makeBankZip(bankOf({"Keys_A", "Keys_B", "Keys_Huge", "Keys_Negative"}));
    ASSERT_TRUE(declareSize(zip, 2, 0x7FFFFFF0u) && declareSize(zip, 3, 0xFFFFFFF0u));
    EXPECT_EQ(install("Claims.qmbank", zip), installed("Claims.qmbank"));
    EXPECT_EQ(install("Sneaky.qmbank", {"../../Keys_Escape", "/tmp/Keys_Abs", "Keys_Fine"}),
              installed("Sneaky.qmbank"));
    EXPECT_FALSE(home.getChildFile("Keys_Escape").exists() || juce::File("/tmp/Keys_Abs").exists());
    EXPECT_EQ(installedCount(), 4);
}

TEST_F(Library, InstalledBankIsCopiedByteForByteAndReplaced)
{
    // Names of any bytes, in a String as the framework's drop handler and choosers build it from the
    // file system's bytes; each is installed under exactly its bytes and shown by nameToShow.
    const std::string longest = std::string(255 - 7, 'L') + ".qmbank";
    struct Row
    {
        std::string name;
        std::vector<std::string> sounds;
        const char* shown; // UTF-8
        int count;         // banks installed after the row
    };
    const Row rows[] = {
        {"My Sounds.qmbank", {"Keys_A", "Keys_B"}, "My Sounds.qmbank", 1},
        {"My Sounds.qmbank", {"Pads_C"}, "My Sounds.qmbank", 1}, // replaces the first
        {"end\xF0.qmbank", {"Keys_D"}, "end\xc3\xb0.qmbank", 2}, // a cut sequence
        {"Pad\xE0.qmbank", {"Pads_E"}, "Pad\xc3\xa0.qmbank", 3}, // a Latin-1 name
        {longest, {"Keys_F"}, longest.c_str(), 4},               // the longest name a file may have
    };
    for (const Row& row : rows)
    {
        const std::vector<uint8_t> bank = qmbank::makeBankZip(bankOf(row.sounds));
        const std::string from = incoming.getFullPathName().toStdString() + "/" + row.name;
        writeRaw(incoming, row.name, bank.data(), bank.size());
        EXPECT_EQ(PluginProcessor::addDataFromFilePath(juce::String::fromUTF8(from.data(), int(from.size()))),
                  installed(row.shown))
            << row.shown;
        EXPECT_EQ(readBytes(getSoundsFolder().getFullPathName().toStdString() + "/" + row.name), bank)
            << row.shown;
        EXPECT_EQ(installedCount(), row.count) << row.shown;
    }
    // Removed by their bytes: the framework's own folder walks cannot hold such names.
    for (const Row& row : rows)
    {
        std::remove((incoming.getFullPathName().toStdString() + "/" + row.name).c_str());
        if (row.count > 1)
            std::remove((getSoundsFolder().getFullPathName().toStdString() + "/" + row.name).c_str());
    }
    // At most two entries may not be sounds.
    std::vector<qmbank::BankEntry> entries = bankOf({"Keys_A", "Keys_B", "Keys_C"});
    entries.push_back({"Extras/", {}});                           // a folder entry
    entries.push_back({"readme.txt", {'h', 'e', 'l', 'l', 'o'}}); // a stray file
    EXPECT_EQ(install("Five.qmbank", qmbank::makeBankZip(entries)), installed("Five.qmbank"));
    entries.push_back({"Keys_Broken", {'Q', 'j', 0, 0}}); // a blob the parser refuses
    EXPECT_EQ(install("Six.qmbank", qmbank::makeBankZip(entries)), installed("Six.qmbank", false));
    EXPECT_EQ(installedCount(), 2);
}

TEST_F(Library, InstallRefusalsInTheOrderTheChecksRun)
{
    EXPECT_EQ(install(incoming.getChildFile("Gone.qmbank")), "Error: couldn't open file Gone.qmbank\n");
    EXPECT_EQ(PluginProcessor::addDataFromFilePath("relative/Gone.qmbank"),
              "Error: couldn't open file Gone.qmbank\n");
    // A folder passes the existence and size checks but cannot be read as a file.
    ASSERT_TRUE(incoming.getChildFile("Folder.qmbank").createDirectory().wasOk());
    EXPECT_EQ(install(incoming.getChildFile("Folder.qmbank")), "Error: couldn't load file");
    // Nor can a FIFO (which would wait for a writer) or a device (which never ends).
    ASSERT_EQ(::mkfifo(incoming.getChildFile("Fifo.qmbank").getFullPathName().toRawUTF8(), 0600), 0);
    EXPECT_EQ(install(incoming.getChildFile("Fifo.qmbank")), "Error: couldn't load file");
    ASSERT_TRUE(juce::File("/dev/zero").createSymbolicLink(incoming.getChildFile("Zero.qmbank"), false));
    EXPECT_EQ(install(incoming.getChildFile("Zero.qmbank")), "Error: couldn't load file");
    incoming.getChildFile("Zero.qmbank").deleteFile();
    for (const char* name : {"Upper.QMBANK", "Sounds.zip", "Sounds.qmbank.txt", "NoExtension", "x.qmpreset"})
        EXPECT_EQ(install(name, {"Keys_A"}), "Unsupported file type.") << name;
    const std::pair<const char*, std::vector<uint8_t>> notBanks[] = {
        {"Empty.qmbank", qmbank::makeBankZip({})},
        {"Folders.qmbank", qmbank::makeBankZip({{"A/", {}}, {"B/", {}}})},
        {"Junk.qmbank", qmbank::makeBankZip({{"a.txt", {1, 2, 3}}, {"Keys_Bad", {'Q', 'j'}}})},
        {"NotZip.qmbank", std::vector<uint8_t>(5000, 0x42)},
        {"Zero.qmbank", {}}};
    for (const auto& [name, bytes] : notBanks)
        EXPECT_EQ(install(name, bytes), installed(name, false));
    EXPECT_EQ(installedCount(), 0);

    // A real bank padded with a stray entry to exactly ten million bytes installs; one byte more is
    // refused before anything is read.
    std::vector<qmbank::BankEntry> entries = bankOf({"Keys_A", "Keys_B"});
    entries.push_back({"padding.bin", {}});
    entries.back().data.assign(10000000 - qmbank::makeBankZip(entries).size(), 0x5A);
    std::vector<uint8_t> edge = qmbank::makeBankZip(entries);
    EXPECT_EQ(install("Edge.qmbank", edge), installed("Edge.qmbank"));
    edge.push_back(0);
    EXPECT_EQ(install("Over.qmbank", edge), "Error: uncompatible file Over.qmbank\n");
    EXPECT_EQ(installedCount(), 1);

    // Write failures: a file in place of the sounds folder (root writes anywhere, so permissions
    // prove nothing), a folder where the installed copy should go.
    const juce::String failed = "Error: failed to write to sounds directory! Try reinstalling Quillmoor.\n";
    getSoundsFolder().deleteRecursively();
    ASSERT_TRUE(getSoundsFolder().replaceWithText("not a folder"));
    EXPECT_EQ(install("Blocked.qmbank", {"Keys_A"}), failed);
    EXPECT_EQ(getSoundsFolder().loadFileAsString(), "not a folder");
    getSoundsFolder().deleteFile();
    ASSERT_TRUE(getSoundsFolder().getChildFile("Taken.qmbank").createDirectory().wasOk());
    EXPECT_EQ(install("Taken.qmbank", {"Keys_A"}), failed);
    EXPECT_EQ(installedCount(), 1);
}
} // namespace

// The directory check finds the end record wherever the framework's reader finds it: after a comment
// of any length (the record then starts at every offset within the reader's search steps), and with
// a directory offset that points just past the first header, which the reader corrects. Whatever it
// accepts the reader lists in full; a directory that does not end at the record is refused.
TEST(ZipDirectoryCheck, AcceptsWhatTheFrameworkReadsWithAnyCommentAndRefusesUnboundedDirectories)
{
    const std::vector<uint8_t> plain = qmbank::makeBankZip(bankOf({"Keys_A", "Pads_B"}));
    const auto le32 = [](const std::vector<uint8_t>& z, size_t at)
    { return uint32_t{z[at]} | uint32_t{z[at + 1]} << 8 | uint32_t{z[at + 2]} << 16 | uint32_t{z[at + 3]} << 24; };
    const auto put32 = [](std::vector<uint8_t>& z, size_t at, uint32_t v)
    {
        for (size_t b = 0; b < 4; ++b) z[at + b] = static_cast<uint8_t>(v >> (8 * b));
    };
    const size_t record = plain.size() - 22;
    for (int commentBytes = 0; commentBytes <= 50; ++commentBytes)
        for (const int shift : {0, 4, 1})
        {
            std::vector<uint8_t> zip = plain;
            // shift 4: the offset points past the first header; shift 1: the directory is misplaced.
            put32(zip, record + 16, le32(zip, record + 16) + static_cast<uint32_t>(shift));
            zip[record + 20] = static_cast<uint8_t>(commentBytes);
            zip.insert(zip.end(), static_cast<size_t>(commentBytes), static_cast<uint8_t>('c'));
            juce::MemoryInputStream in(zip.data(), zip.size(), false);
            const bool accepted = hasBoundedZipDirectory(in);
            EXPECT_EQ(accepted, shift != 1) << commentBytes << " comment bytes, offset shifted by " << shift;
            if (accepted)
            {
                in.setPosition(0);
                EXPECT_EQ(juce::ZipFile(in).getNumEntries(), 2) << commentBytes << ", " << shift;
            }
        }
}
