// Programs started for the user (the desktop's opener) run detached: the calling process, a host
// that may live for days, keeps no child of theirs, finished or not.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <pthread.h>

#include "support/FakeOpener.h"
#include "platform/DesktopOpener.h"
#include "platform/ProcessLauncher.h"

namespace
{
namespace fs = std::filesystem;

fs::path freshFolder(const char* name)
{
    const char* tmp = std::getenv("QM_TEST_TMP");
    const fs::path folder = fs::path(tmp != nullptr ? tmp : "/tmp") / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::string readText(const fs::path& file)
{
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Polls, a bounded time, until file holds the given number of whole lines.
std::string waitForLines(const fs::path& file, long lines = 1)
{
    for (int tries = 0; tries < 600; ++tries)
    {
        const std::string text = readText(file);
        if (std::count(text.begin(), text.end(), '\n') >= lines) return text;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return readText(file);
}
} // namespace

// Each target reaches the opener as its one argument, unchanged; a descriptor the caller left open
// across exec is not handed on; and once the openers ran, no child of this process is left.
TEST(DesktopOpener, HandsEachTargetOverAndLeavesNoChild)
{
    const fs::path folder = freshFolder("desktop-opener");
    const qmtest::FakeOpener opener(folder);
    const std::vector<std::string> targets = {(folder / "Velmora" / "Quillmoor Presets").string(),
                                              "https://velmora.example/quillmoor",
                                              (folder / "it's \"$HOME\" `id` a;b").string()};
    const int probe = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(dup2(probe, qmtest::FakeOpener::kProbeFd), qmtest::FakeOpener::kProbeFd);
    for (const std::string& target : targets)
        EXPECT_TRUE(openWithDesktop(target)) << target;
    close(qmtest::FakeOpener::kProbeFd), close(probe);

    const std::set<pid_t> zombies = opener.waitForCalls(targets.size());
    EXPECT_TRUE(zombies.empty()) << zombies.size() << " finished children were never reaped";
    std::vector<std::string> expected, calls = opener.calls();
    for (const std::string& target : targets)
        expected.push_back("fd:closed " + target);
    std::sort(expected.begin(), expected.end()), std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls, expected);
}

// A signal the calling thread blocks, and one the caller ignores (both survive an exec), are neither
// blocked nor ignored in the program. Read by sed itself: a shell clears its signal mask on start.
TEST(ProcessLauncher, ProgramStartsWithDefaultSignals)
{
    const fs::path out = freshFolder("process-launcher-signals") / "status";
    sigset_t usr1, previous;
    sigemptyset(&usr1), sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, &previous);
    const auto oldHandler = std::signal(SIGUSR2, SIG_IGN);
    const bool started =
        launchDetached({"/bin/sed", "-n", "/^Sig\\(Blk\\|Ign\\)/w " + out.string(), "/proc/self/status"});
    std::signal(SIGUSR2, oldHandler);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_TRUE(started);
    EXPECT_EQ(waitForLines(out, 2), "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

// The call returns while the program still runs (it waits here for a file that is made only after
// the call), and the program's parent is not this process.
TEST(ProcessLauncher, ReturnsAtOnceAndTheProgramIsNotOurChild)
{
    const fs::path folder = freshFolder("process-launcher");
    const fs::path go = folder / "go", pidFile = folder / "pid", done = folder / "done";
    const std::string script = "echo $$ > '" + pidFile.string() + "'; while [ ! -e '" + go.string() +
                               "' ]; do sleep 0.02; done; echo ran > '" + done.string() + "'";
    const qmtest::Children before = qmtest::childrenOfThisProcess();
    ASSERT_TRUE(launchDetached({"/bin/sh", "-c", script}));
    EXPECT_FALSE(fs::exists(done));

    const std::string pid = waitForLines(pidFile);
    ASSERT_FALSE(pid.empty());
    std::ifstream stat("/proc/" + std::to_string(std::stoi(pid)) + "/stat");
    std::string line;
    ASSERT_TRUE(std::getline(stat, line)) << "the program is still waiting, so it is there";
    std::istringstream rest(line.substr(line.rfind(')') + 1));
    char state = '?';
    pid_t parent = 0;
    rest >> state >> parent;
    EXPECT_NE(parent, getpid());
    EXPECT_EQ(qmtest::childrenOfThisProcess().running, before.running);

    std::ofstream(go) << "go";
    EXPECT_EQ(waitForLines(done), "ran\n");
    EXPECT_EQ(qmtest::childrenOfThisProcess().zombies, before.zombies);

    // Nothing to start; a program that cannot be run still leaves no child behind.
    EXPECT_FALSE(launchDetached({}));
    EXPECT_TRUE(launchDetached({(folder / "missing").string()}));
    EXPECT_EQ(qmtest::childrenOfThisProcess().zombies, before.zombies);
}
