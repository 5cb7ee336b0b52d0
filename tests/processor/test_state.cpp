// What a processor keeps and restores: preset files (saving, replacing, sub-folders, loading, names
// that must not become paths, a disk that refuses the write, the preset a new processor starts
// with) and the host's state block (restoring another processor, version and header rules).
#include <csignal>
#include <set>

#include <sys/resource.h>

#include "ProcessorTestSupport.h"
#include "processor/PresetFiles.h"

using namespace qmproc;

namespace
{
// Counts the host's parameter-change notifications.
struct HostListener : juce::AudioProcessorListener
{
    int changes = 0;
    void audioProcessorParameterChanged(juce::AudioProcessor*, int, float) override { ++changes; }
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&) override {}
};

// Every file under folder, hidden ones included, as sorted paths relative to it.
juce::StringArray allFiles(const juce::File& folder)
{
    juce::StringArray files;
    for (const auto& entry : juce::RangedDirectoryIterator(folder, true, "*", juce::File::findFiles))
        files.add(entry.getFile().getRelativePathFrom(folder));
    files.sort(false);
    return files;
}

class StateTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        clearLibrary();
        writeBank("Test.qmbank", bankOf({"Keys_Alpha", "Keys_Beta", "Pads_Gamma", "Pads_Delta"}));
        p = std::make_unique<PluginProcessor>();
        events = p->eventQueue.makeReader();
        set(0.35f, kCanvasModeKeyboard);
    }
    void TearDown() override { clearLibrary(); }
    // Every value at unit u; Alpha, Gamma and Delta in mode. Returns the state block.
    juce::MemoryBlock set(float u, int mode)
    {
        for (auto& param : p->dsp->params)
            param.value = param.convertUnitToVal(u);
        NodeCanvasData& c = p->nodeCanvas;
        c.mode = mode;
        c.nodeCount = 3;
        c.nodes[0] = {{0.2f + u * 0.1f, 0.4f}, 0};
        c.nodes[1] = {{0.6f, 0.45f}, 2};
        c.nodes[2] = {{0.4f, 0.6f}, 3};
        c.currentMix.point = {0.5f, 0.45f};
        c.dirty = 1;
        c.triangulate();
        return stateOf(*p);
    }
    juce::MemoryBlock onDisk(const char* name)
    {
        juce::MemoryBlock b; // loadFileAsData appends
        return getPresetsFolder().getChildFile(name).loadFileAsData(b) ? b : juce::MemoryBlock("missing", 7);
    }

    std::unique_ptr<PluginProcessor> p;
    SynthFIFO<SynthEvent>::Reader events;
};

TEST_F(StateTest, PresetsSaveReplaceAndLoad)
{
    p->savePreset("Warm");
    EXPECT_EQ(onDisk("Warm.qmpreset"), stateOf(*p));
    EXPECT_EQ(drain(events), (Events{{kSynthEventPresetsChanged, 0, 0}}));
    p->savePreset("Bright");
    drain(events);
    const juce::MemoryBlock block = set(0.8f, kCanvasModeXYPad);
    p->savePreset("Warm");
    EXPECT_EQ(onDisk("Warm.qmpreset"), block);
    // Its position in the folder listing, whichever order the walk gives.
    EXPECT_EQ(drain(events), (Events{{kSynthEventPresetsChanged, listPresetNames().indexOf("Warm"), 0}}));
    // No temporary file stays behind, and saving does not name the processor's preset.
    EXPECT_EQ(allFiles(getPresetsFolder()), juce::StringArray({"Bright.qmpreset", "Warm.qmpreset"}));
    EXPECT_TRUE(p->presetName.isEmpty());

    // A sub-folder is made; the listing's index compares bare names, and "Warm" is not "Pads/Warm".
    p->savePreset("Pads/Warm");
    EXPECT_EQ(drain(events), (Events{{kSynthEventPresetsChanged, -1, 0}}));
    set(0.1f, kCanvasModeKeyboard);
    EXPECT_EQ(p->loadPreset("Pads/Warm"), "");
    EXPECT_EQ(p->presetName, "Pads/Warm");
    EXPECT_EQ(stateOf(*p), block);
    EXPECT_EQ(drain(events), (Events{{kSynthEventPresetsChanged, -1, 0}}));

    // The only preset is what a new processor starts with.
    getPresetsFolder().getChildFile("Bright.qmpreset").deleteFile();
    getPresetsFolder().getChildFile("Warm.qmpreset").deleteFile();
    PluginProcessor q;
    EXPECT_EQ(q.presetName, "Pads/Warm");
    EXPECT_EQ(stateOf(q), block);
}

