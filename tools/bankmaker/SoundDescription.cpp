#include "BankMaker.h"

#include <algorithm>
#include <cmath>

namespace qmbank
{
namespace
{
constexpr int kSingleBands = 40;     // records 0..39 are single partials
constexpr int kEngineBands = 67;     // bands the engine's harmonic table defines
constexpr float kPeakBudget = 0.25f; // summed partial amplitudes of one note at its loudest
constexpr float kOnsetBudget = 0.15f;
constexpr float kResonanceBudget = 0.08f;
constexpr float kOnsetBandHz = 689.0625f;
constexpr float kMaxMarkSum = 60.0f; // jitter generators stay well inside the voice's 80

float noteHz(float note)
{
    return 8.175799f * std::exp(note / 17.31234f);
}

// Signed square root of an amplitude, the stored form of a level.
int levelOf(float amplitude, int limit)
{
    const float l = std::copysign(1000.0f * std::sqrt(std::fabs(amplitude)), amplitude);
    return int(std::lround(std::clamp(l, -float(limit), float(limit))));
}

// Width whose decay rate 1 / (W^2 x 1e-6 + floor) has the time constant seconds.
uint16_t widthOf(float seconds, float floor)
{
    const float w = 1000.0f * std::sqrt(std::max(seconds - floor, 0.0f));
    return uint16_t(std::lround(std::min(w, 65535.0f)));
}

uint8_t byteOf(float unit)
{
    return uint8_t(std::lround(std::clamp(unit, 0.0f, 1.0f) * 255.0f));
}

// Byte r with r^2 x 0.01 = hz.
uint8_t rateByte(float hz)
{
    return uint8_t(std::lround(std::clamp(10.0f * std::sqrt(std::max(hz, 0.0f)), 0.0f, 255.0f)));
}

// First harmonic of every band record and the number of harmonics it covers.
struct BandSpan
{
    float harmonic; // representative harmonic number (0.5 for record 0)
    int count;
};

std::vector<BandSpan> bandSpans(int records)
{
    std::vector<BandSpan> spans;
    int start = kSingleBands;
    for (int b = 0; b < records; ++b)
    {
        if (b < kSingleBands)
        {
            spans.push_back({b == 0 ? 0.5f : float(b), 1});
            continue;
        }
        int next = int(1.09 * start + 0.5);
        if (b >= kEngineBands - 1 || next > 384) next = std::max(start + 1, 384);
        spans.push_back({0.5f * float(start + next - 1), next - start});
        start = next;
    }
    return spans;
}

float formantGain(const std::vector<Formant>& formants, float hz)
{
    if (formants.empty()) return 1.0f;
    float g = 0.015f;
    for (const Formant& f : formants)
    {
        const float x = (hz - f.hz) / std::max(f.bandwidthHz, 1.0f);
        g += f.amplitude / (1.0f + x * x);
    }
    return g;
}

int8_t envelopeValue(const SoundDescription& d, int band, int frame)
{
    const int t = std::max(d.frames, 1);
    const float u = t > 1 ? float(frame) / float(t - 1) : 0.0f;
    float v = 0.0f;
    switch (d.envelope)
    {
    case Envelope::None:
        return 0;
    case Envelope::Fall:
        v = 1.0f - 2.0f * u;
        break;
    case Envelope::Rise:
        v = 2.0f * u - 1.0f;
        break;
    case Envelope::Wah:
        v = std::sin(6.2831853f * u - 0.25f * float(band));
        break;
    case Envelope::Tremolo:
        v = std::sin(6.2831853f * float(frame) / 4.0f + 0.5f * float(band));
        break;
    }
    return int8_t(std::lround(std::clamp(v * float(d.envelopeDepth), -127.0f, 127.0f)));
}

BlobZone makeZone(const SoundDescription& d, int zoneIndex)
{
    BlobZone z;
    const int key = d.zoneKeys[size_t(zoneIndex)];
    const float f0 = noteHz(float(key));
    z.key = uint8_t(std::clamp(key, 0, 255));
    z.spare1 = uint8_t(zoneIndex);
    z.spare2 = uint8_t(d.zoneKeys.size());
    z.frameCount = uint8_t(std::clamp(d.frames, 0, 255));
    z.frameRate = uint16_t(std::lround(std::clamp(d.frameRateHz * 100.0f, 0.0f, 65535.0f)));
    z.harmonicShareFlag = d.shareFlag;
    z.tuneCents = int16_t((d.tuneAlternate && (zoneIndex & 1)) ? -d.tuneCents : d.tuneCents);
    z.warpWidth = d.warpWidth;
    z.jitterAmount = d.jitterAmount;
    z.jitterRate = d.jitterRate;
    z.vibratoDepth = d.vibratoDepth;

    // Spectrum: raw amplitudes per record, then one scale so that the note's summed peak fits the
    // budget.
    const int records = std::clamp(d.harmonics, 0, 80);
    const std::vector<BandSpan> spans = bandSpans(records);
    std::vector<float> amp(size_t(records), 0.0f);
    std::vector<float> detune(size_t(records), 0.0f);
    std::vector<float> decay(size_t(records), d.decaySeconds);
    if (!d.partials.empty())
    {
        for (const InharmonicPartial& p : d.partials)
        {
            int b = std::clamp(int(std::lround(p.ratio)), 1, std::min(records, kSingleBands) - 1);
            while (b < std::min(records, kSingleBands) - 1 && amp[size_t(b)] != 0.0f)
                ++b;
            const float offset = p.ratio - float(b);
            if (b <= 0 || std::fabs(offset) > 0.99f || amp[size_t(b)] != 0.0f) continue;
            amp[size_t(b)] = p.amplitude * d.level;
            detune[size_t(b)] = offset;
            decay[size_t(b)] = p.decaySeconds;
        }
    }
    else
    {
        for (int b = 0; b < records; ++b)
        {
            const float h = spans[size_t(b)].harmonic;
            float a = d.level * std::pow(std::max(h, 1.0f), -d.tilt);
            if (b == 0)
                a = d.level * d.subLevel;
            else if (b < kSingleBands)
                a *= (b & 1) ? d.oddGain : d.evenGain;
            else
                a *= 0.5f * (d.oddGain + d.evenGain);
            a *= formantGain(d.formants, h * f0);
            amp[size_t(b)] = a;
            detune[size_t(b)] = std::clamp(d.stretch * h * h, -0.99f, 0.99f);
            if (d.decaySeconds > 0.0f) decay[size_t(b)] = d.decaySeconds / (1.0f + 0.04f * h);
        }
    }
    float peak = 0.0f;
    for (int b = 0; b < records; ++b)
        peak += std::fabs(amp[size_t(b)]) * float(spans[size_t(b)].count) * (1.0f + d.transient);
    const float scale = peak > kPeakBudget ? kPeakBudget / peak : 1.0f;

    const uint8_t markStride =
        records > 0 ? uint8_t(std::min<float>(byteOf(d.markStride),
                                              std::floor(kMaxMarkSum * 255.0f / float(records))))
                    : 0;
    for (int b = 0; b < records; ++b)
    {
        const float a = amp[size_t(b)] * scale;
        const float rel = records > 1 ? float(b) / float(records - 1) : 0.0f;
        BandRecord r;
        const bool isPartial = !d.partials.empty();
        if (isPartial)
        {
            r.levelA = int16_t(levelOf(a, 32767));
            r.widthA = widthOf(decay[size_t(b)], 1e-4f);
        }
        else if (d.swellSeconds > 0.0f)
        {
            r.levelA = int16_t(levelOf(-0.9f * a * d.sustain, 32767));
            r.widthA = widthOf(d.swellSeconds, 1e-4f);
            r.levelC = uint16_t(levelOf(a * d.sustain, 65535));
        }
        else
        {
            r.levelA = int16_t(levelOf(a * (1.0f - d.sustain), 32767));
            r.widthA = widthOf(decay[size_t(b)] > 0.0f ? decay[size_t(b)] : 1.0f, 1e-4f);
            r.levelC = uint16_t(levelOf(a * d.sustain, 65535));
        }
        r.levelB = int16_t(levelOf(a * d.transient, 32767));
        r.widthB = widthOf(d.transientSeconds, 1e-4f);
        r.decayShape = byteOf(d.decayShape);
        r.detune = int16_t(std::lround(detune[size_t(b)] * 32767.0f));
        // Spread start phases, so partials do not all peak together.
        r.binOffset = uint8_t((b * b * 7 + b * 3 + zoneIndex * 11) & 0xff);
        r.noisiness = byteOf(d.noise * std::min(1.0f, 0.6f + 0.4f * rel));
        r.noiseWidth = byteOf(d.noiseWidth);
        r.oscDepth = byteOf(d.oscDepth);
        r.oscRate = rateByte(d.oscRateHz * (1.0f + 0.1f * float(b % 3)));
        r.oscPhase = uint8_t((b * 37) & 0xff);
        r.shimmer = byteOf(d.shimmer);
        r.markStride = markStride;
        r.markRate = rateByte(d.markRateHz);
        for (int f = 0; f < z.frameCount; ++f)
            r.envelope.push_back(envelopeValue(d, b, f));
        z.bands.push_back(r);
        if (d.shareFlag != 0) z.shareBytes.push_back(byteOf(d.share * (0.3f + 0.7f * rel)));
    }

    float resonanceSum = 0.0f;
    for (const ResonanceDescription& r : d.resonances)
        resonanceSum += std::fabs(r.amplitude);
    const float resonanceScale = resonanceSum > kResonanceBudget ? kResonanceBudget / resonanceSum : 1.0f;
    for (const ResonanceDescription& rd : d.resonances)
    {
        Resonance r;
        r.level = uint16_t(levelOf(rd.amplitude * resonanceScale, 65535));
        r.width = widthOf(rd.decaySeconds, 1e-5f);
        r.damping = byteOf(rd.damping);
        r.split = byteOf(rd.noisy);
        r.shade = byteOf(rd.bandwidth);
        r.spread = uint16_t(std::lround(std::min(100.0f * std::sqrt(std::max(rd.hz, 0.0f)), 65535.0f)));
        z.resonances.push_back(r);
    }

    if (d.onsetLevel > 0.0f)
    {
        std::array<float, kOnsetBandCount> a{};
        float sum = 0.0f;
        for (int i = 0; i < kOnsetBandCount; ++i)
        {
            const float x = (float(i) * kOnsetBandHz - d.onsetCentreHz) / std::max(d.onsetSpreadHz, 1.0f);
            a[size_t(i)] = d.onsetLevel * std::exp(-x * x);
            sum += a[size_t(i)];
        }
        const float onsetScale = sum > kOnsetBudget ? kOnsetBudget / sum : 1.0f;
        for (int i = 0; i < kOnsetBandCount; ++i)
        {
            OnsetBand& o = z.onsetBands[size_t(i)];
            o.level = uint16_t(levelOf(a[size_t(i)] * onsetScale, 65535));
            const float lowLonger = 1.0f + 0.5f * float(kOnsetBandCount - 1 - i) / float(kOnsetBandCount - 1);
            o.duration = widthOf(d.onsetSeconds * lowLonger, 0.0f);
            o.centre = int8_t(((i * 29 + zoneIndex * 7) % 61) - 30);
            const float delay = d.onsetDelaySeconds * float(i) / float(kOnsetBandCount - 1);
            o.delay = int8_t(std::lround(std::min(1000.0f * std::sqrt(std::max(delay, 0.0f)), 127.0f)));
        }
    }
    return z;
}
} // namespace

std::string entryName(const SoundDescription& d)
{
    std::string n = d.category + "_" + d.name;
    if (!d.suffix.empty()) n += "_" + d.suffix;
    return n;
}

BlobSpec describeBlob(const SoundDescription& d)
{
    BlobSpec desc;
    desc.headerExtra = d.headerExtra;
    desc.gainByte = d.gainByte;
    for (size_t k = 0; k < d.zoneKeys.size(); ++k)
        desc.zones.push_back(makeZone(d, int(k)));
    return desc;
}

std::vector<uint8_t> makeBlob(const SoundDescription& d)
{
    return encodeBlob(describeBlob(d));
}

} // namespace qmbank
