// Note markers, the sound and preset browser, its actions and the save box under a virtual X
// server, and one walk through the whole editor: modes, the pad, node popups, saving and loading.
#include <memory>
#include <string>
#include <vector>

#include "EditorTestHome.h"
#include "bankmaker/BankMaker.h"
#include "canvas/SpaceCanvas.h"
#include "editor/ChooserFolder.h"
#include "editor/OpenGLComp.h"
#include "editor/Overlay2D.h"
#include "editor/PluginEditor.h"
#include "editor/TopBarButtons.h"
#include "engine/Random.h"
#include "engine/params/ParamTable.h"
#include "engine/voice/KeyLayout.h"
#include "processor/LibraryFolders.h"
#include "processor/PluginProcessor.h"
#include "processor/PresetFiles.h"
#include "support/TestSounds.h"

namespace juce
{
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
}

namespace
{
using Strings = std::vector<std::string>;

void pump()
{
    while (juce::dispatchNextMessageOnSystemQueue(true)) {}
}

// The test bank, written before the first processor reads the library.
struct Library
{
    Library()
    {
        static const bool written = []
        {
            std::vector<qmbank::BankEntry> entries;
            for (const char* n : {"Brass_Horn", "Brass_Tuba", "Keys_Piano", "Keys_Organ", "Pads_Warm"})
                entries.push_back({n, qmbank::encodeBlob(qmtest::makePlainSpec(60, 4, 1000))});
            getSoundsFolder().createDirectory();
            const auto bank = getSoundsFolder().getChildFile("test.qmbank").getFullPathName().toStdString();
            return qmbank::writeBankZip(bank, entries), true;
        }();
        (void)written;
    }
};

struct Rig : Library
{
    Rig()
    {
        getPresetsFolder().deleteRecursively();
        parent.setSize(630, 504);
        canvas = std::make_unique<SpaceCanvas>(&processor.nodeCanvas, 630, 376, &processor);
        canvas->setTopLeftPosition(0, 50);
        parent.addAndMakeVisible(*canvas);
    }
    void mode(int m) { processor.nodeCanvas.mode = m, canvas->canvasModeChanged(false); }
    void event(int kind, int index, float value)
    {
        const SynthEvent e{kind, index, value};
        canvas->handleMessage(&e);
    }
    SpaceBrowser& browser() { return *canvas->browser; }
    Strings rows(SpaceListModel& m)
    {
        Strings out;
        for (auto* item : m.items)
            out.push_back(item->name.toStdString() + "#" + std::to_string(item->id));
        return out;
    }
    PluginProcessor processor;
    juce::Component parent;
    std::unique_ptr<SpaceCanvas> canvas;
};

juce::MouseEvent mouseAt(juce::Component& c, int x, int y)
{
    const juce::Point<float> at{static_cast<float>(x), static_cast<float>(y)};
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent(juce::Desktop::getInstance().getMainMouseSource(), at,
                            juce::ModifierKeys(juce::ModifierKeys::leftButtonModifier), 0, 0, 0, 0, 0, &c, &c, now,
                            at, now, 1, false);
}

void type(juce::TextEditor& field, const juce::String& keys)
{
    for (auto c : keys)
        field.keyPressed(juce::KeyPress(static_cast<int>(c), 0, c));
    pump();
}

int rowNamed(SpaceListModel& model, const juce::String& name)
{
    for (int i = 0; i < model.items.size(); ++i)
        if (model.items[i]->name == name) return i;
    return -1;
}
} // namespace

