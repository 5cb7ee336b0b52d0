#include "canvas/SpaceCanvas.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "canvas/CanvasIcons.h"
#include "editor/ColourBytes.h"
#include "editor/EditorFonts.h"
#include "editor/EditorScale.h"
#include "engine/Random.h"
#include "engine/canvas/MultiDimScaler.h"
#include "engine/params/ParamTable.h"
#include "platform/DesktopOpener.h"
#include "processor/NameText.h"
#include "processor/PluginProcessor.h"

namespace
{
constexpr int kMaxCategories = 128;
constexpr Point2D kSpaceLo{0.12f, 0.27f};
constexpr Point2D kSpaceHi{0.83f, 0.72f};
const juce::Colour kBoxColour(0x99000000u);

void pushMix(PluginProcessor* processor, const NodeMix& mix)
{
    if (processor == nullptr) return;
    processor->setPresetName({});
    processor->mixQueue.push(mix);
}
} // namespace

SpaceCanvas::SpaceCanvas(NodeCanvasData* c, int width, int height, PluginProcessor* p)
    : clock([] { return juce::Time::getMillisecondCounterHiRes() * 0.001; }),
      revealFolder([](const juce::File& folder) { openWithDesktop(folder.getFullPathName().toStdString()); }),
      canvas(c), processor(p)
{
    setSize(width, height);
    nodeBounds = {2, 2, width - 4, height - 4};
    if (KeySpaceDSP* dsp = engine()) voiceReader = dsp->voiceSnapshots.makeReader();

    nodeComp = std::make_unique<SpaceNodeComp>();
    nodeComp->setBounds(0, 0, width, height);
    nodeComp->listener = this;
    nodeComp->canvasLock = &processor->stateLock;
    nodeComp->font = getEditorFont(EditorFace::robotoMedium, 13.0f);
    const float s = static_cast<float>(std::max(width, height));
    nodeComp->scale = {s, -s};
    nodeComp->offset = {(static_cast<float>(width) - s) / 2, (static_cast<float>(height) + s) / 2};
    {
        const juce::ScopedLock lock(processor->stateLock);
        nodeComp->setNodes(canvas, engine());
    }
    addAndMakeVisible(*nodeComp);

    browser = std::make_unique<SpaceBrowser>(this, processor, height);
    browser->setTopLeftPosition(0, 0);
    addAndMakeVisible(*browser);

    canvasModeChanged(true);
    startTimer(33);

    voxNodes = std::make_unique<VoxNodesComp>();
    voxNodes->setBounds(0, 0, 0, 0);
    addAndMakeVisible(*voxNodes);
}

SpaceCanvas::~SpaceCanvas()
{
    endGesture();
    stopTimer();
    nodeTriangle.reset();
    pianoRoll.reset();
    transitionTo.reset();
    transitionFrom.reset();
    theseButton.reset();
    allButton.reset();
    topButton.reset();
    alert.reset();
    saveBox.reset();
    browser.reset();
    noteMarkers.clear();
    nodeComp.reset();
    voxNodes.reset();
    categoryLabels.clear();
}

KeySpaceDSP* SpaceCanvas::engine() const
{
    return processor != nullptr ? processor->dsp.get() : nullptr;
}

float SpaceCanvas::editorScale() const
{
    // The editor stores its size once it has been laid out; until then it is the design size.
    return processor != nullptr ? editorScaleFor(processor->editorWidth, processor->editorHeight) : 1.0f;
}

void SpaceCanvas::showAlert(const juce::String& message)
{
    juce::Component* host = getParentComponent() != nullptr ? getParentComponent() : this;
    alert.reset();
    alert = std::make_unique<AlertComp>(host, message);
    host->addAndMakeVisible(*alert);
}

// ---- timer and paint ----------------------------------------------------------------------------

