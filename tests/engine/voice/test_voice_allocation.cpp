// MIDI messages applied to the engine, and the choice of a voice for a new note.
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "support/EngineTestHelpers.h"
#include "bankmaker/BankMaker.h"
#include "engine/params/ParamTable.h"
#include "engine/voice/VoiceAllocation.h"

namespace
{
MidiResult send(KeySpaceDSP& dsp, std::vector<uint8_t> bytes)
{
    // A heap copy of exactly the message's length, so a read past it is caught by the sanitizers.
    std::vector<uint8_t> msg(bytes);
    return applyMidiMessage(dsp, msg.data(), static_cast<int>(msg.size()));
}

class MidiTest : public ::testing::Test
{
  protected:
    MidiTest() : rig({qmtest::fundamentalOnlySound()}, 48000.0f) {}
    KeySpaceDSP& dsp() { return rig.dsp(); }
    KeyVoice& voice(int i) { return dsp().voices[static_cast<size_t>(i)]; }
    void setPlain(int param, float value) { dsp().params[static_cast<size_t>(param)].value = value; }
    void setUnit(int param, float unit)
    {
        Param& p = dsp().params[static_cast<size_t>(param)];
        p.value = p.convertUnitToVal(unit);
    }
    qmtest::EngineRig rig;
};
} // namespace

TEST_F(MidiTest, NoteOnStartsAVoiceAndReportsIt)
{
    const MidiResult r = send(dsp(), {0x90, 60, 100});
    EXPECT_TRUE(r.noteEvent);
    EXPECT_EQ(r.note, 60);
    EXPECT_FLOAT_EQ(r.velocity, 100.0f);
    EXPECT_EQ(voice(0).state, 1u);
    EXPECT_EQ(voice(0).note, 60);
    EXPECT_EQ(voice(0).channel, 1);
    EXPECT_FLOAT_EQ(voice(0).velocity, 100.0f / 127.0f);
    EXPECT_EQ(dsp().voiceCount, 1);
}

TEST_F(MidiTest, VelocityZeroNoteOnIsANoteOff)
{
    send(dsp(), {0x92, 64, 90}); // channel 3
    const MidiResult r = send(dsp(), {0x92, 64, 0});
    EXPECT_TRUE(r.noteEvent);
    EXPECT_EQ(r.note, 64);
    EXPECT_EQ(r.velocity, 0.0f);
    EXPECT_EQ(voice(0).state, 2u);
    EXPECT_EQ(voice(0).mod.env[0].stage, 3.0f);
}

TEST_F(MidiTest, NoteOffReleasesOnlyTheMatchingChannel)
{
    send(dsp(), {0x90, 60, 100});
    send(dsp(), {0x91, 60, 100});
    const MidiResult r = send(dsp(), {0x81, 60, 0});
    EXPECT_TRUE(r.noteEvent);
    EXPECT_EQ(voice(0).state, 1u);
    EXPECT_EQ(voice(1).state, 2u);
    // A note off that matches nothing is still reported.
    EXPECT_TRUE(send(dsp(), {0x80, 99, 0}).noteEvent);
}

TEST_F(MidiTest, PitchBendValues)
{
    send(dsp(), {0xE0, 0x00, 0x40}); // 8192
    EXPECT_FLOAT_EQ(dsp().channels[1].bend, 0.0f);
    send(dsp(), {0xE0, 0x00, 0x00});
    EXPECT_FLOAT_EQ(dsp().channels[1].bend, -1.0f);
    send(dsp(), {0xE4, 0x7F, 0x7F}); // 16383 on channel 5
    EXPECT_FLOAT_EQ(dsp().channels[5].bend, 1.0f - 1.0f / 8192.0f);
}

TEST_F(MidiTest, ControllersOnChannelSixteenAreIgnored)
{
    send(dsp(), {0xB0, 64, 127});
    EXPECT_FLOAT_EQ(dsp().channels[1].sustain, 1.0f);
    send(dsp(), {0xB0, 1, 64});
    EXPECT_FLOAT_EQ(dsp().channels[1].modWheel, 64.0f / 127.0f);

    send(dsp(), {0xBF, 64, 127});
    send(dsp(), {0xBF, 1, 127});
    send(dsp(), {0xEF, 0x7F, 0x7F});
    send(dsp(), {0xDF, 100});
    EXPECT_EQ(dsp().channels[16].sustain, 0.0f);
    EXPECT_EQ(dsp().channels[16].modWheel, 0.0f);
    EXPECT_EQ(dsp().channels[16].bend, 0.0f);
    EXPECT_EQ(dsp().channels[16].pressure, 0.0f);
    // Its notes still play.
    EXPECT_TRUE(send(dsp(), {0x9F, 60, 100}).noteEvent);
    EXPECT_EQ(voice(0).channel, 16);
}

