// The canvas's share of the processor's events (note markers, the host's morph point, replaced
// node sets) and what the browser's presets list asks of it.
#include <algorithm>
#include <cmath>

#include "canvas/SpaceCanvas.h"
#include "engine/params/ParamTable.h"
#include "engine/voice/KeyLayout.h"
#include "processor/LibraryFolders.h"
#include "processor/PluginProcessor.h"

namespace
{
constexpr Point2D kRandomLo{0.12f, 0.27f};
constexpr Point2D kRandomHi{0.83f, 0.72f};
} // namespace

void SpaceCanvas::handleMessage(const SynthEvent* event)
{
    if (event == nullptr || canvas == nullptr) return;
    int mode = 0;
    {
        const juce::ScopedLock lock(processor->stateLock);
        mode = canvas->mode;
    }
    if (event->kind == kSynthEventPresetsChanged)
    {
        updateNodes(false);
        repaint();
    }
    else if (event->kind == kSynthEventParamChanged && mode == kCanvasModeXYPad)
    {
        followMorphParam(event->index, event->value);
    }
    else if (event->kind == kSynthEventNote && mode == kCanvasModeKeyboard)
    {
        // Notes outside the MIDI range name no key.
        if (event->index < 0 || event->index > 127) return;
        if (!(event->value > 0.0f)) // a velocity that is not a number counts as an off
            removeNoteMarkers(event->index);
        else
            addNoteMarker(event->index, event->value);
    }
}

void SpaceCanvas::followMorphParam(int index, float value)
{
    if (nodeTriangle == nullptr || nodeComp == nullptr) return;
    if ((index != kParamMorphX && index != kParamMorphY) || !std::isfinite(value)) return;
    const juce::ScopedLock lock(processor->stateLock);
    const Point2D lo = canvas->lo[kCanvasModeXYPad], hi = canvas->hi[kCanvasModeXYPad];
    const Point2D shown = nodeTriangle->mix.point;
    float u = hi.x > lo.x ? (shown.x - lo.x) / (hi.x - lo.x) : 0.5f;
    float v = hi.y > lo.y ? (shown.y - lo.y) / (hi.y - lo.y) : 0.5f;
    (index == kParamMorphX ? u : v) = value;
    const NodeMix mix = canvas->getNodeMixForPoint({lo.x + u * (hi.x - lo.x), lo.y + v * (hi.y - lo.y)},
                                                   false, nullptr, true);
    nodeTriangle->setTriangle(mix, canvas, nodeComp.get());
}

void SpaceCanvas::addNoteMarker(int note, float velocity)
{
    juce::Colour colour;
    float markY = 0.0f;
    {
        const juce::ScopedLock lock(processor->stateLock);
        const Point2D p = keyboardPoint(*canvas, note, std::min(velocity / 127.0f, 1.0f));
        const NodeMix mix = canvas->getNodeMixForPoint(p, false, nullptr, true);
        colour = getMixColour(mix, 1.0f, false);
        if (nodeComp != nullptr) markY = nodeComp->toPixels(mix.point).y;
    }
    if (pianoRoll != nullptr)
    {
        // A host that never sends note-offs must not grow the canvas without end.
        if (noteMarkers.size() >= kMaxNoteMarkers) noteMarkers.remove(0);
        auto* marker = noteMarkers.add(new NoteMarker(note, static_cast<int>(markY), *pianoRoll, colour));
        addAndMakeVisible(marker);
    }
    // The panel stays above the markers.
    if (browser != nullptr) browser->toFront(false);
}

void SpaceCanvas::removeNoteMarkers(int note)
{
    for (int i = noteMarkers.size(); --i >= 0;)
        if (noteMarkers[i]->note == note) noteMarkers.remove(i);
}

void SpaceCanvas::browserItemSelected(SpaceBrowser::Listener::ItemType type, juce::String name,
                                      juce::Point<int>)
{
    if (canvas == nullptr || processor == nullptr) return;
    if (type == SpaceBrowser::Listener::loadPreset)
    {
        const juce::String message = processor->loadPreset(name);
        if (message.isNotEmpty())
            showAlert(message);
        else
        {
            updateNodes(true);
            processor->notifyStateChanged();
        }
        return;
    }
    if (type != SpaceBrowser::Listener::command) return;
    if (name == "<save>")
    {
        juce::Component* host = getParentComponent() != nullptr ? getParentComponent() : this;
        saveBox.reset();
        saveBox = std::make_unique<SaveBox>(*host, processor);
        host->addAndMakeVisible(*saveBox);
    }
    else if (name == "Random")
    {
        {
            const juce::ScopedLock lock(processor->stateLock);
            canvas->nodeCount = 0;
            canvas->triCount = 0;
            canvas->dirty = 1;
            if (KeySpaceDSP* dsp = engine())
                dsp->makeNodeCanvas(canvas, KeySpaceDSP::RandomSet, -1, kRandomLo, kRandomHi);
        }
        updateNodes(true);
        processor->notifyStateChanged();
    }
    else if (name == "<organize>")
    {
        // Revealing a folder that is not there would show nothing useful.
        const juce::File folder = getPresetsFolder();
        if (folder.createDirectory() && revealFolder) revealFolder(folder);
    }
}
