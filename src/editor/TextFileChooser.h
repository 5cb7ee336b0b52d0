#pragma once

#include <functional>
#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/TextNameFilter.h"

// A file chooser, opened asynchronously, that offers no name which is not text: the desktop's own
// chooser when one is installed (it lists folders itself), otherwise the framework's browser with a
// TextNameFilter on files and folders alike. The chosen paths come back as the framework built them,
// to be used by their bytes. Destroying the chooser closes it without calling back. Message thread
// only.
class TextFileChooser
{
  public:
    // What the user chose, in order; nothing after a cancel.
    using Done = std::function<void(const juce::Array<juce::File>&)>;

    // flags are juce::FileBrowserComponent's; patterns the wildcards of the files offered ("*.qmbank").
    TextFileChooser(const juce::String& title, const juce::File& start, const juce::String& patterns,
                    int flags);
    ~TextFileChooser();

    void launch(Done onDone);

    // The framework's browser while it is open (no desktop chooser), else nullptr.
    juce::FileBrowserComponent* getBrowser() const noexcept { return browser.get(); }
    juce::Component* getDialog() const noexcept { return dialog.get(); }

  private:
    void finish(const juce::Array<juce::File>& chosen);

    juce::String title;
    juce::File start;
    juce::String patterns;
    int flags;
    Done done;
    std::unique_ptr<juce::FileChooser> desktop;
    TextNameFilter filter;
    std::unique_ptr<juce::FileBrowserComponent> browser;
    std::unique_ptr<juce::FileChooserDialogBox> dialog;

    JUCE_DECLARE_NON_COPYABLE(TextFileChooser)
};