TEST_F(StateTest, PresetNamesNeverReachAPathOutsideTheFolderNorAMissingFile)
{
    // A preset-shaped file just outside the presets folder.
    const juce::File outside = getLibraryFolder().getChildFile("secret.qmpreset");
    const juce::MemoryBlock secret = stateOf(*p), before = set(0.1f, kCanvasModeXYPad);
    ASSERT_TRUE(outside.replaceWithData(secret.getData(), secret.getSize()));
    for (const char* name : {"", "   ", "../secret", "Pads/../../secret", "/tmp/evil", "\\evil", "a\nb",
                             "tab\there", "a//b", "Pads/", "./x", "..", "Pads/./x", "x\x7f"})
    {
        EXPECT_FALSE(isSafePresetName(name)) << name;
        EXPECT_EQ(p->loadPreset(name), "Error: Preset file not found!") << name;
        p->savePreset(name);
        EXPECT_EQ(drain(events), (Events{{kSynthEventSaveFailed, 0, 0}})) << name;
    }
    EXPECT_EQ(stateOf(*p), before);
    EXPECT_EQ(allFiles(getLibraryFolder()),
              juce::StringArray({"Quillmoor Sounds/Test.qmbank", "secret.qmpreset"}));
    EXPECT_FALSE(juce::File("/tmp/evil.qmpreset").exists());
    outside.deleteFile();
    for (const char* name : {"Pads/Warm", "Deep/Pads/Warm 2", "Café"})
        EXPECT_TRUE(isSafePresetName(name)) << name;

    // Names that are safe but missing.

    p->presetName = "Before";
    EXPECT_EQ(p->loadPreset("Nothing Here"), "Error: Preset file not found!");
    EXPECT_EQ(p->presetName, "Before");
    // A folder counts as existing: nothing loads, but the name is taken. It is not listed, nor are
    // other files; only the final extension goes.
    ASSERT_TRUE(getPresetsFolder().getChildFile("Odd.qmpreset").createDirectory().wasOk());
    ASSERT_TRUE(getPresetsFolder().getChildFile("a.qmpreset.qmpreset").replaceWithText("x"));
    ASSERT_TRUE(getPresetsFolder().getChildFile("Keys/notes.txt").create().wasOk());
    EXPECT_EQ(p->loadPreset("Odd"), "");
    EXPECT_EQ(p->presetName, "Odd");
    EXPECT_EQ(stateOf(*p), before);
    EXPECT_TRUE(drain(events).empty());
    EXPECT_EQ(listPresetNames(), juce::StringArray({"a.qmpreset"}));
}

