#pragma once

#include <memory>
#include <vector>

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/ComponentImage.h"

// The buttons and bars of the editor's top and bottom bars. Their builders set the fields, size and
// listener; each class only draws itself. Hovering changes none of them except the close button.

// A canvas-mode tab: its caption, white, faint unless it is the current mode's.
class TopTab : public juce::Button
{
  public:
    explicit TopTab(const juce::String& name) : juce::Button(name) {}
    ~TopTab() override;
    void paintButton(juce::Graphics& g, bool isMouseOverButton, bool isButtonDown) override;

    juce::String text;
    int index = 0;
    float highlight = 0.0f; // 1 for the current mode's tab
    juce::Rectangle<int> textArea;
    juce::Font font;
};

// A page button: a rounded panel with a caption and a row of activity dots under it.
class MenuButton : public juce::Button
{
  public:
    explicit MenuButton(const juce::String& name) : juce::Button(name) {}
    ~MenuButton() override;
    void paintButton(juce::Graphics& g, bool isMouseOverButton, bool isButtonDown) override;

    juce::String text;
    juce::Font font;
    float hue = 0.0f;
    bool active = false; // its page is open
    int numDots = 0;
    std::vector<float> dots; // levels 0..1; only as many dots as both numDots and this hold are drawn
    juce::ColourGradient faceGradient;
};

// The logo with a blurred glow under it. It draws nothing itself; its two children ignore clicks.
class LogoButton : public juce::Button
{
  public:
    // The logo fitted into 188 x 44 inside a 6-pixel margin, read from an SVG document. A document
    // that cannot be read, or has no extent, leaves an empty 200 x 50 button.
    class LogoDraw : public juce::Component
    {
      public:
        LogoDraw(const void* svgData, size_t svgSize);
        ~LogoDraw() override;
        void paint(juce::Graphics& g) override;

        juce::Rectangle<float> area;
        std::unique_ptr<juce::Drawable> drawable;
    };

    // The embedded logo.
    explicit LogoButton(const juce::String& name);
    LogoButton(const juce::String& name, const void* svgData, size_t svgSize);
    ~LogoButton() override;
    void paintButton(juce::Graphics& g, bool isMouseOverButton, bool isButtonDown) override;

    std::unique_ptr<LogoDraw> logoDraw;
    std::unique_ptr<ComponentImage> glow;
};

// A bar shaded with a gradient (or one colour).
class ColoredRect : public juce::Component
{
  public:
    ColoredRect(int width, int height, const juce::ColourGradient& fill);
    ~ColoredRect() override;
    void paint(juce::Graphics& g) override;

    juce::Colour colour;
    juce::ColourGradient gradient;
    bool useGradient = true;
};

// The X that closes an open page; brighter while the pointer is over it.
class MenuCloseButton : public juce::Button
{
  public:
    explicit MenuCloseButton(const juce::String& name) : juce::Button(name) {}
    ~MenuCloseButton() override;
    void paintButton(juce::Graphics& g, bool isMouseOverButton, bool isButtonDown) override;

    juce::Path path;
};
