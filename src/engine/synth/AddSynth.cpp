// Eight-float vectors pass between functions here only inside the wide form's inlined loop, never
// across a call the two forms would have to agree on.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "engine/synth/AddSynth.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "engine/VectorWidth.h"
#include "engine/synth/FourLanes.h"
#include "engine/synth/HarmKernels.h"

namespace
{
constexpr double kPi = 3.14159265358979323846;
// Channel parts of the spectrum: real part of channel ch at 2 ch, imaginary part at 2 ch + 1.
constexpr int kBin0Offset = -kSpecLowestBin;
constexpr int kPartialBinValues = 4;
// The wide form's window starts on even bins and spans the kernel's bins and one more, so a kernel
// on the highest bins reaches two bins past the spectrum.
constexpr int kPartialBinCount = kSpecPartSize + 2;
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
    : setup(vdsp::createFFTSetup(newLog2n)), log2n(newLog2n)
{
    if (setup == nullptr) throw std::runtime_error("FFT set-up failed");
}

SynthFFT::~SynthFFT()
{
    vdsp::destroyFFTSetup(setup);
}

AddSynth::AddSynth()
    : spectrum(kSpectrumSize, 0.0f), partialBins(size_t(kPartialBinValues * kPartialBinCount), 0.0f),
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
    clearSpectrum();
    for (auto& ring : rings)
        std::fill(ring.begin(), ring.end(), 0.0f);
    std::fill(frame.begin(), frame.end(), 0.0f);
    std::fill(onsetOut.begin(), onsetOut.end(), 0.0f);
    silentHops = kSilentHopsWhenEmpty;
    writePos = 0;
    readPos = 0;
}

