// Note markers, the sound and preset browser, its actions and the save box under a virtual X
// server, and one walk through the whole editor: modes, the pad, node popups, saving and loading.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "EditorTestHome.h"
#include "XErrors.h"
#include "canvas/SpaceCanvas.h"
#include "editor/ChooserFolder.h"
#include "editor/OpenGLComp.h"
#include "editor/Overlay2D.h"
#include "editor/PluginEditor.h"
#include "editor/TopBarButtons.h"
#include "engine/Random.h"
#include "engine/params/ParamTable.h"
#include "engine/voice/KeyLayout.h"
#include "processor/PluginProcessor.h"
#include "processor/PresetFiles.h"
#include "support/FakeOpener.h"

namespace
{
using Strings = std::vector<std::string>;
using Type = SpaceBrowser::Listener::ItemType;

// A canvas at the overlay's place in a parent of the editor's size.
struct Rig
{
    Rig()
    {
        getPresetsFolder().deleteRecursively();
        parent.setSize(630, 504);
        canvas->setTopLeftPosition(0, 50);
        parent.addAndMakeVisible(*canvas);
    }
    void mode(int m) { processor.nodeCanvas.mode = m, canvas->canvasModeChanged(false); }
    void event(int kind, int i, float v) { canvas->handleMessage(std::array{SynthEvent{kind, i, v}}.data()); }
    void choose(Type type, const char* name) { canvas->browserItemSelected(type, name, {}); }
    PluginProcessor processor;
    juce::Component parent;
    std::unique_ptr<SpaceCanvas> canvas =
        std::make_unique<SpaceCanvas>(&processor.nodeCanvas, 630, 376, &processor);
    SpaceBrowser& browser = *canvas->browser;
};

// Keys as typed ('\r' is return, '\x1b' escape), then the field's queued notices.
void type(juce::TextEditor& field, const juce::String& keys)
{
    for (auto c : keys)
        field.keyPressed(c == '\r' ? juce::KeyPress(juce::KeyPress::returnKey)
                         : c == 27 ? juce::KeyPress(juce::KeyPress::escapeKey)
                                   : juce::KeyPress(static_cast<int>(c), 0, c));
    pump();
}

Strings rows(SpaceListModel& m)
{
    Strings out;
    for (auto* item : m.items)
        out.push_back(item->name.toStdString() + "#" + std::to_string(item->id));
    return out;
}

// Selects the row called name, as a click does.
void pick(juce::ListBox& list, SpaceListModel& m, const juce::String& name)
{
    for (int i = 0; i < m.items.size(); ++i)
        if (m.items[i]->name == name) return list.selectRow(i);
    ADD_FAILURE() << "no row " << name;
}

} // namespace

