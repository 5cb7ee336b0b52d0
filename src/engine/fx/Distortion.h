#pragma once

#include <array>
#include <cstdint>

#include "engine/fx/FxUnit.h"

// Band-passes the input around a centre frequency, adds a bias and sends it through a rational
// wave shaper that saturates and, with Foldover, folds back for large inputs; the shaper's output
// at zero input is subtracted so that silence stays silent, and the dry signal is mixed back in.
class Distortion : public FxUnit
{
  public:
    enum ParamIndex
    {
        kWetMix = 0,
        kDrive,
        kBias,
        kFoldover,
        kCenterFreq,
        kBandwidth,
        kNumParams
    };

    static constexpr int kMaxChannels = 2;
    static constexpr int kWorkBlock = 128;
    static constexpr int kGlideBlock = 32;
    static constexpr float kFreqGlideFactor = 1.01f;
    static constexpr float kBandwidthGlideStep = 1.0f;
    static constexpr float kMaxRelFreq = 0.49f;
    static constexpr float kRunawayMemory = 1.0e10f;

    Distortion() = default;
    ~Distortion() override = default;

    // A new rate needs new band-pass coefficients even when no setting moves.
    void setup(float newSampleRate, int newNumChannels) override;
    void process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                 bool bypass) noexcept override;
    int getNumParams() const override { return kNumParams; }
    void setParamPtr(Param* first) override;

  private:
    void computeCoefs() noexcept;

    std::array<float, kNumParams> smooth{};
    std::array<float, kMaxChannels> bpZ1{}, bpZ2{};
    std::array<float, 5> bpCoef{0.0f, 0.0f, 1.0f, 0.0f, 0.0f}; // a1, a2, b0, b1, b2
    uint8_t bpDirty = 1;
};
