#pragma once

#include <array>

#include "engine/canvas/NodeMixer.h"

// Horizontal key positions within an octave of seven white keys, in white-key widths, for semitones
// 0 to 12 (12 is the next octave's first key). Whole numbers are white keys; black keys sit between
// their neighbours. Shared by the voices' keyboard placement and the editor's piano drawing.
inline constexpr std::array<float, 13> kKeyOffset = {0.0f, 0.4f, 1.0f, 1.6f, 2.0f, 3.0f, 3.4f,
                                                     4.0f, 4.5f, 5.0f, 5.6f, 6.0f, 7.0f};

// The same positions in half white keys for semitones 0 to 11 (odd values are black keys), and the
// way each black key leans from its slot (0 for white keys).
inline constexpr std::array<int, 12> kKeyOffsetQ = {0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12};
inline constexpr std::array<int, 12> kKeyOffsetDir = {0, -1, 0, 1, 0, 0, -1, 0, 0, 0, 1, 0};

// The canvas point of a note in the Keyboard mode: x from the key's place on canvas's keyboard
// layout, y from velocity (0..1) across the Keyboard box. Notes outside 0..127 are held in it.
Point2D keyboardPoint(const NodeCanvasData& canvas, int note, float velocity) noexcept;
