#pragma once
// Loading the built bundles through JUCE's own plug-in hosting, shared by the host tests.
#include <memory>

#include <juce_audio_processors/juce_audio_processors.h>

namespace qmhost
{
constexpr double kRate = 48000.0;
constexpr int kBlock = 512;

// Loads the plug-in (VST3 or LV2) and connects its buses as a host does. The buses are declared not
// enabled by default, which the LV2 wrapper turns into optional ports; hosts connect them all.
inline std::unique_ptr<juce::AudioPluginInstance> load(bool vst3, juce::String& error)
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
             : QM_LV2_URI;
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile(types, id);
    error = "no plug-in found for " + id;
    auto plugin =
        types.isEmpty() ? nullptr : format.createInstanceFromDescription(*types[0], kRate, kBlock, error);
    if (plugin != nullptr) plugin->enableAllBuses();
    return plugin;
}

inline std::string formatName(const testing::TestParamInfo<bool>& info)
{
    return info.param ? "VST3" : "LV2";
}
} // namespace qmhost
