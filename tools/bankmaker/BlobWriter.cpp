#include "BankMaker.h"
#include "LittleEndian.h"

namespace qmbank
{
namespace
{
constexpr int kHeaderSize = 6;
constexpr int kZoneFixedBytes = 210;
constexpr int kResonanceBytes = 9;
constexpr int kBandHeaderBytes = 22;

size_t zoneBytes(const BlobZone& z)
{
    const size_t h = z.bands.size();
    return kZoneFixedBytes + kResonanceBytes * z.resonances.size() + (z.harmonicShareFlag ? h : 0) +
           h * (kBandHeaderBytes + z.frameCount);
}

void writeZone(std::vector<uint8_t>& out, const BlobZone& z)
{
    putU8(out, z.key);
    putU8(out, z.spare1);
    putU8(out, z.spare2);
    putU16(out, unsigned(z.bands.size()));
    putU8(out, z.format);
    putU8(out, z.frameCount);
    putU16(out, z.frameRate);
    putU8(out, z.harmonicShareFlag);
    putU8(out, unsigned(z.resonances.size()));
    putI16(out, z.tuneCents);
    putU8(out, z.warpWidth);
    putU8(out, z.jitterAmount);
    putU16(out, z.jitterRate);
    putU8(out, z.vibratoDepth);
    for (const OnsetBand& b : z.onsetBands)
    {
        putU16(out, b.level);
        putU16(out, b.duration);
        putU8(out, uint8_t(b.centre));
        putU8(out, uint8_t(b.delay));
    }
    for (const Resonance& r : z.resonances)
    {
        putU16(out, r.level);
        putU16(out, r.width);
        putU8(out, r.damping);
        putU8(out, r.split);
        putU8(out, r.shade);
        putU16(out, r.spread);
    }
    if (z.harmonicShareFlag != 0)
        for (size_t i = 0; i < z.bands.size(); ++i)
            putU8(out, i < z.shareBytes.size() ? z.shareBytes[i] : 0);
    for (const BandRecord& b : z.bands)
    {
        putI16(out, b.levelA);
        putU16(out, b.widthA);
        putI16(out, b.levelB);
        putU16(out, b.widthB);
        putU8(out, b.decayShape);
        putU16(out, b.levelC);
        putI16(out, b.detune);
        putU8(out, b.binOffset);
        putU8(out, b.noisiness);
        putU8(out, b.noiseWidth);
        putU8(out, b.oscDepth);
        putU8(out, b.oscRate);
        putU8(out, b.oscPhase);
        putU8(out, b.shimmer);
        putU8(out, b.markStride);
        putU8(out, b.markRate);
        for (int f = 0; f < z.frameCount; ++f)
            putU8(out, size_t(f) < b.envelope.size() ? uint8_t(b.envelope[size_t(f)]) : 0);
    }
}
} // namespace

std::vector<uint32_t> zoneOffsets(const BlobSpec& desc)
{
    std::vector<uint32_t> offsets;
    size_t o = 3 + size_t(desc.headerExtra);
    for (const BlobZone& z : desc.zones)
    {
        offsets.push_back(uint32_t(o));
        o += zoneBytes(z);
    }
    return offsets;
}

std::vector<uint8_t> encodeBlob(const BlobSpec& desc)
{
    std::vector<uint8_t> out;
    size_t total = 3 + size_t(desc.headerExtra);
    for (const BlobZone& z : desc.zones)
        total += zoneBytes(z);
    out.reserve(total);
    out.push_back('Q');
    out.push_back('j');
    out.push_back(0);
    putU8(out, desc.headerExtra);
    putU8(out, unsigned(desc.zones.size()));
    putU8(out, desc.gainByte);
    // Filler up to the first zone (unread by the engine); a headerExtra below 3 makes zone 0
    // overlap the header, which the format allows, so the bytes written so far are cut back.
    const size_t zoneStart = 3 + size_t(desc.headerExtra);
    for (size_t i = kHeaderSize; i < zoneStart; ++i)
        out.push_back(uint8_t(0xA5 ^ (i * 29)));
    out.resize(zoneStart);
    for (const BlobZone& z : desc.zones)
        writeZone(out, z);
    return out;
}

} // namespace qmbank
