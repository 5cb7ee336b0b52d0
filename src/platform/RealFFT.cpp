#include "platform/VectorDsp.h"

#include <fftw3.h>

#include <cstring>
#include <mutex>

// The packed inverse real FFT on top of FFTW's complex-to-real transform. FFTW's c2r is unscaled
// and computes exactly x[n] = X_0 + X_(N/2) (-1)^n + 2 sum Re(X_k e^(2 pi i k n / N)) from the
// N/2 + 1 non-negative bins, so the packed input only needs unpacking (the Nyquist value moves
// from imagp[0] to bin N/2) and no gain is applied anywhere.

namespace vdsp
{

struct FFTSetup
{
    int log2n = 0;
    int n = 0;
    fftwf_complex* bins = nullptr; // N/2 + 1 bins, FFTW-aligned
    float* samples = nullptr;      // N samples, FFTW-aligned
    fftwf_plan plan = nullptr;
};

namespace
{
// FFTW's planner (and plan destruction) share global state and are not thread-safe; execution of
// distinct plans is.
std::mutex& plannerMutex()
{
    static std::mutex mutex;
    return mutex;
}

void freeBuffers(FFTSetup* setup) noexcept
{
    fftwf_free(setup->bins);
    fftwf_free(setup->samples);
}
} // namespace

FFTSetup* createFFTSetup(int log2n)
{
    if (log2n < kMinFFTLog2 || log2n > kMaxFFTLog2) return nullptr;
    auto* setup = new FFTSetup;
    setup->log2n = log2n;
    setup->n = 1 << log2n;
    setup->bins = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * size_t(setup->n / 2 + 1)));
    setup->samples = static_cast<float*>(fftwf_malloc(sizeof(float) * size_t(setup->n)));
    if (setup->bins == nullptr || setup->samples == nullptr)
    {
        freeBuffers(setup);
        delete setup;
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(plannerMutex());
        // ESTIMATE: planning is quick and the chosen algorithm, hence the rounding, is the same on
        // every run, so rendered output is reproducible.
        setup->plan = fftwf_plan_dft_c2r_1d(setup->n, setup->bins, setup->samples, FFTW_ESTIMATE);
    }
    if (setup->plan == nullptr)
    {
        freeBuffers(setup);
        delete setup;
        return nullptr;
    }
    std::memset(setup->bins, 0, sizeof(fftwf_complex) * size_t(setup->n / 2 + 1));
    std::memset(setup->samples, 0, sizeof(float) * size_t(setup->n));
    return setup;
}

void destroyFFTSetup(FFTSetup* setup) noexcept
{
    if (setup == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(plannerMutex());
        fftwf_destroy_plan(setup->plan);
    }
    freeBuffers(setup);
    delete setup;
}

int fftLog2Size(const FFTSetup* setup) noexcept
{
    return setup != nullptr ? setup->log2n : 0;
}

namespace
{
// The packed bins unpacked into the plan's input.
void unpackBins(FFTSetup* setup, const SplitComplex& in) noexcept
{
    const int half = setup->n / 2;
    fftwf_complex* bins = setup->bins;
    bins[0][0] = in.realp[0];
    bins[0][1] = 0.0f;
    for (int k = 1; k < half; ++k)
    {
        bins[k][0] = in.realp[k];
        bins[k][1] = in.imagp[k];
    }
    bins[half][0] = in.imagp[0];
    bins[half][1] = 0.0f;
}
} // namespace

void fftInverseReal(FFTSetup* setup, const SplitComplex& in, const SplitComplex& out, int log2n) noexcept
{
    if (setup == nullptr || setup->log2n != log2n) return;
    const int half = setup->n / 2;
    unpackBins(setup, in);
    // The plan's own buffers: c2r destroys its input, which is rewritten on every call anyway.
    fftwf_execute(setup->plan);
    const float* x = setup->samples;
    for (int k = 0; k < half; ++k)
    {
        out.realp[k] = x[2 * k];
        out.imagp[k] = x[2 * k + 1];
    }
}

void fftInverseRealSamples(FFTSetup* setup, const SplitComplex& in, float* samples, int log2n) noexcept
{
    if (setup == nullptr || setup->log2n != log2n || samples == nullptr) return;
    unpackBins(setup, in);
    // The same plan run on other arrays computes the same sums; FFTW allows it only for arrays
    // aligned as the plan's own, so a differently aligned destination takes the plan's buffer and
    // one copy.
    if (fftwf_alignment_of(samples) == fftwf_alignment_of(setup->samples))
        fftwf_execute_dft_c2r(setup->plan, setup->bins, samples);
    else
    {
        fftwf_execute(setup->plan);
        std::memcpy(samples, setup->samples, sizeof(float) * size_t(setup->n));
    }
}

} // namespace vdsp
