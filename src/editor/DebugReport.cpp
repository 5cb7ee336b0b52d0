#include "editor/DebugReport.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>

#include "engine/StateBlock.h"
#include "processor/PluginProcessor.h"

namespace
{
juce::String userFullName()
{
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr)
    {
        if (pw->pw_gecos != nullptr)
            if (const juce::String full =
                    juce::String::fromUTF8(pw->pw_gecos).upToFirstOccurrenceOf(",", false, false);
                full.isNotEmpty())
                return full;
        if (pw->pw_name != nullptr) return juce::String::fromUTF8(pw->pw_name);
    }
    return juce::SystemStats::getLogonName();
}

const char* buildArchitecture() noexcept
{
#if defined(__x86_64__) || defined(_M_X64)
    return "x64";
#elif defined(__aarch64__) || defined(_M_ARM64)
    return "arm64";
#elif defined(__i386__) || defined(_M_IX86)
    return "x86";
#else
    return "unknown";
#endif
}
} // namespace

juce::String pluginFormatName(int wrapperType)
{
    using A = juce::AudioProcessor;
    switch (wrapperType)
    {
    case A::wrapperType_Undefined:
        return "?";
    case A::wrapperType_VST:
        return "VST";
    case A::wrapperType_VST3:
        return "VST3";
    case A::wrapperType_AudioUnit:
        return "AU";
    case A::wrapperType_AudioUnitv3:
        return "AUv3";
    case A::wrapperType_AAX:
        return "AAX";
    case A::wrapperType_Standalone:
        return "standalone";
    case A::wrapperType_LV2:
        return "LV2";
    default:
        return "???";
    }
}

juce::String makeDebugReport(const DebugFacts& f)
{
    juce::StringArray lines;
    lines.add("<<< DEBUG STATS >>>");
    lines.add("product: Quillmoor");
    lines.add("version: " + f.version);
    lines.add("build time: " + f.buildTime);
    lines.add("user: " + f.user);
    lines.add("cpu: " + f.cpu);
    lines.add("plugin format: " + pluginFormatName(f.wrapperType));
    lines.add("architecture: " + f.architecture);
    lines.add(juce::String("debug build: ") + (f.debugBuild ? "yes" : "no"));
    lines.add("host: " + f.host);
    lines.add("platform: " + f.platform);
    lines.add("instance: " + juce::String(f.instance + 1) + "/" + juce::String(f.numInstances));
    lines.add("buffer size: " + juce::String(f.blockSize));
    lines.add("samplerate: " + juce::String(f.sampleRate));
    lines.add("channels: " + juce::String(f.channels));
    lines.add("current time: " + f.now);
    return lines.joinIntoString("\n");
}

DebugFacts collectDebugFacts(const PluginProcessor& processor)
{
    DebugFacts f;
    f.version = kStateVersionText;
    f.buildTime = juce::String(__TIME__) + ", " + __DATE__;
    f.user = userFullName();
    char cpu[256];
    std::snprintf(
        cpu, sizeof cpu, "%s @ %.1fGHz x %d", juce::SystemStats::getCpuVendor().toRawUTF8(),
        static_cast<double>(static_cast<float>(juce::SystemStats::getCpuSpeedInMegahertz()) * 0.001f),
        juce::SystemStats::getNumCpus());
    f.cpu = cpu;
    f.wrapperType = static_cast<int>(processor.wrapperType);
    f.architecture = buildArchitecture();
#if JUCE_DEBUG
    f.debugBuild = true;
#endif
    f.host = juce::File::getSpecialLocation(juce::File::hostApplicationPath).getFileName();
    f.platform = juce::SystemStats::getOperatingSystemName();
    f.instance = processor.instanceIndex;
    f.numInstances = gNumInstances.load();
    f.blockSize = processor.lastBlockSize.load();
    f.sampleRate = processor.getSampleRate();
    f.channels = processor.getTotalNumOutputChannels();
    f.now = juce::Time::getCurrentTime().toString(true, true, false, true).trimEnd();
    return f;
}
