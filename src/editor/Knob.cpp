#include "editor/Knob.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "editor/EditorFonts.h"
#include "editor/MyLookAndFeel.h"

namespace
{
constexpr float kPi = juce::MathConstants<float>::pi;
constexpr float kArcStart = -0.75f * kPi;
constexpr float kArcEnd = 0.75f * kPi;
constexpr int kEditorHeight = 20;
constexpr int kResetItem = 2000;
constexpr int kFirstChoiceItem = 1000;
constexpr int kPopupItemHeight = 20;
// A snap point holds the drag until this much unit movement has collected.
constexpr float kSnapBreak = 0.05f;
constexpr float kSnapLeave = 0.001f;
constexpr float kOnSnap = 0.0001f;
constexpr float kResidualKeep = 0.99f;
const juce::Colour kCaptionColour{0xd9ffffffu};

float finiteOrZero(float x) noexcept
{
    return std::isfinite(x) ? x : 0.0f;
}

int labelCount(const Param& p) noexcept
{
    return std::clamp(p.numLabels, 0, kParamMaxLabels);
}

juce::Point<float> onAngle(float cx, float cy, float r, float a)
{
    return {cx + r * std::sin(a), cy - r * std::cos(a)};
}
} // namespace

namespace KnobHelpers
{
void drawCircleSegment(juce::Graphics& g, float centreX, float centreY, float innerRadius, float outerRadius,
                       float fromAngle, float toAngle, bool)
{
    if (!(outerRadius > 0.0f)) return;
    juce::Path p;
    p.addPieSegment(centreX - outerRadius, centreY - outerRadius, 2.0f * outerRadius, 2.0f * outerRadius,
                    fromAngle, toAngle, innerRadius / outerRadius);
    p.closeSubPath();
    g.fillPath(p);
}
} // namespace KnobHelpers

Knob::Knob(const Param* p, int width, int height, float size, Type t, juce::String label, Listener* l)
    : ownParam(kLinParam), listener(l), type(t)
{
    // The shared default record is read-only: a knob bound to it edits a copy.
    param = (p == nullptr || p == &kLinParam) ? &ownParam : const_cast<Param*>(p);
    nameFont = getEditorFont(EditorFace::robotoMedium, type == performanceDial ? 13.0f : 12.0f);
    valueFont = getEditorFont(EditorFace::robotoMono, 13.0f);

    setWantsKeyboardFocus(true);
    setSize(width, height);
    radius = (size > 0.0f ? size : static_cast<float>(width - 10)) / 2.0f;

    if (label.isNotEmpty())
        name = label;
    else
    {
        name = juce::String::fromUTF8(param->name, static_cast<int>(strnlen(param->name, kParamNameSize)));
        if (name.containsChar('_')) name = name.fromLastOccurrenceOf("_", false, false);
    }

    const int labels = labelCount(*param);
    if (param->curveType == kCurveRoundLinear && labels >= 2)
        interactionMode = labels == 2 ? toggleMode : choiceMode;

    if (type == compactDial)
    {
        const int top = static_cast<int>(2.0f * radius);
        valueEditor.setBounds(0, top, width, std::min(kEditorHeight, height - top));
    }
    else
        valueEditor.setBounds(0, height - kEditorHeight, width, kEditorHeight);

    valueEditor.setName("valEditor");
    valueEditor.setMultiLine(false, true);
    valueEditor.setInputRestrictions(7, "0123456789-.");
    valueEditor.setFont(valueFont);
    valueEditor.setColour(juce::TextEditor::textColourId, juce::Colours::white);
    valueEditor.setColour(juce::TextEditor::backgroundColourId, kEditorGround);
    valueEditor.setColour(juce::TextEditor::outlineColourId, juce::Colour(0x00000000u));
    valueEditor.setColour(juce::TextEditor::focusedOutlineColourId, juce::Colour(0x00000000u));
    valueEditor.setColour(juce::CaretComponent::caretColourId, juce::Colours::red);
    valueEditor.addListener(this);
    addChildComponent(valueEditor);
}

