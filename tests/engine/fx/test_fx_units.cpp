// Rules every unit of the effect chain keeps, run over all seven.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/VectorWidth.h"
#include "engine/fx/Compressor.h"
#include "engine/fx/Distortion.h"
#include "engine/fx/Equalizer.h"
#include "engine/fx/FxBinaural.h"
#include "engine/fx/LofiFx.h"
#include "engine/fx/Phlaser.h"
#include "engine/fx/ReverbFDN.h"
#include "support/EngineTestHelpers.h"
#include "support/FxTestHelpers.h"

namespace
{

using qmtest::allFinite;
using qmtest::Block;
using qmtest::FxRig;
using qmtest::noise;
using qmtest::zeros;

// What the shared checks need of each unit: the record and value that leave it dry (output =
// input), whether it keeps a tail that sounds into silence, records under which it audibly shapes
// the sound alike on both channels, and a record it reads unguarded (left out of the corrupt rows).
struct Facts
{
    int dryRecord;
    float dryValue;
    bool tail;
    std::array<std::pair<int, float>, 2> shaped{{{-1, 0.0f}, {-1, 0.0f}}};
    int unguarded = -1;
};
template <class U> constexpr Facts kFacts{};
template <> constexpr Facts kFacts<Compressor>{Compressor::kRatio, 1.0f, false};
template <> constexpr Facts kFacts<Distortion>{Distortion::kWetMix, 0.0f, false};
template <>
constexpr Facts kFacts<Equalizer>{
    Equalizer::kLowGain, 0.0f, true, {{{Equalizer::kLowGain, 12.0f}, {Equalizer::kHighGain, -6.0f}}}};
template <> constexpr Facts kFacts<FxBinaural>{FxBinaural::kHyperWidth, 0.0f, true};
// Lo-Fi without its envelope, whose rate would depend on the order in which the channels' levels
// are summed. A Wet Mix that is not a number, or absurdly large, reaches its output (states are
// clamped on load).
template <>
constexpr Facts kFacts<LofiFx>{
    LofiFx::kWetMix, 0.0f, false, {{{LofiFx::kEnvelope, 0.0f}, {-1, 0.0f}}}, LofiFx::kWetMix};
template <>
constexpr Facts kFacts<Phlaser>{Phlaser::kWetMix, 0.0f, true, {{{Phlaser::kModStereo, 0.0f}, {-1, 0.0f}}}};
template <> constexpr Facts kFacts<ReverbFDN>{ReverbFDN::kWetMix, 0.0f, true};

template <class U> void shape(FxRig<U>& rig)
{
    for (auto [i, v] : kFacts<U>.shaped)
        if (i >= 0) rig.set(i, v);
}

template <class U> using FxUnits = ::testing::Test;
using AllUnits = ::testing::Types<Compressor, Distortion, Equalizer, FxBinaural, LofiFx, Phlaser, ReverbFDN>;
TYPED_TEST_SUITE(FxUnits, AllUnits);

// Units that treat both channels alike and never mix them (the reverb and the widener do by design).
template <class U> using FxChannelUnits = ::testing::Test;
using ChannelUnits = ::testing::Types<Compressor, Distortion, Equalizer, LofiFx, Phlaser>;
TYPED_TEST_SUITE(FxChannelUnits, ChannelUnits);

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Runs loud noise and silence by turns; false at the first block with a non-finite sample.
template <class U> bool staysFinite(FxRig<U>& rig, int blocks, int channels = 2)
{
    for (int b = 0; b < blocks; ++b)
    {
        Block x = b % 2 ? zeros(channels, 1024) : noise(channels, 1024, 2.0f);
        rig.run(x);
        if (!allFinite(x)) return false;
    }
    return true;
}

} // namespace

TYPED_TEST(FxUnits, DryRecordsAndBypassPassTheInputExactly)
{
    engineSrand(1);
    const Block in = noise(2, 1000);
    // Dry records; switched off when fresh; switched off after sounding, once any fade is over.
    for (int mode = 0; mode < 3; ++mode)
    {
        SCOPED_TRACE(mode);
        FxRig<TypeParam> rig;
        if (mode == 0) rig.set(kFacts<TypeParam>.dryRecord, kFacts<TypeParam>.dryValue);
        if (mode == 2)
        {
            Block loud = noise(2, 4096), fade = noise(2, 4096);
            rig.run(loud);
            rig.run(fade, false, true);
        }
        Block src = in, out = zeros(2, 1000);
        EXPECT_FALSE(rig.run(src, out, false, mode > 0));
        EXPECT_EQ(out, in);
        EXPECT_EQ(src, in);
    }
}

TYPED_TEST(FxUnits, SilenceStaysExactAndATailEndsInExactZerosWithTheFlagSet)
{
    engineSrand(2);
    FxRig<TypeParam> rig;
    shape(rig);
    const Block quiet = zeros(2, 256);
    Block z = quiet;
    EXPECT_TRUE(rig.run(z, true));
    EXPECT_FALSE(rig.run(z, false)); // no unit sets the flag
    EXPECT_EQ(z, quiet);

    Block loud = noise(2, 4096);
    rig.run(loud);
    bool heard = false;
    int blocks = 0;
    for (; blocks < 2000; ++blocks)
    {
        Block t = quiet;
        if (rig.run(t, true))
        {
            EXPECT_EQ(t, quiet);
            break;
        }
        heard = heard || t != quiet;
    }
    EXPECT_EQ(heard, kFacts<TypeParam>.tail);
    EXPECT_LT(blocks, 2000);
    for (int b = 0; b < 8; ++b)
    {
        Block t = quiet;
        EXPECT_TRUE(rig.run(t, true));
        EXPECT_EQ(t, quiet);
    }
}