// Dots are ordinary characters of a name; only a whole level of "." or ".." would move between
// folders. Each dotted name saves, is listed, loads, and is what a new processor starts with when it
// is the only preset.
TEST_F(StateTest, NamesWithDotsSaveListLoadAndStart)
{
    // The last one is as long as a file name may be with the extension (255 bytes).
    const std::string longest = std::string(255 - 9 - 1, 'P') + ".";
    const char* dotted[] = {"Pad...", "Strings..2", "..Lead", "x.", "a..b/...", "Deep..er/Bass.", longest.c_str()};
    std::vector<juce::MemoryBlock> blocks;
    for (const char* name : dotted)
    {
        EXPECT_TRUE(isSafePresetName(name)) << name;
        blocks.push_back(set(0.1f + 0.1f * float(blocks.size()), kCanvasModeXYPad));
        p->savePreset(name);
        const Events saved = drain(events);
        ASSERT_EQ(saved.size(), 1u) << name;
        EXPECT_EQ(std::get<0>(saved[0]), kSynthEventPresetsChanged) << name;
        EXPECT_EQ(onDisk((juce::String(name) + ".qmpreset").toRawUTF8()), blocks.back()) << name;
    }
    juce::StringArray listed = listPresetNames(), expected(dotted, int(std::size(dotted)));
    listed.sort(false), expected.sort(false);
    EXPECT_EQ(listed, expected);
    for (size_t i = 0; i < blocks.size(); ++i)
    {
        set(0.95f, kCanvasModeKeyboard);
        EXPECT_EQ(p->loadPreset(dotted[i]), "") << dotted[i];
        EXPECT_EQ(p->presetName, dotted[i]);
        EXPECT_EQ(stateOf(*p), blocks[i]) << dotted[i];
    }
    for (size_t i = 0; i < blocks.size(); ++i)
    {
        getPresetsFolder().deleteRecursively();
        set(0.5f, kCanvasModeKeyboard);
        ASSERT_TRUE(p->loadPreset(dotted[i]).isNotEmpty());
        p->setStateInformation(blocks[i].getData(), int(blocks[i].getSize()));
        p->savePreset(dotted[i]);
        PluginProcessor q;
        EXPECT_EQ(q.presetName, dotted[i]);
        EXPECT_EQ(stateOf(q), blocks[i]) << dotted[i];
    }

    // A level of "." or ".." or an absolute path is still refused, and nothing is written anywhere.
    const juce::StringArray before = allFiles(getLibraryFolder().getParentDirectory());
    drain(events);
    for (const char* name : {"../x", "a/../b", "/x", ".", "..", "a/.", "a/..", "./b", "a/./b"})
    {
        EXPECT_FALSE(isSafePresetName(name)) << name;
        EXPECT_EQ(p->loadPreset(name), "Error: Preset file not found!") << name;
        p->savePreset(name);
        EXPECT_EQ(drain(events), (Events{{kSynthEventSaveFailed, 0, 0}})) << name;
    }
    EXPECT_EQ(allFiles(getLibraryFolder().getParentDirectory()), before);
    EXPECT_FALSE(juce::File("/x.qmpreset").exists());
}

TEST_F(StateTest, FailedPresetWriteReportsAndLeavesNoTruncatedFile)
{
    // A disk that fills up mid-write (a file size limit below the preset's size): the preset already
    // there stays whole.
    p->savePreset("Whole");
    const juce::MemoryBlock whole = onDisk("Whole.qmpreset");
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const rlimit tiny{100, before.rlim_max};
    std::signal(SIGXFSZ, SIG_IGN); // the write fails instead
    set(0.7f, kCanvasModeXYPad);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    p->savePreset("Whole");
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(drain(events), (Events{{kSynthEventPresetsChanged, 0, 0}, {kSynthEventSaveFailed, 0, 0}}));
    EXPECT_EQ(onDisk("Whole.qmpreset"), whole);
    getPresetsFolder().getChildFile("Whole.qmpreset").deleteFile();
    // Root writes anywhere, so permissions prove nothing: things in the way make the writes fail.
    // A folder where the preset goes (the finished temporary file cannot replace it), a file where
    // its sub-folder goes, then a file in place of the presets folder itself.
    ASSERT_TRUE(getPresetsFolder().getChildFile("Taken.qmpreset").createDirectory().wasOk());
    ASSERT_TRUE(getPresetsFolder().getChildFile("Pads").replaceWithText("x"));
    for (const char* name : {"Taken", "Pads/Warm", "Warm"})
    {
        if (name[0] == 'W') EXPECT_EQ(allFiles(getPresetsFolder()), juce::StringArray({"Pads"}));
        if (name[0] == 'W') getPresetsFolder().deleteRecursively() && getPresetsFolder().replaceWithText("x");
        p->savePreset(name);
        EXPECT_EQ(drain(events), (Events{{kSynthEventSaveFailed, 0, 0}})) << name;
    }
    EXPECT_EQ(getPresetsFolder().loadFileAsString(), "x");
    EXPECT_EQ(allFiles(getLibraryFolder()),
              juce::StringArray({"Quillmoor Presets", "Quillmoor Sounds/Test.qmbank"}));
}