Knob::~Knob()
{
    valueEditor.removeListener(this);
}

juce::String Knob::formatValue() const
{
    const float v = param->value;
    const int labels = labelCount(*param);
    if (labels >= 2 && v >= 0.0f && v < static_cast<float>(labels))
    {
        const char* text = param->labels[static_cast<size_t>(v)];
        return text != nullptr ? juce::String::fromUTF8(text) : juce::String();
    }
    // The engine's own format texts, each with one float conversion.
    char buffer[64];
    const char* format = param->format[0] != '\0' ? param->format : "%.3f";
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(buffer, sizeof(buffer), format, static_cast<double>(v));
#pragma GCC diagnostic pop
    return juce::String::fromUTF8(buffer);
}

void Knob::setValueAndReport(float v)
{
    param->value = v;
    repaint();
    if (listener != nullptr) listener->knobChanged(param->index, v, Listener::singleChange);
}

void Knob::showValueEditor()
{
    valueEditor.setColour(juce::TextEditor::highlightedTextColourId, juce::Colour(0xff3385ffu));
    valueEditor.setText(formatValue(), false);
    valueEditor.setVisible(true);
    valueEditor.grabKeyboardFocus();
}

void Knob::mouseDown(const juce::MouseEvent& e)
{
    valueEditor.setVisible(false);
    if (e.mods.isRightButtonDown())
    {
        if (interactionMode == choiceMode) return;
        juce::PopupMenu menu;
        useOpenersLook(menu, *this);
        menu.addItem(kResetItem, "Reset to default");
        const auto at = e.getScreenPosition();
        menu.showMenuAsync(juce::PopupMenu::Options()
                               .withTargetScreenArea({at.x, at.y, 1, 1})
                               .withStandardItemHeight(kPopupItemHeight),
                           juce::ModalCallbackFunction::forComponent(popupCallback, this));
        return;
    }
    if (interactionMode == toggleMode)
    {
        setValueAndReport(1.0f - param->value);
        return;
    }
    if (interactionMode == dragMode)
    {
        showValue = 1.0f;
        lastDragY = e.position.y;
        dragOpen = true;
        moveKnob(0.0f, Listener::dragStart);
        return;
    }
    if (choicePopupOpen)
    {
        choicePopupOpen = false;
        return;
    }
    juce::PopupMenu menu;
    useOpenersLook(menu, *this);
    for (int i = 0; i < labelCount(*param); ++i)
    {
        const char* text = param->labels[static_cast<size_t>(i)];
        menu.addItem(kFirstChoiceItem + i, text != nullptr ? juce::String::fromUTF8(text) : juce::String());
    }
    // Screen pixels: the editor's scale is already in the knob's screen bounds.
    const auto box = getScreenBounds();
    menu.showMenuAsync(juce::PopupMenu::Options()
                           .withTargetScreenArea({box.getX(), box.getBottom() + 1, 1, 1})
                           .withStandardItemHeight(kPopupItemHeight),
                       juce::ModalCallbackFunction::forComponent(popupCallback, this));
    choicePopupOpen = true;
}

void Knob::mouseDrag(const juce::MouseEvent& e)
{
    if (!dragOpen || e.mods.isRightButtonDown()) return;
    showValue = 1.0f;
    moveKnob(e.position.y - lastDragY, Listener::dragChange);
    lastDragY = e.position.y;
}

void Knob::mouseUp(const juce::MouseEvent& e)
{
    // Whatever button comes up, a drag that reported its start reports its end.
    if (dragOpen)
    {
        dragOpen = false;
        showValue = 0.0f;
        moveKnob(e.position.y - lastDragY, Listener::dragEnd);
    }
    if (!e.mods.isRightButtonDown() && e.getNumberOfClicks() >= 2 && interactionMode == dragMode)
        showValueEditor();
}

