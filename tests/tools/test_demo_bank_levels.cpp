#include "support/EngineTestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>

// Every demo sound, played alone at full velocity with the effects off, stays well below full
// scale (the loudest measure about -14 dBFS) and is clearly audible, in a low, middle and high
// zone.
TEST(DemoBankLevels, SingleNotesRenderWellBelowFullScale)
{
    const std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    qmtest::EngineRig rig(bank);
    ASSERT_EQ(rig.dsp().sounds.size(), bank.size());
    rig.setAllEffects(false);
    for (size_t s = 0; s < bank.size(); ++s)
    {
        rig.pushExploreCanvas({int(s)}, {1.0f});
        for (int note : {36, 60, 84})
        {
            std::vector<float> left, right;
            qmtest::noteOn(rig.dsp(), note, 127);
            rig.render(44100 / 2, 512, left, right);
            qmtest::noteOff(rig.dsp(), note);
            rig.render(44100 * 3, 512, left, right);
            const float peak = std::max(qmtest::peakOf(left), qmtest::peakOf(right));
            EXPECT_TRUE(qmtest::allFinite(left) && qmtest::allFinite(right));
            EXPECT_LT(peak, 0.5f) << bank[s].name << " note " << note;
            EXPECT_GT(peak, 0.003f) << bank[s].name << " note " << note;
        }
    }
}
