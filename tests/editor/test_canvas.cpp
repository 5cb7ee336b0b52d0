// The sound-space canvas under a virtual X server: the pixel mapping and the mode boxes, the
// morph point and its host gestures, mix colours, popups, drops, node drags, the mesh, mode
// rebuilds, category captions, the keyboard, transitions, voice dots and the state lock;
// screenshots of each view.
#include <cmath>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

#include "EditorTestHome.h"
#include "XErrors.h"
#include "canvas/SpaceCanvas.h"
#include "engine/Random.h"
#include "processor/PluginProcessor.h"

namespace
{
using Strings = std::vector<std::string>;

// Keys typed into the newest window on the screen (an open menu, or its open sub-menu).
void typeIntoMenu(std::initializer_list<int> keys)
{
    auto& desktop = juce::Desktop::getInstance();
    for (const int key : keys)
    {
        juce::Component* window = desktop.getComponent(desktop.getNumComponents() - 1);
        ASSERT_NE(window, nullptr);
        window->keyPressed(juce::KeyPress(key));
    }
}

struct Rig
{
    Rig() = default;
    // An Explore canvas of count nodes at distinct places, node i playing sound 100 + i, with
    // the test bank's first sound repeated up to the given number of sounds.
    Rig(int sounds, int count)
    {
        data().mode = 0;
        this->sounds().resize(static_cast<size_t>(sounds), this->sounds()[0]);
        data().nodeCount = count;
        for (int i = 0; i < kMaxCanvasNodes; ++i)
            data().nodes[size_t(i)] = {{0.2f + 0.009f * i, 0.3f + 0.005f * (i % 7)}, 100 + i};
        canvas->pressPoint = {0.4f, 0.6f};
        canvas->dragGrabOffset = {5, 7};
    }
    PluginProcessor processor;
    std::unique_ptr<SpaceCanvas> canvas =
        std::make_unique<SpaceCanvas>(&processor.nodeCanvas, 630, 376, &processor);
    NodeCanvasData& data() { return processor.nodeCanvas; }
    std::vector<InstrumentMap>& sounds() { return processor.dsp->sounds; }
    void setMode(int mode) { data().mode = mode, canvas->canvasModeChanged(false); }
    juce::Point<float> pixelsOf(int i) { return canvas->nodeComp->toPixels(data().nodes[size_t(i)].pos); }
};

// What the component paints itself, without its children.
juce::Image paintOf(juce::Component& c)
{
    juce::Image image(juce::Image::ARGB, c.getWidth(), c.getHeight(), true);
    juce::Graphics g(image);
    c.paint(g);
    return image;
}

using Action = std::function<void(Rig&)>;
const auto popup = [](int result) -> Action
{ return [=](Rig& r) { popupCallback(result, r.canvas.get()); }; };
const auto drop = [](juce::var what) -> Action {
    return [=](Rig& r) { r.canvas->itemDropped({what, nullptr, {100, 200}}); };
};
// Node 0 dragged until its top-left corner is at (x, y).
const auto dragTo = [](int x, int y) -> Action
{
    return [=](Rig& r)
    {
        SpaceNode* node = r.canvas->nodeComp->nodes[0];
        node->setTopLeftPosition(x, y), r.canvas->nodeChanged(node);
    };
};
} // namespace

