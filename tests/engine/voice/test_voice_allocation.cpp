// MIDI messages applied to the engine, and the choice of a voice for a new note.
#include <limits>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "engine/params/ParamTable.h"
#include "engine/voice/VoiceAllocation.h"
#include "support/EngineTestHelpers.h"

namespace
{

using Bytes = std::vector<uint8_t>;

MidiResult send(KeySpaceDSP& dsp, const Bytes& bytes)
{
    // A heap copy of exactly the message's length, so a read past it is caught by the sanitizers.
    const Bytes msg(bytes);
    return applyMidiMessage(dsp, msg.data(), static_cast<int>(msg.size()));
}

using Probe = std::vector<float> (*)(const KeySpaceDSP&);

// Messages sent in turn to a fresh engine: whether the last one was a note event, and what then holds.
// clang-format off
struct MessageCase { std::vector<Bytes> messages; bool noteEvent; Probe probe; std::vector<float> expected; };
// clang-format on

// clang-format off
const KeyVoice& v0(const KeySpaceDSP& d) { return d.voices[0]; }
const KeyVoice& v1(const KeySpaceDSP& d) { return d.voices[1]; }
using F = std::vector<float>;

const MessageCase kMessages[] = {
    {{{0x90, 60, 100}}, true,
     [](const KeySpaceDSP& d) { return F{float(v0(d).state), float(v0(d).note), float(v0(d).channel), v0(d).velocity, float(d.voiceCount)}; },
     {1, 60, 1, 100.0f / 127.0f, 1}},
    {{{0x92, 64, 90}, {0x92, 64, 0}}, true, // velocity 0 is a note off
     [](const KeySpaceDSP& d) { return F{float(v0(d).state), v0(d).mod.env[0].stage}; }, {2, 3}},
    {{{0x90, 60, 100}, {0x91, 60, 100}, {0x81, 60, 0}}, true, // a note off on its own channel only
     [](const KeySpaceDSP& d) { return F{float(v0(d).state), float(v1(d).state)}; }, {1, 2}},
    {{{0x80, 99, 0}}, true, [](const KeySpaceDSP& d) { return F{float(d.voiceCount)}; }, {0}},
    {{{0xE0, 0x00, 0x40}, {0xE1, 0x00, 0x00}, {0xE4, 0x7F, 0x7F}}, false,
     [](const KeySpaceDSP& d) { return F{d.channels[1].bend, d.channels[2].bend, d.channels[5].bend}; },
     {0.0f, -1.0f, 1.0f - 1.0f / 8192.0f}},
    {{{0xB0, 64, 127}, {0xB0, 1, 64}}, false,
     [](const KeySpaceDSP& d) { return F{d.channels[1].sustain, d.channels[1].modWheel}; }, {1.0f, 64.0f / 127.0f}},
    // Controllers on channel 16 are ignored; its notes play.
    {{{0xBF, 64, 127}, {0xBF, 1, 127}, {0xEF, 0x7F, 0x7F}, {0xDF, 100}, {0x9F, 60, 100}}, true,
     [](const KeySpaceDSP& d) { const ChannelState& c = d.channels[16]; return F{c.sustain, c.modWheel, c.bend, c.pressure, float(v0(d).channel)}; },
     {0, 0, 0, 0, 16}},
    // Channel pressure has two bytes; messages cut short do nothing.
    {{{0xD1, 64}, {0xD1}, {0xE0, 0}, {0x90, 60}}, false,
     [](const KeySpaceDSP& d) { return F{d.channels[2].pressure, float(v0(d).state), d.channels[1].bend}; }, {64.0f / 127.0f, 0, 0}},
    {{{0x90, 60, 100}, {0x90, 62, 100}, {0xA0, 62, 127}}, false,
     [](const KeySpaceDSP& d) { return F{v0(d).aftertouch, v1(d).aftertouch}; }, {0, 1}},
    {{{0x90, 60, 100}, {0xB0, 123, 0}, {0xB0, 120, 0}, {0xF8}}, false, // all notes off, system messages
     [](const KeySpaceDSP& d) { return F{float(v0(d).state)}; }, {1}},
    {{{0x90, 60, 100}, {0x90, 60, 100}}, true, // the same note twice takes a second voice
     [](const KeySpaceDSP& d) { return F{float(v0(d).state), float(v1(d).note)}; }, {1, 60}},
};
// clang-format on

} // namespace

