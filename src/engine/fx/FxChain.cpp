#include "engine/fx/FxChain.h"

#include <algorithm>
#include <stdexcept>

#include "engine/VectorWidth.h"
#include "engine/fx/Compressor.h"
#include "engine/fx/Distortion.h"
#include "engine/fx/Equalizer.h"
#include "engine/fx/FxBinaural.h"
#include "engine/fx/LofiFx.h"
#include "engine/params/Param.h"
#include "engine/fx/Phlaser.h"
#include "engine/fx/ReverbFDN.h"

namespace
{

constexpr std::array<const char*, kNumFxUnits> kFxSlotNames = {
    "Binaural", "Lo-Fi", "Equalizer", "Reverb", "Phlaser", "Compressor", "Distortion"};

// Slots that a new engine starts with switched on.
constexpr std::array<int, 3> kFxSlotsOnAtStart = {kFxSlotBinaural, kFxSlotReverb, kFxSlotCompressor};

constexpr int kMaxChainChannels = 2;

std::size_t at(int i) noexcept
{
    return static_cast<std::size_t>(i);
}

} // namespace

void FxUnit::useWideVectors(bool allowed) noexcept
{
    wideVectors = allowed && wideVectorsSupported();
}

const char* getFxSlotName(int slot) noexcept
{
    if (slot < 0 || slot >= kNumFxUnits) return "Unknown FX!";
    return kFxSlotNames[at(slot)];
}

void destroyFxUnits(FxUnitList& units) noexcept
{
    for (int slot = kNumFxUnits - 1; slot >= 0; --slot)
    {
        delete units[at(slot)];
        units[at(slot)] = nullptr;
    }
}

void createFxUnits(FxUnitList& units)
{
    destroyFxUnits(units);
    // Units are created one at a time so that a failing allocation leaves no leaked unit behind.
    try
    {
        units[kFxSlotBinaural] = new FxBinaural();
        units[kFxSlotLofi] = new LofiFx();
        units[kFxSlotEqualizer] = new Equalizer();
        units[kFxSlotReverb] = new ReverbFDN();
        units[kFxSlotPhlaser] = new Phlaser();
        units[kFxSlotCompressor] = new Compressor();
        units[kFxSlotDistortion] = new Distortion();
    }
    catch (...)
    {
        destroyFxUnits(units);
        throw;
    }
}

int getFxTotalNumParams(const FxUnitList& units) noexcept
{
    int total = 0;
    for (const FxUnit* unit : units)
        if (unit != nullptr) total += unit->getNumParams();
    return total;
}

void bindFxParams(const FxUnitList& units, std::vector<Param>& params)
{
    for (const FxUnit* unit : units)
        if (unit == nullptr) throw std::logic_error("bindFxParams: the effect chain has an empty slot");
    if (params.size() < at(kFirstFxParam + getFxTotalNumParams(units)))
        throw std::length_error("bindFxParams: parameter table too small for the effect chain");

    int index = kFirstFxParam;
    for (int slot = 0; slot < kNumFxUnits; ++slot)
    {
        FxUnit& unit = *units[at(slot)];
        unit.setParamPtr(&params[at(index)]);
        index += unit.getNumParams();

        params[at(kFirstFxSwitch + slot)].set("FxIsOn", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.0f", 0.0f);
    }

    // Only the values: resetting a switch to its default turns it off.
    for (int slot : kFxSlotsOnAtStart)
        params[at(kFirstFxSwitch + slot)].value = 1.0f;
}

void setupFxUnits(const FxUnitList& units, float sampleRate, int numChannels)
{
    for (FxUnit* unit : units)
        if (unit != nullptr) unit->setup(sampleRate, numChannels);
}

bool isFxSwitchedOn(const Param& onOffSwitch) noexcept
{
    return !(onOffSwitch.convertValToUnit(onOffSwitch.value) < 0.5f);
}

void processFxChain(const FxUnitList& units, float** channels, int numSamples, int numChannels, bool& silent,
                    const Param* params) noexcept
{
    if (channels == nullptr || params == nullptr || numSamples < 1 || numChannels < 1) return;
    const int chainChannels = std::min(numChannels, kMaxChainChannels);

    for (int slot = 0; slot < kNumFxUnits; ++slot)
    {
        FxUnit* unit = units[at(slot)];
        if (unit == nullptr) continue;
        const bool bypass = !isFxSwitchedOn(params[kFirstFxSwitch + slot]);
        unit->process(channels, channels, numSamples, chainChannels, silent, bypass);
    }
}
