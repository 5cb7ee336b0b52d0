// Preset files: saving, replacing, sub-folders, loading, names that must not become paths, a disk
// that refuses the write, and the preset a new processor starts with.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ProcessorTestSupport.h"
#include "bankmaker/BankMaker.h"
#include "processor/LibraryFolders.h"
#include "processor/PluginProcessor.h"
#include "processor/PresetFiles.h"
#include "support/TestSounds.h"

using qmproc::drain;
using qmproc::stateOf;
using qmproc::values;

namespace
{
// Every file under folder, hidden ones included, as paths relative to it.
juce::StringArray allFiles(const juce::File& folder)
{
    juce::StringArray files;
    for (const auto& entry : juce::RangedDirectoryIterator(folder, true, "*", juce::File::findFiles))
        files.add(entry.getFile().getRelativePathFrom(folder));
    files.sort(false);
    return files;
}

class Presets : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        qmproc::clearLibrary();
        std::vector<qmbank::BankEntry> bank;
        for (const char* n : {"Keys_Alpha", "Keys_Beta", "Pads_Gamma", "Pads_Delta"})
            bank.push_back({n, qmbank::encodeBlob(qmtest::makePlainSpec(60, 4, 1000))});
        qmproc::writeBank("Test.qmbank", bank);
        p = std::make_unique<PluginProcessor>();
        events = p->eventQueue.makeReader();
    }
    void TearDown() override
    {
        p.reset();
        getPresetsFolder().deleteRecursively();
        qmproc::clearLibrary();
    }

    // Gives the processor a state of its own: every value at unit u, two nodes, mode m.
    void setState(float u, int mode)
    {
        for (auto& param : p->dsp->params)
            param.value = param.convertUnitToVal(u);
        NodeCanvasData& c = p->nodeCanvas;
        c.mode = mode;
        c.nodeCount = 2;
        c.nodes[0] = {{0.3f + u * 0.1f, 0.4f}, 1};
        c.nodes[1] = {{0.6f, 0.5f}, 3};
        c.currentMix.point = {0.5f, 0.45f};
        c.dirty = 1;
        c.triangulate();
    }

    std::unique_ptr<PluginProcessor> p;
    SynthFIFO<SynthEvent>::Reader events;
};

TEST_F(Presets, SaveCreatesThenReplacesTheFileWithTheStateBlock)
{
    setState(0.2f, kCanvasModeXYPad);
    p->savePreset("Warm");
    const juce::File file = getPresetsFolder().getChildFile("Warm.qmpreset");
    juce::MemoryBlock onDisk;
    ASSERT_TRUE(file.loadFileAsData(onDisk));
    EXPECT_EQ(onDisk, stateOf(*p));
    auto got = drain(events);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, kSynthEventPresetsChanged);
    EXPECT_EQ(got[0].index, 0);

    p->savePreset("Bright");
    drain(events);
    setState(0.8f, kCanvasModeKeyboard);
    p->savePreset("Warm");
    juce::MemoryBlock replaced; // loadFileAsData appends to a block
    ASSERT_TRUE(file.loadFileAsData(replaced));
    EXPECT_EQ(replaced, stateOf(*p));
    got = drain(events);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, kSynthEventPresetsChanged);
    // Its position in the folder listing, whichever order the walk gives.
    const juce::StringArray names = listPresetNames();
    EXPECT_EQ(got[0].index, names.indexOf("Warm"));
    // No temporary file stays behind, and saving does not name the processor's preset.
    EXPECT_EQ(allFiles(getPresetsFolder()), juce::StringArray({"Bright.qmpreset", "Warm.qmpreset"}));
    EXPECT_TRUE(p->presetName.isEmpty());
}

TEST_F(Presets, SubFolderIsMadeAndListed)
{
    p->savePreset("Pads/Warm");
    EXPECT_TRUE(getPresetsFolder().getChildFile("Pads/Warm.qmpreset").existsAsFile());
    const auto got = drain(events);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, kSynthEventPresetsChanged);
    // The listing's index compares bare file names, and "Warm" is not "Pads/Warm".
    EXPECT_EQ(got[0].index, -1);
    EXPECT_EQ(listPresetNames(), juce::StringArray({"Pads/Warm"}));
}

TEST_F(Presets, LoadRestoresTheSavedState)
{
    setState(0.7f, kCanvasModeKeyboard);
    const std::vector<float> saved = values(*p);
    const juce::MemoryBlock block = stateOf(*p);
    p->savePreset("Pads/Warm");
    setState(0.1f, kCanvasModeXYPad);
    drain(events);

    EXPECT_EQ(p->loadPreset("Pads/Warm"), "");
    EXPECT_EQ(p->presetName, "Pads/Warm");
    EXPECT_EQ(values(*p), saved);
    EXPECT_EQ(p->nodeCanvas.mode, kCanvasModeKeyboard);
    EXPECT_EQ(stateOf(*p), block);
    const auto got = drain(events);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, kSynthEventPresetsChanged);
    EXPECT_EQ(got[0].index, -1);
}

TEST_F(Presets, MissingFileAndFolderNamedLikeAPreset)
{
    p->presetName = "Before";
    const std::vector<float> before = values(*p);
    EXPECT_EQ(p->loadPreset("Nothing Here"), "Error: Preset file not found!");
    EXPECT_EQ(p->presetName, "Before");
    EXPECT_TRUE(drain(events).empty());

    // A folder counts as existing: nothing loads, but the name is taken.
    ASSERT_TRUE(getPresetsFolder().getChildFile("Odd.qmpreset").createDirectory().wasOk());
    EXPECT_EQ(p->loadPreset("Odd"), "");
    EXPECT_EQ(p->presetName, "Odd");
    EXPECT_EQ(values(*p), before);
    EXPECT_TRUE(drain(events).empty());
}

