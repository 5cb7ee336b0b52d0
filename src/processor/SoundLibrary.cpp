#include "processor/SoundLibrary.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/FolderWalk.h"
#include "processor/NameText.h"
#include "processor/LibraryFolders.h"
#include "processor/RegularFileStream.h"
#include "processor/ZipDirectoryCheck.h"

namespace
{
// Longest piece handed to one InputStream::read (its count is an int).
constexpr int64_t kMaxReadChunk = int64_t{1} << 30;

// Every bank under folder, breadth-first, each folder in the file system's order: regular files
// only, wherever a link leads, each real folder read once. Paths stay the file system's bytes, so a
// name of any bytes is read like any other.
std::vector<std::string> collectBanks(const std::string& folder)
{
    std::vector<std::string> banks;
    FolderWalk walk;
    walkBreadthFirst(walk, folder,
                     [&](const std::string& here, const std::vector<FolderEntry>& entries)
                     {
                         std::vector<std::string> folders;
                         for (const FolderEntry& entry : entries)
                             if (entry.isFolder)
                                 folders.push_back(here + "/" + entry.name);
                             else if (hasExtension(entry.name, kSoundBankExtension))
                                 banks.push_back(here + "/" + entry.name);
                         return folders;
                     });
    return banks;
}

// Bytes the library makes room for when reading entry i of zip, given what the bank and the
// library may still take.
int64_t entryRoom(const juce::ZipFile& zip, int i, int64_t bankLeft, int64_t libraryLeft)
{
    const juce::ZipFile::ZipEntry* entry = zip.getEntry(i);
    if (entry == nullptr) return 0;
    const int64_t declared = std::max<int64_t>(entry->uncompressedSize, 0);
    return std::max<int64_t>(0, std::min({declared, kMaxSoundEntryBytes, bankLeft, libraryLeft}));
}

int64_t bankRoom(int64_t fileSize)
{
    if (fileSize > kMaxSoundLibraryBytes / kMaxBankInflation) return kMaxSoundLibraryBytes;
    return fileSize * kMaxBankInflation;
}

// Reads until want bytes arrived or the stream ends or fails.
int64_t readFully(juce::InputStream& stream, uint8_t* dst, int64_t want)
{
    int64_t got = 0;
    while (got < want)
    {
        const int chunk = static_cast<int>(std::min(want - got, kMaxReadChunk));
        const int n = stream.read(dst + got, chunk);
        if (n <= 0) break;
        got += n;
    }
    return got;
}

// The bank at path, when it is a regular file whose zip directory the framework can read without
// taking in more than the directory itself; null for anything else, which is then skipped like an
// unreadable archive.
std::unique_ptr<RegularFileStream> openCheckedArchive(const std::string& path)
{
    std::unique_ptr<RegularFileStream> archive = RegularFileStream::open(path);
    if (archive == nullptr || !hasBoundedZipDirectory(*archive)) return nullptr;
    archive->setPosition(0);
    return archive;
}

void setRefName(SoundDataRef& ref, const juce::String& entryName)
{
    std::memset(ref.name, 0, sizeof(ref.name));
    const char* utf8 = entryName.toRawUTF8();
    const size_t len = std::min(std::strlen(utf8), sizeof(ref.name) - 1);
    std::memcpy(ref.name, utf8, len);
}
} // namespace

int loadSoundBanks(const juce::File& folder, std::vector<uint8_t>& storage, std::vector<SoundDataRef>& refs)
{
    refs.clear();
    storage.clear();
    if (!folder.isDirectory()) return 0;
    const std::vector<std::string> banks = collectBanks(folder.getFullPathName().toStdString());

    // First pass: count the entries and the room they may take.
    int64_t count = 0;
    int64_t total = 0;
    for (const std::string& bank : banks)
    {
        std::unique_ptr<RegularFileStream> archive = openCheckedArchive(bank);
        if (archive == nullptr) continue;
        int64_t bankLeft = bankRoom(archive->getTotalLength());
        juce::ZipFile zip(archive.release(), true);
        const int entries = zip.getNumEntries();
        for (int i = 0; i < entries && count < std::numeric_limits<int>::max(); ++i)
        {
            const int64_t room = entryRoom(zip, i, bankLeft, kMaxSoundLibraryBytes - total);
            bankLeft -= room;
            total += room;
            ++count;
        }
    }
    if (count == 0) return 0;

    refs.assign(static_cast<size_t>(count), SoundDataRef{});
    std::vector<int64_t> offsets(static_cast<size_t>(count), 0);
    storage.assign(static_cast<size_t>(total), 0);

    // Second pass: each entry gets at most the room the first pass allowed it, so a library that
    // changed in between can neither overflow the buffer nor take another entry's space.
    int64_t filled = 0;
    int64_t offset = 0;
    for (const std::string& bank : banks)
    {
        if (filled >= count) break;
        std::unique_ptr<RegularFileStream> archive = openCheckedArchive(bank);
        if (archive == nullptr) continue;
        int64_t bankLeft = bankRoom(archive->getTotalLength());
        juce::ZipFile zip(archive.release(), true);
        const int entries = zip.getNumEntries();
        for (int i = 0; i < entries && filled < count; ++i)
        {
            const int64_t room = entryRoom(zip, i, bankLeft, total - offset);
            bankLeft -= room;
            int64_t got = 0;
            if (room > 0)
            {
                std::unique_ptr<juce::InputStream> stream(zip.createStreamForEntry(i));
                if (stream != nullptr) got = readFully(*stream, storage.data() + offset, room);
            }
            SoundDataRef& ref = refs[static_cast<size_t>(filled)];
            if (const auto* entry = zip.getEntry(i)) setRefName(ref, entry->filename);
            ref.size = static_cast<uint64_t>(got);
            offsets[static_cast<size_t>(filled)] = offset;
            offset += got;
            ++filled;
        }
    }

    // Shrinking a vector keeps its buffer; the pointers are taken only now, from the final buffer.
    storage.resize(static_cast<size_t>(offset));
    for (size_t r = 0; r < refs.size(); ++r)
        refs[r].data = refs[r].size > 0 ? storage.data() + offsets[r] : nullptr;
    return static_cast<int>(refs.size());
}
