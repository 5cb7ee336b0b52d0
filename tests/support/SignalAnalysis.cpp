#include "support/SignalAnalysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qmtest
{

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

double dftMagnitude(const std::vector<float>& y, double cyclesPerSample)
{
    std::complex<double> sum = 0.0;
    const double n = double(y.size());
    for (size_t t = 0; t < y.size(); ++t)
        sum += (0.5 - 0.5 * std::cos(2.0 * M_PI * double(t) / n)) * double(y[t]) *
               std::polar(1.0, -2.0 * M_PI * cyclesPerSample * double(t));
    return 4.0 * std::abs(sum) / n; // Hann's coherent gain is 1/2, and a real sine splits in two
}

double peakFrequency(const std::vector<float>& y, double sampleRate, double loHz, double hiHz, double stepHz)
{
    double best = loHz, bestMagnitude = -1.0;
    for (const double step : {stepHz, stepHz / 50.0})
        for (double f = step == stepHz ? loHz : best - stepHz, to = step == stepHz ? hiHz : best + stepHz;
             f <= to; f += step)
            if (const double m = dftMagnitude(y, f / sampleRate); m > bestMagnitude)
                best = f, bestMagnitude = m;
    return best;
}

void expectGolden(const std::string& name, const std::string& text)
{
    // This file sits in tests/support; a relative path (ccache's base directory rewrites them) is
    // relative to the build folder, which holds the scratch folder ctest names.
    std::string path = __FILE__;
    path = path.substr(0, path.find_last_of('/') + 1) + "../engine/golden/" + name;
    if (path[0] != '/' && std::getenv("QM_TEST_TMP") != nullptr)
        path = std::string(std::getenv("QM_TEST_TMP")) + "/../" + path;
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
