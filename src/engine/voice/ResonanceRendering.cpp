// The resonances of one voice and hop: fixed-frequency partials after the harmonics in the
// partial list, each with its tone and its noise, narrow noise around the tone or wide noise
// straight into the shared spectrum.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/KeySpaceDSP.h"
#include "engine/Random.h"
#include "engine/voice/VoiceHop.h"

using namespace voicehop;

namespace
{
// The resonances' frequency limit as a share of the sample rate.
constexpr float kResonanceLimit = 0.49f;
// Wide resonances spread their noise over bins when wider than this many bins.
constexpr float kWideResonanceBins = 1.2f;
// A trailing resonance at most this loud is dropped for good.
constexpr float kResonanceSilence = 1.0e-6f;
} // namespace

int voicehop::renderResonances(KeySpaceDSP& e, KeyVoice& v, const ToneShape& shape, float t, float f, float hopSeconds,
                               float corrWeight, float spreadWeight, int first) noexcept
{
    // Most voices have no resonances left: they pay for the test alone.
    int resonanceCount = std::clamp(v.activeResonances, 0, kMaxResonances);
    if (resonanceCount == 0)
    {
        v.activeResonances = 0;
        return 0;
    }
    const auto modulated = [&e](int i) noexcept { return e.params[static_cast<std::size_t>(i)].modValue; };
    float* re0 = e.partialAmp[KeySpaceDSP::kPartialRe0].data();
    float* im0 = e.partialAmp[KeySpaceDSP::kPartialIm0].data();
    float* re1 = e.partialAmp[KeySpaceDSP::kPartialRe1].data();
    float* im1 = e.partialAmp[KeySpaceDSP::kPartialIm1].data();
    const float binHz = e.sampleRate / static_cast<float>(kSynthFFTSize);
    const float freqScale = 1.0f + modulated(kParamFreqScale);
    const float freqShift = modulated(kParamFreqShift);
    const float resLimit = kResonanceLimit * e.sampleRate;
    int added = first;
    for (int p = 0; p < resonanceCount; ++p)
    {
        VoiceResonance& res = v.resonances[static_cast<std::size_t>(p)];
        const float fr = freqScale * res.freqHz + freqShift;
        if (!(fr >= 0.0f && fr <= resLimit))
        {
            resonanceCount = p;
            break;
        }
        const uint32_t r1 = static_cast<uint32_t>(engineRand());
        const uint32_t r2 = static_cast<uint32_t>(engineRand());
        const float x = fr / f;
        float a = shape.levelAt(x);
        const float decay = res.decayQuad * t * t;
        a /= approxExp(res.decayLinear * t + decay * decay);
        if (shape.flatten < -0.005f)
            a = 3.0f * shape.flatten2 * a * a + (1.0f - shape.flatten2) * a;
        else if (shape.flatten > 0.005f)
            a = a / (shape.flattenG * a + 1.0f / shape.flattenC);
        if (shape.hiLoOn)
            a *= shape.hiLoResponse(fr);
        const float tonalLevel = res.tonalLevel * a;
        const float noisyLevel = res.noisyLevel * a;
        e.resonanceLevelWork[static_cast<std::size_t>(p)] = std::fabs(tonalLevel) + std::fabs(noisyLevel);
        const uint32_t phase = static_cast<uint32_t>(res.phase) & kPhaseMask;
        const CF rot = e.rotTable[phase];
        CF a0;
        CF a1;
        if (res.bandwidthHz > kWideResonanceBins * binHz)
        {
            // Wide: the noise goes straight into the shared spectrum, the partial keeps the tone.
            const float centre = fr / binHz;
            const float hw = 0.707f * res.bandwidthHz / binHz;
            const int lo = toIntSafe(std::max(0.0f, centre - hw + 1.0f));
            const int hi = toIntSafe(std::min(static_cast<float>(kSynthBins), centre + hw));
            const uint32_t o1 = r1 % 512u;
            const uint32_t o2 = r2 % 512u;
            const float norm = noisyLevel / std::sqrt(1.414f * hw);
            for (int k = lo; k <= hi; ++k)
            {
                const float d = (static_cast<float>(k) - centre) / hw;
                const float wk = (1.0f - d * d) * norm;
                const CF n1 = e.randTable[o1 + static_cast<uint32_t>(k)];
                const CF n2 = e.randTable[o2 + static_cast<uint32_t>(k)];
                e.addSynth->specRe[0][k] += wk * n1.re;
                e.addSynth->specIm[0][k] += wk * n1.im;
                e.addSynth->specRe[1][k] += wk * (corrWeight * n1.re + spreadWeight * n2.re);
                e.addSynth->specIm[1][k] += wk * (corrWeight * n1.im + spreadWeight * n2.im);
            }
            if (lo <= hi)
                e.addSynth->partialsAdded = 1;
            a0 = cscale(rot, tonalLevel);
            a1 = a0;
        }
        else
        {
            // Narrow: band-limited noise around the tone; the bandwidth in Hz becomes a step per hop.
            CF n0;
            CF n1;
            res.noise.getUnitWithStep(res.bandwidthHz * hopSeconds, corrWeight, spreadWeight, n0, n1);
            a0 = cmul({(res.tonalLevel + res.noisyLevel * n0.re) * a, res.noisyLevel * n0.im * a}, rot);
            a1 = cmul({(res.tonalLevel + res.noisyLevel * n1.re) * a, res.noisyLevel * n1.im * a}, rot);
        }
        int32_t pos = toIntSafe(fr * e.binsPerHz);
        if (pos >= kMaxPartialPos || pos < 0)
        {
            pos = 0;
            a0 = {0.0f, 0.0f};
            a1 = {0.0f, 0.0f};
        }
        const auto slot = static_cast<std::size_t>(added);
        e.partialPos[slot] = pos;
        re0[slot] = a0.re;
        im0[slot] = a0.im;
        re1[slot] = a1.re;
        im1[slot] = a1.im;
        ++added;
        res.phase = static_cast<int32_t>((phase + (static_cast<uint32_t>(pos) >> 1)) & kPhaseMask);
    }
    while (resonanceCount > 0 && e.resonanceLevelWork[static_cast<std::size_t>(resonanceCount - 1)] <= kResonanceSilence)
        --resonanceCount;
    v.activeResonances = resonanceCount;
    return resonanceCount;
}
