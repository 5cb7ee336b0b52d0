#include "engine/canvas/SoundAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "engine/KeySpaceDSP.h"

// Runs while the engine builds its sound list: each accepted sound gets its category number and its
// features right away, and once the list is complete every sound gets its category's colour.

namespace
{
// Hop of the resynthesis in samples: the time base of the band records' noise widths.
constexpr float kAnalysisHopSamples = 128.0f;

// The sound's register is measured relative to this note; 18 semitones away gives half the range.
constexpr float kRegisterCentre = 50.0f;
constexpr float kRegisterHalfWidth = 18.0f;

// The profile bands sit evenly on the ERB-number scale, from about 100 Hz to about 15 kHz.
constexpr double kProfileErbFirst = 3.3586059;
constexpr double kProfileErbSpan = 35.516487;

float noteToHz(float note)
{
    return 8.175799f * std::exp(note / 17.31234f);
}

// Hue-wheel lobe: 1 within a sixth of the wheel of its centre, falling to 0 a third away.
double hueLobe(double v)
{
    return std::min(std::max(2.0 - 6.0 * std::fabs(v), 0.0), 1.0);
}

float finiteOrZero(double v)
{
    const float f = static_cast<float>(v);
    return std::isfinite(f) ? f : 0.0f;
}

// Middle zone's key of a map as a MIDI note. A blob may store keys up to 255; the voice set-up and
// the register feature only make sense for notes the instrument can be played at.
int analysisKey(const InstrumentMap& map)
{
    const int zones = std::clamp(map.numZones, 1, kMaxSoundZones);
    return std::clamp(static_cast<int>(map.zoneKey[static_cast<size_t>(zones / 2)]), 0, 127);
}
} // namespace

uint32_t categoryColour(int categoryIndex, int countedCategories) noexcept
{
    if (categoryIndex > countedCategories || categoryIndex < 0) return kUncountedCategoryColour;
    const double t = static_cast<double>(categoryIndex) / static_cast<double>(countedCategories + 1);
    double rgb[3] = {hueLobe(t) + hueLobe(t - 1.0), hueLobe(t - 0.33333), hueLobe(t - 0.66666)};
    for (double& c : rgb)
        c = 0.8 * (1.0 - (1.0 - c) * (1.0 - c)) + 0.2 * c;
    // Mix darker hues further towards white so that all categories read at a similar lightness.
    const double m = std::min(1.0, 0.6 * rgb[0] * rgb[0] + 0.7 * rgb[1] * rgb[1] + 0.1 * rgb[2] * rgb[2]);
    const double q = 0.2 + 0.4 * (1.0 - m);
    uint32_t bytes[3];
    for (int i = 0; i < 3; ++i)
    {
        const double c = rgb[i] * (1.0 - q) + q;
        bytes[i] = static_cast<uint32_t>(std::clamp(static_cast<int>(c * 255.0 + 0.4), 0, 255));
    }
    return 0xff000000u + (bytes[0] << 16) + (bytes[1] << 8) + bytes[2];
}

float registerFeature(int key) noexcept
{
    const float d = static_cast<float>(key) - kRegisterCentre;
    return d / (std::fabs(d) + kRegisterHalfWidth);
}

