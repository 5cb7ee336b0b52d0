#include "editor/Overlay2D.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "canvas/SpaceCanvas.h"
#include "editor/AboutComp.h"
#include "editor/AlertComp.h"
#include "editor/ComponentImage.h"
#include "editor/EditorFonts.h"
#include "editor/FxComp.h"
#include "editor/Modul8Menu.h"
#include "editor/OpenGLComp.h"
#include "editor/SettingsComp.h"
#include "editor/TopBarButtons.h"

const char* const menuName[3] = {"SETTINGS", "MODUL-8", "EFFECTS"};

namespace
{
const juce::Colour kPerfKnobColour{0xffffb2c9u};

constexpr int kTopBarHeight = 50;
constexpr int kBottomBarTop = 426;
constexpr int kBottomBarHeight = 78;
constexpr int kCanvasWidth = 630;
constexpr int kCanvasHeight = 376;
constexpr int kTabGap = 5;
constexpr int kKnobLeft = 8;
constexpr int kKnobTop = 432;
constexpr int kKnobWidth = 76;
constexpr int kKnobHeight = 68;
constexpr float kKnobSize = 46.0f;
constexpr int kMenuButtonRight = 564;
constexpr int kMenuButtonPitch = 40;
constexpr int kMenuButtonTop = 478;
constexpr int kMenuButtonWidth = 62;
constexpr int kMenuButtonHeight = 23;
constexpr float kMenuHue = 0.95f;
constexpr juce::Point<float> kBackdropScale{0.125f, 0.125f};
constexpr float kBackdropSigma = 1.7f;
constexpr int kBackdropKernel = 5;
constexpr int kCloseSize = 16;
constexpr float kHighlightStep = 0.02f;
constexpr int kSettingsDots = 8;
constexpr int kModDots = kModSlotCount;
constexpr int kFxDots = kNumFxUnits;

const char* const kTabTexts[3] = {"Explore", "XY Pad", "Keyboard"};

// One soft glow per colour channel over a dark ground, in image units (y up).
struct Glow
{
    float cx, cy, amplitude, floor;
};
constexpr Glow kGlows[3] = {
    {-0.1f, 0.3f, 0.08f, 0.06f}, {0.45f, 0.0f, 0.23f, 0.04f}, {0.55f, 0.0f, 0.25f, 0.14f}};
// One draw of the dither, scaled to less than one colour level.
constexpr float kDitherScale = 9.130614e-13f;

float unitLevel(float v) noexcept
{
    return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f;
}
} // namespace

