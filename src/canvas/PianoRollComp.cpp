#include "canvas/PianoRollComp.h"

#include <algorithm>

#include "editor/ColourBytes.h"
#include "engine/voice/KeyLayout.h"

PianoRollComp::PianoRollComp(NodeCanvasData* c, int canvasWidth) : canvas(c)
{
    setSize(canvasWidth, kHeight);
    split = static_cast<int>(kHeight * 0.64 + 0.5);
    const float k0 = canvas != nullptr ? canvas->keyOffsetX : 0.0f;
    const float k1 = canvas != nullptr ? canvas->keyOctaveWidth : 0.0f;
    const float a = k1 * 0.071428575f + k0;
    const float b = k1 * 1.0714285f + k0;
    const float w = static_cast<float>(canvasWidth);
    xOffset = static_cast<int>(a * w);
    octaveWidth = static_cast<int>((b - a) * w + 0.49f);
    // At least one pixel per half key, so the remainders below never divide by zero.
    octaveWidth = std::max(octaveWidth, 14);
    u = std::max(octaveWidth / 14, 1);
    const int d = static_cast<int>(u * 0.24 + 0.5), e = static_cast<int>(u * 0.3 + 0.5);
    for (size_t s = 0; s < 12; ++s)
    {
        const int black = kKeyOffsetQ[s] % 2;
        const int half = u - 1 - black * e;
        const int x = kKeyOffsetDir[s] * d + u * kKeyOffsetQ[s] - half;
        keys[s] = {x, x, 2 * half, (1 - black) * 2 * half};
    }
    // A white key's upper part fills the room between its neighbours' upper parts, 2 px from each.
    for (size_t s : {0u, 2u, 4u, 5u, 7u, 9u, 11u})
    {
        const Key& prev = keys[(s + 11) % 12];
        const Key& next = keys[(s + 1) % 12];
        keys[s].upperX = (u + prev.upperX + prev.upperWidth + 2) % octaveWidth - u;
        keys[s].upperWidth = (next.upperX - 2 - keys[s].upperX + octaveWidth) % octaveWidth;
    }
}

void PianoRollComp::paint(juce::Graphics& g)
{
    for (int n = 0; n < 128; ++n)
    {
        const int octave = n / 12, s = n % 12;
        const Key& key = keys[static_cast<size_t>(s)];
        const int base = octave * octaveWidth + xOffset;
        const int lower = base + key.lowerX;
        if (lower + 2 * u < 0) continue;
        if (lower > getWidth()) break;
        const int black = kKeyOffsetQ[static_cast<size_t>(s)] % 2;
        const uint8_t grey = greyLevel(1.0f - 0.7f * static_cast<float>(black));
        g.setColour(juce::Colour(grey, grey, grey, static_cast<uint8_t>(0x7f)));
        g.fillRect(static_cast<float>(base + key.upperX), 0.0f, static_cast<float>(key.upperWidth),
                   static_cast<float>(split) - static_cast<float>(2 * black - 1) * gap);
        g.fillRect(static_cast<float>(lower), static_cast<float>(split) + gap,
                   static_cast<float>(key.lowerWidth), static_cast<float>(kHeight - split) - gap);
    }
}