TEST(Canvas, MappingAndThePressPoint)
{
    Rig rig;
    EXPECT_EQ(rig.canvas->nodeComp->toPixels({0, 0}), juce::Point<float>(0, 503));
    EXPECT_EQ(rig.canvas->nodeComp->toPixels({1, 1}), juce::Point<float>(630, -127));
    // A press near the corner is held 12 px inside; the pad pins its values to 0..1.
    rig.setMode(0);
    rig.canvas->mouseDown(mouseAt(*rig.canvas, 5, 5));
    EXPECT_NEAR(rig.canvas->morphPoint.x, 12.0f / 630, 1e-6f);
    EXPECT_NEAR(rig.canvas->morphPoint.y, 491.0f / 630, 1e-6f);
    rig.canvas->mouseUp(mouseAt(*rig.canvas, 5, 5));
    rig.setMode(1);
    auto& params = rig.processor.dsp->params;
    for (const auto& [x, y, mx, my] :
         {std::tuple{-1000, -1000, 0.0f, 1.0f}, {5000, 5000, 1.0f, 0.0f}, {315, 188, 0.5f, 0.5f}})
    {
        rig.canvas->updateMousePos(static_cast<float>(x), static_cast<float>(y), SpaceCanvas::mouseDragEvent);
        EXPECT_NEAR(params[kParamMorphX].value, mx, 0.01f) << x;
        EXPECT_NEAR(params[kParamMorphY].value, my, 0.01f) << y;
    }
}

TEST(Canvas, PadGesturesCloseAndOnlyExplorePushesTheMix)
{
    // Press, drag, then the ending: what the host hears of Morph X / Y, the mixes sent, and
    // whether the preset's name was cleared (only when a mix was sent).
    // Both gestures open before the values and close after them.
    const Strings closed = {"X begin", "Y begin", "X v", "Y v", "X v", "Y v", "X v", "Y v", "X end", "Y end"};
    for (const auto& [mode, ending, heard, pushes] :
         {std::tuple{1, std::string("release"), closed, 0u}, {1, "mode change", closed, 0u},
          {1, "right release", closed, 0u}, {1, "destroyed", closed, 0u}, {0, "release", Strings{}, 3u},
          {2, "release", Strings{}, 0u}})
    {
        Rig rig;
        rig.setMode(mode);
        rig.processor.setPresetName("Kept");
        Strings log;
        auto& params = rig.processor.dsp->params;
        HostParamLog x(rig.processor.getHostParam(params[kParamMorphX].hostIndex), "X", log),
            y(rig.processor.getHostParam(params[kParamMorphY].hostIndex), "Y", log);
        const auto before = rig.processor.mixQueue.pushCount();
        rig.canvas->mouseDown(mouseAt(*rig.canvas, 300, 200));
        rig.canvas->mouseDrag(mouseAt(*rig.canvas, 310, 210));
        if (ending == "mode change")
        {
            rig.setMode(2);
            EXPECT_EQ(log, heard) << "closed before the release";
        }
        if (ending == "destroyed")
            rig.canvas.reset();
        else
            rig.canvas->mouseUp(mouseAt(*rig.canvas, 320, 220,
                                      ending == "right release" ? juce::ModifierKeys::rightButtonModifier
                                                                : juce::ModifierKeys::leftButtonModifier));
        EXPECT_EQ(log, heard) << mode << " " << ending;
        EXPECT_EQ(rig.processor.mixQueue.pushCount() - before, pushes) << mode << " " << ending;
        EXPECT_TRUE(ending != "release" || rig.processor.getPresetName().isEmpty() == (pushes > 0)) << mode;
    }
}

TEST(Canvas, MixColourBlendsInLinearLight)
{
    Rig rig;
    rig.sounds()[0].colour = 0xffff0000u;
    rig.sounds()[1].colour = 0xff0000ffu;
    rig.data().nodeCount = 2;
    rig.data().nodes[0].soundId = 1;
    // Entries of equal weight; node 0 plays sound 1; stale entries and an empty mix are black.
    for (const auto& [entries, soundIndices, argb] :
         {std::tuple{std::vector<int>{0, 1}, true, 0x7fb500b5u}, {{1}, true, 0x7f0000ffu},
          {{0}, false, 0x7f0000ffu}, {{9, 50}, false, 0x7f000000u}, {{-1, 500}, true, 0x7f000000u},
          {{}, true, 0x7f000000u}})
    {
        NodeMix m;
        m.count = static_cast<int>(entries.size());
        for (size_t k = 0; k < entries.size(); ++k)
            m.node[k] = entries[k], m.weight[k] = 1.0f / static_cast<float>(entries.size());
        EXPECT_EQ(rig.canvas->getMixColour(m, 0.5f, soundIndices).getARGB(), argb);
    }
}

