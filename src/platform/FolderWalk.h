#pragma once

#include <cstddef>
#include <cstdint>
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

// One usable entry of a folder: a regular file or a folder (after links are resolved), by its name in
// the folder. id is set for folders only.
struct FolderEntry
{
    std::string name;
    bool isFolder = false;
    FolderId id;
};

// A walk of one library folder (the root) that stays inside it and ends: every real folder is
// entered at most once, however many links lead to it; a link whose target lies outside the root
// (or that dangles) is passed over, as are FIFOs, devices and sockets; folders deeper than maxDepth
// are not entered; once maxEntries entries have been read, the walk reads no more. The caller
// chooses the order: it enters the folders it wants from the entries it got.
class FolderWalk
{
  public:
    static constexpr int kMaxDepth = 64;
    static constexpr size_t kMaxEntries = 100000;

    explicit FolderWalk(const std::string& root, int maxDepth = kMaxDepth, size_t maxEntries = kMaxEntries);

    // Reads folder (the root, or a path reached through this walk's entries) at depth levels below
    // the root into entries, in the file system's order, and marks it entered. False, with entries
    // untouched, when it is no folder inside the root, was entered before, lies too deep, or the
    // entry budget is spent; a budget running out while reading keeps what was read.
    bool enter(const std::string& folder, int depth, std::vector<FolderEntry>& entries);

    // Marks folder entered without reading it: a listing of one folder below the root passes over
    // the folders above it, as a walk from the root would have entered them.
    void passOver(const std::string& folder);

    bool wasEntered(const FolderId& id) const { return entered.count(id) > 0; }
    size_t entriesRead() const noexcept { return read; }

  private:
    bool isInside(const std::string& canonical) const;

    std::string root; // canonical; empty when the root does not exist
    int maxDepth;
    size_t maxEntries;
    size_t read = 0;
    std::set<FolderId> entered;
};
