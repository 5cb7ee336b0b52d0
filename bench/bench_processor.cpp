// processBlock with 16 sounding voices at 48 kHz, for host block sizes 64, 512 and 2048.
#include <cstdlib>
#include <memory>

#include <benchmark/benchmark.h>

#include "bankmaker/BankMaker.h"
#include "engine/params/ParamTable.h"
#include "processor/LibraryFolders.h"
#include "processor/PluginProcessor.h"

namespace
{
constexpr double kRate = 48000.0;
constexpr int kVoices = 16;

void BM_ProcessBlock16Voices(benchmark::State& state)
{
    const int block = static_cast<int>(state.range(0));
    PluginProcessor processor;
    processor.setPlayConfigDetails(0, 2, kRate, block);
    processor.prepareToPlay(kRate, block);
    processor.dsp->params[kParamPolyphony].value = static_cast<float>(kVoices);

    juce::AudioBuffer<float> buffer(2, block);
    juce::MidiBuffer notes;
    for (int v = 0; v < kVoices; ++v)
        notes.addEvent(juce::MidiMessage::noteOn(1, 40 + 3 * v, (juce::uint8)100), 0);
    processor.processBlock(buffer, notes);

    juce::MidiBuffer none;
    for (auto _ : state)
    {
        processor.processBlock(buffer, none);
        benchmark::DoNotOptimize(buffer.getReadPointer(0));
    }
    state.SetItemsProcessed(state.iterations() * block);
    state.counters["voices"] = static_cast<double>(processor.dsp->voiceCount);
}
BENCHMARK(BM_ProcessBlock16Voices)->Arg(64)->Arg(512)->Arg(2048)->Unit(benchmark::kMicrosecond);
} // namespace

int main(int argc, char** argv)
{
    const juce::File home = juce::File::getSpecialLocation(juce::File::tempDirectory)
                                .getNonexistentChildFile("qm-bench-", "", false);
    setenv("XDG_DATA_HOME", home.getFullPathName().toRawUTF8(), 1);
    getSoundsFolder().createDirectory();
    qmbank::writeBankZip(getSoundsFolder().getChildFile("Demo.qmbank").getFullPathName().toStdString(),
                         qmbank::demoBank());

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    home.deleteRecursively();
    return 0;
}