TEST(Markers, NotesPlaceMarkersAtTheirKeysAndMixHeights)
{
    Rig rig;
    rig.mode(2);
    const Point2D c4 = keyboardPoint(rig.processor.nodeCanvas, 60, 1.0f);
    EXPECT_NEAR(c4.x, 0.6143f, 1e-4f);
    EXPECT_NEAR(c4.y, 0.625f, 1e-6f);
    struct Row
    {
        int note;
        float velocity;
        int top;
        juce::uint32 key;
        bool lower;
    };
    // Tops: the dot (20 px) centred on the mix point's pixel row (y = 503 - 630 v).
    for (const Row& r : {Row{60, 127, 99, 0xffffffffu, true}, Row{61, 127, 99, 0xff141414u, false},
                         Row{60, 64, 177, 0xffffffffu, true}})
    {
        rig.event(kSynthEventNote, r.note, r.velocity);
        const NoteMarker& m = *rig.canvas->noteMarkers.getLast();
        EXPECT_EQ(m.getY(), r.top) << r.note;
        EXPECT_EQ(m.getBottom(), rig.canvas->pianoRoll->getBottom()) << r.note;
        EXPECT_EQ(m.keyColour.getARGB(), r.key) << r.note;
        EXPECT_EQ(m.lowerWidth > 0, r.lower) << r.note;
        // The dot sits over the note's point on the canvas.
        const float x = rig.canvas->nodeComp->toPixels(keyboardPoint(rig.processor.nodeCanvas, r.note, 1.0f)).x;
        const int keyX = m.getX() + (r.lower ? m.lowerX : m.upperX), keyWidth = r.lower ? m.lowerWidth : m.upperWidth;
        EXPECT_TRUE(x > keyX && x < keyX + keyWidth) << r.note;
        EXPECT_EQ(rig.canvas->getIndexOfChildComponent(rig.canvas->browser.get()),
                  rig.canvas->getNumChildComponents() - 1);
        rig.event(kSynthEventNote, r.note, 0);
    }

    struct Seq
    {
        int mode;
        std::vector<std::pair<int, float>> notes;
        std::vector<int> held;
    };
    std::vector<std::pair<int, float>> flood;
    for (int i = 0; i < 130; ++i)
        flood.push_back({i % 128, 100.0f});
    std::vector<int> flooded;
    for (int i = 2; i < 130; ++i)
        flooded.push_back(i % 128);
    for (const Seq& s : {Seq{2, {{60, 90}, {60, 100}, {60, 0}}, {}}, Seq{2, {{60, 90}, {62, 90}, {60, 0}}, {62}},
                         Seq{2, {{-1, 90}, {128, 90}, {128, 0}}, {}}, Seq{1, {{60, 90}}, {}}, Seq{2, flood, flooded}})
    {
        Rig r;
        r.mode(s.mode);
        for (auto [note, velocity] : s.notes)
            r.event(kSynthEventNote, note, velocity);
        std::vector<int> held;
        for (auto* m : r.canvas->noteMarkers)
            held.push_back(m->note);
        EXPECT_EQ(held, s.held) << s.notes.size();
        EXPECT_EQ(r.canvas->getNumChildComponents(), 4 + static_cast<int>(s.held.size()) - (s.mode == 1 ? 1 : 0));
    }
}

TEST(Markers, HostMorphMovesOnlyTheHighlightAndNewNodeSetsRefreshWithoutAPush)
{
    Rig rig;
    rig.mode(1);
    auto& data = rig.processor.nodeCanvas;
    const float before = rig.processor.dsp->params[kParamMorphX].value;
    Point2D shown = rig.canvas->nodeTriangle->mix.point;
    const auto pushes = rig.processor.canvasQueue.pushCount() + rig.processor.mixQueue.pushCount();
    for (const auto& [index, moved] : {std::pair{kParamMorphX, true}, {8, false}, {kParamMorphY, true}})
    {
        rig.event(kSynthEventParamChanged, index, 0.25f);
        const Point2D p = rig.canvas->nodeTriangle->mix.point;
        EXPECT_EQ(p.x != shown.x, moved && index == kParamMorphX) << index;
        EXPECT_EQ(p.y != shown.y, moved && index == kParamMorphY) << index;
        shown = p;
    }
    EXPECT_NEAR(rig.canvas->nodeTriangle->mix.point.x, data.lo[1].x + 0.25f * (data.hi[1].x - data.lo[1].x), 1e-5f);
    EXPECT_EQ(rig.processor.dsp->params[kParamMorphX].value, before);

    data.nodeCount = 3, data.dirty = 1;
    rig.event(kSynthEventPresetsChanged, -1, 0);
    EXPECT_EQ(rig.canvas->nodeComp->nodes.size(), 3);
    EXPECT_EQ(rig.processor.canvasQueue.pushCount() + rig.processor.mixQueue.pushCount(), pushes);
}

