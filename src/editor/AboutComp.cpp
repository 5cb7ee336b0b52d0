#include "editor/AboutComp.h"

#include <cmath>
#include <vector>

#include "editor/ChooserFolder.h"
#include "editor/ColourBytes.h"
#include "editor/DebugReport.h"
#include "editor/EditorFonts.h"
#include "editor/Overlay2D.h"
#include "editor/TextFileChooser.h"
#include "engine/StateBlock.h"
#include "platform/DesktopOpener.h"
#include "platform/RegularFile.h"
#include "processor/AtomicFileWrite.h"
#include "processor/LibraryFolders.h"
#include "processor/NameText.h"
#include "processor/PluginProcessor.h"
#include "processor/PresetFiles.h"

namespace
{
const char* const kAboutText =
    "THIS IS QUILLMOOR.\n"
    "\n"
    "Hi, I'm Dunmere, and I built Quillmoor because I wanted two things at once. Preset keyboards "
    "give you an enormous range of sounds that you simply dial up and play, but you can hardly change "
    "them. Synthesizers let you bend every sound to your will, but their palette is narrower and they "
    "take real work to operate. Quillmoor is a plug-in synthesizer that tries to join the two.\n"
    "Its sound comes from a technique modelled on the way we hear: hundreds of hidden parameters shape "
    "each sound, and a machine-learning system drives them. What you see is a handful of intuitive "
    "knobs and a canvas on which the preset sounds lie like a constellation of stars. Mix them, morph "
    "between them, and shift them across time and frequency: every point on the canvas is a sound of "
    "its own, and most of them nobody has heard before.\n"
    "\n"
    "Enjoy!\n"
    "Dunmere";

const juce::String versionText()
{
    return juce::String("version ") + kStateVersionText;
}
} // namespace

AboutComp::AboutLabel::AboutLabel(juce::String newText, juce::Rectangle<int> bounds, juce::Font newFont,
                                  juce::Button::Listener* listener)
    : juce::Button("AboutButton"), text(std::move(newText)), font(std::move(newFont))
{
    setBounds(bounds);
    if (listener != nullptr) addListener(listener);
}

void AboutComp::AboutLabel::paintButton(juce::Graphics& g, bool over, bool down)
{
    const float o = over ? 1.0f : 0.0f, d = down ? 1.0f : 0.0f;
    const juce::uint8 grey = greyLevel(0.07f * d);
    g.fillAll(juce::Colour(grey, grey, grey, static_cast<juce::uint8>(0x8c)));
    g.setFont(font);
    g.setColour(juce::Colour(0.0f, 0.3f * o, 1.0f - 0.15f * d, static_cast<juce::uint8>(255)));
    if (text.containsChar('\n'))
    {
        if (text.isNotEmpty() && g.getClipBounds().getRight() > 8)
            g.drawMultiLineText(text, 8, static_cast<int>(font.getHeight() + 8.1f), getWidth() - 16);
    }
    else
        g.drawText(text, getLocalBounds(), juce::Justification::centred, true);
}

AboutComp::AboutComp(PluginProcessor* p) : processor(p)
{
    setSize(630, 376);
    const juce::Font fontA = getEditorFont(EditorFace::robotoMono, 13.0f);
    const juce::Font fontB = fontA.withHeight(32.0f);

    versionLabel = std::make_unique<juce::Label>("versionLabel", versionText());
    addAndMakeVisible(*versionLabel);
    versionLabel->setFont(fontB);
    const int w = static_cast<int>(std::ceil(fontB.getStringWidthFloat(versionText())));
    versionLabel->setBounds(602 - w, 4, w + 8, 40);
    versionLabel->setColour(juce::Label::textColourId, juce::Colour(0xb3ffb2c9));
    // A click on the version closes the page like any click beside the buttons.
    versionLabel->setInterceptsMouseClicks(false, false);

    textBox = std::make_unique<juce::TextEditor>();
    textBox->setMultiLine(true, true);
    textBox->setReadOnly(true);
    textBox->setFont(fontA);
    textBox->setBounds(80, 70, 260, 260);
    textBox->setColour(juce::TextEditor::textColourId, juce::Colour(0xffffabd3));
    textBox->setColour(juce::TextEditor::backgroundColourId, juce::Colour(0x4c000000));
    textBox->setColour(juce::TextEditor::highlightedTextColourId, juce::Colour(0xff3385ff));
    textBox->setText(kAboutText, true);
    addAndMakeVisible(*textBox);

    const std::array<std::pair<ButtonIndex, const char*>, numButtons> order = {
        {{loadButton, "Load File"},
         {saveButton, "Save Preset File"},
         {webButton, "Visit web page"},
         {filesButton, "Show files"},
         {debugButton, "Copy Debug Info"}}};
    int y = 90;
    for (const auto& [index, label] : order)
    {
        buttons[static_cast<size_t>(index)] =
            std::make_unique<AboutLabel>(label, juce::Rectangle<int>(400, y, 140, 40), fontA, this);
        addAndMakeVisible(*buttons[static_cast<size_t>(index)]);
        y += 48;
    }
}

