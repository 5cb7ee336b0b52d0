#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bankmaker/BankMaker.h"
#include "engine/sound/InstrumentMap.h"
#include "engine/KeySpaceDSP.h"
#include "engine/SynthFIFO.h"

namespace qmtest
{

// Sound blobs for engine tests, kept alive for as long as an engine's maps point into them.
class TestSoundList
{
  public:
    void add(const std::string& name, std::vector<uint8_t> blob);
    void add(const std::string& name, const qmbank::BlobSpec& desc) { add(name, qmbank::encodeBlob(desc)); }
    void add(const qmbank::BankEntry& entry) { add(entry.name, entry.data); }

    // References to every blob added, in order.
    std::vector<SoundDataRef>& refs();

  private:
    std::vector<std::vector<uint8_t>> blobs;
    std::vector<std::string> names;
    std::vector<SoundDataRef> refList;
};

// An engine with its two queues, built from a sound list (which must outlive it).
struct TestEngine
{
    explicit TestEngine(TestSoundList* sounds = nullptr);

    SynthFIFO<NodeCanvasData> canvasQueue{8};
    SynthFIFO<NodeMix> mixQueue{32};
    std::unique_ptr<KeySpaceDSP> engine;

    KeySpaceDSP& dsp() noexcept { return *engine; }
};

// A sound list and an engine built over it on request: fill sounds, then build(). The list is
// declared first so that it outlives the engine.
struct SoundsAndEngine
{
    // A fresh engine over the sounds added so far, replacing any earlier one.
    KeySpaceDSP& build();

    TestSoundList sounds;
    std::unique_ptr<TestEngine> rig;
};

// A zone with bandCount band records of plain levels: level C = levelC for every band, no decay,
// no noise, no envelope frames, and the onset bands silent.
qmbank::BlobZone makePlainZone(int key, int bandCount, uint16_t levelC);

// A one-zone blob desc around makePlainZone.
qmbank::BlobSpec makePlainSpec(int key, int bandCount, uint16_t levelC, uint8_t gainByte = 0);

} // namespace qmtest