void SpaceCanvas::timerCallback()
{
    const double now = clock();
    if (voxNodes == nullptr) return;

    const int oldCount = voxNodes->dotCount;
    const auto oldPos = voxNodes->dotPos;
    const auto oldColour = voxNodes->dotColour;
    voxNodes->dotCount = 0;

    if (transitionFrom != nullptr)
    {
        const float t = static_cast<float>((now - transitionStart) / kTransitionSeconds);
        if (t >= 1.0f)
        {
            transitionFrom.reset();
            transitionTo.reset();
            if (nodeComp != nullptr) nodeComp->setVisible(true);
        }
        else
        {
            const float a = 1.6f * t;
            const float halfPi = juce::MathConstants<float>::halfPi;
            transitionFrom->setPinch(1.0f - std::cos(std::min(a, 1.0f) * halfPi), transitionAngle);
            if (transitionTo != nullptr)
                transitionTo->setPinch(1.0f - std::sin(std::max(a - 0.6f, 0.0f) * halfPi), transitionAngle);
        }
        repaint();
    }
    else
    {
        voiceReader.readNewest(voices);
        const juce::ScopedLock lock(processor->stateLock);
        if (canvas != nullptr && canvas->mode == kCanvasModeXYPad && nodeComp != nullptr)
        {
            const int count = std::clamp(static_cast<int>(voices.count), 0, kMaxVoices);
            for (int i = 0; i < count; ++i)
            {
                const VoiceDot& v = voices.voices[static_cast<size_t>(i)];
                if (v.state != 1 && v.state != 2) continue;
                voxNodes->addDot(nodeComp->toPixels(v.mix.point),
                                 getMixColour(v.mix, (1.0f - v.level) * 0.7f, true));
            }
        }
    }

    bool changed = voxNodes->dotCount != oldCount;
    for (int i = 0; !changed && i < oldCount; ++i)
        changed = voxNodes->dotPos[static_cast<size_t>(i)] != oldPos[static_cast<size_t>(i)] ||
                  voxNodes->dotColour[static_cast<size_t>(i)] != oldColour[static_cast<size_t>(i)];
    if (changed) voxNodes->dirty = true;
    voxNodes->refresh();
}

void SpaceCanvas::paint(juce::Graphics& g)
{
    if (canvas == nullptr || nodeComp == nullptr) return;
    const juce::ScopedLock lock(processor->stateLock);
    const int mode = canvas->mode;
    if (mode != kCanvasModeXYPad && mode != kCanvasModeKeyboard) return;
    const auto a = nodeComp->toPixels(canvas->lo[static_cast<size_t>(mode)]);
    const auto b = nodeComp->toPixels(canvas->hi[static_cast<size_t>(mode)]);
    const float x0 = std::round(a.x), y0 = std::round(a.y), x1 = std::round(b.x), y1 = std::round(b.y);
    const juce::Rectangle<float> box(juce::Point<float>{x0, y0}, juce::Point<float>{x1, y1});
    g.setColour(kBoxColour);
    g.fillRect(box);
    g.setFont(getEditorFont(EditorFace::robotoBlack, 24.0f));
    if (mode != kCanvasModeXYPad) return;
    const int left = static_cast<int>(box.getX()), bottom = static_cast<int>(box.getBottom());
    const int width = static_cast<int>(box.getWidth()), height = static_cast<int>(box.getHeight());
    g.drawText("MORPH X", left, bottom, width, 24, juce::Justification::centredRight, true);
    const float px = static_cast<float>(left - 24), py = static_cast<float>(bottom);
    g.addTransform(juce::AffineTransform::rotation(-juce::MathConstants<float>::halfPi, px, py));
    g.drawText("MORPH Y", left - 24, bottom, height, 24, juce::Justification::centredRight, true);
    g.addTransform(juce::AffineTransform::rotation(juce::MathConstants<float>::halfPi, px, py));
}

// ---- node set -----------------------------------------------------------------------------------

void SpaceCanvas::updateNodes(bool sendToEngine)
{
    if (canvas == nullptr) return;
    {
        const juce::ScopedLock lock(processor->stateLock);
        if (canvas->dirty != 0) canvas->triangulate();
        if (nodeComp != nullptr) nodeComp->setNodes(canvas, engine());
    }
    if (sendToEngine) processor->sendNodeCanvasToDSP();
    const juce::ScopedLock lock(processor->stateLock);
    if (nodeTriangle != nullptr) nodeTriangle->setTriangle(canvas->currentMix, canvas, nodeComp.get());
    if (canvas->nodeCount > 0) setSoundSpaceShown(true);
    repaint();
}

