#include "support/EngineTestHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/Modulators.h"
#include "engine/ParamTable.h"

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

namespace
{

float unitOf(const KeySpaceDSP& dsp, int index)
{
    const Param& p = dsp.params[static_cast<std::size_t>(index)];
    return p.convertValToUnit(p.value);
}

float plainOf(const KeySpaceDSP& dsp, int index) { return dsp.params[static_cast<std::size_t>(index)].value; }

int chooseVoice(const KeySpaceDSP& dsp, int note)
{
    const int polyphony = std::clamp(static_cast<int>(plainOf(dsp, kParamPolyphony) + 0.1f), 1, kMaxVoices);
    for (int i = 0; i < polyphony; ++i)
        if (dsp.voices[static_cast<std::size_t>(i)].state == 0)
            return i;
    int best = 0; // a note always gets a voice, even when no cost is a number
    float bestCost = 1e20f;
    for (int i = 0; i < polyphony; ++i)
    {
        const KeyVoice& v = dsp.voices[static_cast<std::size_t>(i)];
        const float a = std::max(-v.timePos, 0.0f);
        const float d = std::fabs(static_cast<float>(note - v.note));
        const float cost = (1.0f / (10.0f * a * a + 1.0f)) *
                           ((1.0f - v.releaseProgress) * 5.0f + 1.0f / (std::max(v.timePos, 0.0f) + 1.0f) + d / (d + 12.0f));
        if (cost < bestCost)
        {
            bestCost = cost;
            best = i;
        }
    }
    return best;
}

void rewindEnvelope(const KeySpaceDSP& dsp, EnvState& env, int firstParam)
{
    float g = env.stage;
    if (g >= 3.0f)
    {
        env.stage = 0.0f;
        return;
    }
    const float attack = plainOf(dsp, firstParam + kEnvParamAttack) * 0.001f;
    const float decay = plainOf(dsp, firstParam + kEnvParamDecay);
    float t = std::min(g, 1.0f) * attack;
    if (g >= 1.0f)
        t += std::min(g - 1.0f, 1.0f) * decay;
    const float t2 = (1.0f - unitOf(dsp, firstParam + kEnvParamRetrigger)) * t;
    g = std::min(t2 / (attack + 1e-20f), 1.0f);
    if (g == 1.0f)
        g = 1.0f + std::min((t2 - attack) / (decay + 1e-20f), 1.0f);
    env.stage = g;
}

} // namespace

int noteOn(KeySpaceDSP& dsp, int note, int velocity, int channel)
{
    dsp.pollQueues();
    const int index = chooseVoice(dsp, note);
    dsp.voiceCount = std::max(dsp.voiceCount, index + 1);
    KeyVoice& v = dsp.voices[static_cast<std::size_t>(index)];
    const bool warpNegative = plainOf(dsp, kParamTimeWarp) < 0.0f;
    if (v.state == 0 || v.state == 2)
    {
        v.state = 0;
        v.velocity = 0.0f;
        for (VoiceBand& b : v.bands)
        {
            b.levelA = std::numeric_limits<float>::infinity();
            b.levelB = std::numeric_limits<float>::infinity();
            b.levelC = std::numeric_limits<float>::infinity();
            b.tonality = std::numeric_limits<float>::infinity();
        }
        v.timePos = 0.0f;
        v.voiceHarmonicCount = 0;
        v.onsetPending = 0;
        v.aftertouch = 0.0f;
        v.releaseProgress = 0.0f;
        v.dampProgress = 0.0f;
        v.attackProgress = 0.0f;
        v.bandCount = 0;
        v.activeBands = 0;
        v.voiceResonanceCount = 0;
        v.activeResonances = 0;
        v.needsSetup = 1;
        v.state = 1;
        v.timePos = warpNegative ? 1.0f : 0.0f;
        v.pitch = static_cast<float>(note);
        v.onsetPending = warpNegative ? 0 : 1;
        dsp.modulators->process(dsp.globalMod, 0.0, 0.0, &dsp.runningPosition, nullptr, true);
        dsp.modulators->process(v.mod, 0.0, 0.0, &dsp.runningPosition, &dsp.globalMod, true);
    }
    else
    {
        const float u = unitOf(dsp, kParamRetrigger);
        if (u > 0.001f)
            v.timePos = u * (warpNegative ? 1.0f : 0.0f) + (1.0f - u) * std::min(v.timePos, 1.0f);
        for (int e = 0; e < 2; ++e)
            rewindEnvelope(dsp, v.mod.env[static_cast<std::size_t>(e)], kFirstEnvParam + e * kParamsPerEnv);
    }
    v.note = note;
    v.velocity = static_cast<float>(velocity) / 127.0f;
    v.channel = channel;
    v.needsSetup = 1;
    if (v.onsetPending != 0)
    {
        dsp.applyModulationForVoice(&v, nullptr);
        const NodeMix mix = dsp.getMixDataForVoice(&v);
        dsp.setVoiceData(&v, mix);
    }
    return index;
}

void noteOff(KeySpaceDSP& dsp, int note, int channel)
{
    for (int i = 0; i < std::clamp(dsp.voiceCount, 0, kMaxVoices); ++i)
    {
        KeyVoice& v = dsp.voices[static_cast<std::size_t>(i)];
        if (v.state == 1 && v.note == note && v.channel == channel)
        {
            v.state = 2;
            for (EnvState& env : v.mod.env)
            {
                env.stage = 3.0f;
                env.held = env.value;
            }
        }
    }
}

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
