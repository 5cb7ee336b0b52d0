#pragma once

#include <cstdint>

#include "engine/params/Param.h"

// One row of an effect's parameter table: what its record is filled with, and the range its
// processing accepts for the value (wider than the knob's inner range where the curve squares it).
struct ParamRecordSpec
{
    const char* name;
    int32_t curve;
    float minimum, maximum, exponent;
    float defaultValue;
    const char* format;
    bool snapAtZero;
    const char* sinceVersion; // nullptr: present from the start
    float lowestValue, highestValue;

    // v held inside lowestValue..highestValue; a value that is not a number reads as the default.
    float clampValue(float v) const noexcept
    {
        if (v >= lowestValue && v <= highestValue) return v;
        if (v > highestValue) return highestValue;
        if (v < lowestValue) return lowestValue;
        return defaultValue; // not a number
    }
};

// Fills count records from count rows: name, curve, range, format, default, no group and the
// since-version; a snap at zero where the row asks for one. Index, host index and any snaps of
// rows without one keep what they were.
void fillParamRecords(Param* first, const ParamRecordSpec* specs, int count) noexcept;

// Unit position of v by the record's curve, held inside 0..1 (not a number gives 0).
float clampedUnitOf(const Param& record, float v) noexcept;

// clampedUnitOf the record's value after the row's clampValue.
float clampedUnit(const Param& record, const ParamRecordSpec& spec) noexcept;
