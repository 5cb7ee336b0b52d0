#include "support/SignalAnalysis.h"

#include <cmath>
#include <complex>

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

} // namespace qmtest
