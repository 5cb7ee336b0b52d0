#include "processor/PluginProcessor.h"

#include <ctime>

#include "engine/fx/FxChain.h"
#include "engine/params/ParamTable.h"
#include "engine/Random.h"
#include "processor/LibraryFolders.h"
#include "processor/SoundLibrary.h"

std::atomic<int32_t> gNumInstances{0};
std::atomic<double> gOnSeconds{0.0};

namespace
{
// The box the first canvas keeps its sounds in.
constexpr Point2D kCanvasLayoutLo{0.12f, 0.27f};
constexpr Point2D kCanvasLayoutHi{0.83f, 0.72f};
// Bounds of the point in the XY Pad and Keyboard modes; the Explore mode uses the fallback range.
constexpr Point2D kXYPadLo{0.3f, 0.33f};
constexpr Point2D kXYPadHi{0.7f, 0.67f};
constexpr Point2D kKeyboardLo{0.0f, 0.375f};
constexpr Point2D kKeyboardHi{1.0f, 0.625f};
constexpr float kInitialKeyOffsetX = -0.4f;
constexpr float kInitialKeyOctaveWidth = 0.2f;

// The first canvas: a random neighbourhood of sounds (the rule's count argument is unused).
constexpr int kRandomCanvasCount = 8;
} // namespace

NodeCanvasData makeInitialCanvas() noexcept
{
    NodeCanvasData canvas{};
    canvas.keyOffsetX = kInitialKeyOffsetX;
    canvas.keyOctaveWidth = kInitialKeyOctaveWidth;
    return canvas;
}

PluginProcessor::PluginProcessor()
    : juce::AudioProcessor(BusesProperties()
                               .withInput("Input", juce::AudioChannelSet::stereo(), false)
                               .withOutput("Output", juce::AudioChannelSet::stereo(), false)),
      eventQueue(kEventQueueSlots, SynthEvent{}), canvasQueue(kCanvasQueueSlots, makeInitialCanvas()),
      mixQueue(kMixQueueSlots, NodeMix{}), nodeCanvas(makeInitialCanvas())
{
    instanceIndex = gNumInstances.fetch_add(1);

    // The engine's own generator: glibc's rand() is shared with the host and locks.
    engineSrand(static_cast<uint32_t>(std::clock()));

    std::vector<SoundDataRef> refs = loadSoundBanks();
    dsp = std::make_unique<KeySpaceDSP>(canvasQueue.makeReader(), mixQueue.makeReader(), refs.data(),
                                        static_cast<int>(refs.size()));

    nodeCanvas.mode = kCanvasModeXYPad;
    nodeCanvas.lo[kCanvasModeXYPad] = kXYPadLo;
    nodeCanvas.hi[kCanvasModeXYPad] = kXYPadHi;
    nodeCanvas.lo[kCanvasModeKeyboard] = kKeyboardLo;
    nodeCanvas.hi[kCanvasModeKeyboard] = kKeyboardHi;

    for (int h = 0; h < dsp->hostParamCount; ++h)
    {
        Param* p = &dsp->params[static_cast<size_t>(dsp->hostParamIndex[static_cast<size_t>(h)])];
        addParameter(new PluginParam(this, p, p->hostIndex));
    }
    reportHostValues();

    // A preset picked from the presets folder, or a fresh canvas when there is none.
    if (!loadStartupPreset()) buildFirstCanvas();

    // The LV2 wrapper starts listening only after the processor exists, so the reports above reached
    // no one, and an LV2 host learns values only from the description's defaults and from reports
    // (it never asks). prepareToPlay, which the wrapper calls once it listens, then reports what the
    // start-up preset changed.
    if (wrapperType == wrapperType_LV2)
        for (auto* parameter : getParameters())
            if (auto* p = dynamic_cast<PluginParam*>(parameter)) p->assumeHostHoldsDefault();
}

PluginProcessor::~PluginProcessor()
{
    cancelPendingUpdate();
    gNumInstances.fetch_sub(1);
    dsp.reset();
}

std::vector<SoundDataRef> PluginProcessor::loadSoundBanks()
{
    std::vector<SoundDataRef> refs;
    ::loadSoundBanks(getSoundsFolder(), soundStorage, refs);
    return refs;
}

void PluginProcessor::buildFirstCanvas()
{
    dsp->makeNodeCanvas(&nodeCanvas, KeySpaceDSP::RandomSet, kRandomCanvasCount, kCanvasLayoutLo,
                        kCanvasLayoutHi);
    const Point2D point{dsp->params[kParamMorphX].value, dsp->params[kParamMorphY].value};
    nodeCanvas.getNodeMixForPoint(point, true, nullptr, true);
    // No editor exists yet: no change broadcast.
    canvasQueue.push(nodeCanvas);
}

void PluginProcessor::sendNodeCanvasToDSP()
{
    {
        const juce::ScopedLock lock(stateLock);
        presetName = {};
        canvasQueue.push(nodeCanvas);
    }
    sendChangeMessage();
}

void PluginProcessor::notifyStateChanged()
{
    triggerAsyncUpdate();
}

void PluginProcessor::handleAsyncUpdate()
{
    // The LV2 wrapper answers with state:StateChanged on its next run, the VST3 wrapper with a
    // dirty flag for the host's project.
    updateHostDisplay(ChangeDetails().withNonParameterStateChanged(true));
}

juce::String PluginProcessor::getFxName(int slot)
{
    return getFxSlotName(slot);
}

void PluginProcessor::pushEvent(const SynthEvent& event) noexcept
{
    (void)eventQueue.tryPush(event);
}

void PluginProcessor::reportHostValues()
{
    for (auto* parameter : getParameters())
        if (auto* p = dynamic_cast<PluginParam*>(parameter)) p->reportValueIfChanged();
}

PluginParam* PluginProcessor::getHostParam(int hostIndex) const
{
    const auto& list = getParameters();
    if (hostIndex < 0 || hostIndex >= list.size()) return nullptr;
    return dynamic_cast<PluginParam*>(list[hostIndex]);
}

// getStateInformation and setStateInformation live in HostState.cpp.

// ---- Factory ----

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new PluginProcessor();
}
