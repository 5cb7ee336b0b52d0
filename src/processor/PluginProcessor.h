#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include <juce_audio_processors/juce_audio_processors.h>

#include "engine/KeySpaceDSP.h"
#include "engine/canvas/NodeMixer.h"
#include "engine/SynthFIFO.h"
#include "processor/PluginParam.h"
#include "processor/SynthEvent.h"

// Process-wide counters shared by every instance: live processors, and seconds of audio rendered
// at sample rates above 5000 Hz. Instances are made, destroyed and rendered on different threads.
extern std::atomic<int32_t> gNumInstances;
extern std::atomic<double> gOnSeconds;

// The instrument as the host sees it. Owns the engine, the bytes of every loaded sound, the three
// queues between threads and the canvas the editor edits.
class PluginProcessor : public juce::AudioProcessor,
                        public juce::ChangeBroadcaster,
                        public PluginParam::Listener,
                        private juce::AsyncUpdater
{
  public:
    PluginProcessor();
    ~PluginProcessor() override;

    // ---- juce::AudioProcessor ----
    const juce::String getName() const override { return "Quillmoor"; }
    void prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override {}
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock; // the double-precision variant keeps the default
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return false; }
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram(int) override {}
    const juce::String getProgramName(int) override { return {}; }
    void changeProgramName(int, const juce::String&) override {}
    void getStateInformation(juce::MemoryBlock& destData) override;
    void setStateInformation(const void* data, int sizeInBytes) override;
    bool silenceInProducesSilenceOut() const override { return false; }

    // ---- PluginParam::Listener ----
    void receivedParamChange(int hostIndex) override;

    // Pushes a copy of nodeCanvas to the engine (the editor changed it) and empties presetName.
    void sendNodeCanvasToDSP();
    // The editor calls this after each edit that changes what getStateInformation writes, so that
    // the host counts its project as changed (hosts that save only a changed project would otherwise
    // lose the edit). Message thread only. A burst of calls reaches the host as one message, posted
    // later: never call it for the host's own state or parameter calls, which the host already knows.
    void notifyStateChanged();
    // Name of effect slot `slot` in chain order; "Unknown FX!" outside it.
    static juce::String getFxName(int slot);

    // Pushes an event for the editor and nothing else: no message, no lock, so it is safe on any
    // thread, the render thread included (a push that cannot get the ring is dropped, as an editor
    // that falls behind loses events anyway). The editor polls the ring from a timer.
    void pushEvent(const SynthEvent& event) noexcept;
    // Sends every host parameter's unit value to the host's listeners, except values the host
    // already holds (see PluginParam::reportValueIfChanged).
    void reportHostValues();
    // The host parameter with host index h (0 .. hostParamCount - 1), or null.
    PluginParam* getHostParam(int hostIndex) const;

    // ---- Preset files and sound banks (PresetFiles.cpp, BankInstaller.cpp) ----
    // Loads the preset called name (a path relative to the presets folder, without the extension):
    // the empty text, or "Error: Preset file not found!" (also for names that would leave the folder).
    juce::String loadPreset(juce::String name);
    // Saves the current state as preset name. Success pushes event kind 3 with the preset's position
    // in the folder listing; any failure (hostile name, folder or file that cannot be written) pushes
    // kind 4 and leaves no partly written preset.
    void savePreset(juce::String name);
    // Start-up: loads one preset picked from the presets folder; false, with nothing applied, when
    // there is none or the pick cannot be read or places no sound.
    bool loadStartupPreset();
    // Checks the sound bank at path and copies it into the sounds folder; returns the message for
    // the user (never empty).
    static juce::String addDataFromFilePath(juce::String path);

    // ---- Fields the host's state calls share with the editor ----
    // presetName, pendingMessage and nodeCanvas are written by the host's state calls on the host's
    // thread as well as by the editor: both hold stateLock while they touch them. Never taken on the
    // render thread, nor held across a call into the host.
    juce::CriticalSection stateLock;
    // The pending message, emptied in the same step.
    juce::String takePendingMessage();
    juce::String getPresetName();
    void setPresetName(const juce::String& name);

    // ---- fields (public to the editor, the state block and the preset files) ----
    int32_t editorWidth = 0;
    int32_t editorHeight = 0;
    juce::String presetName;
    int32_t instanceIndex = 0;
    juce::String pendingMessage;
    std::atomic<int32_t> lastBlockSize{0}; // written on the render thread
    std::unique_ptr<KeySpaceDSP> dsp;
    std::vector<uint8_t> soundStorage; // never resized after construction: sounds point into it
    SynthFIFO<SynthEvent> eventQueue;
    SynthFIFO<NodeCanvasData> canvasQueue;
    SynthFIFO<NodeMix> mixQueue;
    NodeCanvasData nodeCanvas;

  private:
    void handleAsyncUpdate() override;
    // Reads the sound banks into soundStorage; the references point into it.
    std::vector<SoundDataRef> loadSoundBanks();
    // The first canvas when no preset is loaded: a random neighbourhood of sounds, its mix at the
    // point Morph X / Morph Y, queued for the engine without a change broadcast.
    void buildFirstCanvas();
    // Renders samples [start, start + length) of buffer with the engine.
    void renderSegment(juce::AudioBuffer<float>& buffer, int start, int length, int numChannels) noexcept;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PluginProcessor)
};

// The canvas every processor starts with: all zero except the keyboard layout.
NodeCanvasData makeInitialCanvas() noexcept;
