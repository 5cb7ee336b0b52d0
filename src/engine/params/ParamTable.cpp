#include "engine/params/ParamTable.h"

#include <cstdio>
#include <mutex>
#include <stdexcept>

#include "engine/fx/FxChain.h"

const char* const kLfoShapeNames[kLfoShapeCount + 1] = {
    "Sine", "Triangle", "Saw", "SoftSaw", "Square", "Sigmoid", "Expo", "Noise", "Sample&Hold", nullptr};

char gSyncRateStringBuf[kNumSyncDivisions][kSharedLabelSize];
char gModSourceStringBuf[kModSourceLabelCount][kSharedLabelSize];
char gModScalerStringBuf[kModScalerLabelCount][kSharedLabelSize];

namespace
{

std::size_t at(int i) noexcept
{
    return static_cast<std::size_t>(i);
}

struct MainParamSpec
{
    const char* name;
    const char* group;
    int32_t curve;
    float minValue;
    float maxValue;
    float exponent;
    float defaultValue;
    const char* format;
    int numSnaps;
    std::array<float, 2> snaps;
    const char* since; // nullptr: present from the start
    bool forHost;
};

// Indexed by table position. Curve-2 ranges are inner values: Time Warp runs from -8 to 8.
const MainParamSpec kMainParams[kNumMainParams] = {
    {"Gain", "", kCurveLinear, -18.0f, 12.0f, 0.0f, 0.0f, "%+03.1fdB", 1, {0.0f}, nullptr, true},
    {"Time Warp", "", kCurvePowValue, -2.0f, 2.0f, 3.0f, 1.0f, "%+.2fx", 2, {0.0f, 1.0f}, nullptr, true},
    {"Flatten", "", kCurveLinear, -100.0f, 100.0f, 0.0f, 0.0f, "%+04.0f", 1, {0.0f}, nullptr, true},
    {"Formant", "", kCurveLinear, -12.0f, 12.0f, 0.0f, 0.0f, "%+03.1f", 1, {0.0f}, nullptr, true},
    {"Life", "", kCurveLinear, -100.0f, 100.0f, 0.0f, 0.0f, "%+04.0f", 1, {0.0f}, nullptr, true},
    {"Fatness", "", kCurvePowUnit, 0.0f, 4.0f, 2.0f, 1.0f, "%.2fx", 1, {1.0f}, nullptr, true},
    {"Morph X", "", kCurveLinear, 0.0f, 1.0f, 0.0f, 0.5f, "%.2f", 0, {}, nullptr, true},
    {"Morph Y", "", kCurveLinear, 0.0f, 1.0f, 0.0f, 0.5f, "%.2f", 0, {}, nullptr, true},
    {"Attack", "envelope", kCurveLinear, -100.0f, 100.0f, 0.0f, 0.0f, "%.0f%%", 1, {0.0f}, nullptr, true},
    {"Release", "envelope", kCurvePowUnit, 0.0f, 5.0f, 2.0f, 0.25f, "%.2f s", 0, {}, nullptr, true},
    {"Damping", "envelope", kCurveLinear, 0.0f, 100.0f, 0.0f, 50.0f, "%.0f%%", 0, {}, nullptr, false},
    {"Rate", "vibrato", kCurveLinear, 1.0f, 10.0f, 0.0f, 5.0f, "%.2f Hz", 0, {}, nullptr, false},
    {"Emphasis", "vibrato", kCurveLinear, 0.0f, 100.0f, 0.0f, 50.0f, "%.0f%%", 0, {}, nullptr, false},
    {"Life", "vibrato", kCurveLinear, 0.0f, 100.0f, 0.0f, 50.0f, "%.0f%%", 0, {}, nullptr, false},
    {"Mod Wheel", "vibrato", kCurvePowUnit, 0.0f, 4.0f, 2.0f, 1.0f, "%.2f semi", 0, {}, "1.0.1", false},
    {"Bend Range", "pitch", kCurveRoundLinear, 1.0f, 24.0f, 0.0f, 2.0f, "%.0f semi", 0, {}, nullptr, false},
    {"Glide Time", "pitch", kCurvePowUnit, 0.0f, 1.0f, 2.0f, 0.1f, "%.2f s", 0, {}, nullptr, false},
    {"Detune", "pitch", kCurveLinear, -100.0f, 100.0f, 0.0f, 0.0f, "%+04.0f c", 1, {0.0f}, nullptr, false},
    {"Polyphony", "key ctrl", kCurveRoundLinear, 1.0f, 16.0f, 0.0f, 16.0f, "%.0f vox", 0, {}, nullptr, false},
    {"Retrigger", "key ctrl", kCurveLinear, 0.0f, 100.0f, 0.0f, 0.0f, "%.0f%%", 0, {}, nullptr, false},
    {"Velo > Amp", "key ctrl", kCurveLinear, 0.0f, 100.0f, 0.0f, 30.0f, "%.0f%%", 0, {}, nullptr, false},
    {"Brightness", "filter", kCurveLinear, -1.0f, 1.0f, 0.0f, 0.0f, "", 1, {0.0f}, "1.0.2", false},
    {"Timeshift", "", kCurveLinear, -1.0f, 1.0f, 0.0f, 0.0f, "", 0, {}, "1.0.2", false},
    {"FreqScale", "", kCurveLinear, -1.0f, 1.0f, 0.0f, 0.0f, "", 0, {}, "1.2.0", false},
    {"FreqShift", "", kCurveLinear, -1.0f, 1.0f, 0.0f, 0.0f, "", 0, {}, "1.2.0", false},
    {"Hi-Lo Cut", "filter", kCurveLinear, -1.0f, 1.0f, 0.0f, 0.0f, "", 1, {0.0f}, "1.2.0", false},
    {"Hi-Lo Rez", "filter", kCurveLinear, 0.0f, 1.0f, 0.0f, 0.5f, "", 0, {}, "1.2.0", false},
};

struct ModTargetSpec
{
    int32_t param;
    float scale;
};

const ModTargetSpec kModTargetSpecs[kModTargetCount] = {
    {kParamMorphX, 0.1f},    {kParamMorphY, 0.1f},   {kParamGain, 1.0f},       {kParamTimeWarp, 1.0f},
    {kParamTimeshift, 0.1f}, {kParamFlatten, 1.0f},  {kParamBrightness, 0.1f}, {kParamFormant, 1.0f},
    {kParamFatness, 1.0f},   {kParamDetune, 100.0f}, {kParamFreqScale, 1.0f},  {kParamFreqShift, 100.0f},
    {kParamHiLoCut, 1.0f},   {kParamHiLoRez, 1.0f},
};

// Records flagged for the host besides the main ones 0-9: "Stereo Spread" flags itself; the
// reverb's Wet Mix and Decay Time are flagged here once the reverb has filled its slice.
constexpr std::array<int, 2> kReverbHostParams = {kParamReverbWetMix, kParamReverbDecayTime};

const char* const kModScalerNames[kModScalerLabelCount] = {"-",          "Velocity",   "Mod Wheel",
                                                           "Aftertouch", "NoteNumber", "NoteFreq"};

// The texts are the same for every engine; printing them once keeps a second engine built on
// another thread from writing into buffers that a running engine's labels point at.
void printSharedLabels()
{
    static std::once_flag printed;
    std::call_once(
        printed,
        []
        {
            for (int i = 0; i < kNumSyncDivisions; ++i)
                std::snprintf(gSyncRateStringBuf[i], kSharedLabelSize, "%d/%d", kSyncNum[at(i)],
                              kSyncDen[at(i)]);

            std::snprintf(gModSourceStringBuf[0], kSharedLabelSize, "-");
            for (int l = 0; l < kLfoBlockCount; ++l)
                std::snprintf(gModSourceStringBuf[1 + l], kSharedLabelSize, "LFO %d", l + 1);
            for (int e = 0; e < kEnvBlockCount; ++e)
                std::snprintf(gModSourceStringBuf[1 + kLfoBlockCount + e], kSharedLabelSize, "Env %d", e + 1);
            std::snprintf(gModSourceStringBuf[kModSourceLabelCount - 1], kSharedLabelSize, "Constant");

            for (int i = 0; i < kModScalerLabelCount; ++i)
                std::snprintf(gModScalerStringBuf[i], kSharedLabelSize, "%s", kModScalerNames[i]);
        });
}

template <std::size_t N> void setLabelsFromBuffer(Param& p, char (&buf)[N][kSharedLabelSize])
{
    std::array<const char*, N> texts{};
    for (std::size_t i = 0; i < N; ++i)
        texts[i] = buf[i];
    p.setLabels(texts.data(), static_cast<int>(N));
}

void makeLfoBlock(std::vector<Param>& params, int lfo)
{
    const int32_t since = versionStringToInt("1.0.1");
    Param* p = &params[at(kFirstLfoParam + kParamsPerLfo * lfo)];

    p[kLfoParamShape].set("LFO_Shape", kCurveRoundLinear, 0.0f, kLfoShapeCount - 1, 0.0f, "", 0.0f, "",
                          since);
    p[kLfoParamShape].setLabels(kLfoShapeNames, kLfoShapeCount);
    p[kLfoParamPhase].set("LFO_Phase", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.2f", 0.0f, "", since);
    p[kLfoParamSync].set("LFO_Sync", kCurveRoundLinear, 0.0f, 1.0f, 0.0f, "no|yes", 0.0f, "", since);
    p[kLfoParamSpeed].set("LFO_Speed", kCurvePowUnit, 0.1f, 20.0f, 2.0f, "%3.2f Hz", 1.0f, "", since);
    // The default division 1 is "3/1".
    p[kLfoParamSyncSpeed].set("LFO_Speed", kCurveRoundLinear, 0.0f, kNumSyncDivisions - 1, 0.0f, "", 1.0f, "",
                              since);
    setLabelsFromBuffer(p[kLfoParamSyncSpeed], gSyncRateStringBuf);
    p[kLfoParamRetrigger].set("LFO_Retrigger", kCurveRoundLinear, 0.0f, 1.0f, 0.0f, "no|yes", 1.0f, "",
                              since);
    p[kLfoParamPerVoice].set("LFO_Per Voice", kCurveRoundLinear, 0.0f, 1.0f, 0.0f, "no|yes", 1.0f, "", since);
}

void makeEnvBlock(std::vector<Param>& params, int env)
{
    const int32_t since = versionStringToInt("1.0.1");
    Param* p = &params[at(kFirstEnvParam + kParamsPerEnv * env)];

    p[kEnvParamInitial].set("Env_Initial", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.3f", 0.2f, "", since);
    p[kEnvParamAttack].set("Env_Attack", kCurvePowUnit, 0.0f, 5000.0f, 2.0f, "%.0f ms", 10.0f, "", since);
    p[kEnvParamDecay].set("Env_Decay", kCurvePowUnit, 0.01f, 20.0f, 2.0f, "%4.2f s", 0.3f, "", since);
    p[kEnvParamSustain].set("Env_Sustain", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.3f", 0.5f, "", since);
    p[kEnvParamRelease].set("Env_Release", kCurvePowUnit, 0.01f, 20.0f, 2.0f, "%.2f s", 0.4f, "", since);
    p[kEnvParamRetrigger].set("Env_Retrigger", kCurveLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", 0.0f, "",
                              versionStringToInt("1.1.0beta2"));
}

void makeModSlot(std::vector<Param>& params, int slot, const std::vector<int32_t>& modTargets,
                 const std::array<const char*, kModTargetCount>& targetNames)
{
    const int32_t since = versionStringToInt("1.0.1");
    const int numTargets = static_cast<int>(modTargets.size());
    Param* p = &params[at(kFirstModSlotParam + kParamsPerModSlot * slot)];

    p[kModParamSource].set("Mod_Source", kCurveRoundLinear, 0.0f, kModSourceLabelCount - 1, 0.0f, "", 0.0f,
                           "", since);
    setLabelsFromBuffer(p[kModParamSource], gModSourceStringBuf);
    // Curve 2 over -8..8 with exponent 2: amounts from -64 to 64, finer near 0.
    p[kModParamAmount].set("Mod_Amount", kCurvePowValue, -8.0f, 8.0f, 2.0f, "%6.3f", 0.0f, "", since);
    p[kModParamAmount].setSnaps({0.0f});
    p[kModParamScaler].set("Mod_Scaler", kCurveRoundLinear, 0.0f, kModScalerLabelCount - 1, 0.0f, "", 0.0f,
                           "", since);
    setLabelsFromBuffer(p[kModParamScaler], gModScalerStringBuf);
    p[kModParamTarget].set("Mod_Target", kCurveRoundLinear, 0.0f, static_cast<float>(numTargets - 1), 0.0f,
                           "", static_cast<float>(slot % numTargets), "", since);
    p[kModParamTarget].setLabels(targetNames.data(), numTargets);
}

} // namespace

void buildParamTable(std::vector<Param>& params, std::vector<int32_t>& hostParamIndex,
                     int32_t& hostParamCount, std::vector<int32_t>& modTargets,
                     std::vector<float>& modTargetScales, const std::array<FxUnit*, kNumFxUnits>& fx)
{
    printSharedLabels();

    // Size the table from the chain's counts. Those counts fix every later index, the state
    // block layout and the host numbers, so a chain that reports others is refused.
    for (int slot = 0; slot < kNumFxUnits; ++slot)
    {
        const FxUnit* unit = fx[at(slot)];
        if (unit == nullptr) throw std::logic_error("buildParamTable: the effect chain has an empty slot");
        if (unit->getNumParams() != kFxParamCounts[at(slot)])
            throw std::logic_error("buildParamTable: an effect reports an unexpected parameter count");
    }
    const std::size_t size = at(kNumEngineOwnParams + getFxTotalNumParams(fx));
    params.assign(size, Param());
    hostParamIndex.assign(size, 0);

    // The effects fill their slices; the switches follow.
    bindFxParams(fx, params);

    // Main records.
    for (int i = 0; i < kNumMainParams; ++i)
    {
        const MainParamSpec& desc = kMainParams[i];
        Param& p = params[at(i)];
        p.set(desc.name, desc.curve, desc.minValue, desc.maxValue, desc.exponent, desc.format,
              desc.defaultValue, desc.group, desc.since != nullptr ? versionStringToInt(desc.since) : 0);
        p.setSnaps(desc.snaps.data(), desc.numSnaps);
        p.isHostParam = desc.forHost;
    }

    // Reverb records for the host.
    for (int index : kReverbHostParams)
        params[at(index)].isHostParam = true;

    // Number the records and the host parameters, once every record knows whether it is one.
    hostParamCount = 0;
    for (std::size_t i = 0; i < params.size(); ++i)
    {
        Param& p = params[i];
        p.index = static_cast<int32_t>(i);
        if (p.isHostParam)
        {
            p.hostIndex = hostParamCount;
            hostParamIndex[at(hostParamCount)] = static_cast<int32_t>(i);
            ++hostParamCount;
        }
        else
            p.hostIndex = -1;
    }

    // Modulation targets.
    modTargets.clear();
    modTargetScales.clear();
    for (const ModTargetSpec& target : kModTargetSpecs)
    {
        modTargets.push_back(target.param);
        modTargetScales.push_back(target.scale);
    }

    // LFOs.
    for (int l = 0; l < kLfoBlockCount; ++l)
        makeLfoBlock(params, l);

    // Envelopes.
    for (int e = 0; e < kEnvBlockCount; ++e)
        makeEnvBlock(params, e);

    // Modulation slots; Mod_Target's labels are the target records' own names.
    std::array<const char*, kModTargetCount> targetNames{};
    for (int t = 0; t < kModTargetCount; ++t)
        targetNames[at(t)] = params[at(modTargets[at(t)])].name;
    for (int s = 0; s < kModSlotCount; ++s)
        makeModSlot(params, s, modTargets, targetNames);
}

void buildParamTable(std::vector<Param>& params, std::vector<int32_t>& hostParamIndex,
                     int32_t& hostParamCount, std::vector<int32_t>& modTargets,
                     std::vector<float>& modTargetScales, FxChain& fx)
{
    buildParamTable(params, hostParamIndex, hostParamCount, modTargets, modTargetScales, fx.getUnits());
}
