// The publishing timeline: one rising line per connection whatever the
// source clock does, driven as a table of tags in and places out.
#include <gtest/gtest.h>

#include <vector>

#include "engines/timeline.h"
#include "media/flv_packetizer.h"

namespace {

constexpr uint8_t A = FLV_TAG_AUDIO;
constexpr uint8_t V = FLV_TAG_VIDEO;
constexpr int64_t G = TIMELINE_REBASE_GAP_MS;

struct Step {
    uint8_t type;
    int64_t source_ms;
    int64_t want;
    bool discontinuity = false;  // announced before this tag
};

struct Case {
    std::vector<Step> steps;
    int64_t start_offset = 0;
};

TEST(PublishTimeline, JumpsEitherWayAndDiscontinuitiesContinueOneFrameOn) {
    constexpr int64_t TOP = (int64_t{1} << 32) - 100;
    const Case cases[] = {
        // A steady interleave passes through; audio a little ahead of video is no jump.
        {{{V, 0, 0}, {A, 0, 0}, {A, 23, 23}, {V, 33, 33}, {A, 46, 46}, {V, 66, 66}}},
        {{{V, 0, 0}, {A, 1500, 1500}, {V, 33, 33}, {A, 1523, 1523}}},
        // A clock reset continues one frame after the highest place, both kinds by one offset.
        {{{V, 1000, 1000}, {A, 1010, 1010}, {V, -5000, 1010 + G}, {A, -4990, 1020 + G}, {V, -4967, 1043 + G}}},
        // A two-hour jump forward is not waited out.
        {{{V, 1000, 1000}, {A, 1000, 1000}, {V, 7201000, 1000 + G}, {A, 7201023, 1023 + G}}},
        // A discontinuity rebases even a small step.
        {{{V, 1000, 1000}, {V, 1500, 1000 + G, true}, {V, 1533, 1033 + G}}},
        // A kind never goes below its own last place after a rebase.
        {{{V, 1000, 1000}, {A, 990, 990}, {V, 90000, 1000 + G}, {A, 89800, 990}, {A, 90100, 1133}}},
        // Times before the first tag never go below zero.
        {{{V, 0, 0}, {A, -40, 0}, {A, -17, 0}, {A, 6, 6}}},
        // A run that starts near the 32-bit limit keeps counting past it.
        {{{V, 0, TOP}, {V, 200, TOP + 200}, {V, 400, TOP + 400}}, TOP},
    };
    for (const Case& c : cases) {
        Timeline timeline = timeline_starting_at(c.start_offset);
        for (const Step& step : c.steps) {
            if (step.discontinuity) timeline_rebase(timeline);
            EXPECT_EQ(timeline_place(timeline, step.type, step.source_ms), step.want)
                << "case " << &c - cases << ", tag " << &step - c.steps.data();
        }
    }
}

TEST(PublishTimeline, ALoopPassWithABreakIsPlacedTheSameWayEveryPass) {
    // One pass: 0..1000 ms, then the recorded clock jumps back by an hour.
    const std::vector<std::pair<uint8_t, int64_t>> pass = {{V, 0},        {A, 0},        {V, 1000},    {A, 1000},
                                                           {V, -3599000}, {A, -3599000}, {V, -3598000}};
    Timeline timeline;
    std::vector<int64_t> first_steps;
    for (int p = 0; p < 3; ++p) {
        if (timeline.started) timeline_next_pass(timeline);  // what the loop engines do at each pass
        const int64_t pass_start = timeline.offset;
        std::vector<int64_t> steps;
        for (const auto& [type, ms] : pass) steps.push_back(timeline_place(timeline, type, ms) - pass_start);
        if (p == 0) first_steps = steps;
        EXPECT_EQ(steps, first_steps) << "pass " << p;
    }
    EXPECT_EQ(first_steps.back(), 1000 + G + 1000);
}

}  // namespace