TEST(Markers, NotesMorphParametersAndNodeSets)
{
    Rig rig;
    rig.mode(2);
    const Point2D c4 = keyboardPoint(rig.processor.nodeCanvas, 60, 1.0f);
    EXPECT_NEAR(c4.x, 0.6143f, 1e-4f);
    EXPECT_NEAR(c4.y, 0.625f, 1e-6f);
    // Tops: the 20 px dot centred on the mix point's pixel row (y = 503 - 630 v).
    for (const auto& [note, velocity, top, key, lower] :
         {std::tuple{60, 127.0f, 99, 0xffffffffu, true}, {61, 127.0f, 99, 0xff141414u, false},
          {60, 64.0f, 177, 0xffffffffu, true}})
    {
        rig.event(kSynthEventNote, note, velocity);
        const NoteMarker& m = *rig.canvas->noteMarkers.getLast();
        EXPECT_EQ(m.getY(), top) << note;
        EXPECT_EQ(m.keyColour.getARGB(), key) << note;
        EXPECT_EQ(m.lowerWidth > 0, lower) << note;
        // The panel stays above the markers.
        EXPECT_EQ(rig.canvas->getChildComponent(rig.canvas->getNumChildComponents() - 1), &rig.browser);
        rig.event(kSynthEventNote, note, 0);
    }

    // Notes (velocity 0 is an off) and the markers left, oldest first; the last row floods 130 notes.
    using Notes = std::vector<std::pair<int, float>>;
    Notes flood;
    std::vector<int> flooded;
    for (int i = 0; i < 130; ++i)
        flood.push_back({i % 128, 100.0f}), flooded.push_back(i % 128);
    flooded.erase(flooded.begin(), flooded.begin() + 2);
    for (const auto& [mode, notes, held] :
         {std::tuple{2, Notes{{60, 90}, {60, 100}, {60, 0}}, std::vector<int>{}},
          {2, Notes{{60, 90}, {62, 90}, {60, 0}}, {62}}, {2, Notes{{-1, 90}, {128, 90}, {128, 0}}, {}},
          {1, Notes{{60, 90}}, {}}, {2, flood, flooded}})
    {
        Rig r;
        r.mode(mode);
        for (auto [note, velocity] : notes)
            r.event(kSynthEventNote, note, velocity);
        std::vector<int> left;
        for (auto* m : r.canvas->noteMarkers)
            left.push_back(m->getParentComponent() == r.canvas.get() ? m->note : -1);
        EXPECT_EQ(left, held) << notes.size();
    }

    // In the pad the host's Morph X / Y move the highlight only; a new node set is shown, not sent.
    rig.mode(1);
    auto& data = rig.processor.nodeCanvas;
    const float before = rig.processor.dsp->params[kParamMorphX].value;
    const auto pushes = rig.processor.canvasQueue.pushCount() + rig.processor.mixQueue.pushCount();
    for (const auto& [index, value] : {std::pair{kParamMorphX, 0.25f}, {8, 0.9f}, {kParamMorphY, 0.75f}})
        rig.event(kSynthEventParamChanged, index, value);
    const Point2D p = rig.canvas->nodeTriangle->mix.point, lo = data.lo[1], hi = data.hi[1];
    EXPECT_NEAR(p.x, lo.x + 0.25f * (hi.x - lo.x), 1e-5f);
    EXPECT_NEAR(p.y, lo.y + 0.75f * (hi.y - lo.y), 1e-5f);
    EXPECT_EQ(rig.processor.dsp->params[kParamMorphX].value, before);
    data.nodeCount = 3, data.dirty = 1;
    rig.event(kSynthEventPresetsChanged, -1, 0);
    EXPECT_EQ(rig.canvas->nodeComp->nodes.size(), 3);
    EXPECT_EQ(rig.processor.canvasQueue.pushCount() + rig.processor.mixQueue.pushCount(), pushes);
}

TEST(Browser, SoundRunsAndTheSharedPresetOrder)
{
    Rig rig;
    auto& sounds = rig.processor.dsp->sounds;
    for (const auto& [i, category, index] : {std::tuple{0, "A", 0}, {1, "A", 0}, {2, "B", 1}, {3, "A", 0}})
        std::strcpy(sounds[size_t(i)].category, category), sounds[size_t(i)].categoryIndex = index;
    sounds.resize(4);
    for (const auto& [category, expected] :
         {std::pair{-1, Strings{"A#10000", "B#10001", "A#10000", "<add soundBank>#20001"}},
          {0, Strings{"Horn#0", "Tuba#1"}}, {1, Strings{"Piano#2"}}})
    {
        SpaceListModel model;
        makeInstrumentList(&model, &rig.processor, category);
        EXPECT_EQ(rows(model), expected) << category;
    }
    // A bank's names are any bytes: Latin-1 as older archivers wrote it shows as such.
    std::strcpy(sounds[2].name, "Pian\xf6");
    SpaceListModel latin;
    makeInstrumentList(&latin, &rig.processor, 1);
    EXPECT_EQ(rows(latin), Strings{"Pian\xc3\xb6#2"});

    for (const char* f :
         {"Bass.qmpreset", "apple.qmpreset", "Apple.qmpreset", "Leads/z.qmpreset", "Leads/A.qmpreset",
          "Leads/sub/deep.qmpreset", "a.qmpreset.bak", ".hid.qmpreset", "Cello.qmpreset", ".qmpreset",
          "..qmpreset"})
        getPresetsFolder().getChildFile(f).create();
    rig.browser.refreshWithState(SpaceListModel::presetsList, {});
    // ".qmpreset" and "..qmpreset" are the presets "" and ".", as every list names them.
    EXPECT_EQ(rows(rig.browser.categoryModel),
              (Strings{"<save>#20000", "Random#20000", "#-1", ".#-1", ".hid#-1", "Apple#-1", "apple#-1",
                       "Bass#-1", "Cello#-1", "Leads#10000", "<organize>#20000"}));
    pick(rig.browser.categoryList, rig.browser.categoryModel, "Leads");
    EXPECT_EQ(rows(rig.browser.itemModel), (Strings{"A#-1", "z#-1"}));
    EXPECT_EQ(listPresetNames(), (juce::StringArray{"", ".", ".hid", "Apple", "apple", "Bass", "Cello",
                                                    "Leads/A", "Leads/sub/deep", "Leads/z"}));
}

