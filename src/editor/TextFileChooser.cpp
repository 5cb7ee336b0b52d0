#include "editor/TextFileChooser.h"

namespace
{
// The framework's browser lists every folder whatever its filter says; this one asks the filter.
class TextNameBrowser : public juce::FileBrowserComponent
{
  public:
    TextNameBrowser(int flags, const juce::File& start, const TextNameFilter& filter)
        : juce::FileBrowserComponent(flags, start, &filter, nullptr), names(filter)
    {
        // The framework starts reading the folder while it makes the browser, before this class's
        // override is in place: the folder is read again, which drops whatever that read found.
        refresh();
    }

    bool isDirectorySuitable(const juce::File& folder) const override
    {
        return names.isDirectorySuitable(folder) && juce::FileBrowserComponent::isDirectorySuitable(folder);
    }

  private:
    const TextNameFilter& names;
};
} // namespace

TextFileChooser::TextFileChooser(const juce::String& chooserTitle, const juce::File& startAt,
                                 const juce::String& filePatterns, int chooserFlags)
    : title(chooserTitle), start(startAt), patterns(filePatterns), flags(chooserFlags), filter(filePatterns)
{
}

TextFileChooser::~TextFileChooser()
{
    done = nullptr;
    dialog.reset();
    browser.reset();
    desktop.reset();
}

void TextFileChooser::launch(Done onDone)
{
    done = std::move(onDone);
    if (juce::FileChooser::isPlatformDialogAvailable())
    {
        desktop = std::make_unique<juce::FileChooser>(title, start, patterns, true);
        desktop->launchAsync(flags,
                             [this](const juce::FileChooser& chooser) { finish(chooser.getResults()); });
        return;
    }
    browser = std::make_unique<TextNameBrowser>(flags, start, filter);
    dialog = std::make_unique<juce::FileChooserDialogBox>(
        title, juce::String(), *browser, (flags & juce::FileBrowserComponent::warnAboutOverwriting) != 0,
        browser->findColour(juce::AlertWindow::backgroundColourId));
    dialog->centreWithDefaultSize(nullptr);
    juce::Component::SafePointer<juce::FileChooserDialogBox> box(dialog.get());
    dialog->enterModalState(true,
                            juce::ModalCallbackFunction::create(
                                [this, box](int result)
                                {
                                    // Gone with its chooser: nothing to call back.
                                    if (box == nullptr) return;
                                    juce::Array<juce::File> chosen;
                                    for (int i = 0; result != 0 && i < browser->getNumSelectedFiles(); ++i)
                                        chosen.add(browser->getSelectedFile(i));
                                    box->setVisible(false);
                                    finish(chosen);
                                }),
                            false);
}

void TextFileChooser::finish(const juce::Array<juce::File>& chosen)
{
    // The callback may destroy this chooser (by launching another): nothing here is touched after it.
    Done call = std::move(done);
    done = nullptr;
    if (call) call(chosen);
}
