#pragma once

#include <array>
#include <cstdint>

#include "engine/fx/FxUnit.h"

// A low shelf followed by a high shelf (second-order cookbook shelving filters). Frequency, gain
// and slope glide towards their parameters in small steps with coefficients recomputed every 16
// samples while they move; switching off glides both gains to 0 dB before passing through.
class Equalizer : public FxUnit
{
  public:
    enum ParamIndex
    {
        kLowFreq = 0,
        kHighFreq,
        kLowGain,
        kHighGain,
        kLowQ,
        kHighQ,
        kNumParams
    };

    static constexpr int kMaxChannels = 2;
    static constexpr int kGlideBlock = 16;
    static constexpr float kFreqGlideFactor = 1.01f;
    static constexpr float kGainGlideStep = 0.25f; // dB
    static constexpr float kQGlideStep = 0.1f;
    // Below this slope the poles approach the unit circle.
    static constexpr float kMinQ = 0.01f;
    // Gains beyond this are clamped, so that corrupt values cannot overflow the coefficients.
    static constexpr float kMaxGainDb = 60.0f;
    static constexpr float kMaxRelFreq = 0.48f;
    static constexpr double kSilentMemory = 1.0e-5;
    static constexpr double kRunawayMemory = 1.0e10;
    static constexpr float kBypassGainDb = 0.1f;

    // Coefficients a1, a2, b0, b1, b2, already divided by a0.
    using Coefs = std::array<double, 5>;

    Equalizer() = default;
    ~Equalizer() override = default;

    // A new rate needs new coefficients even when no setting moves.
    void setup(float newSampleRate, int newNumChannels) override;
    void process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                 bool bypass) noexcept override;
    int getNumParams() const override { return kNumParams; }
    void setParamPtr(Param* first) override;

    // Shelf coefficients for a corner in Hz, a gain in dB and a slope (1 is the steepest shelf
    // without overshoot).
    static Coefs lowShelf(float freqHz, float gainDb, float q, float rate) noexcept;
    static Coefs highShelf(float freqHz, float gainDb, float q, float rate) noexcept;

  private:
    enum SmoothIndex
    {
        kSmLowFreq = 0,
        kSmHighFreq,
        kSmLowGain,
        kSmHighGain,
        kSmLowQ,
        kSmHighQ,
        kNumSmooth
    };

    // Glides one shelf's settings a step if they move and refreshes its coefficients; returns
    // the length of its next stretch within the remaining samples.
    int startStretch(bool high, int remaining, float gainTarget) noexcept;
    void runShelves(float** in, float** out, int numSamples, int numChannels, float gainLow,
                    float gainHigh) noexcept;

    std::array<double, kMaxChannels> lowZ1{}, lowZ2{};
    Coefs lowCoef{0.0, 0.0, 1.0, 0.0, 0.0};
    std::array<double, kMaxChannels> highZ1{}, highZ2{};
    Coefs highCoef{0.0, 0.0, 1.0, 0.0, 0.0};
    uint8_t lowDirty = 1, highDirty = 1;
    std::array<float, kNumSmooth> smooth{200.0f, 5.0f, 0.0f, 0.0f, 1.0f, 1.0f};
};
