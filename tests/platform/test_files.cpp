// Reading library files only as regular files, bounded by the bytes that arrive, and walking a
// library folder that holds link loops, links leading out of it, FIFOs and devices.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
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
        fs::create_directories(fs::path(pattern).parent_path());
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

// Every regular file the walk yields under root, as paths relative to it, entering folders
// depth-first in the order given.
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

TEST(RegularFile, OnlyRegularFilesAndOnlyUpToTheCap)
{
    ScratchFolder scratch;
    ASSERT_FALSE(scratch.path.empty());
    const fs::path d = scratch.path;
    constexpr size_t cap = 1000;
    writeBytes(d / "exact", cap);
    writeBytes(d / "over", cap + 1);
    writeBytes(d / "empty", 0);
    fs::create_symlink(d / "exact", d / "link");
    fs::create_symlink("/dev/zero", d / "zero");
    fs::create_symlink(d / "gone", d / "dangling");
    fs::create_directory(d / "folder");
    ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0600), 0);
    // A sparse file: the size the file system reports is what arrives, and it is over the cap.
    ASSERT_EQ(::truncate((d / "empty").c_str(), 0), 0);
    writeBytes(d / "sparse", 0);
    ASSERT_EQ(::truncate((d / "sparse").c_str(), off_t(cap) + 1), 0);

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
        {(d / "over").string(), cap, FileReadStatus::tooLarge, 0},
        {(d / "empty").string(), cap, FileReadStatus::ok, 0},
        {(d / "link").string(), cap, FileReadStatus::ok, cap},
        {(d / "sparse").string(), cap, FileReadStatus::tooLarge, 0},
        {(d / "zero").string(), cap, FileReadStatus::notRegular, 0},
        {"/dev/urandom", cap, FileReadStatus::notRegular, 0},
        {(d / "fifo").string(), cap, FileReadStatus::notRegular, 0},
        {(d / "folder").string(), cap, FileReadStatus::notRegular, 0},
        {(d / "dangling").string(), cap, FileReadStatus::missing, 0},
        {(d / "nothing").string(), cap, FileReadStatus::missing, 0},
        {"/proc/self/status", 10, FileReadStatus::tooLarge, 0},
    };
    for (const Row& row : rows)
    {
        std::vector<uint8_t> bytes(3, 1);
        EXPECT_EQ(readRegularFile(row.path, row.cap, bytes), row.status) << row.path;
        EXPECT_EQ(bytes.size(), row.size) << row.path;
        EXPECT_LE(bytes.capacity(), row.cap + 1) << row.path;
    }
    std::vector<uint8_t> status;
    ASSERT_EQ(readRegularFile("/proc/self/status", 1 << 20, status), FileReadStatus::ok);
    EXPECT_GT(status.size(), 10u);
    std::vector<uint8_t> exact;
    ASSERT_EQ(readRegularFile((d / "exact").string(), cap, exact), FileReadStatus::ok);
    for (size_t i = 0; i < exact.size(); ++i)
        ASSERT_EQ(exact[i], uint8_t(i * 7 & 0xFF)) << i;
}

