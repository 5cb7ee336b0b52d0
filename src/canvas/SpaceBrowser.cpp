#include "canvas/SpaceBrowser.h"

#include <algorithm>
#include <cstring>

#include "editor/ChooserFolder.h"
#include "editor/ColourBytes.h"
#include "editor/EditorFonts.h"
#include "engine/Random.h"
#include "processor/LibraryFolders.h"
#include "processor/NameText.h"
#include "processor/PluginProcessor.h"
#include "processor/PresetFiles.h"

namespace
{
const juce::Colour kGreyText(0xff999999u);
const juce::Colour kFolderColour(0xffe6b8ceu);
const juce::Colour kAddBankColour(0x99ffffffu);

bool isGroupRow(const SpaceListItem& item)
{
    return item.kind == SpaceListItem::group;
}
} // namespace

// ---- list models --------------------------------------------------------------------------------

SpaceListModel::SpaceListModel() : font(getEditorFont(EditorFace::robotoMedium, 14.0f)) {}

SpaceListModel::~SpaceListModel() = default;

void SpaceListModel::add(const juce::String& name, juce::Colour colour, int id, SpaceListItem::Kind kind)
{
    items.add(new SpaceListItem{name, colour, id, kind});
}

void SpaceListModel::paintListBoxItem(int row, juce::Graphics& g, int width, int height, bool rowIsSelected)
{
    const SpaceListItem* item = itemAt(row);
    if (item == nullptr) return;
    const bool group = isGroupRow(*item);
    // Sounds are dragged, not chosen: they show no selection.
    const bool lit = rowIsSelected && (group || mode != soundsList);
    const uint8_t grey = greyLevel(lit ? 0.2f : 0.0f);
    g.fillAll(juce::Colour(grey, grey, grey, static_cast<uint8_t>(0xcc)));

    float textRight = static_cast<float>(width - 8);
    if (group)
    {
        const float s = 0.35f * static_cast<float>(height);
        const float x0 = static_cast<float>(width - 4) - 0.8f * s;
        const float y0 = (static_cast<float>(height) - s) / 2.0f;
        juce::Path arrow;
        arrow.addTriangle(x0, y0, x0, y0 + s, x0 + 0.8f * s, y0 + s / 2.0f);
        g.setColour(item->colour);
        g.fillPath(arrow);
        textRight = x0 - 8.0f;
    }
    g.setColour(item->colour);
    g.setFont(font);
    // The box starts 8 px in and is textRight wide, so it ends at the arrow's left edge (or the row's
    // end): the list's fitted width leaves its widest name just room enough there.
    g.drawText(item->name, 8, 0, static_cast<int>(textRight), height, juce::Justification::centredLeft, true);
}

void SpaceListModel::selectedRowsChanged(int lastRowSelected)
{
    if (lastRowSelected >= 0 && listener != nullptr) listener->itemClicked(this, lastRowSelected, nullptr);
}

juce::var SpaceListModelDrag::getDragSourceDescription(const juce::SparseSet<int>& rows)
{
    if (rows.isEmpty()) return {};
    const int row = rows[0];
    const SpaceListItem* item = itemAt(row);
    if (item == nullptr || item->kind != SpaceListItem::sound) return {};
    if (listener != nullptr) listener->itemStartDrag(this, item->id, row);
    return item->id;
}

void makeInstrumentList(SpaceListModel* model, PluginProcessor* processor, int category)
{
    if (model == nullptr) return;
    model->items.clear();
    if (processor != nullptr && processor->dsp != nullptr)
    {
        const auto& sounds = processor->dsp->sounds;
        const size_t n = sounds.size();
        for (size_t i = 0; i < n;)
        {
            // A run: consecutive sounds with the same category text.
            size_t end = i + 1;
            while (end < n && std::strcmp(sounds[end].category, sounds[i].category) == 0)
                ++end;
            for (size_t k = i; k < end; ++k)
                if (sounds[k].categoryIndex == category)
                    model->add(nameToShow(sounds[k].name, sizeof(sounds[k].name)), juce::Colours::white,
                               static_cast<int>(k), SpaceListItem::sound);
            const InstrumentMap& last = sounds[end - 1];
            if (category < 0 && last.categoryIndex >= 0)
                model->add(nameToShow(last.category, sizeof(last.category)), juce::Colour(last.colour),
                           SpaceListItem::kGroupId + last.categoryIndex, SpaceListItem::group);
            if (category >= 0 && last.categoryIndex > category) break;
            i = end;
        }
    }
    if (category == -1)
        model->add("<add soundBank>", kAddBankColour, SpaceListItem::kAddSoundBankId,
                   SpaceListItem::addSoundBank);
}

