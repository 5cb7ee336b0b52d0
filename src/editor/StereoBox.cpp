#include "editor/StereoBox.h"

#include <cmath>

#include "editor/EditorFonts.h"
#include "engine/params/Param.h"
#include "engine/voice/KeyLayout.h"

namespace
{
// A damaged state may hold anything; the handle stays inside the area.
float unitOrZero(float v) noexcept
{
    return v > 0.0f ? std::min(v, 1.0f) : 0.0f;
}

int handlePosition(int area, int size, float unit) noexcept
{
    return static_cast<int>(static_cast<float>(area - 4 - size) * unit + 2.0f + 0.5f);
}
} // namespace

StereoBox::StereoBox(Param* stereoParams, juce::Colour newColour) : stereo(stereoParams), colour(newColour)
{
    setSize(kArea, kArea + 9);
    {
        juce::Graphics g(keyboardImage);
        g.setColour(colour);
        for (int k = 0; k < 12; ++k)
        {
            const float x = kKeyOffset[static_cast<size_t>(k)];
            if (std::abs(std::fmod(x, 1.0f)) <= 0.001f)
                g.drawRect(7.0f * x, 0.0f, 8.0f, 18.0f, 1.0f);
            else
                g.fillRect(7.0f * x + 1.5f, 0.0f, 5.0f, 10.8f);
        }
    }
    handle = std::make_unique<juce::ImageComponent>();
    handle->setImage(keyboardImage);
    handle->setSize(keyboardImage.getWidth(), keyboardImage.getHeight());
    handle->setInterceptsMouseClicks(false, false);
    addAndMakeVisible(*handle);
    {
        juce::Graphics g(legendImage);
        g.setFont(getEditorFont(EditorFace::robotoBlack, 12.0f));
        const char* letters[] = {"L", "R"};
        for (int i = 0; i < 2; ++i)
        {
            const juce::Rectangle<float> disc(1.0f + 28.0f * static_cast<float>(i), 1.0f, 14.0f, 14.0f);
            g.setColour(colour);
            g.fillEllipse(disc);
            g.setColour(juce::Colours::black);
            g.drawText(letters[i], disc, juce::Justification::centred, false);
        }
    }
    legend = std::make_unique<juce::ImageComponent>();
    legend->setImage(legendImage);
    legend->setBounds((kArea - 44) / 2, kArea - 16 / 2, 44, 16);
    addAndMakeVisible(*legend);
    placeHandle();
}

StereoBox::~StereoBox() = default;

void StereoBox::placeHandle()
{
    handle->setTopLeftPosition(handlePosition(kArea, handle->getWidth(), unitOrZero(stereo[0].value)),
                               handlePosition(kArea, handle->getHeight(), unitOrZero(stereo[1].value)));
}

void StereoBox::paint(juce::Graphics& g)
{
    g.setColour(juce::Colour(0x66333333));
    g.fillRect(0, 0, kArea, kArea);
    g.setColour(colour);
    g.drawRect(0, 0, kArea, kArea, 1);
}

void StereoBox::mouseDown(const juce::MouseEvent& e)
{
    dragging = handle->getBounds().contains(e.getPosition());
    moved = false;
    if (dragging) lastMouse = e.getPosition();
}

void StereoBox::mouseDrag(const juce::MouseEvent& e)
{
    if (!dragging) return;
    const juce::Point<int> delta = e.getPosition() - lastMouse;
    moved = moved || delta != juce::Point<int>();
    lastMouse = e.getPosition();
    const int w = handle->getWidth(), h = handle->getHeight();
    const int nx = std::min(handle->getX() + delta.x, kArea - w - 2);
    const int ny = std::min(handle->getY() + delta.y, kArea - h - 2);
    const float ux = nx > 1 ? static_cast<float>(nx - 2) / static_cast<float>(kArea - w - 4) : 0.0f;
    const float uy = ny > 1 ? static_cast<float>(ny - 2) / static_cast<float>(kArea - h - 4) : 0.0f;
    stereo[0].value = ux;
    stereo[1].value = uy;
    handle->setTopLeftPosition(handlePosition(kArea, w, ux), handlePosition(kArea, h, uy));
}

void StereoBox::mouseUp(const juce::MouseEvent&)
{
    const bool edited = dragging && moved;
    dragging = false;
    moved = false;
    if (edited && onEdited) onEdited();
}
