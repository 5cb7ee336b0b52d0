#pragma once

#include <algorithm>

// The editor is laid out once at this size and drawn scaled as a whole.
constexpr int kEditorDesignWidth = 630;
constexpr int kEditorDesignHeight = 504;

// The scale of the editor's picture in a window of width x height: the largest at which the whole
// picture fits, so that no control is cut off whatever shape a host gives the window. In a 5:4
// window both sides agree. A side not known yet (0) does not limit it; with neither, the design
// scale.
inline float editorScaleFor(int width, int height)
{
    const float byWidth = static_cast<float>(width) / kEditorDesignWidth;
    const float byHeight = static_cast<float>(height) / kEditorDesignHeight;
    if (width <= 0) return height <= 0 ? 1.0f : byHeight;
    return height <= 0 ? byWidth : std::min(byWidth, byHeight);
}