void addPresetsToListModel(SpaceListModel* model, juce::String folder, bool withFolders)
{
    if (model == nullptr) return;
    for (const juce::File& entry : listPresetFolder(juce::File(folder)))
    {
        if (withFolders && entry.isDirectory())
            model->add(entry.getFileName(), kFolderColour, SpaceListItem::kGroupId, SpaceListItem::group);
        // The name the lists give and load: the file's name without its final extension, "" for
        // ".qmpreset".
        else if (entry.getFileName().endsWith(kPresetExtension))
            model->add(entry.getFileName().dropLastCharacters(juce::String(kPresetExtension).length()),
                       juce::Colours::white, SpaceListItem::kPresetId, SpaceListItem::preset);
    }
}

// ---- browser ------------------------------------------------------------------------------------

SpaceBrowser::SpaceBrowser(Listener* l, PluginProcessor* p, int height) : listener(l), processor(p)
{
    setSize(kWidth, height);
    soundsTab = std::make_unique<juce::TextButton>("SOUNDS");
    presetsTab = std::make_unique<juce::TextButton>("PRESETS");
    closeButton = std::make_unique<juce::TextButton>("x");
    soundsTab->setBounds(3, 3, 56, 18);
    presetsTab->setBounds(62, 3, 56, 18);
    closeButton->setBounds(121, 3, 18, 18);
    for (auto* b : {soundsTab.get(), presetsTab.get(), closeButton.get()})
    {
        addAndMakeVisible(*b);
        b->addListener(this);
        b->setColour(juce::TextButton::buttonColourId, juce::Colour(0x00000000u));
    }
    soundsTab->setColour(juce::TextButton::textColourOffId, inactiveTabColour);
    presetsTab->setColour(juce::TextButton::textColourOffId, inactiveTabColour);
    closeButton->setColour(juce::TextButton::textColourOffId, activeTabColour);

    categoryModel.listener = this;
    categoryList.setTopLeftPosition(3, 24);
    categoryList.setColour(juce::ListBox::backgroundColourId, juce::Colour(0x00000000u));
    itemList.setColour(juce::ListBox::backgroundColourId, juce::Colour(0x00000000u));
    categoryList.setModel(&categoryModel);
    addChildComponent(categoryList);
    closeButton->setVisible(false);
    setInterceptsMouseClicks(false, true);
}

SpaceBrowser::~SpaceBrowser()
{
    bankChooser.reset();
    alert.reset();
    itemList.setModel(nullptr);
    categoryList.setModel(nullptr);
}

void SpaceBrowser::fitList(juce::ListBox& list, SpaceListModel& model)
{
    float widest = 0.0f;
    for (const auto* item : model.items)
        widest = std::max(widest, model.font.getStringWidthFloat(item->name));
    const float wanted = widest + 16.0f + 2.0f + 6.0f;
    const int width = static_cast<int>(std::min(wanted, static_cast<float>(getWidth() / 2 - 3)));
    const int height =
        std::min(model.getNumRows() * list.getRowHeight(), getHeight() - 3 - categoryList.getY());
    if (&list == &categoryList)
        list.setSize(width, height);
    else
        list.setBounds(categoryList.getRight() + 3, categoryList.getY(), width, height);
}

void SpaceBrowser::refreshWithState(SpaceListModel::Mode mode, juce::String)
{
    categoryList.deselectAllRows();
    if (mode == SpaceListModel::presetsList)
    {
        soundsTab->setColour(juce::TextButton::textColourOffId, inactiveTabColour);
        presetsTab->setColour(juce::TextButton::textColourOffId, activeTabColour);
        categoryModel.items.clear();
        categoryModel.add("<save>", kGreyText, SpaceListItem::kCommandId, SpaceListItem::command);
        const float hue = static_cast<float>(engineRand()) * kEngineRandScale;
        categoryModel.add("Random", juce::Colour(hue, 0.8f, 1.0f, static_cast<uint8_t>(0xff)),
                          SpaceListItem::kCommandId, SpaceListItem::command);
        addPresetsToListModel(&categoryModel, getPresetsFolderPath(), true);
        categoryModel.add("<organize>", kGreyText, SpaceListItem::kCommandId, SpaceListItem::command);
        categoryModel.mode = SpaceListModel::presetsList;
    }
    else if (mode == SpaceListModel::soundsList)
    {
        soundsTab->setColour(juce::TextButton::textColourOffId, activeTabColour);
        presetsTab->setColour(juce::TextButton::textColourOffId, inactiveTabColour);
        categoryModel.mode = SpaceListModel::soundsList;
        makeInstrumentList(&categoryModel, processor, -1);
    }
    if (mode == SpaceListModel::presetsList || mode == SpaceListModel::soundsList)
    {
        closeButton->setVisible(true);
        categoryList.setVisible(true);
        categoryList.updateContent();
        itemList.setVisible(false);
    }
    fitList(categoryList, categoryModel);
}

void SpaceBrowser::close()
{
    soundsTab->setColour(juce::TextButton::textColourOffId, inactiveTabColour);
    presetsTab->setColour(juce::TextButton::textColourOffId, inactiveTabColour);
    categoryList.setVisible(false);
    itemList.setVisible(false);
    closeButton->setVisible(false);
}