TEST(Canvas, PopupMenusGroupRunsOfCategoriesAndScaleWithTheEditor)
{
    Rig rig;
    rig.sounds().resize(4);
    for (const auto& [i, category] : {std::pair{0, "A"}, {1, "A"}, {2, "B"}, {3, "A"}})
        std::strcpy(rig.sounds()[static_cast<size_t>(i)].category, category);
    for (const auto& [type, first, base] :
         {std::tuple{SpaceCanvas::canvasPopup, 1, 1000}, {SpaceCanvas::nodePopup, 3000, 2000}})
    {
        // Top-level items, then each submenu's title and items.
        std::vector<std::string> items;
        const auto menu = rig.canvas->buildPopup(type);
        for (juce::PopupMenu::MenuItemIterator it(menu, true); it.next();)
            items.push_back(it.getItem().subMenu ? it.getItem().text.toStdString()
                                                 : std::to_string(it.getItem().itemID));
        EXPECT_EQ(items, (std::vector<std::string>{std::to_string(first), "-1", "A", std::to_string(base),
                                                   std::to_string(base + 1), "B", std::to_string(base + 2),
                                                   "A", std::to_string(base + 3)}));
    }
    // Menu items and the drag image (in the node's proportions, whole pixels up) grow with the
    // editor's picture, which fits both sides of the window; a saved side of 0 does not count.
    rig.processor.editorWidth = 630;
    const int plainWidth = rig.canvas->makeDragImage(2).getWidth();
    // clang-format off
    for (const auto& [width, windowHeight, height] : {std::tuple{945, 0, 30}, {0, 0, 20}, {630, 0, 20}, {1260, 0, 40},
                                                      {1006, 605, 24}, {880, 504, 20}, {630, 1000, 20}})
    // clang-format on
    {
        rig.processor.editorWidth = width;
        rig.processor.editorHeight = windowHeight;
        const auto image = rig.canvas->makeDragImage(2);
        EXPECT_EQ(image.getHeight(), height) << width << "x" << windowHeight;
        EXPECT_EQ(image.getWidth(), (plainWidth * height + 19) / 20) << width << "x" << windowHeight;
        EXPECT_EQ(rig.canvas->popupItemHeight(), height) << width << "x" << windowHeight;
    }
}

