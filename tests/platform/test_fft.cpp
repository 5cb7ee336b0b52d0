#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "platform/VectorDsp.h"

namespace
{
constexpr double kPi = 3.14159265358979323846;

// Packed spectrum: realp[0] = DC, imagp[0] = Nyquist, bins 1..N/2-1 in realp/imagp.
struct Packed
{
    explicit Packed(int n) : re(size_t(n / 2), 0.0f), im(size_t(n / 2), 0.0f) {}
    std::vector<float> re;
    std::vector<float> im;
};

// x[n] = X_0 + X_(N/2) (-1)^n + 2 sum_(k=1..N/2-1) Re(X_k e^(2 pi i k n / N)), in double.
std::vector<double> naiveInverse(const Packed& s, int n)
{
    std::vector<double> x(size_t(n), 0.0);
    for (int t = 0; t < n; ++t)
    {
        double v = s.re[0] + s.im[0] * ((t & 1) ? -1.0 : 1.0);
        for (int k = 1; k < n / 2; ++k)
        {
            const std::complex<double> xk(s.re[size_t(k)], s.im[size_t(k)]);
            v += 2.0 * (xk * std::polar(1.0, 2.0 * kPi * k * t / n)).real();
        }
        x[size_t(t)] = v;
    }
    return x;
}

// Runs the packed inverse and the interleaving copy, as the resynthesis does.
std::vector<float> fastInverse(vdsp::FFTSetup* setup, Packed s, int log2n)
{
    const int n = 1 << log2n;
    std::vector<float> outRe(size_t(n / 2)), outIm(size_t(n / 2)), x(static_cast<size_t>(n));
    vdsp::fftInverseReal(setup, {s.re.data(), s.im.data()}, {outRe.data(), outIm.data()}, log2n);
    vdsp::ztoc({outRe.data(), outIm.data()}, x.data(), size_t(n / 2));
    return x;
}

class InverseRealFFT : public ::testing::TestWithParam<int>
{
  protected:
    void SetUp() override
    {
        setup = vdsp::createFFTSetup(GetParam());
        ASSERT_NE(setup, nullptr);
    }
    void TearDown() override { vdsp::destroyFFTSetup(setup); }

    // Compares against the naive sum; float FFT error grows like log N, so 2e-6 of the input's
    // total magnitude (the bound of |x|) is generous but far below any packing or scaling mistake.
    void expectMatchesNaive(const Packed& s)
    {
        const int log2n = GetParam();
        const int n = 1 << log2n;
        const std::vector<double> want = naiveInverse(s, n);
        const std::vector<float> got = fastInverse(setup, s, log2n);
        double bound = std::fabs(s.re[0]) + std::fabs(s.im[0]);
        for (int k = 1; k < n / 2; ++k)
            bound += 2.0 * std::hypot(s.re[size_t(k)], s.im[size_t(k)]);
        const double tol = 2e-6 * std::max(bound, 1.0) * log2n;
        for (int t = 0; t < n; ++t)
            ASSERT_NEAR(got[size_t(t)], want[size_t(t)], tol) << "sample " << t;
    }

    vdsp::FFTSetup* setup = nullptr;
};

TEST_P(InverseRealFFT, DcIsAddedUnscaled)
{
    Packed s(1 << GetParam());
    s.re[0] = 0.75f;
    const std::vector<float> x = fastInverse(setup, s, GetParam());
    for (float v : x)
        EXPECT_FLOAT_EQ(v, 0.75f);
    expectMatchesNaive(s);
}

TEST_P(InverseRealFFT, NyquistComesFromImaginaryEntryZero)
{
    Packed s(1 << GetParam());
    s.im[0] = 0.5f;
    const std::vector<float> x = fastInverse(setup, s, GetParam());
    for (size_t t = 0; t < x.size(); ++t)
        EXPECT_FLOAT_EQ(x[t], (t & 1) ? -0.5f : 0.5f);
    expectMatchesNaive(s);
}

TEST_P(InverseRealFFT, SingleBinGivesDoubledCosine)
{
    const int n = 1 << GetParam();
    for (int k : {1, 2, 5, n / 4, n / 2 - 1})
    {
        Packed s(n);
        s.re[size_t(k)] = 0.3f;
        s.im[size_t(k)] = -0.4f;
        const std::vector<float> x = fastInverse(setup, s, GetParam());
        for (int t = 0; t < n; ++t)
        {
            const double phase = 2.0 * kPi * k * t / n;
            const double want = 2.0 * (0.3 * std::cos(phase) + 0.4 * std::sin(phase));
            ASSERT_NEAR(x[size_t(t)], want, 1e-5) << "bin " << k << " sample " << t;
        }
    }
}

TEST_P(InverseRealFFT, RandomSpectraMatchNaiveSum)
{
    std::mt19937 gen(1234u + unsigned(GetParam()));
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int trial = 0; trial < 5; ++trial)
    {
        Packed s(1 << GetParam());
        for (size_t k = 0; k < s.re.size(); ++k)
        {
            s.re[k] = dist(gen);
            s.im[k] = dist(gen);
        }
        expectMatchesNaive(s);
    }
}