TEST(Browser, TabsGeometryAndDrags)
{
    Rig rig;
    SpaceBrowser& b = rig.browser;
    const juce::Colour on(0xffffffffu), off(0xff999999u);
    juce::Colour random;
    // Click, then the tabs' colours and whether the list is open.
    for (const auto& [click, sounds, presets, open] :
         {std::tuple{b.presetsTab.get(), off, on, true}, {b.presetsTab.get(), off, off, false},
          {b.soundsTab.get(), on, off, true}, {b.presetsTab.get(), off, on, true},
          {b.closeButton.get(), off, off, false}})
    {
        b.buttonClicked(click);
        EXPECT_EQ(b.soundsTab->findColour(juce::TextButton::textColourOffId), sounds);
        EXPECT_EQ(b.presetsTab->findColour(juce::TextButton::textColourOffId), presets);
        EXPECT_EQ(b.categoryList.isVisible() && b.closeButton->isVisible(), open);
        if (presets != on) continue;
        EXPECT_NE(b.categoryModel.items[1]->colour, random);
        random = b.categoryModel.items[1]->colour;
        EXPECT_NEAR(random.getSaturation(), 0.8f, 0.01f);
        EXPECT_EQ(random.getBrightness() * random.getAlpha(), 255.0f);
    }

    // Lists take their widest row + 24, at most half the panel - 3 (177), and stop at its bottom.
    auto& sounds = rig.processor.dsp->sounds;
    const int left = 118; // "<add soundBank>" and its margins
    std::strcpy(sounds[1].name, "Wide name wide name wide name");
    b.refreshWithState(SpaceListModel::soundsList, {});
    b.categoryList.selectRow(0);
    EXPECT_EQ(b.categoryList.getBounds(), juce::Rectangle<int>(3, 24, left, 4 * 22));
    EXPECT_EQ(b.itemList.getBounds(), juce::Rectangle<int>(left + 6, 24, 177, 2 * 22));
    sounds.assign(40, sounds[0]);
    b.refreshWithState(SpaceListModel::soundsList, {});
    b.categoryList.selectRow(0);
    EXPECT_EQ(b.itemList.getHeight(), 349);

    // A drag 3 px right of and 5 px below row 1's corner grabs (3, 5), in the list's units at any size.
    rig.processor.editorWidth = 1260;
    b.itemList.selectRow(1);
    const juce::Point<int> at = b.itemList.getPosition() + juce::Point<int>{3, 22 + 5};
    juce::Desktop::setMousePosition(b.localPointToGlobal(at));
    // The offset is read from the display's pointer: make sure the display put it there.
    ASSERT_EQ(b.getMouseXYRelative(), at);
    EXPECT_EQ(static_cast<int>(b.itemModel.getDragSourceDescription(b.itemList.getSelectedRows())), 1);
    EXPECT_EQ(b.grabOffset, juce::Point<int>(3, 5));
    EXPECT_EQ(b.dragId, 1);
    // Neither no rows nor a preset row starts a drag.
    getPresetsFolder().getChildFile("Leads/Bass.qmpreset").create();
    b.buttonClicked(b.presetsTab.get());
    pick(b.categoryList, b.categoryModel, "Leads");
    b.itemList.selectRow(0);
    b.dragId = -5;
    for (const auto& rows : {juce::SparseSet<int>{}, b.itemList.getSelectedRows()})
        EXPECT_TRUE(b.itemModel.getDragSourceDescription(rows).isVoid()) << rows.size();
    EXPECT_EQ(b.dragId, -5);

    // A sound dragged from its row onto the canvas through the window's own mouse events, with the
    // editor scaled: the dropped node's dot lands where the drag image showed it (screen pixels).
    for (const float scale : {1.0f, 1.2f, 2.0f})
    {
        Rig r;
        juce::Component window;
        window.setSize(juce::roundToInt(630 * scale), juce::roundToInt(504 * scale));
        r.parent.setTransform(juce::AffineTransform::scale(scale));
        window.addAndMakeVisible(r.parent);
        window.addToDesktop(0);
        window.setVisible(true);
        r.processor.editorWidth = window.getWidth(), r.processor.editorHeight = window.getHeight();
        r.browser.refreshWithState(SpaceListModel::soundsList, {});
        r.browser.categoryList.selectRow(0);
        pump();
        auto* peer = window.getPeer();
        juce::int64 time = juce::Time::currentTimeMillis();
        const auto down = juce::ModifierKeys().withFlags(juce::ModifierKeys::leftButtonModifier);
        const auto mouse = [&](juce::Component& c, juce::Point<int> point, juce::ModifierKeys mods)
        {
            const auto p = window.getLocalPoint(&c, point.toFloat());
            juce::Desktop::setMousePosition(window.localPointToGlobal(p).roundToInt());
            peer->handleMouseEvent(juce::MouseInputSource::InputSourceType::mouse, p, mods,
                                   juce::MouseInputSource::defaultPressure,
                                   juce::MouseInputSource::defaultOrientation, time += 30);
        };
        const auto row = r.browser.itemList.getRowPosition(1, true).getTopLeft();
        mouse(r.browser.itemList, row + juce::Point<int>{37, 9}, down);
        mouse(r.browser.itemList, row + juce::Point<int>{45, 13}, down);
        mouse(*r.canvas, {471, 233}, down);
        juce::Component* image = nullptr;
        for (int i = 0; i < juce::Desktop::getInstance().getNumComponents(); ++i)
            if (auto* c = juce::Desktop::getInstance().getComponent(i); c != &window && c->isVisible())
                image = c;
        ASSERT_NE(image, nullptr) << scale;
        const auto shown = image->getScreenPosition().toFloat() + juce::Point<float>{10.0f, 10.0f} * scale;
        const int before = r.processor.nodeCanvas.nodeCount;
        mouse(*r.canvas, {471, 233}, {});
        // The image fades in a window of its own: gone before the server.
        juce::Desktop::getInstance().getAnimator().cancelAllAnimations(false);
        ASSERT_EQ(r.processor.nodeCanvas.nodeCount, before + 1) << scale;
        const auto& node = r.processor.nodeCanvas.nodes[static_cast<size_t>(before)];
        EXPECT_EQ(node.soundId, 1) << scale;
        const auto dot = r.canvas->nodeComp->localPointToGlobal(r.canvas->nodeComp->toPixels(node.pos));
        const auto miss = dot - shown;
        EXPECT_TRUE(std::abs(miss.x) <= 1.0f && std::abs(miss.y) <= 1.0f)
            << scale << ": dropped " << dot.toString() << ", shown " << shown.toString();
    }
}