TEST_F(Presets, HostileNamesNeverReachAPathOutsideTheFolder)
{
    // A preset-shaped file just outside the presets folder.
    const juce::File outside = getLibraryFolder().getChildFile("secret.qmpreset");
    setState(0.9f, kCanvasModeKeyboard);
    const juce::MemoryBlock secret = stateOf(*p);
    ASSERT_TRUE(outside.replaceWithData(secret.getData(), secret.getSize()));
    setState(0.1f, kCanvasModeXYPad);
    const std::vector<float> before = values(*p);
    drain(events);

    const char* hostile[] = {
        "",      "   ", "../secret", "Pads/../../secret", "/tmp/evil", "\\evil", "a\nb", "tab\there", "a//b",
        "Pads/", "./x", "..",        "Pads/./x",          "x\x7f"};
    for (const char* name : hostile)
    {
        EXPECT_FALSE(isSafePresetName(name)) << name;
        EXPECT_EQ(p->loadPreset(name), "Error: Preset file not found!") << name;
        p->savePreset(name);
        const auto got = drain(events);
        ASSERT_EQ(got.size(), 1u) << name;
        EXPECT_EQ(got[0].kind, kSynthEventSaveFailed) << name;
    }
    EXPECT_EQ(values(*p), before);
    EXPECT_TRUE(allFiles(getPresetsFolder()).isEmpty());
    EXPECT_EQ(allFiles(getLibraryFolder()),
              juce::StringArray({"Quillmoor Sounds/Test.qmbank", "secret.qmpreset"}));
    EXPECT_FALSE(juce::File("/tmp/evil.qmpreset").exists());
    outside.deleteFile();

    EXPECT_TRUE(isSafePresetName("Pads/Warm"));
    EXPECT_TRUE(isSafePresetName("Deep/Pads/Warm 2"));
    EXPECT_TRUE(isSafePresetName("Café"));
}

TEST_F(Presets, FailedWriteReportsAndLeavesNoTruncatedPreset)
{
    // A folder where the preset file should go: the finished temporary file cannot replace it.
    ASSERT_TRUE(getPresetsFolder().getChildFile("Taken.qmpreset").createDirectory().wasOk());
    p->savePreset("Taken");
    auto got = drain(events);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, kSynthEventSaveFailed);
    EXPECT_TRUE(allFiles(getPresetsFolder()).isEmpty());

    // A file where a sub-folder should go: the preset cannot even be created.
    ASSERT_TRUE(getPresetsFolder().getChildFile("Pads").replaceWithText("not a folder"));
    p->savePreset("Pads/Warm");
    got = drain(events);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, kSynthEventSaveFailed);

    // A file in place of the presets folder itself (root writes anywhere, so permissions prove nothing).
    getPresetsFolder().deleteRecursively();
    ASSERT_TRUE(getPresetsFolder().replaceWithText("not a folder"));
    p->savePreset("Warm");
    got = drain(events);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, kSynthEventSaveFailed);
    EXPECT_EQ(getPresetsFolder().loadFileAsString(), "not a folder");
    EXPECT_EQ(allFiles(getLibraryFolder()),
              juce::StringArray({"Quillmoor Presets", "Quillmoor Sounds/Test.qmbank"}));
}

TEST_F(Presets, NewProcessorStartsWithTheOnlyPreset)
{
    setState(0.65f, kCanvasModeKeyboard);
    const std::vector<float> saved = values(*p);
    p->savePreset("Pads/Only");
    p.reset();

    for (int i = 0; i < 3; ++i)
    {
        PluginProcessor q;
        EXPECT_EQ(q.presetName, "Pads/Only");
        EXPECT_EQ(values(q), saved);
        EXPECT_EQ(q.nodeCanvas.mode, kCanvasModeKeyboard);
        EXPECT_EQ(q.nodeCanvas.nodeCount, 2);
    }
}

TEST(PresetNames, RelativePathWithoutTheFinalExtension)
{
    qmproc::clearLibrary();
    const juce::File folder = getPresetsFolder();
    ASSERT_TRUE(folder.getChildFile("a.qmpreset.qmpreset").replaceWithText("x"));
    ASSERT_TRUE(folder.getChildFile("Keys/b.qmpreset").create().wasOk());
    ASSERT_TRUE(folder.getChildFile("notes.txt").create().wasOk());
    ASSERT_TRUE(folder.getChildFile("dir.qmpreset").createDirectory().wasOk());
    juce::StringArray names = listPresetNames();
    names.sort(false);
    EXPECT_EQ(names, juce::StringArray({"Keys/b", "a.qmpreset"}));
    qmproc::clearLibrary();
}

TEST(PresetNames, StartupPickFollowsTheClockRule)
{
    // ((c x 1664525 + 1013904223) >> 8) mod n on unsigned 64 bits.
    EXPECT_EQ(pickStartupPreset(0, 7), 5);
    EXPECT_EQ(pickStartupPreset(12345, 10), 0);
    EXPECT_EQ(pickStartupPreset(uint64_t{1} << 63, 1000), 531);
    EXPECT_EQ(pickStartupPreset(987654321, 1), 0);
}
} // namespace
