#pragma once

#include <cstdint>

// Sizes and fixed-point conventions shared by the resynthesis and everything that feeds it.

// Main inverse transform: 256 real samples from 128 bins per channel, one frame per hop of 128.
inline constexpr int kSynthFFTLog2 = 8;
inline constexpr int kSynthFFTSize = 1 << kSynthFFTLog2; // 256
inline constexpr int kSynthHop = kSynthFFTSize / 2;      // 128
inline constexpr int kSynthBins = kSynthFFTSize / 2;     // bins handed to the transform per channel

// Each channel's spectrum keeps guard bins below bin 0 (folded back onto bins 1..4 before the
// transform) and room above the Nyquist bin, so that an 8-tap kernel centred anywhere between bins
// -1 and 129 stays inside: bins -4..133 exist.
inline constexpr int kSpecGuardBins = 4;
inline constexpr int kSpecLowestBin = -kSpecGuardBins;                     // -4
inline constexpr int kSpecHighestBin = kSynthBins + 5;                     // 133
inline constexpr int kSpecPartSize = kSpecHighestBin - kSpecLowestBin + 1; // 138 floats
// Real and imaginary part of each of the two channels.
inline constexpr int kSynthChannels = 2;
inline constexpr int kSpectrumSize = 2 * kSynthChannels * kSpecPartSize; // 552

// Overlap-add ring of each channel.
inline constexpr int kRingLength = 512;

// Onset transform (the note-start burst): 64 points, hop 32.
inline constexpr int kOnsetFFTLog2 = 6;
inline constexpr int kOnsetFFTPoints = 1 << kOnsetFFTLog2; // 64

// Spectrum positions are bins of the 256-point transform in fixed point with 10 fraction bits.
inline constexpr int kPosFracBits = 10;
inline constexpr int kPosOne = 1 << kPosFracBits; // 1024 per bin
inline constexpr int kPosFracMask = kPosOne - 1;
// Phases are 1024ths of a turn.
inline constexpr int kPhaseUnits = 1024;
inline constexpr int kPhaseMask = kPhaseUnits - 1;

// Spectrum position per hertz is kBinsPerHzNumerator / sample rate.
inline constexpr float kBinsPerHzNumerator = float(kPosOne * kSynthFFTSize); // 262144

// Interpolation kernels of AddSynth::addHarmonics, by quality 0, 1, 2.
inline constexpr int kNumKernelQualities = 3;
inline constexpr int kMaxKernelTaps = 8;
