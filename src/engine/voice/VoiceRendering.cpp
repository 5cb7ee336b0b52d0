// One voice's share of a hop: release, modulation, pitch, gain and the partial list that goes into
// the shared spectrum. Runs on the render thread inside KeySpaceDSP::process: no allocation, no
// locks, and every table index is masked or clamped so that no parameter value or blob can push a
// read or a write outside its array. The per-band, per-harmonic and per-resonance parts live in
// their own files (VoiceHop.h).

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/KeySpaceDSP.h"
#include "engine/dspConstants.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/modulation/Modulators.h"
#include "engine/params/ParamTable.h"
#include "engine/voice/StandingMix.h"
#include "engine/voice/VoiceHop.h"

using namespace voicehop;

namespace
{

constexpr float kNoteHzAtZero = 8.175799f;   // MIDI note 0 in Hz
constexpr float kSemitonesPerE = 17.31234f;  // 12 / ln 2
constexpr float kDbToExp = 0.115129255f;     // ln 10 / 20
// Highest harmonic frequency as a share of the sample rate.
constexpr float kHarmonicLimit = 0.45f;
// Partials rendered with the 8-tap kernel; the rest use 4 taps.
constexpr int kFineKernelPartials = 8;
constexpr int kFineKernelQuality = 2;
constexpr int kCoarseKernelQuality = 1;
// Renewals of the share pairs per second and per unit of share time x frequency.
constexpr float kShareRenewRate = 20.0f;
constexpr float kUnitComplexScale = 0.707f;
// Largest spectrum shift kept; far beyond it every partial lies outside the spectrum anyway.
constexpr float kMaxShift = 16777216.0f;

} // namespace

