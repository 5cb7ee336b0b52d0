#pragma once

#include <array>
#include <cstdint>

#include "engine/canvas/NodeMixer.h"

// Spreading sounds over the canvas: a cost that pushes points apart and keeps them inside a box,
// and an adaptive gradient descent on it. The canvas construction and the editor's Explore layout
// run 100 steps of it.

// Points a scaler keeps history for, and points one step moves at most.
inline constexpr int kMdsMaxPoints = 128;
inline constexpr int kMdsMaxStepPoints = 64;

// Sort record of the neighbourhood choice: a sound index and its squared feature distance.
struct IndexAndVal
{
    int32_t index = 0;
    float val = 0.0f;
};

// Layout cost of pts[0..n-1] in the box lo-hi: mutual repulsion 1 / (d^2 + 1e-10), soft walls at
// the box edges and a quartic pull towards the box centre. With grad given, its n entries are set to
// the cost's gradient. Points with a non-finite coordinate take no part (zero cost, zero gradient),
// and a box without positive, finite size has no centre pull.
float computeCostAndGradient(const Point2D* pts, int n, Point2D* grad, Point2D lo, Point2D hi) noexcept;

// Adaptive gradient layout. One scaler serves one layout run: its per-point history carries from one
// iterate() to the next.
struct MDS_2D
{
    MDS_2D() noexcept;

    // Moves points firstMovable..n-1 one step downhill inside the box lo-hi; the points before
    // firstMovable stay but still push the others. A step covers at most half of a point's distance
    // to each wall, so a point inside the box stays strictly inside. n is held to 64. A movable
    // point with a non-finite coordinate is put at the box centre; a box without positive, finite
    // size moves nothing.
    void iterate(Point2D* pts, int n, Point2D lo, Point2D hi, int firstMovable) noexcept;

    std::array<Point2D, kMdsMaxPoints> sqGradChange{}; // decaying sum of squared gradient changes
    std::array<Point2D, kMdsMaxPoints> prodChange{};   // decaying sum of position x gradient change
    std::array<Point2D, kMdsMaxPoints> prevGrad{};
    std::array<Point2D, kMdsMaxPoints> prevPos{};
    std::array<Point2D, kMdsMaxPoints> stepGain{};
    uint8_t started = 0; // set once the first point has taken a step
};
