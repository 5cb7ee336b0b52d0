// The engine's voice snapshots: the render thread publishes one after every block while another
// thread reads the newest, as the editor's voice dots do.
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/EngineTestHelpers.h"

TEST(VoiceSnapshot, RenderThreadPublishesWhileAnotherReads)
{
    qmtest::EngineRig rig({qmtest::fundamentalOnlySound()});
    rig.pushCanvas({0}, {1.0f});
    auto reader = rig.dsp().voiceSnapshots.makeReader();
    std::atomic<bool> done{false};
    std::thread render(
        [&]
        {
            std::vector<float> left, right;
            for (int block = 0; block < 200; ++block)
            {
                // Notes start and end on the render thread, as block processing does; the last stays on.
                if (block % 20 == 0) qmtest::noteOn(rig.dsp(), 60 + block / 20, 100);
                if (block % 20 == 10 && block < 180) qmtest::noteOff(rig.dsp(), 60 + block / 20);
                rig.render(64, 64, left, right);
            }
            done = true;
        });
    VoiceSnapshot snapshot;
    int sounding = 0;
    const auto check = [&]
    {
        ASSERT_TRUE(snapshot.count >= 0 && snapshot.count <= kMaxVoices);
        sounding = 0;
        for (int i = 0; i < snapshot.count; ++i)
        {
            const VoiceDot& v = snapshot.voices[static_cast<size_t>(i)];
            ASSERT_LE(v.state, 2u);
            sounding += v.state == 1;
            // Sound indices, not node indices: the only sound is 0.
            for (int k = 0; v.state != 0 && k < v.mix.count; ++k)
                ASSERT_EQ(v.mix.node[static_cast<size_t>(k)], 0);
        }
    };
    while (!done)
        if (reader.readNewest(snapshot)) check();
    render.join();
    reader.readNewest(snapshot);
    check();
    EXPECT_EQ(sounding, 1);
}
