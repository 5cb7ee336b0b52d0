#include "editor/PluginEditor.h"

#include <cmath>

#include "editor/MyLookAndFeel.h"
#include "editor/OpenGLComp.h"
#include "editor/Overlay2D.h"

namespace
{
constexpr int kCornerSize = 16;
// Displays denser than this (dots per inch per unit of scale) open the editor larger.
constexpr float kPlainDisplayRatio = 100.0f;
constexpr float kRatioPerScale = 80.0f;
constexpr float kMaxOpenScale = 2.0f;
constexpr float kDisplayShare = 0.9f;
// 630 x 504 is 5 x 4 steps of 126 pixels; sizes keep that grid.
constexpr int kSizeStep = 126;
constexpr double kAspectRatio = 1.25;

bool withinLimits(juce::Point<int> size)
{
    return size.x >= PluginEditor::kMinWidth && size.x <= PluginEditor::kMaxWidth &&
           size.y >= PluginEditor::kMinHeight && size.y <= PluginEditor::kMaxHeight;
}

const juce::Displays::Display* mainDisplay()
{
    const auto& displays = juce::Desktop::getInstance().getDisplays();
    if (const auto* primary = displays.getPrimaryDisplay()) return primary;
    return displays.displays.isEmpty() ? nullptr : &displays.displays.getReference(0);
}
} // namespace

juce::Point<int> PluginEditor::chooseFirstSize(juce::Point<int> saved, const juce::Displays::Display* display)
{
    const juce::Point<int> design{kDesignWidth, kDesignHeight};
    if (withinLimits(saved)) return saved;
    if (display == nullptr || !(display->dpi > 0.0) || !(display->scale > 0.0)) return design;
    const auto ratio = static_cast<float>(display->dpi / display->scale);
    const juce::Rectangle<int> area = display->totalArea;
    if (!std::isfinite(ratio) || ratio <= kPlainDisplayRatio || area.getWidth() <= 0 || area.getHeight() <= 0)
        return design;
    const float factor = std::min(kMaxOpenScale, ratio / kRatioPerScale);
    const float fit = kDisplayShare * std::min(static_cast<float>(area.getWidth()) / kDesignWidth,
                                               static_cast<float>(area.getHeight()) / kDesignHeight);
    const float s = std::min(factor, fit);
    const int k = juce::jlimit(kMinWidth / 5, kMaxWidth / 5, static_cast<int>(kSizeStep * s + 0.5f));
    return {5 * k, 4 * k};
}

PluginEditor::PluginEditor(PluginProcessor* p)
    : juce::AudioProcessorEditor(p), processor(p), eventReader(p->eventQueue.makeReader())
{
    setOpaque(true);

    lookAndFeel = std::make_unique<MyLookAndFeel>();
    // The editor's own look, inherited by its views, and the default for popups and the rest. When
    // another editor closes and the default falls back, this one keeps its look.
    setLookAndFeel(lookAndFeel.get());
    juce::LookAndFeel::setDefaultLookAndFeel(lookAndFeel.get());

    const juce::Point<int> size =
        chooseFirstSize({processor->editorWidth, processor->editorHeight}, mainDisplay());

    root = std::make_unique<OpenGLComp>(kDesignWidth, kDesignHeight, processor);
    addAndMakeVisible(*root);
    eventHandler = root->getOverlay();

    constrainer.setSizeLimits(kMinWidth, kMinHeight, kMaxWidth, kMaxHeight);
    constrainer.setFixedAspectRatio(kAspectRatio);
    // Hosts size the editor through the corner's constrainer, 5:4, except under LV2: its wrapper
    // passes every size the host gives through the constrainer, and hosts need not grant the size it
    // then asks for, so a fixed shape there would leave the editor larger than the window the host
    // really shows. There hosts get the same limits in any shape; the picture fits any window.
    hostLimits.setSizeLimits(kMinWidth, kMinHeight, kMaxWidth, kMaxHeight);
    const bool lv2 = processor->wrapperType == juce::AudioProcessor::wrapperType_LV2;
    setConstrainer(lv2 ? &hostLimits : &constrainer);
    setResizable(true, false);

    resizeCorner = std::make_unique<juce::ResizableCornerComponent>(this, &constrainer);
    addAndMakeVisible(*resizeCorner);

    setSize(size.x, size.y);

    processor->addChangeListener(this);
    startTimer(kDrainIntervalMs);

    analytics = std::make_unique<AnalyticsThread>(processor);
    analytics->startThread();
}

PluginEditor::~PluginEditor()
{
    // No drain after this point.
    stopTimer();
    processor->removeChangeListener(this);
    // An open menu may be drawing with this editor's look.
    juce::PopupMenu::dismissAllActiveMenus();

    removeAllChildren();
    resizeCorner.reset();
    analytics.reset();
    eventHandler = nullptr;
    root.reset();

    setLookAndFeel(nullptr);
    if (&juce::LookAndFeel::getDefaultLookAndFeel() == lookAndFeel.get())
        juce::LookAndFeel::setDefaultLookAndFeel(nullptr);
    lookAndFeel.reset();
}

void PluginEditor::paint(juce::Graphics& g)
{
    g.fillAll(kEditorGround);
}

void PluginEditor::resized()
{
    const int w = getWidth();
    const int h = getHeight();
    if (resizeCorner != nullptr)
        resizeCorner->setBounds(w - kCornerSize, h - kCornerSize, kCornerSize, kCornerSize);
    // A window without width (a host's passing state) keeps the last scale and saved size.
    if (w <= 0 || h <= 0) return;

    const float v = editorScaleFor(w, h);
    if (root != nullptr)
    {
        // Within 1 % of the design size the picture stays pixel for pixel. It keeps the window's
        // top left, so the picture's coordinates differ from the window's by the scale alone.
        const float s = (v > 0.99f && v < 1.01f) ? 1.0f : v;
        root->setTransform(juce::AffineTransform::scale(s));
    }
    processor->editorWidth = w;
    processor->editorHeight = h;
    if (lookAndFeel != nullptr) lookAndFeel->editorScale = v;
}

void PluginEditor::changeListenerCallback(juce::ChangeBroadcaster* source)
{
    if (processor == nullptr || source != static_cast<juce::ChangeBroadcaster*>(processor)) return;
    drainEvents();
}

void PluginEditor::timerCallback()
{
    if (eventReader.hasNew()) drainEvents();
}

void PluginEditor::drainEvents()
{
    if (eventHandler == nullptr) return;
    // Events pushed while the drain runs are handled in it, up to the bound.
    const int bound = kDrainRingLengths * processor->eventQueue.slotCount();
    SynthEvent event;
    for (int n = 0; n < bound && eventReader.readNext(event); ++n)
        eventHandler->handleMessage(&event);
    eventHandler->updateCanvasView(0.0f);
}