TEST(VoiceAllocation, MessagesReachChannelsAndVoices)
{
    for (const MessageCase& c : kMessages)
    {
        qmtest::EngineRig rig({qmtest::fundamentalOnlySound()}, 48000.0f);
        MidiResult r;
        for (const Bytes& b : c.messages)
            r = send(rig.dsp(), b);
        EXPECT_EQ(r.noteEvent, c.noteEvent) << &c - kMessages;
        const std::vector<float> got = c.probe(rig.dsp());
        ASSERT_EQ(got.size(), c.expected.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_FLOAT_EQ(got[i], c.expected[i]) << "case " << &c - kMessages << " value " << i;
    }
}

TEST(VoiceAllocation, NewNoteTakesAFreeVoiceElseTheCheapestToSteal)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // clang-format off
    struct Voice { uint32_t state; float timePos, releaseProgress; int note; };
    // clang-format on
    // clang-format off
    struct Case { const char* what; int polyphony; std::vector<Voice> voices; int expected; };
    // clang-format on
    const Case cases[] = {
        {"first free voice", 4, {{1, 0.5f, 0, 60}, {0, 0, 0, 0}, {0, 0, 0, 0}}, 1},
        {"nearest note", 2, {{1, 0.5f, 0, 72}, {1, 0.5f, 0, 60}}, 1},
        {"furthest released", 2, {{1, 0.5f, 0.2f, 61}, {2, 0.5f, 0.8f, 61}}, 1},
        {"longest playing", 2, {{1, 0.1f, 0, 61}, {1, 3.0f, 0, 61}}, 1},
        {"before its sound starts", 2, {{1, 1.0f, 0, 61}, {1, -0.5f, 0, 61}}, 1},
        {"equal costs: lowest index", 3, {{1, 1.0f, 0, 50}, {1, 1.0f, 0, 50}, {1, 1.0f, 0, 50}}, 0},
        {"no cost a number", 2, {{1, nan, 0, 61}, {1, nan, 0, 61}}, 0},
        {"beyond the polyphony", 2, {{1, 0.5f, 0, 72}, {1, 0.5f, 0, 70}, {0, 0, 0, 0}}, 1},
    };
    for (const Case& c : cases)
    {
        qmtest::EngineRig rig({qmtest::fundamentalOnlySound()}, 48000.0f);
        KeySpaceDSP& dsp = rig.dsp();
        dsp.params[kParamPolyphony].value = float(c.polyphony);
        for (size_t i = 0; i < c.voices.size(); ++i)
            std::tie(dsp.voices[i].state, dsp.voices[i].timePos, dsp.voices[i].releaseProgress,
                     dsp.voices[i].note) = std::tuple(c.voices[i].state, c.voices[i].timePos,
                                                      c.voices[i].releaseProgress, c.voices[i].note);
        dsp.voiceCount = int(c.voices.size());
        EXPECT_EQ(chooseVoice(dsp, 61), c.expected) << c.what;
        EXPECT_EQ(startNote(dsp, 61, 100, 1), c.expected) << c.what;
        EXPECT_EQ(dsp.voices[size_t(c.expected)].note, 61) << c.what;
    }
}

TEST(VoiceAllocation, RetriggerRewindsTimeAndEnvelopesByTheirShare)
{
    qmtest::EngineRig rig({qmtest::fundamentalOnlySound()}, 48000.0f);
    KeySpaceDSP& dsp = rig.dsp();
    KeyVoice& v = dsp.voices[0];
    dsp.params[kParamPolyphony].value = 1.0f;
    startNote(dsp, 60, 100, 1);
    // {time warp, time share, envelope share, released, time before, stage before, time after, stage after}
    const float rows[][8] = {{1, 0.0f, 0.0f, 0, 0.8f, 1.5f, 0.8f, 1.5f},
                             {1, 1.0f, 1.0f, 0, 0.8f, 1.5f, 0.0f, 0.0f},
                             {1, 0.5f, 0.0f, 0, 0.6f, 3.5f, 0.3f, 0.0f},  // a finished envelope starts over
                             {-1, 1.0f, 0.0f, 0, 0.2f, 1.5f, 1.0f, 1.5f}, // backwards, time starts at 1
                             {1, 0.0f, 0.0f, 1, 0.7f, 3.2f, 0.0f, 0.0f}}; // a released voice starts afresh
    for (const auto& row : rows)
    {
        dsp.params[kParamTimeWarp].value = row[0];
        for (auto [param, unit] :
             {std::pair{kParamRetrigger, row[1]}, {kFirstEnvParam + kEnvParamRetrigger, row[2]}})
            dsp.params[size_t(param)].value = dsp.params[size_t(param)].convertUnitToVal(unit);
        if (row[3] > 0) releaseNote(dsp, v.note, 1);
        v.timePos = row[4], v.mod.env[0].stage = row[5];
        startNote(dsp, 62, 100, 1);
        EXPECT_NEAR(v.timePos, row[6], 1e-6f) << &row - rows;
        EXPECT_NEAR(v.mod.env[0].stage, row[7], 1e-5f) << &row - rows;
        EXPECT_TRUE(v.note == 62 && v.state == 1 && v.releaseProgress == 0.0f) << &row - rows;
    }
}
