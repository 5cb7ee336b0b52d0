#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>
#include <unistd.h>

namespace qmtest
{

// The direct children of this process: the ones still running and the finished ones nobody reaped
// (zombies). Read from /proc/<pid>/stat, whose state and parent follow the last ')' (the command
// name may hold spaces and parentheses).
struct Children
{
    std::set<pid_t> running, zombies;
};

inline Children childrenOfThisProcess()
{
    Children found;
    const pid_t self = getpid();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec))
    {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "stat");
        std::string line;
        const size_t close = std::getline(in, line) ? line.rfind(')') : std::string::npos;
        if (close == std::string::npos) continue; // gone meanwhile
        std::istringstream rest(line.substr(close + 1));
        char state = '?';
        pid_t parent = 0;
        if (rest >> state >> parent && parent == self)
            (state == 'Z' ? found.zombies : found.running).insert(std::stoi(name));
    }
    return found;
}

// An "xdg-open" put first in PATH while this lives. Each call appends one line to calls():
// "fd:open" or "fd:closed" for descriptor kProbeFd, then its first argument.
class FakeOpener
{
  public:
    static constexpr int kProbeFd = 77;

    explicit FakeOpener(const std::filesystem::path& folder) : log(folder / "calls.txt")
    {
        std::filesystem::create_directories(folder / "bin");
        const auto script = folder / "bin" / "xdg-open";
        std::ofstream(script) << "#!/bin/sh\n"
                                 "if [ -e /proc/$$/fd/"
                              << kProbeFd
                              << " ]; then fd=fd:open; else fd=fd:closed; fi\n"
                                 "printf '%s %s\\n' \"$fd\" \"$1\" >> '"
                              << log.string() << "'\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        const char* path = std::getenv("PATH");
        oldPath = path != nullptr ? path : "/usr/bin:/bin";
        setenv("PATH", ((folder / "bin").string() + ":" + oldPath).c_str(), 1);
        before = childrenOfThisProcess();
    }
    ~FakeOpener() { setenv("PATH", oldPath.c_str(), 1); }
    FakeOpener(const FakeOpener&) = delete;
    FakeOpener& operator=(const FakeOpener&) = delete;

    std::vector<std::string> calls() const
    {
        std::vector<std::string> lines;
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    // Waits, a bounded time, until the opener ran `count` times and no child this process started
    // since this was made is still running; then returns those children left unreaped.
    std::set<pid_t> waitForCalls(size_t count) const
    {
        Children now;
        for (int tries = 0; tries < 600; ++tries)
        {
            now = childrenOfThisProcess();
            bool busy = false;
            for (pid_t p : now.running)
                busy = busy || before.running.count(p) == 0;
            if (!busy && calls().size() >= count) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::set<pid_t> left;
        for (pid_t p : now.zombies)
            if (before.zombies.count(p) == 0) left.insert(p);
        return left;
    }

  private:
    std::filesystem::path log;
    std::string oldPath;
    Children before;
};

} // namespace qmtest
