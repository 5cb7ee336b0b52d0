#include "engine/voice/KeyVoice.h"

#include "engine/Random.h"

void initModState(ModState& state) noexcept
{
    state = ModState{};
    for (auto& lfo : state.lfo)
    {
        lfo.prevPhase = 0.99f;
        lfo.rndOld = static_cast<float>(engineRand()) * 9.313226e-10f - 1.0f;
        lfo.rndNew = static_cast<float>(engineRand()) * 9.313226e-10f - 1.0f;
    }
}

KeyVoice::KeyVoice() noexcept
{
    // Each resonance's noise source starts at the end of its crossfade, so its first step draws.
    for (auto& r : resonances)
        r.noise.phase = 1.0f;
    initModState(mod);
}