// Rows build a library under root; the walk must yield exactly the real files, whatever loops and
// links lead elsewhere, and read only a bounded number of entries.
TEST(FolderWalk, EachRealFolderOnceNothingOutsideTheRoot)
{
    ScratchFolder scratch;
    ASSERT_FALSE(scratch.path.empty());
    const fs::path outside = scratch.path / "outside";
    writeBytes(outside / "elsewhere.qmpreset", 10);
    fs::create_directory(outside / "more");

    struct Row
    {
        const char* what;
        std::function<void(const fs::path&)> make;
        std::set<std::string> files; // besides "a" and "sub/b"
        int folders;                 // real folders entered besides the root and sub
    };
    const Row rows[] = {
        {"nothing odd", [](const fs::path&) {}, {}, 0},
        {"c1 -> c2 -> .",
         [](const fs::path& r) { fs::create_symlink("c2", r / "c1"), fs::create_symlink(".", r / "c2"); },
         {},
         0},
        {"a1 -> a2 -> ., b1 -> b2 -> .",
         [](const fs::path& r)
         {
             fs::create_symlink("a2", r / "a1"), fs::create_symlink(".", r / "a2");
             fs::create_symlink("b2", r / "b1"), fs::create_symlink(".", r / "b2");
         },
         {},
         0},
        {"the same pairs in a sub-folder",
         [](const fs::path& r)
         {
             fs::create_symlink("a2", r / "sub/a1"), fs::create_symlink("..", r / "sub/a2");
             fs::create_symlink("b2", r / "sub/b1"), fs::create_symlink(".", r / "sub/b2");
         },
         {},
         0},
        {"link to /", [](const fs::path& r) { fs::create_symlink("/", r / "root"); }, {}, 0},
        {"links out of the root",
         [&](const fs::path& r)
         {
             fs::create_symlink(outside, r / "out");
             fs::create_symlink(outside / "elsewhere.qmpreset", r / "x.qmpreset");
             fs::create_symlink("../..", r / "sub/up");
         },
         {},
         0},
        {"FIFO and devices",
         [](const fs::path& r)
         {
             ::mkfifo((r / "f.qmpreset").c_str(), 0600);
             fs::create_symlink("/dev/zero", r / "z.qmpreset");
             fs::create_symlink("/dev/null", r / "sub/n.qmbank");
         },
         {},
         0},
        {"links inside the root are followed once",
         [](const fs::path& r)
         {
             fs::create_symlink("sub", r / "again");
             fs::create_symlink("sub/b", r / "b-link");
             fs::create_directories(r / "deep/er"), writeBytes(r / "deep/er/c", 1);
         },
         {"b-link", "deep/er/c"},
         2},
    };
    for (const Row& row : rows)
    {
        const fs::path root = scratch.path / "root";
        fs::remove_all(root);
        writeBytes(root / "a", 1);
        writeBytes(root / "sub/b", 1);
        row.make(root);
        FolderWalk walk(root.string());
        std::set<std::string> expected = row.files;
        expected.insert({"a", "sub/b"});
        // Paths are those the walk reached them by; "again/b" and "sub/b" are one folder, entered once
        // by whichever the file system lists first.
        std::set<std::string> files = walkAll(walk, root);
        if (files.erase("again/b") == 1) files.insert("sub/b");
        EXPECT_EQ(files, expected) << row.what;
        EXPECT_LT(walk.entriesRead(), 16u) << row.what;
        // The root and every real folder once: entering any of them again fails.
        std::vector<FolderEntry> none;
        EXPECT_FALSE(walk.enter(root.string(), 0, none)) << row.what;
        EXPECT_FALSE(walk.enter((root / "sub").string(), 1, none)) << row.what;
        EXPECT_TRUE(none.empty());
        int folders = 0;
        for (const char* f : {"deep", "deep/er"})
            folders += fs::is_directory(root / f) && !walk.enter((root / f).string(), 1, none);
        EXPECT_EQ(folders, row.folders) << row.what;
    }
    // A folder outside the root is never entered, even when asked for.
    FolderWalk walk((scratch.path / "root").string());
    std::vector<FolderEntry> entries;
    EXPECT_FALSE(walk.enter(outside.string(), 0, entries));
    EXPECT_FALSE(walk.enter("/", 0, entries));
    EXPECT_TRUE(entries.empty());
}

TEST(FolderWalk, DepthAndEntryLimits)
{
    ScratchFolder scratch;
    ASSERT_FALSE(scratch.path.empty());
    const fs::path root = scratch.path;
    writeBytes(root / "1/2/3/deep", 1);
    for (int i = 0; i < 10; ++i)
        writeBytes(root / ("wide/" + std::to_string(i)), 1);

    FolderWalk shallow(root.string(), 2);
    std::set<std::string> files = walkAll(shallow, root);
    EXPECT_EQ(files.count("1/2/3/deep"), 0u);
    EXPECT_EQ(files.size(), 10u);

    FolderWalk deep(root.string());
    EXPECT_EQ(walkAll(deep, root).size(), 11u);

    // Every entry read counts, folders included; the walk stops at the limit and enters no more.
    for (size_t limit : {size_t(1), size_t(5), size_t(13)})
    {
        FolderWalk bounded(root.string(), FolderWalk::kMaxDepth, limit);
        walkAll(bounded, root);
        EXPECT_EQ(bounded.entriesRead(), limit);
    }
}
} // namespace
