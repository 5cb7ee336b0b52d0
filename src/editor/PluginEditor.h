#pragma once

#include <memory>

#include <juce_audio_processors/juce_audio_processors.h>

#include "editor/EditorScale.h"
#include "editor/FocusGuard.h"
#include "editor/MyLookAndFeel.h"
#include "processor/AnalyticsThread.h"
#include "processor/PluginProcessor.h"

class OpenGLComp;

// The window the host shows for one plug-in instance. Everything below the root view is laid out at
// the design size (630 x 504) and scaled as a whole to fit the window, at its top left: a window
// of another shape than 5:4 shows the editor's ground beside or below the picture.
//
// Events from the processor: pushing one sends nothing (the render thread must not lock or call into
// the system), so the editor polls the event ring from a timer and drains it when something is new;
// the processor's change message (sent from the message thread) runs the same drain at once.
class PluginEditor : public juce::AudioProcessorEditor, public juce::ChangeListener, public juce::Timer
{
  public:
    // Receives the drained events: each event in ring order, then one view update per drain.
    class EventHandler
    {
      public:
        virtual ~EventHandler() = default;
        virtual void handleMessage(const SynthEvent* event) = 0;
        virtual void updateCanvasView(float unused) = 0;
    };

    static constexpr int kDesignWidth = kEditorDesignWidth;
    static constexpr int kDesignHeight = kEditorDesignHeight;
    static constexpr int kMinWidth = 315;
    static constexpr int kMinHeight = 252;
    static constexpr int kMaxWidth = 2520;
    static constexpr int kMaxHeight = 2016;
    static constexpr int kDrainIntervalMs = 30;
    // One drain handles at most this many ring lengths; what is pushed meanwhile waits for the next.
    static constexpr int kDrainRingLengths = 4;

    explicit PluginEditor(PluginProcessor* processor);
    ~PluginEditor() override;

    void paint(juce::Graphics& g) override;
    void resized() override;
    void changeListenerCallback(juce::ChangeBroadcaster* source) override;
    void timerCallback() override;

    // The first window size: the size saved in the processor when it lies within the limits, else
    // one from the main display (none, or one whose dpi, scale or area is unusable, gives the design
    // size), never below the minimum.
    static juce::Point<int> chooseFirstSize(juce::Point<int> saved, const juce::Displays::Display* display);

    // Where drained events go: the overlay unless replaced; null drains nothing.
    void setEventHandler(EventHandler* handler) noexcept { eventHandler = handler; }
    OpenGLComp* getRootView() const noexcept { return root.get(); }
    MyLookAndFeel* getEditorLookAndFeel() const noexcept { return lookAndFeel.get(); }

  private:
    void drainEvents();

    PluginProcessor* processor;
    std::unique_ptr<MyLookAndFeel> lookAndFeel;
    std::unique_ptr<OpenGLComp> root;
    std::unique_ptr<AnalyticsThread> analytics;
    std::unique_ptr<juce::ResizableCornerComponent> resizeCorner;
    // The corner's: the size limits and the design's 5:4 shape.
    juce::ComponentBoundsConstrainer constrainer;
    // LV2 hosts': the same limits, any shape.
    juce::ComponentBoundsConstrainer hostLimits;
    SynthFIFO<SynthEvent>::Reader eventReader;
    EventHandler* eventHandler = nullptr;
    // Text fields keep the focus a click gave them when a host's window manager moves it about.
    FocusGuard focusGuard{*this};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PluginEditor)
};