Overlay2D::Overlay2D(OpenGLComp& root, PluginProcessor* p)
    : backgroundImage(juce::Image::ARGB, PluginEditor::kDesignWidth / 2, PluginEditor::kDesignHeight / 2,
                      false, juce::SoftwareImageType()),
      rootView(root), processor(p)
{
    topBar =
        std::make_unique<ColoredRect>(PluginEditor::kDesignWidth, kTopBarHeight,
                                      juce::ColourGradient(juce::Colour(0x7f000000u), 0.0f, 0.0f,
                                                           juce::Colour(0x00000000u), 504.0f, 0.0f, false));
    topBar->setTopLeftPosition(0, 0);
    bottomBar =
        std::make_unique<ColoredRect>(PluginEditor::kDesignWidth, kBottomBarHeight,
                                      juce::ColourGradient(juce::Colour(0x00000000u), 63.0f, 0.0f,
                                                           juce::Colour(0x7f000000u), 630.0f, 0.0f, false));
    bottomBar->setTopLeftPosition(0, kBottomBarTop);
    addAndMakeVisible(*topBar);
    addAndMakeVisible(*bottomBar);

    const juce::Font tabFont =
        getEditorFont(EditorFace::robotoMono, 22.0f).withExtraKerningFactor(0.1f).withHorizontalScale(1.1f);
    int x = 0;
    for (int i = 0; i < kNumTabs; ++i)
    {
        auto tab = std::make_unique<TopTab>("toptab");
        tab->text = juce::String(kTabTexts[i]).toUpperCase();
        const int tw = static_cast<int>(std::ceil(tabFont.getStringWidthFloat(tab->text)));
        tab->index = i;
        tab->highlight = 0.0f;
        tab->textArea = {5, 15, tw + 10, 30};
        tab->font = tabFont;
        tab->setSize(tw + 15, kTopBarHeight);
        tab->addListener(this);
        tab->setTopLeftPosition(x, 0);
        addAndMakeVisible(*tab);
        x += tab->getWidth() + kTabGap;
        topTabs[static_cast<size_t>(i)] = std::move(tab);
    }

    logoButton = std::make_unique<LogoButton>("logoButton");
    logoButton->setTopLeftPosition(PluginEditor::kDesignWidth - logoButton->getWidth(), 0);
    logoButton->addListener(this);
    addAndMakeVisible(*logoButton);

    spaceCanvas =
        std::make_unique<SpaceCanvas>(&processor->nodeCanvas, kCanvasWidth, kCanvasHeight, processor);
    addAndMakeVisible(*spaceCanvas);
    spaceCanvas->setTopLeftPosition(0, kTopBarHeight);

    auto& params = processor->dsp->params;
    for (int i = 0; i < kNumPerfKnobs; ++i)
    {
        const Param* param = &params[static_cast<size_t>(i)];
        auto knob = std::make_unique<Knob>(param, kKnobWidth, kKnobHeight, kKnobSize, Knob::performanceDial,
                                           juce::String(), this);
        knob->knobColour = kPerfKnobColour;
        knob->setBounds(kKnobLeft + kKnobWidth * i, kKnobTop, kKnobWidth, kKnobHeight);
        addAndMakeVisible(*knob);
        knobSlots[param->index] = i;
        perfKnobs[static_cast<size_t>(i)] = std::move(knob);
    }

    const juce::Font menuFont = getEditorFont(EditorFace::robotoBold, 10.0f);
    for (int i = 0; i < kNumMenus; ++i)
    {
        auto* button = menuButtons.add(std::make_unique<MenuButton>("MenuButton"));
        button->text = menuName[i];
        button->hue = kMenuHue;
        button->active = false;
        button->faceGradient =
            juce::ColourGradient(juce::Colour(0xff1f1f1fu), 0.0f, 0.0f, juce::Colour(0xff050505u), 0.0f,
                                 static_cast<float>(kMenuButtonHeight), false);
        button->font = menuFont;
        button->setSize(kMenuButtonWidth, kMenuButtonHeight);
        const int bx = kMenuButtonRight - kMenuButtonPitch * (kNumMenus - 1 - i);
        button->setTopLeftPosition(bx, kMenuButtonTop);
        // Rises to the upper right about its own top-left corner.
        button->setTransform(juce::AffineTransform::rotation(-juce::MathConstants<float>::pi / 4.0f,
                                                             static_cast<float>(bx), kMenuButtonTop));
        button->addListener(this);
        addAndMakeVisible(button);
        updateMenuButton(i);
    }

    setSize(rootView.getWidth(), rootView.getHeight());
    setOpaque(true);
    paintBackground();

    const juce::String pending = processor->takePendingMessage();
    if (pending.isNotEmpty()) showAlert(pending);
}

Overlay2D::~Overlay2D()
{
    // The host must not be left with a gesture that never ends (the editor closed mid-drag).
    endOpenGestures();
}

