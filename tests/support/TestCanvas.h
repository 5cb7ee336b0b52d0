#pragma once

#include <cstdint>

#include "engine/canvas/NodeMixer.h"

// Header-only so that the fuzz targets, which do not link the test support library, share it.

namespace qmtest
{

// The canvas a processor starts with: no nodes, the keyboard geometry, and the bounds of the XY Pad
// and Keyboard modes; mode selects which of the modes it is in.
inline NodeCanvasData startCanvas(int32_t mode = kCanvasModeXYPad) noexcept
{
    NodeCanvasData c{};
    c.mode = mode;
    c.keyOffsetX = -0.4f;
    c.keyOctaveWidth = 0.2f;
    c.lo[kCanvasModeXYPad] = {0.3f, 0.33f};
    c.hi[kCanvasModeXYPad] = {0.7f, 0.67f};
    c.lo[kCanvasModeKeyboard] = {0.0f, 0.375f};
    c.hi[kCanvasModeKeyboard] = {1.0f, 0.625f};
    return c;
}

} // namespace qmtest