void SpaceCanvas::setSoundSpaceShown(bool shown)
{
    for (auto* label : categoryLabels)
        label->setVisible(!shown);
    if (nodeTriangle != nullptr) nodeTriangle->setVisible(shown);
    for (auto* b : {topButton.get(), theseButton.get(), allButton.get()})
        if (b != nullptr) b->setVisible(shown);
}

juce::Colour SpaceCanvas::getMixColour(const NodeMix& mix, float alpha, bool soundIndices)
{
    KeySpaceDSP* dsp = engine();
    const int numSounds = dsp != nullptr ? static_cast<int>(dsp->sounds.size()) : 0;
    const int numNodes =
        canvas != nullptr ? std::clamp(static_cast<int>(canvas->nodeCount), 0, kMaxSoundNodes) : 0;
    float rgb[3] = {0.0f, 0.0f, 0.0f};
    const int count = std::clamp(static_cast<int>(mix.count), 0, kMaxMixNodes);
    for (int k = 0; k < count; ++k)
    {
        int id = mix.node[static_cast<size_t>(k)];
        if (!soundIndices)
        {
            if (id < 0 || id >= numNodes) continue;
            id = canvas->nodes[static_cast<size_t>(id)].soundId;
        }
        if (id < 0 || id >= numSounds) continue;
        const juce::Colour c(dsp->sounds[static_cast<size_t>(id)].colour);
        const float w = mix.weight[static_cast<size_t>(k)];
        const uint8_t bytes[3] = {c.getRed(), c.getGreen(), c.getBlue()};
        for (int ch = 0; ch < 3; ++ch)
        {
            const float v = bytes[ch] / 255.0f;
            rgb[ch] += w * v * v;
        }
    }
    return juce::Colour(alphaByte(std::sqrt(rgb[0])), alphaByte(std::sqrt(rgb[1])),
                        alphaByte(std::sqrt(rgb[2])), alphaByte(alpha));
}

// ---- morph point --------------------------------------------------------------------------------

void SpaceCanvas::mouseDown(const juce::MouseEvent& e)
{
    if (canvas == nullptr) return;
    int x = e.x, y = e.y;
    {
        const juce::ScopedLock lock(processor->stateLock);
        if (nodeComp != nullptr) pressPoint = nodeComp->toUnits(e.position.toInt().toFloat());
    }
    if (e.mods.isRightButtonDown())
    {
        const auto screen = e.getScreenPosition();
        showPopup(screen.x, screen.y, canvasPopup, -1);
        return;
    }
    bool entered = false;
    {
        const juce::ScopedLock lock(processor->stateLock);
        if (nodeComp != nullptr)
            for (int i = 0; i < std::clamp(static_cast<int>(canvas->nodeCount), 0, kMaxSoundNodes); ++i)
                if (nodeComp->toPixels(canvas->nodes[static_cast<size_t>(i)].pos)
                        .getDistanceSquaredFrom({static_cast<float>(x), static_cast<float>(y)}) < 100.0f)
                {
                    selectedNode = i;
                    break;
                }
        for (int k = 0; k < categoryLabels.size(); ++k)
        {
            const CategoryLabel* label = categoryLabels[k];
            if (!label->isVisible() || !label->getBounds().contains(x, y)) continue;
            if (KeySpaceDSP* dsp = engine())
                dsp->makeNodeCanvas(canvas, KeySpaceDSP::CategorySpace, k, kSpaceLo, kSpaceHi);
            setSoundSpaceShown(true);
            repaint();
            entered = true;
            break;
        }
    }
    if (entered)
    {
        // Reported with the point when the press ends.
        updateNodes(true);
        x = getWidth() / 2;
        y = getHeight() / 2;
    }
    updateMousePos(static_cast<float>(x), static_cast<float>(y), mouseDownEvent);
}

void SpaceCanvas::mouseDrag(const juce::MouseEvent& e)
{
    if (!e.mods.isRightButtonDown())
        updateMousePos(static_cast<float>(e.x), static_cast<float>(e.y), mouseDragEvent);
}