TEST(Canvas, PopupChoicesDropsAndNodeDragsEditTheNodes)
{
    // Sounds loaded, nodes and the selected one before the action; the node count, one slot's
    // sound after it, whether the canvas was sent to the engine, whether an alert shows, and where
    // that slot's dot is drawn when the action places it. Node i plays sound 100 + i.
    struct Row
    {
        const char* what;
        Action act;
        int sounds, count, selected, countAfter, slot, soundAfter;
        bool refreshed, alert;
        juce::Point<float> at{-1, -1};
    };
    for (const Row& r : {Row{"clear", popup(1), 6, 8, -1, 0, 79, 179, true, false},
                         Row{"add", popup(1002), 6, 8, -1, 9, 8, 2, true, false},
                         Row{"add at 64", popup(1002), 6, 64, -1, 64, 63, 163, true, true},
                         Row{"add unknown sound", popup(1500), 6, 8, -1, 8, 8, 108, false, false},
                         Row{"replace", popup(2001), 6, 8, 3, 8, 3, 1, true, false},
                         Row{"delete", popup(3000), 6, 8, 3, 7, 3, 107, true, false},
                         Row{"stale delete", popup(3000), 6, 8, 8, 8, 7, 107, true, false},
                         Row{"stale replace", popup(2001), 6, 8, 8, 8, 8, 108, true, false},
                         Row{"dismissed", popup(0), 6, 8, 3, 8, 3, 103, false, false},
                         Row{"top", popup(4000), 6, 8, -1, 0, 79, 179, true, false},
                         Row{"add at 1001 sounds", popup(3000), 1001, 8, -1, 9, 8, 1000, true, false},
                         Row{"replace at 1001 sounds", popup(5000), 1001, 8, 3, 8, 3, 1000, true, false},
                         Row{"delete at 1001 sounds", popup(6000), 1001, 8, 3, 7, 3, 107, true, false},
                         // A dropped dot lands where the drag image showed it: drop - grab + (10, 10).
                         Row{"drop", drop(2), 6, 8, -1, 9, 8, 2, true, false, {105, 203}},
                         Row{"drop 65th", drop(2), 6, 64, -1, 64, 63, 163, false, true},
                         Row{"drop of a preset row", drop(-1), 6, 8, -1, 8, 8, 108, false, false},
                         Row{"drop of a sound not loaded", drop(6), 6, 8, -1, 8, 8, 108, false, false},
                         Row{"drop from elsewhere", drop("Brass_Horn"), 6, 8, -1, 8, 8, 108, false, false},
                         // A dragged node's dot centre on each edge stays; a pixel past it, the node goes.
                         Row{"drag left", dragTo(-10, 100), 6, 8, -1, 8, 0, 100, true, false, {0, 110}},
                         Row{"drag out left", dragTo(-11, 100), 6, 8, -1, 7, 0, 107, true, false},
                         Row{"drag right", dragTo(620, 100), 6, 8, -1, 8, 0, 100, true, false, {630, 110}},
                         Row{"drag out right", dragTo(621, 100), 6, 8, -1, 7, 0, 107, true, false},
                         Row{"drag up", dragTo(100, -10), 6, 8, -1, 8, 0, 100, true, false, {110, 0}},
                         Row{"drag out up", dragTo(100, -11), 6, 8, -1, 7, 0, 107, true, false},
                         Row{"drag down", dragTo(100, 366), 6, 8, -1, 8, 0, 100, true, false, {110, 376}},
                         Row{"drag out down", dragTo(100, 367), 6, 8, -1, 7, 0, 107, true, false}})
    {
        Rig rig = {r.sounds, r.count};
        rig.canvas->selectedNode = r.selected;
        const auto pushes = rig.processor.canvasQueue.pushCount();
        r.act(rig);
        EXPECT_EQ(rig.data().nodeCount, r.countAfter) << r.what;
        EXPECT_EQ(rig.data().nodes[static_cast<size_t>(r.slot)].soundId, r.soundAfter) << r.what;
        EXPECT_EQ(rig.processor.canvasQueue.pushCount() - pushes, r.refreshed ? 1u : 0u) << r.what;
        EXPECT_EQ(rig.canvas->alert != nullptr, r.alert) << r.what;
        // Nodes of sounds that are not loaded are still drawn, so node i stays canvas node i.
        EXPECT_TRUE(!r.refreshed || rig.canvas->nodeComp->nodes.size() == r.countAfter) << r.what;
        EXPECT_TRUE(r.at.x < 0 || rig.pixelsOf(r.slot) == r.at)
            << r.what << ": " << rig.pixelsOf(r.slot).toString();
    }
}

