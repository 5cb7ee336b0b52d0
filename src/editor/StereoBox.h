#pragma once

#include <functional>
#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

struct Param;

// The XY area of the binaural effect: a one-octave keyboard picture dragged within a 150 x 150
// area sets Stereo X and Stereo Y (the effect's first two records) straight into the records.
class StereoBox : public juce::Component
{
  public:
    static constexpr int kArea = 150;

    // stereo: the effect's first record; the second follows it.
    StereoBox(Param* stereo, juce::Colour colour);
    ~StereoBox() override;

    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void paint(juce::Graphics& g) override;

    // Moves the handle to where the two records put it.
    void placeHandle();
    juce::ImageComponent& getHandle() noexcept { return *handle; }

    // Called when a drag that moved the handle ends (the two records hold its result).
    std::function<void()> onEdited;

  private:
    bool dragging = false;
    bool moved = false;
    juce::Point<int> lastMouse;
    juce::Image keyboardImage{juce::Image::ARGB, 50, 18, true};
    juce::Image legendImage{juce::Image::ARGB, 44, 16, true};
    std::unique_ptr<juce::ImageComponent> handle;
    std::unique_ptr<juce::ImageComponent> legend;
    Param* stereo;
    juce::Colour colour;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(StereoBox)
};