void SpaceCanvas::mouseUp(const juce::MouseEvent& e)
{
    if (!e.mods.isRightButtonDown())
    {
        updateMousePos(static_cast<float>(e.x), static_cast<float>(e.y), mouseUpEvent);
        selectedNode = -1;
        repaint();
    }
    // A release with another button held still ends the press's gesture.
    endGesture();
}

void SpaceCanvas::reportMorph(int step)
{
    // Both gestures open before either value is sent, and both values are sent before either closes,
    // so the host sees the point's two coordinates change inside one pair of gestures.
    std::array<PluginParam*, 2> hosts{};
    size_t count = 0;
    for (const int index : {kParamMorphX, kParamMorphY})
    {
        const Param& p = engine()->params[static_cast<size_t>(index)];
        if (!p.isHostParam || p.hostIndex < 0) continue;
        if (PluginParam* host = processor->getHostParam(p.hostIndex)) hosts[count++] = host;
    }
    if (step == 0)
        for (size_t i = 0; i < count; ++i)
            hosts[i]->beginChangeGesture();
    for (size_t i = 0; i < count; ++i)
        hosts[i]->reportEditorValue(PluginParam::EditorGesture::gestureChange);
    if (step == 2)
        for (size_t i = 0; i < count; ++i)
            hosts[i]->endChangeGesture();
}

void SpaceCanvas::endGesture()
{
    if (!gestureOpen) return;
    gestureOpen = false;
    reportMorph(2);
}

void SpaceCanvas::updateMousePos(float x, float y, MouseEventType type)
{
    if (selectedNode >= 0 || canvas == nullptr || nodeComp == nullptr) return;
    const float w = static_cast<float>(getWidth()), h = static_cast<float>(getHeight());
    const float px = std::max(12.0f, std::min(w - 12.0f, x));
    const float py = std::max(12.0f, std::min(h - 12.0f, y));
    bool xyPad = false;
    {
        const juce::ScopedLock lock(processor->stateLock);
        morphPoint = nodeComp->toUnits({px, py});
        const int mode = canvas->mode;
        xyPad = mode == kCanvasModeXYPad;
        const Point2D lo = canvas->lo[kCanvasModeXYPad], hi = canvas->hi[kCanvasModeXYPad];
        if (xyPad)
        {
            morphPoint.x = std::min(hi.x, std::max(lo.x, morphPoint.x));
            morphPoint.y = std::min(hi.y, std::max(lo.y, morphPoint.y));
        }
        const NodeMix mix = canvas->getNodeMixForPoint(morphPoint, true, nullptr, true);
        if (xyPad && engine() != nullptr)
        {
            // A box without size maps every point to its middle.
            const float u = hi.x > lo.x ? (morphPoint.x - lo.x) / (hi.x - lo.x) : 0.5f;
            const float v = hi.y > lo.y ? (morphPoint.y - lo.y) / (hi.y - lo.y) : 0.5f;
            for (const auto& [index, unit] : {std::pair{kParamMorphX, u}, std::pair{kParamMorphY, v}})
            {
                Param& p = engine()->params[static_cast<size_t>(index)];
                const float a = p.convertUnitToVal(0.0f), b = p.convertUnitToVal(1.0f);
                p.value = std::clamp(unit, std::min(a, b), std::max(a, b));
            }
        }
        if (mode == kCanvasModeExplore) pushMix(processor, mix);
        if (nodeTriangle != nullptr) nodeTriangle->setTriangle(mix, canvas, nodeComp.get());
    }
    // The stored point is part of the state; a press reports once, as it ends.
    if (type == mouseUpEvent) processor->notifyStateChanged();
    if (!xyPad) return;
    // The host hears of the change outside the lock.
    if (type == mouseDownEvent && !gestureOpen)
    {
        gestureOpen = true;
        reportMorph(0);
    }
    else if (type == mouseUpEvent && gestureOpen)
    {
        endGesture();
    }
    else
    {
        reportMorph(1);
    }
}

// ---- modes and views ----------------------------------------------------------------------------

