#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

#include "platform/FlushDenormals.h"
#include "platform/VectorDsp.h"

namespace
{
// Packed spectra (re[0] = DC, im[0] = Nyquist, bins 1..N/2-1) through the inverse and the
// interleaving copy, as the resynthesis runs them, out of place and in place, against the naive
// sum x[t] = X_0 + X_(N/2) (-1)^t + 2 sum Re(X_k e^(2 pi i k t / N)) in double. Rows: DC alone,
// Nyquist alone, single bins at both ends and the middle, then random spectra.
TEST(InverseRealFFT, MatchesTheNaiveSumInPlaceAndOutOfPlace)
{
    std::mt19937 gen(1234u);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int log2n : {6, 8})
    {
        const int n = 1 << log2n;
        vdsp::FFTSetup* setup = vdsp::createFFTSetup(log2n);
        ASSERT_TRUE(setup != nullptr && vdsp::fftLog2Size(setup) == log2n);
        for (int row = 0; row < 12; ++row)
        {
            std::vector<float> re(size_t(n / 2)), im(re), outRe(re), outIm(re), got(static_cast<size_t>(n)),
                inPlace(got);
            const size_t bins[] = {0, 0, 1, 2, size_t(n / 4), size_t(n / 2 - 1)};
            (row == 0 ? re[0] : im[0]) = row < 2 ? 0.75f : 0.0f;
            if (row >= 2 && row < 6) re[bins[row]] = 0.3f, im[bins[row]] = -0.4f;
            for (size_t k = 0; row >= 6 && k < re.size(); ++k)
                re[k] = dist(gen), im[k] = dist(gen);
            // Float error grows like log N: 2e-6 of the bound of |x| per stage is far below any
            // packing or scaling mistake.
            double bound = std::fabs(re[0]) + std::fabs(im[0]);
            for (int k = 1; k < n / 2; ++k)
                bound += 2.0 * std::hypot(re[size_t(k)], im[size_t(k)]);
            vdsp::fftInverseReal(setup, {re.data(), im.data()}, {outRe.data(), outIm.data()}, log2n);
            vdsp::ztoc({outRe.data(), outIm.data()}, got.data(), size_t(n / 2));
            for (int t = 0; t < n; ++t)
            {
                double want = re[0] + im[0] * ((t & 1) ? -1.0 : 1.0);
                for (int k = 1; k < n / 2; ++k)
                    want += 2.0 * (std::complex<double>(re[size_t(k)], im[size_t(k)]) *
                                   std::polar(1.0, 2.0 * M_PI * k * t / n))
                                      .real();
                ASSERT_NEAR(got[size_t(t)], want, 2e-6 * std::max(bound, 1.0) * log2n)
                    << n << " " << row << " " << t;
            }
            vdsp::fftInverseReal(setup, {re.data(), im.data()}, {re.data(), im.data()}, log2n);
            vdsp::ztoc({re.data(), im.data()}, inPlace.data(), size_t(n / 2));
            EXPECT_EQ(inPlace, got) << "row " << row;
        }
        // A size other than the set-up's, or no set-up, leaves the output alone.
        std::vector<float> in(size_t(n / 2), 1.0f), out(size_t(n / 2), 9.0f);
        vdsp::fftInverseReal(setup, {in.data(), in.data()}, {out.data(), out.data()}, log2n + 1);
        vdsp::fftInverseReal(nullptr, {in.data(), in.data()}, {out.data(), out.data()}, log2n);
        EXPECT_EQ(out, std::vector<float>(out.size(), 9.0f));
        vdsp::destroyFFTSetup(setup);
    }
    vdsp::destroyFFTSetup(nullptr);
    EXPECT_TRUE(!vdsp::createFFTSetup(0) && !vdsp::createFFTSetup(-3) &&
                !vdsp::createFFTSetup(vdsp::kMaxFFTLog2 + 1) && vdsp::fftLog2Size(nullptr) == 0);
}

