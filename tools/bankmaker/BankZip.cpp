#include "BankMaker.h"

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

void put16(std::vector<uint8_t>& out, unsigned v)
{
    out.push_back(uint8_t(v & 0xff));
    out.push_back(uint8_t((v >> 8) & 0xff));
}
void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}
uint16_t get16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t get32(const uint8_t* p)
{
    return uint32_t(get16(p)) | (uint32_t(get16(p + 2)) << 16);
}

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

        put32(out, kLocalSignature);
        put16(out, kVersionStored);
        put16(out, 0); // flags
        put16(out, 0); // method: stored
        put16(out, kDosTime);
        put16(out, kDosDate);
        put32(out, crc);
        put32(out, size);
        put32(out, size);
        put16(out, nameLength);
        put16(out, 0); // extra field length
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), e.data.begin(), e.data.end());

        put32(central, kCentralSignature);
        put16(central, kVersionStored); // made by: MS-DOS, 1.0
        put16(central, kVersionStored);
        put16(central, 0);
        put16(central, 0);
        put16(central, kDosTime);
        put16(central, kDosDate);
        put32(central, crc);
        put32(central, size);
        put32(central, size);
        put16(central, nameLength);
        put16(central, 0); // extra
        put16(central, 0); // comment
        put16(central, 0); // disk number
        put16(central, 0); // internal attributes
        put32(central, 0); // external attributes
        put32(central, localOffset);
        central.insert(central.end(), e.name.begin(), e.name.end());
    }
    const uint32_t centralOffset = uint32_t(out.size());
    out.insert(out.end(), central.begin(), central.end());
    put32(out, kEndSignature);
    put16(out, 0);
    put16(out, 0);
    put16(out, unsigned(entries.size()));
    put16(out, unsigned(entries.size()));
    put32(out, uint32_t(central.size()));
    put32(out, centralOffset);
    put16(out, 0); // comment length
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
    while (get32(&zip[end]) != kEndSignature)
    {
        if (end == lowest) return false;
        --end;
    }
    const uint8_t* e = &zip[end];
    const unsigned count = get16(e + 10);
    const uint64_t centralSize = get32(e + 12);
    uint64_t p = get32(e + 16);
    if (p + centralSize > end) return false;
    for (unsigned i = 0; i < count; ++i)
    {
        if (p + kCentralHeaderSize > end || get32(&zip[p]) != kCentralSignature) return false;
        const uint8_t* c = &zip[p];
        const unsigned method = get16(c + 10);
        const uint32_t crc = get32(c + 16);
        const uint32_t packed = get32(c + 20);
        const uint32_t unpacked = get32(c + 24);
        const unsigned nameLength = get16(c + 28);
        const unsigned extraLength = get16(c + 30);
        const unsigned commentLength = get16(c + 32);
        const uint64_t local = get32(c + 42);
        if (p + kCentralHeaderSize + nameLength > end || method != 0 || packed != unpacked) return false;
        BankEntry entry;
        entry.name.assign(reinterpret_cast<const char*>(c + kCentralHeaderSize), nameLength);
        if (local + kLocalHeaderSize > zip.size() || get32(&zip[local]) != kLocalSignature) return false;
        const uint64_t dataStart =
            local + kLocalHeaderSize + get16(&zip[local + 26]) + get16(&zip[local + 28]);
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
