// Typing into the editor's text fields inside a host's window, on a virtual X server. There a window
// manager moves the X focus to the host's frame at each click, so the editor's window loses the focus
// before the click lands and gets it back after; the sequence is replayed through the framework's own
// peer calls on the editor shown in a window of its own.
#include <functional>
#include <string>

#include "EditorTestHome.h"
#include "XErrors.h"
#include "canvas/SpaceCanvas.h"
#include "editor/Knob.h"
#include "editor/OpenGLComp.h"
#include "editor/Overlay2D.h"
#include "editor/PluginEditor.h"
#include "engine/params/ParamTable.h"
#include "processor/LibraryFolders.h"
#include "processor/PluginProcessor.h"
#include "processor/PresetFiles.h"

namespace
{
// The editor in a window of its own, and the pointer and keyboard as its window reports them.
struct ShownEditor
{
    ShownEditor()
    {
        editor.addToDesktop(0);
        editor.setVisible(true);
        pump();
    }
    // A press and release of the left button in the middle of c, clicks times in a row.
    void click(juce::Component& c, int clicks)
    {
        auto* peer = editor.getPeer();
        const auto at = editor.getLocalPoint(&c, c.getLocalBounds().getCentre()).toFloat();
        const auto left = juce::ModifierKeys().withFlags(juce::ModifierKeys::leftButtonModifier);
        for (int i = 0; i < clicks; ++i)
            for (const auto& mods : {left, juce::ModifierKeys()})
                peer->handleMouseEvent(juce::MouseInputSource::InputSourceType::mouse, at, mods,
                                       juce::MouseInputSource::defaultPressure,
                                       juce::MouseInputSource::defaultOrientation, time += 20);
    }
    // Keys as typed ('\r' is return, '\t' tab, '\x01' ctrl+A), then the fields' queued notices.
    void type(const juce::String& keys)
    {
        for (auto c : keys)
            editor.getPeer()->handleKeyPress(c == '\r'   ? juce::KeyPress(juce::KeyPress::returnKey)
                                             : c == '\t' ? juce::KeyPress(juce::KeyPress::tabKey)
                                             : c == 1
                                                 ? juce::KeyPress('a', juce::ModifierKeys::commandModifier, 0)
                                                 : juce::KeyPress(static_cast<int>(c), 0, c));
        pump();
    }
    PluginProcessor processor;
    PluginEditor editor{&processor};
    Overlay2D& overlay = *editor.getRootView()->getOverlay();
    SpaceCanvas& canvas = *overlay.getSpaceCanvas();
    juce::int64 time = juce::Time::currentTimeMillis();
};

} // namespace