// The in-order form against the inverse and the interleaving copy, bit for bit: random spectra
// into destinations at every float offset within a 32-byte span, so that both a destination
// aligned as the plan's buffers and one aligned otherwise are written. Rows: transform sizes.
TEST(InverseRealFFT, InOrderSamplesEqualTheInverseAndInterleaveBitForBit)
{
    std::mt19937 gen(77u);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int log2n : {2, 6, 8, 10})
    {
        const int n = 1 << log2n;
        vdsp::FFTSetup* setup = vdsp::createFFTSetup(log2n);
        ASSERT_TRUE(setup != nullptr);
        std::vector<float> re(size_t(n / 2)), im(re), outRe(re), outIm(re), want(static_cast<size_t>(n));
        std::vector<float> dst(static_cast<size_t>(n + 8));
        for (int offset = 0; offset < 8; ++offset)
        {
            for (size_t k = 0; k < re.size(); ++k)
                re[k] = dist(gen), im[k] = dist(gen);
            vdsp::fftInverseReal(setup, {re.data(), im.data()}, {outRe.data(), outIm.data()}, log2n);
            vdsp::ztoc({outRe.data(), outIm.data()}, want.data(), size_t(n / 2));
            std::fill(dst.begin(), dst.end(), 5.0f);
            vdsp::fftInverseRealSamples(setup, {re.data(), im.data()}, dst.data() + offset, log2n);
            for (int t = 0; t < n; ++t)
                ASSERT_EQ(std::memcmp(&dst[size_t(offset + t)], &want[size_t(t)], sizeof(float)), 0)
                    << n << " offset " << offset << " sample " << t;
            // Nothing outside the N samples is written.
            for (int t = 0; t < offset; ++t)
                EXPECT_EQ(dst[size_t(t)], 5.0f);
            for (int t = offset + n; t < n + 8; ++t)
                EXPECT_EQ(dst[size_t(t)], 5.0f);
        }
        // A size other than the set-up's, or no set-up, leaves the destination alone.
        std::fill(dst.begin(), dst.end(), 9.0f);
        vdsp::fftInverseRealSamples(setup, {re.data(), im.data()}, dst.data(), log2n + 1);
        vdsp::fftInverseRealSamples(nullptr, {re.data(), im.data()}, dst.data(), log2n);
        EXPECT_EQ(dst, std::vector<float>(dst.size(), 9.0f));
        vdsp::destroyFFTSetup(setup);
    }
}

// Lengths around the unrolled step of 4 and an empty vector; the last multiply-add runs in place,
// as the overlap-add does.
TEST(VectorOps, MatchElementwiseAndDoublePrecisionSumsAndDenormalsFlush)
{
    for (size_t n : {0u, 1u, 3u, 4u, 7u, 128u, 1001u})
    {
        std::mt19937 gen{unsigned(n)};
        std::uniform_real_distribution<float> dist(-2.0f, 2.0f);
        std::vector<float> a(n), b(n), c(n), d(n), e(n), f(n), acc(n);
        double sq = 0.0, dot = 0.0;
        for (size_t i = 0; i < n; ++i)
            a[i] = dist(gen), b[i] = dist(gen), c[i] = acc[i] = dist(gen), sq += double(a[i]) * a[i],
            dot += double(a[i]) * b[i];
        vdsp::vma(a.data(), b.data(), c.data(), d.data(), n);
        vdsp::vsma(a.data(), 0.25f, c.data(), e.data(), n);
        vdsp::vsmul(a.data(), -3.0f, f.data(), n);
        vdsp::vma(a.data(), b.data(), acc.data(), acc.data(), n);
        for (size_t i = 0; i < n; ++i)
            ASSERT_TRUE(d[i] == a[i] * b[i] + c[i] && e[i] == a[i] * 0.25f + c[i] && f[i] == a[i] * -3.0f &&
                        acc[i] == d[i])
                << n << " " << i;
        EXPECT_NEAR(vdsp::svesq(a.data(), n), sq, 1e-5 * (1.0 + sq)) << n;
        EXPECT_NEAR(vdsp::dotpr(a.data(), b.data(), n), dot, 1e-5 * (1.0 + std::fabs(dot) + sq)) << n;
    }
    // The render thread's guard flushes denormal results inside its scope only.
    volatile float tiny = FLT_MIN, half = 0.5f;
    const float before = tiny * half;
    float inside;
    {
        FlushDenormals guard;
        inside = tiny * half;
    }
    EXPECT_TRUE(before > 0.0f && inside == 0.0f && tiny * half > 0.0f) << before << " " << inside;
}

} // namespace
