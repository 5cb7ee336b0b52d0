#include "processor/ZipDirectoryCheck.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace
{
constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr uint32_t kDirectoryHeaderSignature = 0x02014b50;
constexpr int kEndRecordBytes = 22;
// How far back from the end the framework looks for the end record.
constexpr int64_t kEndRecordSearch = 1048576;

uint32_t le32(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Up to n bytes at position at, and how many arrived; what could not be read stays 0, as in a
// failed readInt.
int readAt(juce::InputStream& in, int64_t at, uint8_t* dst, int n)
{
    std::memset(dst, 0, static_cast<size_t>(n));
    if (at < 0 || !in.setPosition(at)) return 0;
    int got = 0;
    while (got < n)
    {
        const int r = in.read(dst + got, n - got);
        if (r <= 0) break;
        got += r;
    }
    return got;
}

// The file's tail, [start, length), read once, so that the search below can step through it the way
// the framework steps through its buffered stream.
struct Tail
{
    int64_t start = 0;
    std::vector<uint8_t> bytes;

    // Bytes at [at, at + n) clamped to the file, as a read from a stream at that position returns them.
    int copy(int64_t at, uint8_t* dst, int n) const
    {
        const int64_t end = start + static_cast<int64_t>(bytes.size());
        at = std::clamp(at, start, end);
        const int avail = static_cast<int>(std::min<int64_t>(n, end - at));
        std::memcpy(dst, bytes.data() + (at - start), static_cast<size_t>(avail));
        return avail;
    }
};
} // namespace

bool hasBoundedZipDirectory(juce::InputStream& archive)
{
    const int64_t length = archive.getTotalLength();
    if (length < kEndRecordBytes) return false;

    // The framework's search visits at most kEndRecordBytes - 1 bytes below its lower bound.
    Tail tail;
    tail.start = std::max<int64_t>(0, length - kEndRecordSearch - kEndRecordBytes);
    const int tailBytes = static_cast<int>(length - tail.start);
    tail.bytes.resize(static_cast<size_t>(tailBytes));
    if (readAt(archive, tail.start, tail.bytes.data(), tailBytes) != tailBytes) return false;

    // Backwards in steps of kEndRecordBytes, each step also seeing the first bytes of the one above
    // it, so that the record found is the one the framework's reader finds.
    std::array<uint8_t, 32> window{};
    int64_t pos = length;
    const int64_t lowest = std::max<int64_t>(0, length - kEndRecordSearch);
    while (pos > lowest)
    {
        pos = std::max<int64_t>(0, pos - kEndRecordBytes);
        std::memmove(window.data() + kEndRecordBytes, window.data(), 4);
        if (tail.copy(pos, window.data(), kEndRecordBytes) != kEndRecordBytes) return false;
        for (int i = 0; i < kEndRecordBytes; ++i)
        {
            if (le32(window.data() + i) != kEndRecordSignature) continue;
            const int64_t recordAt = pos + i;
            std::array<uint8_t, kEndRecordBytes> record{};
            // A record cut off by the end of the file would be read with stale bytes: damaged.
            if (tail.copy(recordAt, record.data(), kEndRecordBytes) != kEndRecordBytes) return false;
            const int64_t declaredSize = le32(record.data() + 12);
            const int64_t declaredOffset = le32(record.data() + 16);
            int64_t offset = declaredOffset;
            // The framework accepts an offset that points just past the first directory header.
            if (offset >= 4)
            {
                uint8_t sig[4];
                readAt(archive, offset, sig, 4);
                if (le32(sig) != kDirectoryHeaderSignature)
                {
                    readAt(archive, offset - 4, sig, 4);
                    if (le32(sig) == kDirectoryHeaderSignature) offset -= 4;
                }
            }
            const bool endsAtRecord =
                offset + declaredSize == recordAt || declaredOffset + declaredSize == recordAt;
            return offset <= recordAt && recordAt - offset <= kMaxZipDirectoryBytes && endsAtRecord;
        }
    }
    return false;
}
