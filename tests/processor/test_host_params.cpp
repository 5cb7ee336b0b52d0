// The parameters the host sees: 13 of them, their names, values, texts and change reports.
#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "ProcessorTestSupport.h"
#include "engine/params/ParamTable.h"
#include "processor/PluginParam.h"
#include "processor/PluginProcessor.h"

using qmproc::drain;

namespace
{
struct RecordingListener : PluginParam::Listener
{
    void receivedParamChange(int hostIndex) override { calls.push_back(hostIndex); }
    std::vector<int> calls;
};

class HostParamsTest : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        qmproc::clearLibrary();
        processor = new PluginProcessor();
    }
    static void TearDownTestSuite()
    {
        delete processor;
        processor = nullptr;
    }
    static PluginProcessor* processor;
};
PluginProcessor* HostParamsTest::processor = nullptr;

} // namespace

TEST_F(HostParamsTest, ThirteenParametersInHostIndexOrder)
{
    const auto& list = processor->getParameters();
    ASSERT_EQ(list.size(), 13);
    ASSERT_EQ(processor->dsp->hostParamCount, 13);
    std::set<juce::String> ids;
    for (int h = 0; h < list.size(); ++h)
    {
        auto* p = dynamic_cast<PluginParam*>(list[h]);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->hostIndex, h);
        EXPECT_EQ(p->getParameterIndex(), h);
        EXPECT_EQ(p->param,
                  &processor->dsp
                       ->params[static_cast<size_t>(processor->dsp->hostParamIndex[static_cast<size_t>(h)])]);
        EXPECT_EQ(p->param->hostIndex, h);
        ids.insert(p->getParameterID());
    }
    // Distinct ids that do not start with a digit (LV2 symbols).
    EXPECT_EQ(ids.size(), 13u);
    for (const auto& id : ids)
        EXPECT_FALSE(juce::CharacterFunctions::isDigit(id[0])) << id;
}

TEST_F(HostParamsTest, NamesHaveSpacesForUnderscores)
{
    for (auto* parameter : processor->getParameters())
    {
        auto* p = dynamic_cast<PluginParam*>(parameter);
        const juce::String raw(p->param->name);
        EXPECT_EQ(p->getName(4), raw.replaceCharacter('_', ' ')); // the length limit is not applied
        EXPECT_FALSE(p->getName(100).containsChar('_'));
    }
    EXPECT_EQ(processor->getHostParam(0)->getName(100), "Gain");
    Param p("Reverb_Wet_Mix", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.2f");
    PluginParam pp(nullptr, &p, 0);
    EXPECT_EQ(pp.getName(100), "Reverb Wet Mix");
}

TEST_F(HostParamsTest, SetValueClampsAndReports)
{
    RecordingListener listener;
    Param p("Cutoff", kCurvePowUnit, 30.0f, 8000.0f, 4.0f, "%.0f Hz");
    PluginParam pp(&listener, &p, 5);

    pp.setValue(1.5f);
    EXPECT_EQ(p.value, p.convertUnitToVal(1.0f));
    pp.setValue(-0.2f);
    EXPECT_EQ(p.value, p.convertUnitToVal(0.0f));
    EXPECT_EQ(listener.calls, (std::vector<int>{5, 5}));

    for (float u : {0.0f, 0.25f, 0.5f, 0.9f, 1.0f})
    {
        pp.setValue(u);
        EXPECT_NEAR(pp.getValue(), u, 1e-5f);
    }
}

TEST_F(HostParamsTest, NotANumberFromTheHostIsIgnored)
{
    RecordingListener listener;
    Param p("Gain", kCurveLinear, 0.0f, 2.0f, 0.0f, "%.2f");
    PluginParam pp(&listener, &p, 0);
    pp.setValue(0.25f);
    pp.setValue(std::numeric_limits<float>::quiet_NaN());
    EXPECT_FLOAT_EQ(p.value, 0.5f);
    EXPECT_EQ(listener.calls.size(), 1u);
}

TEST_F(HostParamsTest, HostChangeReachesTheEventQueue)
{
    auto reader = processor->eventQueue.makeReader();
    PluginParam* morphX = nullptr;
    for (auto* parameter : processor->getParameters())
        if (auto* p = dynamic_cast<PluginParam*>(parameter); p->param->index == kParamMorphX) morphX = p;
    ASSERT_NE(morphX, nullptr);
    morphX->setValue(0.75f);
    const auto events = drain(reader);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, kSynthEventParamChanged);
    EXPECT_EQ(events[0].index, kParamMorphX);
    EXPECT_FLOAT_EQ(events[0].value, processor->dsp->params[kParamMorphX].value);
    EXPECT_FLOAT_EQ(events[0].value, morphX->param->convertUnitToVal(0.75f));
}

