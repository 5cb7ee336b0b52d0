#include "engine/StateBlock.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace
{

// Bounded little-endian writers: a write that would not fit below cap only advances pos, so the same
// code measures (null buf) and writes.
void putU8(unsigned char* buf, int& pos, int cap, uint8_t v) noexcept
{
    if (buf != nullptr && pos >= 0 && pos < cap) buf[pos] = v;
    ++pos;
}

void putU16(unsigned char* buf, int& pos, int cap, uint16_t v) noexcept
{
    putU8(buf, pos, cap, static_cast<uint8_t>(v & 0xFF));
    putU8(buf, pos, cap, static_cast<uint8_t>(v >> 8));
}

void putF32(unsigned char* buf, int& pos, int cap, float v) noexcept
{
    uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    for (int b = 0; b < 4; ++b)
        putU8(buf, pos, cap, static_cast<uint8_t>((bits >> (8 * b)) & 0xFF));
}

// Bounded readers: pos is an offset into a block of size bytes; anything not wholly inside reads as
// absent. Offsets are 64-bit so that arithmetic on hostile counts cannot wrap.
bool inside(int64_t pos, int64_t width, int size) noexcept
{
    return pos >= 0 && pos + width <= static_cast<int64_t>(size);
}

float getF32(const unsigned char* buf, int size, int64_t pos) noexcept
{
    if (!inside(pos, 4, size)) return 0.0f;
    const auto p = static_cast<size_t>(pos);
    const uint32_t bits = static_cast<uint32_t>(buf[p]) | (static_cast<uint32_t>(buf[p + 1]) << 8) |
                          (static_cast<uint32_t>(buf[p + 2]) << 16) |
                          (static_cast<uint32_t>(buf[p + 3]) << 24);
    float v = 0.0f;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Writes the header strings (count byte, product name, version text).
void putHeader(unsigned char* buf, int& pos, int cap) noexcept
{
    putU8(buf, pos, cap, static_cast<uint8_t>(kStateWrittenHeaderStrings));
    writeStringSafe(buf, pos, cap, kStateProductName);
    writeStringSafe(buf, pos, cap, kStateVersionText);
}

// A stored value for parameter p is held in the range the parameter's curve spans (either end of the
// unit range may give the larger value), so an infinity takes the nearer end. A NaN has no nearer end
// and falls back to the default.
float acceptStoredValue(const Param& p, float stored) noexcept
{
    if (std::isnan(stored)) return p.defaultValue;
    const float a = p.convertUnitToVal(0.0f);
    const float b = p.convertUnitToVal(1.0f);
    if (!std::isfinite(a) || !std::isfinite(b)) return std::isfinite(stored) ? stored : p.defaultValue;
    return std::clamp(stored, std::min(a, b), std::max(a, b));
}

} // namespace

int writeStateBlock(unsigned char* buf, int cap, const Param* params, int numParams,
                    const NodeCanvasData& canvas, const InstrumentMap* maps, int mapCount) noexcept
{
    const int count = (params == nullptr) ? 0 : std::clamp(numParams, 0, kStateMaxParams);

    int headerLen = 0;
    putHeader(nullptr, headerLen, 0);
    const int nodePartLen = canvas.writeState<InstrumentMap>(nullptr, 0, maps, maps ? mapCount : 0);
    const int total = headerLen + 2 + 4 * count + 2 + nodePartLen;
    if (buf == nullptr || cap < total) return total;

    int pos = 0;
    putHeader(buf, pos, total);
    putU16(buf, pos, total, static_cast<uint16_t>(count));
    for (int i = 0; i < count; ++i)
        putF32(buf, pos, total, params[i].value);
    putU8(buf, pos, total, kStateSpacerByte);
    putU8(buf, pos, total, static_cast<uint8_t>(canvas.mode & 0xFF));
    pos += canvas.writeState<InstrumentMap>(buf + pos, total - pos, maps, maps ? mapCount : 0);
    return pos;
}

StateReadOutcome readStateBlock(const unsigned char* buf, int size, Param* params, int numParams,
                                NodeCanvasData& canvas, const InstrumentMap* maps, int mapCount)
{
    StateReadOutcome outcome;
    if (buf == nullptr || size < 1) return outcome;
    if (params == nullptr) numParams = 0;
    if (maps == nullptr) mapCount = 0;

    // Header: the count byte and that many strings, each read into its own emptied slot.
    const int headerCount = buf[0];
    if (headerCount > kStateMaxHeaderStrings || headerCount < kStateWrittenHeaderStrings) return outcome;
    std::array<std::array<char, kStateStringSlotSize>, kStateMaxHeaderStrings> header{};
    int pos = 1;
    for (int s = 0; s < headerCount; ++s)
    {
        header[static_cast<size_t>(s)].fill(0);
        readStringSafe(buf, pos, size, header[static_cast<size_t>(s)].data(), kStateStringSlotSize);
    }
    if (std::strcmp(header[0].data(), kStateProductName) != 0) return outcome;

    outcome.savedVersion = header[1].data();
    const int32_t saved = versionStringToInt(header[1].data());
    const int32_t current = versionStringToInt(kStateVersionText);
    if (saved > current)
    {
        outcome.result = StateReadResult::newerVersion;
        return outcome;
    }
    outcome.result = StateReadResult::applied;

    // Parameter values. h may lie past the end for a block cut inside its header.
    const int64_t h = pos;
    const int storedCount = inside(h, 2, size) ? (buf[h] | (buf[h + 1] << 8)) : 0;
    int k = 0;
    int next = 0; // the parameter after the last one visited
    for (; next < numParams && k < storedCount; ++next)
    {
        Param& p = params[next];
        if (p.sinceVersion > saved)
        {
            p.value = p.defaultValue;
            continue;
        }
        p.value = acceptStoredValue(p, getF32(buf, size, h + 2 + 4 * int64_t{k}));
        ++k;
    }
    // Parameters added after the block's version that follow the stored ones start at their
    // defaults; the first one the block's version already had ends this, and it and all later
    // parameters keep their values.
    for (; next < numParams && params[next].sinceVersion > saved; ++next)
        params[next].value = params[next].defaultValue;

    // Canvas mode: only the modes the canvas has bounds for; anything else keeps the current mode.
    const int64_t valuesEnd = h + 2 + 4 * int64_t{storedCount};
    if (inside(valuesEnd + 1, 1, size))
    {
        const int mode = buf[valuesEnd + 1];
        if (mode < kNumCanvasModes) canvas.mode = mode;
    }

    // Nodes and point, read against the end of the block.
    const int64_t nodePart = valuesEnd + 2;
    const int nodePos = nodePart >= size ? size : static_cast<int>(nodePart);
    canvas.readState<InstrumentMap>(buf, size, nodePos, maps, mapCount);
    return outcome;
}

std::string newerStateVersionMessage(const std::string& savedVersion)
{
    return std::string("This state was saved with a newer version of ") + kStateProductName + ": " +
           savedVersion + ", you have " + kStateVersionText + ". Please upgrade.\n";
}
