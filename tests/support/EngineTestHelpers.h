#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bankmaker/BankMaker.h"
#include "engine/KeySpaceDSP.h"
#include "engine/voice/VoiceAllocation.h"
#include "support/TestSounds.h"

namespace qmtest
{

// An engine set up the way the processor sets one up: its own canvas and mix queues, a sound list
// made from bank entries (kept alive here, since the engine's maps point into them) and init().
class EngineRig
{
  public:
    explicit EngineRig(const std::vector<qmbank::BankEntry>& entries = {}, float sampleRate = 44100.0f);

    KeySpaceDSP& dsp() noexcept { return *engine; }

    // Pushes a canvas of the given sounds (nodes spread over the middle of the canvas) in the given
    // mode with the processor's bounds; in Explore mode its current mix plays the first sounds with
    // the given weights (at most three).
    void pushCanvas(const std::vector<int>& soundIds, const std::vector<float>& weights,
                    int mode = kCanvasModeExplore);
    void setAllEffects(bool on);
    // Renders numSamples in calls of at most blockSize samples, appending to left and right.
    void render(int numSamples, int blockSize, std::vector<float>& left, std::vector<float>& right);
    // Renders one call of numSamples here with the random generators seeded by seed (they are
    // shared by all engines, so two rigs given the same seed draw the same values), appending.
    void renderSeeded(uint32_t seed, int numSamples, std::vector<float>& left, std::vector<float>& right);

    SynthFIFO<NodeCanvasData> canvasQueue{8};
    SynthFIFO<NodeMix> mixQueue{32};

  private:
    std::vector<qmbank::BankEntry> blobs;
    std::vector<SoundDataRef> refs;
    std::unique_ptr<KeySpaceDSP> engine;
};

// Whether two values hold the very same bytes (a float -0 and +0 differ, a NaN equals itself).
template <typename T>
bool sameBytes(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A bank entry made from a blob description.
inline qmbank::BankEntry entry(const std::string& name, const qmbank::BlobSpec& desc)
{
    return {name, qmbank::encodeBlob(desc)};
}

// A note on and a note off as block processing applies them (channel defaults to 1). noteOn
// returns the chosen voice index.
inline int noteOn(KeySpaceDSP& dsp, int note, int velocity, int channel = 1)
{
    return startNote(dsp, note, velocity, channel);
}
inline void noteOff(KeySpaceDSP& dsp, int note, int channel = 1)
{
    releaseNote(dsp, note, channel);
}

float peakOf(const std::vector<float>& x);
bool allFinite(const std::vector<float>& x);
// The energy of x - reference relative to the reference's, in dB (about -300 where they are equal).
// The sizes must agree.
double relativeErrorDb(const std::vector<float>& reference, const std::vector<float>& x);

// Golden render signatures: per window of 1024 samples, the RMS of each channel and its spectral
// centroid (Hz, of the Hann-windowed power spectrum) faded out below an RMS of 1e-3, so that the
// centroids of near-silent windows, which are noise, count for nothing: {rmsL, rmsR, centL, centR}.
using GoldenRows = std::vector<std::vector<double>>;
GoldenRows renderSignature(const std::vector<float>& left, const std::vector<float>& right,
                           double sampleRate);
// tests/engine/golden/<name> in the source tree.
std::filesystem::path goldenPath(const std::string& name);
// Compares rows with tests/engine/golden/<name> value by value to relTol x |golden| + absTol; with
// QM_REGENERATE_GOLDEN=1 in the environment it writes the file instead.
void expectMatchesGolden(const std::string& name, const GoldenRows& rows, double relTol, double absTol);
// Compares a signature text (a trace, a table dump) with the golden file tests/engine/golden/<name>.
// With QM_REGENERATE_GOLDEN=1 it rewrites the file instead (after an intended change) and fails, so
// that a run with the switch never passes unnoticed.
void expectGolden(const std::string& name, const std::string& text);

// Least-squares fit of a cos + b sin at a known frequency (cycles per sample): the sine's amplitude
// and the level in dB of what is left over, relative to the sine.
struct SineFit
{
    double amplitude, errorDb;
};
SineFit fitSine(const std::vector<float>& y, double cyclesPerSample);

} // namespace qmtest
