#include "support/EngineTestHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/params/ParamTable.h"
#include "engine/voice/VoiceAllocation.h"

namespace qmtest
{

EngineRig::EngineRig(const std::vector<qmbank::BankEntry>& entries, float sampleRate) : blobs(entries)
{
    refs.resize(blobs.size());
    for (std::size_t i = 0; i < blobs.size(); ++i)
    {
        std::strncpy(refs[i].name, blobs[i].name.c_str(), sizeof(refs[i].name) - 1);
        refs[i].data = blobs[i].data.data();
        refs[i].size = blobs[i].data.size();
    }
    engine = std::make_unique<KeySpaceDSP>(SynthFIFO<NodeCanvasData>::Reader(&canvasQueue),
                                           SynthFIFO<NodeMix>::Reader(&mixQueue), refs.data(),
                                           static_cast<int>(refs.size()));
    engine->init(sampleRate);
}

EngineRig::~EngineRig() = default;

void EngineRig::pushExploreCanvas(const std::vector<int>& soundIds, const std::vector<float>& weights)
{
    NodeCanvasData canvas{};
    canvas.mode = kCanvasModeExplore;
    canvas.keyOffsetX = -0.4f;
    canvas.keyOctaveWidth = 0.2f;
    const int n = std::min<int>(static_cast<int>(soundIds.size()), kMaxSoundNodes);
    for (int i = 0; i < n; ++i)
    {
        canvas.nodes[static_cast<std::size_t>(i)].pos = {0.2f + 0.6f * static_cast<float>(i) / static_cast<float>(std::max(1, n - 1)),
                                                         0.3f + 0.1f * static_cast<float>(i % 3)};
        canvas.nodes[static_cast<std::size_t>(i)].soundId = soundIds[static_cast<std::size_t>(i)];
    }
    canvas.nodeCount = n;
    canvas.triangulate();
    NodeMix mix{};
    mix.count = std::min<int>({static_cast<int>(weights.size()), n, kMaxMixNodes});
    for (int i = 0; i < mix.count; ++i)
    {
        mix.node[static_cast<std::size_t>(i)] = i;
        mix.weight[static_cast<std::size_t>(i)] = weights[static_cast<std::size_t>(i)];
    }
    mix.point = {0.5f, 0.5f};
    mix.mode = kCanvasModeExplore;
    canvas.currentMix = mix;
    canvasQueue.push(canvas);
}

void EngineRig::setAllEffects(bool on)
{
    for (int i = 0; i < kNumFxUnits; ++i)
        engine->params[static_cast<std::size_t>(kFirstFxSwitch + i)].value = on ? 1.0f : 0.0f;
}

void EngineRig::render(int numSamples, int blockSize, std::vector<float>& left, std::vector<float>& right)
{
    std::vector<float> l(static_cast<std::size_t>(blockSize));
    std::vector<float> r(static_cast<std::size_t>(blockSize));
    for (int done = 0; done < numSamples;)
    {
        const int n = std::min(blockSize, numSamples - done);
        std::fill(l.begin(), l.end(), 0.0f);
        std::fill(r.begin(), r.end(), 0.0f);
        float* out[2] = {l.data(), r.data()};
        engine->process(out, n, 2);
        left.insert(left.end(), l.begin(), l.begin() + n);
        right.insert(right.end(), r.begin(), r.begin() + n);
        done += n;
    }
}

int noteOn(KeySpaceDSP& dsp, int note, int velocity, int channel)
{
    return startNote(dsp, note, velocity, channel);
}

void noteOff(KeySpaceDSP& dsp, int note, int channel) { releaseNote(dsp, note, channel); }

qmbank::BankEntry fundamentalOnlySound(uint16_t levelC, int zoneKey)
{
    qmbank::BlobSpec desc;
    qmbank::BlobZone zone;
    zone.key = static_cast<uint8_t>(zoneKey);
    zone.bands.resize(2);
    zone.bands[1].levelC = levelC;
    desc.zones.push_back(zone);
    return {"Test_Fundamental", qmbank::encodeBlob(desc)};
}

float peakOf(const std::vector<float>& x)
{
    float p = 0.0f;
    for (float s : x)
        p = std::max(p, std::fabs(s));
    return p;
}

bool allFinite(const std::vector<float>& x)
{
    return std::all_of(x.begin(), x.end(), [](float s) { return std::isfinite(s); });
}

} // namespace qmtest
