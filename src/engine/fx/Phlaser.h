#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/fx/FxUnit.h"

// Phaser-flanger: a modulated fractional delay of the input (flanging) followed by a chain of
// first-order all-pass stages whose coefficient follows the same modulated delay (phasing), with
// the wet signal fed back into the delay line. Flange/Phase moves between the two.
class Phlaser : public FxUnit
{
  public:
    static constexpr int kNumParams = 8;
    enum ParamIndex
    {
        kWetMix = 0,
        kFlangePhase,
        kFrequency,
        kModAmp,
        kModFreq,
        kModStereo,
        kFeedback,
        kPhaseStages
    };

    static constexpr int kMaxChannels = 2;
    static constexpr int kMaxStages = 16;
    static constexpr int kSubBlock = 16;
    static constexpr int kInterpRows = 64;
    // Delay memories are sized for this rate at least, so a later rate change does not allocate.
    static constexpr float kPreallocSampleRate = 192000.0f;

    Phlaser();
    ~Phlaser() override = default;

    void setup(float newSampleRate, int newNumChannels) override;
    void process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                 bool bypass) noexcept override;
    int getNumParams() const override { return kNumParams; }
    void setParamPtr(Param* first) override;

    // Delay memory length N for a rate: the first power of two from 32 upward above
    // 0.05 * rate + 9, room for the longest delay the parameters allow.
    static int delayMemorySize(float rate) noexcept;

    // Inspection for tests and the editor.
    float getWetLevel() const noexcept { return wetLevel; }
    float getAllPassCoef() const noexcept { return apCoef; }
    int getDelayMemorySize() const noexcept { return memSize; }

  private:
    float readValue(int i) const noexcept;
    float readUnit(int i) const noexcept;

    float wetLevel = 0.0f;
    float outEnergy = 0.0f;
    int32_t numStages = 0;
    float apCoef = 0.0f;
    std::array<std::array<float, kMaxStages>, kMaxChannels> apState{};
    std::array<std::vector<float>, kMaxChannels> delayMem;
    int32_t memSize = 0; // N in use; 0 until setup
    int32_t writePos = 0;
    float lfoPhase = 0.0f;
    std::array<std::array<float, 4>, kInterpRows> interpTable{};
};
