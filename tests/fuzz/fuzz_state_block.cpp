// Feeds arbitrary bytes to the host state block reader, as a host or a preset file could. The
// reader works on a fresh copy of the engine's parameter table and a start canvas each time; every
// outcome must leave a canvas the engine can use: at most 64 nodes on installed sounds with finite
// positions, a known mode, finite parameter values inside their ranges.
//
// Run with QM_FUZZ_WRITE_SEEDS=<dir> to write valid blocks (the seed corpus) and exit.
#include "engine/KeySpaceDSP.h"
#include "engine/StateBlock.h"
#include "engine/SynthFIFO.h"

#include "bankmaker/BankMaker.h"
#include "../support/TestCanvas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{

using qmtest::startCanvas;

void require(bool condition)
{
    if (!condition) std::abort();
}

struct Rig
{
    std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    std::vector<SoundDataRef> refs;
    SynthFIFO<NodeCanvasData> canvasQueue{8};
    SynthFIFO<NodeMix> mixQueue{32};
    std::unique_ptr<KeySpaceDSP> dsp;
    std::vector<Param> pristine;

    Rig()
    {
        for (const auto& entry : bank)
        {
            SoundDataRef ref;
            std::snprintf(ref.name, sizeof ref.name, "%s", entry.name.c_str());
            ref.data = entry.data.data();
            ref.size = entry.data.size();
            refs.push_back(ref);
        }
        dsp = std::make_unique<KeySpaceDSP>(canvasQueue.makeReader(), mixQueue.makeReader(), refs.data(),
                                            static_cast<int>(refs.size()));
        pristine = dsp->params;
    }
};

Rig& rig()
{
    static Rig r;
    return r;
}

void writeSeed(const std::string& dir, int n, const std::vector<Param>& params, const NodeCanvasData& canvas)
{
    Rig& r = rig();
    const int len = writeStateBlock(nullptr, 0, params.data(), static_cast<int>(params.size()), canvas,
                                    r.dsp->sounds.data(), r.dsp->numSounds());
    std::vector<unsigned char> block(static_cast<size_t>(len));
    writeStateBlock(block.data(), len, params.data(), static_cast<int>(params.size()), canvas,
                    r.dsp->sounds.data(), r.dsp->numSounds());
    const std::string path = dir + "/state-" + std::to_string(n);
    if (FILE* f = std::fopen(path.c_str(), "wb"))
    {
        std::fwrite(block.data(), 1, block.size(), f);
        std::fclose(f);
    }
}

// Valid blocks: every mode, from no nodes to 24 (larger canvases only slow the run down),
// values across each parameter's range.
void writeSeeds(const std::string& dir)
{
    Rig& r = rig();
    int n = 0;
    for (int nodes : {0, 1, 3, 12, 24})
        for (int mode = 0; mode < kNumCanvasModes; ++mode)
        {
            std::vector<Param> params = r.pristine;
            for (auto& p : params)
                p.value = p.convertUnitToVal(static_cast<float>((n * 7 + p.index) % 11) / 10.0f);
            NodeCanvasData canvas = startCanvas();
            canvas.mode = mode;
            canvas.nodeCount = std::min(nodes, kMaxSoundNodes);
            for (int i = 0; i < canvas.nodeCount; ++i)
                canvas.nodes[static_cast<size_t>(i)] = {
                    {static_cast<float>(i % 8) / 8.0f, static_cast<float>(i / 8) / 8.0f},
                    i % std::max(r.dsp->numSounds(), 1)};
            canvas.currentMix.point = {0.5f, 0.5f};
            writeSeed(dir, n++, params, canvas);
        }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (const char* dir = std::getenv("QM_FUZZ_WRITE_SEEDS"))
    {
        writeSeeds(dir);
        std::exit(0);
    }
    rig();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    // An exact-size copy: any read past the block's end is reported.
    std::unique_ptr<unsigned char[]> block(new unsigned char[size == 0 ? 1 : size]);
    if (size > 0) std::memcpy(block.get(), data, size);

    Rig& r = rig();
    std::vector<Param> params = r.pristine;
    NodeCanvasData canvas = startCanvas();
    const StateReadOutcome out =
        readStateBlock(size == 0 ? nullptr : block.get(), static_cast<int>(size), params.data(),
                       static_cast<int>(params.size()), canvas, r.dsp->sounds.data(), r.dsp->numSounds());

    require(out.savedVersion.size() <= size_t(kStateStringMaxLen));
    if (out.result != StateReadResult::applied)
    {
        for (size_t i = 0; i < params.size(); ++i)
            require(std::memcmp(&params[i].value, &r.pristine[i].value, sizeof(float)) == 0);
        require(canvas.mode == kCanvasModeXYPad && canvas.nodeCount == 0);
    }
    require(canvas.mode >= 0 && canvas.mode < kNumCanvasModes);
    require(canvas.nodeCount >= 0 && canvas.nodeCount <= kMaxSoundNodes);
    for (int i = 0; i < canvas.nodeCount; ++i)
    {
        const CanvasNode& node = canvas.nodes[static_cast<size_t>(i)];
        require(node.soundId >= 0 && node.soundId < r.dsp->numSounds());
        require(std::isfinite(node.pos.x) && std::isfinite(node.pos.y));
    }
    for (const auto& p : params)
    {
        require(std::isfinite(p.value));
        const float a = p.convertUnitToVal(0.0f);
        const float b = p.convertUnitToVal(1.0f);
        require(p.value >= std::min({a, b, p.defaultValue}) && p.value <= std::max({a, b, p.defaultValue}));
    }

    // What was read writes back into a block that reads the same way.
    const int len = writeStateBlock(nullptr, 0, params.data(), static_cast<int>(params.size()), canvas,
                                    r.dsp->sounds.data(), r.dsp->numSounds());
    std::vector<unsigned char> again(static_cast<size_t>(len));
    require(writeStateBlock(again.data(), len, params.data(), static_cast<int>(params.size()), canvas,
                            r.dsp->sounds.data(), r.dsp->numSounds()) == len);
    std::vector<Param> params2 = r.pristine;
    NodeCanvasData canvas2 = startCanvas();
    require(readStateBlock(again.data(), len, params2.data(), static_cast<int>(params2.size()), canvas2,
                           r.dsp->sounds.data(), r.dsp->numSounds())
                .result == StateReadResult::applied);
    require(canvas2.mode == canvas.mode && canvas2.nodeCount == canvas.nodeCount);
    for (size_t i = 0; i < params.size(); ++i)
        require(params2[i].value == params[i].value);
    return 0;
}
