#include "BankMaker.h"
#include "LittleEndian.h"

#include <cstdio>

namespace qmbank
{
namespace
{
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr int kLocalHeaderSize = 30;
constexpr int kCentralHeaderSize = 46;
constexpr int kEndRecordSize = 22;
constexpr uint16_t kVersionStored = 10; // 1.0: stored entries need nothing newer
// A fixed time stamp keeps the archive's bytes the same on every run: 2024-01-01 00:00:00.
constexpr uint16_t kDosTime = 0;
constexpr uint16_t kDosDate = uint16_t(((2024 - 1980) << 9) | (1 << 5) | 1);

struct CrcTable
{
    uint32_t v[256];
    CrcTable()
    {
        for (uint32_t i = 0; i < 256; ++i)
        {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            v[i] = c;
        }
    }
};
} // namespace

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc)
{
    static const CrcTable table;
    crc = ~crc;
    for (size_t i = 0; i < size; ++i)
        crc = table.v[(crc ^ data[i]) & 0xff] ^ (crc >> 8);
    return ~crc;
}

std::vector<uint8_t> makeBankZip(const std::vector<BankEntry>& entries)
{
    std::vector<uint8_t> out;
    std::vector<uint8_t> central;
    for (const BankEntry& e : entries)
    {
        const uint32_t crc = crc32(e.data.data(), e.data.size());
        const uint32_t localOffset = uint32_t(out.size());
        const uint32_t size = uint32_t(e.data.size());
        const unsigned nameLength = unsigned(e.name.size());

        putU32(out, kLocalSignature);
        putU16(out, kVersionStored);
        putU16(out, 0); // flags
        putU16(out, 0); // method: stored
        putU16(out, kDosTime);
        putU16(out, kDosDate);
        putU32(out, crc);
        putU32(out, size);
        putU32(out, size);
        putU16(out, nameLength);
        putU16(out, 0); // extra field length
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), e.data.begin(), e.data.end());

        putU32(central, kCentralSignature);
        putU16(central, kVersionStored); // made by: MS-DOS, 1.0
        putU16(central, kVersionStored);
        putU16(central, 0);
        putU16(central, 0);
        putU16(central, kDosTime);
        putU16(central, kDosDate);
        putU32(central, crc);
        putU32(central, size);
        putU32(central, size);
        putU16(central, nameLength);
        putU16(central, 0); // extra
        putU16(central, 0); // comment
        putU16(central, 0); // disk number
        putU16(central, 0); // internal attributes
        putU32(central, 0); // external attributes
        putU32(central, localOffset);
        central.insert(central.end(), e.name.begin(), e.name.end());
    }
    const uint32_t centralOffset = uint32_t(out.size());
    out.insert(out.end(), central.begin(), central.end());
    putU32(out, kEndSignature);
    putU16(out, 0);
    putU16(out, 0);
    putU16(out, unsigned(entries.size()));
    putU16(out, unsigned(entries.size()));
    putU32(out, uint32_t(central.size()));
    putU32(out, centralOffset);
    putU16(out, 0); // comment length
    return out;
}

bool readBankZip(const std::vector<uint8_t>& zip, std::vector<BankEntry>* entries)
{
    entries->clear();
    if (zip.size() < size_t(kEndRecordSize)) return false;
    // The end record sits at the very end when the archive has no comment; search back for it
    // otherwise (the comment is at most 65535 bytes).
    size_t end = zip.size() - kEndRecordSize;
    const size_t lowest =
        zip.size() > size_t(kEndRecordSize) + 65535 ? zip.size() - kEndRecordSize - 65535 : 0;
    while (getU32(&zip[end]) != kEndSignature)
    {
        if (end == lowest) return false;
        --end;
    }
    const uint8_t* e = &zip[end];
    const unsigned count = getU16(e + 10);
    const uint64_t centralSize = getU32(e + 12);
    uint64_t p = getU32(e + 16);
    if (p + centralSize > end) return false;
    for (unsigned i = 0; i < count; ++i)
    {
        if (p + kCentralHeaderSize > end || getU32(&zip[p]) != kCentralSignature) return false;
        const uint8_t* c = &zip[p];
        const unsigned method = getU16(c + 10);
        const uint32_t crc = getU32(c + 16);
        const uint32_t packed = getU32(c + 20);
        const uint32_t unpacked = getU32(c + 24);
        const unsigned nameLength = getU16(c + 28);
        const unsigned extraLength = getU16(c + 30);
        const unsigned commentLength = getU16(c + 32);
        const uint64_t local = getU32(c + 42);
        if (p + kCentralHeaderSize + nameLength > end || method != 0 || packed != unpacked) return false;
        BankEntry entry;
        entry.name.assign(reinterpret_cast<const char*>(c + kCentralHeaderSize), nameLength);
        if (local + kLocalHeaderSize > zip.size() || getU32(&zip[local]) != kLocalSignature) return false;
        const uint64_t dataStart =
            local + kLocalHeaderSize + getU16(&zip[local + 26]) + getU16(&zip[local + 28]);
        if (dataStart + packed > zip.size()) return false;
        entry.data.assign(zip.begin() + long(dataStart), zip.begin() + long(dataStart + packed));
        if (crc32(entry.data.data(), entry.data.size()) != crc) return false;
        entries->push_back(std::move(entry));
        p += kCentralHeaderSize + nameLength + extraLength + commentLength;
    }
    return true;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool readFile(const std::string& path, std::vector<uint8_t>* bytes)
{
    bytes->clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    uint8_t buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes->insert(bytes->end(), buffer, buffer + n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

bool writeBankZip(const std::string& path, const std::vector<BankEntry>& entries)
{
    return writeFile(path, makeBankZip(entries));
}

} // namespace qmbank