TEST(Canvas, ThePressAfterANodeMenuMovesTheMorphPoint)
{
    // A node's menu opened by its right press, its choice typed into the menu (Replace picks the
    // first sound), then a left press and drag on the empty canvas: the node count and node 3's
    // sound after the choice, and the morph point follows the drag in one host gesture (XY Pad).
    ignoreXErrors();
    using Key = juce::KeyPress;
    for (const auto& [mode, choice, keys, count, sound] :
         {std::tuple{0, "dismiss", std::vector<int>{Key::escapeKey}, 8, 103},
          {0, "delete", {Key::downKey, Key::returnKey}, 7, 107},
          {0, "replace", {Key::downKey, Key::downKey, Key::rightKey, Key::returnKey}, 8, 0},
          {1, "dismiss", {Key::escapeKey}, 8, 103},
          {1, "delete", {Key::downKey, Key::returnKey}, 7, 107},
          {1, "replace", {Key::downKey, Key::downKey, Key::rightKey, Key::returnKey}, 8, 0}})
    {
        Rig rig = {6, 8};
        rig.setMode(mode);
        // Where the display's pointer cannot reach into the menu.
        juce::Desktop::setMousePosition({1900, 1050});
        SpaceNode& node = *rig.canvas->nodeComp->nodes[3];
        node.mouseDown(mouseAt(node, 10, 10, juce::ModifierKeys::rightButtonModifier));
        node.mouseUp(mouseAt(node, 10, 10, juce::ModifierKeys::rightButtonModifier));
        ASSERT_EQ(juce::ModalComponentManager::getInstance()->getNumModalComponents(), 1) << choice;
        if (keys.size() > 2) // the sub-menu's key goes to the sub-menu
            typeIntoMenu({keys[0], keys[1], keys[2]}), typeIntoMenu({keys[3]});
        else
            for (const int key : keys)
                typeIntoMenu({key});
        pump();
        EXPECT_EQ(juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0) << choice;
        EXPECT_EQ(rig.data().nodeCount, count) << choice;
        EXPECT_EQ(rig.data().nodes[3].soundId, sound) << choice;

        Strings heard;
        auto& params = rig.processor.dsp->params;
        HostParamLog x(rig.processor.getHostParam(params[kParamMorphX].hostIndex), "X", heard, false),
            y(rig.processor.getHostParam(params[kParamMorphY].hostIndex), "Y", heard, false);
        rig.canvas->mouseDown(mouseAt(*rig.canvas, 400, 120));
        rig.canvas->mouseDrag(mouseAt(*rig.canvas, 420, 140));
        const Point2D dragged = rig.canvas->morphPoint, wanted = rig.canvas->nodeComp->toUnits({420, 140});
        rig.canvas->mouseUp(mouseAt(*rig.canvas, 420, 140));
        EXPECT_TRUE(std::abs(dragged.x - wanted.x) < 1e-6f && std::abs(dragged.y - wanted.y) < 1e-6f)
            << mode << " " << choice;
        EXPECT_EQ(heard, (mode == 1 ? Strings{"X begin", "Y begin", "X end", "Y end"} : Strings{})) << choice;
        juce::PopupMenu::dismissAllActiveMenus(), pump();
    }
}

TEST(Canvas, HandlersWaitForTheStateLock)
{
    // Another thread (a host's state call) holds the lock and rewrites the canvas to 5 nodes while
    // the handler runs: a handler that waits for the lock sees the 5 nodes, one that does not
    // edits the old canvas and is overwritten.
    for (const auto& [what, act, after] :
         {std::tuple{"popup add", popup(1002), 6}, {"popup delete", popup(3000), 4}, {"drop", drop(2), 6},
          {"mode change", Action([](Rig& r) { r.setMode(1); }), 5}})
    {
        Rig rig;
        rig.setMode(0), rig.canvas->selectedNode = 0;
        ASSERT_GT(rig.data().nodeCount, 5);
        std::promise<void> locked;
        std::thread host([&] {
            const juce::ScopedLock lock(rig.processor.stateLock);
            locked.set_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            rig.data().nodeCount = 5;
        });
        locked.get_future().wait();
        act(rig);
        host.join();
        EXPECT_EQ(rig.data().nodeCount, after) << what;
        EXPECT_EQ(rig.canvas->nodeComp->nodes.size(), after) << what;
    }
}