TEST(Browser, ListsFollowTheSoundRunsAndTheSharedPresetOrder)
{
    Rig rig;
    auto& sounds = rig.processor.dsp->sounds;
    sounds.resize(4);
    for (const auto& [i, category, index] : {std::tuple{0, "A", 0}, {1, "A", 0}, {2, "B", 1}, {3, "A", 0}})
        std::strcpy(sounds[static_cast<size_t>(i)].category, category), sounds[static_cast<size_t>(i)].categoryIndex = index;
    for (const auto& [category, expected] :
         {std::pair{-1, Strings{"A#10000", "B#10001", "A#10000", "<add soundBank>#20001"}},
          {0, Strings{"Horn#0", "Tuba#1"}}, {1, Strings{"Piano#2"}}})
    {
        SpaceListModel model;
        makeInstrumentList(&model, &rig.processor, category);
        EXPECT_EQ(rig.rows(model), expected) << category;
    }

    const juce::File presets = getPresetsFolder();
    for (const char* f : {"Bass.qmpreset", "apple.qmpreset", "Apple.qmpreset", "Leads/z.qmpreset", "Leads/A.qmpreset",
                          "Leads/sub/deep.qmpreset", "a.qmpreset.bak", ".hid.qmpreset", "Cello.qmpreset"})
        presets.getChildFile(f).create();
    rig.browser().refreshWithState(SpaceListModel::presetsList, {});
    auto& shown = rig.browser().categoryModel;
    EXPECT_EQ(rig.rows(shown), (Strings{"<save>#20000", "Random#20000", ".hid#-1", "Apple#-1", "apple#-1", "Bass#-1",
                                        "Cello#-1", "Leads#10000", "<organize>#20000"}));
    shown.selectedRowsChanged(rowNamed(shown, "Leads"));
    EXPECT_EQ(rig.rows(rig.browser().itemModel), (Strings{"A#-1", "z#-1"}));
    EXPECT_EQ(listPresetNames(), (juce::StringArray{".hid", "Apple", "apple", "Bass", "Cello", "Leads/A",
                                                   "Leads/sub/deep", "Leads/z"}));
}

