#include "engine/synth/HarmKernels.h"

#include <cmath>
#include <complex>
#include <cstddef>
#include <utility>

// How the window and the kernels are made
// ---------------------------------------
// Window. kASWinOLA[i] = sqrt(S(y)) with y = i / 128 on the rising half (mirrored on the falling
// half) and S(y) = y^4 (35 - 84 y + 70 y^2 - 20 y^3), the degree-7 smooth step. S(y) + S(1 - y) = 1,
// so the window is exactly power-complementary at a hop of 128; S has three vanishing derivatives
// at both ends, so the window starts like sqrt(35) (i / 128)^2 (about 0.00035 i^2) and its spectrum
// falls off fast, which lets a few taps describe a windowed sinusoid.
//
// Kernels. Rendering turns each hop's spectrum into a frame x(n) (n = -128..127, centred on sample
// 0), multiplies it by the window and overlap-adds frames 128 samples apart. A partial at position
// b + phi (b whole, 0 <= phi < 1) with taps c_k in bins b + k (k = 1 - taps/2 .. taps/2) produces the
// frame Re(A e^(2 pi i (b + phi) n / 256) h(n)) with h(n) = sum_k c_k e^(2 pi i (k - phi) n / 256),
// and two overlapping frames sum to Re(A e^(...) g(n)) with
//     g(n) = h(n) w(n) + h(n - 128) w(n - 128),   n = 0..127.
// A steady partial comes out as a clean sinusoid of amplitude |A| exactly when g(n) = 1 (the frame's
// transform doubles bins 1..127, the window carries the factor 0.5). Each row is therefore the real
// least-squares solution of sum_n |g(n) - 1|^2 over n = 0..127 for its phi = r / rows. Rows above
// the middle are the mirror images of the rows below it (the problem is symmetric under
// phi -> 1 - phi with the taps reversed), which keeps the mirror property exact. The sum of a row is
// g(0), so the fit keeps it near 1 by itself: within 0.6 % for 4 taps, where it is left alone (that
// small level trade-off is part of the best fit), and within 0.1 % for 8 taps, whose rows, like the
// crude 2-tap rows, are scaled to sum to exactly 1 so the anchors' sums bound the table's.
//
// Anchor rows. The kernels this engine's sounds were voiced with have a few known rows (the 2-tap
// rows 0 and 32, the 4-tap rows 0 and 128, the 8-tap rows 0, 32 and 64). They differ from the
// least-squares rows by a few thousandths (more for the 8-tap row 0, whose least-squares problem is
// nearly degenerate, so very different taps reconstruct almost equally well), and they are kept
// exactly. With D = c_anchor - (least-squares row at the anchor), rows near an anchor are fitted with
// an added penalty mu |c - (c_ls + D)|^2 (c_ls: the plain least-squares row) that grows without
// bound at the anchor (mu = kAnchorPull * g / (1 - g), g a raised cosine that is 1 at the anchor and
// 0 a quarter of the table away). The table thus moves smoothly into each anchor, and each row keeps
// only as much of the anchor's difference as does not spoil its own reconstruction. The fitted rows are
// computed for the lower half of the table and mirrored; anchors are symmetric or come in mirrored
// pairs, so the mirror property holds everywhere.

