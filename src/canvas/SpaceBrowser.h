#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/AlertComp.h"
#include "editor/TextFileChooser.h"

class PluginProcessor;

// One row of a browser list. The id tells the canvas and the browser what a row stands for
// (sound index, 10000 + category, 10000 for a preset folder, -1 for a preset, 20000 for a command,
// 20001 for "<add soundBank>"); kind says the same without depending on the id ranges, which meet
// once there are 10000 sounds or categories.
struct SpaceListItem
{
    enum Kind
    {
        sound,
        group,
        preset,
        command,
        addSoundBank
    };

    static constexpr int kGroupId = 10000;
    static constexpr int kCommandId = 20000;
    static constexpr int kAddSoundBankId = 20001;
    static constexpr int kPresetId = -1;

    juce::String name;
    juce::Colour colour;
    int id = 0;
    Kind kind = sound;
};

// The rows of one browser list. Rows act when they become selected, through the listener.
class SpaceListModel : public juce::ListBoxModel
{
  public:
    enum Mode
    {
        soundsList = 1,
        presetsList = 2
    };

    class Listener
    {
      public:
        virtual ~Listener() = default;
        // event is null for a selection change.
        virtual void itemClicked(SpaceListModel* model, int row, const juce::MouseEvent* event) = 0;
        virtual void itemStartDrag(SpaceListModel* model, int id, int row) = 0;
    };

    SpaceListModel();
    ~SpaceListModel() override;

    int getNumRows() override { return items.size(); }
    void paintListBoxItem(int row, juce::Graphics& g, int width, int height, bool rowIsSelected) override;
    void listBoxItemClicked(int, const juce::MouseEvent&) override {}
    void selectedRowsChanged(int lastRowSelected) override;

    void add(const juce::String& name, juce::Colour colour, int id, SpaceListItem::Kind kind);
    // The row's item, or null outside the list.
    const SpaceListItem* itemAt(int row) const { return items[row]; }

    juce::Font font;
    int mode = 0;
    juce::OwnedArray<SpaceListItem> items;
    Listener* listener = nullptr;

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SpaceListModel)
};

// A list whose sound rows can be dragged onto the canvas.
class SpaceListModelDrag : public SpaceListModel
{
  public:
    // The first row's sound index; void (no drag) for no rows, a row past the end or a row that is
    // not a sound.
    juce::var getDragSourceDescription(const juce::SparseSet<int>& rows) override;
};

// Fills model with the sound list's category rows and "<add soundBank>" (category -1) or with the
// sounds of category (0 and up).
void makeInstrumentList(SpaceListModel* model, PluginProcessor* processor, int category);
// Appends the presets (and, withFolders, the sub-folders) of folder in the presets' listing order.
void addPresetsToListModel(SpaceListModel* model, juce::String folder, bool withFolders);

// The panel at the canvas's left edge: the SOUNDS and PRESETS tabs, a close button and two
// cascading lists (categories or presets on the left, the opened group's rows to their right).
class SpaceBrowser : public juce::Component,
                     public SpaceListModel::Listener,
                     public juce::Button::Listener,
                     public juce::DragAndDropContainer
{
  public:
    class Listener
    {
      public:
        enum ItemType
        {
            loadPreset = 1,
            command = 2
        };
        virtual ~Listener() = default;
        virtual void browserItemSelected(ItemType type, juce::String name, juce::Point<int> point) = 0;
        // The picture dragged for a sound row; asked for when its drag starts.
        virtual juce::Image makeDragImage(int id) = 0;
    };

    static constexpr int kWidth = 360;

    SpaceBrowser(Listener* listener, PluginProcessor* processor, int height);
    ~SpaceBrowser() override;

    void paint(juce::Graphics&) override {}
    void buttonClicked(juce::Button* button) override;
    void itemClicked(SpaceListModel* model, int row, const juce::MouseEvent* event) override;
    void itemStartDrag(SpaceListModel* model, int id, int row) override;
    void dragOperationStarted(const juce::DragAndDropTarget::SourceDetails&) override;

    void refreshWithState(SpaceListModel::Mode mode, juce::String presetName);
    void close();
    // Opens the sound-bank chooser (asynchronously); its choice goes to installSoundBanks.
    void chooseSoundBanks();
    // Installs files in order and shows their messages, one per line; no files (a cancel) shows
    // nothing.
    void installSoundBanks(const juce::Array<juce::File>& files);

    int dragId = 0;
    juce::Point<int> grabOffset;
    Listener* listener = nullptr;
    std::unique_ptr<juce::TextButton> soundsTab, presetsTab, closeButton;
    std::unique_ptr<AlertComp> alert;
    // The models outlive their lists: a list must never hold a model that is gone.
    SpaceListModel categoryModel;
    SpaceListModelDrag itemModel;
    juce::ListBox categoryList{"Category Listbox"};
    juce::ListBox itemList{""};
    juce::String folderPrefix;
    PluginProcessor* processor = nullptr;
    juce::Colour activeTabColour{0xffffffffu};
    juce::Colour inactiveTabColour{0xff999999u};
    std::unique_ptr<TextFileChooser> bankChooser;

  private:
    void fitList(juce::ListBox& list, SpaceListModel& model);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SpaceBrowser)
};
