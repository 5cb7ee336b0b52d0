#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "engine/fx/FxChain.h"
#include "engine/params/Param.h"
#include "engine/params/ParamTable.h"
#include "support/EngineTestHelpers.h"

namespace
{
// Format texts are cut into labels at "|", at most 32 labels (a further bar stays text) from at
// most 32 characters, and every label points into the record's own text.
TEST(ParamLabels, FormatTextsSplitInsideTheRecord)
{
    const std::string bars(32, '|'), longText(60, 'x'), exact(kParamFormatMaxChars, 'y'),
        cut(kParamFormatMaxChars, 'a'), cutBar = cut + "|b";
    // clang-format off
    const std::pair<const char*, std::string> cases[] = {
        {"no|yes", "no,yes"}, {"a|bb|", "a,bb,"}, {"%.2f s", "%.2f s"}, {"", ""}, {nullptr, ""},
        {bars.c_str(), std::string(31, ',') + "|"}, {longText.c_str(), std::string(32, 'x')},
        {exact.c_str(), exact}, {cutBar.c_str(), cut}};
    // clang-format on
    for (const auto& [text, want] : cases)
    {
        Param p;
        p.setFormat(text);
        std::string got;
        for (int i = 0; i < p.numLabels; ++i)
            got += (i ? "," : "") + std::string(p.getLabel(i));
        EXPECT_EQ(got, want) << (text ? text : "null");
        EXPECT_TRUE(p.labels[0] == p.format &&
                    p.labels[size_t(p.numLabels - 1)] < p.format + kParamFormatSize &&
                    !std::strcmp(p.getLabel(p.numLabels), "") && !std::strcmp(p.getLabel(-1), ""));
    }
    // Copies point into their own text: a dangling label would be a use after free.
    auto source = std::make_unique<Param>("x", kCurveRoundLinear, 0.0f, 2.0f, 0.0f, "lo|mid|hi", 0.0f);
    Param copied(*source), assigned;
    assigned = *source;
    source.reset();
    for (const Param* p : {&copied, &assigned})
        EXPECT_TRUE(p->numLabels == 3 && p->labels[1] == p->format + 3 && !std::strcmp(p->labels[2], "hi"));
    // Outside labels are kept as pointers and capped.
    static const char* const kTexts[40] = {"t0", "t1", "t2"};
    assigned.setLabels(kTexts, 40);
    EXPECT_EQ(assigned.numLabels, kParamMaxLabels);
    assigned.setLabels(kTexts, 3);
    EXPECT_TRUE(assigned.numLabels == 3 && assigned.labels[2] == kTexts[2] && assigned.labels[3] == nullptr);
    assigned.setLabels(nullptr, 5);
    EXPECT_EQ(assigned.numLabels, 0);
    assigned.setName(std::string(50, 'n').c_str()); // names and groups are cut and always terminated
    assigned.setGroup(nullptr);
    EXPECT_TRUE(std::strlen(assigned.name) == kParamNameSize - 1 && assigned.group[0] == '\0');
}

// Fields weigh 10000000, 100000, 1000 and 1; "beta" subtracts 100. Unknown characters, five or more
// fields and nullptr give 0; huge numbers saturate; reading stops after 64 characters with the
// total so far, without the pending number.
TEST(VersionString, Table)
{
    const std::string zeros = "1." + std::string(100, '0'), sevens(100, '7');
    // clang-format off
    const std::pair<const char*, int32_t> cases[] = {
        {"1.2.0", 10200000}, {"1.0.1", 10001000}, {"1.0.0beta6", 9999906}, {"1.1.0beta2", 10099902},
        {"1.2.0beta9", 10199909}, {"", 0}, {"2", 20000000}, {"1.2", 10200000}, {"1.2.3.4", 10203004},
        {"beta", -100}, {"1.0beta", 9999900}, {"1.2.0rc1", 0}, {"v1.2", 0}, {"1.2 ", 0}, {"1.2.0b", 0},
        {"1.2.0be", 0}, {"1.2.0bet", 0}, {"-1", 0}, {nullptr, 0}, {"1.2.3.4.5", 0}, {"1.2.0beta3.1", 0},
        {"........", 0}, {"betabetabetabeta", 0}, {"99999999999999999999999", INT32_MAX},
        {"4294967296.0.0", INT32_MAX}, {"1.0.0.99999999999999", INT32_MAX}, {"215", INT32_MAX},
        {"999.0.0", INT32_MAX}, {zeros.c_str(), 10000000}, {sevens.c_str(), 0}};
    // clang-format on
    for (const auto& [text, want] : cases)
        EXPECT_EQ(versionStringToInt(text), want) << (text ? text : "null");
    // 64 characters without a terminator are never read past; "beta" ending at the limit counts.
    const auto buffer = std::make_unique<char[]>(64);
    for (const char* tail : {"", "beta", "bet"})
    {
        std::memset(buffer.get(), '0', 64);
        std::memcpy(buffer.get(), "1.", 2);
        std::memcpy(buffer.get() + 64 - std::strlen(tail), tail, std::strlen(tail));
        EXPECT_EQ(versionStringToInt(buffer.get()), std::strlen(tail) == 4 ? 9999900 : 10000000) << tail;
    }
}

struct EngineTable
{
    FxChain fx;
    std::vector<Param> params;
    std::vector<int32_t> hostParamIndex, modTargets;
    int32_t hostParamCount = -7;
    std::vector<float> scales;
    EngineTable() { buildParamTable(params, hostParamIndex, hostParamCount, modTargets, scales, fx); }
};

// A number as printf writes it, NaN always as "nan".
std::string num(float v, const char* format)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, format, double(v));
    return std::isnan(v) ? "nan" : buf;
}

