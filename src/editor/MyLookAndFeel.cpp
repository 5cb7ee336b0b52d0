#include "editor/MyLookAndFeel.h"

#include "editor/EditorFonts.h"

namespace
{
constexpr float kPopupFontHeight = 14.0f;
constexpr float kMinFontHeight = 0.1f;
constexpr float kMaxFontHeight = 10000.0f;
const juce::Colour kScrollTrack{0xcc000000u};
const juce::Colour kScrollThumb{0x26ffffffu};
} // namespace

MyLookAndFeel::MyLookAndFeel()
{
    setColour(juce::PopupMenu::backgroundColourId, juce::Colour(0xd4080808u));
    setColour(juce::PopupMenu::highlightedBackgroundColourId, juce::Colour(0xff666666u));
    setColour(juce::PopupMenu::textColourId, juce::Colour(0xffffffffu));
}

void MyLookAndFeel::drawScrollbar(juce::Graphics& g, juce::ScrollBar&, int x, int y, int width, int height,
                                  bool, int thumbStartPosition, int thumbSize, bool, bool)
{
    // Drawn as a vertical bar whatever its orientation; hovering and pressing change nothing.
    g.setColour(kScrollTrack);
    g.fillRect(x, y, width, height);
    g.setColour(kScrollThumb);
    g.fillRect(x + 1, y + thumbStartPosition + 2, width - 2, thumbSize - 4);
}

int MyLookAndFeel::getDefaultScrollbarWidth()
{
    return 6;
}

void MyLookAndFeel::drawButtonBackground(juce::Graphics& g, juce::Button&,
                                         const juce::Colour& backgroundColour, bool, bool)
{
    g.fillAll(backgroundColour);
}

juce::Font MyLookAndFeel::getTextButtonFont(juce::TextButton&, int buttonHeight)
{
    const float height =
        juce::jlimit(kMinFontHeight, kMaxFontHeight, 0.7f * static_cast<float>(buttonHeight));
    juce::Font font = getEditorFont(EditorFace::robotoMedium, height);
    font.setExtraKerningFactor(0.05f);
    font.setHorizontalScale(1.2f);
    return font;
}

void MyLookAndFeel::drawPopupMenuBackground(juce::Graphics& g, int width, int height)
{
    // The outer pixel stays unpainted.
    g.setColour(findColour(juce::PopupMenu::backgroundColourId));
    g.fillRect(1, 1, width - 2, height - 2);
}

juce::Font MyLookAndFeel::getPopupMenuFont()
{
    const float height = kPopupFontHeight * editorScale;
    // Also catches a scale that is not a number.
    return getEditorFont(EditorFace::robotoMedium,
                         height >= kMinFontHeight ? juce::jmin(height, kMaxFontHeight) : kMinFontHeight);
}

void useOpenersLook(juce::PopupMenu& menu, juce::Component& opener)
{
    menu.setLookAndFeel(&opener.getLookAndFeel());
}
