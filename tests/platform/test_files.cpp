// Reading library files only as regular files, bounded by the bytes that arrive; the folder walk's
// bounds. (Link loops, links out of the library and FIFOs in a real library: test_hostile_library.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/FolderWalk.h"
#include "platform/RegularFile.h"

namespace fs = std::filesystem;

namespace
{
// A fresh folder under QM_TEST_TMP (or /tmp), removed at the end of the test.
struct ScratchFolder
{
    ScratchFolder()
    {
        const char* tmp = std::getenv("QM_TEST_TMP");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/qm-files-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!path.empty()) fs::remove_all(path, ignored);
    }
    fs::path path;
};

void writeBytes(const fs::path& p, size_t n)
{
    fs::create_directories(p.parent_path());
    FILE* f = std::fopen(p.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (size_t i = 0; i < n; ++i)
        std::fputc(int(i * 7 & 0xFF), f);
    std::fclose(f);
}

// Every regular file the walk yields under root, as paths relative to it.
std::set<std::string> walkAll(FolderWalk& walk, const fs::path& root, const std::string& relative = "",
                              int depth = 0)
{
    std::set<std::string> files;
    std::vector<FolderEntry> entries;
    if (!walk.enter((root / relative).string(), depth, entries)) return files;
    for (const FolderEntry& e : entries)
    {
        const std::string child = relative.empty() ? e.name : relative + "/" + e.name;
        if (e.isFolder)
            files.merge(walkAll(walk, root, child, depth + 1));
        else
            files.insert(child);
    }
    return files;
}

TEST(RegularFile, OnlyRegularFilesAndOnlyUpToTheCapOfWhatArrives)
{
    ScratchFolder scratch;
    ASSERT_FALSE(scratch.path.empty());
    const fs::path d = scratch.path;
    constexpr size_t cap = 1000;
    writeBytes(d / "exact", cap);
    writeBytes(d / "over", cap + 1);
    writeBytes(d / "sparse", 0);
    ASSERT_EQ(::truncate((d / "sparse").c_str(), off_t(cap) + 1), 0);
    fs::create_symlink(d / "exact", d / "link");
    fs::create_symlink("/dev/zero", d / "zero");
    fs::create_symlink(d / "gone", d / "dangling");
    ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0600), 0);

    struct Row
    {
        std::string path;
        size_t cap;
        FileReadStatus status;
        size_t size;
    };
    // /proc files report a size of 0 yet hold bytes: the read counts what arrives.
    const Row rows[] = {
        {(d / "exact").string(), cap, FileReadStatus::ok, cap},
        {(d / "link").string(), cap, FileReadStatus::ok, cap},
        {(d / "over").string(), cap, FileReadStatus::tooLarge, 0},
        {(d / "sparse").string(), cap, FileReadStatus::tooLarge, 0},
        {"/proc/self/status", 10, FileReadStatus::tooLarge, 0},
        {(d / "zero").string(), cap, FileReadStatus::notRegular, 0},
        {(d / "fifo").string(), cap, FileReadStatus::notRegular, 0},
        {d.string(), cap, FileReadStatus::notRegular, 0},
        {(d / "dangling").string(), cap, FileReadStatus::missing, 0},
    };
    for (const Row& row : rows)
    {
        std::vector<uint8_t> bytes(3, 1);
        EXPECT_EQ(readRegularFile(row.path, row.cap, bytes), row.status) << row.path;
        EXPECT_EQ(bytes.size(), row.size) << row.path;
        EXPECT_LE(bytes.capacity(), row.cap + 1) << row.path;
        for (size_t i = 0; i < bytes.size(); ++i)
            ASSERT_EQ(bytes[i], uint8_t(i * 7 & 0xFF)) << row.path << " at " << i;
    }
    std::vector<uint8_t> status;
    EXPECT_EQ(readRegularFile("/proc/self/status", 1 << 20, status), FileReadStatus::ok);
    EXPECT_GT(status.size(), 10u);
}

// Entries read are counted, folders included, and a link to / adds one entry, not the file system.
TEST(FolderWalk, StaysInsideItsRootAndStopsAtItsDepthAndEntryLimits)
{
    ScratchFolder scratch;
    ASSERT_FALSE(scratch.path.empty());
    const fs::path root = scratch.path;
    writeBytes(root / "1/2/3/deep", 1);
    for (int i = 0; i < 10; ++i)
        writeBytes(root / ("wide/" + std::to_string(i)), 1);
    fs::create_symlink("/", root / "wide/root");
    fs::create_symlink("..", root / "wide/up");

    FolderWalk all(root.string());
    EXPECT_EQ(walkAll(all, root).size(), 11u);
    EXPECT_EQ(all.entriesRead(), 17u);
    std::vector<FolderEntry> none;
    EXPECT_FALSE(all.enter("/", 0, none) || all.enter(root.parent_path().string(), 0, none));

    FolderWalk shallow(root.string(), 2);
    const std::set<std::string> files = walkAll(shallow, root);
    EXPECT_EQ(files.count("1/2/3/deep"), 0u);
    EXPECT_EQ(files.size(), 10u);

    for (size_t limit : {size_t(1), size_t(5), size_t(13)})
    {
        FolderWalk bounded(root.string(), FolderWalk::kMaxDepth, limit);
        walkAll(bounded, root);
        EXPECT_EQ(bounded.entriesRead(), limit);
    }
}
} // namespace