TEST(Browser, TabsGeometryAndDrags)
{
    Rig rig;
    SpaceBrowser& b = rig.browser();
    const juce::Colour on(0xffffffffu), off(0xff999999u);
    struct Step
    {
        juce::TextButton* click;
        juce::Colour sounds, presets;
        bool open;
    };
    juce::Colour lastRandom;
    for (const Step& s : {Step{b.presetsTab.get(), off, on, true}, Step{b.presetsTab.get(), off, off, false},
                          Step{b.soundsTab.get(), on, off, true}, Step{b.presetsTab.get(), off, on, true},
                          Step{b.closeButton.get(), off, off, false}, Step{b.presetsTab.get(), off, on, true}})
    {
        b.buttonClicked(s.click);
        EXPECT_EQ(b.soundsTab->findColour(juce::TextButton::textColourOffId), s.sounds);
        EXPECT_EQ(b.presetsTab->findColour(juce::TextButton::textColourOffId), s.presets);
        EXPECT_EQ(b.categoryList.isVisible() && b.closeButton->isVisible(), s.open);
        if (!s.open || s.presets != on) continue;
        const juce::Colour random = b.categoryModel.items[1]->colour;
        EXPECT_NE(random, lastRandom);
        EXPECT_NEAR(random.getSaturation(), 0.8f, 0.01f);
        EXPECT_EQ(random.getBrightness() * random.getAlpha(), 255.0f);
        lastRandom = random;
    }

    // Lists take their widest row + 24, at most half the panel - 3, and stop at its bottom.
    auto& sounds = rig.processor.dsp->sounds;
    const auto fit = [&](const char* name) { return static_cast<int>(b.categoryModel.font.getStringWidthFloat(name) + 24); };
    const int left = fit("<add soundBank>");
    for (const auto& [name, width] : {std::pair{"Wide name", fit("Wide name")}, {"Wide name wide name wide name", 177}})
    {
        std::strcpy(sounds[1].name, name);
        b.refreshWithState(SpaceListModel::soundsList, {});
        b.categoryModel.selectedRowsChanged(0);
        EXPECT_EQ(b.categoryList.getBounds(), juce::Rectangle<int>(3, 24, left, 4 * 22)) << name;
        EXPECT_EQ(b.itemList.getBounds(), juce::Rectangle<int>(left + 6, 24, width, 2 * 22)) << name;
    }
    sounds.assign(40, sounds[0]);
    b.refreshWithState(SpaceListModel::soundsList, {});
    b.categoryModel.selectedRowsChanged(0);
    EXPECT_EQ(b.itemList.getHeight(), 349);

    // A drag 3 px right of and 5 px below row 1's corner at twice the design size grabs (1, 2).
    rig.processor.editorWidth = 1260;
    b.itemList.selectRow(1);
    const auto corner = b.itemList.getPosition() + juce::Point<int>{0, 22};
    juce::Desktop::setMousePosition(b.localPointToGlobal(corner + juce::Point<int>{3, 5}));
    juce::SparseSet<int> one, past, none;
    one.addRange({1, 2}), past.addRange({40, 41});
    EXPECT_EQ(static_cast<int>(b.itemModel.getDragSourceDescription(one)), 1);
    EXPECT_EQ(b.grabOffset, juce::Point<int>(1, 2));
    EXPECT_EQ(b.dragId, 1);
    b.dragId = 0;
    for (const auto* rows : {&past, &none})
        EXPECT_TRUE(b.itemModel.getDragSourceDescription(*rows).isVoid());
    getPresetsFolder().getChildFile("Leads/Bass.qmpreset").create();
    b.refreshWithState(SpaceListModel::presetsList, {});
    b.categoryModel.selectedRowsChanged(rowNamed(b.categoryModel, "Leads"));
    juce::SparseSet<int> preset;
    preset.addRange({0, 1});
    ASSERT_EQ(b.itemModel.items[0]->name, "Bass");
    EXPECT_TRUE(b.itemModel.getDragSourceDescription(preset).isVoid());
    EXPECT_EQ(b.dragId, 0);
}

TEST(BrowserActions, LoadRandomOrganizeAndSoundBanks)
{
    Rig rig;
    rig.canvas->browserItemSelected(SpaceBrowser::Listener::loadPreset, "missing", {});
    ASSERT_NE(rig.canvas->alert, nullptr);
    EXPECT_EQ(rig.canvas->alert->message, "Error: Preset file not found!");
    EXPECT_EQ(rig.canvas->alert->getParentComponent(), &rig.parent);
    rig.processor.savePreset("Kept");
    rig.processor.setPresetName("Other");
    rig.canvas->browserItemSelected(SpaceBrowser::Listener::loadPreset, "Kept", {});
    EXPECT_EQ(rig.processor.getPresetName(), "");

    engineSrand(7);
    std::vector<Strings> spaces;
    for (int i = 0; i < 2; ++i)
    {
        rig.canvas->browserItemSelected(SpaceBrowser::Listener::command, "Random", {});
        Strings space;
        for (int n = 0; n < rig.processor.nodeCanvas.nodeCount; ++n)
            space.push_back(std::to_string(rig.processor.nodeCanvas.nodes[static_cast<size_t>(n)].soundId) + "@" +
                            std::to_string(rig.processor.nodeCanvas.nodes[static_cast<size_t>(n)].pos.x));
        EXPECT_FALSE(space.empty());
        spaces.push_back(space);
    }
    EXPECT_NE(spaces[0], spaces[1]);

    Strings revealed;
    rig.canvas->revealFolder = [&](const juce::File& f) { revealed.push_back(f.getFullPathName().toStdString()); };
    getPresetsFolder().deleteRecursively();
    rig.canvas->browserItemSelected(SpaceBrowser::Listener::command, "<organize>", {});
    EXPECT_EQ(revealed, Strings{getPresetsFolder().getFullPathName().toStdString()});
    EXPECT_TRUE(getPresetsFolder().isDirectory());

    const juce::File cwd = juce::File::getCurrentWorkingDirectory();
    const juce::File dir = getLibraryFolder().getChildFile("downloads");
    dir.getChildFile("a.txt").create(), dir.getChildFile("b.wav").create();
    rig.browser().installSoundBanks({});
    EXPECT_EQ(rig.browser().alert, nullptr);
    rig.browser().installSoundBanks({dir.getChildFile("a.txt"), dir.getChildFile("b.wav")});
    ASSERT_NE(rig.browser().alert, nullptr);
    EXPECT_EQ(rig.browser().alert->message, "\nUnsupported file type.\nUnsupported file type.");
    EXPECT_EQ(rig.browser().alert->getParentComponent(), &rig.parent);
    EXPECT_EQ(getChooserFolder(), dir);
    EXPECT_EQ(juce::File::getCurrentWorkingDirectory(), cwd);
}

