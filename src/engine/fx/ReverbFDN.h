#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/fx/FxUnit.h"

// Feedback delay network reverb: eight modulated delay lines sharing one ring, damped by one-pole
// low-passes and mixed by an orthogonal matrix. The input is pre-delayed, band-passed and diffused
// by four all-pass stages before it enters the lines; the output is the dry signal at constant
// power against the wet level plus two spread sums of the mixed lines. The unit passes audio
// through untouched while it has nothing to add, and clears itself once switched off.
class ReverbFDN : public FxUnit
{
  public:
    static constexpr int kNumParams = 9;
    enum ParamIndex
    {
        kWetMix = 0,
        kPreDelay,
        kDecayTime,
        kDamping,
        kModulation,
        kStereoWidth,
        kFilterFreq,
        kFilterWidth,
        kFeedback
    };

    static constexpr int kNumLines = 8;
    static constexpr int kMaxChannels = 2;
    static constexpr int kRingSize = 15664;
    static constexpr int kSubBlock = 32;
    static constexpr int kNumDiffusers = 4;
    static constexpr int kDiffuserSize = 128;
    // Pre-delay memory is sized for this rate at least, so a later rate change does not allocate.
    static constexpr float kPreallocSampleRate = 192000.0f;
    static constexpr float kMaxPreDelayMs = 500.0f;
    // Idle samples beyond this all mean "jump to the target wet level".
    static constexpr int32_t kIdleSaturation = 1 << 28;

    // Line lengths in samples at every rate; they sum to 15384.
    static constexpr std::array<int32_t, kNumLines> kTapDelays = {1798, 1475, 2511, 1564,
                                                                  1752, 1538, 2190, 2556};
    static constexpr int32_t kTapDelaySum = 15384;
    static constexpr std::array<int32_t, kNumDiffusers> kDiffuserDelays = {45, 52, 53, 68};

    // Orthogonal line mixing matrix, row-major: mixed line r = sum over c of kMixMat[r][c] * line c.
    static constexpr float kMixMat[kNumLines][kNumLines] = {
        {-0.28157705f, -0.3819318f, 0.22338845f, 0.6358589f, 0.47760594f, -0.11312357f, -0.15569393f,
         -0.23553886f},
        {0.32705f, -0.24876823f, -0.42344633f, -0.023724435f, 0.09048227f, -0.37177324f, -0.6313066f,
         0.32608682f},
        {-0.60987943f, 0.011480402f, -0.11531253f, -0.17545062f, -0.0016405242f, 0.56723565f, -0.48262691f,
         0.17072693f},
        {0.036765426f, 0.1440506f, 0.2917843f, 0.5517238f, -0.6923118f, -0.0021330793f, -0.22945236f,
         0.23751202f},
        {0.38904515f, 0.5509542f, 0.11177301f, 0.056872606f, 0.20591804f, 0.21733488f, -0.4450573f,
         -0.491582f},
        {-0.49479064f, 0.57274276f, -0.35069764f, 0.12467272f, 0.013040764f, -0.53182095f, 0.027609281f,
         -0.06964159f},
        {-0.20347601f, -0.28327066f, 0.29892054f, -0.4198098f, -0.36147574f, -0.36697316f, -0.28165826f,
         -0.51778f},
        {0.05358783f, -0.24399382f, -0.6689695f, 0.25479513f, -0.3334219f, 0.24997918f, 0.11603701f,
         -0.48788342f}};

    ReverbFDN();
    ~ReverbFDN() override = default;

    void setup(float newSampleRate, int newNumChannels) override;
    void process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                 bool bypass) noexcept override;
    int getNumParams() const override { return kNumParams; }
    void setParamPtr(Param* first) override;

    // Inspection for tests and the editor.
    float getWetLevel() const noexcept { return wetLevel; }
    bool isCleared() const noexcept { return cleared; }
    int32_t getIdleSamples() const noexcept { return idleSamples; }
    // Length P of one channel's pre-delay region at the current rate.
    int getPreDelayLength() const noexcept { return preDelayLen; }
    // Pre-delay in samples that the current Pre-Delay value gives, limited to the memory.
    int getPreDelaySamples() const noexcept;

  private:
    // Value of record i, held inside the record's range; a value that is not a number (a corrupt
    // state) falls back to the record's default.
    float readValue(int i) const noexcept;
    // Unit position of record i's value, within 0..1.
    float readUnit(int i) const noexcept;
    void passIdle(float** in, float** out, int numSamples, int numChannels) noexcept;
    // What holds for every sub-block of one process call.
    struct CallSettings
    {
        float target, lineGain, damp, wa, wb, depth, rate, fb;
        int32_t preDelay;
    };
    // The sub-blocks of one call, with vectors V of four or eight floats.
    template <class V>
    void renderSubBlocks(float** in, float** out, int numSamples, int numChannels,
                         const CallSettings& cs) noexcept;
    void clearMemories() noexcept;

    std::vector<float> ring;        // shared line ring, kRingSize samples
    std::vector<float> preDelayMem; // kMaxChannels regions of preDelayLen floats
    // Each all-pass memory is followed by a copy of its first kSubBlock samples, so that a read of
    // up to a sub-block never wraps.
    static constexpr int kDiffuserStride = kDiffuserSize + kSubBlock;
    std::array<float, kNumDiffusers * kDiffuserStride> diffuserMem{};
    int32_t diffuserPos = 0;
    std::array<int32_t, kNumLines> writePos{};
    int32_t preDelayLen = 0; // P; 0 until setup
    int32_t preDelayPos = 0;
    bool cleared = true;
    int32_t idleSamples = kIdleSaturation;
    float wetLevel = 0.0f;
    float lfoPhase = 0.0f;
    float outEnergy = 0.0f;
    float inLevel = 0.0f;
    float meanDelaySec = 0.0f;
    std::array<float, kNumLines> dampState{};
    std::array<std::array<float, 2>, kMaxChannels> bpState{};
    struct BandPass
    {
        float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;
    } bpCoef;
};