TEST(Browser, TheWidestGroupRowShowsItsWholeName)
{
    // The list is as wide as its widest row, here a category or a folder: the row shows that name
    // whole, pixel for pixel as the name alone drawn without a limit, up to where its arrow starts.
    struct Backdrop : juce::Component
    {
        void paint(juce::Graphics& g) override { g.fillAll(juce::Colour(0xff56707eu)); }
    };
    for (const auto& [mode, name, screenshot] :
         {std::tuple{SpaceListModel::soundsList, "Orchestral Brass Hall", "browser-long-category.png"},
          {SpaceListModel::presetsList, "Evening Strings", "browser-long-folder.png"}})
    {
        Rig rig;
        std::strcpy(rig.processor.dsp->sounds[0].category, name);
        getPresetsFolder().getChildFile(name).createDirectory();
        rig.browser.refreshWithState(mode, {});
        SpaceListModel& model = rig.browser.categoryModel;
        int row = 0;
        float widest = 0.0f;
        for (int i = 0; i < model.items.size(); ++i)
        {
            widest = std::max(widest, model.font.getStringWidthFloat(model.items[i]->name));
            if (model.items[i]->name == name) row = i;
        }
        ASSERT_EQ(model.items[row]->name, name);
        ASSERT_EQ(model.font.getStringWidthFloat(name), widest) << name;
        const int width = rig.browser.categoryList.getVisibleRowWidth();
        ASSERT_EQ(width, static_cast<int>(widest + 24.0f)) << name;

        juce::Image shown(juce::Image::ARGB, width, 22, true), whole(juce::Image::ARGB, width, 22, true);
        {
            juce::Graphics g(shown);
            model.paintListBoxItem(row, g, width, 22, false);
        }
        {
            juce::Graphics g(whole);
            g.fillAll(juce::Colour(0xcc000000u));
            g.setColour(model.items[row]->colour);
            g.setFont(model.font);
            g.drawText(name, 8, 0, 1000, 22, juce::Justification::centredLeft, false);
        }
        const int arrowLeft = static_cast<int>(static_cast<float>(width - 4) - 0.8f * 0.35f * 22.0f);
        int differing = 0;
        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < arrowLeft; ++x)
                differing += shown.getPixelAt(x, y) != whole.getPixelAt(x, y);
        EXPECT_EQ(differing, 0) << name;

        Backdrop backdrop;
        backdrop.setSize(360, 200);
        backdrop.addAndMakeVisible(rig.parent);
        rig.parent.setTopLeftPosition(0, -50);
        saveScreenshot(backdrop, screenshot);
    }
}

