#include "editor/FocusGuard.h"

FocusGuard::FocusGuard(juce::Component& e) : editor(e)
{
    // Nested: every press in the editor reaches the guard after the component's own handler, which
    // is where the focus has settled (a knob's double click opens its box on the release).
    editor.addMouseListener(this, true);
    editor.addKeyListener(this);
    juce::Desktop::getInstance().addFocusChangeListener(this);
}

FocusGuard::~FocusGuard()
{
    juce::Desktop::getInstance().removeFocusChangeListener(this);
    editor.removeKeyListener(this);
    editor.removeMouseListener(this);
}

void FocusGuard::mouseDown(const juce::MouseEvent&)
{
    noteFocusedField();
    regainsLeft = kRegainsPerClick;
    lastPressMs = juce::Time::getMillisecondCounter();
}

void FocusGuard::mouseUp(const juce::MouseEvent&)
{
    noteFocusedField();
}

void FocusGuard::noteFocusedField()
{
    auto* focused = dynamic_cast<juce::TextEditor*>(juce::Component::getCurrentlyFocusedComponent());
    field = (focused != nullptr && !focused->isReadOnly() && editor.isParentOf(focused)) ? focused : nullptr;
}

void FocusGuard::globalFocusChanged(juce::Component* focused)
{
    auto* f = field.getComponent();
    if (f == nullptr || focused == f || f->isParentOf(focused)) return;
    if (focused != nullptr && !editor.isParentOf(focused)) return;
    // A field that closed (return, escape) or cannot be typed into any more lets the focus go.
    if (!f->isShowing() || !f->getWantsKeyboardFocus() || f->isReadOnly())
    {
        field = nullptr;
        return;
    }
    if (focused == nullptr)
    {
        // Only just after the press: a later loss with the pointer resting on the editor is the user
        // switching windows by keyboard. The pointer's live place is asked for, as the window's last
        // mouse event may be older than the focus move.
        const juce::uint32 sincePress = juce::Time::getMillisecondCounter() - lastPressMs;
        if (regainsLeft <= 0 || sincePress > kRegainWindowMs ||
            !editor.getLocalBounds().contains(editor.getMouseXYRelative()))
            return;
        --regainsLeft;
    }
    // Asks the display for the window's focus too when the window lost it.
    f->grabKeyboardFocus();
}

bool FocusGuard::keyPressed(const juce::KeyPress& key, juce::Component*)
{
    // A key that reaches the editor unused moves the focus on when it is Tab (the peer does that
    // after every component has passed on it).
    if (key.isKeyCode(juce::KeyPress::tabKey)) field = nullptr;
    return false;
}
