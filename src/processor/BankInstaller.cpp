// Installing a sound bank the user dropped or chose: the file is checked entry by entry from one copy
// in memory, and exactly those checked bytes are copied into the sounds folder.

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/sound/InstrumentMap.h"
#include "platform/RegularFile.h"
#include "processor/AtomicFileWrite.h"
#include "processor/LibraryFolders.h"
#include "processor/NameText.h"
#include "processor/PluginProcessor.h"
#include "processor/SoundLibrary.h"
#include "processor/ZipDirectoryCheck.h"

namespace
{
// Larger files are refused before they are read.
constexpr int64_t kMaxBankFileBytes = 10000000;
// Entries that may fail the check in a bank that still installs (folders, read-me files, ...).
constexpr int kMaxInvalidBankEntries = 2;
// Largest piece read from an entry's stream at once.
constexpr int kBankReadChunk = 1 << 16;

constexpr const char* kWriteFailedMessage =
    "Error: failed to write to sounds directory! Try reinstalling Quillmoor.\n";

// Reads entry i whole, or up to the limit: an archive's directory may declare any size, so the
// buffer grows only with bytes that actually arrive.
std::vector<uint8_t> readEntry(juce::ZipFile& zip, int i)
{
    std::vector<uint8_t> bytes;
    const juce::ZipFile::ZipEntry* entry = zip.getEntry(i);
    if (entry == nullptr || entry->uncompressedSize <= 0 || entry->uncompressedSize > kMaxSoundEntryBytes)
        return bytes;
    std::unique_ptr<juce::InputStream> stream(zip.createStreamForEntry(i));
    if (stream == nullptr) return bytes;
    const auto declared = static_cast<size_t>(entry->uncompressedSize);
    bytes.reserve(std::min(declared, static_cast<size_t>(kMaxBankFileBytes)));
    while (bytes.size() < declared)
    {
        const size_t at = bytes.size();
        const int want = static_cast<int>(std::min(declared - at, static_cast<size_t>(kBankReadChunk)));
        bytes.resize(at + static_cast<size_t>(want));
        const int got = stream->read(bytes.data() + at, want);
        bytes.resize(at + static_cast<size_t>(std::max(got, 0)));
        if (got <= 0) break;
    }
    return bytes;
}

// Whether the engine's blob parser accepts bytes as a sound named like the archive entry.
bool isValidSound(const juce::String& entryName, const std::vector<uint8_t>& bytes)
{
    if (bytes.empty()) return false;
    SoundDataRef ref;
    std::memset(ref.name, 0, sizeof(ref.name));
    const char* utf8 = entryName.toRawUTF8();
    std::memcpy(ref.name, utf8, std::min(std::strlen(utf8), sizeof(ref.name) - 1));
    ref.data = bytes.data();
    ref.size = bytes.size();
    auto scratch = std::make_unique<InstrumentMap>();
    std::memset(scratch->name, 0, sizeof(scratch->name));
    std::memset(scratch->category, 0, sizeof(scratch->category));
    return makeInstrumentMap(ref, scratch.get(), 0);
}

// Whether the archive in data holds at least one sound and at most two entries that are not.
bool isValidBank(const std::vector<uint8_t>& data)
{
    juce::MemoryInputStream archive(data.data(), data.size(), false);
    if (!hasBoundedZipDirectory(archive)) return false;
    archive.setPosition(0);
    juce::ZipFile zip(archive);
    const int entries = zip.getNumEntries();
    int valid = 0;
    for (int i = 0; i < entries; ++i)
    {
        const juce::ZipFile::ZipEntry* entry = zip.getEntry(i);
        if (entry != nullptr && isValidSound(entry->filename, readEntry(zip, i))) ++valid;
    }
    return entries > 0 && valid >= 1 && entries - valid <= kMaxInvalidBankEntries;
}
} // namespace

juce::String PluginProcessor::addDataFromFilePath(juce::String path)
{
    // A dropped or chosen path is the file system's bytes, which need not be UTF-8, in a String the
    // framework built from them: only those bytes are used, never the String's text, so a name of any
    // bytes is read, checked and installed under its own name, and shown as nameToShow shows it.
    const std::string bytes = rawBytesOf(path);
    const std::string name = bytes.substr(bytes.rfind('/') + 1);
    const juce::String shown = nameToShow(name.data(), name.size());
    // A relative path has no meaning here (the host's working folder is anyone's guess).
    if (bytes.empty() || bytes.front() != '/') return "Error: couldn't open file " + shown + "\n";
    struct stat info = {};
    if (::stat(bytes.c_str(), &info) != 0) return "Error: couldn't open file " + shown + "\n";
    if (info.st_size > kMaxBankFileBytes) return "Error: uncompatible file " + shown + "\n";

    // Only a regular file is read (a FIFO would wait for a writer, a device never end); the read
    // stops one byte past the limit, as the file may have grown since its size was checked.
    std::vector<uint8_t> data;
    const FileReadStatus read = readRegularFile(bytes, static_cast<size_t>(kMaxBankFileBytes), data);
    if (read == FileReadStatus::tooLarge) return "Error: uncompatible file " + shown + "\n";
    if (read != FileReadStatus::ok) return "Error: couldn't load file";
    if (!endsWithBytes(bytes, kSoundBankExtension)) return "Unsupported file type.";
    if (!isValidBank(data)) return "Error: " + shown + " is not a valid soundbank, did not install.\n";

    // The target is named after the checked file, never after anything inside the archive.
    const juce::File sounds = getSoundsFolder();
    const std::string target = sounds.getFullPathName().toStdString() + "/" + name;
    const bool writable = ::access(target.c_str(), F_OK) == 0
                              ? ::access(target.c_str(), W_OK) == 0 || ::geteuid() == 0
                              : sounds.hasWriteAccess();
    if (!writable || !replaceFileAtomically(target, data.data(), data.size())) return kWriteFailedMessage;
    return "Installed sound bank " + shown + ". Restart Quillmoor to activate.\n";
}
