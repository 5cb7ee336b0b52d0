#pragma once

#include <string>
#include <vector>

namespace qmtest
{

// Least-squares fit of a cos + b sin at a known frequency (cycles per sample): the sine's amplitude
// and the level in dB of what is left over, relative to the sine.
struct SineFit
{
    double amplitude, errorDb;
};
SineFit fitSine(const std::vector<float>& y, double cyclesPerSample);

// Magnitude of the Hann-windowed DFT of y at any frequency (cycles per sample), scaled so that a
// sine of amplitude A well inside the range reads about A.
double dftMagnitude(const std::vector<float>& y, double cyclesPerSample);

// Frequency in Hz of the strongest component between loHz and hiHz: a scan in steps of stepHz, then
// a finer one around the best step.
double peakFrequency(const std::vector<float>& y, double sampleRate, double loHz, double hiHz,
                     double stepHz = 1.0);

// Compares a signature text (a trace, a render's per-hop levels, a table dump) with the golden file
// tests/engine/golden/<name>. With QM_REGENERATE_GOLDEN=1 it rewrites the file instead (after an
// intended change) and fails, so that a run with the switch never passes unnoticed.
void expectGolden(const std::string& name, const std::string& text);

} // namespace qmtest