// Three glows, one per channel, with a dither of less than one level so the soft gradients show
// no bands. The seed differs between editors.
void Overlay2D::paintBackground()
{
    const int w = backgroundImage.getWidth();
    const int h = backgroundImage.getHeight();
    auto s = static_cast<juce::uint32>(std::clock());
    const juce::Image::BitmapData pixels(backgroundImage, juce::Image::BitmapData::writeOnly);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            const float u = static_cast<float>(x) / static_cast<float>(w);
            const float v = static_cast<float>(h - y) / static_cast<float>(h);
            juce::uint32 channel[3];
            for (int c = 0; c < 3; ++c)
            {
                s = s * 1664525u + 1013904223u;
                const Glow& glow = kGlows[c];
                const float d = std::sqrt((u - glow.cx) * (u - glow.cx) + (v - glow.cy) * (v - glow.cy));
                const float level =
                    glow.amplitude / (1.0f + 1.5f * d) + glow.floor + static_cast<float>(s) * kDitherScale;
                channel[c] = static_cast<juce::uint32>(255.0f * level);
            }
            pixels.setPixelColour(
                x, y, juce::Colour(0xff000000u | channel[0] << 16 | channel[1] << 8 | channel[2]));
        }
}

void Overlay2D::initialise()
{
    updateCanvasView(0.0f);
    if (processor->dsp->sounds.empty())
        showAlert("Warning: no sounds were found. Please reinstall Quillmoor.");
}

void Overlay2D::showAlert(const juce::String& text)
{
    alert.reset();
    alert = std::make_unique<AlertComp>(this, text);
    addAndMakeVisible(*alert);
}

void Overlay2D::launchChooser(std::unique_ptr<TextFileChooser> chooser,
                              std::function<void(const juce::File&)> onChosen)
{
    fileChooser = std::move(chooser);
    juce::Component::SafePointer<Overlay2D> self(this);
    fileChooser->launch(
        [self, onChosen = std::move(onChosen)](const juce::Array<juce::File>& chosen)
        {
            // Only the path's first byte is looked at: the handlers read the path by its bytes.
            if (self != nullptr && !chosen.isEmpty() && chosen.getFirst().getFullPathName().isNotEmpty())
                onChosen(chosen.getFirst());
        });
}

void Overlay2D::handleMessage(const SynthEvent* event)
{
    if (event == nullptr) return;
    if (spaceCanvas != nullptr) spaceCanvas->handleMessage(event);
    switch (event->kind)
    {
    case kSynthEventParamChanged:
        if (const auto it = knobSlots.find(event->index); it != knobSlots.end())
            perfKnobs[static_cast<size_t>(it->second)]->repaint();
        if (auto* settings = dynamic_cast<SettingsComp*>(menuPage.get()))
            settings->paramMessage(event->index, event->value);
        break;
    case kSynthEventPresetsChanged:
        for (int i = 0; i < kNumMenus; ++i)
            updateMenuButton(i);
        repaint();
        break;
    case kSynthEventSaveFailed:
        showAlert("Couldn't save to file! Sorry.");
        break;
    case kSynthEventMessageWaiting:
        if (const juce::String pending = processor->takePendingMessage(); pending.isNotEmpty())
            showAlert(pending);
        break;
    default:
        break;
    }
}

void Overlay2D::highlightTabs(int mode)
{
    for (int i = 0; i < kNumTabs; ++i)
    {
        TopTab& tab = *topTabs[static_cast<size_t>(i)];
        const float target = i == mode ? 1.0f : 0.0f;
        if (std::abs(target - tab.highlight) > kHighlightStep)
        {
            tab.highlight = target;
            tab.repaint();
        }
    }
}

void Overlay2D::updateCanvasView(float)
{
    int mode = 0;
    {
        const juce::ScopedLock lock(processor->stateLock);
        mode = processor->nodeCanvas.mode;
    }
    highlightTabs(mode);
    if (spaceCanvas != nullptr) spaceCanvas->canvasModeChanged(false);
}

void Overlay2D::mouseWheelMove(const juce::MouseEvent&, const juce::MouseWheelDetails&) {}

void Overlay2D::mouseMagnify(const juce::MouseEvent&, float) {}

void Overlay2D::resized() {}

void Overlay2D::paint(juce::Graphics& g)
{
    if (!backgroundImage.isValid() || g.getClipBounds().isEmpty()) return;
    g.drawImageTransformed(
        backgroundImage, juce::AffineTransform::scale(
                             static_cast<float>(PluginEditor::kDesignWidth) / backgroundImage.getWidth(),
                             static_cast<float>(PluginEditor::kDesignHeight) / backgroundImage.getHeight()));
}

