#include "editor/TopBarButtons.h"

#include <algorithm>
#include <cmath>

#include "editor/ColourBytes.h"
#include "editor/EditorFonts.h"

namespace
{
constexpr float kLogoMaxWidth = 188.0f;
constexpr float kLogoMaxHeight = 44.0f;
constexpr float kLogoMargin = 6.0f;
constexpr float kLogoBoxWidth = 200.0f;
constexpr float kLogoBoxHeight = 50.0f;
constexpr float kGlowSigma = 1.5f;
constexpr int kGlowSize = 9;
constexpr float kGlowAlpha = 0.8f;
constexpr int kDotSize = 4;
constexpr int kDotPitch = 6;
constexpr juce::uint8 kMenuPanelAlpha = 0xcc;

juce::Colour grey(float level, float alpha)
{
    const juce::uint8 v = greyLevel(level);
    return juce::Colour(v, v, v, alphaByte(alpha));
}

uint8_t roundedByte(float v)
{
    return greyLevel(v / 255.0f);
}
} // namespace

TopTab::~TopTab() = default;

void TopTab::paintButton(juce::Graphics& g, bool, bool isButtonDown)
{
    g.setColour(grey(1.0f - 0.2f * (isButtonDown ? 1.0f : 0.0f), highlight + 0.4f * (1.0f - highlight)));
    g.setFont(font);
    g.drawText(text, textArea.toFloat(), juce::Justification::centred, true);
}

MenuButton::~MenuButton() = default;

void MenuButton::paintButton(juce::Graphics& g, bool, bool isButtonDown)
{
    const int w = getWidth();
    const int h = getHeight();
    const float a = active ? 1.0f : 0.0f;
    const float corner = 0.22f * static_cast<float>(h);

    const float v = std::min(255.0f, 255.0f * (0.32f + 0.18f * a));
    const float t = 0.25f - 0.15f * a;
    g.setColour(juce::Colour(roundedByte(v), roundedByte((1.0f - t) * v),
                             roundedByte((1.0f - 0.70001f * t) * v), kMenuPanelAlpha));
    g.fillRoundedRectangle(0.0f, 0.0f, static_cast<float>(w), static_cast<float>(h), corner);
    // Inset at the left and top only: the panel shows as a rim along those two edges.
    g.setGradientFill(faceGradient);
    g.fillRoundedRectangle(2.0f, 2.0f, static_cast<float>(w - 2), static_cast<float>(h - 2), corner);

    const float down = isButtonDown ? 1.0f : 0.0f;
    g.setColour(juce::Colour::fromHSV(hue, active ? 0.0f : 0.3f, 1.0f - 0.2f * down, 1.0f)
                    .withAlpha(active ? juce::uint8{255} : alphaByte(0.6f)));
    g.setFont(font);
    const int shown = std::clamp(numDots, 0, static_cast<int>(dots.size()));
    const float textHeight = static_cast<float>(shown > 0 ? h - 8 : h);
    g.drawText(text, juce::Rectangle<float>(0.0f, 2.0f, static_cast<float>(w), textHeight),
               juce::Justification::centred, true);

    const int x0 = (w - kDotPitch * shown + 2) / 2;
    for (int k = 0; k < shown; ++k)
    {
        g.setColour(juce::Colours::white.withAlpha(alphaByte(0.2f + 0.3f * dots[static_cast<size_t>(k)])));
        g.fillEllipse(static_cast<float>(x0 + kDotPitch * k), static_cast<float>(h - 8), kDotSize, kDotSize);
    }
}

LogoButton::LogoDraw::LogoDraw(const void* svgData, size_t svgSize)
    : drawable(svgData != nullptr && svgSize > 0 ? juce::Drawable::createFromImageData(svgData, svgSize)
                                                 : nullptr)
{
    const juce::Rectangle<float> bounds =
        drawable != nullptr ? drawable->getDrawableBounds() : juce::Rectangle<float>();
    float width = kLogoMaxWidth;
    float height = kLogoMaxHeight;
    if (bounds.getWidth() > 0.0f && bounds.getHeight() > 0.0f)
    {
        const float r = bounds.getWidth() / bounds.getHeight();
        if (r >= kLogoMaxWidth / kLogoMaxHeight)
            height = kLogoMaxWidth / r;
        else
            width = kLogoMaxHeight * r;
    }
    else
        drawable.reset(); // nothing to draw: the box keeps its largest size
    area = {kLogoMargin, kLogoMargin, width, height};
    setSize(static_cast<int>(std::min(kLogoBoxWidth, width + 12.9f)),
            static_cast<int>(std::min(kLogoBoxHeight, height + 6.9f)));
}

LogoButton::LogoDraw::~LogoDraw() = default;

void LogoButton::LogoDraw::paint(juce::Graphics& g)
{
    if (drawable != nullptr) drawable->drawWithin(g, area, juce::RectanglePlacement::fillDestination, 1.0f);
}

LogoButton::LogoButton(const juce::String& name) : LogoButton(name, getLogoSvgData(), getLogoSvgSize()) {}

LogoButton::LogoButton(const juce::String& name, const void* svgData, size_t svgSize) : juce::Button(name)
{
    logoDraw = std::make_unique<LogoDraw>(svgData, svgSize);
    setSize(logoDraw->getWidth(), logoDraw->getHeight());
    glow = std::make_unique<ComponentImage>(logoDraw->getWidth(), logoDraw->getHeight(), *logoDraw,
                                            juce::Point<float>(1.0f, 1.0f), juce::Image::ARGB);
    addAndMakeVisible(*glow);
    glow->blur(kGlowSigma, kGlowSize);
    glow->setAlpha(kGlowAlpha);
    glow->setInterceptsMouseClicks(false, false);
    addAndMakeVisible(*logoDraw);
    logoDraw->setInterceptsMouseClicks(false, false);
}

LogoButton::~LogoButton()
{
    removeAllChildren();
}

void LogoButton::paintButton(juce::Graphics&, bool, bool) {}

ColoredRect::ColoredRect(int width, int height, const juce::ColourGradient& fill)
    : colour(0x00000000u), gradient(fill), useGradient(true)
{
    setSize(width, height);
}

ColoredRect::~ColoredRect() = default;

void ColoredRect::paint(juce::Graphics& g)
{
    if (useGradient)
        g.setGradientFill(gradient);
    else
        g.setColour(colour);
    g.fillRect(getLocalBounds());
}

MenuCloseButton::~MenuCloseButton() = default;

void MenuCloseButton::paintButton(juce::Graphics& g, bool isMouseOverButton, bool isButtonDown)
{
    g.setColour(
        grey(1.0f - 0.3f * (isButtonDown ? 1.0f : 0.0f), 1.0f - 0.4f * (isMouseOverButton ? 0.0f : 1.0f)));
    g.strokePath(path, juce::PathStrokeType(0.15f * static_cast<float>(getWidth()),
                                            juce::PathStrokeType::mitered, juce::PathStrokeType::square));
}