void KeySpaceDSP::renderVoiceHop(KeyVoice& v, const HopContext& hop, ModChains& chains, MixLookupMemo& mixMemo,
                                 BlendMemo& blendMemo) noexcept
{
    const float hopSeconds = hop.hopSeconds;
    const auto plain = [this](int i) noexcept { return params[static_cast<std::size_t>(i)].value; };
    const auto modulated = [this](int i) noexcept { return params[static_cast<std::size_t>(i)].modValue; };

    // Every counted voice's modulators run, free or not, so per-voice LFOs keep their phase.
    modulators->process(v.mod, hop.modStep, hop.hostPos, &globalMod, false);

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
        const float damping = hop.dampingUnit;
        v.dampProgress += increment * damping * damping;
    }

    // The voice's modulation, before anything below reads a modulated value.
    // Without a routing there is nothing to add, and the call would only reset no targets.
    if (chains.count > 0)
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
    takeVoiceMix(*this, v, static_cast<std::size_t>(&v - voices.data()), chains.count <= 0, mixMemo, blendMemo);

    // Pitch offset of the sound, decaying towards the played pitch.
    const float lifeFactor = 1.0f + plain(kParamLife) * 0.01f;
    const float soundOffset = v.soundPitchOffset * lifeFactor / approxExp(v.pitchDecayRate * t);

    const float bendSemitones = chan.bend * plain(kParamBendRange);

    // Vibrato, faded in over the note's time.
    const float vibLife = hop.vibratoLifeUnit;
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
    const float glide = hop.glide;
    v.pitch = glide * v.pitch + (1.0f - glide) * static_cast<float>(v.note);

    // Frequency.
    const float total = soundOffset + v.pitch + bendSemitones + plain(kParamDetune) * 0.01f + vibratoSemitones +
                        v.jitterValue;
    const float freq = kNoteHzAtZero * std::exp(total / kSemitonesPerE);
    const float f = freq * (1.0f + modulated(kParamFreqScale));
    if (!(f > 0.0f) || !std::isfinite(f))
        return;

    // Emphasis: a smooth positive part of 1 + emphasis x vibrato.
    const float emph = 1.0f + hop.vibratoEmphasisUnit * vibratoSemitones;
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
    const float gainExponent = modulated(kParamGain) * kDbToExp;
    if (!(gainExponent == v.gainExponent))
    {
        v.gainExponent = gainExponent;
        v.gainFactor = std::exp(gainExponent);
    }
    float gain = v.gainFactor * emphGain;

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

    const int activeBands = std::clamp(v.activeBands, 0, kMaxBands);

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

    // The bands' levels, and the tone shape the resonances follow too. The harmonics read the
    // bands up to the one after their last formant position's (positions rise with h).
    BandHop bandHop;
    bandHop.t = t;
    bandHop.lifeFactor = lifeFactor;
    bandHop.hopSeconds = hopSeconds;
    bandHop.f = f;
    bandHop.gain = gain;
    bandHop.bandsSettled = v.settled != 0;
    bandHop.bandsRead = 0;
    if (harmCount > 0 && std::isfinite(formantRatio))
    {
        const int32_t last = harmCount > 1 ? formantIndex(formantPosition(harmCount - 1, formantRatio)) : 0;
        bandHop.bandsRead = harmBandPos[static_cast<std::size_t>(std::clamp(last, 0, kMaxHarmonics - 1))] + 2;
    }
    const ToneShape shape = bandLevels(*this, v, bandHop);

    for (int h = std::max(v.voiceHarmonicCount, 0); h < harmCount; ++h)
    {
        v.harmonics.phase[static_cast<std::size_t>(h)] = 0;
        v.harmonics.oscPhase[static_cast<std::size_t>(h)] = 0.0f;
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
    const KeyVoice::SharePairTable* shareOld = nullptr;
    const KeyVoice::SharePairTable* shareNew = nullptr;
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
            // Drawn in batches (one atomic update each) in the order single draws would take.
            constexpr int kBatchPairs = kCanonRandMaxBatch / 2;
            for (int first = 0; first < pairs; first += kBatchPairs)
            {
                const int n = std::min(pairs - first, kBatchPairs);
                float r[kCanonRandMaxBatch];
                getCanonRandFloats(r, 2 * n);
                for (int i = 0; i < n; ++i)
                {
                    table.re[static_cast<std::size_t>(first + i)] = kUnitComplexScale * r[2 * i];
                    table.im[static_cast<std::size_t>(first + i)] = kUnitComplexScale * r[2 * i + 1];
                }
            }
            v.shareCounter = std::isfinite(v.shareCounter) ? fraction(v.shareCounter) : 0.0f;
        }
        shareOldWeight = crossfadeOld(v.shareCounter);
        shareNewWeight = crossfadeOld(1.0f - v.shareCounter);
        shareNew = &v.sharePairs[static_cast<std::size_t>(v.shareNewTable)];
        shareOld = &v.sharePairs[static_cast<std::size_t>(v.shareNewTable ^ 1)];
    }

    // Binaural: the ear away from the sound hears it shadowed and delayed.
    const BinauralParams binaural =
        hop.binauralOn && hop.binaural.placed ? binauralPlacement(v.note, hop.binaural) : BinauralParams{};

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
    hh.sharing = sharing;
    hh.binaural = binaural.on;
    hh.farEar = binaural.angle > 0.0f ? 0 : 1;
    hh.shadowInv = 1.0f / (binaural.shadowFreq * binsPerHz + 1e-20f);
    hh.farStep = static_cast<uint32_t>(toIntSafe(std::fabs(binaural.delay) * f * 1024.0f + 0.5f));
    harmonicAmplitudes(*this, v, hh);
    harmonicPlacement(*this, v, hh);
    harmCount = hh.count;

    // Resonances, after the harmonics in the partial list.
    const int resonanceCount =
        renderResonances(*this, v, shape, t, f, hopSeconds, hop.corrWeight, hop.spreadWeight, harmCount);

    // Into the shared spectrum: the strongest (lowest) partials with the finer kernel.
    const int count = harmCount + resonanceCount;
    if (count > 0)
    {
        const int fine = std::min(kFineKernelPartials, count);
        const float* amps[kNumPartialParts];
        for (int i = 0; i < kNumPartialParts; ++i)
            amps[i] = partialAmp[static_cast<std::size_t>(i)].data();
        addSynth->gatherHarmonics(partialPos.data(), amps, fine, kFineKernelQuality, usesWideVectors());
        if (count > fine)
        {
            for (auto& a : amps)
                a += fine;
            addSynth->gatherHarmonics(partialPos.data() + fine, amps, count - fine, kCoarseKernelQuality,
                                      usesWideVectors());
        }
    }

    // The sound's time moves on only after the hop, by the step the attack may have slowed.
    v.timePos += warpStep;
}
