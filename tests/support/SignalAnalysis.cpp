#include "support/SignalAnalysis.h"

#include <cmath>
#include <complex>

namespace qmtest
{
namespace
{
constexpr double kTwoPi = 6.283185307179586;
}

SineFit fitSine(const std::vector<float>& y, double cyclesPerSample)
{
    double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
    for (size_t t = 0; t < y.size(); ++t)
    {
        const double c = std::cos(kTwoPi * cyclesPerSample * double(t)),
                     s = std::sin(kTwoPi * cyclesPerSample * double(t));
        cc += c * c, ss += s * s, cs += c * s, yc += y[t] * c, ys += y[t] * s;
    }
    const double det = cc * ss - cs * cs, a = (yc * ss - ys * cs) / det, b = (ys * cc - yc * cs) / det;
    double err = 0, sig = 0;
    for (size_t t = 0; t < y.size(); ++t)
    {
        const double m = a * std::cos(kTwoPi * cyclesPerSample * double(t)) +
                         b * std::sin(kTwoPi * cyclesPerSample * double(t));
        err += (y[t] - m) * (y[t] - m), sig += m * m;
    }
    return {std::hypot(a, b), 10.0 * std::log10(err / sig + 1e-30)};
}

double dftMagnitude(const std::vector<float>& y, double cyclesPerSample)
{
    std::complex<double> sum = 0.0;
    const double n = double(y.size());
    for (size_t t = 0; t < y.size(); ++t)
    {
        const double w = 0.5 - 0.5 * std::cos(kTwoPi * double(t) / n);
        sum += w * double(y[t]) * std::polar(1.0, -kTwoPi * cyclesPerSample * double(t));
    }
    return 4.0 * std::abs(sum) / n; // Hann's coherent gain is 1/2, a real sine splits in two
}

double peakFrequency(const std::vector<float>& y, double sampleRate, double loHz, double hiHz, double stepHz)
{
    double best = loHz, bestMag = -1.0;
    auto scan = [&](double from, double to, double step)
    {
        for (double f = from; f <= to; f += step)
            if (const double m = dftMagnitude(y, f / sampleRate); m > bestMag) best = f, bestMag = m;
    };
    scan(loHz, hiHz, stepHz);
    scan(best - stepHz, best + stepHz, stepHz / 50.0);
    return best;
}

} // namespace qmtest
