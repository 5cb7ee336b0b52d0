#include "engine/synth/AddSynth.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "engine/synth/FourLanes.h"
#include "engine/synth/HarmKernels.h"

namespace
{
constexpr double kPi = 3.14159265358979323846;
// Channel parts of the spectrum: real part of channel ch at 2 ch, imaginary part at 2 ch + 1.
constexpr int kBin0Offset = -kSpecLowestBin;
constexpr int kPartialBinValues = 4;
// Silent hops after which the rings hold nothing any more (a frame spans two hops, and the last
// frame's tail is handed out one hop later).
constexpr int kSilentHopsWhenEmpty = kRingLength / kSynthHop;

// Overlap-adds n samples of src * window into the ring from ring position start, wrapping.
void addIntoRing(float* ring, int start, const float* src, const float* window, int n) noexcept
{
    const int first = std::min(n, kRingLength - start);
    vdsp::vma(src, window, ring + start, ring + start, size_t(first));
    if (first < n) vdsp::vma(src + first, window + first, ring, ring, size_t(n - first));
}
} // namespace

void vectorCopy(const float* src, float* dst, unsigned n) noexcept
{
    if (n > 0) std::memcpy(dst, src, sizeof(float) * n);
}

SynthFFT::SynthFFT(int newLog2n)
    : setup(vdsp::createFFTSetup(newLog2n)), buffer(size_t(1) << newLog2n, 0.0f), log2n(newLog2n)
{
    if (setup == nullptr) throw std::runtime_error("FFT set-up failed");
    split.realp = buffer.data();
    split.imagp = buffer.data() + buffer.size() / 2;
}

SynthFFT::~SynthFFT()
{
    vdsp::destroyFFTSetup(setup);
}

AddSynth::AddSynth()
    : spectrum(kSpectrumSize, 0.0f), partialBins(size_t(kPartialBinValues * kSpecPartSize), 0.0f),
      onsetOut(kOnsetFFTPoints, 0.0f), onsetWindow(kOnsetFFTPoints, 0.0f),
      synthWindow(kSynthFFTSize, 0.0f), frame(kSynthFFTSize, 0.0f),
      fft256(std::make_unique<SynthFFT>(kSynthFFTLog2)), fft64(std::make_unique<SynthFFT>(kOnsetFFTLog2))
{
    for (auto& ring : rings)
        ring.assign(kRingLength, 0.0f);
    for (int ch = 0; ch < kSynthChannels; ++ch)
    {
        specRe[size_t(ch)] = spectrum.data() + (2 * ch) * kSpecPartSize + kBin0Offset;
        specIm[size_t(ch)] = spectrum.data() + (2 * ch + 1) * kSpecPartSize + kBin0Offset;
    }
    for (int i = 0; i < kSynthFFTSize; ++i)
        synthWindow[size_t(i)] = 0.5f * kASWinOLA[size_t(i)];
    // Smooth-step of a raised cosine under a square root: w[i]^2 + w[i + 32]^2 = 0.25, so the onset's
    // 64-point frames at hop 32 overlap-add to half their level, matching the main resynthesis.
    const int n = kOnsetFFTPoints;
    for (int i = 0; i < n; ++i)
    {
        const double y = 0.5 + 0.5 * std::cos(2.0 * kPi * (i - (n / 2 - 0.5)) / n);
        onsetWindow[size_t(i)] = float(0.5 * std::sqrt((3.0 - 2.0 * y) * y * y));
    }
    silentHops = kSilentHopsWhenEmpty;
}

AddSynth::~AddSynth() = default;

void AddSynth::reset(float newSampleRate) noexcept
{
    sampleRate = newSampleRate;
    binsPerHz = newSampleRate > 0.0f ? kBinsPerHzNumerator / newSampleRate : 0.0f;
    std::fill(spectrum.begin(), spectrum.end(), 0.0f);
    for (auto& ring : rings)
        std::fill(ring.begin(), ring.end(), 0.0f);
    std::fill(frame.begin(), frame.end(), 0.0f);
    std::fill(onsetOut.begin(), onsetOut.end(), 0.0f);
    partialsAdded = 0;
    silentHops = kSilentHopsWhenEmpty;
    writePos = 0;
    readPos = 0;
}

