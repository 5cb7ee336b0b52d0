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

} // namespace
