#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "engine/params/Param.h"

// The control that shows and edits one engine parameter. Its behaviour follows the record: a
// rounded-linear parameter with two labels is a click toggle, one with more labels opens a choice
// list, anything else is a vertical-drag dial with snap points and typed entry (double click).
// The knob writes the record's value itself and then tells its listener.
class Knob : public juce::Component, public juce::TextEditor::Listener
{
  public:
    enum Type
    {
        performanceDial = 0,
        compactDial = 1,
        valueBox = 2
    };

    class Listener
    {
      public:
        enum ChangeType
        {
            dragStart = 0,
            dragChange = 1,
            dragEnd = 2,
            singleChange = 3 // a toggle click, a choice, "Reset to default" or a typed value
        };
        virtual ~Listener() = default;
        // value is the record's new value, already stored.
        virtual void knobChanged(int paramIndex, float value, ChangeType type) = 0;
    };

    enum InteractionMode
    {
        dragMode = 0,
        toggleMode = 1,
        choiceMode = 2
    };

    // size is the dial's diameter; 0 or less takes width - 10. An empty label shows the record's
    // name after its last '_'. A null record, or the shared read-only kLinParam, gives the knob a
    // private copy of kLinParam to edit.
    Knob(const Param* param, int width, int height, float size, Type type, juce::String label,
         Listener* listener);
    ~Knob() override;

    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void paint(juce::Graphics& g) override;

    void textEditorReturnKeyPressed(juce::TextEditor& editor) override;
    void textEditorEscapeKeyPressed(juce::TextEditor& editor) override;
    void textEditorFocusLost(juce::TextEditor& editor) override;

    // One drag step of deltaY pixels (downwards lowers the value); see Knob.cpp for the law.
    void moveKnob(float deltaY, Listener::ChangeType type);
    // The value as the knob shows it: the label for a choice, else the record's format.
    juce::String formatValue() const;
    // Opens the typed-entry box over the caption with the current value text.
    void showValueEditor();

    const Param& getParam() const noexcept { return *param; }
    int getInteractionMode() const noexcept { return interactionMode; }
    juce::TextEditor& getValueEditor() noexcept { return valueEditor; }
    const juce::String& getCaption() const noexcept { return name; }

    juce::Colour knobColour{0x00000000u};
    juce::Colour nameColour = juce::Colours::black;
    juce::Colour valueColour = juce::Colours::white;
    juce::Colour valueBoxColour{0xff000000u};

    bool choicePopupOpen = false;
    float dragResidual = 0.0f;
    float showValue = 0.0f;
    juce::String valueText; // as formatted at the last paint

  private:
    friend void popupCallback(int result, Knob* knob);
    void setValueAndReport(float v);
    void paintCaption(juce::Graphics& g);
    void paintPerformanceDial(juce::Graphics& g, float angle);
    void paintCompactDial(juce::Graphics& g, float angle);
    void paintValueBox(juce::Graphics& g);

    Param ownParam;
    Param* param;
    Listener* listener;
    Type type;
    int interactionMode = dragMode;
    bool dragOpen = false; // a dragStart was reported and its dragEnd not yet
    juce::TextEditor valueEditor;
    float lastDragY = 0.0f;
    float radius = 0.0f;
    juce::Font valueFont;
    juce::Font nameFont;
    juce::String name;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(Knob)
};

// Result of the knob's popup menus: 2000 resets to the default, 1000 + i picks choice i, anything
// else (a dismissed menu) changes nothing. A null knob (deleted while its menu was up) is ignored.
void popupCallback(int result, Knob* knob);

namespace KnobHelpers
{
// Fills the ring sector innerRadius..outerRadius about (centreX, centreY) from fromAngle to toAngle
// (radians, clockwise from 12 o'clock) with the current colour or gradient.
void drawCircleSegment(juce::Graphics& g, float centreX, float centreY, float innerRadius, float outerRadius,
                       float fromAngle, float toAngle, bool unused);
} // namespace KnobHelpers