TEST_P(InverseRealFFT, OutputMayAliasInput)
{
    const int n = 1 << GetParam();
    Packed s(n);
    s.re[0] = 0.1f;
    s.re[3] = 0.2f;
    s.im[3] = 0.7f;
    s.im[0] = -0.3f;
    const std::vector<float> want = fastInverse(setup, s, GetParam());
    vdsp::fftInverseReal(setup, {s.re.data(), s.im.data()}, {s.re.data(), s.im.data()}, GetParam());
    std::vector<float> got(static_cast<size_t>(n));
    vdsp::ztoc({s.re.data(), s.im.data()}, got.data(), size_t(n / 2));
    for (int t = 0; t < n; ++t)
        EXPECT_FLOAT_EQ(got[size_t(t)], want[size_t(t)]);
}

TEST_P(InverseRealFFT, MismatchedSizeLeavesOutputAlone)
{
    const int n = 1 << GetParam();
    Packed s(n);
    s.re[0] = 1.0f;
    std::vector<float> outRe(size_t(n / 2), 9.0f), outIm(size_t(n / 2), 9.0f);
    vdsp::fftInverseReal(setup, {s.re.data(), s.im.data()}, {outRe.data(), outIm.data()}, GetParam() + 1);
    vdsp::fftInverseReal(nullptr, {s.re.data(), s.im.data()}, {outRe.data(), outIm.data()}, GetParam());
    for (int k = 0; k < n / 2; ++k)
    {
        EXPECT_EQ(outRe[size_t(k)], 9.0f);
        EXPECT_EQ(outIm[size_t(k)], 9.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, InverseRealFFT, ::testing::Values(6, 8),
                         [](const ::testing::TestParamInfo<int>& info)
                         { return "N" + std::to_string(1 << info.param); });

TEST(FFTSetup, RejectsUnsupportedSizesAndToleratesNull)
{
    EXPECT_EQ(vdsp::createFFTSetup(0), nullptr);
    EXPECT_EQ(vdsp::createFFTSetup(-3), nullptr);
    EXPECT_EQ(vdsp::createFFTSetup(vdsp::kMaxFFTLog2 + 1), nullptr);
    vdsp::destroyFFTSetup(nullptr);
    EXPECT_EQ(vdsp::fftLog2Size(nullptr), 0);
    vdsp::FFTSetup* s = vdsp::createFFTSetup(6);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(vdsp::fftLog2Size(s), 6);
    vdsp::destroyFFTSetup(s);
}

TEST(VectorOps, ZtocInterleaves)
{
    std::vector<float> re = {1, 2, 3}, im = {-1, -2, -3}, out(6);
    vdsp::ztoc({re.data(), im.data()}, out.data(), 3);
    EXPECT_EQ(out, (std::vector<float>{1, -1, 2, -2, 3, -3}));
}

// Lengths around the unrolled step of 4 and an empty vector.
class VectorOpsLength : public ::testing::TestWithParam<size_t>
{
  protected:
    void SetUp() override
    {
        std::mt19937 gen(static_cast<unsigned>(GetParam()));
        std::uniform_real_distribution<float> dist(-2.0f, 2.0f);
        for (auto* v : {&a, &b, &c})
        {
            v->resize(GetParam());
            for (float& x : *v)
                x = dist(gen);
        }
    }
    std::vector<float> a, b, c;
};

TEST_P(VectorOpsLength, MultiplyAddsMatchElementwise)
{
    const size_t n = GetParam();
    std::vector<float> d(n, 99.0f);
    vdsp::vma(a.data(), b.data(), c.data(), d.data(), n);
    for (size_t i = 0; i < n; ++i)
        EXPECT_FLOAT_EQ(d[i], a[i] * b[i] + c[i]);
    vdsp::vsma(a.data(), 0.25f, c.data(), d.data(), n);
    for (size_t i = 0; i < n; ++i)
        EXPECT_FLOAT_EQ(d[i], a[i] * 0.25f + c[i]);
    vdsp::vsmul(a.data(), -3.0f, d.data(), n);
    for (size_t i = 0; i < n; ++i)
        EXPECT_FLOAT_EQ(d[i], a[i] * -3.0f);
    // In place, as the overlap-add uses it.
    std::vector<float> acc = c;
    vdsp::vma(a.data(), b.data(), acc.data(), acc.data(), n);
    for (size_t i = 0; i < n; ++i)
        EXPECT_FLOAT_EQ(acc[i], a[i] * b[i] + c[i]);
}

TEST_P(VectorOpsLength, SumsMatchDoublePrecision)
{
    const size_t n = GetParam();
    double sq = 0.0, dot = 0.0;
    for (size_t i = 0; i < n; ++i)
    {
        sq += double(a[i]) * a[i];
        dot += double(a[i]) * b[i];
    }
    EXPECT_NEAR(vdsp::svesq(a.data(), n), sq, 1e-5 * (1.0 + sq));
    EXPECT_NEAR(vdsp::dotpr(a.data(), b.data(), n), dot, 1e-5 * (1.0 + std::fabs(dot) + sq));
}

INSTANTIATE_TEST_SUITE_P(Lengths, VectorOpsLength, ::testing::Values(0u, 1u, 3u, 4u, 7u, 128u, 1001u));
} // namespace
