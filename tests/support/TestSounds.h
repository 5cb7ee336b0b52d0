#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bankmaker/BankMaker.h"

namespace qmtest
{

// A one-zone blob of bandCount band records of plain levels: level C = levelC for every band, no
// decay, no noise, no envelope frames, and the onset bands silent.
inline qmbank::BlobSpec makePlainSpec(int key, int bandCount, uint16_t levelC, uint8_t gainByte = 0)
{
    qmbank::BlobSpec desc;
    desc.gainByte = gainByte;
    desc.zones.resize(1);
    desc.zones[0].key = static_cast<uint8_t>(key);
    desc.zones[0].bands.resize(static_cast<size_t>(bandCount));
    for (auto& band : desc.zones[0].bands)
        band.levelC = levelC;
    return desc;
}

// A bank entry holding one synthetic sound: a single zone whose only sounding band record is the
// fundamental (record 1) with the given stored steady level; no onset, resonances or noise.
inline qmbank::BankEntry fundamentalOnlySound(uint16_t levelC = 300, int zoneKey = 69)
{
    qmbank::BlobSpec desc = makePlainSpec(zoneKey, 2, 0);
    desc.zones[0].bands[1].levelC = levelC;
    return {"Test_Fundamental", qmbank::encodeBlob(desc)};
}

// A small valid sound under each name.
inline std::vector<qmbank::BankEntry> bankOf(const std::vector<std::string>& names)
{
    std::vector<qmbank::BankEntry> entries;
    for (const auto& n : names)
        entries.push_back({n, qmbank::encodeBlob(makePlainSpec(60, 4, 1000))});
    return entries;
}

} // namespace qmtest
