// Reading library files only as regular files, bounded by the bytes that arrive; the folder walk's
// bounds and what its links cost. (Link loops, links out of the library, FIFOs and odd names in a
// real library: test_hostile_library.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <csignal>
#include <functional>

#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
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

// Entries read are counted, folders included. Links are followed wherever they lead, yet every real
// folder is entered once: a link back up adds one entry, a link to / no more than the entry limit.
TEST(FolderWalk, FollowsLinksEntersEachFolderOnceAndStopsAtItsDepthAndEntryLimits)
{
    ScratchFolder scratch, elsewhere;
    ASSERT_FALSE(scratch.path.empty() || elsewhere.path.empty());
    const fs::path root = scratch.path;
    writeBytes(root / "1/2/3/deep", 1);
    for (int i = 0; i < 10; ++i)
        writeBytes(root / ("wide/" + std::to_string(i)), 1);
    fs::create_symlink("..", root / "wide/up");
    writeBytes(elsewhere.path / "far/bank", 1);
    fs::create_symlink(elsewhere.path / "far", root / "linked");
    fs::create_symlink(elsewhere.path / "far/bank", root / "wide/bank");
    fs::create_symlink(elsewhere.path / "gone", root / "dangling");

    FolderWalk all;
    const std::set<std::string> found = walkAll(all, root);
    EXPECT_EQ(found.size(), 13u);
    EXPECT_EQ(found.count("linked/bank") + found.count("wide/bank"), 2u);
    EXPECT_EQ(all.entriesRead(), 20u);
    std::vector<FolderEntry> none;
    EXPECT_FALSE(all.enter((root / "wide/up").string(), 0, none) ||
                 all.enter((root / "linked").string(), 0, none));

    FolderWalk shallow(2);
    const std::set<std::string> files = walkAll(shallow, root);
    EXPECT_EQ(files.count("1/2/3/deep"), 0u);
    EXPECT_EQ(files.size(), 12u);

    for (size_t limit : {size_t(1), size_t(5), size_t(13)})
    {
        FolderWalk bounded(FolderWalk::kMaxDepth, limit);
        walkAll(bounded, root);
        EXPECT_EQ(bounded.entriesRead(), limit);
    }

    // The whole file system behind one link: the walk yields what fits in its budget and ends.
    fs::create_symlink("/", root / "wide/root");
    FolderWalk everything(FolderWalk::kMaxDepth, 20000);
    const std::set<std::string> many = walkAll(everything, root);
    EXPECT_EQ(everything.entriesRead(), 20000u);
    EXPECT_GT(many.size(), 13u);
}

// The system calls fn makes in a child process, counted through ptrace: all of them, and those that
// read a link.
struct SyscallCount
{
    long total = 0;
    long linkReads = 0;
};

SyscallCount countSyscalls(const std::function<void()>& fn)
{
    const pid_t child = ::fork();
    if (child == 0)
    {
        ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        ::raise(SIGSTOP);
        fn();
        ::_exit(0);
    }
    SyscallCount count;
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) return {-1, -1};
    ::ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    int signal = 0;
    while (::ptrace(PTRACE_SYSCALL, child, nullptr, signal) == 0 && ::waitpid(child, &status, 0) == child &&
           WIFSTOPPED(status))
    {
        signal = 0;
        if (WSTOPSIG(status) != (SIGTRAP | 0x80))
        {
            signal = WSTOPSIG(status);
            continue;
        }
        __ptrace_syscall_info info = {};
        if (::ptrace(PTRACE_GET_SYSCALL_INFO, child, sizeof info, &info) <= 0 ||
            info.op != PTRACE_SYSCALL_INFO_ENTRY)
            continue;
        ++count.total;
        if (info.entry.nr == SYS_readlink || info.entry.nr == SYS_readlinkat) ++count.linkReads;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {-1, -1};
    return count;
}

// Links into a long chain of links under a deep folder cost the walk the same system calls as under a
// shallow one: the kernel follows the chain, nothing reads link by link or prefix by prefix.
TEST(FolderWalk, SystemCallsForLinkChainsDoNotGrowWithTheirDepth)
{
    constexpr int kLinks = 5, kHops = 30;
    const auto walkThroughChain = [](const fs::path& scratch, int depth)
    {
        // Level by level: std::filesystem refuses to create a path this long in one call.
        fs::path deep = scratch / "chain";
        ::mkdir(deep.c_str(), 0700);
        for (int i = 0; i < depth; ++i)
            ::mkdir((deep /= "d").c_str(), 0700);
        writeBytes(deep / "target.qmpreset", 1);
        for (int h = 0; h < kHops; ++h)
            fs::create_symlink(deep / (h + 1 < kHops ? "hop" + std::to_string(h + 1) : "target.qmpreset"),
                               deep / ("hop" + std::to_string(h)));
        const fs::path root = scratch / "root";
        fs::create_directories(root);
        for (int l = 0; l < kLinks; ++l)
            fs::create_symlink(deep / "hop0", root / ("link" + std::to_string(l) + ".qmpreset"));
        return countSyscalls(
            [&]
            {
                FolderWalk walk;
                if (walkAll(walk, root).size() != size_t(kLinks)) ::_exit(3);
            });
    };
    ScratchFolder shallow, deep;
    ASSERT_FALSE(shallow.path.empty() || deep.path.empty());
    const SyscallCount near = walkThroughChain(shallow.path, 1);
    const SyscallCount far = walkThroughChain(deep.path, 1000);
    ASSERT_GT(near.total, 0) << "the walk failed or could not be traced";
    ASSERT_GT(far.total, 0) << "the walk failed or could not be traced";
    EXPECT_EQ(near.linkReads + far.linkReads, 0);
    // A little room for the allocator's own calls; reading the chain link by link would add thousands.
    EXPECT_LE(far.total, near.total + 8);
}
} // namespace
