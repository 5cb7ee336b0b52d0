#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/fx/Compressor.h"
#include "engine/fx/Distortion.h"
#include "engine/fx/Equalizer.h"
#include "engine/fx/FxBinaural.h"
#include "engine/fx/FxChain.h"
#include "engine/fx/LofiFx.h"
#include "engine/params/Param.h"
#include "engine/params/ParamTable.h"
#include "engine/fx/Phlaser.h"
#include "engine/fx/ReverbFDN.h"

namespace
{

// What a stand-in unit saw in one process call.
struct Call
{
    int slot;
    float** in;
    float** out;
    int numSamples;
    int numChannels;
    bool silentOnEntry;
    bool bypass;
};

struct Log
{
    std::vector<Call> calls;
    std::vector<int> destroyed;
    std::vector<Param*> bound;
};

class SpyUnit : public FxUnit
{
  public:
    SpyUnit(int slot, int count, Log& log, bool clearsSilent = false)
        : slot(slot), count(count), log(log), clearsSilent(clearsSilent)
    {
    }
    ~SpyUnit() override { log.destroyed.push_back(slot); }

    void process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                 bool bypass) noexcept override
    {
        log.calls.push_back({slot, in, out, numSamples, numChannels, silent, bypass});
        if (clearsSilent) silent = false;
    }
    int getNumParams() const override { return count; }
    void setParamPtr(Param* first) override
    {
        params = first;
        log.bound.push_back(first);
        for (int i = 0; i < count; ++i)
            first[i].set("spy", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.2f", 0.0f);
    }

  private:
    int slot;
    int count;
    Log& log;
    bool clearsSilent;
};

// Seven stand-ins with the chain's real counts; released through destroyFxUnits.
FxUnitList makeSpies(Log& log, int clearingSlot = -1)
{
    FxUnitList units{};
    for (int slot = 0; slot < kNumFxUnits; ++slot)
        units[static_cast<std::size_t>(slot)] =
            new SpyUnit(slot, kFxParamCounts[static_cast<std::size_t>(slot)], log, slot == clearingSlot);
    return units;
}

TEST(FxChainNames, SlotNames)
{
    const char* const names[7] = {"Binaural", "Lo-Fi",      "Equalizer", "Reverb",
                                  "Phlaser",  "Compressor", "Distortion"};
    for (int slot = 0; slot < 7; ++slot)
        EXPECT_STREQ(getFxSlotName(slot), names[slot]);
    EXPECT_STREQ(getFxSlotName(7), "Unknown FX!");
    EXPECT_STREQ(getFxSlotName(-1), "Unknown FX!");
    EXPECT_STREQ(getFxSlotName(1000000), "Unknown FX!");
}

TEST(FxChainSwitch, HalfSwitchesOn)
{
    Param onOff("FxIsOn", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.0f", 0.0f);
    EXPECT_FALSE(isFxSwitchedOn(onOff));
    onOff.value = 0.5f;
    EXPECT_TRUE(isFxSwitchedOn(onOff));
    onOff.value = 0.49999997f;
    EXPECT_FALSE(isFxSwitchedOn(onOff));
    onOff.value = 1.0f;
    EXPECT_TRUE(isFxSwitchedOn(onOff));
    onOff.value = 2.0f; // unclamped values above the range stay on
    EXPECT_TRUE(isFxSwitchedOn(onOff));
    onOff.value = -1.0f;
    EXPECT_FALSE(isFxSwitchedOn(onOff));
}

TEST(FxChainUnits, CreatedInSlotOrder)
{
    FxChain chain;
    EXPECT_NE(dynamic_cast<FxBinaural*>(&chain.getUnit(0)), nullptr);
    EXPECT_NE(dynamic_cast<LofiFx*>(&chain.getUnit(1)), nullptr);
    EXPECT_NE(dynamic_cast<Equalizer*>(&chain.getUnit(2)), nullptr);
    EXPECT_NE(dynamic_cast<ReverbFDN*>(&chain.getUnit(3)), nullptr);
    EXPECT_NE(dynamic_cast<Phlaser*>(&chain.getUnit(4)), nullptr);
    EXPECT_NE(dynamic_cast<Compressor*>(&chain.getUnit(5)), nullptr);
    EXPECT_NE(dynamic_cast<Distortion*>(&chain.getUnit(6)), nullptr);
    for (int slot = 0; slot < kNumFxUnits; ++slot)
        EXPECT_EQ(chain.getUnit(slot).getNumParams(), kFxParamCounts[static_cast<std::size_t>(slot)]);
    EXPECT_EQ(chain.getTotalNumParams(), kNumFxParams);

    // Recreating replaces every unit; the old ones are freed (checked by the leak sanitizer).
    const FxUnit* before = &chain.getUnit(3);
    chain.recreate();
    EXPECT_NE(dynamic_cast<ReverbFDN*>(&chain.getUnit(3)), nullptr);
    (void)before;
}

TEST(FxChainUnits, DestroyedLastToFirst)
{
    Log log;
    FxUnitList units = makeSpies(log);
    destroyFxUnits(units);
    EXPECT_EQ(log.destroyed, (std::vector<int>{6, 5, 4, 3, 2, 1, 0}));
    for (FxUnit* unit : units)
        EXPECT_EQ(unit, nullptr);
    destroyFxUnits(units); // a second call finds nothing to delete
    EXPECT_EQ(log.destroyed.size(), 7u);
}

TEST(FxChainBinding, SlicesFollowTheCounts)
{
    Log log;
    FxUnitList units = makeSpies(log);
    std::vector<Param> params(135);
    bindFxParams(units, params);

    const std::array<int, 7> firsts = {34, 38, 42, 48, 57, 65, 71};
    ASSERT_EQ(log.bound.size(), 7u);
    for (std::size_t slot = 0; slot < 7; ++slot)
        EXPECT_EQ(log.bound[slot], &params[static_cast<std::size_t>(firsts[slot])]) << "slot " << slot;
    for (int i = 34; i < 77; ++i)
        EXPECT_STREQ(params[static_cast<std::size_t>(i)].name, "spy");
    EXPECT_STREQ(params[77].name, "");

    // Switches: "FxIsOn", default off; Binaural, Reverb and Compressor start on by value only.
    for (int slot = 0; slot < 7; ++slot)
    {
        const Param& s = params[static_cast<std::size_t>(27 + slot)];
        EXPECT_STREQ(s.name, "FxIsOn");
        EXPECT_EQ(s.defaultValue, 0.0f);
        EXPECT_EQ(isFxSwitchedOn(s), slot == 0 || slot == 3 || slot == 5) << "slot " << slot;
    }
    destroyFxUnits(units);
}

TEST(FxChainBinding, LargerUnitMovesLaterSlices)
{
    Log log;
    FxUnitList units = makeSpies(log);
    delete units[1];
    units[1] = new SpyUnit(1, 5, log);
    std::vector<Param> params(136);
    bindFxParams(units, params);
    EXPECT_EQ(log.bound[1], &params[38]);
    EXPECT_EQ(log.bound[2], &params[43]);
    EXPECT_EQ(log.bound[6], &params[72]);
    destroyFxUnits(units);
}

TEST(FxChainBinding, RejectsTooSmallTableAndEmptySlots)
{
    Log log;
    FxUnitList units = makeSpies(log);
    std::vector<Param> params(76);
    EXPECT_THROW(bindFxParams(units, params), std::length_error);
    EXPECT_TRUE(log.bound.empty());

    params.resize(77);
    FxUnit* kept = units[4];
    units[4] = nullptr;
    EXPECT_THROW(bindFxParams(units, params), std::logic_error);
    units[4] = kept;
    destroyFxUnits(units);
}

class FxChainProcessTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        units = makeSpies(log, 2);
        params.resize(135);
        bindFxParams(units, params);
        log.bound.clear();
    }
    void TearDown() override { destroyFxUnits(units); }

