// Performances rendered sample for sample against stored references: a purely tonal one (no noisy
// band, no resonance, so its output depends on no random draw) and two on the demo bank with noise,
// stereo share and resonances, one of them with the second channel reading other share pairs. Any
// change to how the voices place and sum their partials shows here far below what the coarse
// golden signatures can see.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "engine/Random.h"
#include "engine/VectorWidth.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/params/ParamTable.h"
#include "engine/voice/VoiceHop.h"
#include "support/EngineTestHelpers.h"

namespace
{

constexpr float kRate = 44100.0f;
// Reference samples are stored as integers in units of 2^-24 (about -144 dBFS).
constexpr double kFixedScale = 16777216.0;

// A tonal sound of 70 band records: falling steady and decaying levels, detune, phase offsets and
// slow oscillations on some records, so that every per-harmonic term takes part.
qmbank::BankEntry tonalSound(const char* name, int key, int tilt)
{
    qmbank::BlobSpec desc = qmtest::makePlainSpec(key, 70, 0, 90);
    for (int b = 1; b < 70; ++b)
    {
        qmbank::BandRecord& band = desc.zones[0].bands[size_t(b)];
        band.levelC = uint16_t(900 / (b + tilt) + 20);
        band.levelA = int16_t(b % 3 == 0 ? 600 / b : 0);
        band.widthA = 700;
        band.detune = int16_t((b % 5 - 2) * 400);
        band.binOffset = uint8_t(b * 37);
        band.oscDepth = uint8_t(b % 4 == 1 ? 120 : 0);
        band.oscRate = uint8_t(b % 4 == 1 ? 40 + b : 0);
        band.oscPhase = uint8_t(b * 11);
    }
    return {name, qmbank::encodeBlob(desc)};
}

// Three chords, low to high (the top one reaching the harmonic limit), through the binaural
// placement; 3072 frames in uneven blocks. The demo bank's sounds add noise, stereo share and
// resonances; a wide spread moves the second channel's share pairs away from the first one's, and
// longer chords let the voices renew their share pairs. `wide` picks the vector form of the
// per-partial loops when given.
void playScene(std::vector<float>& l, std::vector<float>& r, bool demo = false, const bool* wide = nullptr,
               float spread = 0.5f, int chordFrames = 1024)
{
    engineSrand(777u);
    setCanonRandSeed(kCanonRandInitialSeed);
    qmtest::EngineRig rig(demo ? qmbank::demoBank()
                               : std::vector{tonalSound("Tonal_Low", 48, 1), tonalSound("Tonal_High", 72, 6)},
                          kRate);
    KeySpaceDSP& dsp = rig.dsp();
    if (wide) dsp.useWideVectors(*wide);
    rig.setAllEffects(false);
    dsp.params[kFirstFxSwitch + kFxSlotBinaural].value = 1.0f;
    dsp.params[kParamStereoX].value = 0.3f;
    dsp.params[kParamStereoSpread].value = spread;
    dsp.params[kParamFormant].value = 3.0f;
    if (demo)
        rig.pushCanvas({16, 21, 11}, {0.5f, 0.3f, 0.2f});
    else
        rig.pushCanvas({0, 1}, {0.6f, 0.4f});
    const std::vector<std::vector<int>> chords = {{36, 43, 52}, {48, 55, 64, 71}, {60, 67, 76, 84, 96}};
    for (const auto& chord : chords)
    {
        for (int note : chord)
            qmtest::noteOn(dsp, note, 100);
        rig.render(chordFrames, 300, l, r);
        for (int note : chord)
            qmtest::noteOff(dsp, note);
    }
}

} // namespace

// The tonal scene and the demo-bank scenes against renders of the engine before its per-partial
// loops became arrays and vector forms.
TEST(TonalRender, MatchesTheStoredReferencesBelowMinus90dB)
{
    const struct { const char* reference; bool demo; float spread; int chordFrames; } kScenes[] = {
        {"render_tonal.txt", false, 0.5f, 1024},
        {"render_demo.txt", true, 0.5f, 1024},
        {"render_demo_spread.txt", true, 60.0f, 4096}};
    for (const auto& [reference, demo, spread, chordFrames] : kScenes)
    {
        SCOPED_TRACE(reference);
        std::vector<float> l, r;
        playScene(l, r, demo, nullptr, spread, chordFrames);
        std::vector<float> both = l;
        both.insert(both.end(), r.begin(), r.end());
        if (const char* regenerate = std::getenv("QM_REGENERATE_GOLDEN");
            regenerate && std::string(regenerate) == "1")
        {
            std::ofstream out(qmtest::goldenPath(reference));
            out << "# written by the engine tests with QM_REGENERATE_GOLDEN=1: left then right, x 2^24\n";
            for (size_t i = 0; i < both.size(); ++i)
                out << std::lround(double(both[i]) * kFixedScale) << (i % 16 == 15 ? '\n' : ' ');
            ASSERT_TRUE(out.good());
            continue;
        }
        std::ifstream in(qmtest::goldenPath(reference));
        std::string header;
        ASSERT_TRUE(std::getline(in, header))
            << "missing " << reference << " (QM_REGENERATE_GOLDEN=1 writes it)";
        std::vector<double> ref;
        for (long v; in >> v;)
            ref.push_back(double(v) / kFixedScale);
        ASSERT_EQ(ref.size(), both.size());
        double signal = 0.0, error = 0.0;
        for (size_t i = 0; i < ref.size(); ++i)
        {
            signal += ref[i] * ref[i];
            error += (double(both[i]) - ref[i]) * (double(both[i]) - ref[i]);
        }
        ASSERT_GT(signal / double(ref.size()), 1e-6) << "the scene must sound";
        const double db = 10.0 * std::log10(error / signal + 1e-30);
        std::printf("%s: the render differs from it by %.1f dB relative RMS\n", reference, db);
        EXPECT_LT(db, -90.0);
    }
}