bool Overlay2D::isInterestedInFileDrag(const juce::StringArray&)
{
    return true;
}

void Overlay2D::filesDropped(const juce::StringArray& files, int, int)
{
    juce::String text;
    for (int i = 0; i < files.size(); ++i)
    {
        text += PluginProcessor::addDataFromFilePath(files[i]);
        if (i + 1 < files.size()) text += "\n";
    }
    showAlert(text);
}

void Overlay2D::knobChanged(int paramIndex, float, ChangeType type)
{
    auto& params = processor->dsp->params;
    if (paramIndex < 0 || paramIndex >= static_cast<int>(params.size())) return;
    const Param& p = params[static_cast<size_t>(paramIndex)];

    if (p.isHostParam && p.hostIndex >= 0)
        if (PluginParam* host = processor->getHostParam(p.hostIndex))
        {
            using Step = PluginParam::EditorGesture;
            const int h = p.hostIndex;
            // A gesture is begun once and ended once: a second start only reports, and an end
            // without a start (the effect switches report one) only reports.
            if (type == dragStart)
                host->reportEditorValue(openGestures.insert(h).second ? Step::gestureStart
                                                                      : Step::gestureChange);
            else if (type == dragEnd)
                host->reportEditorValue(openGestures.erase(h) > 0 ? Step::gestureEnd : Step::gestureChange);
            else
                host->reportEditorValue(Step::gestureChange);
        }

    // Once per edit, host parameters included: some hosts (Ardour with LV2) do not count a
    // parameter the plug-in reports as a change of their project.
    if (type == dragEnd || type == singleChange) processor->notifyStateChanged();

    if (paramIndex == params[kParamPolyphony].index)
        updateMenuButton(0);
    else if (paramIndex >= params[kFirstLfoParam].index && paramIndex <= params[kNumEngineParams - 1].index)
        updateMenuButton(1);
    else if (paramIndex >= params[kFirstFxSwitch].index &&
             paramIndex <= params[kFirstFxSwitch + kNumFxUnits - 1].index)
        updateMenuButton(2);
}

void Overlay2D::endOpenGestures()
{
    for (const int h : openGestures)
        if (PluginParam* host = processor->getHostParam(h)) host->endChangeGesture();
    openGestures.clear();
}

void Overlay2D::buttonClicked(juce::Button* b)
{
    for (int i = 0; i < kNumTabs; ++i)
        if (b == topTabs[static_cast<size_t>(i)].get())
        {
            clearOverlays();
            bool changed = false;
            {
                const juce::ScopedLock lock(processor->stateLock);
                changed = processor->nodeCanvas.mode != i;
                processor->nodeCanvas.mode = i;
            }
            processor->sendNodeCanvasToDSP();
            if (changed) processor->notifyStateChanged();
            if (spaceCanvas != nullptr) spaceCanvas->canvasModeChanged(false);
            highlightTabs(i);
            return;
        }
    for (int i = 0; i < kNumMenus; ++i)
        if (b == menuButtons[i])
        {
            setActiveMenu(menuButtons[i]->active ? -1 : i);
            return;
        }
    if (b == logoButton.get())
        toggleAbout();
    else if (b != nullptr && b == closeButton.get())
        setActiveMenu(-1);
}

void Overlay2D::takeBackdrop()
{
    if (spaceCanvas == nullptr) return;
    backdrop.reset();
    backdrop = std::make_unique<ComponentImage>(getWidth(), getHeight(), *spaceCanvas, kBackdropScale,
                                                juce::Image::ARGB);
    backdrop->blur(kBackdropSigma, kBackdropKernel);
    addAndMakeVisible(*backdrop);
}

void Overlay2D::closePage()
{
    // A page closing mid-drag leaves no gesture open on the host.
    endOpenGestures();
    menuPage.reset();
}