    Log log;
    FxUnitList units{};
    std::vector<Param> params;
    std::array<float, 8> left{};
    std::array<float, 8> right{};
    std::array<float, 8> third{};
    std::array<float*, 3> channels{left.data(), right.data(), third.data()};
};

TEST_F(FxChainProcessTest, InPlaceInSlotOrderWithBypassAndSharedSilence)
{
    params[28].value = 0.5f; // exactly half switches Lo-Fi on
    params[30].value = 0.4f; // just below half bypasses the Reverb
    bool silent = true;
    processFxChain(units, channels.data(), 8, 3, silent, params.data());

    ASSERT_EQ(log.calls.size(), 7u);
    const std::array<bool, 7> bypass = {false, false, true, true, true, false, true};
    for (std::size_t slot = 0; slot < 7; ++slot)
    {
        const Call& c = log.calls[slot];
        EXPECT_EQ(c.slot, static_cast<int>(slot));
        EXPECT_EQ(c.in, channels.data());
        EXPECT_EQ(c.out, channels.data());
        EXPECT_EQ(c.numSamples, 8);
        EXPECT_EQ(c.numChannels, 2); // never more than two
        EXPECT_EQ(c.bypass, bypass[slot]) << "slot " << slot;
        // Slot 2 clears the flag: every later unit sees it cleared.
        EXPECT_EQ(c.silentOnEntry, slot <= 2) << "slot " << slot;
    }
    EXPECT_FALSE(silent);
}

