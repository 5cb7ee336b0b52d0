#pragma once

#include <array>

#include "engine/fx/FxUnit.h"

// Feed-forward compressor on 16-sample sub-blocks: per-channel mean square mixed by Stereo Link,
// two followers of different speed blended by Optical, a soft-knee curve with automatic make-up
// gain, and a linear gain ramp across each sub-block.
class Compressor : public FxUnit
{
  public:
    enum ParamIndex
    {
        kRatio = 0,
        kThreshold,
        kAttackTime,
        kReleaseTime,
        kOptical,
        kStereoLink,
        kNumParams
    };

    static constexpr int kMaxChannels = 2;
    static constexpr int kSubBlock = 16;
    // Follower values outside 0 .. kMaxFollower (or NaN) restart at kFollowerRestart.
    static constexpr float kMaxFollower = 100.0f;
    static constexpr float kFollowerRestart = 0.1f;
    // Ratios this close to 1 leave the audio untouched.
    static constexpr float kUnityRatioBand = 0.01f;
    // Largest gain the unit applies (300 dB): extreme expander settings stay finite.
    static constexpr float kMaxGain = 1.0e15f;

    Compressor() = default;
    ~Compressor() override = default;

    void process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                 bool bypass) noexcept override;
    int getNumParams() const override { return kNumParams; }
    void setParamPtr(Param* first) override;

    float getGain(int c) const noexcept { return gain[static_cast<std::size_t>(c)]; }
    float getEnvSlow(int c) const noexcept { return envSlow[static_cast<std::size_t>(c)]; }

  private:
    std::array<float, kMaxChannels> level{};
    std::array<float, kMaxChannels> envSlow{};
    std::array<float, kMaxChannels> envFast{};
    std::array<float, kMaxChannels> gain{1.0f, 1.0f};
};
