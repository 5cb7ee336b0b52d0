#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/ComponentImage.h"

class PluginProcessor;

// The preset-name box: a dark panel over a blurred, dimmed picture of the parent, with a name
// field, "save" and "cancel". It covers the parent and takes every click on it; closing only
// detaches it (its owner keeps it).
class SaveBox : public juce::Component, public juce::Button::Listener, public juce::TextEditor::Listener
{
  public:
    class FontButton : public juce::Button
    {
      public:
        explicit FontButton(juce::String text);
        ~FontButton() override;
        void paintButton(juce::Graphics& g, bool isMouseOverButton, bool isButtonDown) override;

        juce::Font font;
        juce::String text;
    };

    static constexpr int kBoxHeight = 104;
    static constexpr int kMaxNameLength = 32;
    static constexpr const char* kNameCharacters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz0123456789_-()+&!#@'^.";

    // A box covering parent (which it does not join by itself) that saves into processor.
    SaveBox(juce::Component& parent, PluginProcessor* processor);
    ~SaveBox() override;

    void paint(juce::Graphics& g) override;
    void buttonClicked(juce::Button* button) override;
    void textEditorTextChanged(juce::TextEditor& editor) override;
    void textEditorReturnKeyPressed(juce::TextEditor& editor) override;
    void textEditorEscapeKeyPressed(juce::TextEditor& editor) override;

    juce::Rectangle<int> boxBounds;
    PluginProcessor* processor = nullptr;
    std::unique_ptr<juce::Label> titleLabel;
    std::unique_ptr<juce::TextEditor> nameEditor;
    std::unique_ptr<FontButton> saveButton;
    std::unique_ptr<FontButton> cancelButton;
    std::unique_ptr<ComponentImage> backdrop;

  private:
    void saveAndClose();
    void detach();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SaveBox)
};