TEST(SaveBox, GeometryTypingAndClosing)
{
    using Box = juce::Rectangle<int>;
    for (const auto& [width, box] : {std::pair{630, Box(205, 200, 220, 104)}, {250, Box(25, 200, 200, 104)}})
    {
        juce::Component parent;
        parent.setSize(width, 504);
        SaveBox save(parent, nullptr);
        EXPECT_EQ(save.boxBounds, box);
        EXPECT_EQ(save.titleLabel->getBounds(), Box(box.getX() + 8, 208, box.getWidth() - 16, 24));
        EXPECT_EQ(save.nameEditor->getBounds(), Box(box.getX() + 8, 232, box.getWidth() - 16, 24));
        EXPECT_EQ(save.saveButton->getBounds(), Box(box.getRight() - 68, 264, 60, 24));
        EXPECT_EQ(save.cancelButton->getBounds(), Box(box.getRight() - 136, 264, 60, 24));
    }

    struct Row
    {
        juce::String typed, kept;
        const char* close; // "return", "escape", "cancel" or "save"
        bool saved;
    };
    const juce::String a33 = juce::String::repeatedString("a", 33);
    for (const Row& r : {Row{"My Preset", "My Preset", "return", true}, Row{"a/b:c", "abc", "save", true},
                         Row{a33, a33.dropLastCharacters(1), "return", true}, Row{"   ", "   ", "return", false},
                         Row{"", "", "return", false}, Row{"Esc", "Esc", "escape", false},
                         Row{"Cancel", "Cancel", "cancel", false}})
    {
        Rig rig;
        rig.canvas->browserItemSelected(SpaceBrowser::Listener::command, "<save>", {});
        SaveBox& box = *rig.canvas->saveBox;
        ASSERT_EQ(box.getParentComponent(), &rig.parent);
        type(*box.nameEditor, r.typed);
        EXPECT_EQ(box.nameEditor->getText(), r.kept);
        EXPECT_EQ(box.saveButton->isEnabled(), r.kept.trim().isNotEmpty()) << r.typed;
        const juce::String close = r.close;
        if (close == "return") box.nameEditor->keyPressed(juce::KeyPress(juce::KeyPress::returnKey)), pump();
        if (close == "escape") box.nameEditor->keyPressed(juce::KeyPress(juce::KeyPress::escapeKey)), pump();
        if (close == "save" || close == "cancel")
            box.buttonClicked(close == "save" ? box.saveButton.get() : box.cancelButton.get());
        EXPECT_EQ(box.getParentComponent() == nullptr, r.saved || close != "return") << r.typed;
        const juce::File file = presetFileFor(r.kept);
        EXPECT_EQ(file.existsAsFile(), r.saved) << r.typed;
        juce::MemoryBlock state, saved;
        rig.processor.getStateInformation(state);
        EXPECT_TRUE(!r.saved || (file.loadFileAsData(saved) && saved == state)) << r.typed;
    }
}

