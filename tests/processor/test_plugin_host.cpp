// Loads the built VST3 and LV2 bundles through JUCE's own plug-in hosting, as a host would, and
// plays the demo bank through them offline.
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include "engine/KeySpaceDSP.h"

namespace
{
constexpr double kRate = 48000.0;
constexpr int kBlock = 512;
constexpr const char* kLv2Uri = "https://velmora.example/plugins/quillmoor";

juce::File gTempHome;

juce::File vst3Bundle()
{
    // The VST3 binary lives in <bundle>/Contents/<arch>-linux/.
    return juce::File(QM_VST3_BINARY_DIR).getParentDirectory().getParentDirectory();
}

juce::File lv2Bundle()
{
    return juce::File(QM_LV2_BUNDLE_DIR);
}

// The names the host should see: the engine's host-flagged parameters in host-index order.
std::vector<juce::String> expectedNames()
{
    KeySpaceDSP dsp(SynthFIFO<NodeCanvasData>::Reader{}, SynthFIFO<NodeMix>::Reader{}, nullptr, 0);
    std::vector<juce::String> names;
    for (int h = 0; h < dsp.hostParamCount; ++h)
        names.push_back(
            juce::String(dsp.params[static_cast<size_t>(dsp.hostParamIndex[static_cast<size_t>(h)])].name)
                .replaceCharacter('_', ' '));
    return names;
}

std::unique_ptr<juce::AudioPluginInstance> loadVst3(juce::String& error)
{
    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile(types, vst3Bundle().getFullPathName());
    if (types.isEmpty())
    {
        error = "no plug-in found in " + vst3Bundle().getFullPathName();
        return nullptr;
    }
    return format.createInstanceFromDescription(*types[0], kRate, kBlock, error);
}

std::unique_ptr<juce::AudioPluginInstance> loadLv2(juce::String& error)
{
    juce::LV2PluginFormat format;
    format.searchPathsForPlugins(juce::FileSearchPath(lv2Bundle().getParentDirectory().getFullPathName()),
                                 true, false);
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile(types, kLv2Uri);
    if (types.isEmpty())
    {
        error = juce::String("no LV2 plug-in ") + kLv2Uri + " in " + lv2Bundle().getFullPathName();
        return nullptr;
    }
    return format.createInstanceFromDescription(*types[0], kRate, kBlock, error);
}

enum class Format
{
    vst3,
    lv2
};

// Loads the plug-in and connects its buses as a host does. The buses are declared not enabled by
// default, which the LV2 wrapper turns into optional ports; hosts connect them all.
std::unique_ptr<juce::AudioPluginInstance> load(Format f, juce::String& error)
{
    auto plugin = f == Format::vst3 ? loadVst3(error) : loadLv2(error);
    if (plugin != nullptr) plugin->enableAllBuses();
    return plugin;
}

void runOneBlock(juce::AudioPluginInstance& plugin)
{
    juce::AudioBuffer<float> buffer(std::max(2, plugin.getTotalNumOutputChannels()), kBlock);
    juce::MidiBuffer midi;
    buffer.clear();
    plugin.processBlock(buffer, midi);
}

class PluginHostTest : public ::testing::TestWithParam<Format>
{
};

// Our parameters, without the ones a wrapper adds itself (bypass, emulated MIDI controllers).
std::vector<juce::AudioProcessorParameter*> ownParameters(juce::AudioPluginInstance& p)
{
    std::vector<juce::AudioProcessorParameter*> own;
    for (auto* param : p.getParameters())
    {
        const juce::String name = param->getName(100);
        if (param == p.getBypassParameter() || name.startsWith("MIDI CC") || name == "Bypass") continue;
        own.push_back(param);
    }
    return own;
}
} // namespace

TEST_P(PluginHostTest, OffersThirteenNamedParameters)
{
    juce::String error;
    auto plugin = load(GetParam(), error);
    ASSERT_NE(plugin, nullptr) << error;
    EXPECT_EQ(plugin->getName(), "Quillmoor");
    EXPECT_TRUE(plugin->acceptsMidi());

    const auto names = expectedNames();
    ASSERT_EQ(names.size(), 13u);
    const auto own = ownParameters(*plugin);
    ASSERT_EQ(own.size(), 13u);
    // In host-index order (LV2 hosts order parameters by their symbols, which sort the same way);
    // VST3 numbers them 0 to 12.
    for (size_t h = 0; h < own.size(); ++h)
    {
        EXPECT_EQ(own[h]->getName(100), names[h]);
        if (GetParam() == Format::vst3) EXPECT_EQ(own[h]->getParameterIndex(), static_cast<int>(h));
    }
}

