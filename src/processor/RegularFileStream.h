#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <juce_core/juce_core.h>

// A juce::InputStream over a regular file opened by openRegularFile (src/platform/RegularFile.h), so
// that the framework's readers (juce::ZipFile) read exactly the file that was checked and never open
// the path themselves, which would block on a FIFO put in its place.
class RegularFileStream final : public juce::InputStream
{
  public:
    // The stream for the regular file at path (the file system's bytes), or null when it is not one
    // or cannot be opened.
    static std::unique_ptr<RegularFileStream> open(const std::string& path);

    ~RegularFileStream() override;

    juce::int64 getTotalLength() override { return size; }
    bool isExhausted() override { return position >= size; }
    int read(void* destBuffer, int maxBytesToRead) override;
    juce::int64 getPosition() override { return position; }
    bool setPosition(juce::int64 newPosition) override;

  private:
    RegularFileStream(int descriptor, int64_t fileSize) : fd(descriptor), size(fileSize) {}

    int fd;
    int64_t size;
    int64_t position = 0;
};
