#include <gtest/gtest.h>

#include <array>
#include <stdexcept>
#include <tuple>
#include <typeindex>
#include <vector>

#include "engine/fx/Compressor.h"
#include "engine/fx/Distortion.h"
#include "engine/fx/Equalizer.h"
#include "engine/fx/FxBinaural.h"
#include "engine/fx/FxChain.h"
#include "engine/fx/LofiFx.h"
#include "engine/fx/Phlaser.h"
#include "engine/fx/ReverbFDN.h"
#include "engine/params/Param.h"
#include "engine/params/ParamTable.h"

namespace
{

// What a stand-in unit saw in one process call.
struct Call
{
    int slot;
    float** channels;
    int numSamples, numChannels;
    bool silentOnEntry, bypass;
};

// A stand-in with the real unit's record count that logs its calls, writes its slot number into its
// records and, in the Equalizer's slot, clears the silence flag.
struct SpyUnit : FxUnit
{
    int slot;
    std::vector<Call>* log;
    SpyUnit(int s, std::vector<Call>& l) : slot(s), log(&l) {}
    void process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                 bool bypass) noexcept override
    {
        EXPECT_EQ(in, out);
        log->push_back({slot, in, numSamples, numChannels, silent, bypass});
        if (slot == kFxSlotEqualizer) silent = false;
    }
    int getNumParams() const override { return kFxParamCounts[static_cast<std::size_t>(slot)]; }
    void setParamPtr(Param* first) override
    {
        for (int i = 0; i < getNumParams(); ++i)
            first[i].set("spy", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.2f", static_cast<float>(slot));
    }
};

FxUnitList makeSpies(std::vector<Call>& log)
{
    FxUnitList units{};
    for (int slot = 0; slot < kNumFxUnits; ++slot)
        units[static_cast<std::size_t>(slot)] = new SpyUnit(slot, log);
    return units;
}

} // namespace

TEST(FxChain, UnitsRecordSlicesAndSwitchesFollowSlotOrder)
{
    using Slot = std::tuple<const char*, std::type_index, int, bool>; // name, unit, first record, on at start
    const Slot slots[kNumFxUnits] = {
        {"Binaural", typeid(FxBinaural), 34, true},   {"Lo-Fi", typeid(LofiFx), 38, false},
        {"Equalizer", typeid(Equalizer), 42, false},  {"Reverb", typeid(ReverbFDN), 48, true},
        {"Phlaser", typeid(Phlaser), 57, false},      {"Compressor", typeid(Compressor), 65, true},
        {"Distortion", typeid(Distortion), 71, false}};
    FxChain chain;
    chain.recreate(); // the units it replaces are freed (the leak sanitizer checks)
    std::vector<Call> log;
    FxUnitList spies = makeSpies(log);
    std::vector<Param> params(kFirstFxParam + kNumFxParams);
    bindFxParams(spies, params);
    for (int slot = 0; slot < kNumFxUnits; ++slot)
    {
        const auto& [name, kind, firstRecord, onAtStart] = slots[slot];
        EXPECT_STREQ(getFxSlotName(slot), name);
        EXPECT_EQ(std::type_index(typeid(chain.getUnit(slot))), kind) << name;
        EXPECT_EQ(params[static_cast<std::size_t>(firstRecord)].value, static_cast<float>(slot)) << name;
        const Param& onOff = params[static_cast<std::size_t>(kFirstFxSwitch + slot)];
        EXPECT_STREQ(onOff.name, "FxIsOn");
        EXPECT_EQ(onOff.defaultValue, 0.0f);
        EXPECT_EQ(isFxSwitchedOn(onOff), onAtStart) << name;
    }
    EXPECT_STREQ(getFxSlotName(kNumFxUnits), "Unknown FX!");
    EXPECT_STREQ(getFxSlotName(-1), "Unknown FX!");
    EXPECT_EQ(chain.getTotalNumParams(), kNumFxParams);

    // A table one record short, or an empty slot, is refused before anything is bound.
    params.assign(kFirstFxParam + kNumFxParams - 1, Param());
    EXPECT_THROW(bindFxParams(spies, params), std::length_error);
    EXPECT_STREQ(params[kFirstFxParam].name, "");
    params.resize(kFirstFxParam + kNumFxParams);
    FxUnit* kept = spies[4];
    spies[4] = nullptr;
    EXPECT_THROW(bindFxParams(spies, params), std::logic_error);
    spies[4] = kept;
    destroyFxUnits(spies);
}

TEST(FxChain, RunsInPlaceInSlotOrderWithTheSwitchesAndOneSilenceFlag)
{
    // Switch values against the bypass they give: half or more is on.
    const float onOff[kNumFxUnits] = {1.0f, 0.5f, 0.49999997f, 0.0f, 2.0f, -1.0f, 0.75f};
    const bool bypass[kNumFxUnits] = {false, false, true, true, false, true, false};
    std::vector<Call> log;
    FxUnitList units = makeSpies(log);
    std::vector<Param> params(kFirstFxParam + kNumFxParams);
    bindFxParams(units, params);
    for (int slot = 0; slot < kNumFxUnits; ++slot)
        params[static_cast<std::size_t>(kFirstFxSwitch + slot)].value = onOff[slot];
    std::array<float, 8> left{}, right{}, third{};
    std::array<float*, 3> channels{left.data(), right.data(), third.data()};

    bool silent = true;
    processFxChain(units, channels.data(), 8, 3, silent, params.data());
    ASSERT_EQ(log.size(), static_cast<std::size_t>(kNumFxUnits));
    for (int slot = 0; slot < kNumFxUnits; ++slot)
    {
        const Call& c = log[static_cast<std::size_t>(slot)];
        EXPECT_EQ(c.slot, slot);
        EXPECT_EQ(c.channels, channels.data());
        EXPECT_EQ(c.numSamples, 8);
        EXPECT_EQ(c.numChannels, 2); // never more than two
        EXPECT_EQ(c.bypass, bypass[slot]) << slot;
        EXPECT_EQ(c.silentOnEntry, slot <= kFxSlotEqualizer) << slot; // cleared from there on
    }
    EXPECT_FALSE(silent);

    // Mono passes one channel; empty calls reach no unit.
    log.clear();
    processFxChain(units, channels.data(), 4, 1, silent, params.data());
    ASSERT_EQ(log.size(), static_cast<std::size_t>(kNumFxUnits));
    EXPECT_EQ(log[0].numChannels, 1);
    log.clear();
    processFxChain(units, channels.data(), 0, 2, silent, params.data());
    processFxChain(units, channels.data(), 4, 0, silent, params.data());
    processFxChain(units, nullptr, 4, 2, silent, params.data());
    processFxChain(units, channels.data(), 4, 2, silent, nullptr);
    EXPECT_TRUE(log.empty());
    destroyFxUnits(units);
}
