#include "TestSounds.h"

namespace qmtest
{

qmbank::BlobZone makePlainZone(int key, int bandCount, uint16_t levelC)
{
    qmbank::BlobZone zone;
    zone.key = static_cast<uint8_t>(key);
    zone.bands.resize(static_cast<size_t>(bandCount));
    for (auto& band : zone.bands)
        band.levelC = levelC;
    return zone;
}

qmbank::BlobSpec makePlainSpec(int key, int bandCount, uint16_t levelC, uint8_t gainByte)
{
    qmbank::BlobSpec desc;
    desc.gainByte = gainByte;
    desc.zones.push_back(makePlainZone(key, bandCount, levelC));
    return desc;
}

qmbank::BankEntry fundamentalOnlySound(uint16_t levelC, int zoneKey)
{
    qmbank::BlobSpec desc = makePlainSpec(zoneKey, 2, 0);
    desc.zones[0].bands[1].levelC = levelC;
    return {"Test_Fundamental", qmbank::encodeBlob(desc)};
}

} // namespace qmtest
