#include "support/EngineTestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>

#include "engine/Random.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/params/ParamTable.h"
#include "support/TestCanvas.h"

namespace qmtest
{

EngineRig::EngineRig(const std::vector<qmbank::BankEntry>& entries, float sampleRate) : blobs(entries)
{
    refs.resize(blobs.size());
    for (std::size_t i = 0; i < blobs.size(); ++i)
    {
        std::strncpy(refs[i].name, blobs[i].name.c_str(), sizeof(refs[i].name) - 1);
        refs[i].data = blobs[i].data.data();
        refs[i].size = blobs[i].data.size();
    }
    engine = std::make_unique<KeySpaceDSP>(canvasQueue.makeReader(), mixQueue.makeReader(), refs.data(),
                                           static_cast<int>(refs.size()));
    engine->init(sampleRate);
}

void EngineRig::pushCanvas(const std::vector<int>& soundIds, const std::vector<float>& weights, int mode)
{
    NodeCanvasData canvas = startCanvas(mode);
    const int n = canvas.nodeCount = std::min<int>(static_cast<int>(soundIds.size()), kMaxSoundNodes);
    for (int i = 0; i < n; ++i)
        canvas.nodes[size_t(i)] = {
            {0.2f + 0.6f * float(i) / float(std::max(1, n - 1)), 0.3f + 0.1f * float(i % 3)},
            soundIds[size_t(i)]};
    canvas.currentMix.point = {0.5f, 0.5f};
    canvas.triangulate();
    NodeMix& mix = canvas.currentMix;
    if (mode == kCanvasModeExplore)
        mix.count = std::min<int>({static_cast<int>(weights.size()), n, kMaxMixNodes});
    for (int i = 0; mode == kCanvasModeExplore && i < mix.count; ++i)
        mix.node[size_t(i)] = i, mix.weight[size_t(i)] = weights[size_t(i)];
    canvasQueue.push(canvas);
}

void EngineRig::setAllEffects(bool on)
{
    for (int i = 0; i < kNumFxUnits; ++i)
        engine->params[size_t(kFirstFxSwitch + i)].value = on ? 1.0f : 0.0f;
}

void EngineRig::renderSeeded(uint32_t seed, int numSamples, std::vector<float>& left, std::vector<float>& right)
{
    engineSrand(seed);
    setCanonRandSeed(seed);
    render(numSamples, numSamples, left, right);
}

void EngineRig::render(int numSamples, int blockSize, std::vector<float>& left, std::vector<float>& right)
{
    std::vector<float> l(static_cast<size_t>(blockSize)), r(static_cast<size_t>(blockSize));
    float* out[2] = {l.data(), r.data()};
    for (int done = 0, n = 0; done < numSamples; done += n)
    {
        n = std::min(blockSize, numSamples - done);
        engine->process(out, n, 2);
        left.insert(left.end(), l.begin(), l.begin() + n);
        right.insert(right.end(), r.begin(), r.begin() + n);
    }
}

float peakOf(const std::vector<float>& x)
{
    float p = 0.0f;
    for (float s : x)
        p = std::max(p, std::fabs(s));
    return p;
}

bool allFinite(const std::vector<float>& x)
{
    return std::all_of(x.begin(), x.end(), [](float s) { return std::isfinite(s); });
}

double relativeErrorDb(const std::vector<float>& reference, const std::vector<float>& x)
{
    EXPECT_EQ(reference.size(), x.size());
    double signal = 0.0, error = 0.0;
    for (size_t i = 0; i < std::min(reference.size(), x.size()); ++i)
    {
        const double d = double(x[i]) - double(reference[i]);
        signal += double(reference[i]) * double(reference[i]);
        error += d * d;
    }
    return 10.0 * std::log10(error / signal + 1e-30);
}

constexpr std::size_t kWindow = 1024;

std::filesystem::path goldenPath(const std::string& name)
{
    // __FILE__ may be relative to the build directory (ccache rewrites paths under its base).
    std::filesystem::path source(__FILE__);
    if (source.is_relative())
        if (const char* tmp = std::getenv("QM_TEST_TMP"))
            source = std::filesystem::path(tmp).parent_path() / source;
    return source.parent_path().parent_path() / "engine" / "golden" / name;
}

GoldenRows renderSignature(const std::vector<float>& left, const std::vector<float>& right, double sampleRate)
{
    static const std::vector<std::complex<double>> twiddle = []
    {
        std::vector<std::complex<double>> t(kWindow);
        for (std::size_t i = 0; i < kWindow; ++i)
            t[i] = std::polar(1.0, -2.0 * std::numbers::pi * double(i) / kWindow);
        return t;
    }();
    GoldenRows rows;
    for (std::size_t start = 0; start + kWindow <= std::min(left.size(), right.size()); start += kWindow)
    {
        std::vector<double> row(4);
        for (std::size_t ch = 0; ch < 2; ++ch)
        {
            const std::vector<float>& x = ch == 0 ? left : right;
            std::vector<double> windowed(kWindow);
            double energy = 0.0, power = 0.0, moment = 0.0;
            for (std::size_t i = 0; i < kWindow; ++i)
            {
                energy += double(x[start + i]) * x[start + i];
                windowed[i] =
                    x[start + i] * (0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / kWindow));
            }
            for (std::size_t k = 1; k < kWindow / 2; ++k) // a plain DFT, bin by bin
            {
                std::complex<double> bin = 0.0;
                for (std::size_t i = 0; i < kWindow; ++i)
                    bin += windowed[i] * twiddle[i * k % kWindow];
                power += std::norm(bin);
                moment += std::norm(bin) * double(k) * sampleRate / kWindow;
            }
            row[ch] = std::sqrt(energy / kWindow);
            row[ch + 2] = power > 0.0 ? moment / power * std::min(1.0, row[ch] / 1e-3) : 0.0;
        }
        rows.push_back(row);
    }
    return rows;
}