// Downward movement lowers the value: 1 pixel moves 1/1100 of the range, 10 pixels 0.05, large
// moves about 0.01 per pixel. The residual carries what a rounded curve or a snap point swallowed,
// so that slow drags still step the value or leave the snap once enough has collected.
void Knob::moveKnob(float deltaY, Listener::ChangeType changeType)
{
    const float u0 = finiteOrZero(param->convertValToUnit(param->value));
    dragResidual = finiteOrZero(dragResidual);
    const float d = finiteOrZero(deltaY);
    const float wanted = u0 - 0.01f * d * std::abs(d) / (std::abs(d) + 10.0f);
    float c = std::clamp(dragResidual + wanted, 0.0f, 1.0f);

    // The snap the knob rests on, if any: it stores the snap's own value, which the curve's round
    // trip would miss by a rounding error (a "-0.000" instead of 0).
    const float* held = nullptr;
    const int snaps = std::clamp(param->numSnaps, 0, kParamMaxSnaps);
    for (int i = 0; i < snaps; ++i)
    {
        const float& snapValue = param->snapValues[static_cast<size_t>(i)];
        const float s = param->convertValToUnit(snapValue);
        if (!std::isfinite(s)) continue;
        if (std::abs(c - u0) > std::abs(c - s))
            c = s, held = &snapValue;
        else if (std::abs(u0 - s) < kOnSnap)
        {
            if (std::abs(dragResidual) < kSnapBreak)
                c = s, held = &snapValue;
            else
            {
                dragResidual = dragResidual > 0.0f ? kSnapLeave : -kSnapLeave;
                c = std::clamp(dragResidual + wanted, 0.0f, 1.0f);
                held = nullptr;
            }
        }
    }

    const bool onSnap = held != nullptr && c >= 0.0f && c <= 1.0f;
    c = std::clamp(c, 0.0f, 1.0f);
    param->value = onSnap ? *held : param->convertUnitToVal(c);
    dragResidual = finiteOrZero(std::clamp(wanted, 0.0f, 1.0f) - param->convertValToUnit(param->value) +
                                kResidualKeep * dragResidual);

    if (changeType != Listener::singleChange && listener != nullptr)
        listener->knobChanged(param->index, param->value, changeType);
    repaint();
}

void Knob::textEditorReturnKeyPressed(juce::TextEditor& editor)
{
    const double typed = editor.getText().getDoubleValue();
    const float lo = param->convertUnitToVal(0.0f);
    const float hi = param->convertUnitToVal(1.0f);
    const float low = std::min(lo, hi);
    const float high = std::max(lo, hi);
    if (std::isfinite(typed) && typed >= low && typed <= high)
    {
        float v = static_cast<float>(typed);
        if (param->curveType == kCurveRoundLinear) v = std::round(v);
        setValueAndReport(std::clamp(v, low, high));
    }
    valueEditor.setVisible(false);
    repaint();
}

void Knob::textEditorEscapeKeyPressed(juce::TextEditor&)
{
    valueEditor.setVisible(false);
}

void Knob::textEditorFocusLost(juce::TextEditor&)
{
    valueEditor.setVisible(false);
}

void popupCallback(int result, Knob* knob)
{
    if (knob == nullptr) return;
    knob->choicePopupOpen = false;
    const Param& p = knob->getParam();
    if (result == kResetItem)
        knob->setValueAndReport(p.defaultValue);
    else if (result >= kFirstChoiceItem && result < kFirstChoiceItem + labelCount(p))
        knob->setValueAndReport(static_cast<float>(result - kFirstChoiceItem));
}