TEST(Canvas, MeshShadesAndSkipsDegenerateTriangles)
{
    // Grey -1: nothing drawn (corners on one line, or all in one point).
    using Corners = std::array<Point2D, 3>;
    const Corners triangle{{{0.2f, 0.2f}, {0.6f, 0.2f}, {0.4f, 0.6f}}};
    for (const auto& [corners, shade, grey] :
         {std::tuple{triangle, 0, 43}, {triangle, 12, 255},
          {Corners{{{0.2f, 0.2f}, {0.4f, 0.3f}, {0.6f, 0.4f}}}, 0, -1},
          {Corners{{{0.3f, 0.3f}, {0.3f, 0.3f}, {0.3f, 0.3f}}}, 0, -1}})
    {
        NodeCanvasData data{};
        data.nodeCount = 3, data.triCount = 1, data.tri[0] = {0, 1, 2};
        data.triShade[0] = static_cast<int16_t>(shade);
        for (size_t i = 0; i < 3; ++i)
            data.nodes[i].pos = corners[i];
        SpaceNodeComp layer;
        layer.setSize(630, 376);
        layer.scale = {630, -630}, layer.offset = {0, 503};
        layer.canvas = &data;
        const auto image = paintOf(layer);
        int drawn = 0;
        for (int y = 0; y < 376; y += 3)
            for (int x = 0; x < 630; x += 3)
                drawn += image.getPixelAt(x, y).getAlpha() > 0;
        const auto c = image.getPixelAt(252, 293); // the triangle's middle
        EXPECT_EQ(drawn > 0, grey >= 0);
        EXPECT_EQ(c.getAlpha(), grey < 0 ? 0 : 0x4c);
        EXPECT_NEAR(c.getRed(), std::max(grey, 0), 1);
    }
}

TEST(Canvas, ModeChangesRebuildOnlyWhenNeeded)
{
    Rig rig;
    rig.setMode(0);
    rig.canvas->nodeTriangle->setName("built");
    rig.canvas->canvasModeChanged(false);
    EXPECT_EQ(rig.canvas->nodeTriangle->getName(), "built");
    rig.canvas->canvasModeChanged(true);
    EXPECT_EQ(rig.canvas->nodeTriangle->getName(), "");
    // Explore with nodes: highlight and buttons; without: the captions only.
    EXPECT_TRUE(rig.canvas->nodeTriangle->isVisible() && rig.canvas->topButton->isVisible());
    EXPECT_FALSE(rig.canvas->categoryLabels[0]->isVisible());
    rig.data().nodeCount = 0;
    rig.canvas->canvasModeChanged(true);
    EXPECT_FALSE(rig.canvas->nodeTriangle->isVisible() || rig.canvas->topButton->isVisible());
    EXPECT_TRUE(rig.canvas->categoryLabels.size() == 3 && rig.canvas->categoryLabels[2]->isVisible());
    rig.setMode(1);
    EXPECT_TRUE(rig.canvas->nodeTriangle != nullptr && rig.canvas->nodeTriangle->isVisible());
    EXPECT_EQ(rig.canvas->topButton, nullptr);
    rig.setMode(2);
    EXPECT_EQ(rig.canvas->nodeTriangle, nullptr);
    EXPECT_NE(rig.canvas->pianoRoll, nullptr);
}

TEST(Canvas, CategoryCaptionsFitAndStayInside)
{
    for (const int categories : {1, 200})
    {
        Rig rig;
        rig.data().nodeCount = 0;
        rig.sounds().resize(200, rig.sounds()[0]);
        for (int i = 0; i < 200; ++i)
        {
            auto& s = rig.sounds()[static_cast<size_t>(i)];
            s.categoryIndex = categories == 1 ? 0 : i;
            std::strcpy(s.category, i == 1 ? "xylo" : i == 2 ? "" : "brass");
        }
        engineSrand(7);
        rig.setMode(0);
        rig.canvas->canvasModeChanged(true);
        auto& labels = rig.canvas->categoryLabels;
        ASSERT_EQ(labels.size(), categories == 1 ? 1 : 128);
        EXPECT_EQ(labels[0]->text, "BRASS");
        for (auto* label : labels)
            EXPECT_TRUE(label->getWidth() > 0 && label->getX() >= 20 && label->getY() >= 20 &&
                        label->getRight() <= 610 && label->getBottom() <= 356);
        if (categories == 1)
            EXPECT_LE(labels[0]->getBounds().getCentre().getDistanceFrom({315, 188}), 2);
        else
            EXPECT_EQ(labels[1]->text, "xylo");
    }
}