namespace
{
// Amplitudes as interleaved complex values of each channel.
struct InterleavedAmps
{
    const CF* __restrict amp0;
    const CF* __restrict amp1;
    void get(int h, CF& a0, CF& a1) const noexcept { a0 = amp0[h], a1 = amp1[h]; }
};

// Amplitudes as four arrays: real and imaginary parts of each channel.
struct SplitAmps
{
    const float* __restrict re0;
    const float* __restrict im0;
    const float* __restrict re1;
    const float* __restrict im1;
    void get(int h, CF& a0, CF& a1) const noexcept { a0 = {re0[h], im0[h]}, a1 = {re1[h], im1[h]}; }
};

// The partial loop of addHarmonics for one kernel size, into the partial bins: per bin the four
// spectrum values side by side (real and imaginary part of channel 0, then of channel 1), so that
// each tap is one four-float vector and partials that reach the same bins read back exactly what
// the previous one stored. Each bin receives the same products in the same partial order as the
// spectrum parts would. A silent partial would only add zeros, so it is passed over. Returns the
// lowest and highest bin touched (lo > hi when none).
template <int kTaps, bool kInterpolate, class Amps>
void addPartials(const int* __restrict pos, Amps amps, int count, const float* __restrict table, int rowShift,
                 float* __restrict bins, int& lo, int& hi) noexcept
{
    using lanes::F4;
    const float tScale = 1.0f / float(1 << rowShift);
    for (int h = 0; h < count; ++h)
    {
        CF a0;
        CF a1;
        amps.get(h, a0, a1);
        if (a0.re == 0.0f && a0.im == 0.0f && a1.re == 0.0f && a1.im == 0.0f) continue;
        const int p = pos[h];
        const int frac = p & kPosFracMask;
        const int row = frac >> rowShift;
        const int first = (p >> kPosFracBits) + 1 - kTaps / 2;
        // Whatever the caller passes, the kernel must stay inside bins -4..133.
        if (first < kSpecLowestBin || first > kSpecHighestBin + 1 - kTaps) continue;
        const float* __restrict w = table + row * kTaps;
        float weight[kTaps];
        if constexpr (kInterpolate)
        {
            const float t = float(frac - (row << rowShift)) * tScale;
            const float* __restrict next = w + kTaps;
            for (int k = 0; k < kTaps; ++k)
                weight[k] = (1.0f - t) * w[k] + t * next[k];
        }
        else
        {
            for (int k = 0; k < kTaps; ++k)
                weight[k] = w[k];
        }
        const F4 a{a0.re, a0.im, a1.re, a1.im};
        float* __restrict b = bins + kPartialBinValues * (first + kBin0Offset);
        for (int k = 0; k < kTaps; ++k)
        {
            F4 x;
            std::memcpy(&x, b + kPartialBinValues * k, sizeof(x));
            x += weight[k] * a;
            std::memcpy(b + kPartialBinValues * k, &x, sizeof(x));
        }
        lo = std::min(lo, first);
        hi = std::max(hi, first + kTaps - 1);
    }
}

template <class Amps>
void addAllPartials(AddSynth& s, const int* pos, Amps amps, int count, int quality) noexcept
{
    if (count < 1) return;
    const int q = quality < 0 ? 1 : std::min(quality, kNumKernelQualities - 1);
    const int rowShift = kPosFracBits - kASTabBits[size_t(q)];
    const float* table = kASTabPtrs[size_t(q)];
    float* bins = s.partialBins.data();
    int lo = kSpecHighestBin + 1;
    int hi = kSpecLowestBin - 1;
    switch (q)
    {
    case 0: addPartials<kASTabSizes[0], false>(pos, amps, count, table, rowShift, bins, lo, hi); break;
    case 1: addPartials<kASTabSizes[1], false>(pos, amps, count, table, rowShift, bins, lo, hi); break;
    default: addPartials<kASTabSizes[2], true>(pos, amps, count, table, rowShift, bins, lo, hi); break;
    }
    // The call's sum into the spectrum parts; the partial bins are left at zero.
    float* __restrict re0 = s.specRe[0];
    float* __restrict im0 = s.specIm[0];
    float* __restrict re1 = s.specRe[1];
    float* __restrict im1 = s.specIm[1];
    for (int k = lo; k <= hi; ++k)
    {
        float* __restrict b = bins + kPartialBinValues * (k + kBin0Offset);
        re0[k] += b[0];
        im0[k] += b[1];
        re1[k] += b[2];
        im1[k] += b[3];
        b[0] = b[1] = b[2] = b[3] = 0.0f;
    }
    s.partialsAdded = 1;
}
} // namespace