void measureVoiceFeatures(const KeyVoice& voice, const int32_t* bandStart, int key, float sampleRate,
                          InstrumentFeatures* out) noexcept
{
    if (out == nullptr) return;
    InstrumentFeatures& f = *out;
    f = InstrumentFeatures{};
    const int k = std::clamp(key, 0, 127);
    f[InstrumentFeatures::kRegister] = registerFeature(k);

    const int bands = std::clamp(voice.bandCount, 0, kMaxBands);
    if (bands == 0 || bandStart == nullptr) return;

    const float noteHz = noteToHz(static_cast<float>(k));
    const float rate = (std::isfinite(sampleRate) && sampleRate > 0.0f) ? sampleRate : kDefaultSampleRate;
    const double hopSeconds = kAnalysisHopSamples / rate;

    // Per band: energy P, energy weighted by the decay ratio Q, energy weighted by noisiness U.
    std::array<double, kMaxBands> energy{}, decayWeighted{}, noiseWeighted{}, freq{};
    double detuneSum = 0.0, rootSum = 0.0;
    for (int i = 0; i < bands; ++i)
    {
        const VoiceBands& b = voice.bands;
        const auto bi = static_cast<size_t>(i);
        const double la = b.levelA[bi], sa = b.sharpA[bi], lb = b.levelB[bi], sab = b.sharpA[bi] + b.sharpB[bi],
                     lc = b.levelC[bi];
        // Energy of a level decaying at rate s over one second: (1 - e^-s) / (2 s) of its square;
        // the rates are positive by construction, guarded so a zero never divides.
        const double decayA = sa > 1e-12 ? (1.0 - std::exp(-sa)) / (2.0 * sa) : 0.5;
        const double decayB = sab > 1e-12 ? (1.0 - std::exp(-sab)) / (2.0 * sab) : 0.5;
        double e = 0.5 * lc * lc + decayA * la * la + decayB * lb * lb;
        if (!std::isfinite(e) || e < 0.0) e = 0.0;

        const double s1 = sa + 0.25, s2 = sab + 0.25;
        const double ratio =
            (la / (s1 * s1) + lb / (s2 * s2) + 16.0 * lc) / (la / s1 + lb / s2 + 4.0 * lc + 1e-20);
        double q = std::sqrt(std::max(ratio, 0.0) * e);
        if (!std::isfinite(q)) q = 0.0;
        double u = static_cast<double>(b.tonality[bi]) * b.noiseWidth[bi] / (hopSeconds * noteHz) * e;
        if (!std::isfinite(u) || u < 0.0) u = 0.0;

        energy[static_cast<size_t>(i)] = e;
        decayWeighted[static_cast<size_t>(i)] = q;
        noiseWeighted[static_cast<size_t>(i)] = u;
        const double root = std::sqrt(e);
        detuneSum += std::fabs(static_cast<double>(b.detune[bi])) * root;
        rootSum += root;
        // Record 0 sits an octave below the fundamental (record 1).
        freq[static_cast<size_t>(i)] = (i == 0 ? 0.5 : static_cast<double>(bandStart[i])) * noteHz;
    }
    f[InstrumentFeatures::kDetune] = finiteOrZero(detuneSum / (rootSum + 1e-20));

    // The lowest band has the largest weight (1 + a) e^-a at every profile band; dividing every
    // weight by it changes no weighted mean but keeps the weight sum at 1 or more, where the plain
    // weights of a high note all underflow to 0.
    double lowestFreq = freq[0];
    for (int i = 1; i < bands; ++i)
        lowestFreq = std::min(lowestFreq, freq[static_cast<size_t>(i)]);

    for (int j = 0; j < InstrumentFeatures::kProfileBands; ++j)
    {
        const double erb = kProfileErbFirst + kProfileErbSpan * j / 31.0;
        const double width = 24.7 * std::exp(0.108 * erb);
        const double aMin = lowestFreq / width;
        double wSum = 0.0, pSum = 0.0, qSum = 0.0, uSum = 0.0;
        for (int i = 0; i < bands; ++i)
        {
            const double a = freq[static_cast<size_t>(i)] / width;
            const double wt = (1.0 + a) / (1.0 + aMin) * std::exp(aMin - a);
            wSum += wt;
            pSum += wt * energy[static_cast<size_t>(i)];
            qSum += wt * decayWeighted[static_cast<size_t>(i)];
            uSum += wt * noiseWeighted[static_cast<size_t>(i)];
        }
        f[InstrumentFeatures::kProfileEnergy + j] = finiteOrZero(std::pow(width * pSum / wSum, 0.25));
        f[InstrumentFeatures::kProfileDecay + j] = finiteOrZero(std::pow(width * qSum / wSum, 0.25));
        f[InstrumentFeatures::kProfileNoise + j] = finiteOrZero(std::pow(width * uSum / wSum, 0.25));
    }
}

void KeySpaceDSP::analyseSound(InstrumentMap& map)
{
    const InstrumentMap* first = sounds.data();
    const std::ptrdiff_t pos = &map - first;
    if (sounds.empty() || pos < 0 || pos >= static_cast<std::ptrdiff_t>(sounds.size())) return;

    // A category that comes back after another gets a new number: the numbers count runs of
    // equal categories in list order, which is how the browser groups them.
    if (pos == 0)
        map.categoryIndex = 0;
    else
    {
        const InstrumentMap& prev = sounds[static_cast<size_t>(pos - 1)];
        const bool same = std::strncmp(prev.category, map.category, kSoundNameSize) == 0;
        map.categoryIndex = same ? prev.categoryIndex : prev.categoryIndex + 1;
    }

    // Features: a fresh voice plays the sound alone at its middle zone's key. The parameter table
    // does not exist yet during construction, so the velocity curve is the plain velocity: full
    // velocity makes the band levels those of the sound itself.
    auto voice = std::make_unique<KeyVoice>();
    const int key = analysisKey(map);
    voice->state = 1;
    voice->note = key;
    voice->pitch = static_cast<float>(key);
    voice->velocity = 1.0f;
    voice->onsetPending = 0;
    NodeMix mix{};
    mix.count = 1;
    mix.node[0] = static_cast<int32_t>(pos);
    mix.weight[0] = 1.0f;
    setVoiceData(voice.get(), mix);
    measureVoiceFeatures(*voice, bandStart.data(), key, sampleRate, &map.features);
}

void KeySpaceDSP::assignSoundColours()
{
    int counted = 0;
    for (size_t i = 1; i < sounds.size(); ++i)
        if (sounds[i].categoryIndex != sounds[i - 1].categoryIndex && sounds[i].category[0] != 'x') ++counted;
    for (InstrumentMap& map : sounds)
        map.colour = categoryColour(map.categoryIndex, counted);
}