void expectMatchesGolden(const std::string& name, const GoldenRows& rows, double relTol, double absTol)
{
    const std::filesystem::path path = goldenPath(name);
    if (const char* regenerate = std::getenv("QM_REGENERATE_GOLDEN");
        regenerate && std::string(regenerate) == "1")
    {
        std::ofstream out(path);
        out << "# written by the engine tests with QM_REGENERATE_GOLDEN=1\n";
        out.precision(9);
        for (const auto& row : rows)
            for (std::size_t i = 0; i < row.size(); ++i)
                out << row[i] << (i + 1 < row.size() ? ' ' : '\n');
        ASSERT_TRUE(out.good()) << path;
        return;
    }
    std::ifstream in(path);
    std::string header;
    ASSERT_TRUE(std::getline(in, header)) << "missing " << path << " (QM_REGENERATE_GOLDEN=1 writes it)";
    std::vector<double> golden;
    for (double v; in >> v;)
        golden.push_back(v);
    std::vector<double> got;
    for (const auto& row : rows)
        got.insert(got.end(), row.begin(), row.end());
    ASSERT_EQ(got.size(), golden.size()) << name;
    for (std::size_t i = 0, mismatches = 0; i < got.size() && mismatches < 10; ++i)
        if (!(std::fabs(got[i] - golden[i]) <= relTol * std::fabs(golden[i]) + absTol))
            ADD_FAILURE() << name << " row " << i / rows[0].size() << " value " << i % rows[0].size() << ": "
                          << got[i] << ", golden " << golden[i] << " (" << ++mismatches << ")";
}

SineFit fitSine(const std::vector<float>& y, double cyclesPerSample)
{
    const double w = 2.0 * M_PI * cyclesPerSample;
    double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0, err = 0, sig = 0;
    for (size_t t = 0; t < y.size(); ++t)
    {
        const double c = std::cos(w * double(t)), s = std::sin(w * double(t));
        cc += c * c, ss += s * s, cs += c * s, yc += y[t] * c, ys += y[t] * s;
    }
    const double det = cc * ss - cs * cs, a = (yc * ss - ys * cs) / det, b = (ys * cc - yc * cs) / det;
    for (size_t t = 0; t < y.size(); ++t)
    {
        const double model = a * std::cos(w * double(t)) + b * std::sin(w * double(t));
        err += (y[t] - model) * (y[t] - model), sig += model * model;
    }
    return {std::hypot(a, b), 10.0 * std::log10(err / sig + 1e-30)};
}

void expectGolden(const std::string& name, const std::string& text)
{
    const std::filesystem::path path = goldenPath(name);
    if (const char* regen = std::getenv("QM_REGENERATE_GOLDEN"); regen != nullptr && *regen == '1')
    {
        std::ofstream(path) << text;
        FAIL() << "rewrote " << path << "; run again without QM_REGENERATE_GOLDEN";
    }
    std::stringstream want;
    want << std::ifstream(path).rdbuf();
    EXPECT_EQ(text, want.str()) << "differs from " << path << " (or it is missing)";
}

} // namespace qmtest