void SpaceCanvas::canvasModeChanged(bool force)
{
    if (canvas == nullptr) return;
    int mode = 0;
    {
        const juce::ScopedLock lock(processor->stateLock);
        mode = canvas->mode;
    }
    if (mode == lastMode && !force) return;
    endGesture();
    nodeTriangle.reset();
    pianoRoll.reset();
    topButton.reset();
    theseButton.reset();
    allButton.reset();
    categoryLabels.clear();
    noteMarkers.clear();

    if (mode == kCanvasModeExplore)
        buildCategoryLabels();
    else
        updateNodes(true);

    const juce::ScopedLock lock(processor->stateLock);
    if (mode == kCanvasModeKeyboard)
    {
        pianoRoll = std::make_unique<PianoRollComp>(canvas, getWidth());
        pianoRoll->setTopLeftPosition(0, getHeight() - PianoRollComp::kHeight - 2);
        addAndMakeVisible(*pianoRoll, 0);
    }
    else if (nodeComp != nullptr)
    {
        Point2D p = canvas->currentMix.point;
        if (mode == kCanvasModeXYPad && engine() != nullptr)
        {
            const Point2D lo = canvas->lo[kCanvasModeXYPad], hi = canvas->hi[kCanvasModeXYPad];
            p = {lo.x + (hi.x - lo.x) * engine()->params[kParamMorphX].value,
                 lo.y + (hi.y - lo.y) * engine()->params[kParamMorphY].value};
        }
        canvas->getNodeMixForPoint(p, true, nullptr, true);
        nodeTriangle = std::make_unique<NodeTriangle>();
        nodeTriangle->setTriangle(canvas->currentMix, canvas, nodeComp.get());
        nodeComp->addAndMakeVisible(*nodeTriangle, 0);
    }
    if (mode == kCanvasModeExplore)
    {
        buildButtons();
        setSoundSpaceShown(canvas->nodeCount != 0);
    }
    lastMode = mode;
    repaint();
}

void SpaceCanvas::buildCategoryLabels()
{
    KeySpaceDSP* dsp = engine();
    if (dsp == nullptr || dsp->sounds.empty() || nodeComp == nullptr) return;
    const auto& sounds = dsp->sounds;
    const int numSounds = static_cast<int>(sounds.size());
    const int C = std::clamp(sounds.back().categoryIndex + 1, 0, kMaxCategories);
    std::array<Point2D, kMaxCategories> points{};
    Point2D lo{1e20f, 1e20f}, hi{-1e20f, -1e20f};
    int i = 0;
    for (int c = 0; c < C && i < numSounds; ++c)
    {
        for (; i < numSounds && sounds[static_cast<size_t>(i)].categoryIndex == c; ++i)
        {
            const float x = static_cast<float>(engineRand()) * kEngineRandScale;
            const float y = static_cast<float>(engineRand()) * kEngineRandScale;
            points[static_cast<size_t>(c)].x += x;
            points[static_cast<size_t>(c)].y += y;
        }
        const Point2D p = points[static_cast<size_t>(c)];
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y)};
    }
    // One category, or points that agree on an axis, sit in the middle of that axis.
    for (int c = 0; c < C; ++c)
    {
        Point2D& p = points[static_cast<size_t>(c)];
        p.x = hi.x > lo.x ? (p.x - lo.x) * 0.4f / (hi.x - lo.x) + 0.3f : 0.5f;
        p.y = hi.y > lo.y ? (p.y - lo.y) * 0.4f / (hi.y - lo.y) + 0.3f : 0.5f;
    }
    MDS_2D layout;
    for (int step = 0; step < 100; ++step)
        layout.iterate(points.data(), C, {0.1f, 0.1f}, {0.9f, 0.9f}, 0);

    const int W = getWidth(), H = getHeight();
    int next = 0;
    for (const InstrumentMap& sound : sounds)
    {
        if (next >= C) break;
        if (sound.categoryIndex != next) continue;
        const juce::String category = nameToShow(sound.category, sizeof(sound.category));
        auto* label = new CategoryLabel(category.startsWithChar('x') ? category : category.toUpperCase(),
                                        juce::Colour(sound.colour));
        const float px = points[static_cast<size_t>(next)].x * static_cast<float>(W);
        const float py = points[static_cast<size_t>(next)].y * static_cast<float>(H);
        const float x = std::min(static_cast<float>(W - label->getWidth() - 20),
                                 std::max(20.0f, px - static_cast<float>(label->getWidth()) / 2));
        const float y = std::min(static_cast<float>(H - label->getHeight() - 20),
                                 std::max(20.0f, py - static_cast<float>(label->getHeight()) / 2));
        label->setTopLeftPosition(static_cast<int>(x), static_cast<int>(y));
        categoryLabels.add(label);
        nodeComp->addAndMakeVisible(label);
        ++next;
    }
}

