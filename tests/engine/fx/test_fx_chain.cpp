#include <gtest/gtest.h>

#include <array>
#include <stdexcept>
#include <vector>

#include "engine/fx/FxChain.h"
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

// A stand-in with the real unit's record count that logs its calls, names its first record and, in
// the Equalizer's slot, clears the silence flag.
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
    void setParamPtr(Param* first) override { first->setName("spy"); }
};

FxUnitList makeSpies(std::vector<Call>& log)
{
    FxUnitList units{};
    for (int slot = 0; slot < kNumFxUnits; ++slot)
        units[static_cast<std::size_t>(slot)] = new SpyUnit(slot, log);
    return units;
}

} // namespace

// Which unit sits in which slot, its slice of the table and the switches' start values are pinned
// by the parameter table's golden layout; here the slot names and the binding's refusals.
TEST(FxChain, SlotNamesAndBindingRefusals)
{
    const char* const names[] = {"Binaural", "Lo-Fi",      "Equalizer",  "Reverb",
                                 "Phlaser",  "Compressor", "Distortion", "Unknown FX!"};
    for (int slot = -1; slot <= kNumFxUnits; ++slot)
        EXPECT_STREQ(getFxSlotName(slot), names[slot < 0 ? kNumFxUnits : slot]) << slot;
    FxChain chain;
    chain.recreate(); // the units it replaces are freed (the leak sanitizer checks)
    EXPECT_EQ(chain.getTotalNumParams(), kNumFxParams);
    std::vector<Call> log;
    FxUnitList spies = makeSpies(log);
    // A table one record short, or an empty slot, is refused before anything is bound.
    std::vector<Param> params(kFirstFxParam + kNumFxParams - 1);
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
        // In place, never more than two channels; the flag cleared from the Equalizer on.
        const Call& c = log[static_cast<std::size_t>(slot)];
        EXPECT_TRUE(c.slot == slot && c.channels == channels.data() && c.numSamples == 8 &&
                    c.numChannels == 2 && c.bypass == bypass[slot] &&
                    c.silentOnEntry == (slot <= kFxSlotEqualizer))
            << slot;
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
