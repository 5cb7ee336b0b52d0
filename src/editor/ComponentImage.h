#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A frozen picture of another component (with its children), taken once at construction: blurred
// backdrops behind boxes and pages, and squeezed, faded pictures for view transitions. Clicks fall
// through it.
class ComponentImage : public juce::Component
{
  public:
    // The component is width x height; the picture is the source at scale (0.25: a quarter as wide
    // and high) in format (RGB is taken as ARGB). A source or scale giving an empty picture leaves
    // the image invalid, and nothing is drawn.
    ComponentImage(int width, int height, juce::Component& source, juce::Point<float> scale,
                   juce::Image::PixelFormat format);
    ~ComponentImage() override;

    // Blurs the picture in place, in raster order, with a size x size Gaussian kernel; samples
    // outside the picture are dropped without renormalising, so its edges fade. sigma <= 0 is the
    // limit of a narrowing kernel: the picture stays as it is. Does not repaint.
    void blur(float sigma, int size);
    // Squeezes the picture by amount (0 none, 1 flat) along the direction at angle (radians,
    // anticlockwise on screen) about the source's middle and fades it to match. Meant for pictures
    // taken at scale 1; |amount| >= 1 draws nothing.
    void setPinch(float amount, float angle);

    void paint(juce::Graphics& g) override;

    float opacity = 1.0f;
    juce::Image image;
    juce::Point<float> centre;
    juce::Point<float> sourceSize;
    juce::Point<float> sourcePosition;
    juce::Point<float> pixelScale;
    juce::AffineTransform drawTransform;

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ComponentImage)
};
