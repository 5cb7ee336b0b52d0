#include "platform/FolderWalk.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>

namespace
{
struct DirCloser
{
    void operator()(DIR* d) const noexcept { ::closedir(d); }
};

// The path with every link and "." or ".." resolved, or the empty text when that fails.
std::string canonicalPath(const std::string& path)
{
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real != nullptr ? std::string(real.get()) : std::string();
}
} // namespace

FolderWalk::FolderWalk(const std::string& rootPath, int depthLimit, size_t entryLimit)
    : root(canonicalPath(rootPath)), maxDepth(depthLimit), maxEntries(entryLimit)
{
}

bool FolderWalk::isInside(const std::string& canonical) const
{
    if (root.empty() || canonical.empty()) return false;
    if (root == "/") return true;
    return canonical.compare(0, root.size(), root) == 0 &&
           (canonical.size() == root.size() || canonical[root.size()] == '/');
}

void FolderWalk::passOver(const std::string& folder)
{
    const std::string here = canonicalPath(folder);
    struct stat st = {};
    if (isInside(here) && ::stat(here.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        entered.insert({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)});
}

bool FolderWalk::enter(const std::string& folder, int depth, std::vector<FolderEntry>& entries)
{
    if (depth > maxDepth || read >= maxEntries) return false;
    const std::string here = canonicalPath(folder);
    struct stat st = {};
    if (!isInside(here) || ::stat(here.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (!entered.insert({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}).second)
        return false;

    std::unique_ptr<DIR, DirCloser> dir(::opendir(here.c_str()));
    if (dir == nullptr) return true;
    while (const dirent* d = ::readdir(dir.get()))
    {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        if (read >= maxEntries) break;
        ++read;
        const std::string path = here + "/" + d->d_name;
        if (::lstat(path.c_str(), &st) != 0) continue;
        // An entry that is no link lies in this folder, which lies inside the root; a link is
        // followed only to a target inside the root.
        if (S_ISLNK(st.st_mode))
        {
            const std::string target = canonicalPath(path);
            if (!isInside(target) || ::stat(target.c_str(), &st) != 0) continue;
        }
        if (S_ISREG(st.st_mode))
            entries.push_back({d->d_name, false, {}});
        else if (S_ISDIR(st.st_mode))
            entries.push_back(
                {d->d_name, true, {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}});
    }
    return true;
}