TEST(Canvas, KeyboardTableOfTheWorkedExample)
{
    NodeCanvasData data{};
    data.keyOffsetX = -0.4f, data.keyOctaveWidth = 0.2f;
    const PianoRollComp roll(&data, 630);
    EXPECT_EQ(std::tuple(roll.xOffset, roll.octaveWidth, roll.u, roll.split), std::tuple(-243, 126, 9, 23));
    std::vector<int> keys;
    for (const auto& k : roll.keys)
        keys.insert(keys.end(), {k.upperX, k.lowerX, k.upperWidth, k.lowerWidth});
    EXPECT_EQ(keys, (std::vector<int>{-8, -8, 8,  16, 2,  2,  10, 0,  14, 10, 8,  16, 24,  24,  10, 0,
                                      36, 28, 8,  16, 46, 46, 8,  16, 56, 56, 10, 0,  68,  64,  6,  16,
                                      76, 76, 10, 0,  88, 82, 6,  16, 96, 96, 10, 0,  108, 100, 8,  16}));
    // A layout without width still gives half keys of a pixel.
    data.keyOctaveWidth = 0.0f;
    EXPECT_GE(PianoRollComp(&data, 630).u, 1);
}

TEST(Canvas, TransitionPinchesAndEnds)
{
    Rig rig;
    double now = 100.0;
    rig.canvas->clock = [&] { return now; };
    rig.setMode(0);
    rig.canvas->buttonClicked(rig.canvas->theseButton.get());
    ASSERT_NE(rig.canvas->transitionFrom, nullptr);
    EXPECT_FALSE(rig.canvas->nodeComp->isVisible());
    now = 100.35; // halfway: both images pinched by 0.691
    rig.canvas->timerCallback();
    for (auto* image : {rig.canvas->transitionFrom.get(), rig.canvas->transitionTo.get()})
        EXPECT_TRUE(std::abs(image->opacity - 0.494f) < 2e-3f &&
                    std::abs(image->drawTransform.mat00 - 0.309f) < 2e-3f &&
                    image->drawTransform.mat11 == 1.0f);
    now = 100.7;
    rig.canvas->timerCallback();
    EXPECT_TRUE(rig.canvas->transitionFrom == nullptr && rig.canvas->transitionTo == nullptr);
    EXPECT_TRUE(rig.canvas->nodeComp->isVisible());
}

TEST(Canvas, VoiceDotsFollowTheEngineAndRepaintOnlyOnChange)
{
    Rig rig;
    rig.setMode(1);
    rig.sounds()[0].colour = 0xff00ff00u;
    auto* probe = new RepaintProbe(*rig.canvas->voxNodes);
    auto& dots = *rig.canvas->voxNodes;
    // Voices by state and level at (x, 0.5) and the alphas of the dots drawn, in order: a free
    // voice and one without a point draw nothing.
    VoiceSnapshot snapshot;
    snapshot.count = 5;
    for (const auto& [i, state, level, x] :
         {std::tuple{0, 0u, 0.0f, 0.2f}, {1, 1u, 0.0f, 0.4f}, {2, 2u, 1.0f, 0.6f},
          {3, 1u, 0.0f, std::nanf("")}, {4, 2u, 0.5f, 0.5f}})
    {
        VoiceDot& v = snapshot.voices[size_t(i)] = {state, level, {}};
        v.mix.count = 1, v.mix.node[0] = 0, v.mix.weight[0] = 1.0f, v.mix.point = {x, 0.5f};
    }
    rig.processor.dsp->voiceSnapshots.push(snapshot);
    rig.canvas->timerCallback();
    ASSERT_EQ(dots.dotCount, 3);
    EXPECT_EQ(std::vector<int>(
                  {dots.dotColour[0].getAlpha(), dots.dotColour[1].getAlpha(), dots.dotColour[2].getAlpha()}),
              std::vector<int>({179, 0, 89}));
    EXPECT_EQ(dots.dotColour[0].withAlpha(1.0f).getARGB(), 0xff00ff00u);
    EXPECT_EQ(dots.getBounds(), juce::Rectangle<int>(239, 175, 152, 26));
    const int repaints = probe->count;
    rig.canvas->timerCallback();
    rig.canvas->timerCallback();
    EXPECT_EQ(probe->count, repaints);
    snapshot.voices[2].state = 0;
    snapshot.voices[4].state = 0;
    rig.processor.dsp->voiceSnapshots.push(snapshot);
    rig.canvas->timerCallback();
    EXPECT_EQ(dots.dotCount, 1);
    EXPECT_EQ(dots.getWidth(), 26);
    rig.setMode(0);
    rig.canvas->timerCallback();
    EXPECT_EQ(dots.dotCount, 0);
}

