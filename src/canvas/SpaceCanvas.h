#pragma once

#include <functional>
#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "canvas/CategoryLabel.h"
#include "canvas/NoteMarker.h"
#include "canvas/NodeTriangle.h"
#include "canvas/PianoRollComp.h"
#include "canvas/SaveBox.h"
#include "canvas/SpaceBrowser.h"
#include "canvas/SpaceNode.h"
#include "canvas/SpaceNodeComp.h"
#include "canvas/SvgButton.h"
#include "canvas/VoxNodesComp.h"
#include "editor/AlertComp.h"
#include "editor/ComponentImage.h"
#include "engine/KeySpaceDSP.h"
#include "processor/SynthEvent.h"

class PluginProcessor;
class SpaceCanvas;

// Where a canvas popup's choice arrives (asynchronously; never when the canvas is gone).
void popupCallback(int result, SpaceCanvas* canvas);

// The sound-space canvas: the constellation of sounds that the morph point moves over, in the
// processor's canvas mode (Explore, XY Pad or Keyboard), with its node editing, popups, view
// transitions and the engine's voices as dots. It sees every event of the processor before the
// overlay does.
//
// The processor's canvas may also be rewritten by the host's state calls on another thread, so every
// handler that reads or edits it holds the processor's state lock (never while calling the host).
class SpaceCanvas : public juce::Component,
                    public juce::Timer,
                    public SpaceBrowser::Listener,
                    public SpaceNode::Listener,
                    public juce::DragAndDropTarget,
                    public juce::Button::Listener
{
  public:
    enum PopupType
    {
        canvasPopup = 0,
        nodePopup = 1
    };
    enum MouseEventType
    {
        mouseDownEvent = 0,
        mouseDragEvent = 1,
        mouseUpEvent = 2
    };

    // Sounds a canvas may hold.
    static constexpr int kMaxNodes = kMaxSoundNodes;
    static constexpr double kTransitionSeconds = 0.7;

    SpaceCanvas(NodeCanvasData* canvas, int width, int height, PluginProcessor* processor);
    ~SpaceCanvas() override;

    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void paint(juce::Graphics& g) override;
    void timerCallback() override;

    bool isInterestedInDragSource(const SourceDetails&) override { return true; }
    void itemDropped(const SourceDetails& details) override;
    // A picture of the sound's node, at the editor's scale, for dragging it from the browser.
    juce::Image makeDragImage(int soundIndex) override;
    // Loads a preset (its name, with its folder in front) or runs a command of the presets list.
    void browserItemSelected(SpaceBrowser::Listener::ItemType type, juce::String name,
                             juce::Point<int> point) override;
    // The offset of the pointer inside the row last dragged from the browser, in unscaled pixels.
    juce::Point<int> dragGrabOffset;

    void nodeChanged(SpaceNode* node) override;
    void showNodePopup(int x, int y, SpaceNode* node) override;
    juce::Rectangle<int> getNodeBounds() override { return nodeBounds; }

    void buttonClicked(juce::Button* button) override;

    void showPopup(int screenX, int screenY, PopupType type, int nodeIndex);
    // The popup's items (selectedNode is set by showPopup).
    juce::PopupMenu buildPopup(PopupType type);
    // Popup ids: "Clear All" 1; add sound i = base + i, replace = 2 base + i, delete = 3 base,
    // back to the top level = 4 base, with base 1000 below 1000 sounds and a larger multiple of
    // 1000 above, so that ids of different rows never meet.
    int popupIdBase() const;
    // Standard item height of the popups at the editor's size.
    int popupItemHeight() const;
    // Applies a popup's choice (0 or less: dismissed); clears selectedNode whatever it was.
    void handlePopupResult(int result);

    // Refreshes every view of the node set after the canvas data changed; sendToEngine also pushes
    // the canvas to the engine.
    void updateNodes(bool sendToEngine);
    juce::Colour getMixColour(const NodeMix& mix, float alpha, bool soundIndices);
    void updateMousePos(float x, float y, MouseEventType type);
    // Rebuilds the children that depend on the canvas mode when it changed (or always with force).
    void canvasModeChanged(bool force);
    void handleMessage(const SynthEvent* event);

    // Now in seconds; tests replace it to step transitions.
    std::function<double()> clock;
    // Shows a folder in the system's file browser; tests replace it.
    std::function<void(const juce::File&)> revealFolder;

    // Held notes beyond this many push out the oldest marker.
    static constexpr int kMaxNoteMarkers = 128;

    int selectedNode = -1;
    NodeCanvasData* canvas;
    PluginProcessor* processor;
    Point2D pressPoint;
    juce::Rectangle<int> nodeBounds;
    juce::OwnedArray<CategoryLabel> categoryLabels;
    std::unique_ptr<VoxNodesComp> voxNodes;
    std::unique_ptr<SpaceNodeComp> nodeComp;
    juce::OwnedArray<NoteMarker> noteMarkers;
    std::unique_ptr<SpaceBrowser> browser;
    std::unique_ptr<SaveBox> saveBox;
    std::unique_ptr<AlertComp> alert;
    std::unique_ptr<SvgButton> topButton, allButton, theseButton;
    std::unique_ptr<ComponentImage> transitionFrom, transitionTo;
    float transitionAngle = 0.0f;
    double transitionStart = 0.0;
    Point2D morphPoint;
    int lastMode = -1;
    std::unique_ptr<PianoRollComp> pianoRoll;
    std::unique_ptr<NodeTriangle> nodeTriangle;

  private:
    KeySpaceDSP* engine() const;
    // The editor's picture scale, for what leaves it: popup menus and drag images.
    float editorScale() const;
    void showAlert(const juce::String& message);
    void buildCategoryLabels();
    void buildButtons();
    void setSoundSpaceShown(bool shown);
    void startTransition(int mixType);
    // Closes the host gesture that a press in the XY Pad opened, if one is open.
    void endGesture();
    void reportMorph(int step);
    void addNoteMarker(int note, float velocity);
    void removeNoteMarkers(int note);
    // The XY Pad's highlight follows a host change of Morph X (index 6) or Morph Y (index 7).
    void followMorphParam(int index, float value);

    bool gestureOpen = false;
    SynthFIFO<VoiceSnapshot>::Reader voiceReader;
    VoiceSnapshot voices{};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SpaceCanvas)
};
