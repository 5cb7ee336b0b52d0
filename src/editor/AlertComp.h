#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/ComponentImage.h"

// The editor's message box: covers its parent with a blurred, darkened picture of it, shows the
// message in a read-only panel and closes with "OK". The creator adds it to the parent and owns it;
// OK only takes it off the parent.
class AlertComp : public juce::Component, public juce::Button::Listener
{
  public:
    // A text button drawn with its own font on a dark translucent plate.
    class FontButton : public juce::Button
    {
      public:
        FontButton(const juce::String& text, const juce::Font& font);
        void paintButton(juce::Graphics& g, bool isMouseOverButton, bool isButtonDown) override;

        juce::Font font;
        juce::String text;
    };

    // A null parent, or one without area, gives an empty box without a picture.
    AlertComp(juce::Component* parent, juce::String message);
    ~AlertComp() override;

    void paint(juce::Graphics& g) override;
    void buttonClicked(juce::Button* button) override;

    static constexpr int kBoxWidth = 300;
    static constexpr int kBoxHeight = 206;

    juce::String message;
    juce::Rectangle<int> boxBounds;
    std::unique_ptr<juce::TextEditor> textPanel;
    std::unique_ptr<FontButton> okButton;
    std::unique_ptr<ComponentImage> backdrop;

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(AlertComp)
};