TEST_F(FxChainProcessTest, MonoAndEmptyCalls)
{
    bool silent = false;
    processFxChain(units, channels.data(), 4, 1, silent, params.data());
    ASSERT_EQ(log.calls.size(), 7u);
    EXPECT_EQ(log.calls[0].numChannels, 1);

    log.calls.clear();
    processFxChain(units, channels.data(), 0, 2, silent, params.data());
    processFxChain(units, channels.data(), 4, 0, silent, params.data());
    processFxChain(units, nullptr, 4, 2, silent, params.data());
    processFxChain(units, channels.data(), 4, 2, silent, nullptr);
    EXPECT_TRUE(log.calls.empty());
}

TEST(FxChainRealUnits, AllSwitchedOffPassesInputThroughUnchanged)
{
    FxChain chain;
    std::vector<Param> params;
    std::vector<int32_t> hostParamIndex, modTargets;
    std::vector<float> modTargetScales;
    int32_t hostParamCount = 0;
    buildParamTable(params, hostParamIndex, hostParamCount, modTargets, modTargetScales, chain);
    for (int i = kFirstFxSwitch; i < kFirstFxSwitch + kNumFxUnits; ++i)
        params[static_cast<std::size_t>(i)].value = 0.0f;
    chain.setup(48000.0f, 2);

    constexpr int kLen = 512;
    std::array<std::array<float, kLen>, 2> input{};
    uint32_t seed = 12345u;
    for (auto& ch : input)
        for (float& x : ch)
        {
            seed = seed * 1664525u + 1013904223u;
            x = static_cast<float>(static_cast<int32_t>(seed)) * 4.656613e-10f * 0.5f;
        }
    auto work = input;
    std::array<float*, 2> channels{work[0].data(), work[1].data()};
    for (int block = 0; block < 4; ++block)
    {
        bool silent = false;
        work = input;
        chain.process(channels.data(), kLen, 2, silent, params.data());
        for (std::size_t c = 0; c < 2; ++c)
            EXPECT_EQ(std::memcmp(work[c].data(), input[c].data(), sizeof(float) * kLen), 0)
                << "block " << block << " channel " << c;
    }
}

} // namespace