namespace
{
constexpr int kHalf = kSynthFFTSize / 2;
constexpr double kPi = 3.14159265358979323846;

double smoothStep7(double y)
{
    return y * y * y * y * (35.0 - 84.0 * y + 70.0 * y * y - 20.0 * y * y * y);
}

double windowValue(int i)
{
    const double y = (i <= kHalf ? i : kSynthFFTSize - i) / double(kHalf);
    return std::sqrt(smoothStep7(y));
}

std::array<float, kSynthFFTSize> makeWinOLA()
{
    std::array<float, kSynthFFTSize> w{};
    for (int i = 0; i < kSynthFFTSize; ++i)
        w[size_t(i)] = float(windowValue(i));
    return w;
}

// Solves the symmetric positive definite system a x = b (n <= kMaxKernelTaps) in place.
template <int N> std::array<double, N> solve(std::array<std::array<double, N>, N> a, std::array<double, N> b)
{
    for (int c = 0; c < N; ++c)
    {
        int pivot = c;
        for (int r = c + 1; r < N; ++r)
            if (std::fabs(a[size_t(r)][size_t(c)]) > std::fabs(a[size_t(pivot)][size_t(c)])) pivot = r;
        std::swap(a[size_t(c)], a[size_t(pivot)]);
        std::swap(b[size_t(c)], b[size_t(pivot)]);
        for (int r = c + 1; r < N; ++r)
        {
            const double f = a[size_t(r)][size_t(c)] / a[size_t(c)][size_t(c)];
            for (int k = c; k < N; ++k)
                a[size_t(r)][size_t(k)] -= f * a[size_t(c)][size_t(k)];
            b[size_t(r)] -= f * b[size_t(c)];
        }
    }
    std::array<double, N> x{};
    for (int r = N - 1; r >= 0; --r)
    {
        double s = b[size_t(r)];
        for (int k = r + 1; k < N; ++k)
            s -= a[size_t(r)][size_t(k)] * x[size_t(k)];
        x[size_t(r)] = s / a[size_t(r)][size_t(r)];
    }
    return x;
}

template <int Taps> struct Anchor
{
    int row;
    std::array<double, Taps> weights;
};

// Least-squares taps for a partial phi of a bin past a whole bin (see above), pulled towards the
// given targets with the given strengths.
template <int Taps, size_t NumTargets>
std::array<double, Taps> fitRow(double phi, const std::array<std::array<double, Taps>, NumTargets>& targets,
                                const std::array<double, NumTargets>& pull)
{
    std::array<std::array<double, Taps>, Taps> normal{};
    std::array<double, Taps> rhs{};
    std::array<std::complex<double>, Taps> basis{};
    for (int n = 0; n < kHalf; ++n)
    {
        const double wNow = windowValue(kHalf + n); // w(n), falling half
        const double wPrev = windowValue(n);        // w(n - 128), rising half
        for (int j = 0; j < Taps; ++j)
        {
            const double f = (1 - Taps / 2 + j) - phi;
            const std::complex<double> now = std::polar(1.0, 2.0 * kPi * f * n / kSynthFFTSize);
            const std::complex<double> prev = std::polar(1.0, 2.0 * kPi * f * (n - kHalf) / kSynthFFTSize);
            basis[size_t(j)] = now * wNow + prev * wPrev;
        }
        for (int j = 0; j < Taps; ++j)
        {
            rhs[size_t(j)] += basis[size_t(j)].real();
            for (int k = 0; k < Taps; ++k)
                normal[size_t(j)][size_t(k)] += (std::conj(basis[size_t(j)]) * basis[size_t(k)]).real();
        }
    }
    for (size_t a = 0; a < NumTargets; ++a)
        for (int j = 0; j < Taps; ++j)
        {
            normal[size_t(j)][size_t(j)] += pull[a];
            rhs[size_t(j)] += pull[a] * targets[a][size_t(j)];
        }
    return solve<Taps>(normal, rhs);
}

// Strength of the pull towards an anchor, relative to the 128 equations of the fit.
constexpr double kAnchorPull = 0.05 * kHalf;

// Builds a table of `Rows` stored rows for 2^Bits rows per bin. The anchors lie in the lower half
// (rows 0 .. 2^Bits / 2) and must be symmetric when they sit in the middle.
template <int Taps, int Bits, int Rows, size_t NumAnchors>
std::array<std::array<float, Taps>, Rows> makeTable(const std::array<Anchor<Taps>, NumAnchors>& anchors,
                                                    bool normaliseSums)
{
    constexpr int kRowsPerBin = 1 << Bits;
    const double reach = kRowsPerBin / 4.0;
    const std::array<std::array<double, Taps>, NumAnchors> noTargets{};
    const std::array<double, NumAnchors> noPull{};
    std::array<std::array<double, Taps>, NumAnchors> anchorDiff{};
    for (size_t a = 0; a < NumAnchors; ++a)
    {
        const auto plain = fitRow<Taps>(double(anchors[a].row) / kRowsPerBin, noTargets, noPull);
        for (int k = 0; k < Taps; ++k)
            anchorDiff[a][size_t(k)] = anchors[a].weights[size_t(k)] - plain[size_t(k)];
    }
    std::array<std::array<double, Taps>, kRowsPerBin + 1> rows{};
    for (int r = 0; r <= kRowsPerBin / 2; ++r)
    {
        const double phi = double(r) / kRowsPerBin;
        const auto plain = fitRow<Taps>(phi, noTargets, noPull);
        std::array<std::array<double, Taps>, NumAnchors> targets{};
        std::array<double, NumAnchors> pull{};
        const Anchor<Taps>* exact = nullptr;
        for (size_t a = 0; a < NumAnchors; ++a)
        {
            const double d = std::fabs(double(r - anchors[a].row));
            if (d == 0.0)
                exact = &anchors[a];
            else if (d < reach)
            {
                const double g = 0.5 + 0.5 * std::cos(kPi * d / reach);
                pull[a] = kAnchorPull * g / (1.0 - g);
                for (int k = 0; k < Taps; ++k)
                    targets[a][size_t(k)] = plain[size_t(k)] + anchorDiff[a][size_t(k)];
            }
        }
        if (exact != nullptr)
        {
            rows[size_t(r)] = exact->weights;
            continue;
        }
        rows[size_t(r)] = fitRow<Taps>(phi, targets, pull);
        if (normaliseSums)
        {
            double sum = 0.0;
            for (double v : rows[size_t(r)])
                sum += v;
            for (double& v : rows[size_t(r)])
                v /= sum;
        }
    }
    for (int r = kRowsPerBin / 2 + 1; r <= kRowsPerBin; ++r)
        for (int k = 0; k < Taps; ++k)
            rows[size_t(r)][size_t(k)] = rows[size_t(kRowsPerBin - r)][size_t(Taps - 1 - k)];

    std::array<std::array<float, Taps>, Rows> table{};
    for (int r = 0; r < Rows; ++r)
        for (int k = 0; k < Taps; ++k)
            table[size_t(r)][size_t(k)] = float(rows[size_t(r)][size_t(k)]);
    return table;
}

constexpr std::array<Anchor<2>, 2> kAnchors2 = {{
    {0, {0.8108684, 0.1891316}},
    {32, {0.5, 0.5}},
}};
constexpr std::array<Anchor<4>, 2> kAnchors4 = {{
    {0, {0.13591, 0.67156, 0.22008, -0.03254}},
    {128, {0.00102, 0.50162, 0.50162, 0.00102}},
}};
// Row 64 is row 0 mirrored and is placed by the mirror rule.
constexpr std::array<Anchor<8>, 2> kAnchors8 = {{
    {0, {0.01053, 0.0025, 0.13053, 0.71226, 0.13042, 0.00109, 0.01388, -0.00146}},
    {32, {0.00133, -0.02535, 0.02542, 0.49884, 0.49884, 0.02542, -0.02535, 0.00133}},
}};
} // namespace

