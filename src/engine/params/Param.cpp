#include "engine/params/Param.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{

// x^p with the sign carried outside; NaN takes the negative branch.
float sgnpow(float x, float p) noexcept
{
    if (x >= 0.0f) return powf(x, p);
    return -powf(-x, p);
}

void copyBounded(char* dest, std::size_t size, const char* text) noexcept
{
    std::size_t n = 0;
    if (text != nullptr)
        while (n + 1 < size && text[n] != '\0')
        {
            dest[n] = text[n];
            ++n;
        }
    std::fill(dest + n, dest + size, '\0');
}

} // namespace

Param::Param() noexcept = default;

Param::Param(const char* newName, int32_t newCurveType, float newMin, float newMax, float newExponent,
             const char* newFormat) noexcept
{
    set(newName, newCurveType, newMin, newMax, newExponent, newFormat, 0.0f);
    setDefault(convertUnitToVal(0.5f));
}

Param::Param(const char* newName, int32_t newCurveType, float newMin, float newMax, float newExponent,
             const char* newFormat, float newDefault, const char* newGroup, int32_t newSinceVersion) noexcept
{
    set(newName, newCurveType, newMin, newMax, newExponent, newFormat, newDefault, newGroup, newSinceVersion);
}

Param::Param(const Param& other) noexcept
{
    copyFrom(other);
}

Param& Param::operator=(const Param& other) noexcept
{
    if (this != &other) copyFrom(other);
    return *this;
}

void Param::copyFrom(const Param& other) noexcept
{
    value = other.value;
    defaultValue = other.defaultValue;
    modValue = other.modValue;
    index = other.index;
    hostIndex = other.hostIndex;
    curveType = other.curveType;
    minValue = other.minValue;
    maxValue = other.maxValue;
    exponent = other.exponent;
    snapValues = other.snapValues;
    numSnaps = other.numSnaps;
    isHostParam = other.isHostParam;
    std::memcpy(format, other.format, sizeof(format));
    std::memcpy(group, other.group, sizeof(group));
    numLabels = other.numLabels;
    sinceVersion = other.sinceVersion;
    std::memcpy(name, other.name, sizeof(name));

    // Labels cut from the source's own format text would dangle once the source goes away.
    const auto srcBegin = reinterpret_cast<std::uintptr_t>(other.format);
    const auto srcEnd = srcBegin + sizeof(other.format);
    for (int i = 0; i < kParamMaxLabels; ++i)
    {
        const auto p = reinterpret_cast<std::uintptr_t>(other.labels[i]);
        if (other.labels[i] != nullptr && p >= srcBegin && p < srcEnd)
            labels[i] = format + (p - srcBegin);
        else
            labels[i] = other.labels[i];
    }
}

void Param::set(const char* newName, int32_t newCurveType, float newMin, float newMax, float newExponent,
                const char* newFormat, float newDefault, const char* newGroup,
                int32_t newSinceVersion) noexcept
{
    curveType = newCurveType;
    minValue = newMin;
    maxValue = newMax;
    exponent = newExponent;
    setFormat(newFormat);
    setName(newName);
    setGroup(newGroup);
    setDefault(newDefault);
    isHostParam = false;
    sinceVersion = newSinceVersion;
}

void Param::setFormat(const char* text) noexcept
{
    labels.fill(nullptr);
    labels[0] = format;
    numLabels = 1;

    std::size_t n = 0;
    if (text != nullptr)
        for (; n < kParamFormatMaxChars && text[n] != '\0'; ++n)
        {
            if (text[n] == '|' && numLabels < kParamMaxLabels)
            {
                format[n] = '\0';
                labels[numLabels++] = format + n + 1;
            }
            else
                format[n] = text[n];
        }
    std::fill(format + n, format + kParamFormatSize, '\0');
}

void Param::setLabels(const char* const* texts, int count) noexcept
{
    labels.fill(nullptr);
    numLabels = texts == nullptr ? 0 : std::clamp(count, 0, kParamMaxLabels);
    for (int i = 0; i < numLabels; ++i)
        labels[i] = texts[i];
}

void Param::setSnaps(std::initializer_list<float> snaps) noexcept
{
    setSnaps(snaps.begin(), static_cast<int>(snaps.size()));
}