void Knob::paint(juce::Graphics& g)
{
    valueText = formatValue();
    // Values outside the range draw at the nearer end.
    const float u = std::clamp(finiteOrZero(param->convertValToUnit(param->value)), 0.0f, 1.0f);
    const float angle = u * 1.5f * kPi - 0.75f * kPi;
    switch (type)
    {
    case performanceDial:
        paintPerformanceDial(g, angle);
        break;
    case compactDial:
        paintCompactDial(g, angle);
        break;
    case valueBox:
        paintValueBox(g);
        break;
    }
}

void Knob::paintCaption(juce::Graphics& g)
{
    g.setColour(kCaptionColour);
    const bool value = showValue >= 0.5f;
    g.setFont(value ? valueFont : nameFont);
    g.drawText(value ? valueText : name, valueEditor.getBounds(), juce::Justification::centred, true);
}

void Knob::paintPerformanceDial(juce::Graphics& g, float a)
{
    const float cx = static_cast<float>(getWidth()) / 2.0f;
    const float cy = static_cast<float>(getHeight() - 13) / 2.0f;
    const float r = radius;
    const float ri = r - 4.0f;
    const float rm = (r + ri) / 2.0f;
    const float tail = a - 0.7f * kPi;
    const juce::Colour opaque = knobColour.withAlpha(juce::uint8{0xff});

    g.setColour(knobColour.withAlpha(juce::uint8{0x59}));
    KnobHelpers::drawCircleSegment(g, cx, cy, ri, r, kArcStart, kArcEnd, false);

    g.setGradientFill(juce::ColourGradient(knobColour.withAlpha(juce::uint8{0}), onAngle(cx, cy, rm, tail),
                                           opaque, onAngle(cx, cy, rm, a), false));
    KnobHelpers::drawCircleSegment(g, cx, cy, ri, r, std::max(tail, kArcStart), a, false);

    g.setGradientFill(juce::ColourGradient(juce::Colour(0x99333333u), 0.0f, cy - r, juce::Colour(0x990d0d0du),
                                           0.0f, cy + r, false));
    g.fillEllipse(cx - ri, cy - ri, 2.0f * ri, 2.0f * ri);

    g.setColour(opaque);
    g.drawLine({onAngle(cx, cy, 0.54f * r, a), onAngle(cx, cy, r, a)}, 1.5f);
    paintCaption(g);
}

void Knob::paintCompactDial(juce::Graphics& g, float a)
{
    const float cx = static_cast<float>(getWidth()) / 2.0f;
    const float r = radius;
    const float cy = r + 5.0f;
    const float ri = r - 3.0f;
    const juce::Colour opaque = knobColour.withAlpha(juce::uint8{0xff});

    g.setColour(knobColour.withAlpha(juce::uint8{0x66}));
    KnobHelpers::drawCircleSegment(g, cx, cy, ri, r, a, kArcEnd, false);
    g.setColour(knobColour.withAlpha(juce::uint8{0xb3}));
    KnobHelpers::drawCircleSegment(g, cx, cy, ri, r, kArcStart, a, false);
    g.setColour(opaque);
    KnobHelpers::drawCircleSegment(g, cx, cy, r - 8.0f, r - 5.0f, 0.0f, 2.0f * kPi, false);
    g.drawLine({onAngle(cx, cy, 0.4f * r, a), onAngle(cx, cy, r - 7.0f, a)}, 3.0f);
    paintCaption(g);
}

void Knob::paintValueBox(juce::Graphics& g)
{
    const auto box = valueEditor.getBounds();
    if (static_cast<float>(getHeight()) >= static_cast<float>(box.getHeight()) + nameFont.getHeight())
    {
        g.setColour(nameColour);
        g.setFont(nameFont);
        g.drawText(name, 0, 0, getWidth(), getHeight() - box.getHeight(), juce::Justification::centred,
                   false);
    }
    g.setColour(valueBoxColour);
    g.fillRect(box);
    g.setColour(valueColour);
    g.setFont(valueFont);
    g.drawText(valueText, box, juce::Justification::centred, false);
}
