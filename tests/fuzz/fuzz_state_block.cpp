// Feeds arbitrary bytes to the host state block reader, as a host or a preset file could. The
// reader works on a fresh copy of the engine's parameter table and a start canvas each time; every
// outcome must leave a canvas the engine can use: at most 64 nodes on installed sounds with finite
// positions, a known mode, finite parameter values inside their ranges; and what was read must
// write back into a block that reads the same way. Any violation aborts.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "../support/TestCanvas.h"
#include "FuzzStateRig.h"

// Any violation aborts, which libFuzzer and the corpus replay both report.
#define require(condition) ((condition) ? void() : std::abort())

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    // An exact-size copy: any read past the block's end is reported.
    std::vector<unsigned char> block(data, data + size);
    static const FuzzStateRig r;
    std::vector<Param> params = r.pristine;
    NodeCanvasData canvas = qmtest::startCanvas();
    const StateReadOutcome out = r.read(size == 0 ? nullptr : block.data(), size, params, canvas);

    require(out.savedVersion.size() <= size_t(kStateStringMaxLen));
    if (out.result != StateReadResult::applied)
    {
        for (size_t i = 0; i < params.size(); ++i)
            require(std::memcmp(&params[i].value, &r.pristine[i].value, sizeof(float)) == 0);
        require(canvas.mode == kCanvasModeXYPad && canvas.nodeCount == 0);
    }
    require(canvas.mode >= 0 && canvas.mode < kNumCanvasModes && canvas.nodeCount >= 0 &&
            canvas.nodeCount <= kMaxSoundNodes);
    for (int i = 0; i < canvas.nodeCount; ++i)
        require(canvas.nodes[size_t(i)].soundId >= 0 &&
                canvas.nodes[size_t(i)].soundId < r.dsp->numSounds() &&
                std::isfinite(canvas.nodes[size_t(i)].pos.x) && std::isfinite(canvas.nodes[size_t(i)].pos.y));
    for (const auto& p : params)
    {
        const float a = p.convertUnitToVal(0.0f), b = p.convertUnitToVal(1.0f);
        require(std::isfinite(p.value) && p.value >= std::min({a, b, p.defaultValue}) &&
                p.value <= std::max({a, b, p.defaultValue}));
    }

    std::vector<unsigned char> again = r.write(params, canvas);
    std::vector<Param> params2 = r.pristine;
    NodeCanvasData canvas2 = qmtest::startCanvas();
    require(r.read(again.data(), again.size(), params2, canvas2).result == StateReadResult::applied);
    require(canvas2.mode == canvas.mode && canvas2.nodeCount == canvas.nodeCount);
    for (size_t i = 0; i < params.size(); ++i)
        require(params2[i].value == params[i].value);
    return 0;
}
