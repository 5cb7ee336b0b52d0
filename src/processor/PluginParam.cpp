#include "processor/PluginParam.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace
{
// Longest label text shown for a choice.
constexpr int kMaxLabelChars = 32;
// Room for a printf'd value (a format of at most 32 characters with one number).
constexpr int kValueTextSize = 128;

juce::String nameWithSpaces(const Param& p)
{
    return juce::String::fromUTF8(p.name).replaceCharacter('_', ' ');
}
} // namespace

PluginParam::PluginParam(Listener* newListener, Param* newParam, int newHostIndex)
    : juce::AudioProcessorParameterWithID(juce::ParameterID(idForHostIndex(newHostIndex), 1),
                                          nameWithSpaces(*newParam)),
      listener(newListener), param(newParam), hostIndex(newHostIndex)
{
}

juce::String PluginParam::idForHostIndex(int index)
{
    // Two digits, so that hosts sorting parameters by id keep the host-index order.
    return "hp" + juce::String(index).paddedLeft('0', 2);
}

float PluginParam::getValue() const
{
    return param->convertValToUnit(param->value);
}

void PluginParam::setValue(float newValue)
{
    if (std::isnan(newValue)) return;
    const float unit = newValue < 0.0f ? 0.0f : (newValue > 1.0f ? 1.0f : newValue);
    param->value = param->convertUnitToVal(unit);
    hostKnownValue.store(getValue(), std::memory_order_relaxed);
    if (listener != nullptr) listener->receivedParamChange(hostIndex);
}

void PluginParam::reportValueIfChanged()
{
    const float unit = getValue();
    if (hostKnownValue.exchange(unit, std::memory_order_relaxed) != unit)
        sendValueChangedMessageToListeners(unit);
}

void PluginParam::assumeHostHoldsDefault()
{
    hostKnownValue.store(getDefaultValue(), std::memory_order_relaxed);
}

void PluginParam::reportEditorValue(EditorGesture step)
{
    if (step == EditorGesture::gestureStart) beginChangeGesture();
    const float unit = getValue();
    hostKnownValue.store(unit, std::memory_order_relaxed);
    sendValueChangedMessageToListeners(unit);
    if (step == EditorGesture::gestureEnd) endChangeGesture();
}

float PluginParam::getDefaultValue() const
{
    return param->convertValToUnit(param->defaultValue);
}

juce::String PluginParam::getName(int) const
{
    return nameWithSpaces(*param);
}

juce::String PluginParam::getLabel() const
{
    return {};
}

juce::String PluginParam::getText(float value, int) const
{
    const float val = param->convertUnitToVal(value);
    if (param->numLabels >= 2 && val >= 0.0f && val < static_cast<float>(param->numLabels))
    {
        const char* label = param->getLabel(static_cast<int>(val));
        return juce::String::fromUTF8(label, static_cast<int>(strnlen(label, kMaxLabelChars)));
    }
    const char* format = param->format[0] != '\0' ? param->format : "%.3f";
    char text[kValueTextSize] = {};
    // The format text comes from the engine's own table (one number conversion, or a plain label).
    std::snprintf(text, sizeof(text), format, static_cast<double>(val));
    // Each byte is one character.
    juce::String result;
    for (const char* c = text; *c != '\0'; ++c)
        result += juce::String::charToString(static_cast<juce::juce_wchar>(static_cast<unsigned char>(*c)));
    return result;
}

float PluginParam::getValueForText(const juce::String& text) const
{
    auto ptr = text.getCharPointer();
    const double number = juce::CharacterFunctions::readDoubleValue(ptr);
    return param->convertValToUnit(static_cast<float>(number));
}
