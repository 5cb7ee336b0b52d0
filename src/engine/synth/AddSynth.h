#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/synth/BandLimNoiseCS.h"
#include "engine/CF.h"
#include "engine/dspConstants.h"
#include "platform/VectorDsp.h"

// Copies n floats from src to dst in ascending order; the buffers must not overlap.
void vectorCopy(const float* src, float* dst, unsigned n) noexcept;

// One FFT size with its plan.
struct SynthFFT
{
    explicit SynthFFT(int newLog2n);
    ~SynthFFT();
    SynthFFT(const SynthFFT&) = delete;
    SynthFFT& operator=(const SynthFFT&) = delete;

    vdsp::FFTSetup* setup = nullptr;
    int log2n = 0;
};

// Frequency-domain additive resynthesis: partials are spread into a shared spectrum through small
// interpolation kernels, each hop's spectrum becomes one windowed 256-sample frame per channel
// (inverse FFT), and the frames are overlap-added into a 512-sample ring per channel from which
// ready samples are handed out. Construction allocates; everything else is real-time safe and
// runs on the render thread only.
struct AddSynth
{
    AddSynth();
    ~AddSynth();
    AddSynth(const AddSynth&) = delete;
    AddSynth& operator=(const AddSynth&) = delete;

    // Stores the sample rate and binsPerHz, zeroes the spectrum and the rings, clears the flags and
    // puts both ring positions at 0.
    void reset(float newSampleRate) noexcept;

    // Adds count partials into both channels' spectra. pos[h]: position in bins with 10 fraction
    // bits; amp[0][h], amp[1][h]: real and imaginary part of its amplitude in channel 0, amp[2][h],
    // amp[3][h] those in channel 1. quality 0, 1, 2 selects the 2-, 4- or 8-tap kernel (negative
    // counts as 1, above 2 as 2). Partials whose kernel would reach outside bins -4..133 are
    // skipped, so nothing is ever written outside the spectrum. wide: the wide vector form (only
    // where wideVectorsSupported()), which sums the same.
    void addHarmonics(const int* pos, const float* const* amp, int count, int quality,
                      bool wide = false) noexcept;

    // The same partials as addHarmonics, but gathered in the partial bins, which resynthesizeHop
    // adds into the spectrum before its transforms: one fold per hop instead of one per call. The
    // hop's gathered partials are summed first and their sum then added to the spectrum, so the
    // result differs from a series of addHarmonics calls by rounding only.
    void gatherHarmonics(const int* pos, const float* const* amp, int count, int quality,
                         bool wide = false) noexcept;

    // Copies up to numSamples ready samples of each of the first numChannels rings into
    // out[ch][offset ...], zeroing what it hands out, and returns how many per channel. With
    // `silent` given, reports whether the output counts as silence.
    int getRemSamples(float** out, int offset, int numSamples, int numChannels, bool* silent) noexcept;

    // The hop's resynthesis: adds the gathered partials into the spectrum; then without partials
    // only counts a silent hop; otherwise folds each of the first `channels` spectra,
    // inverse-transforms it and overlap-adds the windowed frame into the ring at writePos, then
    // clears the spectrum and partialsAdded. Does not move writePos.
    void resynthesizeHop(int channels) noexcept;

    // writePos moves on by one hop (end of a hop, after resynthesizeHop).
    void advanceWritePos() noexcept;

    // Adds count samples into a ring from readPos on, wrapping (the onset burst, handed out at
    // once). At most one ring length is added; resets silentHops.
    void addToRingAtReadPos(int channel, const float* src, int count) noexcept;

    // Zeroes the spectrum of both channels and the gathered partials and clears partialsAdded.
    void clearSpectrum() noexcept;

    // Number of samples between readPos and writePos.
    int readySamples() const noexcept { return (writePos - readPos + kRingLength) % kRingLength; }

    std::vector<float> spectrum;                          // kSpectrumSize: re0, im0, re1, im1 parts
    std::vector<float> partialBins;                       // 4 per bin: re0, im0, re1, im1; zero between hops
    std::array<std::vector<float>, kSynthChannels> rings; // kRingLength each
    std::vector<float> onsetOut;                          // 64: output of the onset transform
    std::vector<float> onsetWindow;                       // 64: onset overlap-add window
    std::vector<float> synthWindow;                       // 256: 0.5 * kASWinOLA
    std::vector<float> frame;                             // 256: time samples of the current hop
    std::array<float*, kSynthChannels> specRe{};          // bin 0 of each channel's real part
    std::array<float*, kSynthChannels> specIm{};          // bin 0 of each channel's imaginary part
    int32_t writePos = 0;
    int32_t readPos = 0;
    int32_t hop = kSynthHop;
    int32_t numChannels = kSynthChannels;
    float sampleRate = 44100.0f;
    float binsPerHz = 0.0f; // kBinsPerHzNumerator / sampleRate once reset
    uint8_t partialsAdded = 0;
    int32_t gatheredLo = kSpecHighestBin + 1; // lowest and highest partial bin holding gathered partials
    int32_t gatheredHi = kSpecLowestBin - 1;
    int32_t silentHops = 0;
    std::unique_ptr<SynthFFT> fft256;
    std::unique_ptr<SynthFFT> fft64;
};
