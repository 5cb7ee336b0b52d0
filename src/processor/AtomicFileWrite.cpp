#include "processor/AtomicFileWrite.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    if (target == juce::File() || (data == nullptr && size > 0)) return false;
    const juce::File folder = target.getParentDirectory();
    if (!folder.createDirectory().wasOk() || !folder.isDirectory()) return false;

    juce::File temp;
    int fd = -1;
    for (int attempt = 0; attempt < kTempNameAttempts && fd < 0; ++attempt)
    {
        // Hidden and without the target's extension, so no folder listing ever shows it.
        temp = folder.getChildFile("." + target.getFileName() + "." +
                                   juce::String::toHexString(juce::Random::getSystemRandom().nextInt64()) +
                                   ".tmp");
        fd = ::open(temp.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    bool ok = writeAll(fd, static_cast<const unsigned char*>(data), size);
    ok = (::fsync(fd) == 0) && ok;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temp.getFullPathName().toRawUTF8(), target.getFullPathName().toRawUTF8()) == 0;
    if (!ok) ::unlink(temp.getFullPathName().toRawUTF8());
    return ok;
}