TEST(KeyboardFocus, AFieldClickedIntoKeepsTheFocusWhenTheWindowGetsItBack)
{
    // The component focused before the click, the click that puts the focus into the field (it opens
    // the knob's box), the field, what is typed, the text it leaves and whether Return then took
    // effect. The knob's box opens with the value in it: select all, then type. Inside some hosts'
    // windows (Ardour's VST3 window: its GTK frame answers the window manager after the editor's
    // window got the focus back) the frame takes the focus once more after the click and keeps it.
    struct Row
    {
        const char* name;
        std::function<juce::Component&(ShownEditor&)> focusedBefore;
        std::function<void(ShownEditor&)> reachField;
        std::function<juce::TextEditor&(ShownEditor&)> field;
        juce::String keys, text;
        std::function<bool(ShownEditor&)> tookEffect;
        bool frameTakesItAgain = false;
    };
    const auto gain = [](ShownEditor& s) -> Knob& { return *s.overlay.getPerfKnob(0); };
    const auto presets = [](ShownEditor& s) -> juce::Component&
    {
        s.canvas.browser->presetsTab->triggerClick();
        s.canvas.browserItemSelected(SpaceBrowser::Listener::command, "<save>", {});
        return *s.canvas.browser->presetsTab;
    };
    const auto nameField = [](ShownEditor& s) -> juce::TextEditor& { return *s.canvas.saveBox->nameEditor; };
    const auto saved = [](ShownEditor& s)
    { return presetFileFor("Typed").existsAsFile() && !s.canvas.saveBox->isShowing(); };
    const Row rows[] = {
        {"save box name field", presets, [&](ShownEditor& s) { s.click(nameField(s), 1); }, nameField,
         "Typed", "Typed", saved},
        {"save box name field lost after the click", presets,
         [&](ShownEditor& s) { s.click(nameField(s), 1); }, nameField, "Typed", "Typed", saved, true},
        {"knob value box", gain, [&](ShownEditor& s) { s.click(gain(s), 2); },
         [&](ShownEditor& s) -> juce::TextEditor& { return gain(s).getValueEditor(); },
         "\x01"
         "3",
         "3",
         [&](ShownEditor& s) {
             return s.processor.dsp->params[kParamGain].value == 3.0f &&
                    !gain(s).getValueEditor().isVisible();
         }},
    };
    for (const auto& row : rows)
    {
        getPresetsFolder().deleteRecursively();
        ShownEditor s;
        juce::Component& before = row.focusedBefore(s);
        before.grabKeyboardFocus();
        pump();
        // The field does not take the focus by itself.
        ASSERT_EQ(juce::Component::getCurrentlyFocusedComponent(), &before) << row.name;

        auto* peer = s.editor.getPeer();
        peer->handleFocusLoss();
        row.reachField(s);
        juce::TextEditor& field = row.field(s);
        EXPECT_EQ(juce::Component::getCurrentlyFocusedComponent(), &field) << row.name;
        peer->handleFocusGain();
        pump();
        EXPECT_EQ(juce::Component::getCurrentlyFocusedComponent(), &field) << row.name;
        if (row.frameTakesItAgain)
        {
            // The pointer still rests where it clicked.
            juce::Desktop::setMousePosition(field.getScreenBounds().getCentre());
            peer->handleFocusLoss();
            pump();
            EXPECT_EQ(juce::Component::getCurrentlyFocusedComponent(), &field) << row.name;
        }

        s.type(row.keys);
        EXPECT_EQ(field.getText(), row.text) << row.name;
        saveScreenshot(s.editor, "focus-" + juce::String(row.name).replace(" ", "-") + ".png");
        s.type("\r");
        EXPECT_TRUE(row.tookEffect(s)) << row.name;
    }
}

TEST(KeyboardFocus, TabStillMovesTheFocusOnFromAField)
{
    ShownEditor s;
    s.canvas.browserItemSelected(SpaceBrowser::Listener::command, "<save>", {});
    juce::TextEditor& field = *s.canvas.saveBox->nameEditor;
    s.click(field, 1);
    s.type("Name\t");
    auto* focused = juce::Component::getCurrentlyFocusedComponent();
    EXPECT_NE(focused, &field);
    EXPECT_TRUE(s.canvas.saveBox->isParentOf(focused));
}

// The user going to another window takes the focus from a field: by a click outside the editor, or
// by the keyboard a while after the click that opened the field, the pointer resting on the editor.
TEST(KeyboardFocus, GoingToAnotherWindowTakesTheFocusFromAField)
{
    struct Row
    {
        const char* name;
        bool pointerOnEditor;
        int msAfterClick;
    };
    const Row rows[] = {{"a click into another window", false, 0},
                        {"a switch of windows by keyboard after a while", true, 1700}};
    for (const Row& row : rows)
    {
        ShownEditor s;
        s.canvas.browserItemSelected(SpaceBrowser::Listener::command, "<save>", {});
        juce::TextEditor& field = *s.canvas.saveBox->nameEditor;
        s.click(field, 1);
        ASSERT_EQ(juce::Component::getCurrentlyFocusedComponent(), &field) << row.name;
        juce::Desktop::setMousePosition(row.pointerOnEditor ? field.getScreenBounds().getCentre()
                                                            : s.editor.getScreenBounds().getBottomRight() +
                                                                  juce::Point<int>{40, 40});
        juce::Thread::sleep(row.msAfterClick);
        s.editor.getPeer()->handleFocusLoss();
        pump();
        EXPECT_EQ(juce::Component::getCurrentlyFocusedComponent(), nullptr) << row.name;
    }
}

int main(int argc, char** argv)
{
    return runWithTemporaryHome(argc, argv,
                                []
                                {
                                    writeTestBank();
                                    // The bare server has no window manager's atoms.
                                    ignoreXErrors();
                                });
}
