#include "canvas/NodeTriangle.h"

#include <algorithm>

#include "canvas/SpaceNodeComp.h"
#include "editor/ColourBytes.h"

NodeTriangle::NodeTriangle()
{
    setInterceptsMouseClicks(false, false);
}

void NodeTriangle::setTriangle(NodeMix m, NodeCanvasData* canvas, SpaceNodeComp* layer)
{
    mix = m;
    vertexCount = 0;
    if (layer == nullptr) return;
    const auto P = layer->toPixels(mix.point);
    point = {static_cast<int>(P.x + 0.5f), static_cast<int>(P.y + 0.5f)};
    float minX = P.x, maxX = P.x, minY = P.y, maxY = P.y;
    // A stale mix may name nodes that are gone: those entries are left out.
    const int count = std::clamp(static_cast<int>(mix.count), 0, kMaxMixNodes);
    const int numNodes =
        canvas != nullptr ? std::clamp(static_cast<int>(canvas->nodeCount), 0, kMaxSoundNodes) : 0;
    for (int k = 0; k < count; ++k)
    {
        const int n = mix.node[static_cast<size_t>(k)];
        if (n < 0 || n >= numNodes) continue;
        const auto Q = layer->toPixels(canvas->nodes[static_cast<size_t>(n)].pos);
        vertex[static_cast<size_t>(vertexCount)] = {static_cast<int>(Q.x), static_cast<int>(Q.y)};
        vertexWeight[static_cast<size_t>(vertexCount)] = mix.weight[static_cast<size_t>(k)];
        ++vertexCount;
        minX = std::min(minX, Q.x), maxX = std::max(maxX, Q.x);
        minY = std::min(minY, Q.y), maxY = std::max(maxY, Q.y);
    }
    const int left = static_cast<int>(minX - 10), top = static_cast<int>(minY - 10);
    point -= {left, top};
    for (int k = 0; k < vertexCount; ++k)
        vertex[static_cast<size_t>(k)] -= {left, top};
    setBounds(left, top, static_cast<int>(maxX - minX + 22), static_cast<int>(maxY - minY + 22));
    repaint();
}

void NodeTriangle::paint(juce::Graphics& g)
{
    for (int k = 0; k < vertexCount; ++k)
    {
        const auto v = vertex[static_cast<size_t>(k)].toFloat();
        g.setColour(juce::Colours::white.withAlpha(alphaByte(vertexWeight[static_cast<size_t>(k)])));
        g.fillRoundedRectangle(v.x - 10, v.y - 10, 20, 20, 10);
        g.drawLine(v.x, v.y, static_cast<float>(point.x), static_cast<float>(point.y), 2.0f);
    }
    g.setColour(juce::Colours::white);
    g.fillRoundedRectangle(static_cast<float>(point.x) - 10, static_cast<float>(point.y) - 10, 20, 20, 10);
}
