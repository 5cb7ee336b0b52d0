#include "engine/KeySpaceDSP.h"

#include <algorithm>
#include <cmath>

#include "engine/fx/FxChain.h"
#include "engine/Random.h"
#include "engine/VectorWidth.h"

namespace
{
constexpr double kTwoPi = 6.283185307179586;

// Band of harmonics above the single-harmonic bands: a band that starts at h ends where the next
// starts, at (int)(1.09 h + 0.5).
constexpr double kBandGrowth = 1.09;

// ERB-number to hertz; the engine's ERB bands are one ERB wide, offset so that band 0 starts near
// 35 Hz.
double erbNumberToHz(double e)
{
    return 228.83083 * (std::exp(0.10794 * e) - 1.0);
}
constexpr double kErbBandLow = 1.4924891;
constexpr double kErbBandHigh = 2.4924891;

// randTableReal comes from a private generator, so it is the same in every engine and every run.
constexpr uint32_t kRandRealSeed = 1234567u;

bool isUsableRate(float rate)
{
    return std::isfinite(rate) && rate > 0.0f;
}
} // namespace

KeySpaceDSP::KeySpaceDSP(SynthFIFO<NodeCanvasData>::Reader newCanvasReader,
                         SynthFIFO<NodeMix>::Reader newMixReader, SoundDataRef* soundRefs, int count)
    : canvasReader(newCanvasReader), mixReader(newMixReader)
{
    // The voices are constructed (and draw their random modulator values) before the engine's own
    // state, so the draws come in a fixed order for a given seed.
    canvas = NodeCanvasData{};
    canvas.keyOffsetX = -0.4f;
    canvas.keyOctaveWidth = 0.2f;

    initModState(globalMod);
    channels = {};

    fillBandTables();
    // Until its first set-up a voice renders nothing, but it must name its slot's set all along.
    for (size_t i = 0; i < voices.size(); ++i)
        voices[i].harmonicBandSet = harmonicBandPool.setOfSlot(static_cast<int>(i));

    sampleRate = kDefaultSampleRate;
    tempoBpm = 120.0;
    lastHostPosition = -100.0;
    hostPlaying = 0;

    addSynth = std::make_unique<AddSynth>();

    scratchA.assign(kScratchSize, 0.0f);
    scratchB.assign(kScratchSize, 0.0f);
    voiceCount = 0;

    fillLookupTables();

    buildSoundList(soundRefs, count);

    try
    {
        createFxUnits(fx);
        buildParamTable(params, hostParamIndex, hostParamCount, modTargets, modTargetScales, fx);
        modulators = std::make_unique<Modulators>(&params[kFirstLfoParam]);
        // Units must never process unset: give them the default rate now. binsPerHz stays 0 and
        // isInitialised() false until init() runs.
        setupFxUnits(fx, sampleRate, kSynthChannels);
    }
    catch (...)
    {
        destroyFxUnits(fx);
        throw;
    }
}

KeySpaceDSP::~KeySpaceDSP()
{
    addSynth.reset();
    sounds.clear();
    modulators.reset();
    destroyFxUnits(fx);
}

void KeySpaceDSP::fillBandTables() noexcept
{
    int band = 0;
    for (; band < kSingleHarmonicBands; ++band)
        bandStart[band] = band;
    int start = kSingleHarmonicBands;
    while (start < kMaxHarmonics && band < kBandTableSize)
    {
        bandStart[band++] = start;
        start = static_cast<int>(kBandGrowth * start + 0.5);
    }
    for (; band < kBandTableSize; ++band)
        bandStart[band] = kMaxHarmonics;

    for (int b = 0; b < kBandTableSize - 1; ++b)
    {
        const int s = bandStart[b];
        const int e = std::min(bandStart[b + 1], kMaxHarmonics);
        const int width = e - s;
        for (int h = s; h < e; ++h)
        {
            const float x = static_cast<float>(h - s) / static_cast<float>(width);
            harmBand[h] = b;
            harmBandPos[h] = b;
            harmBandWeight[h] = 1.0f - (3.0f - 2.0f * x) * x * x;
        }
    }

    for (int b = 0; b < kMaxBands; ++b)
        bandInvWidth[b] = 1.0f / static_cast<float>(std::max(1, bandStart[b + 1] - bandStart[b]));
    bandInvWidth[kMaxBands - 1] = 1.0f;
}

void KeySpaceDSP::fillLookupTables() noexcept
{
    for (int k = 0; k < kRotTableSize; ++k)
    {
        const double a = kTwoPi * k / kRotTableSize;
        rotTable[k] = CF{static_cast<float>(std::sin(a)), static_cast<float>(-std::cos(a))};
    }
    for (int k = 0; k < kRandTableSize; ++k)
    {
        const float re = (static_cast<float>(engineRand()) * kEngineRandScale - 0.5f) * 2.4494898f;
        const float im = (static_cast<float>(engineRand()) * kEngineRandScale - 0.5f) * 2.4494898f;
        randTable[k] = CF{re, im};
    }
    uint32_t u = kRandRealSeed;
    for (int k = 0; k < kRandTableSize; ++k)
    {
        u = u * 1664525u + 1013904223u;
        randTableReal[k] = (static_cast<float>(u) * 2.3283064e-10f - 0.5f) * 3.4641016f;
    }
    for (int i = 0; i < kNumErbBands; ++i)
        erbBandWidthHz[i] =
            static_cast<float>(erbNumberToHz(i + kErbBandHigh) - erbNumberToHz(i + kErbBandLow));
}

