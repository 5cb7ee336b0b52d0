#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// Keeps the keyboard focus in the text field the user put it into with the mouse (the save box's
// name field, a knob's value box, any editable field of the editor).
//
// Inside a host's window a window manager moves the X focus to the host's frame at each click, so
// the editor's window loses the focus just before the click lands and gets it back just after. On
// getting it back the framework's peer hands the keyboard focus to the component that held it when
// the window lost it (a tab, the knob), without telling the field, which then never sees a key.
// Some hosts' frames (a GTK window answering the window manager's request to take the focus) take
// the X focus once more after the editor's window got it back, and then keep it: the field loses the
// focus after the click and the keys go to the host.
// The guard notes the editable field that holds the focus after each press and release of a mouse
// button in the editor, and when the focus afterwards moves to another component of the editor
// while that field still shows, it gives the focus back to the field. When the focus leaves the
// window while the pointer is over the editor, the click in the editor is what moved it, and the
// guard takes it back into the field (a bounded number of times, and only just after the press, so
// that a host that insists keeps it and a later switch of windows by keyboard is left alone); with
// the pointer elsewhere the user went to another window, and the focus goes.
// A click elsewhere, the field closing, and Tab (which moves the focus on from a field on purpose)
// release the field.
class FocusGuard : private juce::MouseListener, private juce::FocusChangeListener, private juce::KeyListener
{
  public:
    explicit FocusGuard(juce::Component& editor);
    ~FocusGuard() override;

  private:
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void globalFocusChanged(juce::Component* focused) override;
    bool keyPressed(const juce::KeyPress& key, juce::Component* origin) override;

    void noteFocusedField();

    juce::Component& editor;
    juce::Component::SafePointer<juce::TextEditor> field;
    // The window manager's own move of the focus and the host's answer to it.
    static constexpr int kRegainsPerClick = 2;
    // The host's answer comes within milliseconds of the press; a busy host may take longer.
    static constexpr juce::uint32 kRegainWindowMs = 1500;
    int regainsLeft = 0;
    juce::uint32 lastPressMs = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(FocusGuard)
};
