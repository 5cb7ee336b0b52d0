#pragma once

#include <array>

#include <juce_gui_basics/juce_gui_basics.h>

struct Param;

// Kind of modulator a box shows.
enum ModType
{
    modTypeLfo = 0,
    modTypeEnvelope = 1
};

inline constexpr int kWaveSamples = 64;

// The picture of a modulator's shape as kWaveSamples levels in 0..1, from its records (an LFO's
// Shape and Phase, an envelope's Initial, Attack, Decay, Sustain and Release). Values no control
// can set (times of zero or less, anything not a number) give a flat line rather than a broken one.
std::array<float, kWaveSamples> computeWaveSamples(const Param* params, ModType type);

// The shape picture at the left of a modulator box, with the box's title. Recomputed at every
// paint, so the random shapes show fresh values each time.
class WaveBox : public juce::Component
{
  public:
    WaveBox();
    void paint(juce::Graphics& g) override;

    juce::Path path;
    juce::Font font;
    juce::String title;
    const Param* params = nullptr;
    ModType type = modTypeLfo;
    juce::Colour colour;

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(WaveBox)
};