void Param::setSnaps(const float* snaps, int count) noexcept
{
    snapValues.fill(0.0f);
    numSnaps = snaps == nullptr ? 0 : std::clamp(count, 0, kParamMaxSnaps);
    for (int i = 0; i < numSnaps; ++i)
        snapValues[static_cast<std::size_t>(i)] = snaps[i];
}

void Param::setName(const char* text) noexcept
{
    copyBounded(name, sizeof(name), text);
}

void Param::setGroup(const char* text) noexcept
{
    copyBounded(group, sizeof(group), text);
}

const char* Param::getLabel(int i) const noexcept
{
    if (i < 0 || i >= numLabels || labels[i] == nullptr) return "";
    return labels[i];
}

float Param::convertUnitToVal(float unit) const noexcept
{
    const float lo = minValue;
    const float hi = maxValue;
    switch (curveType)
    {
    case kCurveLinear:
        return lo + (hi - lo) * unit;
    case kCurvePowUnit:
        return lo + (hi - lo) * sgnpow(unit, exponent);
    case kCurvePowValue:
        return sgnpow(lo + (hi - lo) * unit, exponent);
    case kCurveExp:
        return expf(logf(lo) + logf(hi / lo) * unit);
    case kCurveLog:
        return exponent * logf(lo + (hi - lo) * unit);
    case kCurveRoundLinear:
        return roundf(lo + (hi - lo) * unit);
    default:
        return -1.0f;
    }
}

float Param::convertValToUnit(float v) const noexcept
{
    const float lo = minValue;
    const float hi = maxValue;
    switch (curveType)
    {
    case kCurveLinear:
    case kCurveRoundLinear:
        return (v - lo) / (hi - lo);
    case kCurvePowUnit:
        return sgnpow((v - lo) / (hi - lo), 1.0f / exponent);
    case kCurvePowValue:
        return (sgnpow(v, 1.0f / exponent) - lo) / (hi - lo);
    case kCurveExp:
        return logf(v / lo) / logf(hi / lo);
    case kCurveLog:
        return (expf(v / exponent) - lo) / (hi - lo);
    default:
        return -1.0f;
    }
}

const Param kParamArchFreq("", kCurvePowUnit, 30.0f, 8000.0f, 4.0f, "%.0f Hz");
const Param kParamArchStretch("", kCurvePowUnit, -8.0f, 8.0f, 2.0f, "%.2f x");
const Param kParamArchTune("", kCurveLinear, -24.0f, 24.0f, 0.0f, "%+.1f t");
const Param kParamArchDefault("", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.3f");
const Param kParamArchAmpDB("", kCurveLinear, -12.0f, 12.0f, 0.0f, "%.1f dB");

const Param kLinParam;

int32_t versionStringToInt(const char* text) noexcept
{
    constexpr int kMaxFields = 4;
    constexpr int kMaxChars = 64;
    constexpr int64_t kWeights[kMaxFields] = {10000000, 100000, 1000, 1};
    // Caps keep the wide sums far from overflow; anything this large already saturates the result.
    constexpr int64_t kNumberCap = int64_t{1} << 32;
    constexpr int64_t kTotalCap = int64_t{1} << 40;

    if (text == nullptr) return 0;

    const auto saturate = [](int64_t x) noexcept
    {
        return static_cast<int32_t>(
            std::clamp<int64_t>(x, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
    };

    int64_t total = 0;
    int64_t number = 0;
    int field = 0;
    int pos = 0;
    while (pos < kMaxChars)
    {
        const char c = text[pos];
        if (c == '\0') return saturate(total + number * kWeights[field]);

        if (c >= '0' && c <= '9')
        {
            number = std::min(number * 10 + (c - '0'), kNumberCap);
            ++pos;
            continue;
        }

        bool isBeta = false;
        if (c == 'b')
        {
            // A "beta" that would run past the reading limit ends the text there; otherwise the
            // comparison stops at a NUL, so nothing past the end of the text is read.
            if (pos + 4 > kMaxChars) return saturate(total);
            if (text[pos + 1] != 'e' || text[pos + 2] != 't' || text[pos + 3] != 'a') return 0;
            isBeta = true;
        }
        else if (c != '.')
            return 0;

        if (field + 1 >= kMaxFields) return 0;
        total = std::min(total + number * kWeights[field] - (isBeta ? 100 : 0), kTotalCap);
        ++field;
        number = 0;
        pos += isBeta ? 4 : 1;
    }
    return saturate(total);
}
