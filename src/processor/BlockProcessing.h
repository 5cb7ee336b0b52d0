#pragma once

// The render thread's side of the processor that needs no framework: cutting a block into segments
// at its MIDI events. What each event does to the engine lives in engine/VoiceAllocation.h.

#include "engine/voice/VoiceAllocation.h"

// Walks the events of one block of numSamples samples in the given order. An event at a negative
// position is skipped; one at or beyond the block's end counts as being at its last sample. Before
// each event the audio from the end of the previous segment up to the event is rendered with
// render(start, length); then apply(event). The rest of the block is rendered last. Segments of
// zero length are never passed to render.
template <class Events, class PositionOf, class Render, class Apply>
void walkBlockSegments(int numSamples, const Events& events, PositionOf positionOf, Render render,
                       Apply apply)
{
    int done = 0;
    for (const auto& event : events)
    {
        int p = positionOf(event);
        if (p < 0) continue;
        if (p >= numSamples) p = numSamples - 1;
        if (p > done)
        {
            render(done, p - done);
            done = p;
        }
        apply(event);
    }
    if (numSamples > done) render(done, numSamples - done);
}
