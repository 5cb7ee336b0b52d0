#pragma once

#include <array>
#include <vector>

#include "engine/fx/FxUnit.h"
#include "engine/params/ParamTable.h"

struct Param;

// Name of a chain slot for the effects page ("Binaural" ... "Distortion"); "Unknown FX!" for any
// number outside the chain.
const char* getFxSlotName(int slot) noexcept;

// The seven units of the chain in slot order: Binaural, Lo-Fi, Equalizer, Reverb, Phlaser,
// Compressor, Distortion. No routing, reordering or adding: the order and each unit's slice of
// the parameter table are part of the state block and of the host's parameter numbers.
// The functions below work on a plain list of owned pointers; FxChain wraps one with ownership.
using FxUnitList = std::array<FxUnit*, kNumFxUnits>;

// Deletes whatever units the list holds (last slot first), then creates the seven in slot order.
void createFxUnits(FxUnitList& units);
// Deletes the units from the last slot to the first and nulls the list.
void destroyFxUnits(FxUnitList& units) noexcept;

// Sum of the units' parameter counts.
int getFxTotalNumParams(const FxUnitList& units) noexcept;

// Lets every unit write its slice (from kFirstFxParam on, each right after the previous), writes
// each slot's on/off switch (kFirstFxSwitch + slot, "FxIsOn", default off) and then switches
// Binaural, Reverb and Compressor on through their values only. params must already hold
// kFirstFxParam + getFxTotalNumParams() records; a smaller table throws std::length_error.
void bindFxParams(const FxUnitList& units, std::vector<Param>& params);

// Passes the rate and channel count to every unit, in slot order. May allocate.
void setupFxUnits(const FxUnitList& units, float sampleRate, int numChannels);

// A unit is on while the unit position of its switch is 0.5 or more; below 0.5 it is bypassed.
bool isFxSwitchedOn(const Param& onOffSwitch) noexcept;

// Runs the chain in place over channels[0 .. numChannels-1] (at most 2 are passed on). silent is
// the chain's one flag: true when only silence entered the chain; units whose state still
// sounds clear it, none sets it. params is the table given to bindFxParams.
void processFxChain(const FxUnitList& units, float** channels, int numSamples, int numChannels, bool& silent,
                    const Param* params) noexcept;

// Owning wrapper: creates the seven units on construction and deletes them last to first.
class FxChain
{
  public:
    FxChain() { createFxUnits(units); }
    ~FxChain() { destroyFxUnits(units); }

    FxChain(const FxChain&) = delete;
    FxChain& operator=(const FxChain&) = delete;

    void recreate() { createFxUnits(units); }
    int getTotalNumParams() const noexcept { return getFxTotalNumParams(units); }
    void bindParams(std::vector<Param>& params) { bindFxParams(units, params); }
    void setup(float sampleRate, int numChannels) { setupFxUnits(units, sampleRate, numChannels); }
    void process(float** channels, int numSamples, int numChannels, bool& silent,
                 const Param* params) noexcept
    {
        processFxChain(units, channels, numSamples, numChannels, silent, params);
    }

    const FxUnitList& getUnits() const noexcept { return units; }
    FxUnit& getUnit(int slot) noexcept { return *units[static_cast<std::size_t>(slot)]; }

  private:
    FxUnitList units{};
};
