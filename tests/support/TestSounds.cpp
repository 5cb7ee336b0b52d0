#include "TestSounds.h"

#include <algorithm>
#include <cstring>

namespace qmtest
{

void TestSoundList::add(const std::string& name, std::vector<uint8_t> blob)
{
    names.push_back(name);
    blobs.push_back(std::move(blob));
}

std::vector<SoundDataRef>& TestSoundList::refs()
{
    refList.assign(blobs.size(), SoundDataRef{});
    for (size_t i = 0; i < blobs.size(); ++i)
    {
        SoundDataRef& r = refList[i];
        const size_t n = std::min(names[i].size(), sizeof(r.name) - 1);
        std::memcpy(r.name, names[i].data(), n);
        r.name[n] = '\0';
        r.data = blobs[i].data();
        r.size = blobs[i].size();
    }
    return refList;
}

TestEngine::TestEngine(TestSoundList* sounds)
{
    SoundDataRef* refs = nullptr;
    int count = 0;
    if (sounds != nullptr)
    {
        auto& list = sounds->refs();
        refs = list.data();
        count = static_cast<int>(list.size());
    }
    engine = std::make_unique<KeySpaceDSP>(canvasQueue.makeReader(), mixQueue.makeReader(), refs, count);
}

KeySpaceDSP& SoundsAndEngine::build()
{
    rig = std::make_unique<TestEngine>(&sounds);
    return rig->dsp();
}

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

} // namespace qmtest