TEST(PresetNames, StartupPickIsInRangeAndFollowsTheClock)
{
    for (int n : {1, 2, 7, 1000})
    {
        std::set<int> picks;
        for (uint64_t c = 0; c < 64; ++c)
            picks.insert(pickStartupPreset(c * 0x9E3779B97F4A7C15ull, n));
        EXPECT_TRUE(*picks.begin() >= 0 && *picks.rbegin() < n && (picks.size() > 1) == (n > 1)) << n;
    }
}

TEST_F(StateTest, HostBlockRestoresAnotherProcessor)
{
    const juce::MemoryBlock block = stateOf(*p);
    ASSERT_EQ(block.getSize(), 570u + 3 * (5 + 9)); // three five-letter names
    // The second processor sees the sounds in another order, and one more.
    writeBank("Test.qmbank", bankOf({"Bass_Omega", "Pads_Delta", "Pads_Gamma", "Keys_Beta", "Keys_Alpha"}));
    PluginProcessor q;
    q.presetName = "Old";
    const std::vector<Param> old = q.dsp->params;
    const uint64_t canvasPushes = q.canvasQueue.pushCount();
    HostListener host;
    q.addListener(&host);
    auto qEvents = q.eventQueue.makeReader();
    q.setStateInformation(block.getData(), int(block.getSize()));
    q.removeListener(&host);

    // Written back from the restored processor, the block is the same: values, mode, positions.
    EXPECT_EQ(stateOf(q), block);
    const NodeCanvasData &c = q.nodeCanvas, &s = p->nodeCanvas;
    ASSERT_EQ(c.nodeCount, 3);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_STREQ(q.dsp->sounds[size_t(c.nodes[i].soundId)].name,
                     p->dsp->sounds[size_t(s.nodes[i].soundId)].name);
    EXPECT_GT(c.triCount, 0);
    EXPECT_TRUE(q.presetName.isEmpty());
    // The engine gets the canvas, the editor one event, the host every host value the block changed.
    EXPECT_EQ(q.canvasQueue.pushCount(), canvasPushes + 1);
    EXPECT_EQ(drain(qEvents), (Events{{kSynthEventPresetsChanged, -1, 0}}));
    int changedHostParams = 0;
    for (size_t i = 0; i < old.size(); ++i)
        changedHostParams += old[i].hostIndex >= 0 && q.dsp->params[i].value != old[i].value;
    ASSERT_GT(changedHostParams, 0);
    EXPECT_EQ(host.changes, changedHostParams);
}

TEST_F(StateTest, NewerOrBrokenHostBlocksChangeNothing)
{
    juce::MemoryBlock good = stateOf(*p);
    const juce::MemoryBlock before = set(0.9f, kCanvasModeXYPad);
    const uint64_t canvasPushes = p->canvasQueue.pushCount();
    // A wrong header length, "quillmoor" for "Quillmoor": refused without a word.
    for (auto [at, value] : {std::pair{0, '\0'}, {0, '\1'}, {0, '\11'}, {1, 'q'}})
    {
        juce::MemoryBlock bad = good;
        bad[at] = value;
        p->setStateInformation(bad.getData(), int(bad.getSize()));
    }
    p->setStateInformation(good.getData(), 0);
    p->setStateInformation(nullptr, 100);
    p->setStateInformation(good.getData(), -5);
    EXPECT_TRUE(drain(events).empty());
    EXPECT_TRUE(p->pendingMessage.isEmpty());
    // A newer version only leaves a message.
    ASSERT_EQ(std::string(static_cast<char*>(good.getData()) + 11), "1.2.0");
    good[15] = '1';
    p->setStateInformation(good.getData(), int(good.getSize()));
    EXPECT_EQ(
        p->pendingMessage,
        "This state was saved with a newer version of Quillmoor: 1.2.1, you have 1.2.0. Please upgrade.\n");
    EXPECT_EQ(drain(events), (Events{{kSynthEventMessageWaiting, 0, 0}}));
    EXPECT_EQ(stateOf(*p), before);
    EXPECT_EQ(p->canvasQueue.pushCount(), canvasPushes);
}
} // namespace
