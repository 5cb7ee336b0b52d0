#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The editor's dark ground: behind the editor, its alerts and its text fields.
inline const juce::Colour kEditorGround{0xff1a1a1au};

// The product's dark look for the framework widgets the editor does not draw itself: popup menus,
// list scroll bars and text buttons, all in the embedded Roboto Medium.
class MyLookAndFeel : public juce::LookAndFeel_V3
{
  public:
    MyLookAndFeel();

    void drawScrollbar(juce::Graphics& g, juce::ScrollBar& scrollBar, int x, int y, int width, int height,
                       bool isScrollbarVertical, int thumbStartPosition, int thumbSize, bool isMouseOver,
                       bool isMouseDown) override;
    int getDefaultScrollbarWidth() override;
    void drawButtonBackground(juce::Graphics& g, juce::Button& button, const juce::Colour& backgroundColour,
                              bool isMouseOverButton, bool isButtonDown) override;
    juce::Font getTextButtonFont(juce::TextButton& button, int buttonHeight) override;
    // The item and section-header layouts are the base's, which take this class's popup font.
    void drawPopupMenuBackground(juce::Graphics& g, int width, int height) override;
    // Grows with the editor, so menus opened after a resize match its scale.
    juce::Font getPopupMenuFont() override;

    // The scale of the editor's picture (editorScaleFor its window); the editor keeps it up to date.
    float editorScale = 1.0f;
};

// Gives a popup menu its opener's look, so menus keep this editor's look whatever the framework's
// default is when they open (another editor may install or remove its own).
void useOpenersLook(juce::PopupMenu& menu, juce::Component& opener);
