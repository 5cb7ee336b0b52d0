#pragma once
// The engine the state block fuzz target and its seed writer read and write blocks for: the demo
// bank's sounds and the parameter table as a new engine has it.
#include <cstdio>
#include <memory>
#include <vector>

#include "bankmaker/BankMaker.h"
#include "engine/KeySpaceDSP.h"
#include "engine/StateBlock.h"

struct FuzzStateRig
{
    std::vector<qmbank::BankEntry> bank = qmbank::demoBank();
    std::vector<SoundDataRef> refs;
    std::unique_ptr<KeySpaceDSP> dsp;
    std::vector<Param> pristine;

    FuzzStateRig()
    {
        for (const auto& entry : bank)
        {
            refs.push_back({{}, entry.data.data(), entry.data.size()});
            std::snprintf(refs.back().name, sizeof refs.back().name, "%s", entry.name.c_str());
        }
        dsp = std::make_unique<KeySpaceDSP>(SynthFIFO<NodeCanvasData>::Reader{}, SynthFIFO<NodeMix>::Reader{},
                                            refs.data(), int(refs.size()));
        pristine = dsp->params;
    }

    // Reads a block into params and canvas.
    StateReadOutcome read(const unsigned char* block, size_t size, std::vector<Param>& params,
                          NodeCanvasData& canvas) const
    {
        return readStateBlock(block, int(size), params.data(), int(params.size()), canvas, dsp->sounds.data(),
                              dsp->numSounds());
    }
    // The block for params and canvas.
    std::vector<unsigned char> write(const std::vector<Param>& params, const NodeCanvasData& canvas) const
    {
        std::vector<unsigned char> block(size_t(writeStateBlock(
            nullptr, 0, params.data(), int(params.size()), canvas, dsp->sounds.data(), dsp->numSounds())));
        writeStateBlock(block.data(), int(block.size()), params.data(), int(params.size()), canvas,
                        dsp->sounds.data(), dsp->numSounds());
        return block;
    }
};
