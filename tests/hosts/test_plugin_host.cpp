// Loads the built VST3 and LV2 bundles through JUCE's own plug-in hosting, as a host would, plays
// the demo bank through them offline and restores a parameter change through their state.
#include <cmath>
#include <cstdio>

#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include "HostedPlugin.h"
#include "RenderPeaks.h"
#include "engine/KeySpaceDSP.h"

namespace
{
using qmhost::kBlock;
using qmhost::kRate;
using qmhost::load;

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

INSTANTIATE_TEST_SUITE_P(Formats, PluginHostTest, ::testing::Bool(), qmhost::formatName);
} // namespace
