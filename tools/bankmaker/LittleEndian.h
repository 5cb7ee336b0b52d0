#pragma once

#include <cstdint>
#include <vector>

namespace qmbank
{

// Little-endian fields, as both the sound blobs and the archive store them.

inline void putU8(std::vector<uint8_t>& out, unsigned v)
{
    out.push_back(uint8_t(v & 0xff));
}

inline void putU16(std::vector<uint8_t>& out, unsigned v)
{
    out.push_back(uint8_t(v & 0xff));
    out.push_back(uint8_t((v >> 8) & 0xff));
}

inline void putI16(std::vector<uint8_t>& out, int v)
{
    putU16(out, unsigned(uint16_t(int16_t(v))));
}

inline void putU32(std::vector<uint8_t>& out, uint32_t v)
{
    putU16(out, v & 0xffff);
    putU16(out, v >> 16);
}

inline uint16_t getU16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t getU32(const uint8_t* p)
{
    return uint32_t(getU16(p)) | (uint32_t(getU16(p + 2)) << 16);
}

} // namespace qmbank