TYPED_TEST(FxUnits, CorruptRecordsAndNonFiniteInputStayFiniteAndRecover)
{
    engineSrand(3);
    for (float bad : {kNaN, kInf, -kInf, 1.0e30f, -1.0e30f})
    {
        FxRig<TypeParam> rig;
        for (int i = 0; i < TypeParam::kNumParams; ++i)
            if (i != kFacts<TypeParam>.unguarded) rig.set(i, bad);
        EXPECT_TRUE(staysFinite(rig, 4)) << bad;
        for (Param& q : rig.p)
            q.value = q.defaultValue;
        EXPECT_TRUE(staysFinite(rig, 4)) << bad;
    }
    for (float bad : {kNaN, kInf, -kInf, 1.0e30f})
    {
        FxRig<TypeParam> rig;
        Block x = noise(2, 512);
        x[0][100] = bad;
        x[1][300] = bad;
        rig.run(x);
        // The offending block may carry the value through; the next one is clean again.
        EXPECT_TRUE(staysFinite(rig, 3)) << bad;
    }
}

TYPED_TEST(FxUnits, RecordCornersStayFiniteFrom16To192kHz)
{
    engineSrand(4);
    for (float rate : {16000.0f, 44100.0f, 96000.0f, 192000.0f})
        for (int combo = 0; combo < 10; ++combo)
        {
            // All records at one end, all at the other, then mixed ends and middles.
            FxRig<TypeParam> rig(rate);
            for (Param& q : rig.p)
                q.value = q.convertUnitToVal(combo < 2 ? static_cast<float>(combo)
                                                       : 0.5f * static_cast<float>(engineRand() % 3));
            ASSERT_TRUE(staysFinite(rig, 4)) << rate << " " << combo;
        }
}

TYPED_TEST(FxUnits, NewRateSoundsLikeAUnitSetUpThere)
{
    for (auto [first, then] : {std::pair{192000.0f, 44100.0f}, std::pair{16000.0f, 96000.0f}})
    {
        // The same random draws for both: the lo-fi table at construction, the widener's sweep at set-up.
        engineSrand(5);
        FxRig<TypeParam> moved(first);
        engineSrand(5);
        moved.unit.setup(then, 2);
        engineSrand(5);
        FxRig<TypeParam> fresh(then);
        Block a = noise(2, 8192), b = a;
        engineSrand(6);
        moved.run(a);
        engineSrand(6);
        fresh.run(b);
        EXPECT_EQ(a, b) << then;
    }
}

// Both vector forms do the same arithmetic lane by lane; the reverb's wide form fuses its
// multiply-adds, so it rounds differently, the other units not at all. The baseline always runs;
// the wide form is compared where the processor has AVX2 and FMA.
TYPED_TEST(FxUnits, BaselineAndWideLoopsGiveTheSameSamples)
{
    std::vector<Block> out[2];
    for (const bool wide : {false, true})
    {
        engineSrand(10);
        FxRig<TypeParam> rig;
        rig.unit.useWideVectors(wide);
        for (const int n : {37, 4070}) // a short call, then one ending in a part of a sub-block
            rig.run(out[wide].emplace_back(noise(2, n)));
    }
    std::printf("%s\n",
                wideVectorsSupported() ? "wide form compared" : "no AVX2 and FMA: baseline form only");
    if constexpr (std::is_same_v<TypeParam, ReverbFDN>)
    {
        for (std::size_t call = 0; call < out[0].size(); ++call)
            for (std::size_t ch = 0; ch < out[0][call].size(); ++ch)
                EXPECT_LT(qmtest::relativeErrorDb(out[0][call][ch], out[1][call][ch]), -100.0)
                    << "call " << call << ", channel " << ch;
    }
    else
        EXPECT_EQ(out[0], out[1]);
}

TYPED_TEST(FxUnits, MonoThenStereoStaysFinite)
{
    engineSrand(7);
    FxRig<TypeParam> rig(44100.0f, 1); // set up for one channel, then given two
    EXPECT_TRUE(staysFinite(rig, 4, 1) && staysFinite(rig, 4, 2) && staysFinite(rig, 4, 1));
}

TYPED_TEST(FxChannelUnits, SwappedInputsSwapTheOutputsAndASilentChannelStaysSilent)
{
    engineSrand(8);
    const Block ab = noise(2, 2048);
    const std::vector<float> a = ab[0], b = ab[1];
    auto render = [](Block in)
    {
        // Warmed on silence first, so that every glide has settled alike for both channels.
        engineSrand(9);
        FxRig<TypeParam> rig;
        shape(rig);
        Block warm = zeros(2, 16384);
        rig.run(warm);
        rig.run(in);
        return in;
    };
    const Block out = render(ab);
    EXPECT_NE(out, ab);
    EXPECT_EQ(render({b, a}), (Block{out[1], out[0]}));
    EXPECT_EQ(render({a, std::vector<float>(a.size())})[1], std::vector<float>(a.size()));
}
