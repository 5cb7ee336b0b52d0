#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

// What a folder is, whatever path or link reaches it: its device and inode.
struct FolderId
{
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator<(const FolderId& o) const noexcept
    {
        return std::pair(device, inode) < std::pair(o.device, o.inode);
    }
    bool operator==(const FolderId& o) const noexcept { return device == o.device && inode == o.inode; }
};

// One usable entry of a folder: a regular file or a folder (after links are followed), by its name in
// the folder exactly as the file system gives it (any bytes but "/" and zero). id is set for folders
// only.
struct FolderEntry
{
    std::string name;
    bool isFolder = false;
    FolderId id;
};

// A walk of a library folder that ends whatever the folder holds. Links are followed wherever they
// lead (users link banks and presets in from other disks), by the kernel, whose own hop limit ends a
// chain, so a link costs one stat however long its chain or deep its target. Every real folder is
// entered at most once, however many links lead to it; dangling links, FIFOs, devices and sockets are
// passed over; folders deeper than maxDepth are not entered; once maxEntries entries have been read,
// the walk reads no more. The caller chooses the order: it enters the folders it wants from the
// entries it got, by joining the folder's path, "/" and the entry's name.
class FolderWalk
{
  public:
    static constexpr int kMaxDepth = 64;
    static constexpr size_t kMaxEntries = 100000;

    explicit FolderWalk(int maxDepth = kMaxDepth, size_t maxEntries = kMaxEntries);

    // Reads folder (a path; links in it are followed) at depth levels below where the walk started
    // into entries, in the file system's order, and marks it entered. False, with entries untouched,
    // when it is no folder, was entered before, lies too deep, or the entry budget is spent; a budget
    // running out while reading keeps what was read.
    bool enter(const std::string& folder, int depth, std::vector<FolderEntry>& entries);

    // Marks folder entered without reading it: a listing of one folder below the library folder
    // passes over the folders above it, as a walk from the top would have entered them.
    void passOver(const std::string& folder);

    bool wasEntered(const FolderId& id) const { return entered.count(id) > 0; }
    size_t entriesRead() const noexcept { return read; }

  private:
    int maxDepth;
    size_t maxEntries;
    size_t read = 0;
    std::set<FolderId> entered;
};

// Enters start (depth 0) and, breadth-first, the sub-folders that visit picks from each folder's
// entries: every folder at one depth is read before any deeper one, so that a link into a large tree
// (a whole disk) spends the entry budget only after everything nearer start has been read.
// visit(folder, entries) is called for each folder entered and returns the paths of the sub-folders
// to enter, in order.
using FolderVisit = std::function<std::vector<std::string>(const std::string& folder,
                                                           const std::vector<FolderEntry>& entries)>;
void walkBreadthFirst(FolderWalk& walk, const std::string& start, const FolderVisit& visit);
