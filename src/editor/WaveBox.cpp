#include "editor/WaveBox.h"

#include <cmath>

#include "editor/EditorFonts.h"
#include "engine/Random.h"
#include "engine/modulation/Modulators.h"
#include "engine/params/ParamTable.h"

namespace
{
void lfoSamples(const Param* params, std::array<float, kWaveSamples>& y)
{
    const float shapeValue = params[kLfoParamShape].value;
    const float phase0 = params[kLfoParamPhase].value;
    // A shape outside every table entry would not fit an int; it would draw nothing anyway.
    if (!std::isfinite(phase0) || !(std::abs(shapeValue) < 1000.0f)) return;
    const int shape = static_cast<int>(shapeValue);
    const float cycles = shape == kLfoNoise || shape == kLfoSampleHold ? 3.0f : 1.0f;
    LFO lfo;
    lfo.phase = 0.0f;
    lfo.prevPhase = 0.99f;
    lfo.value = 0.0f;
    // The engine's generator: the C library's rand() takes a lock the host shares.
    lfo.rndOld = static_cast<float>(engineRand()) * 0x1p-30f - 1.0f;
    lfo.rndNew = static_cast<float>(engineRand()) * 0x1p-30f - 1.0f;
    for (int i = 0; i < kWaveSamples; ++i)
        y[static_cast<size_t>(i)] =
            0.5f * lfo.getVal(phase0 + static_cast<float>(i) * cycles / kWaveSamples, shape) + 0.5f;
}

void envelopeSamples(const Param* params, std::array<float, kWaveSamples>& y)
{
    const float initial = params[kEnvParamInitial].value;
    const float sustain = params[kEnvParamSustain].value;
    const float attack = params[kEnvParamAttack].value;
    const float decay = params[kEnvParamDecay].value;
    const float release = params[kEnvParamRelease].value;
    // Decay and Release never reach zero through a control; a damaged state may hold anything.
    if (!(attack >= 0.0f && decay >= 0.0f && release >= 0.0f)) return;
    const float a = std::sqrt(attack * 0.001f), d = std::sqrt(decay), r = std::sqrt(release);
    const float sum = a + d + r;
    if (!(sum > 0.0f) || !std::isfinite(sum)) return;
    const float scale = kWaveSamples / sum;
    const float e1 = a * scale, e2 = (a + d) * scale;
    if (!(kWaveSamples - e2 > 0.0f)) return;
    int i = 0;
    for (; i < kWaveSamples && static_cast<float>(i) < e1; ++i)
        y[static_cast<size_t>(i)] = (static_cast<float>(i) / e1) * (1.0f - initial) + initial;
    for (; i < kWaveSamples && static_cast<float>(i) < e2; ++i)
    {
        const float t = 1.0f - (static_cast<float>(i) - e1) / (e2 - e1);
        y[static_cast<size_t>(i)] = (1.0f - sustain) * t * t + sustain;
    }
    for (; i < kWaveSamples; ++i)
    {
        const float t = 1.0f - (static_cast<float>(i) - e2) / (kWaveSamples - e2);
        y[static_cast<size_t>(i)] = sustain * t * t;
    }
}
} // namespace

std::array<float, kWaveSamples> computeWaveSamples(const Param* params, ModType type)
{
    std::array<float, kWaveSamples> y{};
    const float flat = type == modTypeLfo ? 0.5f : 0.0f;
    y.fill(flat);
    if (params == nullptr) return y;
    if (type == modTypeLfo)
        lfoSamples(params, y);
    else
        envelopeSamples(params, y);
    for (float& v : y)
        v = std::isfinite(v) ? juce::jlimit(0.0f, 1.0f, v) : flat;
    return y;
}

WaveBox::WaveBox() : font(getEditorFont(EditorFace::robotoBlack, 20.0f)) {}

void WaveBox::paint(juce::Graphics& g)
{
    const auto y = computeWaveSamples(params, type);
    const float dx = static_cast<float>(getWidth() - 8) / (kWaveSamples - 1);
    const float h = static_cast<float>(getHeight() - 28);
    path.clear();
    path.startNewSubPath(4.0f, (1.0f - y[0]) * h + 20.0f);
    for (int i = 1; i < kWaveSamples; ++i)
        path.lineTo(4.0f + static_cast<float>(i) * dx, (1.0f - y[static_cast<size_t>(i)]) * h + 20.0f);

    g.fillAll(juce::Colour(0xb3000000));
    g.setColour(colour);
    g.strokePath(path, juce::PathStrokeType(2.0f, juce::PathStrokeType::curved, juce::PathStrokeType::butt));
    g.setColour(colour.withAlpha(static_cast<juce::uint8>(0xcc)));
    g.setFont(font);
    const int w = static_cast<int>(std::ceil(font.getStringWidthFloat(title))) + 4;
    g.drawText(title, 0, 0, w, static_cast<int>(font.getHeight() + 4.0f), juce::Justification::centred, true);
}
