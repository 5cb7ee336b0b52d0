#include "processor/AtomicFileWrite.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "processor/NameText.h"

namespace
{
// Tries at temporary names before giving up (each name is random; a clash means another writer).
constexpr int kTempNameAttempts = 16;

bool writeAll(int fd, const unsigned char* p, size_t size)
{
    while (size > 0)
    {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0)
        {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
} // namespace

bool replaceFileAtomically(const juce::File& target, const void* data, size_t size)
{
    if (target == juce::File()) return false;
    return replaceFileAtomically(rawBytesOf(target.getFullPathName()), data, size);
}

bool replaceFileAtomically(const std::string& path, const void* data, size_t size)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || (data == nullptr && size > 0)) return false;
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    const std::string prefix = path.substr(0, slash + 1);
    const std::string name = path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return false;
    struct stat info = {};
    if (::stat(folder.c_str(), &info) != 0)
    {
        // Missing folders are made by the framework, which takes their path as text.
        const std::optional<juce::String> text = fileNameText(folder);
        if (!text || !juce::File(*text).createDirectory().wasOk() || ::stat(folder.c_str(), &info) != 0)
            return false;
    }
    if (!S_ISDIR(info.st_mode)) return false;

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < kTempNameAttempts && fd < 0; ++attempt)
    {
        // Of one short length, so that any name the file system takes for the target can be written;
        // hidden and without the target's extension, so no folder listing ever shows it.
        char tempName[32];
        std::snprintf(tempName, sizeof tempName, ".qm-%016" PRIx64 ".tmp",
                      static_cast<uint64_t>(juce::Random::getSystemRandom().nextInt64()));
        temp = prefix + tempName;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    bool ok = writeAll(fd, static_cast<const unsigned char*>(data), size);
    ok = (::fsync(fd) == 0) && ok;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}
