#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>

// Curve types: how the 0..1 unit position of a knob or of the host maps onto a value.
inline constexpr int32_t kCurveLinear = 0;      // lo + (hi - lo) u
inline constexpr int32_t kCurvePowUnit = 1;     // lo + (hi - lo) sgnpow(u, k)
inline constexpr int32_t kCurvePowValue = 2;    // sgnpow(lo + (hi - lo) u, k): lo and hi are inner values
inline constexpr int32_t kCurveExp = 3;         // exp(ln lo + ln(hi / lo) u)
inline constexpr int32_t kCurveLog = 4;         // k ln(lo + (hi - lo) u)
inline constexpr int32_t kCurveRoundLinear = 5; // roundf(lo + (hi - lo) u): counts and choices

inline constexpr int kParamMaxSnaps = 4;
inline constexpr int kParamMaxLabels = 32;
inline constexpr std::size_t kParamFormatSize = 35;
// At most this many characters of a format text are kept; the buffer always has room for the NUL.
inline constexpr std::size_t kParamFormatMaxChars = 32;
inline constexpr std::size_t kParamGroupSize = 32;
inline constexpr std::size_t kParamNameSize = 32;

// One engine parameter: a fixed-size plain record that is stored and copied by value. Only value
// and modValue change once the engine table is built; each is written with single 32-bit stores.
struct Param
{
    float value = 0.5f;        // current value, in the parameter's own units
    float defaultValue = 0.0f; // given at construction; host default and state fallback
    float modValue = std::numeric_limits<float>::quiet_NaN(); // raised by modulation per voice
    int32_t index = -1;                             // position in the engine table, -1 until numbered
    int32_t hostIndex = -1;                         // rank among the host-visible parameters, -1 if hidden
    int32_t curveType = kCurveLinear;               // one of the kCurve... constants
    float minValue = 0.0f;                          // lower end of the curve's inner range
    float maxValue = 1.0f;                          // upper end of the curve's inner range
    float exponent = 0.0f;                          // exponent of curves 1 and 2, factor of curve 4
    std::array<float, kParamMaxSnaps> snapValues{}; // values at which a knob drag sticks
    int32_t numSnaps = 0;
    bool isHostParam = false;                          // offered to the host
    char format[kParamFormatSize]{};                   // printf format, or the first choice label
    std::array<const char*, kParamMaxLabels> labels{}; // choice labels; not owned
    char group[kParamGroupSize]{};
    int32_t numLabels = 0;
    int32_t sinceVersion = 0; // versionStringToInt of the version that introduced the parameter
    char name[kParamNameSize]{};

    // value 0.5, modulated value NaN, index and host index -1, linear 0..1, everything else zero.
    Param() noexcept;

    // Value and default become convertUnitToVal(0.5).
    Param(const char* newName, int32_t newCurveType, float newMin, float newMax, float newExponent,
          const char* newFormat) noexcept;

    Param(const char* newName, int32_t newCurveType, float newMin, float newMax, float newExponent,
          const char* newFormat, float newDefault, const char* newGroup = "",
          int32_t newSinceVersion = 0) noexcept;

    // Copies re-point labels that refer into the source's own format text at the copy's text.
    Param(const Param& other) noexcept;
    Param& operator=(const Param& other) noexcept;

    // Fills a record in place, as the engine table and the effects do: curve, range, exponent,
    // format text and labels, name, group, value and default, since-version; clears the host
    // flag. Index, host index, modulated value and snaps keep what they were.
    void set(const char* newName, int32_t newCurveType, float newMin, float newMax, float newExponent,
             const char* newFormat, float newDefault, const char* newGroup = "",
             int32_t newSinceVersion = 0) noexcept;

    // Copies at most kParamFormatMaxChars characters of text (nullptr is empty) and cuts it into
    // labels at each "|" (which becomes a NUL). At most kParamMaxLabels labels are made; a "|"
    // beyond that stays in the last label's text. The stored text is always terminated.
    void setFormat(const char* text) noexcept;

    // Points the labels at outside texts (a static table, a program-wide buffer, other records'
    // names) that must outlive the record; count is capped at kParamMaxLabels.
    void setLabels(const char* const* texts, int count) noexcept;

    // Sets the snap list (at most kParamMaxSnaps values are kept).
    void setSnaps(std::initializer_list<float> snaps) noexcept;
    void setSnaps(const float* snaps, int count) noexcept;

    void setName(const char* text) noexcept;
    void setGroup(const char* text) noexcept;

    // Sets value and default value together.
    void setDefault(float v) noexcept
    {
        value = v;
        defaultValue = v;
    }

    bool isChoice() const noexcept { return numLabels >= 2; }

    // Label i, or an empty text when i is not a valid label.
    const char* getLabel(int i) const noexcept;

    // Value at unit position unit by the record's curve; not clamped. Unknown curves give -1.
    float convertUnitToVal(float unit) const noexcept;
    // Unit position of value; not clamped. Unknown curves give -1.
    float convertValToUnit(float v) const noexcept;

  private:
    void copyFrom(const Param& other) noexcept;
};

// Ready-made records for common kinds of parameter (value and default at unit 0.5).
extern const Param kParamArchFreq;    // curve 1, 30..8000 Hz, exponent 4
extern const Param kParamArchStretch; // curve 1, -8..8, exponent 2
extern const Param kParamArchTune;    // linear -24..24
extern const Param kParamArchDefault; // linear 0..1
extern const Param kParamArchAmpDB;   // linear -12..12 dB

// The knobs' default linear 0..1 record.
extern const Param kLinParam;

// Version text ("1.2.0", "1.0.0beta6") to the integer that since-versions and state blocks compare:
// fields weigh 10000000, 100000, 1000 and 1; "beta" acts as a separator that subtracts 100.
// Reads untrusted texts: nullptr, unknown characters and five or more fields give 0; huge numbers
// saturate (so an absurd version still counts as newer); at most 64 characters are read.
int32_t versionStringToInt(const char* text) noexcept;
