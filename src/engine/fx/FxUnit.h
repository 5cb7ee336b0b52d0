#pragma once

#include "engine/VectorWidth.h"

struct Param;

// One effect of the engine's fixed chain. A unit owns its state, reads its own run of
// consecutive parameter records inside the engine's table and processes one or two channels
// in place. setup() may allocate; process() never allocates, locks or blocks.
class FxUnit
{
public:
    virtual ~FxUnit() = default;

    // Stores the rate and channel count; units with rate-dependent memories override it and
    // call the base first.
    virtual void setup(float newSampleRate, int newNumChannels)
    {
        sampleRate = newSampleRate;
        numChannels = newNumChannels;
        useWideVectors(wideVectorsWanted());
    }

    // silent: the chain's shared flag (true while nothing but silence reached this unit); a unit
    // whose state still sounds processes and clears it, no unit ever sets it.
    // bypass: the unit is switched off and passes its input through (after any fade it needs).
    virtual void process(float** in, float** out, int numSamples, int numChannels, bool& silent,
                         bool bypass) noexcept = 0;

    virtual int getNumParams() const = 0;

    // Binds the unit to its first record and writes its getNumParams() records.
    virtual void setParamPtr(Param* first) = 0;

    // The unit's first record (its others follow it in the table); null before setParamPtr.
    Param* getFirstParam() const noexcept { return params; }

    // Lets the unit's vector loops run in the wide form where the processor has it; set-up allows
    // it unless QM_BASELINE_VECTORS=1. Never while rendering.
    void useWideVectors(bool allowed) noexcept;

protected:

    // Copies every channel whose input and output arrays differ.
    static void passThrough(float** in, float** out, int numSamples, int numChannels) noexcept
    {
        for (int c = 0; c < numChannels; ++c)
            if (in[c] != out[c])
                for (int i = 0; i < numSamples; ++i)
                    out[c][i] = in[c][i];
    }

    Param* params = nullptr;
    // Whether the unit's vector loops run in the wide form.
    bool wideVectors = false;
    int numChannels = 2;
    float sampleRate = 44100.0f;
};