// One line with every field of a record (a label that points at a record's name shows as @index)
// and its curve.
std::string dumpRecord(const Param& p, const std::vector<Param>& table)
{
    char buf[512];
    std::snprintf(
        buf, sizeof buf,
        "%d [%s] group [%s] host %d%c curve %d %.9g..%.9g k %.9g value %.9g default %.9g mod %s since %d "
        "snaps %d: %.9g %.9g %.9g %.9g format [%s] labels %d:",
        p.index, p.name, p.group, p.hostIndex, p.isHostParam ? '+' : '-', p.curveType, p.minValue, p.maxValue,
        p.exponent, p.value, p.defaultValue, num(p.modValue, "%.9g").c_str(), p.sinceVersion, p.numSnaps,
        p.snapValues[0], p.snapValues[1], p.snapValues[2], p.snapValues[3], p.format, p.numLabels);
    std::string out = buf;
    for (int i = 0; i < p.numLabels; ++i)
    {
        const auto at = std::find_if(table.begin(), table.end(),
                                     [&](const Param& q) { return q.name == p.labels[size_t(i)]; });
        out += at != table.end() ? " @" + std::to_string(at - table.begin())
                                 : " [" + std::string(p.getLabel(i)) + "]";
    }
    out += " curve:"; // units from -0.25 to 1.25 (nothing is clamped) and the unit each value maps back to
    for (float u = -0.25f; u <= 1.25f; u += 0.125f)
        out += ' ' + num(p.convertUnitToVal(u), "%.6g") + '>' +
               num(p.convertValToUnit(p.convertUnitToVal(u)), "%.6g");
    return out;
}

// The whole engine table against tests/engine/golden/param_table.txt. The layout is what stored
// states and hosts rely on; after an intended change, QM_REGENERATE_GOLDEN=1 rewrites the file.
// Copies keep working once the table is gone (labels in shared buffers or their own text), except
// Mod_Target, whose labels point at the first table's names by design.
TEST(ParamTable, MatchesTheGoldenLayoutAndCopiesStayValid)
{
    auto t = std::make_unique<EngineTable>();
    std::ostringstream out;
    out << "host parameters " << t->hostParamCount << ':';
    for (int32_t h : t->hostParamIndex)
        out << ' ' << h;
    out << "\nmodulation targets:";
    for (size_t i = 0; i < t->modTargets.size(); ++i)
        out << ' ' << t->modTargets[i] << 'x' << t->scales[i];
    for (const Param& p : t->params)
        out << '\n' << dumpRecord(p, t->params);
    qmtest::expectGolden("param_table.txt", out.str());
    const std::vector<Param> copy = t->params;
    t = std::make_unique<EngineTable>();
    for (size_t i = 0; i < copy.size(); ++i)
        EXPECT_TRUE(!std::strcmp(copy[i].name, "Mod_Target") ||
                    dumpRecord(copy[i], copy) == dumpRecord(t->params[i], t->params))
            << dumpRecord(t->params[i], t->params);
}

// A record of each curve type, of unknown types (which give -1) and a rounded range across zero
// (-1.5 rounds away from zero; NaN below a log curve's range), against
// tests/engine/golden/param_curves.txt.
TEST(ParamCurves, EveryTypeMatchesTheGoldenValuesBothWays)
{
    // clang-format off
    const std::tuple<int, float, float, float> cases[] = {{kCurveLinear, -18, 12, 0},
        {kCurvePowUnit, 0.01f, 20, 2}, {kCurvePowValue, -2, 2, 3}, {kCurveExp, 20, 20000, 0},
        {kCurveLog, 1, 100, 6}, {kCurveRoundLinear, 1, 24, 0}, {kCurveRoundLinear, -3, 0, 0}, {6, 0, 100, 0},
        {-1, 0, 100, 0}};
    // clang-format on
    std::string out;
    for (const auto& [curve, lo, hi, k] : cases)
        out += dumpRecord(Param("case", curve, lo, hi, k, "", 0.0f), {}) + '\n';
    qmtest::expectGolden("param_curves.txt", out);
}

// A unit reporting another parameter count than its slot's.
struct CountingUnit : FxUnit
{
    void process(float**, float**, int, int, bool&, bool) noexcept override {}
    int getNumParams() const override { return kFxParamCounts[0] + 1; }
    void setParamPtr(Param* first) override { params = first; }
};

// A unit with another count than its slot's, or a missing one, would move every later record and
// break stored states: the table refuses to build.
TEST(ParamTable, RefusesChainsThatWouldMoveTheLayout)
{
    EngineTable t;
    FxUnitList units = t.fx.getUnits();
    CountingUnit wrongCount;
    for (FxUnit* wrong : {static_cast<FxUnit*>(&wrongCount), static_cast<FxUnit*>(nullptr)})
    {
        units[0] = wrong;
        EXPECT_THROW(
            buildParamTable(t.params, t.hostParamIndex, t.hostParamCount, t.modTargets, t.scales, units),
            std::logic_error);
    }
}
} // namespace