AboutComp::~AboutComp()
{
    textBox.reset();
    versionLabel.reset();
    for (auto it = buttons.rbegin(); it != buttons.rend(); ++it)
        it->reset();
}

void AboutComp::mouseDown(const juce::MouseEvent&)
{
    // Deletes this page: nothing may touch it afterwards.
    if (auto* overlay = dynamic_cast<Overlay2D*>(getParentComponent())) overlay->clearOverlays();
}

bool AboutComp::hitTest(int, int)
{
    return true;
}

void AboutComp::paint(juce::Graphics&) {}

void AboutComp::handleLoadResult(Overlay2D& overlay, PluginProcessor& p, const juce::File& file)
{
    rememberChooserFolder(file);
    // The chosen path is used by its bytes, never its text: a desktop chooser may return a name of any
    // bytes in it.
    const std::string path = rawBytesOf(file.getFullPathName());
    if (endsWithBytes(path, kSoundBankExtension))
        overlay.showAlert(PluginProcessor::addDataFromFilePath(file.getFullPathName()));
    else if (endsWithBytes(path, kPresetExtension))
    {
        // Read only as a regular file of at most the preset limit: a chosen FIFO or device must not
        // stall the editor.
        std::vector<uint8_t> data;
        if (readRegularFile(path, static_cast<size_t>(kMaxPresetFileBytes), data) == FileReadStatus::ok &&
            !data.empty())
        {
            p.setStateInformation(data.data(), static_cast<int>(data.size()));
            p.notifyStateChanged();
        }
    }
}

void AboutComp::handleSaveResult(Overlay2D& overlay, PluginProcessor& p, const juce::File& file)
{
    rememberChooserFolder(file);
    juce::MemoryBlock data;
    p.getStateInformation(data);
    if (!replaceFileAtomically(rawBytesOf(file.getFullPathName()), data.getData(), data.getSize()))
        overlay.showAlert("Couldn't save to file! Sorry.");
}

void AboutComp::buttonClicked(juce::Button* b)
{
    auto* overlay = dynamic_cast<Overlay2D*>(getParentComponent());
    PluginProcessor* p = processor;
    if (b == buttons[webButton].get())
        openWithDesktop(kWebPage);
    else if (b == buttons[saveButton].get() && overlay != nullptr)
        overlay->launchChooser(
            std::make_unique<TextFileChooser>("Save preset to file", getChooserFolder(), kPresetWildcard,
                                              juce::FileBrowserComponent::saveMode |
                                                  juce::FileBrowserComponent::canSelectFiles |
                                                  juce::FileBrowserComponent::warnAboutOverwriting),
            [overlay, p](const juce::File& f) { handleSaveResult(*overlay, *p, f); });
    else if (b == buttons[loadButton].get() && overlay != nullptr)
        overlay->launchChooser(
            std::make_unique<TextFileChooser>("Load state from file", getChooserFolder(), "*",
                                              juce::FileBrowserComponent::openMode |
                                                  juce::FileBrowserComponent::canSelectFiles),
            [overlay, p](const juce::File& f) { handleLoadResult(*overlay, *p, f); });
    else if (b == buttons[filesButton].get())
    {
        const juce::File library = getLibraryFolder();
        if (library.createDirectory()) openWithDesktop(library.getFullPathName().toStdString());
    }
    else if (b == buttons[debugButton].get())
        juce::SystemClipboard::copyTextToClipboard(makeDebugReport(collectDebugFacts(*processor)));
}