void AddSynth::addHarmonics(const int* pos, const CF* const* amp, int count, int quality, int) noexcept
{
    if (count >= 1) addAllPartials(*this, pos, InterleavedAmps{amp[0], amp[1]}, count, quality);
}

void AddSynth::addHarmonics(const int* pos, const float* const* amp, int count, int quality) noexcept
{
    if (count >= 1) addAllPartials(*this, pos, SplitAmps{amp[0], amp[1], amp[2], amp[3]}, count, quality);
}

int AddSynth::getRemSamples(float** out, int offset, int numSamples, int numChannels, bool* silent) noexcept
{
    const int available = readySamples();
    const int n = std::clamp(numSamples, 0, available);
    const int channels = std::min(numChannels, kSynthChannels);
    int done = 0;
    while (done < n)
    {
        const int chunk = std::min(kRingLength - readPos, n - done);
        for (int ch = 0; ch < channels; ++ch)
            vectorCopy(rings[size_t(ch)].data() + readPos, out[ch] + offset + done, unsigned(chunk));
        // Every ring is emptied as it is handed out, also those not copied this time, so a channel
        // that was left out never replays stale samples later.
        for (auto& ring : rings)
            std::fill_n(ring.data() + readPos, chunk, 0.0f);
        readPos = (readPos + chunk) % kRingLength;
        done += chunk;
    }
    if (silent != nullptr) *silent = partialsAdded == 0 && (silentHops - 1) * hop > kSynthFFTSize;
    return n;
}

void AddSynth::resynthesizeHop(int channels) noexcept
{
    if (partialsAdded == 0)
    {
        if (hop * silentHops < kRingLength) ++silentHops;
        return;
    }
    silentHops = 0;
    const int half = kSynthFFTSize / 2;
    const int chCount = std::min(channels, kSynthChannels);
    for (int ch = 0; ch < chCount; ++ch)
    {
        float* re = specRe[size_t(ch)];
        float* im = specIm[size_t(ch)];
        // DC appears once in the real transform while bins 1..127 appear twice; the guard bins
        // below 0 are negative frequencies, i.e. conjugates of bins 1..4.
        re[0] *= 2.0f;
        im[0] = 0.0f; // also the Nyquist slot of the packed transform
        for (int k = 1; k <= kSpecGuardBins; ++k)
        {
            re[k] += re[-k];
            im[k] -= im[-k];
        }
        vdsp::fftInverseReal(fft256->setup, vdsp::SplitComplex{re, im}, fft256->split, kSynthFFTLog2);
        vdsp::ztoc(fft256->split, frame.data(), size_t(half));
        // The frame is centred on its sample 0: its second half precedes its first in time.
        float* ring = rings[size_t(ch)].data();
        addIntoRing(ring, writePos, frame.data() + half, synthWindow.data(), half);
        addIntoRing(ring, (writePos + half) % kRingLength, frame.data(), synthWindow.data() + half, half);
    }
    clearSpectrum();
}

void AddSynth::advanceWritePos() noexcept
{
    writePos = (writePos + hop) % kRingLength;
}

void AddSynth::addToRingAtReadPos(int channel, const float* src, int count) noexcept
{
    if (channel < 0 || channel >= kSynthChannels || src == nullptr) return;
    const int n = std::clamp(count, 0, kRingLength);
    float* ring = rings[size_t(channel)].data();
    const int first = std::min(n, kRingLength - readPos);
    for (int i = 0; i < first; ++i)
        ring[readPos + i] += src[i];
    for (int i = first; i < n; ++i)
        ring[i - first] += src[i];
    silentHops = 0;
}

void AddSynth::clearSpectrum() noexcept
{
    std::fill(spectrum.begin(), spectrum.end(), 0.0f);
    partialsAdded = 0;
}
