// The canvas's node editing: the canvas and node popups, drops from the browser, node drags and
// the drag image of a browser row.
#include <algorithm>
#include <cmath>
#include <utility>

#include "canvas/SpaceCanvas.h"
#include "processor/NameText.h"
#include "processor/PluginProcessor.h"

namespace
{
constexpr int kClearAllId = 1;

juce::String limitMessage()
{
    return "Constellations can only fit " + juce::String(SpaceCanvas::kMaxNodes) +
           " sounds at a time, sorry! To get rid of sounds, right click or drag sounds outside the canvas.";
}
} // namespace

int SpaceCanvas::popupIdBase() const
{
    const KeySpaceDSP* dsp = engine();
    const int numSounds = dsp != nullptr ? static_cast<int>(dsp->sounds.size()) : 0;
    return 1000 * (numSounds / 1000 + 1);
}

int SpaceCanvas::popupItemHeight() const
{
    return static_cast<int>(editorScale() * 20.0f + 0.5f);
}

juce::PopupMenu SpaceCanvas::buildPopup(PopupType type)
{
    const int base = popupIdBase() * (type == canvasPopup ? 1 : 2);
    juce::PopupMenu menu;
    if (type == canvasPopup)
    {
        menu.addColouredItem(kClearAllId, "Clear All", juce::Colours::white, true);
        menu.addColouredItem(-1, "Add Sound", juce::Colour(0xffd9d9d9u), false);
    }
    else
    {
        menu.addColouredItem(3 * popupIdBase(), "Delete", juce::Colours::white, true);
        menu.addColouredItem(-1, "Replace with:", juce::Colours::white, false);
    }
    const KeySpaceDSP* dsp = engine();
    if (dsp == nullptr) return menu;
    const auto& sounds = dsp->sounds;
    // Each run of sounds of one category becomes a sub-menu.
    for (size_t i = 0; i < sounds.size();)
    {
        juce::PopupMenu sub;
        const juce::String category = nameToShow(sounds[i].category, sizeof(sounds[i].category));
        for (; i < sounds.size() && category == nameToShow(sounds[i].category, sizeof(sounds[i].category)); ++i)
            sub.addColouredItem(base + static_cast<int>(i), nameToShow(sounds[i].name, sizeof(sounds[i].name)),
                                juce::Colours::white, true);
        menu.addSubMenu(category, sub, true);
    }
    return menu;
}

void SpaceCanvas::showPopup(int screenX, int screenY, PopupType type, int nodeIndex)
{
    selectedNode = nodeIndex;
    buildPopup(type).showMenuAsync(juce::PopupMenu::Options()
                                       .withTargetScreenArea({screenX, screenY, 1, 1})
                                       .withStandardItemHeight(popupItemHeight()),
                                   juce::ModalCallbackFunction::forComponent(popupCallback, this));
}

void SpaceCanvas::showNodePopup(int x, int y, SpaceNode* node)
{
    if (node != nullptr) showPopup(x, y, nodePopup, node->index);
}

void popupCallback(int result, SpaceCanvas* canvas)
{
    if (canvas != nullptr) canvas->handlePopupResult(result);
}

void SpaceCanvas::handlePopupResult(int result)
{
    // A node's popup sets the selection, and the right button's release does not clear it as a left
    // release does: kept, it would stop the next left press on the canvas from moving the morph point.
    const int node = std::exchange(selectedNode, -1);
    if (result < 1 || canvas == nullptr) return;
    const int base = popupIdBase();
    const int group = result / base, sound = result % base;
    const KeySpaceDSP* dsp = engine();
    const bool soundKnown = dsp != nullptr && sound < static_cast<int>(dsp->sounds.size());
    bool full = false;
    {
        const juce::ScopedLock lock(processor->stateLock);
        const int count = std::clamp(static_cast<int>(canvas->nodeCount), 0, kMaxSoundNodes);
        const bool nodeKnown = node >= 0 && node < count;
        if (result == kClearAllId)
        {
            canvas->nodeCount = 0;
            canvas->triCount = 0;
            canvas->dirty = 1;
        }
        else if (group == 1 && soundKnown)
        {
            full = count >= kMaxNodes;
            if (!full)
            {
                canvas->nodes[static_cast<size_t>(count)] = {pressPoint, sound};
                canvas->nodeCount = count + 1;
                canvas->dirty = 1;
            }
        }
        else if (group == 2 && soundKnown)
        {
            if (nodeKnown) canvas->nodes[static_cast<size_t>(node)].soundId = sound;
        }
        else if (group == 3 && sound == 0)
        {
            if (nodeKnown)
            {
                canvas->nodes[static_cast<size_t>(node)] = canvas->nodes[static_cast<size_t>(count - 1)];
                canvas->nodeCount = count - 1;
                canvas->dirty = 1;
            }
        }
        else if (group == 4 && sound == 0)
        {
            canvas->nodeCount = 0;
            canvas->triCount = 0;
            canvas->dirty = 1;
        }
        else
        {
            return;
        }
    }
    updateNodes(true);
    processor->notifyStateChanged();
    if (group == 4 && sound == 0)
    {
        setSoundSpaceShown(false);
        repaint();
    }
    if (full) showAlert(limitMessage());
}

