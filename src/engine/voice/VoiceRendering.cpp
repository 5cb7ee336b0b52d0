// One voice's share of a hop: release, modulation, pitch, gain and the partial list that goes into
// the shared spectrum. Runs on the render thread inside KeySpaceDSP::process: no allocation, no
// locks, and every table index is masked or clamped so that no parameter value or blob can push a
// read or a write outside its array.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/synth/AddSynth.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/synth/FourLanes.h"
#include "engine/KeySpaceDSP.h"
#include "engine/modulation/Modulators.h"
#include "engine/params/ParamTable.h"
#include "engine/Random.h"
#include "engine/dspConstants.h"

namespace
{

// Cheap stand-in for e^x used throughout rendering (always positive).
inline float approxExp(float x) noexcept
{
    const float x2 = x * x;
    return 1.0f + x + 0.5f * x2 + 0.17f * x2 * x2;
}

// approxExp on four lanes.
inline lanes::F4 approxExp4(lanes::F4 x) noexcept
{
    const lanes::F4 x2 = x * x;
    return 1.0f + x + 0.5f * x2 + 0.17f * x2 * x2;
}

// Smooth 0..1 ramp (3 - 2x) x^2.
inline float smoothStep(float x) noexcept { return (3.0f - 2.0f * x) * x * x; }

// Weight of the old value of a smoothed random generator at phase x: 1 - (4 - 3x) x^3. The new
// value's weight is the same function of 1 - x; the pair keeps the power of uncorrelated values.
inline float crossfadeOld(float x) noexcept { return 1.0f - (4.0f - 3.0f * x) * x * x * x; }

inline float clampUnit(float x) noexcept { return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f; }

inline float fraction(float x) noexcept { return x - std::floor(x); }

// Fraction of a value known to be 0 or more: truncation is floor there, and cheaper.
inline float fractionPositive(float x) noexcept
{
    if (x >= 0.0f && x < 2147483520.0f)
        return x - static_cast<float>(static_cast<int32_t>(x));
    return fraction(x);
}

inline CF cmul(CF a, CF b) noexcept { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline CF cscale(CF a, float s) noexcept { return {a.re * s, a.im * s}; }

// Float to int for values that a hostile parameter or blob could push past the int range.
inline int32_t toIntSafe(float x) noexcept
{
    constexpr float kLimit = 1.0e9f;
    if (!(x > -kLimit))
        return x != x ? 0 : -static_cast<int32_t>(kLimit);
    if (x > kLimit)
        return static_cast<int32_t>(kLimit);
    return static_cast<int32_t>(x);
}

constexpr float kNoteHzAtZero = 8.175799f;   // MIDI note 0 in Hz
constexpr float kSemitonesPerE = 17.31234f;  // 12 / ln 2
constexpr float kDbToExp = 0.115129255f;     // ln 10 / 20
constexpr float kPosRound = 0.49f;
// Highest harmonic frequency as a share of the sample rate, and the resonances' limit.
constexpr float kHarmonicLimit = 0.45f;
constexpr float kResonanceLimit = 0.49f;
// Partials at or beyond this position would reach past the spectrum's guard bins; they are dropped.
constexpr int32_t kMaxPartialPos = (kSynthBins + 1) << kPosFracBits;
// A harmonic whose noisy part is at most this share of its tonal part is rendered as a pure tone.
constexpr float kNoiseThreshold = 0.001f;
// Partials rendered with the 8-tap kernel; the rest use 4 taps.
constexpr int kFineKernelPartials = 8;
constexpr int kFineKernelQuality = 2;
constexpr int kCoarseKernelQuality = 1;
// Harmonic deviation window of sounds with a harmonic share, in 1024ths of a turn.
constexpr int32_t kShareLowPhase = 64;
constexpr int32_t kShareHighPhase = 960;
// Renewals of the share pairs per second and per unit of share time x frequency.
constexpr float kShareRenewRate = 20.0f;
constexpr float kUnitComplexScale = 0.707f;
// Wide resonances spread their noise over bins when wider than this many bins.
constexpr float kWideResonanceBins = 1.2f;
constexpr float kResonanceSilence = 1.0e-6f;

} // namespace

namespace
{

using namespace lanes;

// Largest spectrum shift kept; far beyond it every partial lies outside the spectrum anyway.
constexpr float kMaxShift = 16777216.0f;

// What the per-harmonic passes of one voice and hop share.
struct HarmonicHop
{
    int count = 0;
    float formantRatio = 1.0f;
    float lifeFactor = 1.0f;
    float binPos = 0.0f;
    float shift = 0.0f;
    uint32_t midPhase = 0;
    uint32_t rotSpread = 0;
    float corrWeight = 1.0f;
    float spreadWeight = 0.0f;
    int shareOffset = 0;
    float shareOldWeight = 0.0f;
    float shareNewWeight = 0.0f;
    const CF* shareOld = nullptr;
    const CF* shareNew = nullptr;
    int farEar = 1;
    float shadowInv = 0.0f;
    uint32_t farStep = 0;
};

// Each harmonic's amplitude per channel from its formant-shifted band position, its band's
// oscillation and, for noisy bands, its own band-limited noise.
void harmonicAmplitudes(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    CF* amp0 = e.partialAmp[0].data();
    CF* amp1 = e.partialAmp[1].data();
    const float* tonalW = e.bandTonalWork.data();
    const float* noisyW = e.bandNoisyWork.data();
    const float* widthW = e.bandWidthWork.data();
    std::array<int, kMaxHarmonics> noisyIndex;
    std::array<float, kMaxHarmonics> noisyWidth;
    int noisyCount = 0;

    // Groups of four harmonics; noisy ones are finished below, so that this loop stays free of calls.
    const int blocks = (hh.count / kLanes) * kLanes;
    const I4 laneIndex = {0, 1, 2, 3};
    for (int h0 = 0; h0 < blocks; h0 += kLanes)
    {
        const F4 scaled = toFloat(h0 + laneIndex) * hh.formantRatio;
        F4 hpos = select(1.0f < scaled, scaled, splat(1.0f));
        if (h0 == 0)
            hpos[0] = 0.0f;
        const I4 whole = toInt(hpos);
        const I4 hidx = selectI(kMaxHarmonics - 1 < whole, splatI(kMaxHarmonics - 1), whole);
        std::array<std::size_t, kLanes> pos{};
        std::array<const VoiceBand*, kLanes> band{};
        for (int k = 0; k < kLanes; ++k)
        {
            pos[static_cast<std::size_t>(k)] =
                static_cast<std::size_t>(e.harmBandPos[static_cast<std::size_t>(std::max(hidx[k], 0))]);
            band[static_cast<std::size_t>(k)] = &v.bands[static_cast<std::size_t>(e.harmBand[static_cast<std::size_t>(h0 + k)])];
        }
        const auto at = [&pos](const float* table, int k, std::size_t next) noexcept {
            return table[pos[static_cast<std::size_t>(k)] + next];
        };
        const F4 start = gather4([&](int k) noexcept { return static_cast<float>(e.bandStart[pos[static_cast<std::size_t>(k)]]); });
        const F4 invWidth = gather4([&](int k) noexcept { return at(e.bandInvWidth.data(), k, 0); });
        const F4 tonal0 = gather4([&](int k) noexcept { return at(tonalW, k, 0); });
        const F4 tonal1 = gather4([&](int k) noexcept { return at(tonalW, k, 1); });
        const F4 noisy0 = gather4([&](int k) noexcept { return at(noisyW, k, 0); });
        const F4 noisy1 = gather4([&](int k) noexcept { return at(noisyW, k, 1); });
        const F4 width0 = gather4([&](int k) noexcept { return at(widthW, k, 0); });
        const F4 width1 = gather4([&](int k) noexcept { return at(widthW, k, 1); });
        const F4 oscRate = gather4([&](int k) noexcept { return band[static_cast<std::size_t>(k)]->oscRate; });
        const F4 depth1 = gather4([&](int k) noexcept { return band[static_cast<std::size_t>(k)]->oscDepth1; });
        const F4 depth2 = gather4([&](int k) noexcept { return band[static_cast<std::size_t>(k)]->oscDepth2; });
        F4 phase = gather4([&](int k) noexcept { return v.harmonics[static_cast<std::size_t>(h0 + k)].oscPhase; });
        const F4 x = (hpos - start) * invWidth;
        const F4 tonal = tonal0 + x * (tonal1 - tonal0);
        const F4 noisy = noisy0 + x * (noisy1 - noisy0);

        // The fraction by truncation where that is floor (see fractionPositive), else lane by lane.
        phase = phase + oscRate;
        const I4 plain = (phase >= 0.0f) & (phase < 2147483520.0f);
        const F4 fast = phase - toFloat(toInt(phase));
        if (allLanes(plain))
            phase = fast;
        else
            phase = gather4([&](int k) noexcept { return plain[k] != 0 ? fast[k] : fraction(phase[k]); });
        for (int k = 0; k < kLanes; ++k)
            v.harmonics[static_cast<std::size_t>(h0 + k)].oscPhase = phase[k];
        const F4 y = phase - 0.5f;
        const F4 y2 = y * y;
        const F4 sine = y * (6.2790036f + y2 * (-41.104263f + y2 * (77.99433f + y2 * -56.165348f)));
        const CF4 rot{depth1, depth2 * sine};
        const I4 pure = noisy <= kNoiseThreshold * tonal;
        const CF4 tonalAmp = cscale4(rot, tonal);
        storeCF4(amp0 + h0, {select(pure, tonalAmp.re, rot.re), select(pure, tonalAmp.im, rot.im)});
        storeCF4(amp1 + h0, {select(pure, tonalAmp.re, tonal), select(pure, tonalAmp.im, noisy)});
        const F4 width = width0 + x * (width1 - width0);
        for (int k = 0; k < kLanes; ++k)
        {
            noisyIndex[static_cast<std::size_t>(noisyCount)] = h0 + k;
            noisyWidth[static_cast<std::size_t>(noisyCount)] = width[k];
            noisyCount += pure[k] != 0 ? 0 : 1;
        }
    }

    for (int h = blocks; h < hh.count; ++h)
    {
        const auto sh = static_cast<std::size_t>(h);
        const float hpos = h == 0 ? 0.0f : std::max(1.0f, static_cast<float>(h) * hh.formantRatio);
        const int hidx = std::clamp(static_cast<int>(hpos), 0, kMaxHarmonics - 1);
        const auto c = static_cast<std::size_t>(e.harmBandPos[static_cast<std::size_t>(hidx)]);
        const float x = (hpos - static_cast<float>(e.bandStart[c])) * e.bandInvWidth[c];
        const float tonal = tonalW[c] + x * (tonalW[c + 1] - tonalW[c]);
        const float noisy = noisyW[c] + x * (noisyW[c + 1] - noisyW[c]);
        const VoiceBand& band = v.bands[static_cast<std::size_t>(e.harmBand[sh])];
        VoiceHarmonic& hr = v.harmonics[sh];

        hr.oscPhase = fractionPositive(hr.oscPhase + band.oscRate);
        const float y = hr.oscPhase - 0.5f;
        const float y2 = y * y;
        const float sine = y * (6.2790036f + y2 * (-41.104263f + y2 * (77.99433f + y2 * -56.165348f)));
        const CF rot{band.oscDepth1, band.oscDepth2 * sine};
        if (noisy <= kNoiseThreshold * tonal)
        {
            amp0[h] = cscale(rot, tonal);
            amp1[h] = amp0[h];
        }
        else
        {
            amp0[h] = rot;
            amp1[h] = {tonal, noisy};
            noisyIndex[static_cast<std::size_t>(noisyCount)] = h;
            noisyWidth[static_cast<std::size_t>(noisyCount)] = widthW[c] + x * (widthW[c + 1] - widthW[c]);
            ++noisyCount;
        }
    }
    int done = 0;
    for (; done + kLanes <= noisyCount; done += kLanes)
    {
        std::array<BandLimNoiseCS*, kLanes> sources{};
        std::array<int, kLanes> hs{};
        for (int k = 0; k < kLanes; ++k)
        {
            hs[static_cast<std::size_t>(k)] = noisyIndex[static_cast<std::size_t>(done + k)];
            sources[static_cast<std::size_t>(k)] = &v.harmonics[static_cast<std::size_t>(hs[static_cast<std::size_t>(k)])].noise;
        }
        F4 step;
        std::memcpy(&step, noisyWidth.data() + done, sizeof(step));
        CF4 n0;
        CF4 n1;
        BandLimNoiseCS::getUnitWithStep4(sources.data(), step, hh.corrWeight, hh.spreadWeight, n0, n1);
        const auto lane = [&hs](int k) noexcept { return hs[static_cast<std::size_t>(k)]; };
        const CF4 rot{gather4([&](int k) noexcept { return amp0[lane(k)].re; }), gather4([&](int k) noexcept { return amp0[lane(k)].im; })};
        const F4 tonal = gather4([&](int k) noexcept { return amp1[lane(k)].re; });
        const F4 noisy = gather4([&](int k) noexcept { return amp1[lane(k)].im; });
        const CF4 a0 = cmul4({noisy * n0.re + tonal, noisy * n0.im}, rot);
        const CF4 a1 = cmul4({noisy * n1.re + tonal, noisy * n1.im}, rot);
        for (int k = 0; k < kLanes; ++k)
        {
            amp0[lane(k)] = {a0.re[k], a0.im[k]};
            amp1[lane(k)] = {a1.re[k], a1.im[k]};
        }
    }
    for (int i = done; i < noisyCount; ++i)
    {
        const int h = noisyIndex[static_cast<std::size_t>(i)];
        const CF rot = amp0[h];
        const float tonal = amp1[h].re;
        const float noisy = amp1[h].im;
        CF n0;
        CF n1;
        v.harmonics[static_cast<std::size_t>(h)].noise.getUnitWithStep(noisyWidth[static_cast<std::size_t>(i)], hh.corrWeight,
                                                                        hh.spreadWeight, n0, n1);
        amp0[h] = cmul({noisy * n0.re + tonal, noisy * n0.im}, rot);
        amp1[h] = cmul({noisy * n1.re + tonal, noisy * n1.im}, rot);
    }
}

// Harmonic placement for whole groups of four harmonics; returns how many it placed (a multiple of
// four), leaving the rest to the scalar loop. farPhase moves on as the scalar loop moves it.
template <bool kSharing, bool kBinaural>
int harmonicPlacementBlocks(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh, uint32_t& farPhase) noexcept
{
    static_assert(kSingleHarmonicBands % kLanes == 0, "a group never straddles the single-harmonic bands");
    CF* amp0 = e.partialAmp[0].data();
    CF* amp1 = e.partialAmp[1].data();
    int32_t* positions = e.partialPos.data();
    const CF* rotTable = e.rotTable.data();
    const int blocks = (hh.count / kLanes) * kLanes;
    const F4 binPos = splat(hh.binPos);
    const F4 shift = splat(hh.shift);
    const F4 posRound = splat(kPosRound);
    const I4 phaseMask = splatI(kPhaseMask);
    const I4 laneIndex = {0, 1, 2, 3};
    for (int h0 = 0; h0 < blocks; h0 += kLanes)
    {
        const I4 own = gatherI4([&](int k) noexcept { return e.harmBand[static_cast<std::size_t>(h0 + k)]; });
        const F4 detune = gather4([&](int k) noexcept { return v.bands[static_cast<std::size_t>(own[k])].detune; });
        const I4 phaseOffset = gatherI4([&](int k) noexcept { return v.bands[static_cast<std::size_t>(own[k])].phaseOffset; });
        const I4 word = gatherI4([&](int k) noexcept { return v.harmonics[static_cast<std::size_t>(h0 + k)].phase; }) & phaseMask;
        CF4 a0 = loadCF4(amp0 + h0);
        CF4 a1 = loadCF4(amp1 + h0);

        const F4 det = hh.lifeFactor * detune;
        F4 delta = det;
        I4 offset = phaseOffset;
        if (h0 >= kSingleHarmonicBands)
        {
            F4 rt;
            F4 rt64;
            std::memcpy(&rt, e.randTableReal.data() + h0, sizeof(rt));
            std::memcpy(&rt64, e.randTableReal.data() + h0 + 64, sizeof(rt64));
            delta = det * rt;
            const F4 mu = select(det < 0.134f, det, splat(0.134f));
            const F4 scale = 4.0f * mu * rt64 + 1.0f - mu;
            a0 = cscale4(a0, scale);
            a1 = cscale4(a1, scale);
            offset = toInt(toFloat(phaseOffset) * rt);
        }
        I4 step = toInt(toFloat(toInt(delta * binPos + posRound)) + shift + posRound) >> 1;
        I4 keepDelta = splatI(-1);
        if constexpr (kSharing)
        {
            const I4 next = word + step;
            const I4 low = (word == 0) | (next < kShareLowPhase);
            const I4 high = ~low & (next > kShareHighPhase);
            step = selectI(low, -word, selectI(high, kPhaseUnits - word, step));
            keepDelta = ~(low | high);
        }
        const I4 hIndex = h0 + laneIndex;
        F4 mh = toFloat(hIndex);
        if (h0 == 0)
            mh[0] = 0.5f;
        const F4 posF = (mh + select(keepDelta, delta, splat(0.0f))) * binPos + posRound + shift + posRound;
        const I4 inside = (posF >= 1.0f) & (posF < static_cast<float>(kMaxPartialPos));
        const I4 pos = toInt(posF) & inside;
        U4 base = reinterpret_cast<U4>(hIndex) * hh.midPhase;
        if (h0 == 0)
            base[0] = hh.midPhase >> 1;
        const U4 idx0 = (base + reinterpret_cast<U4>(offset) + reinterpret_cast<U4>(word) + reinterpret_cast<U4>(step >> 1)) &
                        static_cast<uint32_t>(kPhaseMask);
        const U4 idx1 = (idx0 + hh.rotSpread) & static_cast<uint32_t>(kPhaseMask);
        a0 = cmul4(a0, gatherCF4(rotTable, idx0));
        a1 = cmul4(a1, gatherCF4(rotTable, idx1));
        const I4 newPhase = (word + step) & phaseMask;
        for (int k = 0; k < kLanes; ++k)
            v.harmonics[static_cast<std::size_t>(h0 + k)].phase = newPhase[k];

        if constexpr (kSharing)
        {
            F4 hw;
            std::memcpy(&hw, e.harmBandWeight.data() + h0, sizeof(hw));
            const F4 share0 = gather4([&](int k) noexcept { return v.bandShare[static_cast<std::size_t>(own[k])]; });
            const F4 share1 = gather4([&](int k) noexcept {
                return v.bandShare[std::min<std::size_t>(static_cast<std::size_t>(own[k]) + 1, kMaxBands - 1)];
            });
            const F4 cs = share0 * hw + share1 * (1.0f - hw);
            const F4 c2 = 1.0f - cs * cs;
            const F4 c2Pos = select(0.0f < c2, c2, splat(0.0f));
            const F4 coherent = sqrt4(c2Pos);
            const I4 shareIndex = h0 + laneIndex + hh.shareOffset;
            const U4 i1 = reinterpret_cast<U4>(
                selectI(KeyVoice::kMaxSharePairs - 1 < shareIndex, splatI(KeyVoice::kMaxSharePairs - 1), shareIndex));
            const CF4 nw0 = loadCF4(hh.shareNew + h0);
            const CF4 od0 = loadCF4(hh.shareOld + h0);
            const CF4 nw1 = gatherCF4(hh.shareNew, i1);
            const CF4 od1 = gatherCF4(hh.shareOld, i1);
            const F4 nW = splat(hh.shareNewWeight);
            const F4 oW = splat(hh.shareOldWeight);
            const CF4 p0{nW * nw0.re + oW * od0.re, nW * nw0.im + oW * od0.im};
            const CF4 p1{nW * nw1.re + oW * od1.re, nW * nw1.im + oW * od1.im};
            a0 = cmul4(a0, {coherent + cs * p0.re, cs * p0.im});
            a1 = cmul4(a1, {coherent + cs * p1.re, cs * p1.im});
        }
        a0.re = select(inside, a0.re, splat(0.0f));
        a0.im = select(inside, a0.im, splat(0.0f));
        a1.re = select(inside, a1.re, splat(0.0f));
        a1.im = select(inside, a1.im, splat(0.0f));
        if constexpr (kBinaural)
        {
            const F4 xs = toFloat(pos) * hh.shadowInv;
            const U4 far = (farPhase - U4{0, 1, 2, 3} * hh.farStep) & static_cast<uint32_t>(kPhaseMask);
            farPhase -= static_cast<uint32_t>(kLanes) * hh.farStep;
            const CF4 r = gatherCF4(rotTable, far);
            const CF4 turn{-r.im, r.re};
            const F4 shadow = 1.0f / (xs * xs + 1.0f);
            if (hh.farEar == 0)
                a0 = cmul4(cscale4(a0, shadow), turn);
            else
                a1 = cmul4(cscale4(a1, shadow), turn);
        }
        std::memcpy(positions + h0, &pos, sizeof(pos));
        storeCF4(amp0 + h0, a0);
        storeCF4(amp1 + h0, a1);
    }
    return blocks;
}

// Position and phase of each harmonic, then the stereo share and the far ear's shadow and
// delay. The branches on share and binaural are taken once per voice, not per harmonic.
template <bool kSharing, bool kBinaural>
void harmonicPlacement(KeySpaceDSP& e, KeyVoice& v, const HarmonicHop& hh) noexcept
{
    CF* amp0 = e.partialAmp[0].data();
    CF* amp1 = e.partialAmp[1].data();
    int32_t* positions = e.partialPos.data();
    const CF* rotTable = e.rotTable.data();
    uint32_t farPhase = 0;
    const float binPos = hh.binPos;
    const float shift = hh.shift;
    const int placed = harmonicPlacementBlocks<kSharing, kBinaural>(e, v, hh, farPhase);
    for (int h = placed; h < hh.count; ++h)
    {
        const auto sh = static_cast<std::size_t>(h);
        const auto own = static_cast<std::size_t>(e.harmBand[sh]);
        const VoiceBand& band = v.bands[own];
        VoiceHarmonic& hr = v.harmonics[sh];
        CF a0 = amp0[h];
        CF a1 = amp1[h];

        const float det = hh.lifeFactor * band.detune;
        float delta = det;
        int32_t offset = band.phaseOffset;
        if (h >= kSingleHarmonicBands)
        {
            // Higher harmonics scatter their detune and their level by fixed random factors.
            const float rt = e.randTableReal[sh];
            delta = det * rt;
            const float mu = std::min(0.134f, det);
            const float scale = 4.0f * mu * e.randTableReal[sh + 64] + 1.0f - mu;
            a0 = cscale(a0, scale);
            a1 = cscale(a1, scale);
            offset = static_cast<int32_t>(static_cast<float>(band.phaseOffset) * rt);
        }
        int32_t step = static_cast<int32_t>(static_cast<float>(static_cast<int32_t>(delta * binPos + kPosRound)) + shift + kPosRound) >> 1;
        const int32_t word = hr.phase & kPhaseMask;
        bool keepDelta = true;
        if constexpr (kSharing)
        {
            const int32_t next = word + step;
            if (word == 0 || next < kShareLowPhase)
            {
                step = -word;
                keepDelta = false;
            }
            else if (next > kShareHighPhase)
            {
                step = kPhaseUnits - word;
                keepDelta = false;
            }
        }
        const float mh = h == 0 ? 0.5f : static_cast<float>(h);
        const float posF = (mh + (keepDelta ? delta : 0.0f)) * binPos + kPosRound + shift + kPosRound;
        const bool inside = posF >= 1.0f && posF < static_cast<float>(kMaxPartialPos);
        const int32_t pos = inside ? static_cast<int32_t>(posF) : 0;
        const uint32_t base = h == 0 ? (hh.midPhase >> 1) : static_cast<uint32_t>(h) * hh.midPhase;
        const uint32_t idx0 =
            (base + static_cast<uint32_t>(offset) + static_cast<uint32_t>(word) + static_cast<uint32_t>(step >> 1)) & kPhaseMask;
        const uint32_t idx1 = (idx0 + hh.rotSpread) & kPhaseMask;
        a0 = cmul(a0, rotTable[idx0]);
        a1 = cmul(a1, rotTable[idx1]);
        hr.phase = static_cast<int32_t>(static_cast<uint32_t>(word + step) & kPhaseMask);

        if constexpr (kSharing)
        {
            const float hw = e.harmBandWeight[sh];
            const float cs = v.bandShare[own] * hw + v.bandShare[std::min<std::size_t>(own + 1, kMaxBands - 1)] * (1.0f - hw);
            const float coherent = std::sqrt(std::max(0.0f, 1.0f - cs * cs));
            const auto i1 = static_cast<std::size_t>(std::min(h + hh.shareOffset, KeyVoice::kMaxSharePairs - 1));
            const CF* nw = hh.shareNew;
            const CF* od = hh.shareOld;
            const CF p0{hh.shareNewWeight * nw[sh].re + hh.shareOldWeight * od[sh].re,
                        hh.shareNewWeight * nw[sh].im + hh.shareOldWeight * od[sh].im};
            const CF p1{hh.shareNewWeight * nw[i1].re + hh.shareOldWeight * od[i1].re,
                        hh.shareNewWeight * nw[i1].im + hh.shareOldWeight * od[i1].im};
            a0 = cmul(a0, {coherent + cs * p0.re, cs * p0.im});
            a1 = cmul(a1, {coherent + cs * p1.re, cs * p1.im});
        }
        if (!inside)
        {
            a0 = {0.0f, 0.0f};
            a1 = {0.0f, 0.0f};
        }
        if constexpr (kBinaural)
        {
            // rotTable[u] is -i e^(2 pi i u / 1024); the delay turns by e^(2 pi i u / 1024) alone,
            // so that the first partial (u = 0) and a centred sound keep both ears in phase.
            const float xs = static_cast<float>(pos) * hh.shadowInv;
            const CF r = rotTable[farPhase & kPhaseMask];
            const CF turn{-r.im, r.re};
            const float shadow = 1.0f / (xs * xs + 1.0f);
            if (hh.farEar == 0)
                a0 = cmul(cscale(a0, shadow), turn);
            else
                a1 = cmul(cscale(a1, shadow), turn);
            farPhase -= hh.farStep;
        }
        positions[h] = pos;
        amp0[h] = a0;
        amp1[h] = a1;
    }
}

} // namespace

void KeySpaceDSP::renderVoiceHop(KeyVoice& v, const HopContext& hop, ModChains& chains) noexcept
{
    const float hopSeconds = hop.hopSeconds;
    const auto plain = [this](int i) noexcept { return params[static_cast<std::size_t>(i)].value; };
    const auto modulated = [this](int i) noexcept { return params[static_cast<std::size_t>(i)].modValue; };
    const auto unit = [this](int i) noexcept {
        const Param& p = params[static_cast<std::size_t>(i)];
        return p.convertValToUnit(p.value);
    };

    // Every counted voice's modulators run, free or not, so per-voice LFOs keep their phase.
    modulators->process(v.mod, hopSeconds, hop.beats, hop.hostPos, &globalMod, false);

    if (v.state == 0)
        return;

    ChannelState& chan = channelState(v.channel);

    // Release. A zero (or broken) release time ends the voice at once, even with the pedal down,
    // instead of dividing 0 by 0 into a NaN progress that would also make the voice unstealable.
    if (v.state == 2)
    {
        const float sustain = clampUnit(chan.sustain);
        chan.sustain = sustain;
        const float release = plain(kParamRelease);
        const float increment = (1.0f - sustain) * hopSeconds / release;
        if (!(release > 0.0f) || !(increment >= 0.0f))
        {
            v.releaseProgress = 1.0f;
            v.state = 0;
            return;
        }
        v.releaseProgress += increment;
        if (v.releaseProgress >= 1.0f)
        {
            v.releaseProgress = 1.0f;
            v.state = 0;
            return;
        }
        const float damping = unit(kParamDamping);
        v.dampProgress += increment * damping * damping;
    }

    // The voice's modulation, before anything below reads a modulated value.
    applyModulationForVoice(&v, &chains);

    // Time in the sound. Before the sound begins the voice is silent, but its time moves on.
    float warpStep = modulated(kParamTimeWarp) * hopSeconds;
    const float tRaw = v.timePos + modulated(kParamTimeshift);
    if (!(tRaw + warpStep >= 0.0f))
    {
        v.timePos += warpStep;
        return;
    }
    const float t = std::max(0.0f, tRaw);

    // The voice's current mix; the set-up re-blends only when the mix has moved.
    const NodeMix mix = getMixDataForVoice(&v);
    setVoiceData(&v, mix);

    // Pitch offset of the sound, decaying towards the played pitch.
    const float lifeFactor = 1.0f + plain(kParamLife) * 0.01f;
    const float soundOffset = v.soundPitchOffset * lifeFactor / approxExp(v.pitchDecayRate * t);

    const float bendSemitones = chan.bend * plain(kParamBendRange);

    // Vibrato, faded in over the note's time.
    const float vibLife = unit(kParamVibratoLife);
    const float vibDepth = vibLife * (0.5f * vibLife + 0.5f);
    const float vib = v.vibrato.step(plain(kParamVibratoRate) * hopSeconds, vibDepth, 0.0f, false);
    const float vibratoSemitones =
        (plain(kParamVibratoModWheel) * chan.modWheel + v.vibratoDepth) * t / (t + 1.0f) * vib;

    // Pitch jitter.
    v.jitterPhase += v.jitterRate * hopSeconds;
    if (v.jitterPhase >= 1.0f)
    {
        v.jitterOld = v.jitterNew;
        v.jitterNew = v.jitterAmplitude * getCanonRandFloat();
        v.jitterPhase = fraction(v.jitterPhase);
    }
    {
        const float s = smoothStep(v.jitterPhase);
        v.jitterValue = s * v.jitterNew + (1.0f - s) * v.jitterOld;
    }

    // Glide (a zero glide time jumps to the note).
    const float glideTime = plain(kParamGlideTime);
    const float glide = glideTime > 0.0f ? std::exp(-2.0f * hopSeconds / glideTime) : 0.0f;
    v.pitch = glide * v.pitch + (1.0f - glide) * static_cast<float>(v.note);

    // Frequency.
    const float total = soundOffset + v.pitch + bendSemitones + plain(kParamDetune) * 0.01f + vibratoSemitones +
                        v.jitterValue;
    const float freq = kNoteHzAtZero * std::exp(total / kSemitonesPerE);
    const float f = freq * (1.0f + modulated(kParamFreqScale));
    if (!(f > 0.0f) || !std::isfinite(f))
        return;

    // Emphasis: a smooth positive part of 1 + emphasis x vibrato.
    const float emph = 1.0f + unit(kParamVibratoEmphasis) * vibratoSemitones;
    const float emphGain = 0.5f * emph + 0.5f * std::sqrt(emph * emph + 0.1f);

    // Spectrum position. The phase accumulator keeps only its low bits, in unsigned arithmetic;
    // only the low 10 bits (11 for the half-fundamental) of the products below are ever used.
    const float binPos = f * binsPerHz;
    const float shift = binsPerHz * modulated(kParamFreqShift);
    const uint32_t phaseBefore = static_cast<uint32_t>(v.phaseAcc);
    const uint32_t midPhase = static_cast<uint32_t>(toIntSafe(0.25f * binPos + kPosRound)) + phaseBefore;
    v.phaseAcc = static_cast<int32_t>((phaseBefore + static_cast<uint32_t>(toIntSafe(0.5f * binPos + kPosRound))) &
                                      0x7fffffffu);

    // Gain.
    float gain = std::exp(modulated(kParamGain) * kDbToExp) * emphGain;

    // Attack: a boost at the onset, or a fade-in that also slows the sound's time.
    if (v.attackProgress < 1.0f)
    {
        const float p = v.attackProgress;
        const float a = plain(kParamAttack) * 0.01f;
        if (a >= 0.0f)
        {
            gain *= 1.0f + 4.0f * a * a * smoothStep(0.5f - 0.5f * p);
            v.attackProgress = p + hopSeconds / 0.15f;
        }
        else
        {
            const float s = smoothStep(p);
            gain *= s;
            v.attackProgress = p + hopSeconds / (2.0f * a * a);
            warpStep *= 0.2f + 0.8f * std::sqrt(std::max(0.0f, s));
        }
    }

    // Release fade.
    {
        const float r = 1.0f - v.releaseProgress;
        const float r2 = r * r;
        gain *= r2 * r2;
    }

    // Mark generators; their values form a list closed by a 0.
    const int markCount = std::clamp(v.markCount, 0, kBandTableSize);
    for (int m = 0; m < markCount; ++m)
    {
        VoiceMark& mk = v.marks[static_cast<std::size_t>(m)];
        mk.phase += mk.rate * hopSeconds;
        if (mk.phase >= 1.0f)
        {
            mk.oldTarget = mk.newTarget;
            mk.newTarget = getCanonRandFloat();
            mk.phase = fraction(mk.phase);
        }
        const float p = mk.phase;
        mk.value = crossfadeOld(1.0f - p) * mk.newTarget + crossfadeOld(p) * mk.oldTarget;
        markValueWork[static_cast<std::size_t>(m)] = mk.value;
    }
    markValueWork[static_cast<std::size_t>(markCount)] = 0.0f;

    const int activeBands = std::clamp(v.activeBands, 0, kMaxBands);
    const float brightness = modulated(kParamBrightness);
    const float brightPos = std::max(brightness, 0.0f);
    const float brightNeg = std::max(-brightness, 0.0f) + v.dampProgress;
    const float brightNeg2 = brightNeg * brightNeg;

    // Band gain and band amplitude, four bands at a time and the rest one by one. The mark
    // index is the clamped truncation of the running sum (a NaN reads mark 0), as toIntSafe and
    // std::clamp give it.
    const int bandGroups = (activeBands / kLanes) * kLanes;
    for (int b0 = 0; b0 < bandGroups; b0 += kLanes)
    {
        const auto bandAt = [&](int k) noexcept -> const VoiceBand& { return v.bands[static_cast<std::size_t>(b0 + k)]; };
        const F4 hb = gather4([&](int k) noexcept { return static_cast<float>(bandStart[static_cast<std::size_t>(b0 + k)]); });
        const F4 bandGain = (gain + 0.2f * gain * brightPos * hb) / (1.0f + 0.05f * brightPos * hb + 0.5f * brightNeg2 * hb * hb);
        const F4 f4 = gather4([&](int k) noexcept { return bandAt(k).decayShape; });
        const F4 sharpA = gather4([&](int k) noexcept { return bandAt(k).sharpA; });
        const F4 sharpB = gather4([&](int k) noexcept { return bandAt(k).sharpB; });
        const F4 d1 = (f4 * f4 * sharpA * t + 1.0f - f4) * sharpA * t;
        const F4 d2 = sharpB * t;
        const F4 p1 = approxExp4(d1);
        F4 rs;
        std::memcpy(&rs, v.bandRunningSum.data() + b0, sizeof(rs));
        const F4 markTop = splat(static_cast<float>(markCount));
        const F4 rsLow = select(rs > 0.0f, rs, splat(0.0f));
        const I4 k = toInt(select(rsLow < markTop, rsLow, markTop));
        const F4 frac = rs - toFloat(k);
        const F4 fracUnit = select(frac > 0.0f, select(frac < 1.0f, frac, splat(1.0f)), splat(0.0f));
        const F4 s = (3.0f - 2.0f * fracUnit) * fracUnit * fracUnit;
        const F4 mark0 = gather4([&](int i) noexcept { return markValueWork[static_cast<std::size_t>(k[i])]; });
        const F4 mark1 = gather4([&](int i) noexcept { return markValueWork[static_cast<std::size_t>(std::min(k[i] + 1, markCount))]; });
        const F4 jitter = (1.0f - s) * mark0 + s * mark1;
        const F4 levelA = gather4([&](int i) noexcept { return bandAt(i).levelA; });
        const F4 levelB = gather4([&](int i) noexcept { return bandAt(i).levelB; });
        const F4 levelC = gather4([&](int i) noexcept { return bandAt(i).levelC; });
        const F4 level = levelA / p1 + levelB / (p1 * approxExp4(d2)) + levelC;
        F4 mean19;
        std::memcpy(&mean19, v.bandMean19.data() + b0, sizeof(mean19));
        const F4 amp = (1.0f + mean19 * lifeFactor * jitter) * bandGain * level;
        const F4 ampPos = select(0.0f < amp, amp, splat(0.0f));
        std::memcpy(bandAmpWork.data() + b0, &ampPos, sizeof(ampPos));
        std::memcpy(bandEnvWork.data() + b0, &bandGain, sizeof(bandGain));
    }
    for (int b = bandGroups; b < activeBands; ++b)
    {
        const VoiceBand& band = v.bands[static_cast<std::size_t>(b)];
        const float hb = static_cast<float>(bandStart[static_cast<std::size_t>(b)]);
        const float bandGain = (gain + 0.2f * gain * brightPos * hb) / (1.0f + 0.05f * brightPos * hb + 0.5f * brightNeg2 * hb * hb);
        const float f4 = band.decayShape;
        const float d1 = (f4 * f4 * band.sharpA * t + 1.0f - f4) * band.sharpA * t;
        const float d2 = band.sharpB * t;
        const float p1 = approxExp(d1);
        const float rs = v.bandRunningSum[static_cast<std::size_t>(b)];
        const int k = std::clamp(toIntSafe(rs), 0, markCount);
        const float frac = clampUnit(rs - static_cast<float>(k));
        const float s = smoothStep(frac);
        const float jitter = (1.0f - s) * markValueWork[static_cast<std::size_t>(k)] +
                             s * markValueWork[static_cast<std::size_t>(std::min(k + 1, markCount))];
        const float level = band.levelA / p1 + band.levelB / (p1 * approxExp(d2)) + band.levelC;
        const float amp = (1.0f + v.bandMean19[static_cast<std::size_t>(b)] * lifeFactor * jitter) * bandGain * level;
        bandAmpWork[static_cast<std::size_t>(b)] = std::max(0.0f, amp);
        bandEnvWork[static_cast<std::size_t>(b)] = bandGain;
    }

    // Envelope frames of the mixed sounds. A frame position past the end is a test, not a
    // loop; positions before the first frame read frame 0.
    {
        std::array<float, kBandTableSize> accum{};
        float ended = 0.0f;
        bool anyFrames = false;
        int bandsUsed = 0;
        const int slots = std::clamp(v.soundSlots, 0, kMaxSoundSlots);
        for (int j = 0; j < slots; ++j)
        {
            const auto sj = static_cast<std::size_t>(j);
            const uint8_t* env = v.slotEnvelope[sj];
            const int frames = v.slotFrameCount[sj];
            if (env == nullptr || frames <= 0)
                continue;
            const float warp = v.slotWarp[sj];
            float framePos =
                ((1.0f - 1.0f / approxExp(t * warp)) * v.slotTuneRatio[sj] / (warp + 1e-20f) + t) * v.slotFrameRate[sj];
            if (!(framePos > 0.0f))
                framePos = 0.0f;
            const float fade = clampUnit((static_cast<float>(frames) - framePos) / (0.1f * static_cast<float>(frames) + 1.0f));
            if (!(framePos < static_cast<float>(frames)))
                continue;
            const int f0 = static_cast<int>(framePos);
            const int f1 = std::min(f0 + 1, frames - 1);
            const float ff = framePos - static_cast<float>(f0);
            const float w = v.slotWeight[sj] * fade;
            const float w0 = w * (1.0f - ff);
            const float w1 = w * ff;
            const int nb = std::min({frames, activeBands, std::clamp(v.slotBandCount[sj], 0, kMaxBands)});
            const int stride = v.slotStride[sj];
            for (int b = 0; b < nb; ++b)
            {
                const uint8_t* row = env + static_cast<std::ptrdiff_t>(b) * stride;
                accum[static_cast<std::size_t>(b)] +=
                    w0 * static_cast<float>(static_cast<int8_t>(row[f0])) + w1 * static_cast<float>(static_cast<int8_t>(row[f1]));
            }
            bandsUsed = std::max(bandsUsed, nb);
            ended += (1.0f - fade) * 100.0f * v.slotWeight[sj];
            anyFrames = true;
        }
        if (anyFrames && ended < 100.0f)
        {
            for (int b = 0; b < bandsUsed; ++b)
            {
                const auto sb = static_cast<std::size_t>(b);
                bandAmpWork[sb] = std::max(0.0f, bandAmpWork[sb] + bandEnvWork[sb] * accum[sb] / 32768.0f);
            }
        }
    }

    // Flatten.
    const float fl = modulated(kParamFlatten) * 0.01f;
    const float fl2 = fl * fl;
    const float flC = 39.0f * fl2 + 1.0f;
    const float flG = 1.0f / (0.7f / (flC - 0.99f) + 0.18f);
    if (fl < -0.005f)
    {
        for (int b = 0; b < activeBands; ++b)
        {
            float& a = bandAmpWork[static_cast<std::size_t>(b)];
            a = static_cast<float>(b + 1) * 3.0f * fl2 * a * a + (1.0f - fl2) * a;
        }
    }
    else if (fl > 0.005f)
    {
        for (int b = 0; b < activeBands; ++b)
        {
            float& a = bandAmpWork[static_cast<std::size_t>(b)];
            a = a / (static_cast<float>(b + 1) * flG * a + 1.0f / flC);
        }
    }

    // Hi-Lo filter.
    const float hiLoCut = modulated(kParamHiLoCut);
    const bool hiLoOn = std::fabs(hiLoCut) > 0.0001f;
    const float hiLoRez = clampUnit(modulated(kParamHiLoRez));
    const float hiLoA = hiLoRez + 1.0f;
    const float hiLoB = 1.02f - hiLoRez;
    const float hiPassCorner = 10000.0f * hiLoCut * hiLoCut;
    const float loPassFactor = (100.0f * hiLoCut * hiLoCut + 10.0f * std::fabs(hiLoCut) + 1.0f) / 20000.0f;
    const auto hiLoResponse = [&](float hz) noexcept {
        const float x = hiLoCut > 0.0f ? hiPassCorner / std::max(hz, 1e-20f) : hz * loPassFactor;
        const float xm = x - 1.0f;
        return 2.0f / ((x * x + hiLoA) * (xm * xm + hiLoB));
    };
    if (hiLoOn)
    {
        for (int b = 0; b < activeBands; ++b)
            bandAmpWork[static_cast<std::size_t>(b)] *= hiLoResponse(static_cast<float>(bandStart[static_cast<std::size_t>(b)]) * f);
    }

    // Tonal and noisy parts by Fatness; bands past the active ones stay silent.
    const float fat = modulated(kParamFatness);
    float fatM = 0.0f;
    float fatO = 0.0f;
    if (fat >= 1.0f)
    {
        fatM = 1.0f;
        fatO = fat - 1.0f;
    }
    else if (fat >= 0.0f)
    {
        const float u = 1.0f - fat;
        fatM = 1.0f - u * u;
    }
    const float fatE = fat >= 0.0f ? fat - 1.0f : -1.0f;
    const float fatEPos = std::max(fatE, 0.0f);
    const float widthScale = 0.8f * fatE + 1.0f;
    const int fatGroups = (activeBands / kLanes) * kLanes;
    for (int b0 = 0; b0 < fatGroups; b0 += kLanes)
    {
        const auto bandAt = [&](int k) noexcept -> const VoiceBand& { return v.bands[static_cast<std::size_t>(b0 + k)]; };
        F4 amp;
        std::memcpy(&amp, bandAmpWork.data() + b0, sizeof(amp));
        const F4 t10 = gather4([&](int k) noexcept { return bandAt(k).tonality; });
        const F4 kRaw = t10 * fatM + fatO;
        const F4 k = select(kRaw > 0.0f, select(kRaw < 1.0f, kRaw, splat(1.0f)), splat(0.0f));
        const F4 noisy = amp * k;
        const F4 tonal = amp * sqrt4(1.0f - k * k);
        F4 width = gather4([&](int i) noexcept { return bandAt(i).noiseWidth; }) * widthScale;
        if (fatO > 0.0f)
            width *= t10 / (k + 1e-20f);
        const F4 bandIndex = toFloat(b0 + I4{0, 1, 2, 3});
        const F4 widthOut = 0.05f * bandIndex * fatEPos + width;
        std::memcpy(bandNoisyWork.data() + b0, &noisy, sizeof(noisy));
        std::memcpy(bandTonalWork.data() + b0, &tonal, sizeof(tonal));
        std::memcpy(bandWidthWork.data() + b0, &widthOut, sizeof(widthOut));
    }
    for (int b = fatGroups; b < kBandTableSize + 1; ++b)
    {
        const auto sb = static_cast<std::size_t>(b);
        if (b >= activeBands)
        {
            bandTonalWork[sb] = 0.0f;
            bandNoisyWork[sb] = 0.0f;
            bandWidthWork[sb] = 0.0f;
            continue;
        }
        const VoiceBand& band = v.bands[sb];
        const float amp = bandAmpWork[sb];
        const float t10 = band.tonality;
        const float k = clampUnit(t10 * fatM + fatO);
        bandNoisyWork[sb] = amp * k;
        bandTonalWork[sb] = amp * std::sqrt(1.0f - k * k);
        float width = band.noiseWidth * widthScale;
        if (fatO > 0.0f)
            width *= t10 / (k + 1e-20f);
        bandWidthWork[sb] = 0.05f * static_cast<float>(b) * fatEPos + width;
    }

    // Formant shift, following the key by the sound's key-tracking factor.
    const float formantRatio = std::exp2(((total - v.soundKey) * v.soundGain * -0.85f + modulated(kParamFormant)) / -12.0f);

    // Harmonic count.
    const auto bandStartAt = [this](int i) noexcept { return bandStart[static_cast<std::size_t>(std::clamp(i, 0, kBandTableSize - 1))]; };
    int harmCount = kMaxHarmonics;
    {
        const float byRate = kHarmonicLimit * sampleRate / f;
        if (byRate < static_cast<float>(harmCount))
            harmCount = static_cast<int>(byRate);
        harmCount = std::min(harmCount, bandStartAt(activeBands + 1));
        harmCount = std::max(harmCount, 0);
    }
    const int harmCountBeforeFormant = harmCount;
    if (formantRatio > 1.0f)
        harmCount = toIntSafe(static_cast<float>(harmCount) / formantRatio);
    while (harmCount > 1)
    {
        const int idx = std::clamp(toIntSafe(static_cast<float>(harmCount) * formantRatio - 1.0f), 0, kMaxHarmonics - 1);
        if (harmBand[static_cast<std::size_t>(harmCount - 1)] >= activeBands || harmBandPos[static_cast<std::size_t>(idx)] >= activeBands)
            --harmCount;
        else
            break;
    }
    for (int h = std::max(v.voiceHarmonicCount, 0); h < harmCount; ++h)
    {
        v.harmonics[static_cast<std::size_t>(h)].phase = 0;
        v.harmonics[static_cast<std::size_t>(h)].oscPhase = 0.0f;
    }
    v.voiceHarmonicCount = std::max(v.voiceHarmonicCount, harmCount);
    if (plain(kParamTimeWarp) < 0.0f)
    {
        v.activeResonances = std::min(v.activeResonances + 1, v.voiceResonanceCount);
        v.activeBands = std::min(v.activeBands + 1, v.bandCount);
    }

    // Share of randomised, decorrelated partials: the table offset, and fresh tables when due.
    const bool sharing = v.shareTime > 0.0f;
    int shareOffset = 0;
    float shareOldWeight = 0.0f;
    float shareNewWeight = 0.0f;
    const CF* shareOld = nullptr;
    const CF* shareNew = nullptr;
    if (sharing)
    {
        const float stf = v.shareTime * f;
        const float s = std::min(static_cast<float>(KeyVoice::kMaxSharePairs - harmCountBeforeFormant), 1.5f * hop.spread / stf + 0.5f);
        shareOffset = std::clamp(toIntSafe(s), 0, KeyVoice::kMaxSharePairs - harmCountBeforeFormant);
        v.shareCounter += hopSeconds * stf * kShareRenewRate;
        if (!(v.shareCounter < 1.0f))
        {
            v.shareNewTable ^= 1;
            auto& table = v.sharePairs[static_cast<std::size_t>(v.shareNewTable)];
            const int pairs = std::min(harmCountBeforeFormant + shareOffset, KeyVoice::kMaxSharePairs);
            for (int i = 0; i < pairs; ++i)
            {
                const float re = getCanonRandFloat();
                const float im = getCanonRandFloat();
                table[static_cast<std::size_t>(i)] = {kUnitComplexScale * re, kUnitComplexScale * im};
            }
            v.shareCounter = std::isfinite(v.shareCounter) ? fraction(v.shareCounter) : 0.0f;
        }
        shareOldWeight = crossfadeOld(v.shareCounter);
        shareNewWeight = crossfadeOld(1.0f - v.shareCounter);
        shareNew = v.sharePairs[static_cast<std::size_t>(v.shareNewTable)].data();
        shareOld = v.sharePairs[static_cast<std::size_t>(v.shareNewTable ^ 1)].data();
    }

    // Binaural: the ear away from the sound hears it shadowed and delayed.
    const BinauralParams binaural = hop.binauralOn ? computeBinauralParams(&v) : BinauralParams{};

    // Per harmonic, in two passes: amplitudes (oscillation and noise), then position,
    // phase, share and binaural placement. Positions stay far inside the int range only while the
    // fundamental is below the harmonic limit and the shift is sane; otherwise no harmonic sounds.
    HarmonicHop hh;
    hh.count = harmCount;
    if (!(binPos <= kHarmonicLimit * kBinsPerHzNumerator) || !std::isfinite(lifeFactor) || !std::isfinite(shift) ||
        !std::isfinite(formantRatio))
        hh.count = 0;
    hh.formantRatio = formantRatio;
    hh.lifeFactor = lifeFactor;
    hh.binPos = binPos;
    hh.shift = std::clamp(shift, -kMaxShift, kMaxShift);
    hh.midPhase = midPhase;
    hh.rotSpread = hop.rotSpread;
    hh.corrWeight = hop.corrWeight;
    hh.spreadWeight = hop.spreadWeight;
    hh.shareOffset = shareOffset;
    hh.shareOldWeight = shareOldWeight;
    hh.shareNewWeight = shareNewWeight;
    hh.shareOld = shareOld;
    hh.shareNew = shareNew;
    hh.farEar = binaural.angle > 0.0f ? 0 : 1;
    hh.shadowInv = 1.0f / (binaural.shadowFreq * binsPerHz + 1e-20f);
    hh.farStep = static_cast<uint32_t>(toIntSafe(std::fabs(binaural.delay) * f * 1024.0f + 0.5f));
    harmonicAmplitudes(*this, v, hh);
    if (sharing)
    {
        if (binaural.on)
            harmonicPlacement<true, true>(*this, v, hh);
        else
            harmonicPlacement<true, false>(*this, v, hh);
    }
    else
    {
        if (binaural.on)
            harmonicPlacement<false, true>(*this, v, hh);
        else
            harmonicPlacement<false, false>(*this, v, hh);
    }
    harmCount = hh.count;
    CF* amp0 = partialAmp[0].data();
    CF* amp1 = partialAmp[1].data();

    // Resonances, after the harmonics in the partial list.
    const float binHz = sampleRate / static_cast<float>(kSynthFFTSize);
    const float freqScale = 1.0f + modulated(kParamFreqScale);
    const float freqShift = modulated(kParamFreqShift);
    const float resLimit = kResonanceLimit * sampleRate;
    int resonanceCount = std::clamp(v.activeResonances, 0, kMaxResonances);
    int added = harmCount;
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
        float a = (gain + 0.2f * gain * brightPos * x) / (1.0f + 0.05f * brightPos * x + 0.5f * brightNeg2 * x * x);
        const float decay = res.decayQuad * t * t;
        a /= approxExp(res.decayLinear * t + decay * decay);
        if (fl < -0.005f)
            a = 3.0f * fl2 * a * a + (1.0f - fl2) * a;
        else if (fl > 0.005f)
            a = a / (flG * a + 1.0f / flC);
        if (hiLoOn)
            a *= hiLoResponse(fr);
        const float tonalLevel = res.tonalLevel * a;
        const float noisyLevel = res.noisyLevel * a;
        resonanceLevelWork[static_cast<std::size_t>(p)] = std::fabs(tonalLevel) + std::fabs(noisyLevel);
        const uint32_t phase = static_cast<uint32_t>(res.phase) & kPhaseMask;
        const CF rot = rotTable[phase];
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
                const CF n1 = randTable[o1 + static_cast<uint32_t>(k)];
                const CF n2 = randTable[o2 + static_cast<uint32_t>(k)];
                addSynth->specRe[0][k] += wk * n1.re;
                addSynth->specIm[0][k] += wk * n1.im;
                addSynth->specRe[1][k] += wk * (hop.corrWeight * n1.re + hop.spreadWeight * n2.re);
                addSynth->specIm[1][k] += wk * (hop.corrWeight * n1.im + hop.spreadWeight * n2.im);
            }
            if (lo <= hi)
                addSynth->partialsAdded = 1;
            a0 = cscale(rot, tonalLevel);
            a1 = a0;
        }
        else
        {
            // Narrow: band-limited noise around the tone; the bandwidth in Hz becomes a step per hop.
            CF n0;
            CF n1;
            res.noise.getUnitWithStep(res.bandwidthHz * hopSeconds, hop.corrWeight, hop.spreadWeight, n0, n1);
            a0 = cmul({(res.tonalLevel + res.noisyLevel * n0.re) * a, res.noisyLevel * n0.im * a}, rot);
            a1 = cmul({(res.tonalLevel + res.noisyLevel * n1.re) * a, res.noisyLevel * n1.im * a}, rot);
        }
        int32_t pos = toIntSafe(fr * binsPerHz);
        if (pos >= kMaxPartialPos || pos < 0)
        {
            pos = 0;
            a0 = {0.0f, 0.0f};
            a1 = {0.0f, 0.0f};
        }
        const auto slot = static_cast<std::size_t>(added);
        partialPos[slot] = pos;
        amp0[slot] = a0;
        amp1[slot] = a1;
        ++added;
        res.phase = static_cast<int32_t>((phase + (static_cast<uint32_t>(pos) >> 1)) & kPhaseMask);
    }
    while (resonanceCount > 0 && resonanceLevelWork[static_cast<std::size_t>(resonanceCount - 1)] <= kResonanceSilence)
        --resonanceCount;
    v.activeResonances = resonanceCount;

    // Into the shared spectrum: the strongest (lowest) partials with the finer kernel.
    const int count = harmCount + resonanceCount;
    if (count > 0)
    {
        const int fine = std::min(kFineKernelPartials, count);
        CF* amps[2] = {amp0, amp1};
        addSynth->addHarmonics(partialPos.data(), amps, fine, kFineKernelQuality, 0);
        if (count > fine)
        {
            CF* rest[2] = {amp0 + fine, amp1 + fine};
            addSynth->addHarmonics(partialPos.data() + fine, rest, count - fine, kCoarseKernelQuality, 0);
        }
    }

    // The sound's time moves on only after the hop, by the step the attack may have slowed.
    v.timePos += warpStep;
}
