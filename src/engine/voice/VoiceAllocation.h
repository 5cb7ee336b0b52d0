#pragma once

// Voice allocation on the render thread: applying MIDI messages to the engine, starting, retriggering
// and releasing notes, choosing the voice a new note takes. Nothing here allocates, locks or waits.

#include <cstdint>

#include "engine/KeySpaceDSP.h"

// What applying one MIDI message did that the editor hears about.
struct MidiResult
{
    bool noteEvent = false; // a note started, retriggered or released
    int note = 0;
    float velocity = 0.0f; // 1..127 for a note on, 0 for a note off
};

// Applies one MIDI message (status byte, then its data bytes; a message shorter than its kind needs
// does nothing) to the engine: notes start, retrigger and release voices; pitch bend, controllers
// 1 and 64 and channel pressure on channels 1 to 15 go to the channel records, polyphonic pressure
// to the matching voices. Everything else is ignored.
MidiResult applyMidiMessage(KeySpaceDSP& dsp, const uint8_t* data, int numBytes) noexcept;

// Note on with velocity 1..127 on a 1-based channel: chooses a voice, starts or retriggers it.
// Returns the voice taken.
int startNote(KeySpaceDSP& dsp, int note, int velocity, int channel) noexcept;
// Releases every sounding voice playing note on channel.
void releaseNote(KeySpaceDSP& dsp, int note, int channel) noexcept;

// The voice a new note takes among the first Polyphony voices: the first free one, else the one
// with the lowest stealing cost (equal costs: the lowest index). Always a valid voice index: when
// no cost is a number, the first considered voice.
int chooseVoice(const KeySpaceDSP& dsp, int note) noexcept;
// The stealing cost of a sounding or released voice for a new note.
float voiceStealCost(const KeyVoice& voice, int note) noexcept;
// Voices considered for a new note: (int)(Polyphony + 0.1), held in 1..16.
int polyphonyLimit(const KeySpaceDSP& dsp) noexcept;
