#include "processor/RegularFileStream.h"

#include <algorithm>
#include <cerrno>

#include <unistd.h>

#include "platform/RegularFile.h"

std::unique_ptr<RegularFileStream> RegularFileStream::open(const std::string& path)
{
    FileReadStatus status = FileReadStatus::ok;
    struct stat info = {};
    const int fd = openRegularFile(path, status, &info);
    if (fd < 0) return nullptr;
    return std::unique_ptr<RegularFileStream>(new RegularFileStream(fd, std::max<int64_t>(info.st_size, 0)));
}

RegularFileStream::~RegularFileStream()
{
    ::close(fd);
}

int RegularFileStream::read(void* destBuffer, int maxBytesToRead)
{
    if (maxBytesToRead <= 0) return 0;
    ssize_t n;
    do
        n = ::pread(fd, destBuffer, static_cast<size_t>(maxBytesToRead), static_cast<off_t>(position));
    while (n < 0 && errno == EINTR);
    if (n <= 0) return 0;
    position += n;
    return static_cast<int>(n);
}

bool RegularFileStream::setPosition(juce::int64 newPosition)
{
    position = std::clamp<juce::int64>(newPosition, 0, size);
    return true;
}