TEST_F(HostParamsTest, EmptyFormatGivesThreeDecimals)
{
    Param p("Plain", kCurveLinear, 0.0f, 1.0f, 0.0f, "");
    PluginParam pp(nullptr, &p, 0);
    EXPECT_EQ(pp.getText(0.5f, 100), "0.500");
}

TEST_F(HostParamsTest, TextRoundTripsThroughValueForText)
{
    for (auto* parameter : processor->getParameters())
    {
        auto* p = dynamic_cast<PluginParam*>(parameter);
        if (p->param->isChoice()) continue;
        for (float u : {0.1f, 0.37f, 0.8f})
        {
            const juce::String text = p->getText(u, 100);
            const float back = p->getValueForText(text);
            // Up to the printed precision: the value of the text and the value of u agree closely.
            const float valueBack = p->param->convertUnitToVal(back);
            const float value = p->param->convertUnitToVal(u);
            EXPECT_NEAR(valueBack, value, 0.01f * (1.0f + std::fabs(value)))
                << p->getName(100) << " " << text;
        }
    }
    Param db("Level", kCurveLinear, -12.0f, 12.0f, 0.0f, "%.1f dB");
    PluginParam pp(nullptr, &db, 0);
    EXPECT_EQ(pp.getText(0.75f, 100), "6.0 dB");
    EXPECT_FLOAT_EQ(pp.getValueForText("  6.0 dB"), 0.75f);
    EXPECT_FLOAT_EQ(pp.getValueForText("dB"), db.convertValToUnit(0.0f));
}

TEST_F(HostParamsTest, ChoiceTexts)
{
    Param p("Shape", kCurveRoundLinear, 0.0f, 2.0f, 0.0f, "Sine|Square|Saw");
    PluginParam pp(nullptr, &p, 0);
    EXPECT_EQ(pp.getText(0.0f, 100), "Sine");
    EXPECT_EQ(pp.getText(0.5f, 100), "Square");
    EXPECT_EQ(pp.getText(1.0f, 100), "Saw");
    // Beyond the labels: the format text, which is the first label.
    EXPECT_EQ(pp.getText(2.0f, 100), "Sine");
    EXPECT_EQ(pp.getText(-1.0f, 100), "Sine");
}

TEST_F(HostParamsTest, DefaultsComeFromTheRecords)
{
    for (auto* parameter : processor->getParameters())
    {
        auto* p = dynamic_cast<PluginParam*>(parameter);
        EXPECT_FLOAT_EQ(p->getDefaultValue(), p->param->convertValToUnit(p->param->defaultValue));
        EXPECT_TRUE(p->getLabel().isEmpty());
    }
}

namespace
{
struct CountingHostListener : juce::AudioProcessorParameter::Listener
{
    void parameterValueChanged(int, float newValue) override { values.push_back(newValue); }
    void parameterGestureChanged(int, bool) override {}
    std::vector<float> values;
};
} // namespace

TEST_F(HostParamsTest, ReportsOnlyValuesTheHostDoesNotHold)
{
    // A wrapper echoes every report to the host at the end of its next block; re-reporting an
    // unchanged value after the host changed it would undo the host's change.
    Param p("Depth", kCurveLinear, 0.0f, 1.0f, 0.0f, "%.2f");
    RecordingListener processorSide;
    PluginParam pp(&processorSide, &p, 0);
    CountingHostListener host;
    pp.addListener(&host);

    pp.reportValueIfChanged(); // first report
    pp.reportValueIfChanged(); // nothing new
    EXPECT_EQ(host.values, (std::vector<float>{0.5f}));

    pp.setValue(0.8f); // the host's own change
    pp.reportValueIfChanged();
    EXPECT_EQ(host.values.size(), 1u);

    p.value = 0.25f; // changed inside the instrument (a loaded state)
    pp.reportValueIfChanged();
    ASSERT_EQ(host.values.size(), 2u);
    EXPECT_FLOAT_EQ(host.values[1], 0.25f);
    pp.removeListener(&host);
}
