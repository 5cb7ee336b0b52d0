#pragma once

#include <cstdint>

#include "engine/sound/InstrumentMap.h"
#include "engine/voice/KeyVoice.h"

// What the engine measures about each sound of its list when it is built: the number and colour of
// the sound's category and the feature vector that the canvas construction compares sounds by.

// Colour of the sounds whose category has the given index in a list with countedCategories category
// changes to categories not starting with "x": a hue wheel spread over the counted categories,
// softened and lightened; indices beyond the counted ones (the trailing "x" categories) are grey.
inline constexpr uint32_t kUncountedCategoryColour = 0xffa0a0a0u;
uint32_t categoryColour(int categoryIndex, int countedCategories) noexcept;

// Register feature of a sound whose middle zone sits at MIDI note key: -1..1, 0 at note 50.
float registerFeature(int key) noexcept;

// The 98 features of a sound, read from a voice that was set up to play it alone at MIDI note key
// (see InstrumentFeatures for the layout). bandStart is the engine's table of each band's first
// harmonic (bandCount + 1 entries are read); sampleRate 0 means 44100. Every value is finite; a
// voice without bands gives a zero profile.
void measureVoiceFeatures(const KeyVoice& voice, const int32_t* bandStart, int key, float sampleRate,
                          InstrumentFeatures* out) noexcept;
