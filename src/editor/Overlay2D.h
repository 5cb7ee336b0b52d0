#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/Knob.h"
#include "editor/PluginEditor.h"
#include "editor/TextFileChooser.h"

class AboutComp;
class AlertComp;
class ColoredRect;
class ComponentImage;
class LogoButton;
class MenuButton;
class MenuCloseButton;
class OpenGLComp;
class SpaceCanvas;
class TopTab;

// Captions of the three page buttons, by page number.
extern const char* const menuName[3];

// The editor's main view over the whole root view: a top bar with the canvas-mode tabs and the
// logo, the sound-space canvas, a bottom bar with six performance knobs and three tilted page
// buttons, and at most one layer over a blurred picture of the canvas (a page or the About page),
// plus at most one message box. It handles the processor's events, forwards knob changes to the
// host as gestures and installs files dropped on the editor.
class Overlay2D : public juce::Component,
                  public juce::Button::Listener,
                  public Knob::Listener,
                  public juce::FileDragAndDropTarget,
                  public PluginEditor::EventHandler
{
  public:
    static constexpr int kNumPerfKnobs = 6;
    static constexpr int kNumTabs = 3;
    static constexpr int kNumMenus = 3;

    Overlay2D(OpenGLComp& root, PluginProcessor* processor);
    ~Overlay2D() override;

    // Called once by the root view right after construction.
    void initialise();
    void handleMessage(const SynthEvent* event) override;
    void updateCanvasView(float unused) override;

    // Wheel and pinch gestures over the overlay go nowhere, not even to the host.
    void mouseWheelMove(const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel) override;
    void mouseMagnify(const juce::MouseEvent& e, float scaleFactor) override;
    void paint(juce::Graphics& g) override;
    void resized() override;

    bool isInterestedInFileDrag(const juce::StringArray& files) override;
    void filesDropped(const juce::StringArray& files, int x, int y) override;

    void buttonClicked(juce::Button* button) override;
    void knobChanged(int paramIndex, float value, ChangeType type) override;

    // 0, 1, 2 open that page; any other value closes the open page.
    void setActiveMenu(int menu);
    // Removes every layer and shows the bare canvas.
    void clearOverlays();
    // Recomputes the activity dots of page button menu (0 to 2) from the engine's parameters.
    void updateMenuButton(int menu);
    // Shows text in the message box over everything (replacing any box already shown).
    void showAlert(const juce::String& text);
    // Opens chooser (replacing any chooser still open) and calls onChosen with the file the user
    // picks; a cancelled dialog calls nothing, nor does one that ends after the editor is gone. The
    // overlay keeps the chooser, so closing a page does not cancel it.
    void launchChooser(std::unique_ptr<TextFileChooser> chooser,
                       std::function<void(const juce::File&)> onChosen);
    TextFileChooser* getChooser() const noexcept { return fileChooser.get(); }

    // ---- children, for the pages and the tests ----
    Knob* getPerfKnob(int slot) const { return perfKnobs[static_cast<size_t>(slot)].get(); }
    const std::map<int, int>& getKnobSlots() const noexcept { return knobSlots; }
    SpaceCanvas* getSpaceCanvas() const noexcept { return spaceCanvas.get(); }
    AlertComp* getAlert() const noexcept { return alert.get(); }
    TopTab* getTopTab(int i) const { return topTabs[static_cast<size_t>(i)].get(); }
    LogoButton* getLogoButton() const noexcept { return logoButton.get(); }
    MenuButton* getMenuButton(int i) const { return menuButtons[i]; }
    MenuCloseButton* getCloseButton() const noexcept { return closeButton.get(); }
    juce::Component* getMenuPage() const noexcept { return menuPage.get(); }
    AboutComp* getAboutComp() const noexcept { return aboutComp.get(); }
    ComponentImage* getBackdrop() const noexcept { return backdrop.get(); }
    const juce::Image& getBackgroundImage() const noexcept { return backgroundImage; }
    // Host indices whose gesture has begun and not yet ended.
    const std::set<int>& getOpenGestures() const noexcept { return openGestures; }

  private:
    void paintBackground();
    void highlightTabs(int mode);
    // A new blurred picture of the canvas behind a layer (none when there is no canvas).
    void takeBackdrop();
    void closePage();
    void endOpenGestures();
    void toggleAbout();

    std::unique_ptr<ComponentImage> backdrop;
    juce::Image backgroundImage;
    OpenGLComp& rootView;
    PluginProcessor* processor;
    std::array<std::unique_ptr<Knob>, kNumPerfKnobs> perfKnobs;
    std::map<int, int> knobSlots; // engine parameter index -> performance knob
    std::unique_ptr<SpaceCanvas> spaceCanvas;
    std::unique_ptr<AlertComp> alert;
    std::array<std::unique_ptr<TopTab>, kNumTabs> topTabs;
    std::unique_ptr<LogoButton> logoButton;
    std::unique_ptr<ColoredRect> topBar;
    std::unique_ptr<ColoredRect> bottomBar;
    juce::OwnedArray<MenuButton> menuButtons;
    std::unique_ptr<MenuCloseButton> closeButton;
    std::unique_ptr<juce::Component> menuPage;
    std::unique_ptr<AboutComp> aboutComp;
    std::set<int> openGestures;
    std::unique_ptr<TextFileChooser> fileChooser;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(Overlay2D)
};
