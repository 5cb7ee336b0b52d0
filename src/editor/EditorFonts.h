#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The typefaces the editor draws with, all embedded in the program (a machine may have none of
// them installed).
enum class EditorFace
{
    robotoBlack,
    robotoBold,
    robotoMedium,
    robotoMono,
    montserratSemiBold
};

// The embedded face. Each typeface is made from its font data once and shared by every editor of
// the process until the framework's GUI support shuts down. Message thread only.
juce::Typeface::Ptr getEditorTypeface(EditorFace face);
// A font of the embedded face at height.
juce::Font getEditorFont(EditorFace face, float height);

// The embedded logo, an SVG document.
const void* getLogoSvgData() noexcept;
size_t getLogoSvgSize() noexcept;
