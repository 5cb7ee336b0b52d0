// Eight noise sources drawing side by side: each drawing lane jumps the generator straight to its
// own values, which must be the values drawing lane after lane gives.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "engine/modulation/CanonRandom.h"
#include "engine/synth/BandLimNoiseCS.h"

namespace
{

std::array<float, 8> lanesOf(const bandlim::Floats8& x)
{
    std::array<float, 8> a;
    std::memcpy(a.data(), &x, sizeof x);
    return a;
}

// Every pattern of drawing lanes, with lanes whose crossfade ran out among them (a lane that does
// not draw never runs out), against single draws in lane order: the targets of each lane and the
// generator state after the group agree bit for bit.
TEST(BandLimNoiseLanes, LanesDrawWhatDrawsInLaneOrderGive)
{
    struct Case
    {
        uint32_t renewMask;
        float corr, spread;
    };
    const Case kCases[] = {{0x00u, 0.7f, 0.4f}, {0xffu, 1.0f, 0.0f}, {0x5au, 0.0f, 1.0f}, {0x0fu, 0.3f, 0.9f}};
    int lanesThatDrew = 0, lanesThatRenewed = 0;
    for (const Case& c : kCases)
        for (uint32_t drawing = 0; drawing < 256; ++drawing)
        {
            SCOPED_TRACE(testing::Message() << "drawing " << drawing << " renews " << c.renewMask);
            const uint32_t bits = bandlim::drawBits(drawing, c.renewMask & drawing);
            bandlim::Targets8 got;
            bandlim::Floats8* const fields[] = {&got.old1Re, &got.old1Im, &got.new1Re, &got.new1Im,
                                                &got.old2Re, &got.old2Im, &got.new2Re, &got.new2Im};
            std::array<std::array<float, 8>, 8> want;
            for (size_t f = 0; f < 8; ++f)
            {
                for (size_t k = 0; k < 8; ++k)
                    want[f][k] = float(f * 8 + k) * 0.125f - 3.0f;
                std::memcpy(fields[f], want[f].data(), sizeof *fields[f]);
            }
            const uint32_t seed = 1000u + drawing * 7919u;
            setCanonRandSeed(seed);
            for (size_t k = 0; k < 8; ++k)
            {
                if ((drawing >> k & 1u) == 0) continue;
                ++lanesThatDrew;
                if ((c.renewMask >> k & 1u) != 0)
                {
                    ++lanesThatRenewed;
                    want[0][k] = want[2][k], want[1][k] = want[3][k];
                    want[4][k] = want[6][k], want[5][k] = want[7][k];
                }
                float r[4];
                getCanonRandFloats(r, 4);
                CF t1, t2;
                bandlim::targets(r, c.corr, c.spread, t1, t2);
                want[2][k] = t1.re, want[3][k] = t1.im, want[6][k] = t2.re, want[7][k] = t2.im;
            }
            const uint32_t after = bandlim::drawLanes(bits, seed, c.corr, c.spread, got);
            ASSERT_EQ(after, getCanonRandSeed());
            for (size_t f = 0; f < 8; ++f)
                ASSERT_EQ(std::memcmp(lanesOf(*fields[f]).data(), want[f].data(), sizeof want[f]), 0) << "field " << f;
        }
    EXPECT_GT(lanesThatRenewed, 500);
    EXPECT_GT(lanesThatDrew, 4000);
}

// A bank whose groups draw for many sources at once (white and fast steps) and for few (slow
// ones), against the same sources stepped one by one: values, phases and generator state agree
// bit for bit after every call, so groups drawn lane by lane and side by side both match.
TEST(BandLimNoiseLanes, CrowdedBankStepMatchesSingleSteps)
{
    constexpr int kSources = 16;
    // clang-format off
    const std::array<float, kSources> kSteps = {0.9f, 0.6f, 0.95f, 0.86f, 0.5f, 0.9f, 0.7f, 0.99f,
                                                0.02f, 0.9f, 0.05f, 0.1f, 0.03f, 0.3f, 0.04f, 0.01f};
    // clang-format on
    std::array<BandLimNoiseCS, kSources> single{};
    BandLimNoiseBank<kSources> bank;
    std::array<int32_t, kSources> active;
    active.fill(1);
    active[6] = 0;
    int manyDrawCalls = 0;
    for (uint32_t call = 0; call < 400; ++call)
    {
        SCOPED_TRACE(testing::Message() << "call " << call);
        setCanonRandSeed(777u + call);
        std::array<CF, kSources> want1{}, want2{};
        for (size_t k = 0; k < kSources; ++k)
            if (active[k] != 0) single[k].getUnitWithStep(kSteps[k], 0.4f, 0.8f, want1[k], want2[k]);
        const uint32_t seedAfter = getCanonRandSeed();
        manyDrawCalls += seedAfter != 777u + call ? 1 : 0;
        setCanonRandSeed(777u + call);
        bank.advance(kSteps.data(), active.data(), kSources, 0.4f, 0.8f);
        ASSERT_EQ(getCanonRandSeed(), seedAfter);
        for (size_t k = 0; k < kSources; ++k)
        {
            if (active[k] == 0)
            {
                ASSERT_TRUE(bank.phase[k] == 0.0f && bank.new1Re[k] == 0.0f);
                continue;
            }
            const bool white = kSteps[k] > bandlim::kWhiteStep;
            const auto value = [&](const auto& oldValue, const auto& newValue) {
                return bandlim::crossfaded(white, bank.phase[k], oldValue[k], newValue[k]);
            };
            ASSERT_EQ(value(bank.old1Re, bank.new1Re), want1[k].re) << k;
            ASSERT_EQ(value(bank.old1Im, bank.new1Im), want1[k].im) << k;
            ASSERT_EQ(value(bank.old2Re, bank.new2Re), want2[k].re) << k;
            ASSERT_EQ(value(bank.old2Im, bank.new2Im), want2[k].im) << k;
            ASSERT_EQ(bank.phase[k], single[k].phase) << k;
        }
    }
    EXPECT_EQ(manyDrawCalls, 400) << "the white sources draw at every call";
}

} // namespace