void KeySpaceDSP::buildSoundList(SoundDataRef* soundRefs, int count)
{
    sounds.clear();
    if (soundRefs == nullptr || count <= 0) return;
    sounds.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
    {
        InstrumentMap map{};
        if (!makeInstrumentMap(soundRefs[i], &map, static_cast<int>(sounds.size()))) continue;
        sounds.push_back(map);
        analyseSound(sounds.back());
    }
    assignSoundColours();
}

// analyseSound and assignSoundColours live in SoundAnalysis.cpp.

void KeySpaceDSP::init(float newSampleRate)
{
    sampleRate = isUsableRate(newSampleRate) ? newSampleRate : kDefaultSampleRate;
    addSynth->reset(sampleRate);
    binsPerHz = kBinsPerHzNumerator / sampleRate;
    setupFxUnits(fx, sampleRate, kSynthChannels);
    useWideVectors(wideVectorsWanted());
    initialised = true;
}

void KeySpaceDSP::useWideVectors(bool allowed) noexcept
{
    wideVectors = allowed && wideVectorsSupported();
    for (FxUnit* unit : fx)
        if (unit != nullptr) unit->useWideVectors(allowed);
}

ChannelState& KeySpaceDSP::channelState(int channel) noexcept
{
    if (channel < 1 || channel >= kNumChannelRecords) return channels[0];
    return channels[static_cast<size_t>(channel)];
}

namespace
{
// Keeps the entries of a mix that name sound nodes of a canvas with nodeCount nodes, with usable
// weights; the count ends in 0..3.
NodeMix sanitisedMix(const NodeMix& incoming, int nodeCount) noexcept
{
    NodeMix mix = incoming;
    const int count = std::clamp(incoming.count, 0, kMaxMixNodes);
    int kept = 0;
    for (int i = 0; i < count; ++i)
    {
        const int node = incoming.node[static_cast<size_t>(i)];
        const float w = incoming.weight[static_cast<size_t>(i)];
        if (node < 0 || node >= nodeCount || !(w >= 0.0f) || !(w <= 1.0f)) continue;
        mix.node[static_cast<size_t>(kept)] = node;
        mix.weight[static_cast<size_t>(kept)] = w;
        ++kept;
    }
    for (int i = kept; i < kMaxMixNodes; ++i)
    {
        mix.node[static_cast<size_t>(i)] = 0;
        mix.weight[static_cast<size_t>(i)] = 0.0f;
    }
    mix.count = kept;
    if (!std::isfinite(mix.point.x) || !std::isfinite(mix.point.y)) mix.point = Point2D{0.5f, 0.5f};
    return mix;
}
} // namespace

void KeySpaceDSP::receiveCanvas(const NodeCanvasData& incoming) noexcept
{
    canvas = incoming;
    canvas.nodeCount = std::clamp(canvas.nodeCount, 0, kMaxSoundNodes);
    if (canvas.mode < kCanvasModeExplore || canvas.mode > kCanvasModeKeyboard)
        canvas.mode = kCanvasModeExplore;

    // Triangles may only name the sound nodes and the frame points behind them; drop any other.
    const int points = canvas.nodeCount + kNumFramePoints;
    const int triCount = std::clamp(canvas.triCount, 0, kMaxTriangles);
    int kept = 0;
    for (int t = 0; t < triCount; ++t)
    {
        const auto& tri = canvas.tri[static_cast<size_t>(t)];
        if (tri[0] >= points || tri[1] >= points || tri[2] >= points) continue;
        canvas.tri[static_cast<size_t>(kept)] = tri;
        canvas.triShade[static_cast<size_t>(kept)] = canvas.triShade[static_cast<size_t>(t)];
        ++kept;
    }
    canvas.triCount = kept;

    // Sound indices that this engine does not have play nothing.
    const int soundCount = numSounds();
    for (int i = 0; i < canvas.nodeCount; ++i)
    {
        int32_t& id = canvas.nodes[static_cast<size_t>(i)].soundId;
        if (id < 0 || id >= soundCount) id = -1;
    }
    if (!std::isfinite(canvas.keyOffsetX)) canvas.keyOffsetX = -0.4f;
    if (!std::isfinite(canvas.keyOctaveWidth)) canvas.keyOctaveWidth = 0.2f;
    canvas.currentMix = sanitisedMix(canvas.currentMix, canvas.nodeCount);
}

bool KeySpaceDSP::receiveMix(const NodeMix& incoming) noexcept
{
    if (incoming.mode != canvas.mode) return false;
    canvas.currentMix = sanitisedMix(incoming, canvas.nodeCount);
    return true;
}