namespace
{
// Amplitudes as four arrays: real and imaginary parts of each channel.
struct SplitAmps
{
    const float* __restrict re0;
    const float* __restrict im0;
    const float* __restrict re1;
    const float* __restrict im1;
    void get(int h, CF& a0, CF& a1) const noexcept { a0 = {re0[h], im0[h]}, a1 = {re1[h], im1[h]}; }
    SplitAmps from(int h) const noexcept { return {re0 + h, im0 + h, re1 + h, im1 + h}; }
    // The parts of as many partials as V has lanes, from partial h on.
    template <class V>
    void getLanes(int h, V (&parts)[4]) const noexcept
    {
        std::memcpy(&parts[0], re0 + h, sizeof(parts[0]));
        std::memcpy(&parts[1], im0 + h, sizeof(parts[1]));
        std::memcpy(&parts[2], re1 + h, sizeof(parts[2]));
        std::memcpy(&parts[3], im1 + h, sizeof(parts[3]));
    }
};

using lanes::F4;
// Eight floats: two bins of the partial bins, two groups of a spread kernel row, or eight partials.
using F8 = float __attribute__((vector_size(32)));
using I8 = int32_t __attribute__((vector_size(32)));

// The vectors of kL partials' values side by side: four in either form, eight in the wide one.
template <int kL>
struct LaneTypes;
template <>
struct LaneTypes<4>
{
    using I = lanes::I4;
    using F = F4;
};
template <>
struct LaneTypes<8>
{
    using I = I8;
    using F = F8;
};

// Vectors of bins read and written at any float address.
template <class V = F4>
[[gnu::always_inline]] inline V loadBin(const float* p) noexcept
{
    V x;
    std::memcpy(&x, p, sizeof(x));
    return x;
}

template <class V>
[[gnu::always_inline]] inline void storeBin(float* p, V x) noexcept
{
    std::memcpy(p, &x, sizeof(x));
}

// Floats in one vector of the window.
template <class V>
inline constexpr int kFloatsOf = int(sizeof(V) / sizeof(float));

// Four vectors of four turned into four vectors of each one's lane k, k = 0..3.
[[gnu::always_inline]] inline void transpose4(F4 (&x)[4]) noexcept
{
    const F4 lo01 = __builtin_shufflevector(x[0], x[1], 0, 4, 1, 5);
    const F4 hi01 = __builtin_shufflevector(x[0], x[1], 2, 6, 3, 7);
    const F4 lo23 = __builtin_shufflevector(x[2], x[3], 0, 4, 1, 5);
    const F4 hi23 = __builtin_shufflevector(x[2], x[3], 2, 6, 3, 7);
    x[0] = __builtin_shufflevector(lo01, lo23, 0, 1, 4, 5);
    x[1] = __builtin_shufflevector(lo01, lo23, 2, 3, 6, 7);
    x[2] = __builtin_shufflevector(hi01, hi23, 0, 1, 4, 5);
    x[3] = __builtin_shufflevector(hi01, hi23, 2, 3, 6, 7);
}

// Four vectors of eight partials' parts turned into those partials' amplitudes, in place: the
// shuffles of transpose4 within each half, so vector j holds partial j's amplitude in its low half
// and partial j + 4's in its high half.
[[gnu::always_inline]] inline void transpose4(F8 (&x)[4]) noexcept
{
    const F8 lo01 = __builtin_shufflevector(x[0], x[1], 0, 8, 1, 9, 4, 12, 5, 13);
    const F8 hi01 = __builtin_shufflevector(x[0], x[1], 2, 10, 3, 11, 6, 14, 7, 15);
    const F8 lo23 = __builtin_shufflevector(x[2], x[3], 0, 8, 1, 9, 4, 12, 5, 13);
    const F8 hi23 = __builtin_shufflevector(x[2], x[3], 2, 10, 3, 11, 6, 14, 7, 15);
    x[0] = __builtin_shufflevector(lo01, lo23, 0, 1, 8, 9, 4, 5, 12, 13);
    x[1] = __builtin_shufflevector(lo01, lo23, 2, 3, 10, 11, 6, 7, 14, 15);
    x[2] = __builtin_shufflevector(hi01, hi23, 0, 1, 8, 9, 4, 5, 12, 13);
    x[3] = __builtin_shufflevector(hi01, hi23, 2, 3, 10, 11, 6, 7, 14, 15);
}

// The amplitudes of the partials transposed above, in partial order.
[[gnu::always_inline]] inline void storeAmps(const F4 (&x)[4], F4* amp) noexcept
{
    for (int j = 0; j < 4; ++j)
        amp[j] = x[j];
}

[[gnu::always_inline]] inline void storeAmps(const F8 (&x)[4], F4* amp) noexcept
{
    // Each half copied out of the vector's memory: the high one goes out in one extracting store
    // (as a shuffle, it took a shuffle and a store).
    for (int j = 0; j < 4; ++j)
    {
        std::memcpy(amp + j, &x[j], sizeof(F4));
        std::memcpy(amp + j + 4, reinterpret_cast<const char*>(&x[j]) + sizeof(F4), sizeof(F4));
    }
}

// Lane-wise a where mask is set, else b.
template <class V, class I>
[[gnu::always_inline]] inline V selectLanes(I mask, V a, V b) noexcept
{
    return reinterpret_cast<V>((reinterpret_cast<I>(a) & mask) | (reinterpret_cast<I>(b) & ~mask));
}

// Moves the window of n vectors of bins (starting at win) up by D vectors: the D lowest are
// stored, the rest move down, and the D above come in from memory.
template <int n, int D, class V>
[[gnu::always_inline]] inline void shiftWindowBy(V (&r)[n], float* __restrict win) noexcept
{
    for (int k = 0; k < D; ++k)
        storeBin(win + kFloatsOf<V> * k, r[k]);
    for (int k = 0; k + D < n; ++k)
        r[k] = r[k + D];
    for (int k = n - D; k < n; ++k)
        r[k] = loadBin<V>(win + kFloatsOf<V> * (k + D));
}

template <int n, class V, int... D>
[[gnu::always_inline]] inline void shiftWindowTo(V (&r)[n], float* __restrict win, size_t d,
                                                 std::integer_sequence<int, D...>) noexcept
{
    (void)((d == size_t(kFloatsOf<V> * (D + 1)) ? (shiftWindowBy<n, D + 1>(r, win), true) : false) ||
           ...);
}

// Moves the window to float `at` of the bins, which lies d floats above it: by 1 .. n - 1 vectors
// keeping what stays inside, otherwise by storing it all and loading it afresh.
template <int n, class V>
[[gnu::always_inline]] inline void moveWindow(V (&r)[n], float* __restrict bins, size_t& wat,
                                              size_t at) noexcept
{
    const size_t d = at - wat;
    float* __restrict win = bins + wat;
    // A move by one vector, the commonest, is told apart first.
    if (at == wat + kFloatsOf<V>)
        shiftWindowBy<n, 1>(r, win);
    else if (d < size_t(kFloatsOf<V> * n))
        shiftWindowTo<n>(r, win, d, std::make_integer_sequence<int, n - 1>{});
    else
    {
        for (int k = 0; k < n; ++k)
            storeBin(win + kFloatsOf<V> * k, r[k]);
        for (int k = 0; k < n; ++k)
            r[k] = loadBin<V>(bins + at + kFloatsOf<V> * k);
    }
    wat = at;
}

// Partials are taken in chunks: first a vector pass over the chunk works out where each partial's
// kernel lies and puts its amplitudes side by side, then the bin loop below adds them up. A chunk
// holds the partials of most voices' calls (3 KB on the stack), since each chunk costs a window's
// loads and stores and the set-up of both passes.
constexpr int kChunk = 128;

// One chunk's partials, ready for the bin loop: per partial the four amplitude parts side by side
// (zero for a partial whose kernel would leave the spectrum), where its kernel's first bin (kept
// inside the spectrum) starts in the partial bins and the offset of its kernel row in the table.
// Bin offsets are unsigned, so that turning one into an address needs no sign extension.
struct PreparedChunk
{
    alignas(16) F4 amp[kChunk];
    alignas(16) uint32_t at[kChunk];
    alignas(16) int32_t rowOffset[kChunk];
};

// Where the wide form finds a partial's taps, for a kernel starting on the window's first bin
// (odd = 0) or on its second (odd = kPartialBinValues): a spread 4-tap row is read from its leading
// zeros on for the second, one bin earlier; an 8-tap kernel is told by its fine row and start, as
// 2 row + start (eightTaps builds it).
template <int kTaps, class T>
[[gnu::always_inline]] inline T pairedRowStart(T row, T odd) noexcept
{
    static_assert(kPartialBinValues == 4);
    if constexpr (kTaps == 4)
        return row * kSpreadRowFloats + (kPartialBinValues - odd);
    else
        return row * 2 + (odd >> 2);
}

// kL partials at a time (from partial `from` on, to a multiple of kL). Lane by lane, lo and hi
// follow the lowest and highest first bin of the partials that stay inside the spectrum. kChecked:
// whether partials whose kernel would leave the spectrum are silenced and parked on the nearest
// position inside; without the check, lo and hi tell whether any such partial came by.
template <int kTaps, bool kChecked, bool kPaired, int kL, class Amps>
[[gnu::always_inline]] inline void prepareChunk(const int* __restrict pos, Amps amps, int from, int to,
                                                int rowShift, PreparedChunk& c, lanes::I4& lo4,
                                                lanes::I4& hi4) noexcept
{
    using I = typename LaneTypes<kL>::I;
    using F = typename LaneTypes<kL>::F;
    constexpr int kLowest = kSpecLowestBin;
    constexpr int kHighest = kSpecHighestBin + 1 - kTaps;
    I lo;
    I hi;
    if constexpr (kL == 4)
        lo = lo4, hi = hi4;
    else
        lo = __builtin_shufflevector(lo4, lo4, 0, 1, 2, 3, 0, 1, 2, 3),
        hi = __builtin_shufflevector(hi4, hi4, 0, 1, 2, 3, 0, 1, 2, 3);
    for (int h = from; h < to; h += kL)
    {
        I p;
        std::memcpy(&p, pos + h, sizeof(p));
        const I frac = p & kPosFracMask;
        const I row = frac >> rowShift;
        I first = (p >> kPosFracBits) + (1 - kTaps / 2);
        I inside = I{} - 1;
        if constexpr (kChecked)
        {
            const I below = first < kLowest;
            const I above = first > kHighest;
            inside = ~(below | above);
            lo = selectLanes(inside & (first < lo), first, lo);
            hi = selectLanes(inside & (first > hi), first, hi);
            first = selectLanes(below, I{} + kLowest, selectLanes(above, I{} + kHighest, first));
        }
        else
        {
            // As conditionals, which the wide form does in one minimum or maximum instruction.
            lo = first < lo ? first : lo;
            hi = first > hi ? first : hi;
        }
        I at = (first + kBin0Offset) * kPartialBinValues;
        I offset = row * kTaps;
        if constexpr (kPaired)
        {
            // The window starts on the even bin at or below the kernel.
            const I odd = at & kPartialBinValues;
            at -= odd;
            offset = pairedRowStart<kTaps>(row, odd);
        }
        std::memcpy(c.at + h, &at, sizeof(at));
        std::memcpy(c.rowOffset + h, &offset, sizeof(offset));
        F parts[4];
        amps.getLanes(h, parts);
        if constexpr (kChecked)
            for (F& part : parts)
                part = selectLanes(inside, part, F{});
        // kL partials' parts turned into kL partials' amplitudes.
        transpose4(parts);
        storeAmps(parts, c.amp + h);
    }
    if constexpr (kL == 4)
        lo4 = lo, hi4 = hi;
    else
    {
        const lanes::I4 loHigh = __builtin_shufflevector(lo, lo, 4, 5, 6, 7);
        const lanes::I4 hiHigh = __builtin_shufflevector(hi, hi, 4, 5, 6, 7);
        lo4 = __builtin_shufflevector(lo, lo, 0, 1, 2, 3);
        hi4 = __builtin_shufflevector(hi, hi, 0, 1, 2, 3);
        lo4 = loHigh < lo4 ? loHigh : lo4;
        hi4 = hiHigh > hi4 ? hiHigh : hi4;
    }
}

// A chunk's partials from `from` to a multiple of four, eight at a time as far as they go in the
// wide form.
template <int kTaps, bool kChecked, bool kPaired, bool kWide, class Amps>
[[gnu::always_inline]] inline void prepareWhole(const int* __restrict pos, Amps amps, int n, int rowShift,
                                                PreparedChunk& c, lanes::I4& lo, lanes::I4& hi) noexcept
{
    int done = 0;
    if constexpr (kWide)
    {
        done = n & ~7;
        prepareChunk<kTaps, kChecked, kPaired, 8>(pos, amps, 0, done, rowShift, c, lo, hi);
    }
    prepareChunk<kTaps, kChecked, kPaired, 4>(pos, amps, done, n & ~3, rowShift, c, lo, hi);
}

// The same for one partial, for the last few of a chunk; lo and hi as one lane of the above.
template <int kTaps, bool kPaired, class Amps>
[[gnu::always_inline]] inline void prepareOne(const int* __restrict pos, Amps amps, int h, int rowShift,
                                              PreparedChunk& c, int32_t& lo, int32_t& hi) noexcept
{
    const int p = pos[h];
    const int frac = p & kPosFracMask;
    const int row = frac >> rowShift;
    const int first = (p >> kPosFracBits) + 1 - kTaps / 2;
    const bool inside = first >= kSpecLowestBin && first <= kSpecHighestBin + 1 - kTaps;
    if (inside)
    {
        lo = std::min(lo, first);
        hi = std::max(hi, first);
    }
    const int at =
        (std::clamp(first, kSpecLowestBin, kSpecHighestBin + 1 - kTaps) + kBin0Offset) * kPartialBinValues;
    const int odd = kPaired ? at & kPartialBinValues : 0;
    c.at[h] = at - odd;
    c.rowOffset[h] = kPaired ? pairedRowStart<kTaps>(row, odd) : row * kTaps;
    CF a0;
    CF a1;
    amps.get(h, a0, a1);
    c.amp[h] = inside ? F4{a0.re, a0.im, a1.re, a1.im} : F4{};
}

// Lane L of x in all four lanes, shuffled as integers: the baseline has a copying integer shuffle
// but only an in-place float one, which would need a copy first.
template <int L>
[[gnu::always_inline]] inline F4 spreadLane(F4 x) noexcept
{
    const lanes::I4 bits = reinterpret_cast<lanes::I4>(x);
    return reinterpret_cast<F4>(__builtin_shufflevector(bits, bits, L, L, L, L));
}

// Adds tap K's weight (lane K % 4 of row group K / 4) times the amplitude into window bin K.
template <int kTaps, int kGroups, int... K>
inline void addTaps(F4 (&r)[kTaps], const F4 (&rows)[kGroups], F4 a, std::integer_sequence<int, K...>) noexcept
{
    ((r[K] += spreadLane<K % 4>(rows[K / 4]) * a), ...);
}

// The bin loop of addHarmonics for one kernel size, into the partial bins: per bin the four
// spectrum values side by side (real and imaginary part of channel 0, then of channel 1), so that
// each tap is one four-float vector. Each bin receives the same products in the same partial order
// as the spectrum parts would.
//
// A voice's harmonics rise with h, and at low notes several fall within one bin, so each partial's
// kernel mostly covers the bins of the one before it. Those bins stay in registers (the window:
// kTaps bins from float wat of the partial bins) while the kernel's first bin holds still or moves
// up by less than the kernel's width; the bins falling out below are stored, those coming in above
// are loaded. Any other move (down, or past the window) stores the whole window and loads it afresh
// where the partial lies. Memory thus holds every bin outside the window and the window every bin in it, and a
// partial never waits for a bin the one before it has only just stored. A silent partial adds
// zeros, which leave every bin as it is (a bin starts at +0 and so never becomes -0), so it needs
// no test of its own.
template <int kTaps>
[[gnu::always_inline]] inline void addChunk(const PreparedChunk& c, int count, const float* __restrict table,
                               float* __restrict bins, size_t& wat, F4 (&r)[kTaps]) noexcept
{
    for (int h = 0; h < count; ++h)
    {
        const size_t at = c.at[h];
        const F4 a = c.amp[h];
        const float* __restrict w = table + c.rowOffset[h];
        F4 rows[(kTaps + lanes::kLanes - 1) / lanes::kLanes];
        if constexpr (kTaps % lanes::kLanes == 0)
        {
            for (int g = 0; g < kTaps / lanes::kLanes; ++g)
                rows[g] = loadBin(w + lanes::kLanes * g);
        }
        else
        {
            rows[0] = F4{};
            for (int k = 0; k < kTaps; ++k)
                rows[0][k] = w[k];
        }
        if (at != wat) moveWindow(r, bins, wat, at);
        addTaps(r, rows, a, std::make_integer_sequence<int, kTaps>{});
    }
}

// Pairs of bins in the window of the wide loop: the kernel's bins and one more, as the window starts
// on the even bin at or below the kernel.
template <int kTaps>
inline constexpr int kPairWindow = kTaps / 2 + 1;

// Which floats of an 8-tap row the wide loop's pairs take, and which stay zero, for a
// kernel starting on a pair's first bin (index 0) or its second (1): the first four pairs' taps as
// the even bins' (low half) and the odd bins' (high half), then the fifth pair's.
alignas(32) constexpr int32_t kEightTapPicks[2][2][8] = {
    {{0, 2, 4, 6, 1, 3, 5, 7}, {0, 0, 0, 0, 0, 0, 0, 0}},
    {{0, 1, 3, 5, 0, 2, 4, 6}, {7, 7, 7, 7, 7, 7, 7, 7}}};
alignas(32) constexpr int32_t kEightTapKeeps[2][2][8] = {
    {{-1, -1, -1, -1, -1, -1, -1, -1}, {0, 0, 0, 0, 0, 0, 0, 0}},
    {{0, -1, -1, -1, -1, -1, -1, -1}, {-1, -1, -1, -1, 0, 0, 0, 0}}};

// Lane k of the result is lane pick[k] of x (one cross-lane permute in the wide form).
[[gnu::always_inline]] inline F8 permute(F8 x, I8 pick) noexcept
{
#if defined(__GNUC__) && !defined(__clang__)
    return __builtin_shuffle(x, pick);
#else
    return F8{x[pick[0] & 7], x[pick[1] & 7], x[pick[2] & 7], x[pick[3] & 7],
              x[pick[4] & 7], x[pick[5] & 7], x[pick[6] & 7], x[pick[7] & 7]};
#endif
}

// The 8-tap kernel of fine row and start `kernel` (2 row + start), from its row of the fine table
// (32 KB), laid out for the start by two permutes: the rows laid out per start took 128 KB, of
// which the lowest partials of each voice hop touched a line anywhere, mostly missing the
// second-level cache.
[[gnu::always_inline]] inline void eightTaps(const float* __restrict table, int kernel, F8& pairs,
                                             F8& fifth) noexcept
{
    const int fine = (kernel >> 1) & (kFineRowsPerBin - 1);
    const int start = kernel & 1;
    const F8 taps = loadBin<F8>(table + 8 * fine);
    const I8* picks = reinterpret_cast<const I8*>(kEightTapPicks[start]);
    const I8* keeps = reinterpret_cast<const I8*>(kEightTapKeeps[start]);
    pairs = reinterpret_cast<F8>(reinterpret_cast<I8>(permute(taps, picks[0])) & keeps[0]);
    fifth = reinterpret_cast<F8>(reinterpret_cast<I8>(permute(taps, picks[1])) & keeps[1]);
}

// Adds a partial's products into the window, pair by pair: the taps of bins 2 k and 2 k + 1 from the
// window's start, each as four equal floats, times the amplitude. The spread 4-tap row holds the
// taps so; the 8-tap kernel's first four pairs are spread over the lanes from its even taps (low
// half) and odd taps (high half), each half by the same shuffle.
template <int kTaps>
[[gnu::always_inline]] inline void addPairs(F8 (&r)[kPairWindow<kTaps>], const float* __restrict table,
                                            int rowOffset, F8 a) noexcept
{
    if constexpr (kTaps == 4)
    {
        const float* __restrict w = table + rowOffset;
        for (int k = 0; k < kPairWindow<kTaps>; ++k)
            r[k] += loadBin<F8>(w + kFloatsOf<F8> * k) * a;
    }
    else
    {
        static_assert(kTaps == 8 && kPairWindow<kTaps> == 5);
        F8 taps;
        F8 fifth;
        eightTaps(table, rowOffset, taps, fifth);
        r[0] += __builtin_shufflevector(taps, taps, 0, 0, 0, 0, 4, 4, 4, 4) * a;
        r[1] += __builtin_shufflevector(taps, taps, 1, 1, 1, 1, 5, 5, 5, 5) * a;
        r[2] += __builtin_shufflevector(taps, taps, 2, 2, 2, 2, 6, 6, 6, 6) * a;
        r[3] += __builtin_shufflevector(taps, taps, 3, 3, 3, 3, 7, 7, 7, 7) * a;
        r[4] += fifth * a;
    }
}

// The wide form of the bin loop: the same window as addChunk's, but a vector holds two bins and the
// window, starting on an even bin, the kernel's bins and one more. The row (pairedRowStart) lines
// the taps up with the window's bins, so a partial is one product per pair, the bins outside its
// kernel receiving zeros, which leave them as they are. Each bin thus receives the products
// addChunk gives it, in the same order.
template <int kTaps>
[[gnu::always_inline]] inline void addPairedPartial(const PreparedChunk& c, int h,
                                                    const float* __restrict table, float* __restrict bins,
                                                    size_t& wat, F8 (&r)[kPairWindow<kTaps>]) noexcept
{
    const size_t at = c.at[h];
    // Built lane by lane, which compiles to one broadcast load (a shuffle of the loaded amplitude
    // would cost a load and a shuffle).
    const F4 one = c.amp[h];
    const F8 a = {one[0], one[1], one[2], one[3], one[0], one[1], one[2], one[3]};
    const int rowOffset = c.rowOffset[h];
    if (at != wat) moveWindow(r, bins, wat, at);
    addPairs<kTaps>(r, table, rowOffset, a);
}

template <int kTaps>
[[gnu::always_inline]] inline void addPairedChunk(const PreparedChunk& c, int count,
                                                  const float* __restrict table, float* __restrict bins,
                                                  size_t& wat, F8 (&r)[kPairWindow<kTaps>]) noexcept
{
    if constexpr (kTaps == 4)
    {
        // Eight partials a round: the loop's own counting is a fair share of a partial's few
        // instructions.
#pragma GCC unroll 8
        for (int h = 0; h < count; ++h)
            addPairedPartial<kTaps>(c, h, table, bins, wat, r);
    }
    else
    {
        for (int h = 0; h < count; ++h)
            addPairedPartial<kTaps>(c, h, table, bins, wat, r);
    }
}

// All partials of a call. Returns the lowest and highest bin touched (lo > hi when none). kPaired:
// the wide form's loop, with the spread 4-tap table or the 8-tap rows laid out as it goes; kWide:
// compiled for the wide form.
template <int kTaps, bool kPaired, bool kWide, class Amps>
[[gnu::always_inline]] inline void addPartials(const int* __restrict pos, Amps amps, int count,
                                               const float* __restrict table, float* __restrict bins, int& lo,
                                               int& hi) noexcept
{
    // The kernel's table, known from its taps: its row of a position is the position's fraction
    // shifted by a constant.
    constexpr int kQuality = kTaps == kASTabSizes[0] ? 0 : kTaps == kASTabSizes[1] ? 1 : 2;
    static_assert(kASTabSizes[size_t(kQuality)] == kTaps);
    constexpr int rowShift = kASRowShifts[size_t(kQuality)];
    using V = std::conditional_t<kPaired, F8, F4>;
    constexpr int kWindow = kPaired ? kPairWindow<kTaps> : kTaps;
    PreparedChunk chunk;
    lanes::I4 firstLo = lanes::splatI(lo);
    lanes::I4 firstHi = lanes::splatI(hi);
    // Prepares the chunk of partials from start on and returns how many it holds.
    const auto prepare = [&](int start) __attribute__((always_inline)) {
        const int n = std::min(kChunk, count - start);
        const int whole = n & ~(lanes::kLanes - 1);
        // Rendering keeps its partials inside the spectrum, so the chunk is first prepared without
        // the check, and again with it only if some partial turns out to lie outside.
        const lanes::I4 checkedLo = firstLo;
        const lanes::I4 checkedHi = firstHi;
        prepareWhole<kTaps, false, kPaired, kWide>(pos + start, amps.from(start), n, rowShift,
                                                                 chunk, firstLo, firstHi);
        if (lanes::anyLane((firstLo < lanes::splatI(kSpecLowestBin)) |
                           (firstHi > lanes::splatI(kSpecHighestBin + 1 - kTaps))))
        {
            firstLo = checkedLo;
            firstHi = checkedHi;
            prepareWhole<kTaps, true, kPaired, kWide>(pos + start, amps.from(start), n,
                                                                    rowShift, chunk, firstLo, firstHi);
        }
        for (int h = whole; h < n; ++h)
        {
            int32_t oneLo = firstLo[0];
            int32_t oneHi = firstHi[0];
            prepareOne<kTaps, kPaired>(pos + start, amps.from(start), h, rowShift, chunk, oneLo, oneHi);
            firstLo[0] = oneLo;
            firstHi[0] = oneHi;
        }
        return n;
    };
    for (int start = 0; start < count; start += kChunk)
    {
        const int n = prepare(start);
        // The window starts where the chunk's first partial lies (the bins may hold partials
        // gathered earlier in the hop) and ends where its last one lies. Held per chunk, the
        // window stays in registers (held across chunks, GCC passed it through the stack at both
        // ends of a call); stored at the last partial's place rather than at wat, it spares the
        // loop keeping the window's address up to date for every partial.
        size_t wat = chunk.at[0];
        V r[kWindow];
        for (int k = 0; k < kWindow; ++k)
            r[k] = loadBin<V>(bins + wat + kFloatsOf<V> * k);
        if constexpr (kPaired)
            addPairedChunk<kTaps>(chunk, n, table, bins, wat, r);
        else
            addChunk<kTaps>(chunk, n, table, bins, wat, r);
        float* __restrict win = bins + chunk.at[n - 1];
        for (int k = 0; k < kWindow; ++k)
            storeBin(win + kFloatsOf<V> * k, r[k]);
    }
    lo = std::min(lo, lanes::lowestLane(firstLo));
    hi = std::max(hi, lanes::highestLane(firstHi) + kTaps - 1);
}

// One call's partials and where they go; the range starts empty.
template <class Amps>
struct PartialCall
{
    const int* pos;
    Amps amps;
    int count;
    int quality; // 0 .. kNumKernelQualities - 1
    float* bins;
    int lo = kSpecHighestBin + 1;
    int hi = kSpecLowestBin - 1;
};

// The call in one vector form (the form's function receives the call by a single reference).
template <bool kWide, class Amps>
[[gnu::always_inline]] inline void addCall(PartialCall<Amps>& c) noexcept
{
    // The 8-tap kernel comes from its table per position fraction, the others from their own.
    const float* table = kASTabPtrs[size_t(c.quality)];
    switch (c.quality)
    {
    case 0:
        addPartials<kASTabSizes[0], false, kWide>(c.pos, c.amps, c.count, table, c.bins, c.lo, c.hi);
        break;
    case 1:
        if constexpr (kWide)
            addPartials<kASTabSizes[1], true, kWide>(
                c.pos, c.amps, c.count, kHarmBinWeights4Spread.data(), c.bins, c.lo, c.hi);
        else
            addPartials<kASTabSizes[1], false, kWide>(c.pos, c.amps, c.count, table, c.bins, c.lo, c.hi);
        break;
    default:
        if constexpr (kWide)
            addPartials<kASTabSizes[2], true, kWide>(c.pos, c.amps, c.count, kHarmBinWeights8Fine[0].data(),
                                                     c.bins, c.lo, c.hi);
        else
            addPartials<kASTabSizes[2], false, kWide>(c.pos, c.amps, c.count, kHarmBinWeights8Fine[0].data(),
                                                      c.bins, c.lo, c.hi);
        break;
    }
}

// Spreads count partials into the partial bins and widens lo..hi to the bins touched.
template <class Amps>
void addAllPartials(AddSynth& s, const int* pos, Amps amps, int count, int quality, bool wide, int& lo,
                    int& hi) noexcept
{
    if (count < 1) return;
    // The call's own range first: addPartials checks it for partials outside the spectrum.
    PartialCall<Amps> call{pos, amps, count, quality < 0 ? 1 : std::min(quality, kNumKernelQualities - 1),
                           s.partialBins.data()};
    vectorwidth::dispatch(wide, [&call](auto wideForm) __attribute__((always_inline)) {
        addCall<decltype(wideForm)::value>(call);
    });
    lo = std::min(lo, call.lo);
    hi = std::max(hi, call.hi);
    s.partialsAdded = 1;
}

// Adds the partial bins lo..hi into the spectrum parts and leaves them at zero.
void foldPartialBins(AddSynth& s, int lo, int hi) noexcept
{
    float* bins = s.partialBins.data();
    float* __restrict re0 = s.specRe[0];
    float* __restrict im0 = s.specIm[0];
    float* __restrict re1 = s.specRe[1];
    float* __restrict im1 = s.specIm[1];
    // Four bins at a time, in groups fixed relative to the lowest bin, so that each vector read of
    // a spectrum part meets exactly the vector written there by the fold before (a read straddling
    // two earlier writes would wait for both to reach the cache). The bins of a group outside
    // lo..hi hold zeros, which leave the spectrum as it is.
    int k = lo - ((lo - kSpecLowestBin) & 3);
    for (; k <= hi && k + 3 <= kSpecHighestBin; k += lanes::kLanes)
    {
        float* __restrict b = bins + kPartialBinValues * (k + kBin0Offset);
        F4 x[4] = {loadBin(b), loadBin(b + 4), loadBin(b + 8), loadBin(b + 12)};
        transpose4(x);
        storeBin(re0 + k, loadBin(re0 + k) + x[0]);
        storeBin(im0 + k, loadBin(im0 + k) + x[1]);
        storeBin(re1 + k, loadBin(re1 + k) + x[2]);
        storeBin(im1 + k, loadBin(im1 + k) + x[3]);
        for (int j = 0; j < lanes::kLanes; ++j)
            storeBin(b + kPartialBinValues * j, F4{});
    }
    for (; k <= hi; ++k)
    {
        float* __restrict b = bins + kPartialBinValues * (k + kBin0Offset);
        re0[k] += b[0];
        im0[k] += b[1];
        re1[k] += b[2];
        im1[k] += b[3];
        b[0] = b[1] = b[2] = b[3] = 0.0f;
    }
}
} // namespace

