#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class PianoRollComp;

// A held note in the Keyboard mode: a dot in the colour of the note's mix at the height its
// velocity gives, a stem down to the piano strip and the key itself drawn opaque over the strip.
// Everything is in the marker's own pixels; it takes no clicks.
class NoteMarker : public juce::Component
{
  public:
    // The marker of note n (0..127) whose mix point lies at canvas pixel y markY, over roll (placed
    // in the canvas), in colour. Places itself in the canvas's pixels.
    NoteMarker(int n, int markY, const PianoRollComp& roll, juce::Colour colour);

    void paint(juce::Graphics& g) override;

    int note = 0;
    float rollTop = 0.0f;
    float splitY = 0.0f;
    int upperX = 0, upperWidth = 0;
    int lowerX = 0, lowerWidth = 0;
    juce::ColourGradient stemGradient;
    juce::Colour mixColour;
    juce::Colour keyColour;

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(NoteMarker)
};
