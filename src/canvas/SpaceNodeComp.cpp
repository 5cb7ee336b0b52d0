#include "canvas/SpaceNodeComp.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "editor/ColourBytes.h"
#include "engine/KeySpaceDSP.h"
#include "processor/NameText.h"

SpaceNodeComp::SpaceNodeComp()
{
    setInterceptsMouseClicks(false, true);
}

void SpaceNodeComp::setNodes(NodeCanvasData* c, KeySpaceDSP* engine)
{
    canvas = c;
    if (canvas == nullptr || engine == nullptr || engine->sounds.empty())
    {
        nodes.clear();
        repaint();
        return;
    }
    const int count = std::clamp(static_cast<int>(canvas->nodeCount), 0, kMaxSoundNodes);
    const int numSounds = static_cast<int>(engine->sounds.size());
    for (int i = 0; i < count; ++i)
    {
        const CanvasNode& n = canvas->nodes[static_cast<size_t>(i)];
        // A node whose sound is gone keeps its place (node i stays node i), grey and unnamed.
        juce::Colour colour(0xff808080u);
        juce::String name;
        if (n.soundId >= 0 && n.soundId < numSounds)
        {
            const InstrumentMap& sound = engine->sounds[static_cast<size_t>(n.soundId)];
            colour = juce::Colour(sound.colour);
            name = nameToShow(sound.name, sizeof(sound.name));
        }
        const auto p = toPixels(n.pos);
        auto* node = new SpaceNode({p.x, p.y}, colour, name, font, i, listener);
        if (i < nodes.size())
            nodes.set(i, node, true);
        else
            nodes.add(node);
        addAndMakeVisible(node);
    }
    nodes.removeRange(count, nodes.size() - count);
    repaint();
}

void SpaceNodeComp::paint(juce::Graphics& g)
{
    if (canvas == nullptr) return;
    std::optional<juce::ScopedLock> lock;
    if (canvasLock != nullptr) lock.emplace(*canvasLock);
    const int count = std::clamp(static_cast<int>(canvas->nodeCount), 0, kMaxSoundNodes);
    const int triangles = std::clamp(static_cast<int>(canvas->triCount), 0, kMaxTriangles);
    for (int t = 0; t < triangles; ++t)
    {
        const auto& tri = canvas->tri[static_cast<size_t>(t)];
        // Triangles that touch a frame point are not drawn.
        if (tri[0] >= count || tri[1] >= count || tri[2] >= count) continue;
        const auto A = toPixels(canvas->nodes[tri[0]].pos);
        const auto B = toPixels(canvas->nodes[tri[1]].pos);
        const auto C = toPixels(canvas->nodes[tri[2]].pos);
        const float a = B.getDistanceFrom(C), b = A.getDistanceFrom(C), c = A.getDistanceFrom(B);
        const float p = a + b + c;
        const float s = p / 2;
        const float radicand = s > 0.0f ? (s - a) * (s - b) * (s - c) / s : -1.0f;
        // Coinciding or collinear corners have no inside to draw.
        if (!(p > 0.0f) || !(radicand > 0.0f) || !std::isfinite(radicand)) continue;
        const auto I = (A * a + B * b + C * c) / p;
        const float r = std::sqrt(radicand);
        // Every edge moves 1 px inwards.
        const float k = std::max(0.0f, (r - 1) / r);
        juce::Path path;
        path.startNewSubPath(I + (A - I) * k);
        path.lineTo(I + (B - I) * k);
        path.lineTo(I + (C - I) * k);
        path.closeSubPath();
        const uint8_t grey = greyLevel(canvas->triShade[static_cast<size_t>(t)] * 0.07f + 0.17f);
        g.setColour(juce::Colour(grey, grey, grey, static_cast<uint8_t>(0x4c)));
        g.fillPath(path);
    }
}