// Both vector forms of the per-partial loops do the same arithmetic lane by lane and take the same
// decisions (noisy harmonics, noise draws); where the wide form fuses multiply-adds it rounds
// differently, far below anything audible. The baseline always renders; the wide form is compared
// where the processor has AVX2 and FMA.
TEST(TonalRender, BaselineAndWideLoopsRenderAlike)
{
    for (const bool demo : {false, true})
    {
        SCOPED_TRACE(demo ? "demo bank scene" : "tonal scene");
        std::vector<float> l, r, wl, wr;
        const bool baseline = false, wide = true;
        playScene(l, r, demo, &baseline);
        ASSERT_TRUE(qmtest::allFinite(l) && qmtest::allFinite(r));
        ASSERT_GT(qmtest::peakOf(l), 1e-2f) << "the scene must sound";
        if (!wideVectorsSupported())
        {
            std::printf("no AVX2 and FMA here: the baseline loops rendered alone\n");
            continue;
        }
        playScene(wl, wr, demo, &wide);
        const double db = std::max(qmtest::relativeErrorDb(l, wl), qmtest::relativeErrorDb(r, wr));
        std::printf("the AVX2 loops' render differs from the baseline's by %.1f dB relative RMS\n", db);
        EXPECT_LT(db, -100.0);
    }
}

// The per-harmonic loops run eight harmonics at a time: a hop of fewer harmonics than the voice
// has sounded leaves the state of those above its count as it was, in either vector form.
TEST(TonalRender, HarmonicsAboveTheHopsCountKeepTheirState)
{
    for (const int count : {1, 7, 9, 40, 45, 100})
        for (const bool wide : {false, wideVectorsSupported()})
        {
            std::vector<float> l, r;
            qmtest::EngineRig rig({qmbank::demoBank()[16], tonalSound("Tonal_Low", 48, 1)}, kRate);
            rig.dsp().useWideVectors(wide);
            rig.pushCanvas({0, 1}, {0.5f, 0.5f}); // noisy bands and oscillating ones
            KeyVoice& v = rig.dsp().voices[size_t(qmtest::noteOn(rig.dsp(), 36, 100))];
            rig.render(2048, 512, l, r);
            ASSERT_GE(v.voiceHarmonicCount, 120) << "the voice must have sounded the harmonics checked";
            const HarmonicState was = v.harmonics;
            voicehop::harmonicAmplitudes(rig.dsp(), v, {count, 1.02f, 1.0f, 2.5f});
            voicehop::harmonicPlacement(rig.dsp(), v, {count, 1.02f, 1.0f, 2.5f});
            for (size_t h = size_t(count); h < kMaxHarmonics; ++h)
                ASSERT_TRUE(v.harmonics.oscPhase[h] == was.oscPhase[h] &&
                            v.harmonics.noise.phase[h] == was.noise.phase[h])
                    << "harmonic " << h << " of " << count;
        }
}

// A sounding voice's binaural placement follows a moved stereo position: after the move it is
// what an engine that played the note there from the start computes.
TEST(TonalRender, BinauralPlacementFollowsAMovedStereoPosition)
{
    const auto angleAt = [](float x, float before) {
        qmtest::EngineRig rig(qmbank::demoBank(), kRate);
        KeySpaceDSP& dsp = rig.dsp();
        dsp.params[kFirstFxSwitch + kFxSlotBinaural].value = 1.0f;
        dsp.params[kParamStereoX].value = before;
        rig.pushCanvas({16, 21}, {0.5f, 0.5f});
        qmtest::noteOn(dsp, 40, 100);
        std::vector<float> l, r;
        rig.render(1024, 256, l, r);
        dsp.params[kParamStereoX].value = x;
        rig.render(512, 256, l, r);
        return dsp.computeBinauralParams(&dsp.voices[0]).angle;
    };
    for (const float x : {0.2f, 0.9f})
        EXPECT_EQ(angleAt(x, 0.5f), angleAt(x, x)) << x;
}