void SpaceBrowser::buttonClicked(juce::Button* button)
{
    if (button == nullptr) return;
    const auto textId = juce::TextButton::textColourOffId;
    const bool openTab = button->isColourSpecified(textId) && button->findColour(textId) == activeTabColour;
    if (button == closeButton.get() || openTab)
        close();
    else if (button == soundsTab.get())
        refreshWithState(SpaceListModel::soundsList, {});
    else if (button == presetsTab.get())
        refreshWithState(SpaceListModel::presetsList, processor != nullptr ? processor->getPresetName() : "");
}

void SpaceBrowser::itemClicked(SpaceListModel* model, int row, const juce::MouseEvent* event)
{
    const SpaceListItem* item = model != nullptr ? model->itemAt(row) : nullptr;
    if (item == nullptr) return;
    if (item->kind == SpaceListItem::addSoundBank)
    {
        categoryList.deselectAllRows();
        chooseSoundBanks();
        return;
    }
    if (isGroupRow(*item))
    {
        const juce::String name = item->name;
        const int id = item->id;
        itemModel.items.clear();
        itemModel.listener = this;
        itemModel.mode = model->mode;
        if (model->mode == SpaceListModel::presetsList)
        {
            folderPrefix = name + "/";
            addPresetsToListModel(&itemModel, getPresetsFolderPath() + folderPrefix, false);
        }
        else if (model->mode == SpaceListModel::soundsList)
        {
            makeInstrumentList(&itemModel, processor, id - SpaceListItem::kGroupId);
        }
        itemList.setModel(&itemModel);
        itemList.deselectAllRows();
        fitList(itemList, itemModel);
        itemList.updateContent();
        itemList.repaint();
        addAndMakeVisible(itemList);
        return;
    }
    if (model->mode != SpaceListModel::presetsList || listener == nullptr) return;
    const bool isCommand = item->kind == SpaceListItem::command;
    juce::String name = item->name;
    if (model == &itemModel)
        name = folderPrefix + name;
    else if (model == &categoryModel)
    {
        itemModel.items.clear();
        itemList.updateContent();
        itemList.setVisible(false);
    }
    // A command stays unselected, so it can be chosen again at once.
    if (isCommand) categoryList.deselectAllRows();
    juce::Point<int> point;
    if (event != nullptr)
    {
        point = event->getPosition();
        for (auto* c = event->eventComponent; c != nullptr; c = c->getParentComponent())
            point = c->getPosition() + point;
    }
    listener->browserItemSelected(isCommand ? Listener::command : Listener::loadPreset, name, point);
}

void SpaceBrowser::itemStartDrag(SpaceListModel*, int id, int row)
{
    // The list places the drag image by the pointer's place in the dragged row, measured in the
    // list's own units (the editor's design units at any scale, the units the canvas drops in), cut
    // to the row's visible part and kept inside it, as the list does: the drop lands by the same.
    const auto screen = juce::Desktop::getInstance().getMainMouseSource().getScreenPosition();
    const juce::Point<int> mouse = itemList.getLocalPoint(nullptr, screen).toInt();
    const auto rowArea = itemList.getRowPosition(row, true).getIntersection(itemList.getLocalBounds());
    grabOffset = rowArea.getConstrainedPoint(mouse) - rowArea.getPosition();
    dragId = id;
}

void SpaceBrowser::dragOperationStarted(const juce::DragAndDropTarget::SourceDetails&)
{
    if (listener != nullptr && dragId >= 0)
        setCurrentDragImage(juce::ScaledImage(listener->makeDragImage(dragId)));
}

void SpaceBrowser::chooseSoundBanks()
{
    bankChooser = std::make_unique<TextFileChooser>(
        "Load soundbank from file", getChooserFolder(), kSoundBankWildcard,
        juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectFiles |
            juce::FileBrowserComponent::canSelectMultipleItems);
    juce::Component::SafePointer<SpaceBrowser> self(this);
    bankChooser->launch(
        [self](const juce::Array<juce::File>& chosen)
        {
            if (self != nullptr) self->installSoundBanks(chosen);
        });
}

void SpaceBrowser::installSoundBanks(const juce::Array<juce::File>& files)
{
    if (files.isEmpty()) return;
    juce::String text;
    for (const juce::File& file : files)
        text += "\n" + PluginProcessor::addDataFromFilePath(file.getFullPathName());
    rememberChooserFolder(files.getFirst());
    // Messages go on the overlay, as the canvas's own do; the browser alone is too narrow.
    juce::Component* host = this;
    for (int up = 0; up < 2 && host->getParentComponent() != nullptr; ++up)
        host = host->getParentComponent();
    alert.reset();
    alert = std::make_unique<AlertComp>(host, text);
    host->addAndMakeVisible(*alert);
}
