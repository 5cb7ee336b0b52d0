#include "engine/params/ParamRecords.h"

#include <algorithm>

void fillParamRecords(Param* first, const ParamRecordSpec* specs, int count) noexcept
{
    for (int i = 0; i < count; ++i)
    {
        const ParamRecordSpec& s = specs[i];
        first[i].set(s.name, s.curve, s.minimum, s.maximum, s.exponent, s.format, s.defaultValue, "",
                     s.sinceVersion ? versionStringToInt(s.sinceVersion) : 0);
        if (s.snapAtZero) first[i].setSnaps({0.0f});
    }
}

float clampedUnitOf(const Param& record, float v) noexcept
{
    const float u = record.convertValToUnit(v);
    return u > 0.0f ? std::min(u, 1.0f) : 0.0f;
}

float clampedUnit(const Param& record, const ParamRecordSpec& spec) noexcept
{
    return clampedUnitOf(record, spec.clampValue(record.value));
}