TEST(BrowserActions, RandomOrganizeAndSoundBanks)
{
    Rig rig;
    engineSrand(7);
    rig.choose(Type::command, "Random");
    const NodeCanvasData first = rig.processor.nodeCanvas;
    rig.choose(Type::command, "Random");
    EXPECT_GT(first.nodeCount, 0);
    EXPECT_NE(std::memcmp(first.nodes.data(), rig.processor.nodeCanvas.nodes.data(), sizeof(first.nodes)), 0);

    juce::File revealed;
    rig.canvas->revealFolder = [&](const juce::File& f) { revealed = f.isDirectory() ? f : juce::File(); };
    getPresetsFolder().deleteRecursively();
    rig.choose(Type::command, "<organize>");
    EXPECT_EQ(revealed, getPresetsFolder());

    const juce::File cwd = juce::File::getCurrentWorkingDirectory(),
                     dir = getLibraryFolder().getChildFile("in");
    const juce::Array<juce::File> files{dir.getChildFile("a.txt"), dir.getChildFile("b.wav")};
    files[0].create(), files[1].create();
    rig.browser.installSoundBanks({});
    EXPECT_EQ(rig.browser.alert, nullptr);
    rig.browser.installSoundBanks(files);
    ASSERT_NE(rig.browser.alert, nullptr);
    EXPECT_EQ(rig.browser.alert->message, "\nUnsupported file type.\nUnsupported file type.");
    EXPECT_EQ(rig.browser.alert->getParentComponent(), &rig.parent);
    EXPECT_EQ(getChooserFolder(), dir);
    EXPECT_EQ(juce::File::getCurrentWorkingDirectory(), cwd);
}