void SpaceCanvas::itemDropped(const SourceDetails& details)
{
    if (canvas == nullptr || nodeComp == nullptr || !details.description.isInt()) return;
    const int sound = static_cast<int>(details.description);
    const KeySpaceDSP* dsp = engine();
    // Preset rows (-1) and anything else that names no loaded sound are not sounds to place.
    if (dsp == nullptr || sound < 0 || sound >= static_cast<int>(dsp->sounds.size())) return;
    {
        const juce::ScopedLock lock(processor->stateLock);
        const int count = std::clamp(static_cast<int>(canvas->nodeCount), 0, kMaxSoundNodes);
        if (count >= kMaxNodes)
        {
            showAlert(limitMessage());
            return;
        }
        // The drag image's dot lands where it was shown.
        const auto pixel = (details.localPosition - dragGrabOffset + juce::Point<int>{10, 10}).toFloat();
        canvas->nodes[static_cast<size_t>(count)] = {nodeComp->toUnits(pixel), sound};
        canvas->nodeCount = count + 1;
        canvas->dirty = 1;
    }
    updateNodes(true);
    processor->notifyStateChanged();
}

void SpaceCanvas::nodeChanged(SpaceNode* node)
{
    if (canvas == nullptr || nodeComp == nullptr) return;
    const int i = nodeComp->nodes.indexOf(node);
    if (i < 0) return;
    {
        const juce::ScopedLock lock(processor->stateLock);
        const int x = node->getX(), y = node->getY();
        const int cx = x + 10, cy = y + 10;
        const bool inside = x >= -10 && y >= -10 && cx <= nodeComp->getWidth() && cy <= nodeComp->getHeight();
        const int count = std::clamp(static_cast<int>(canvas->nodeCount), 0, kMaxSoundNodes);
        if (inside && i < count)
        {
            canvas->nodes[static_cast<size_t>(i)].pos =
                nodeComp->toUnits({static_cast<float>(cx), static_cast<float>(cy)});
        }
        else if (!inside && i < count)
        {
            canvas->nodes[static_cast<size_t>(i)] = canvas->nodes[static_cast<size_t>(count - 1)];
            canvas->nodeCount = count - 1;
            canvas->dirty = 1;
        }
        canvas->triangulate();
        if (nodeTriangle != nullptr) nodeTriangle->setTriangle(canvas->currentMix, canvas, nodeComp.get());
        // Every node is rebuilt here, the one that called included.
        nodeComp->setNodes(canvas, engine());
    }
    processor->sendNodeCanvasToDSP();
    processor->notifyStateChanged();
    repaint();
}

juce::Image SpaceCanvas::makeDragImage(int soundIndex)
{
    // The browser asks for the picture as a row's drag starts, when the pointer's place in the row
    // is known: the drop lands by it.
    if (browser != nullptr) dragGrabOffset = browser->grabOffset;
    const KeySpaceDSP* dsp = engine();
    juce::Colour colour(0xff808080u);
    juce::String name;
    if (dsp != nullptr && soundIndex >= 0 && soundIndex < static_cast<int>(dsp->sounds.size()))
    {
        colour = juce::Colour(dsp->sounds[static_cast<size_t>(soundIndex)].colour);
        name = nameToShow(dsp->sounds[static_cast<size_t>(soundIndex)].name, kSoundNameSize);
    }
    SpaceNode node({0.0f, 0.0f}, colour, name, nodeComp != nullptr ? nodeComp->font : juce::Font(13.0f),
                   soundIndex, this);
    const float s = editorScale();
    juce::Image image(juce::Image::ARGB, static_cast<int>(static_cast<float>(node.getWidth()) * s + 0.9f),
                      static_cast<int>(20.0f * s + 0.9f), true);
    juce::Graphics g(image);
    g.addTransform(juce::AffineTransform::scale(s));
    node.paintNode(g);
    return image;
}
