#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/params/Param.h"
#include "engine/fx/SyncDivisions.h"

class FxChain;
class FxUnit;

// The engine's parameter table. A record's position is its identity everywhere: the state block
// stores values in this order, modulation slots name targets by it and the host numbers follow
// from it, so nothing here may move.

// Main parameters, 0-26.
inline constexpr int kParamGain = 0;
inline constexpr int kParamTimeWarp = 1;
inline constexpr int kParamFlatten = 2;
inline constexpr int kParamFormant = 3;
inline constexpr int kParamLife = 4;
inline constexpr int kParamFatness = 5;
inline constexpr int kParamMorphX = 6;
inline constexpr int kParamMorphY = 7;
inline constexpr int kParamAttack = 8;
inline constexpr int kParamRelease = 9;
inline constexpr int kParamDamping = 10;
inline constexpr int kParamVibratoRate = 11;
inline constexpr int kParamVibratoEmphasis = 12;
inline constexpr int kParamVibratoLife = 13;
inline constexpr int kParamVibratoModWheel = 14;
inline constexpr int kParamBendRange = 15;
inline constexpr int kParamGlideTime = 16;
inline constexpr int kParamDetune = 17;
inline constexpr int kParamPolyphony = 18;
inline constexpr int kParamRetrigger = 19;
inline constexpr int kParamVeloToAmp = 20;
inline constexpr int kParamBrightness = 21;
inline constexpr int kParamTimeshift = 22;
inline constexpr int kParamFreqScale = 23;
inline constexpr int kParamFreqShift = 24;
inline constexpr int kParamHiLoCut = 25;
inline constexpr int kParamHiLoRez = 26;
inline constexpr int kNumMainParams = 27;

// Effect chain slots, in processing order.
inline constexpr int kFxSlotBinaural = 0;
inline constexpr int kFxSlotLofi = 1;
inline constexpr int kFxSlotEqualizer = 2;
inline constexpr int kFxSlotReverb = 3;
inline constexpr int kFxSlotPhlaser = 4;
inline constexpr int kFxSlotCompressor = 5;
inline constexpr int kFxSlotDistortion = 6;
inline constexpr int kNumFxUnits = 7;

// One on/off switch per slot ("FxIsOn"), 27-33.
inline constexpr int kFirstFxSwitch = 27;

// The effects' own records, 34-76, each unit's slice right after the previous one. These counts
// fix the state block layout and the host numbers of the reverb records.
inline constexpr int kFirstFxParam = 34;
inline constexpr std::array<int, kNumFxUnits> kFxParamCounts = {4, 4, 6, 9, 8, 6, 6};
inline constexpr int kNumFxParams = 43;
static_assert(
    []
    {
        int sum = 0;
        for (int count : kFxParamCounts)
            sum += count;
        return sum;
    }() == kNumFxParams);

inline constexpr int kFirstBinauralParam = 34;
inline constexpr int kParamStereoX = 34;
inline constexpr int kParamStereoY = 35;
inline constexpr int kParamStereoSpread = 36;
inline constexpr int kParamHyperWidth = 37;
inline constexpr int kFirstLofiParam = 38;
inline constexpr int kFirstEqualizerParam = 42;
inline constexpr int kFirstReverbParam = 48;
inline constexpr int kParamReverbWetMix = 48;
inline constexpr int kParamReverbDecayTime = 50;
inline constexpr int kFirstPhlaserParam = 57;
inline constexpr int kFirstCompressorParam = 65;
inline constexpr int kFirstDistortionParam = 71;

// Two LFOs of 7 records from 77: LFO l's record j is kFirstLfoParam + kParamsPerLfo * l + j.
inline constexpr int kFirstLfoParam = 77;
inline constexpr int kLfoBlockCount = 2;
inline constexpr int kParamsPerLfo = 7;
inline constexpr int kLfoParamShape = 0;
inline constexpr int kLfoParamPhase = 1;
inline constexpr int kLfoParamSync = 2;
inline constexpr int kLfoParamSpeed = 3;     // free rate in Hz
inline constexpr int kLfoParamSyncSpeed = 4; // synced division, index into kSyncNum / kSyncDen
inline constexpr int kLfoParamRetrigger = 5;
inline constexpr int kLfoParamPerVoice = 6;

