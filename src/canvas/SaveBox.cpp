#include "canvas/SaveBox.h"

#include <algorithm>

#include "editor/ColourBytes.h"
#include "editor/EditorFonts.h"
#include "editor/MyLookAndFeel.h"
#include "processor/PluginProcessor.h"

SaveBox::FontButton::FontButton(juce::String t)
    : juce::Button(t), font(getEditorFont(EditorFace::robotoMedium, 13.0f)), text(std::move(t))
{
}

SaveBox::FontButton::~FontButton() = default;

void SaveBox::FontButton::paintButton(juce::Graphics& g, bool, bool isButtonDown)
{
    const float d = isButtonDown ? 0.05f : 0.0f;
    const float e = isEnabled() ? 0.0f : 0.5f;
    const uint8_t back = greyLevel(0.12f - d), ink = greyLevel(1.0f - d - e);
    g.fillAll(juce::Colour(back, back, back, static_cast<uint8_t>(0xff)));
    g.setFont(font);
    g.setColour(juce::Colour(ink, ink, ink, static_cast<uint8_t>(0xff)));
    g.drawText(text, 0, 0, getWidth(), getHeight(), juce::Justification::centred, true);
}

SaveBox::SaveBox(juce::Component& parent, PluginProcessor* p) : processor(p)
{
    const int W = parent.getWidth(), H = parent.getHeight();
    setBounds(0, 0, W, H);
    backdrop =
        std::make_unique<ComponentImage>(W, H, parent, juce::Point<float>{0.25f, 0.25f}, juce::Image::RGB);
    backdrop->blur(3.0f, 9);

    const juce::Font font = getEditorFont(EditorFace::robotoMedium, 13.0f);
    titleLabel = std::make_unique<juce::Label>("SaveLabel", "Save as");
    titleLabel->setFont(font);
    titleLabel->setColour(juce::Label::textColourId, juce::Colour(0xffffffffu));
    titleLabel->setColour(juce::Label::backgroundColourId, juce::Colour(0x00000000u));

    nameEditor = std::make_unique<juce::TextEditor>("nameLabel");
    nameEditor->setMultiLine(false, true);
    nameEditor->setTextToShowWhenEmpty("name this preset", juce::Colour(0x4cffffffu));
    nameEditor->setInputRestrictions(kMaxNameLength, kNameCharacters);
    nameEditor->setFont(font);
    nameEditor->setColour(juce::TextEditor::textColourId, juce::Colour(0xffffffffu));
    nameEditor->setColour(juce::TextEditor::backgroundColourId, kEditorGround);
    nameEditor->setColour(juce::TextEditor::outlineColourId, juce::Colour(0x00000000u));
    nameEditor->setColour(juce::TextEditor::focusedOutlineColourId, juce::Colour(0x00000000u));
    nameEditor->setColour(juce::CaretComponent::caretColourId, juce::Colours::red);
    nameEditor->addListener(this);

    const int w = static_cast<int>(std::min(static_cast<double>(W) * 0.8, 220.0));
    boxBounds = {(W - w) / 2, (H - kBoxHeight) / 2, w, kBoxHeight};
    titleLabel->setBounds(boxBounds.getX() + 8, boxBounds.getY() + 8, w - 16, 24);
    nameEditor->setBounds(titleLabel->getX(), titleLabel->getBottom(), w - 16, 24);
    addAndMakeVisible(*titleLabel);
    addAndMakeVisible(*nameEditor);

    saveButton = std::make_unique<FontButton>("save");
    saveButton->setBounds(titleLabel->getRight() - 60, nameEditor->getBottom() + 8, 60, 24);
    addAndMakeVisible(*saveButton);
    saveButton->setEnabled(false);
    saveButton->addListener(this);
    cancelButton = std::make_unique<FontButton>("cancel");
    cancelButton->setBounds(saveButton->getX() - 68, saveButton->getY(), 60, 24);
    addAndMakeVisible(*cancelButton);
    cancelButton->addListener(this);
}

SaveBox::~SaveBox()
{
    backdrop.reset();
    cancelButton.reset();
    saveButton.reset();
    nameEditor.reset();
    titleLabel.reset();
}

void SaveBox::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colours::black);
    if (backdrop != nullptr) backdrop->paint(g);
    g.fillAll(juce::Colour(0x33000000u));
    g.setColour(juce::Colour(0xff333333u));
    g.fillRect(boxBounds);
}

void SaveBox::textEditorTextChanged(juce::TextEditor& editor)
{
    // A name of spaces only names no file.
    const bool nameable = editor.getText().trim().isNotEmpty();
    if (saveButton->isEnabled() != nameable) saveButton->setEnabled(nameable);
}

void SaveBox::buttonClicked(juce::Button* button)
{
    if (button == saveButton.get())
        saveAndClose();
    else if (button == cancelButton.get())
        detach();
}

void SaveBox::textEditorReturnKeyPressed(juce::TextEditor&)
{
    if (saveButton->isEnabled()) saveAndClose();
}

void SaveBox::textEditorEscapeKeyPressed(juce::TextEditor&)
{
    detach();
}

void SaveBox::saveAndClose()
{
    // The text is read now: the field's change notice may still be on its way.
    if (nameEditor->getText().trim().isEmpty()) return;
    // The processor reports the outcome through its events, failures included.
    if (processor != nullptr) processor->savePreset(nameEditor->getText());
    juce::Component* parent = getParentComponent();
    detach();
    if (parent != nullptr) parent->repaint();
}

void SaveBox::detach()
{
    if (auto* parent = getParentComponent()) parent->removeChildComponent(this);
}