const std::array<float, kSynthFFTSize> kASWinOLA = makeWinOLA();

const std::array<std::array<float, 2>, 64> kHarmBinWeights2 = makeTable<2, 6, 64>(kAnchors2, true);
const std::array<std::array<float, 4>, 256> kHarmBinWeights4 = makeTable<4, 8, 256>(kAnchors4, false);
const std::array<std::array<float, 8>, 65> kHarmBinWeights8 = makeTable<8, 6, 65>(kAnchors8, true);

namespace
{
using FineRows = std::array<std::array<float, 8>, kFineRowsPerBin>;

FineRows interpolatedRows(const std::array<std::array<float, 8>, 65>& table)
{
    constexpr int rowShift = kPosFracBits - kASTabBits[2];
    FineRows fine{};
    for (int f = 0; f < kFineRowsPerBin; ++f)
    {
        const int r = f >> rowShift;
        const float t = float(f - (r << rowShift)) * (1.0f / float(1 << rowShift));
        for (size_t k = 0; k < 8; ++k)
            fine[size_t(f)][k] = (1.0f - t) * table[size_t(r)][k] + t * table[size_t(r + 1)][k];
    }
    return fine;
}

std::array<float, 256 * kSpreadRowFloats + 4> spreadRows(const std::array<std::array<float, 4>, 256>& table)
{
    std::array<float, 256 * kSpreadRowFloats + 4> spread{};
    for (size_t r = 0; r < 256; ++r)
        for (size_t k = 0; k < 4; ++k)
            for (size_t j = 0; j < 4; ++j)
                spread[r * kSpreadRowFloats + 4 * (k + 1) + j] = table[r][k];
    return spread;
}
} // namespace

alignas(32) const std::array<float, 256 * kSpreadRowFloats + 4> kHarmBinWeights4Spread =
    spreadRows(kHarmBinWeights4);

alignas(32) const std::array<std::array<float, 8>, kFineRowsPerBin> kHarmBinWeights8Fine =
    interpolatedRows(kHarmBinWeights8);

const std::array<const float*, kNumKernelQualities> kASTabPtrs = {
    kHarmBinWeights2[0].data(), kHarmBinWeights4[0].data(), kHarmBinWeights8[0].data()};

static_assert(sizeof(std::array<float, 8>) == 8 * sizeof(float), "kernel rows are packed");