void SpaceCanvas::buildButtons()
{
    const int x0 = (getWidth() - 230) / 2, y = getHeight() - 30;
    const juce::Colour colour(0xe6ffffffu);
    struct Spec
    {
        std::unique_ptr<SvgButton>* button;
        const char* svg;
        int size;
        const char* text;
        int x;
        const char* tip;
    };
    for (const Spec& s :
         {Spec{&topButton, kUpArrowSvg, kUpArrowSvgSize, "Top", x0, "go back to top level"},
          Spec{&theseButton, kCircularArrowsSvg, kCircularArrowsSvgSize, "These", x0 + 80,
               "rotate current soundspace"},
          Spec{&allButton, kCircularArrowsSvg, kCircularArrowsSvgSize, "All", x0 + 160, "rotate all sounds"}})
    {
        *s.button = std::make_unique<SvgButton>(s.svg, s.size, juce::Point<int>{70, 26}, s.text, colour);
        (*s.button)->addListener(this);
        (*s.button)->setTooltip(s.tip);
        (*s.button)->setTopLeftPosition(s.x, y);
        addAndMakeVisible(**s.button, 0);
    }
}

void SpaceCanvas::buttonClicked(juce::Button* button)
{
    if (button == nullptr || canvas == nullptr) return;
    if (button == theseButton.get() || button == allButton.get())
    {
        startTransition(button == theseButton.get() ? KeySpaceDSP::RotateCurrent : KeySpaceDSP::RotateAll);
    }
    else if (button == topButton.get())
    {
        if (browser != nullptr) browser->close();
        {
            const juce::ScopedLock lock(processor->stateLock);
            canvas->nodeCount = 0;
            canvas->triCount = 0;
            canvas->dirty = 1;
        }
        updateNodes(true);
        processor->notifyStateChanged();
        setSoundSpaceShown(false);
        repaint();
    }
}

void SpaceCanvas::startTransition(int mixType)
{
    if (nodeComp == nullptr) return;
    const int W = getWidth(), H = getHeight();
    transitionTo.reset();
    transitionFrom.reset();
    transitionFrom =
        std::make_unique<ComponentImage>(W, H, *nodeComp, juce::Point<float>{1.0f, 1.0f}, juce::Image::ARGB);
    transitionAngle = 0.0f;
    if (nodeTriangle != nullptr)
    {
        const Point2D p = nodeTriangle->mix.point;
        transitionAngle = std::atan2(p.y - 0.5f, p.x - 0.5f);
    }
    NodeMix mix;
    bool explore = false;
    {
        const juce::ScopedLock lock(processor->stateLock);
        if (KeySpaceDSP* dsp = engine())
            dsp->makeNodeCanvas(canvas, static_cast<KeySpaceDSP::NodeMixType>(mixType), -1, kSpaceLo,
                                kSpaceHi);
    }
    updateNodes(true);
    processor->notifyStateChanged();
    {
        const juce::ScopedLock lock(processor->stateLock);
        mix = canvas->getNodeMixForPoint({0.5f, 0.5f}, true, nullptr, true);
        explore = canvas->mode == kCanvasModeExplore;
        if (nodeTriangle != nullptr) nodeTriangle->setTriangle(canvas->currentMix, canvas, nodeComp.get());
    }
    if (explore) pushMix(processor, mix);
    transitionTo =
        std::make_unique<ComponentImage>(W, H, *nodeComp, juce::Point<float>{1.0f, 1.0f}, juce::Image::ARGB);
    transitionFrom->setPinch(0.0f, transitionAngle);
    transitionTo->setPinch(1.0f, transitionAngle);
    nodeComp->setVisible(false);
    addAndMakeVisible(*transitionTo, 0);
    addAndMakeVisible(*transitionFrom, 0);
    transitionStart = clock();
}