// Two envelopes of 6 records from 91.
inline constexpr int kFirstEnvParam = 91;
inline constexpr int kEnvBlockCount = 2;
inline constexpr int kParamsPerEnv = 6;
inline constexpr int kEnvParamInitial = 0;
inline constexpr int kEnvParamAttack = 1;
inline constexpr int kEnvParamDecay = 2;
inline constexpr int kEnvParamSustain = 3;
inline constexpr int kEnvParamRelease = 4;
inline constexpr int kEnvParamRetrigger = 5;

// Eight modulation slots of 4 records from 103.
inline constexpr int kFirstModSlotParam = 103;
inline constexpr int kModSlotCount = 8;
inline constexpr int kParamsPerModSlot = 4;
inline constexpr int kModParamSource = 0;
inline constexpr int kModParamAmount = 1;
inline constexpr int kModParamScaler = 2;
inline constexpr int kModParamTarget = 3;

// Records the engine makes itself besides the effects' slices.
inline constexpr int kNumEngineOwnParams = 92;
inline constexpr int kNumEngineParams = 135;
inline constexpr int kNumHostParams = 13;
inline constexpr int kModTargetCount = 14;
inline constexpr int kLfoShapeCount = 9;
inline constexpr int kModSourceLabelCount = 6;
inline constexpr int kModScalerLabelCount = 6;
inline constexpr int kSharedLabelSize = 16;

static_assert(kFirstFxParam == kFirstFxSwitch + kNumFxUnits);
static_assert(kFirstLfoParam == kFirstFxParam + kNumFxParams);
static_assert(kFirstEnvParam == kFirstLfoParam + kLfoBlockCount * kParamsPerLfo);
static_assert(kFirstModSlotParam == kFirstEnvParam + kEnvBlockCount * kParamsPerEnv);
static_assert(kNumEngineParams == kFirstModSlotParam + kModSlotCount * kParamsPerModSlot);
static_assert(kNumEngineParams == kNumEngineOwnParams + kNumFxParams);

// The nine LFO shape names followed by a null entry.
extern const char* const kLfoShapeNames[kLfoShapeCount + 1];

// Label texts shared by every engine: the sync divisions ("4/1" ... "1/32"), the modulation
// sources ("-", "LFO 1", ...) and scalers ("-", "Velocity", ...).
extern char gSyncRateStringBuf[kNumSyncDivisions][kSharedLabelSize];
extern char gModSourceStringBuf[kModSourceLabelCount][kSharedLabelSize];
extern char gModScalerStringBuf[kModScalerLabelCount][kSharedLabelSize];

// Builds the engine's table: sizes params to kNumEngineOwnParams plus the chain's parameter
// counts, lets every unit of fx (already created, in slot order) fill its slice, makes the
// switches and the engine's own records, numbers the records and the host parameters
// (hostParamIndex maps host index to table index) and fills the 14 modulation targets with
// their scales. Mod_Target labels point at other records' names, so params must not be resized
// afterwards. Throws std::logic_error when a slot of fx is empty or a unit reports another count
// than kFxParamCounts (that would move every later record and break stored states).
void buildParamTable(std::vector<Param>& params, std::vector<int32_t>& hostParamIndex,
                     int32_t& hostParamCount, std::vector<int32_t>& modTargets,
                     std::vector<float>& modTargetScales, const std::array<FxUnit*, kNumFxUnits>& fx);
void buildParamTable(std::vector<Param>& params, std::vector<int32_t>& hostParamIndex,
                     int32_t& hostParamCount, std::vector<int32_t>& modTargets,
                     std::vector<float>& modTargetScales, FxChain& fx);
