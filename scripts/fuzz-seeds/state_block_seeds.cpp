// Writes seeds for the state block fuzz target into the folder given: valid blocks (every mode,
// canvases from empty to 24 nodes, values across each parameter's range) and hostile ones made
// from them (cut short, a newer version, a broken header, node counts and sound indices out of
// range). Usage: qm_state_block_seeds <dir>
#include <algorithm>
#include <fstream>
#include <string>

#include "../../tests/fuzz/FuzzStateRig.h"
#include "../../tests/support/TestCanvas.h"

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    const FuzzStateRig rig;
    int n = 0;
    const auto save = [&](const std::vector<unsigned char>& block)
    {
        std::ofstream(std::string(argv[1]) + "/state-" + std::to_string(n++), std::ios::binary)
            .write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size()));
    };
    for (int nodes : {0, 1, 3, 12, 24})
        for (int mode = 0; mode < kNumCanvasModes; ++mode)
        {
            std::vector<Param> params = rig.pristine;
            for (auto& p : params)
                p.value = p.convertUnitToVal(float((n * 7 + p.index) % 11) / 10.0f);
            NodeCanvasData canvas = qmtest::startCanvas(mode);
            canvas.nodeCount = nodes;
            for (int i = 0; i < nodes; ++i)
                canvas.nodes[size_t(i)] = {{float(i % 8) / 8.0f, float(i / 8) / 8.0f},
                                           i % rig.dsp->numSounds()};
            canvas.currentMix.point = {0.5f, 0.5f};
            const std::vector<unsigned char> block = rig.write(params, canvas);
            save(block);
            if (nodes != 3) continue;
            // Hostile variants of the three-node block.
            for (size_t cut : {size_t(1), size_t(10), size_t(40), block.size() / 2, block.size() - 1})
                save(std::vector<unsigned char>(block.begin(), block.begin() + std::ptrdiff_t(cut)));
            for (size_t at = 0; at < block.size(); at += 37)
                for (unsigned char value : {0x00, 0x7f, 0xff})
                {
                    std::vector<unsigned char> bad = block;
                    bad[at] = value;
                    save(bad);
                }
        }
    return 0;
}
