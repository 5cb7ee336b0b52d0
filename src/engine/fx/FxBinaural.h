#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/fx/FxUnit.h"

// Stereo widener and owner of the stereo-image parameters. Stereo X, Y and Spread place the voices
// while the engine renders; Hyper Width drives this unit: four delayed copies of the input, their
// gains swept by a slow sine, are added to the left channel and subtracted from the right while the
// direct signal drops at constant power.
class FxBinaural : public FxUnit
{
  public:
    enum ParamIndex
    {
        kStereoX = 0,
        kStereoY,
        kStereoSpread,
        kHyperWidth,
        kNumParams
    };

    static constexpr int kNumTaps = 4;
    static constexpr int kMaxChannels = 2;
    static constexpr int kSubBlock = 32;
    // Tap delays in seconds; the longest also sets the line length.
    static constexpr std::array<float, kNumTaps> kTapSeconds{0.0548f, 0.0647f, 0.0763f, 0.0901f};
    static constexpr int kLineExtra = 40;
    // Lines are reserved for this rate so that a later set-up at any usual rate does not allocate.
    static constexpr float kMaxPreparedRate = 192000.0f;
    // Smoothed output energy below which the unit counts as silent.
    static constexpr float kSilenceEnergy = 1.0e-14f;

    FxBinaural() = default;
    ~FxBinaural() override = default;

    void setup(float newSampleRate, int newNumChannels) override;
    void process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                 bool bypass) noexcept override;
    int getNumParams() const override { return kNumParams; }
    void setParamPtr(Param* first) override;

    // Delay-line length in samples for a sample rate.
    static int lineLengthFor(float rate) noexcept;
    // Delay of tap k in samples for a sample rate.
    static int tapDelayFor(int k, float rate) noexcept;

    int getTapDelay(int k) const noexcept { return tapDelay[static_cast<std::size_t>(k)]; }
    float getOutEnergy() const noexcept { return outEnergy; }

  private:
    std::array<int32_t, kNumTaps> tapDelay{};
    int32_t writePos = 0;
    std::array<float, kNumTaps> tapGain{};
    float lfoPhase = 0.0f;
    float outEnergy = 0.0f;
    std::array<std::vector<float>, kMaxChannels> delayLine;
};
