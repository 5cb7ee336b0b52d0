#pragma once

#include <memory>
#include <vector>

#include "bankmaker/BankMaker.h"
#include "engine/sound/InstrumentMap.h"
#include "engine/KeySpaceDSP.h"
#include "engine/canvas/NodeMixer.h"
#include "engine/SynthFIFO.h"

namespace qmtest
{

// An engine set up the way the processor sets one up: its own canvas and mix queues, a sound list
// made from bank entries (kept alive here, since the engine's maps point into them) and init().
class EngineRig
{
public:
    explicit EngineRig(const std::vector<qmbank::BankEntry>& entries, float sampleRate = 44100.0f);
    ~EngineRig();

    EngineRig(const EngineRig&) = delete;
    EngineRig& operator=(const EngineRig&) = delete;

    KeySpaceDSP& dsp() noexcept { return *engine; }

    // Pushes an Explore-mode canvas whose nodes are the given sounds and whose current mix plays
    // them with the given weights (one weight per sound, at most three).
    void pushExploreCanvas(const std::vector<int>& soundIds, const std::vector<float>& weights);

    // Switches all seven effects on or off.
    void setAllEffects(bool on);

    // Renders numSamples in calls of at most blockSize samples, appending to left and right.
    void render(int numSamples, int blockSize, std::vector<float>& left, std::vector<float>& right);

    SynthFIFO<NodeCanvasData> canvasQueue{8};
    SynthFIFO<NodeMix> mixQueue{32};

private:
    std::vector<qmbank::BankEntry> blobs;
    std::vector<SoundDataRef> refs;
    std::unique_ptr<KeySpaceDSP> engine;
};

// A note on and a note off as block processing applies them (startNote and releaseNote, with the
// channel defaulting to 1). noteOn returns the chosen voice index.
int noteOn(KeySpaceDSP& dsp, int note, int velocity, int channel = 1);
void noteOff(KeySpaceDSP& dsp, int note, int channel = 1);

// A bank entry holding one synthetic sound: a single zone whose only sounding band record is the
// fundamental (record 1) with the given stored steady level; no onset, resonances or noise.
qmbank::BankEntry fundamentalOnlySound(uint16_t levelC = 300, int zoneKey = 69);

// Largest absolute sample, and whether every sample is finite.
float peakOf(const std::vector<float>& x);
bool allFinite(const std::vector<float>& x);

} // namespace qmtest
