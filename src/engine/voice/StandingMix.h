#pragma once

#include <cstddef>
#include <cstring>

#include "engine/KeySpaceDSP.h"

// A voice on a standing morph: set up, settled on a mix, and handed that very mix again. Its
// set-up then keeps everything but the mix's point, which the render loop does without the
// set-up's call and its copy of the mix, as most voices of most hops stand so.
inline bool standsOnSettledMix(const KeyVoice& v, const NodeMix& mix) noexcept
{
    return v.needsSetup == 0 && v.settled != 0 && std::memcmp(&v.settledMix, &mix, sizeof mix) == 0;
}

// What KeySpaceDSP::setVoiceData does with this mix, its call spared to a standing voice. True
// where the voice stood.
inline bool setUpVoiceForMix(KeySpaceDSP& dsp, KeyVoice& v, const NodeMix& mix,
                             KeySpaceDSP::BlendMemo* memo) noexcept
{
    if (!standsOnSettledMix(v, mix))
    {
        dsp.setVoiceData(&v, mix, memo);
        return false;
    }
    v.mix.point = mix.point;
    return true;
}

// The voice's mix for this hop of a render call and its set-up for it. An XY Pad voice that stood
// on the memo's mix, from the very triangle the memo was looked up from, meets the same lookup
// and the same set-up again while the memo holds what it held and the morph point stands still
// (pointStill: nothing modulates it in this call); it then leaves both out. slot: the voice's
// index among the engine's voices.
inline void takeVoiceMix(KeySpaceDSP& dsp, KeyVoice& v, std::size_t slot, bool pointStill,
                         KeySpaceDSP::MixLookupMemo& mixMemo, KeySpaceDSP::BlendMemo& blendMemo) noexcept
{
    const bool known = slot < mixMemo.stoodAfter.size();
    if (pointStill && known && mixMemo.stoodAfter[slot] == mixMemo.changes + 1)
        return;
    const NodeMix mix = dsp.getMixDataForVoice(&v, &mixMemo);
    if (setUpVoiceForMix(dsp, v, mix, &blendMemo) && known && dsp.canvas.mode == kCanvasModeXYPad &&
        mixMemo.valid && v.triHint == mixMemo.hintIn)
        mixMemo.stoodAfter[slot] = mixMemo.changes + 1;
}