TEST(EditorWalk, ModesPadNodesSaveReloadAndScreenshot)
{
    Library library;
    PluginProcessor processor;
    getPresetsFolder().deleteRecursively();
    PluginEditor editor(&processor);
    Overlay2D& overlay = *editor.getRootView()->getOverlay();
    SpaceCanvas& canvas = *overlay.getSpaceCanvas();
    for (int mode : {0, 2, 1})
    {
        overlay.getTopTab(mode)->triggerClick();
        pump();
        EXPECT_EQ(processor.nodeCanvas.mode, mode);
    }

    struct Gestures : juce::AudioProcessorParameter::Listener
    {
        int begins = 0, ends = 0;
        void parameterValueChanged(int, float) override {}
        void parameterGestureChanged(int, bool on) override { ++(on ? begins : ends); }
    } host;
    PluginParam* morphX = processor.getHostParam(processor.dsp->params[kParamMorphX].hostIndex);
    morphX->addListener(&host);
    canvas.mouseDown(mouseAt(canvas, 300, 200));
    for (int x : {310, 320, 330})
        canvas.mouseDrag(mouseAt(canvas, x, 210));
    canvas.mouseUp(mouseAt(canvas, 330, 210));
    morphX->removeListener(&host);
    EXPECT_EQ(host.begins, 1);
    EXPECT_EQ(host.ends, 1);

    // The popups' own items add a node and delete it again.
    const auto idOf = [](const juce::PopupMenu& menu, const juce::String& text)
    {
        for (juce::PopupMenu::MenuItemIterator it(menu, true); it.next();)
            if (it.getItem().text == text) return it.getItem().itemID;
        return 0;
    };
    const int count = processor.nodeCanvas.nodeCount;
    canvas.pressPoint = {0.5f, 0.5f};
    canvas.selectedNode = -1;
    canvas.handlePopupResult(idOf(canvas.buildPopup(SpaceCanvas::canvasPopup), "Organ"));
    EXPECT_EQ(processor.nodeCanvas.nodeCount, count + 1);
    EXPECT_EQ(processor.nodeCanvas.nodes[static_cast<size_t>(count)].soundId, 3);
    canvas.selectedNode = count;
    canvas.handlePopupResult(idOf(canvas.buildPopup(SpaceCanvas::nodePopup), "Delete"));
    EXPECT_EQ(processor.nodeCanvas.nodeCount, count);

    // Saved by typing, changed, loaded from the list: the saved state returns.
    SpaceBrowser& browser = *canvas.browser;
    browser.presetsTab->triggerClick();
    pump();
    browser.categoryList.selectRow(rowNamed(browser.categoryModel, "<save>"));
    ASSERT_NE(canvas.saveBox, nullptr);
    EXPECT_EQ(canvas.saveBox->getParentComponent(), &overlay);
    type(*canvas.saveBox->nameEditor, "Walk");
    canvas.saveBox->nameEditor->keyPressed(juce::KeyPress(juce::KeyPress::returnKey));
    pump();
    juce::MemoryBlock saved, changed, loaded;
    processor.getStateInformation(saved);
    processor.dsp->params[0].value = processor.dsp->params[0].value * 0.5f + 0.1f;
    browser.categoryList.selectRow(rowNamed(browser.categoryModel, "Random"));
    processor.getStateInformation(changed);
    EXPECT_NE(changed, saved);
    for (int i = 0; i < 2; ++i)
        browser.presetsTab->triggerClick(), pump();
    browser.categoryList.selectRow(rowNamed(browser.categoryModel, "Walk"));
    processor.getStateInformation(loaded);
    EXPECT_EQ(loaded, saved);
    saveScreenshot(*editor.getRootView(), "browser-presets.png");

    // Names the processor cannot save, and a presets folder that cannot hold files, are reported.
    for (const char* name : {"..", "Blocked"})
    {
        overlay.clearOverlays();
        if (juce::String(name) == "Blocked") getPresetsFolder().deleteRecursively(), getPresetsFolder().create();
        canvas.browserItemSelected(SpaceBrowser::Listener::command, "<save>", {});
        type(*canvas.saveBox->nameEditor, name);
        canvas.saveBox->nameEditor->keyPressed(juce::KeyPress(juce::KeyPress::returnKey));
        pump();
        editor.timerCallback();
        ASSERT_NE(overlay.getAlert(), nullptr) << name;
        EXPECT_EQ(overlay.getAlert()->message, "Couldn't save to file! Sorry.") << name;
    }
}
int main(int argc, char** argv)
{
    return runWithTemporaryHome(argc, argv);
}