TEST_F(MidiTest, ChannelPressureIsTwoBytes)
{
    const MidiResult r = send(dsp(), {0xD1, 64});
    EXPECT_FALSE(r.noteEvent);
    EXPECT_FLOAT_EQ(dsp().channels[2].pressure, 64.0f / 127.0f);
    // A message cut short does nothing.
    send(dsp(), {0xD1});
    send(dsp(), {0x90, 60});
    EXPECT_FLOAT_EQ(dsp().channels[2].pressure, 64.0f / 127.0f);
    EXPECT_EQ(voice(0).state, 0u);
}

TEST_F(MidiTest, PolyphonicPressureReachesMatchingVoices)
{
    send(dsp(), {0x90, 60, 100});
    send(dsp(), {0x90, 62, 100});
    send(dsp(), {0xA0, 62, 127});
    EXPECT_EQ(voice(0).aftertouch, 0.0f);
    EXPECT_FLOAT_EQ(voice(1).aftertouch, 1.0f);
}

TEST_F(MidiTest, AllNotesOffAndSystemMessagesDoNothing)
{
    send(dsp(), {0x90, 60, 100});
    EXPECT_FALSE(send(dsp(), {0xB0, 123, 0}).noteEvent);
    EXPECT_FALSE(send(dsp(), {0xB0, 120, 0}).noteEvent);
    EXPECT_FALSE(send(dsp(), {0xF8}).noteEvent);
    EXPECT_EQ(voice(0).state, 1u);
}

TEST_F(MidiTest, SustainHoldsAReleasedVoice)
{
    setPlain(kParamRelease, 0.05f);
    std::vector<float> left, right;

    send(dsp(), {0xB0, 64, 127});
    send(dsp(), {0x90, 60, 100});
    rig.render(4800, 480, left, right);
    send(dsp(), {0x80, 60, 0});
    rig.render(24000, 480, left, right); // ten release times
    EXPECT_EQ(voice(0).state, 2u);
    EXPECT_EQ(voice(0).releaseProgress, 0.0f);

    send(dsp(), {0xB0, 64, 0});
    rig.render(24000, 480, left, right);
    EXPECT_EQ(voice(0).state, 0u);
}

TEST_F(MidiTest, PolyphonyLimitsTheVoicesConsidered)
{
    setPlain(kParamPolyphony, 4.0f);
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(startNote(dsp(), 60 + n, 100, 1), n);
    // Voice 5 free but beyond the limit.
    EXPECT_EQ(voice(5).state, 0u);
    const int taken = startNote(dsp(), 70, 100, 1);
    EXPECT_GE(taken, 0);
    EXPECT_LT(taken, 4);
    EXPECT_EQ(voice(taken).note, 70);
    EXPECT_EQ(dsp().voiceCount, 4);
}

TEST_F(MidiTest, LowestCostVoiceIsTaken)
{
    setPlain(kParamPolyphony, 2.0f);
    for (int i = 0; i < 2; ++i)
    {
        voice(i).state = 1;
        voice(i).timePos = 0.5f;
        voice(i).releaseProgress = 0.0f;
    }
    voice(0).note = 72;
    voice(1).note = 60;
    // Distance terms 1/13 (voice 1) against 11/23 (voice 0).
    EXPECT_LT(voiceStealCost(voice(1), 61), voiceStealCost(voice(0), 61));
    EXPECT_EQ(chooseVoice(dsp(), 61), 1);

    // Cost of a voice 2 s into its sound, half released, note 7 apart: 0.5 x 5 + 1/3 + 7/19.
    KeyVoice v;
    v.timePos = 2.0f;
    v.releaseProgress = 0.5f;
    v.note = 60;
    EXPECT_NEAR(voiceStealCost(v, 67), 2.5f + 1.0f / 3.0f + 7.0f / 19.0f, 1e-6f);
    // A voice before its sound (time -0.5) costs 1 / 3.5 of that.
    v.timePos = -0.5f;
    EXPECT_NEAR(voiceStealCost(v, 67), (2.5f + 1.0f + 7.0f / 19.0f) / 3.5f, 1e-6f);
}

