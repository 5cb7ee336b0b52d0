// Cutting a block into segments at its MIDI events.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "processor/BlockProcessing.h"

namespace
{
// The walk as a trace: "r<start>+<length>" for a rendered segment, "e<id>" for an applied event.
std::vector<std::string> trace(int numSamples, const std::vector<std::pair<int, int>>& events)
{
    std::vector<std::string> out;
    walkBlockSegments(
        numSamples, events, [](const std::pair<int, int>& e) { return e.first; },
        [&](int start, int length)
        { out.push_back("r" + std::to_string(start) + "+" + std::to_string(length)); },
        [&](const std::pair<int, int>& e) { out.push_back("e" + std::to_string(e.second)); });
    return out;
}

using Trace = std::vector<std::string>;
} // namespace

TEST(SegmentPlanner, NoEventsRendersTheWholeBlock)
{
    EXPECT_EQ(trace(512, {}), (Trace{"r0+512"}));
}

TEST(SegmentPlanner, EventAtZeroComesBeforeAnyAudio)
{
    EXPECT_EQ(trace(512, {{0, 1}}), (Trace{"e1", "r0+512"}));
}

TEST(SegmentPlanner, TwoEventsAtOnePositionShareOneCut)
{
    EXPECT_EQ(trace(512, {{100, 1}, {100, 2}}), (Trace{"r0+100", "e1", "e2", "r100+412"}));
}

TEST(SegmentPlanner, EventPastTheBlockIsAppliedBeforeTheLastSample)
{
    EXPECT_EQ(trace(512, {{600, 1}}), (Trace{"r0+511", "e1", "r511+1"}));
    EXPECT_EQ(trace(512, {{512, 1}, {9999, 2}}), (Trace{"r0+511", "e1", "e2", "r511+1"}));
}

TEST(SegmentPlanner, NegativePositionsAreSkipped)
{
    EXPECT_EQ(trace(64, {{-5, 1}, {-1, 2}, {10, 3}}), (Trace{"r0+10", "e3", "r10+54"}));
}

TEST(SegmentPlanner, EmptyBlockRendersNothingButAppliesEvents)
{
    EXPECT_EQ(trace(0, {}), Trace{});
    // Hosts send zero-length blocks with events to flush them: the events still count.
    EXPECT_EQ(trace(0, {{0, 1}, {3, 2}}), (Trace{"e1", "e2"}));
}

TEST(SegmentPlanner, SegmentsCoverTheBlockExactlyOnce)
{
    const std::vector<std::pair<int, int>> events = {{0, 1}, {7, 2}, {7, 3}, {31, 4}, {63, 5}, {200, 6}};
    int covered = 0;
    int next = 0;
    walkBlockSegments(
        64, events, [](const std::pair<int, int>& e) { return e.first; },
        [&](int start, int length)
        {
            EXPECT_EQ(start, next);
            EXPECT_GT(length, 0);
            next = start + length;
            covered += length;
        },
        [](const std::pair<int, int>&) {});
    EXPECT_EQ(covered, 64);
}