// The canvas's own folder opener, the one a click on "<organize>" reaches, hands the presets folder
// to the desktop's opener and leaves no child process behind once it finished.
TEST(BrowserActions, OrganizeOpensThePresetsFolderLeavingNoChild)
{
    const juce::File home = juce::File::getSpecialLocation(juce::File::userHomeDirectory);
    const qmtest::FakeOpener opener(home.getChildFile("opener").getFullPathName().toStdString());
    Rig rig;
    rig.choose(Type::command, "<organize>");
    rig.choose(Type::command, "<organize>");

    const std::set<pid_t> zombies = opener.waitForCalls(2);
    EXPECT_TRUE(zombies.empty()) << zombies.size() << " finished children were never reaped";
    const std::string line =
        "fd:closed " + getPresetsFolder().getFullPathName().toStdString();
    EXPECT_EQ(opener.calls(), Strings(2, line));
}

TEST(SaveBox, GeometryTypingSavingAndClosing)
{
    // The dark box, the label, the field, "save" and "cancel".
    for (const auto& [width, boxes] :
         {std::pair{630, "205 200 220 104, 213 208 204 24, 213 232 204 24, 357 264 60 24, 289 264 60 24"},
          {250, "25 200 200 104, 33 208 184 24, 33 232 184 24, 157 264 60 24, 89 264 60 24"}})
    {
        juce::Component parent;
        parent.setSize(width, 504);
        SaveBox b(parent, nullptr);
        juce::String shown = b.boxBounds.toString();
        for (juce::Component* c : std::initializer_list<juce::Component*>{
                 b.titleLabel.get(), b.nameEditor.get(), b.saveButton.get(), b.cancelButton.get()})
            shown << ", " << c->getBounds().toString();
        EXPECT_EQ(shown, boxes);
    }

    // Typed keys, the name kept, how the box is left ('\r' return, '\x1b' escape, "save",
    // "cancel"), whether it closed and the last event (3 saved, 4 failed, 0 none).
    const juce::String a33 = juce::String::repeatedString("a", 33);
    for (const auto& [keys, kept, close, closed, event] :
         {std::tuple{juce::String("My Preset\r"), juce::String("My Preset"), "", true, 3},
          {"a/b:c", "abc", "save", true, 3}, {a33 + "\r", a33.dropLastCharacters(1), "", true, 3},
          {"   \r", "   ", "", false, 0}, {"\r", "", "", false, 0}, {"Esc\x1b", "Esc", "", true, 0},
          {"Gone", "Gone", "cancel", true, 0}, {"..\r", "..", "", true, 4},
          {"Blocked\r", "Blocked", "", true, 4}})
    {
        Rig rig;
        if (kept == "Blocked") getPresetsFolder().create(); // a file where the folder should be
        auto events = rig.processor.eventQueue.makeReader();
        rig.choose(Type::command, "<save>");
        SaveBox& box = *rig.canvas->saveBox;
        ASSERT_EQ(box.getParentComponent(), &rig.parent);
        type(*box.nameEditor, keys);
        EXPECT_EQ(box.nameEditor->getText(), kept);
        EXPECT_EQ(box.saveButton->isEnabled(), kept.trim().isNotEmpty()) << keys;
        if (juce::String(close).isNotEmpty())
            box.buttonClicked(juce::String(close) == "save" ? box.saveButton.get() : box.cancelButton.get());
        EXPECT_EQ(box.getParentComponent() == nullptr, closed) << keys;
        SynthEvent e, last;
        while (events.readNext(e))
            last = e;
        EXPECT_EQ(last.kind, event) << keys;
        juce::MemoryBlock state, saved;
        rig.processor.getStateInformation(state);
        EXPECT_EQ(presetFileFor(kept).loadFileAsData(saved) && saved == state, event == 3) << keys;
    }
}