TEST_F(MidiTest, EqualCostsTakeTheLowestIndex)
{
    setPlain(kParamPolyphony, 3.0f);
    for (int i = 0; i < 3; ++i)
    {
        voice(i).state = 1;
        voice(i).timePos = 1.0f;
        voice(i).note = 50;
    }
    EXPECT_EQ(chooseVoice(dsp(), 50), 0);
}

TEST_F(MidiTest, SameNoteWithFreeVoicesTakesAFreeVoice)
{
    send(dsp(), {0x90, 60, 100});
    send(dsp(), {0x90, 60, 100});
    EXPECT_EQ(voice(0).state, 1u);
    EXPECT_EQ(voice(1).state, 1u);
    EXPECT_EQ(voice(1).note, 60);
}

TEST_F(MidiTest, NoVoiceWithACostStillGetsTheNote)
{
    setPlain(kParamPolyphony, 2.0f);
    for (int i = 0; i < 2; ++i)
    {
        voice(i).state = 1;
        voice(i).timePos = std::numeric_limits<float>::quiet_NaN();
    }
    EXPECT_EQ(chooseVoice(dsp(), 60), 0);
    EXPECT_EQ(startNote(dsp(), 60, 100, 1), 0);
}

TEST_F(MidiTest, RetriggerMovesTheTimePositionBackByItsShare)
{
    setPlain(kParamPolyphony, 1.0f);
    setPlain(kParamTimeWarp, 1.0f);
    startNote(dsp(), 60, 100, 1);
    voice(0).timePos = 0.8f;

    setUnit(kParamRetrigger, 0.0f);
    startNote(dsp(), 62, 100, 1);
    EXPECT_FLOAT_EQ(voice(0).timePos, 0.8f);
    EXPECT_EQ(voice(0).note, 62);

    setUnit(kParamRetrigger, 1.0f);
    startNote(dsp(), 63, 100, 1);
    EXPECT_FLOAT_EQ(voice(0).timePos, 0.0f);

    voice(0).timePos = 0.6f;
    setUnit(kParamRetrigger, 0.5f);
    startNote(dsp(), 64, 100, 1);
    EXPECT_NEAR(voice(0).timePos, 0.3f, 1e-6f);

    // Backwards time warp: the start is 1.0.
    setPlain(kParamTimeWarp, -1.0f);
    voice(0).timePos = 0.2f;
    setUnit(kParamRetrigger, 1.0f);
    startNote(dsp(), 65, 100, 1);
    EXPECT_FLOAT_EQ(voice(0).timePos, 1.0f);
}

TEST_F(MidiTest, EnvelopeRetriggerRewindsByItsShare)
{
    setPlain(kParamPolyphony, 1.0f);
    const int env1 = kFirstEnvParam;
    startNote(dsp(), 60, 100, 1);

    // 0%: a voice in its decay stage 1.5 stays there.
    setUnit(env1 + kEnvParamRetrigger, 0.0f);
    voice(0).mod.env[0].stage = 1.5f;
    startNote(dsp(), 60, 100, 1);
    EXPECT_NEAR(voice(0).mod.env[0].stage, 1.5f, 1e-5f);

    // 100%: back to the start.
    setUnit(env1 + kEnvParamRetrigger, 1.0f);
    voice(0).mod.env[0].stage = 1.5f;
    startNote(dsp(), 60, 100, 1);
    EXPECT_EQ(voice(0).mod.env[0].stage, 0.0f);

    // A finished or releasing envelope starts over.
    setUnit(env1 + kEnvParamRetrigger, 0.0f);
    voice(0).mod.env[0].stage = 3.5f;
    startNote(dsp(), 60, 100, 1);
    EXPECT_EQ(voice(0).mod.env[0].stage, 0.0f);
}

TEST_F(MidiTest, ReleasedVoiceIsStartedAfresh)
{
    setPlain(kParamPolyphony, 1.0f);
    send(dsp(), {0x90, 60, 100});
    voice(0).timePos = 0.7f;
    send(dsp(), {0x80, 60, 0});
    ASSERT_EQ(voice(0).state, 2u);
    send(dsp(), {0x90, 67, 80});
    EXPECT_EQ(voice(0).state, 1u);
    EXPECT_EQ(voice(0).timePos, 0.0f);
    EXPECT_EQ(voice(0).pitch, 67.0f);
    EXPECT_EQ(voice(0).releaseProgress, 0.0f);
}
