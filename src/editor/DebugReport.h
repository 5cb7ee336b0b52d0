#pragma once

#include <juce_core/juce_core.h>

class PluginProcessor;

// Everything the debug report says, gathered apart from the text so that the text can be checked.
struct DebugFacts
{
    juce::String version;
    juce::String buildTime; // "hh:mm:ss, Mmm dd yyyy"
    juce::String user;      // the user's full name, else the login name
    juce::String cpu;       // "vendor @ 2.4GHz x 8"
    int wrapperType = 0;    // juce::AudioProcessor::WrapperType
    juce::String architecture;
    bool debugBuild = false;
    juce::String host; // file name of the host program
    juce::String platform;
    int instance = 0; // the processor's instance number, from 0
    int numInstances = 0;
    int blockSize = 0;
    double sampleRate = 0.0;
    int channels = 0;
    juce::String now; // "6 Dec 2026 18:52"
};

// Name of a plug-in format by the framework's wrapper type; "???" for a type it does not know.
juce::String pluginFormatName(int wrapperType);
// The report's sixteen lines, joined by "\n" with none after the last.
juce::String makeDebugReport(const DebugFacts& facts);
// The facts of this process and of processor now.
DebugFacts collectDebugFacts(const PluginProcessor& processor);
