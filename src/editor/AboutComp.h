#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

class Overlay2D;
class PluginProcessor;

// The About page over the canvas area: the product's version and text and five actions (load a
// state or sound bank, save a preset file, visit the web page, show the library folder, copy the
// debug report). A click anywhere else on the page closes it.
class AboutComp : public juce::Component, public juce::Button::Listener
{
  public:
    // A text button that draws its own text: one centred line, or left-aligned lines when the
    // text holds a line break.
    class AboutLabel : public juce::Button
    {
      public:
        AboutLabel(juce::String text, juce::Rectangle<int> bounds, juce::Font font,
                   juce::Button::Listener* listener);
        void paintButton(juce::Graphics& g, bool isMouseOverButton, bool isButtonDown) override;

        juce::String text;
        juce::Font font;

      private:
        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(AboutLabel)
    };

    static constexpr const char* kWebPage = "https://velmora.example/quillmoor";

    explicit AboutComp(PluginProcessor* processor);
    ~AboutComp() override;

    void mouseDown(const juce::MouseEvent& e) override;
    bool hitTest(int x, int y) override;
    void paint(juce::Graphics& g) override;
    void buttonClicked(juce::Button* button) override;

    // What the choosers do with the file the user picked. Both remember its folder for the next
    // chooser. A sound bank's message shows in the overlay's message box; a preset file (".qmpreset",
    // not too large) becomes the processor's state; other files do nothing.
    static void handleLoadResult(Overlay2D& overlay, PluginProcessor& processor, const juce::File& file);
    // Writes the processor's state into file, all or nothing; a failure shows in the message box.
    static void handleSaveResult(Overlay2D& overlay, PluginProcessor& processor, const juce::File& file);

    AboutLabel* getButton(int i) const { return buttons[static_cast<size_t>(i)].get(); }
    juce::Label& getVersionLabel() noexcept { return *versionLabel; }
    juce::TextEditor& getTextBox() noexcept { return *textBox; }

    enum ButtonIndex
    {
        saveButton = 0,
        loadButton,
        webButton,
        filesButton,
        debugButton,
        numButtons
    };

  private:
    std::array<std::unique_ptr<AboutLabel>, numButtons> buttons;
    std::unique_ptr<juce::Label> versionLabel;
    std::unique_ptr<juce::TextEditor> textBox;
    PluginProcessor* processor;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(AboutComp)
};
