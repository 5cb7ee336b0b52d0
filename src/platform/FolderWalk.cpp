#include "platform/FolderWalk.h"

#include <cstring>
#include <deque>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
struct DirCloser
{
    void operator()(DIR* d) const noexcept { ::closedir(d); }
};

FolderId idOf(const struct stat& st)
{
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}
} // namespace

FolderWalk::FolderWalk(int depthLimit, size_t entryLimit) : maxDepth(depthLimit), maxEntries(entryLimit) {}

void FolderWalk::passOver(const std::string& folder)
{
    struct stat st = {};
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) entered.insert(idOf(st));
}

bool FolderWalk::enter(const std::string& folder, int depth, std::vector<FolderEntry>& entries)
{
    if (depth > maxDepth || read >= maxEntries) return false;
    // The folder is identified by what was opened, so that one swapped in after a check cannot be
    // read under another's identity; O_DIRECTORY refuses a FIFO before an open could wait on it.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || !entered.insert(idOf(st)).second)
    {
        ::close(fd);
        return false;
    }
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
    if (dir == nullptr)
    {
        ::close(fd);
        return true;
    }
    while (const dirent* d = ::readdir(dir.get()))
    {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        if (read >= maxEntries) break;
        ++read;
        // A regular file that is no link needs no look-up; anything else is asked of the kernel,
        // which follows links to their end (or refuses a loop).
        if (d->d_type == DT_REG)
        {
            entries.push_back({d->d_name, false, {}});
            continue;
        }
        if (d->d_type != DT_DIR && d->d_type != DT_LNK && d->d_type != DT_UNKNOWN) continue;
        if (::fstatat(::dirfd(dir.get()), d->d_name, &st, 0) != 0) continue;
        if (S_ISREG(st.st_mode))
            entries.push_back({d->d_name, false, {}});
        else if (S_ISDIR(st.st_mode))
            entries.push_back({d->d_name, true, idOf(st)});
    }
    return true;
}

void walkBreadthFirst(FolderWalk& walk, const std::string& start, const FolderVisit& visit)
{
    std::deque<std::pair<std::string, int>> pending{{start, 0}};
    std::vector<FolderEntry> entries;
    while (!pending.empty())
    {
        auto [folder, depth] = std::move(pending.front());
        pending.pop_front();
        entries.clear();
        if (!walk.enter(folder, depth, entries)) continue;
        for (std::string& next : visit(folder, entries))
            pending.emplace_back(std::move(next), depth + 1);
    }
}
