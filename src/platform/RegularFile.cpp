#include "platform/RegularFile.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace
{
constexpr size_t kReadChunk = size_t{1} << 16;
}

int openRegularFile(const std::string& path, FileReadStatus& status, struct stat* info)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
    {
        status = errno == ENOENT || errno == ENOTDIR || errno == EACCES || errno == ELOOP
                     ? FileReadStatus::missing
                     : FileReadStatus::failed;
        return -1;
    }
    if (!S_ISREG(st.st_mode))
    {
        status = FileReadStatus::notRegular;
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
    {
        status = FileReadStatus::failed;
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        status = S_ISREG(st.st_mode) ? FileReadStatus::failed : FileReadStatus::notRegular;
        ::close(fd);
        return -1;
    }
    if (info != nullptr) *info = st;
    status = FileReadStatus::ok;
    return fd;
}

FileReadStatus readRegularFile(const std::string& path, size_t cap, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    FileReadStatus status = FileReadStatus::ok;
    struct stat st = {};
    const int fd = openRegularFile(path, status, &st);
    if (fd < 0) return status;

    // The reported size only sizes the first allocation; the loop trusts what read returns.
    const size_t limit = cap + 1;
    bytes.reserve(std::min(static_cast<size_t>(std::max<off_t>(st.st_size, 0)) + 1, limit));
    size_t got = 0;
    while (got < limit)
    {
        const size_t want = std::min(kReadChunk, limit - got);
        // Grown by hand so that the buffer never passes the cap's byte.
        if (got + want > bytes.capacity())
            bytes.reserve(std::min(limit, std::max(bytes.capacity() * 2, got + want)));
        bytes.resize(got + want);
        const ssize_t n = ::read(fd, bytes.data() + got, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
        {
            status = FileReadStatus::failed;
            break;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (status == FileReadStatus::ok && got > cap) status = FileReadStatus::tooLarge;
    bytes.resize(status == FileReadStatus::ok ? got : 0);
    if (status != FileReadStatus::ok) bytes.shrink_to_fit();
    return status;
}
