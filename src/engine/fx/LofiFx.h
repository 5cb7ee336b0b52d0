#pragma once

#include <array>

#include "engine/fx/FxUnit.h"

// Sample-rate reducer: a phase accumulator decides when the next input sample is held, each held
// sample carries a random gain factor, and the hold rate follows the signal's level.
class LofiFx : public FxUnit
{
  public:
    enum ParamIndex
    {
        kWetMix = 0,
        kSampleRate,
        kNoise,
        kEnvelope,
        kNumParams
    };

    static constexpr int kMaxChannels = 2;
    static constexpr int kTableSize = 256;
    static constexpr int kBlock = 32;
    // A block starts reading the table below this position, so one block's takes stay inside it.
    static constexpr int kTableStarts = kTableSize - kBlock;

    // Fills the table of random factors from the engine's generator.
    LofiFx() noexcept;
    ~LofiFx() override = default;

    void process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                 bool bypass) noexcept override;
    int getNumParams() const override { return kNumParams; }
    void setParamPtr(Param* first) override;

    // The noise factor for a uniform draw u in 0..1 (odd about 0.5, about -2.773 .. 2.773).
    static float randomFactor(float u) noexcept;

    float getRandomEntry(int i) const noexcept { return randomTable[static_cast<std::size_t>(i)]; }
    float getEnvLevel() const noexcept { return envLevel; }

  private:
    std::array<float, kTableSize> randomTable{};
    float holdPhase = 0.0f;
    float envLevel = 0.0f;
    std::array<float, kMaxChannels> held{};
};
