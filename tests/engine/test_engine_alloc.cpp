// The render thread must never touch the heap: every global operator new of this test program is
// counted while the engine renders.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "engine/Random.h"
#include "engine/modulation/CanonRandom.h"
#include "engine/params/ParamTable.h"
#include "support/EngineTestHelpers.h"

namespace
{
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};

// Counts while armed; a failure throws unless the caller asked for no exceptions.
void* countedAlloc(std::size_t size, std::size_t align, bool mayThrow = true)
{
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
    size = size == 0 ? 1 : size;
    void* p = align > alignof(std::max_align_t)
                  ? std::aligned_alloc(align, (size + align - 1) / align * align)
                  : std::malloc(size);
    if (p == nullptr && mayThrow) throw std::bad_alloc();
    return p;
}
} // namespace

// clang-format off
void* operator new(std::size_t size) { return countedAlloc(size, 0); }
void* operator new[](std::size_t size) { return countedAlloc(size, 0); }
void* operator new(std::size_t size, std::align_val_t a) { return countedAlloc(size, std::size_t(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return countedAlloc(size, std::size_t(a)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedAlloc(size, 0, false); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return countedAlloc(size, 0, false); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
// clang-format on

namespace
{

// Renders in blocks of varying length with the allocation counter armed around each call only.
long allocationsWhileRendering(qmtest::EngineRig& rig, int numSamples)
{
    std::vector<float> l(1024), r(1024);
    float* out[2] = {l.data(), r.data()};
    const int sizes[] = {1, 64, 127, 128, 333, 512, 1024};
    const long before = gAllocations.load();
    for (int i = 0, done = 0; done < numSamples; done += sizes[i++ % 7])
    {
        gCounting.store(true);
        rig.dsp().process(out, sizes[i % 7], 2);
        gCounting.store(false);
    }
    return gAllocations.load() - before;
}

} // namespace

TEST(EngineAllocation, ProcessNeverAllocates)
{
    gCounting.store(true); // the counter sees allocations at all
    const long before = gAllocations.load();
    auto* p = new std::vector<int>(100);
    gCounting.store(false);
    EXPECT_GE(gAllocations.load() - before, 2);
    delete p;

    engineSrand(7u);
    setCanonRandSeed(kCanonRandInitialSeed);
    qmtest::EngineRig rig(qmbank::demoBank(), 48000.0f);
    KeySpaceDSP& dsp = rig.dsp();
    rig.setAllEffects(true);
    dsp.params[kParamStereoSpread].value = 0.8f;
    // LFO 1 moves the morph point and the gain every hop.
    for (auto [record, value] :
         {std::pair{kModParamSource, 1.0f}, {kModParamAmount, 8.0f}, {kModParamTarget, 2.0f}})
        dsp.params[size_t(kFirstModSlotParam + record)].value = value;
    rig.pushCanvas({0, 6, 11, 21, 23, 33}, {0.5f, 0.3f, 0.2f});
    for (int note = 36; note < 36 + 16 * 3; note += 3)
        qmtest::noteOn(dsp, note, 100);
    EXPECT_EQ(allocationsWhileRendering(rig, 48000), 0);

    // Releases, a new canvas and a mix arriving through the queues mid-stream.
    for (int note = 36; note < 36 + 16 * 3; note += 6)
        qmtest::noteOff(dsp, note);
    rig.pushCanvas({2, 4, 8}, {0.2f, 0.3f, 0.5f});
    NodeMix mix{};
    mix.count = 2, mix.node = {0, 2, 0}, mix.weight = {0.6f, 0.4f, 0.0f};
    rig.mixQueue.push(mix);
    EXPECT_EQ(allocationsWhileRendering(rig, 24000), 0);
}