void Overlay2D::toggleAbout()
{
    if (aboutComp != nullptr)
    {
        aboutComp.reset();
        if (backdrop != nullptr) removeChildComponent(backdrop.get());
        if (spaceCanvas != nullptr) spaceCanvas->setVisible(true);
        return;
    }
    takeBackdrop();
    closePage();
    if (closeButton != nullptr) closeButton->setVisible(false);
    for (auto* button : menuButtons)
    {
        button->active = false;
        button->repaint();
    }
    aboutComp = std::make_unique<AboutComp>(processor);
    aboutComp->setBounds(0, kTopBarHeight, kCanvasWidth, kCanvasHeight);
    addAndMakeVisible(*aboutComp);
    if (spaceCanvas != nullptr) spaceCanvas->setVisible(false);
}

void Overlay2D::setActiveMenu(int menu)
{
    const bool open = static_cast<unsigned>(menu) < static_cast<unsigned>(kNumMenus);
    if (!open)
    {
        backdrop.reset();
        closePage();
    }
    else
    {
        takeBackdrop();
        closePage();
        if (menu == 0)
            menuPage = std::make_unique<SettingsComp>(processor, this);
        else if (menu == 1)
            menuPage = std::make_unique<Modul8Menu>(processor, this);
        else
            menuPage = std::make_unique<FxComp>(processor, this);
        menuPage->setTopLeftPosition(0, kTopBarHeight);
        addAndMakeVisible(*menuPage);

        closeButton.reset();
        closeButton = std::make_unique<MenuCloseButton>("MenuCloseButton");
        closeButton->setSize(kCloseSize, kCloseSize);
        closeButton->path.startNewSubPath(4.0f, 4.0f);
        closeButton->path.lineTo(12.0f, 12.0f);
        closeButton->path.closeSubPath();
        closeButton->path.startNewSubPath(12.0f, 4.0f);
        closeButton->path.lineTo(4.0f, 12.0f);
        closeButton->path.closeSubPath();
        closeButton->setTopLeftPosition(menuPage->getRight() - 24, menuPage->getY() + 8);
        addChildComponent(*closeButton);
        closeButton->addListener(this);
    }

    aboutComp.reset();
    if (spaceCanvas != nullptr) spaceCanvas->setVisible(!open);
    for (int j = 0; j < kNumMenus; ++j)
    {
        menuButtons[j]->active = j == menu;
        menuButtons[j]->repaint();
    }
    if (closeButton != nullptr) closeButton->setVisible(open);
}

void Overlay2D::clearOverlays()
{
    backdrop.reset();
    if (spaceCanvas != nullptr) spaceCanvas->setVisible(true);
    aboutComp.reset();
    closePage();
    closeButton.reset();
    for (auto* button : menuButtons)
        if (button->active)
        {
            button->active = false;
            button->repaint();
        }
}

void Overlay2D::updateMenuButton(int menu)
{
    if (static_cast<unsigned>(menu) >= static_cast<unsigned>(kNumMenus)) return;
    const auto& params = processor->dsp->params;
    const auto value = [&params](int index) { return params[static_cast<size_t>(index)].value; };
    std::vector<float> levels;
    if (menu == 0)
        for (int k = 0; k < kSettingsDots; ++k)
            levels.push_back(static_cast<float>(k) < value(kParamPolyphony) - 0.5f ? 1.0f : 0.0f);
    else if (menu == 1)
        for (int k = 0; k < kModDots; ++k)
        {
            const int slot = kFirstModSlotParam + kParamsPerModSlot * k;
            // A value that is not a number counts as set.
            const bool used = value(slot + kModParamSource) != 0.0f && value(slot + kModParamAmount) != 0.0f;
            levels.push_back(used ? 1.0f : 0.0f);
        }
    else
        for (int k = 0; k < kFxDots; ++k)
            levels.push_back(unitLevel(value(kFirstFxSwitch + k)));

    MenuButton& button = *menuButtons[menu];
    button.dots = std::move(levels);
    button.numDots = static_cast<int>(button.dots.size());
    button.repaint();
}