TEST_P(PluginHostTest, NoAudioInputsAndAStereoOutput)
{
    juce::String error;
    auto plugin = load(GetParam(), error);
    ASSERT_NE(plugin, nullptr) << error;
    EXPECT_EQ(plugin->getTotalNumInputChannels(), 0);
    EXPECT_EQ(plugin->getTotalNumOutputChannels(), 2);
}

TEST_P(PluginHostTest, PlaysNotesFromTheDemoBank)
{
    juce::String error;
    auto plugin = load(GetParam(), error);
    ASSERT_NE(plugin, nullptr) << error;
    plugin->prepareToPlay(kRate, kBlock);

    const int channels = std::max(plugin->getTotalNumInputChannels(), plugin->getTotalNumOutputChannels());
    ASSERT_GE(channels, 2);
    juce::AudioBuffer<float> buffer(channels, kBlock);
    float peak[2] = {0.0f, 0.0f};
    bool finite = true;
    for (int b = 0; b < 60; ++b)
    {
        juce::MidiBuffer midi;
        if (b == 0)
        {
            midi.addEvent(juce::MidiMessage::noteOn(1, 60, (juce::uint8)110), 0);
            midi.addEvent(juce::MidiMessage::noteOn(1, 64, (juce::uint8)100), 200);
            midi.addEvent(juce::MidiMessage::noteOn(1, 67, (juce::uint8)90), 300);
        }
        if (b == 40)
            for (int n : {60, 64, 67})
                midi.addEvent(juce::MidiMessage::noteOff(1, n), 10);
        buffer.clear();
        plugin->processBlock(buffer, midi);
        for (int ch = 0; ch < 2; ++ch)
        {
            const float* x = buffer.getReadPointer(ch);
            for (int i = 0; i < kBlock; ++i)
            {
                finite = finite && std::isfinite(x[i]);
                peak[ch] = std::max(peak[ch], std::fabs(x[i]));
            }
        }
    }
    plugin->releaseResources();
    EXPECT_TRUE(finite);
    EXPECT_GT(peak[0], 1e-4f);
    EXPECT_GT(peak[1], 1e-4f);
    EXPECT_LT(peak[0], 8.0f);
}

TEST_P(PluginHostTest, RestoresAParameterChangeThroughItsState)
{
#if !QM_HAS_HOST_STATE
    GTEST_SKIP() << "the processor does not store a host state block yet";
#endif
    juce::String error;
    auto first = load(GetParam(), error);
    ASSERT_NE(first, nullptr) << error;
    auto own = ownParameters(*first);
    ASSERT_GE(own.size(), 7u);
    // LV2 carries parameter changes in both directions through the plug-in's run call, so a block
    // is rendered after each change, as in a running host.
    first->prepareToPlay(kRate, kBlock);
    own[6]->setValue(0.8f); // Morph X
    runOneBlock(*first);
    const float stored = own[6]->getValue();
    juce::MemoryBlock state;
    first->getStateInformation(state);
    first.reset();

    auto second = load(GetParam(), error);
    ASSERT_NE(second, nullptr) << error;
    auto ownSecond = ownParameters(*second);
    EXPECT_NE(ownSecond[6]->getValue(), stored);
    second->prepareToPlay(kRate, kBlock);
    second->setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    runOneBlock(*second);
    EXPECT_NEAR(ownSecond[6]->getValue(), stored, 1e-5f);
}

INSTANTIATE_TEST_SUITE_P(Formats, PluginHostTest, ::testing::Values(Format::vst3, Format::lv2),
                         [](const auto& info) { return info.param == Format::vst3 ? "VST3" : "LV2"; });

int main(int argc, char** argv)
{
    // A private home and data folder: the plug-ins read their sounds from it, and no plug-in the
    // user installed is found instead of the ones in the build tree.
    // mkdtemp: CTest runs every test case as its own process, several at once.
    std::string pattern =
        (juce::File::getSpecialLocation(juce::File::tempDirectory).getFullPathName() + "/qm-host-XXXXXX")
            .toStdString();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    gTempHome = juce::File(pattern);
    const juce::File dataHome = gTempHome.getChildFile("data");
    const juce::File sounds = dataHome.getChildFile("Velmora/Quillmoor Sounds");
    sounds.createDirectory();
    juce::File(QM_DEMO_BANK_PATH).copyFileTo(sounds.getChildFile("Quillmoor Demo.qmbank"));
    setenv("XDG_DATA_HOME", dataHome.getFullPathName().toRawUTF8(), 1);
    setenv("HOME", gTempHome.getFullPathName().toRawUTF8(), 1);

    ::testing::InitGoogleTest(&argc, argv);
    int rc = 0;
    {
        const juce::ScopedJuceInitialiser_GUI juce;
        rc = RUN_ALL_TESTS();
    }
    gTempHome.deleteRecursively();
    return rc;
}