TEST(Canvas, ScreenshotsAndModeBoxes)
{
    Rig rig;
    // The canvas draws no background of its own: it is shown over a plain one.
    struct Backdrop : juce::Component
    {
        void paint(juce::Graphics& g) override { g.fillAll(juce::Colour(0xff56707eu)); }
    } backdrop;
    backdrop.setSize(630, 376);
    backdrop.addAndMakeVisible(*rig.canvas);
    // Each view: a probe pixel of the picture, and pixels that the canvas itself paints (the
    // mode's box at its corners, its captions) or leaves clear (just outside them).
    using Points = std::vector<juce::Point<int>>;
    const auto shoot = [&](const char* name, juce::Point<int> probe, bool probeIsDark, Points in, Points out)
    {
        const auto image = backdrop.createComponentSnapshot(backdrop.getLocalBounds());
        EXPECT_EQ(image.getPixelAt(probe.x, probe.y).getBrightness() < 0.3f, probeIsDark) << name;
        const auto own = paintOf(*rig.canvas);
        for (auto p : in)
            EXPECT_GE(own.getPixelAt(p.x, p.y).getAlpha(), 0x99) << name << " " << p.toString();
        for (auto p : out)
            EXPECT_EQ(own.getPixelAt(p.x, p.y).getAlpha(), 0) << name << " " << p.toString();
        saveScreenshot(backdrop, name);
    };
    const Points noBox = {{300, 200}, {0, 109}, {189, 81}};
    engineSrand(3);
    rig.setMode(0);
    rig.canvas->buttonClicked(rig.canvas->topButton.get());
    shoot("canvas_explore_top.png", {5, 5}, false, {}, noBox);
    // A caption enters its category's sound space with the morph point in the middle.
    const auto caption = rig.canvas->categoryLabels[1]->getBounds().getCentre();
    rig.canvas->mouseDown(mouseAt(*rig.canvas, caption.x, caption.y));
    rig.canvas->mouseUp(mouseAt(*rig.canvas, 315, 188));
    EXPECT_GT(rig.data().nodeCount, 0);
    EXPECT_NEAR(rig.canvas->morphPoint.x, 0.5f, 1e-3f);
    shoot("canvas_explore_space.png", {5, 5}, false, {}, noBox);
    rig.setMode(1);
    shoot("canvas_xy_pad.png", {200, 90}, true, {{189, 81}, {440, 294}, {400, 300}},
          {{188, 81}, {189, 80}, {441, 200}, {189, 296}, {100, 100}});
    rig.setMode(2);
    shoot("canvas_keyboard.png", {5, 150}, true, {{0, 109}, {629, 266}}, {{0, 108}, {300, 267}, {300, 300}});
}

int main(int argc, char** argv)
{
    return runWithTemporaryHome(argc, argv, writeTestBank);
}
