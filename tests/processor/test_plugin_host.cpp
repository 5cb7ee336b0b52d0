// Loads the built VST3 and LV2 bundles through JUCE's own plug-in hosting, as a host would, plays
// the demo bank through them offline and restores a parameter change through their state.
#include <cmath>
#include <cstdio>

#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include "RenderPeaks.h"
#include "engine/KeySpaceDSP.h"

namespace
{
constexpr double kRate = 48000.0;
constexpr int kBlock = 512;

// Loads the plug-in (VST3 or LV2) and connects its buses as a host does. The buses are declared not
// enabled by default, which the LV2 wrapper turns into optional ports; hosts connect them all.
std::unique_ptr<juce::AudioPluginInstance> load(bool vst3, juce::String& error)
{
    juce::VST3PluginFormat vst3Format;
    juce::LV2PluginFormat lv2Format;
    juce::AudioPluginFormat& format = vst3 ? static_cast<juce::AudioPluginFormat&>(vst3Format) : lv2Format;
    // LV2 plug-ins are found by URI on a search path; the VST3 binary lives in
    // <bundle>/Contents/<arch>-linux/.
    lv2Format.searchPathsForPlugins(juce::File(QM_LV2_BUNDLE_DIR).getParentDirectory().getFullPathName(),
                                    true, false);
    const juce::String id =
        vst3 ? juce::File(QM_VST3_BINARY_DIR).getParentDirectory().getParentDirectory().getFullPathName()
             : "https://velmora.example/plugins/quillmoor";
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile(types, id);
    error = "no plug-in found for " + id;
    auto plugin =
        types.isEmpty() ? nullptr : format.createInstanceFromDescription(*types[0], kRate, kBlock, error);
    if (plugin != nullptr) plugin->enableAllBuses();
    return plugin;
}

// Our parameters, without the ones a wrapper adds itself (bypass, emulated MIDI controllers).
std::vector<juce::AudioProcessorParameter*> ownParameters(juce::AudioPluginInstance& p)
{
    std::vector<juce::AudioProcessorParameter*> own;
    for (auto* param : p.getParameters())
        if (param != p.getBypassParameter() && !param->getName(100).startsWith("MIDI CC") &&
            param->getName(100) != "Bypass")
            own.push_back(param);
    return own;
}

class PluginHostTest : public ::testing::TestWithParam<bool>
{
};

TEST_P(PluginHostTest, LoadsPlaysAndRestoresItsState)
{
    juce::String error;
    auto plugin = load(GetParam(), error);
    ASSERT_NE(plugin, nullptr) << error;
    EXPECT_EQ(plugin->getName(), "Quillmoor");
    EXPECT_TRUE(plugin->acceptsMidi());
    EXPECT_EQ(plugin->getTotalNumInputChannels(), 0);
    EXPECT_EQ(plugin->getTotalNumOutputChannels(), 2);

    // The engine's host-flagged parameters in host-index order (LV2 hosts order parameters by
    // their symbols, which sort the same way); VST3 numbers them 0 to 12.
    KeySpaceDSP dsp(SynthFIFO<NodeCanvasData>::Reader{}, SynthFIFO<NodeMix>::Reader{}, nullptr, 0);
    ASSERT_EQ(dsp.hostParamCount, 13);
    const auto own = ownParameters(*plugin);
    ASSERT_EQ(own.size(), 13u);
    for (size_t h = 0; h < own.size(); ++h)
    {
        const auto& param = dsp.params[size_t(dsp.hostParamIndex[h])];
        EXPECT_EQ(own[h]->getName(100), juce::String(param.name).replaceCharacter('_', ' '));
        if (GetParam()) EXPECT_EQ(own[h]->getParameterIndex(), int(h));
    }

    // A chord from the demo bank, released after 40 blocks.
    plugin->prepareToPlay(kRate, kBlock);
    const std::vector<std::array<int, 3>> notes = {{60, 110, 0}, {64, 100, 200}, {67, 90, 300}};
    const auto peak = qmproc::renderPeaks(*plugin, 60, kBlock,
                                          {{0, qmproc::chord(notes)}, {40, qmproc::chord(notes, false)}});
    EXPECT_TRUE(std::min(peak[0], peak[1]) > 1e-4f && std::max(peak[0], peak[1]) < 8.0f)
        << peak[0] << " " << peak[1];

    // LV2 carries parameter changes in both directions through the plug-in's run call, so a block
    // is rendered after each change, as in a running host.
    own[6]->setValue(0.8f); // Morph X
    qmproc::renderPeaks(*plugin, 1, kBlock);
    const float stored = own[6]->getValue();
    juce::MemoryBlock state;
    plugin->getStateInformation(state);
    plugin.reset();

    auto second = load(GetParam(), error);
    ASSERT_NE(second, nullptr) << error;
    auto ownSecond = ownParameters(*second);
    ASSERT_EQ(ownSecond.size(), 13u);
    EXPECT_NE(ownSecond[6]->getValue(), stored);
    second->prepareToPlay(kRate, kBlock);
    second->setStateInformation(state.getData(), int(state.getSize()));
    qmproc::renderPeaks(*second, 1, kBlock);
    EXPECT_NEAR(ownSecond[6]->getValue(), stored, 1e-5f);
}

INSTANTIATE_TEST_SUITE_P(Formats, PluginHostTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "VST3" : "LV2"; });
} // namespace

int main(int argc, char** argv)
{
    // A private home and data folder: the plug-ins read their sounds from it, and no plug-in the
    // user installed is found instead of the ones in the build tree.
    // mkdtemp: CTest runs every test case as its own process, several at once.
    std::string pattern = "/tmp/qm-host-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    const juce::File home(pattern), dataHome = home.getChildFile("data");
    const juce::File sounds = dataHome.getChildFile("Velmora/Quillmoor Sounds");
    // Without the demo bank nothing would sound: fail rather than test a silent plug-in.
    if (!sounds.createDirectory() ||
        !juce::File(QM_DEMO_BANK_PATH).copyFileTo(sounds.getChildFile("Quillmoor Demo.qmbank")))
    {
        std::fprintf(stderr, "cannot copy the demo bank %s\n", QM_DEMO_BANK_PATH);
        return 1;
    }
    setenv("XDG_DATA_HOME", dataHome.getFullPathName().toRawUTF8(), 1);
    setenv("HOME", home.getFullPathName().toRawUTF8(), 1);

    ::testing::InitGoogleTest(&argc, argv);
    int rc = 0;
    {
        const juce::ScopedJuceInitialiser_GUI juce;
        rc = RUN_ALL_TESTS();
    }
    home.deleteRecursively();
    return rc;
}
