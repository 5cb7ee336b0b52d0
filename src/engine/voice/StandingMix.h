#pragma once

#include <cstring>

#include "engine/KeySpaceDSP.h"

// A voice on a standing morph: set up, settled on a mix, and handed that very mix again. Its
// set-up then keeps everything but the mix's point, which the render loop does without the
// set-up's call and its copy of the mix, as most voices of most hops stand so.
inline bool standsOnSettledMix(const KeyVoice& v, const NodeMix& mix) noexcept
{
    return v.needsSetup == 0 && v.settled != 0 && std::memcmp(&v.settledMix, &mix, sizeof mix) == 0;
}

// What KeySpaceDSP::setVoiceData does with this mix, its call spared to a standing voice.
inline void setUpVoiceForMix(KeySpaceDSP& dsp, KeyVoice& v, const NodeMix& mix,
                             KeySpaceDSP::BlendMemo* memo) noexcept
{
    if (standsOnSettledMix(v, mix))
        v.mix.point = mix.point;
    else
        dsp.setVoiceData(&v, mix, memo);
}