void AddSynth::addHarmonics(const int* pos, const float* const* amp, int count, int quality,
                            bool wide) noexcept
{
    if (count < 1) return;
    int lo = kSpecHighestBin + 1;
    int hi = kSpecLowestBin - 1;
    addAllPartials(*this, pos, SplitAmps{amp[0], amp[1], amp[2], amp[3]}, count, quality, wide, lo, hi);
    foldPartialBins(*this, lo, hi);
}

void AddSynth::gatherHarmonics(const int* pos, const float* const* amp, int count, int quality,
                               bool wide) noexcept
{
    if (count >= 1)
        addAllPartials(*this, pos, SplitAmps{amp[0], amp[1], amp[2], amp[3]}, count, quality, wide,
                       gatheredLo, gatheredHi);
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
    foldPartialBins(*this, gatheredLo, gatheredHi);
    gatheredLo = kSpecHighestBin + 1;
    gatheredHi = kSpecLowestBin - 1;
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
        vdsp::fftInverseRealSamples(fft256->setup, vdsp::SplitComplex{re, im}, frame.data(), kSynthFFTLog2);
        // The frame is centred on its sample 0: its second half precedes its first in time.
        float* ring = rings[size_t(ch)].data();
        addIntoRing(ring, writePos, frame.data() + half, synthWindow.data(), half);
        addIntoRing(ring, (writePos + half) % kRingLength, frame.data(), synthWindow.data() + half, half);
    }
    // The fold above left the partial bins at zero.
    std::fill(spectrum.begin(), spectrum.end(), 0.0f);
    partialsAdded = 0;
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
    std::fill(partialBins.begin(), partialBins.end(), 0.0f);
    gatheredLo = kSpecHighestBin + 1;
    gatheredHi = kSpecLowestBin - 1;
    partialsAdded = 0;
}