TEST(EditorWalk, ModesPadNodesSaveReloadAndScreenshot)
{
    PluginProcessor processor;
    getPresetsFolder().deleteRecursively();
    PluginEditor editor(&processor);
    Overlay2D& overlay = *editor.getRootView()->getOverlay();
    SpaceCanvas& canvas = *overlay.getSpaceCanvas();
    for (int mode : {0, 2, 1})
    {
        overlay.getTopTab(mode)->triggerClick(), pump();
        EXPECT_EQ(processor.nodeCanvas.mode, mode);
    }

    Strings heard;
    {
        auto* morphX = processor.getHostParam(processor.dsp->params[kParamMorphX].hostIndex);
        HostParamLog host(morphX, "X", heard, false);
        for (int x : {300, 310, 320, 330})
            canvas.updateMousePos(x, 200, x == 300 ? canvas.mouseDownEvent
                                          : x < 330 ? canvas.mouseDragEvent : canvas.mouseUpEvent);
    }
    EXPECT_EQ(heard, (Strings{"X begin", "X end"}));

    // The popups' own items add a node and delete it again.
    const auto idOf = [](const juce::PopupMenu& menu, const juce::String& text)
    {
        for (juce::PopupMenu::MenuItemIterator it(menu, true); it.next();)
            if (it.getItem().text == text) return it.getItem().itemID;
        return 0;
    };
    const int count = processor.nodeCanvas.nodeCount;
    canvas.pressPoint = {0.5f, 0.5f};
    canvas.handlePopupResult(idOf(canvas.buildPopup(SpaceCanvas::canvasPopup), "Organ"));
    EXPECT_EQ(processor.nodeCanvas.nodeCount, count + 1);
    EXPECT_EQ(processor.nodeCanvas.nodes[size_t(count)].soundId, 3);
    canvas.selectedNode = count;
    canvas.handlePopupResult(idOf(canvas.buildPopup(SpaceCanvas::nodePopup), "Delete"));
    EXPECT_EQ(processor.nodeCanvas.nodeCount, count);

    // Saved by typing, changed, loaded from the list: the saved state returns.
    SpaceBrowser& browser = *canvas.browser;
    browser.presetsTab->triggerClick(), pump();
    pick(browser.categoryList, browser.categoryModel, "<save>");
    ASSERT_NE(canvas.saveBox, nullptr);
    EXPECT_EQ(canvas.saveBox->getParentComponent(), &overlay);
    type(*canvas.saveBox->nameEditor, "Walk\r");
    juce::MemoryBlock saved, changed, loaded;
    ASSERT_TRUE(presetFileFor("Walk").loadFileAsData(saved));
    processor.dsp->params[0].value = processor.dsp->params[0].value * 0.5f + 0.1f;
    pick(browser.categoryList, browser.categoryModel, "Random");
    processor.getStateInformation(changed);
    EXPECT_NE(changed, saved);
    for (int i = 0; i < 2; ++i)
        browser.presetsTab->triggerClick(), pump();
    pick(browser.categoryList, browser.categoryModel, "Walk");
    processor.getStateInformation(loaded);
    EXPECT_EQ(loaded, saved);
    EXPECT_EQ(processor.getPresetName(), "");
    saveScreenshot(*editor.getRootView(), "browser-presets.png");
    canvas.browserItemSelected(Type::loadPreset, "Gone", {});
    ASSERT_NE(canvas.alert, nullptr);
    EXPECT_EQ(canvas.alert->message, "Error: Preset file not found!");
    EXPECT_EQ(canvas.alert->getParentComponent(), &overlay);
}

int main(int argc, char** argv)
{
    return runWithTemporaryHome(argc, argv,
                                []
                                {
                                    writeTestBank();
                                    // The drag image's window asks for window manager's atoms the bare
                                    // server lacks.
                                    ignoreXErrors();
                                });
}
