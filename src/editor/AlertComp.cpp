#include "editor/AlertComp.h"

#include "editor/ColourBytes.h"
#include "editor/EditorFonts.h"
#include "editor/MyLookAndFeel.h"

namespace
{
constexpr float kFontHeight = 15.0f;
constexpr int kMargin = 8;
constexpr int kTextHeight = 150;
constexpr int kOkWidth = 48;
constexpr int kOkHeight = 32;
constexpr float kBackdropScale = 0.25f;
constexpr float kBlurSigma = 3.0f;
constexpr int kBlurSize = 9;
const juce::Colour kVeil{0x33333333u};
const juce::Colour kPanel{0x26b2b2b2u};
const juce::Colour kTextBackground{0x8c000000u};
constexpr juce::uint8 kPlateAlpha = 0x8c;
} // namespace

AlertComp::FontButton::FontButton(const juce::String& buttonText, const juce::Font& buttonFont)
    : juce::Button(buttonText), font(buttonFont), text(buttonText)
{
}

void AlertComp::FontButton::paintButton(juce::Graphics& g, bool, bool isButtonDown)
{
    const float d = isButtonDown ? 1.0f : 0.0f;
    const juce::uint8 plate = greyLevel(0.05f * d);
    g.fillAll(juce::Colour(plate, plate, plate, kPlateAlpha));
    g.setFont(font);
    // The mouse-over state is not shown; a disabled button (or parent) greys its text.
    const juce::uint8 grey = greyLevel(1.0f - 0.25f * d - (isEnabled() ? 0.0f : 0.5f));
    g.setColour(juce::Colour(grey, grey, grey));
    g.drawText(text, getLocalBounds(), juce::Justification::centred, true);
}

AlertComp::AlertComp(juce::Component* parent, juce::String newMessage) : message(std::move(newMessage))
{
    const int w = parent != nullptr ? parent->getWidth() : 0;
    const int h = parent != nullptr ? parent->getHeight() : 0;
    setSize(w, h);
    if (w > 0 && h > 0)
    {
        backdrop = std::make_unique<ComponentImage>(
            w, h, *parent, juce::Point<float>(kBackdropScale, kBackdropScale), juce::Image::RGB);
        backdrop->blur(kBlurSigma, kBlurSize);
    }
    boxBounds = {(w - kBoxWidth) / 2, (h - kBoxHeight) / 2, kBoxWidth, kBoxHeight};

    const juce::Font font = getEditorFont(EditorFace::robotoMedium, kFontHeight);
    textPanel = std::make_unique<juce::TextEditor>(juce::String());
    textPanel->setReadOnly(true);
    textPanel->setMultiLine(true, true);
    textPanel->setFont(font);
    textPanel->setColour(juce::TextEditor::textColourId, juce::Colours::white);
    textPanel->setColour(juce::TextEditor::backgroundColourId, kTextBackground);
    textPanel->setText(message, true);
    textPanel->setBounds(boxBounds.getX() + kMargin, boxBounds.getY() + kMargin,
                         boxBounds.getWidth() - 2 * kMargin, kTextHeight);
    addAndMakeVisible(*textPanel);

    okButton = std::make_unique<FontButton>("OK", font);
    okButton->setBounds(textPanel->getRight() - kOkWidth, textPanel->getBottom() + kMargin, kOkWidth,
                        kOkHeight);
    addAndMakeVisible(*okButton);
    okButton->addListener(this);
}

AlertComp::~AlertComp()
{
    okButton->removeListener(this);
    backdrop.reset();
    okButton.reset();
    textPanel.reset();
}

void AlertComp::paint(juce::Graphics& g)
{
    g.fillAll(kEditorGround);
    if (backdrop != nullptr) backdrop->paint(g);
    g.fillAll(kVeil);
    g.setColour(kPanel);
    g.fillRect(boxBounds);
}

void AlertComp::buttonClicked(juce::Button* button)
{
    if (button == okButton.get())
        if (auto* parent = getParentComponent()) parent->removeChildComponent(this);
}
