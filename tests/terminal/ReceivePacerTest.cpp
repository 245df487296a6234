// The receive pacing rule as rows: bytes arrive at the device at given times, a worker reads
// as the pacer tells it (a read returns at once with what is queued, or with the first bytes
// within the 50 ms read time-out, or with nothing), and the view is refreshed when the pacer
// says the frame is due. Each row checks when frames are drawn, how long bytes wait for their
// frame, and how often the worker reads. No display and no clock: every time is given.
#include "terminal/ReceivePacer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace
{
using namespace std::chrono;
using Time = CReceivePacer::Time;

struct Arrival
{
    double ms;
    std::uint32_t bytes;
};

// `bytes` every `stepMs` from `fromMs` up to but not including `toMs`.
std::vector<Arrival> Every(double fromMs, double toMs, double stepMs, std::uint32_t bytes)
{
    std::vector<Arrival> arrivals;
    for (double t = fromMs; t < toMs; t += stepMs)
        arrivals.push_back({t, bytes});
    return arrivals;
}

std::vector<Arrival> operator+(std::vector<Arrival> a, const std::vector<Arrival>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Played
{
    std::vector<double> frames; // when the view was refreshed
    double longestWaitMs = 0;   // from an arrival to the frame that showed it
    int reads = 0;
};

constexpr double kReadTimeoutMs = 50;
const Time kStart = Time() + hours(1);

Time At(double ms)
{
    return kStart + duration_cast<CReceivePacer::Duration>(duration<double, std::milli>(ms));
}

double Ms(Time t)
{
    return duration<double, std::milli>(t - kStart).count();
}

// The worker and the user-interface thread in turns, each taking no time of its own.
Played Play(const std::vector<Arrival>& arrivals, double untilMs)
{
    CReceivePacer pacer;
    Played played;
    std::size_t next = 0;  // the first arrival not read yet
    std::size_t shown = 0; // arrivals before this one are on screen
    double read = 0;       // when the worker's next read begins
    double draw = -1;      // when the requested frame is drawn; -1: none was requested
    while (read < untilMs || draw >= 0)
    {
        if (draw >= 0 && (draw <= read || read >= untilMs))
        {
            if (pacer.Take())
            {
                played.frames.push_back(draw);
                for (; shown < next; ++shown)
                    played.longestWaitMs =
                        std::max(played.longestWaitMs, draw - arrivals[shown].ms);
            }
            draw = -1;
            continue;
        }
        ++played.reads;
        const double began = read;
        double ended = began + kReadTimeoutMs;
        if (next < arrivals.size() && arrivals[next].ms <= ended)
            ended = std::max(began, arrivals[next].ms);
        std::uint32_t count = 0;
        for (; next < arrivals.size() && arrivals[next].ms <= ended; ++next)
            count += arrivals[next].bytes;
        const CReceivePacer::Step step = pacer.Read(At(ended), count, true);
        if (step.request)
        {
            // The user-interface thread draws a request that is due, or nearly, at once, and
            // holds one that came early until just after its frame.
            const double wait = Ms(pacer.Due()) - ended;
            draw = wait <= 2 ? ended : ended + std::ceil(wait) + 1;
        }
        read = ended + duration<double, std::milli>(step.rest).count();
    }
    return played;
}

struct PacingRow
{
    const char* name;
    std::vector<Arrival> arrivals;
    double untilMs;
    std::vector<double> firstFrames; // the first frames, exactly
    double lastFrame;                // the last frame; -1: not checked
    int frames;                      // how many in all
    double longestWaitMs;            // at most this
    int reads;                       // how many reads the worker makes; -1: not checked
};

void PrintTo(const PacingRow& row, std::ostream* os)
{
    *os << row.name;
}

class ReceivePacing : public ::testing::TestWithParam<PacingRow>
{
};

TEST_P(ReceivePacing, FramesFollowTheArrivals)
{
    const PacingRow& row = GetParam();
    const Played played = Play(row.arrivals, row.untilMs);
    std::string frames;
    for (const double t : played.frames)
        frames += " " + std::to_string(t).substr(0, std::to_string(t).find('.') + 2);
    SCOPED_TRACE("frames at" + frames);
    ASSERT_GE(played.frames.size(), row.firstFrames.size());
    for (std::size_t i = 0; i < row.firstFrames.size(); ++i)
        EXPECT_NEAR(played.frames[i], row.firstFrames[i], 0.01) << "frame " << i;
    if (row.lastFrame >= 0 && !played.frames.empty())
    {
        EXPECT_NEAR(played.frames.back(), row.lastFrame, 0.01);
    }
    EXPECT_EQ(int(played.frames.size()), row.frames);
    EXPECT_LE(played.longestWaitMs, row.longestWaitMs);
    if (row.reads >= 0)
    {
        EXPECT_EQ(played.reads, row.reads);
    }
}

// clang-format off
const std::vector<double> kStreamStart{0, 33, 66, 99, 132, 169, 210, 255, 304, 354, 404, 454};
INSTANTIATE_TEST_SUITE_P(
    Rows, ReceivePacing,
    ::testing::Values(
        // Idle: one read per read time-out, nothing drawn.
        PacingRow{.name = "NothingArrives", .arrivals = {}, .untilMs = 1000,
                  .firstFrames = {}, .lastFrame = -1, .frames = 0, .longestWaitMs = 0, .reads = 20},
        // A reply after a quiet line is drawn the moment it is read; the worker then rests
        // one frame and goes back to reads that wait out their time-out.
        PacingRow{.name = "ALoneBlockIsDrawnAtOnce", .arrivals = {{100, 8}}, .untilMs = 300,
                  .firstFrames = {100}, .lastFrame = 100, .frames = 1, .longestWaitMs = 0, .reads = 6},
        PacingRow{.name = "BlocksMoreThanAFrameApartAreEachDrawnAtOnce",
                  .arrivals = Every(0, 740, 37, 8), .untilMs = 800,
                  .firstFrames = {0, 37, 74, 111, 148, 185}, .lastFrame = 703, .frames = 20,
                  .longestWaitMs = 0, .reads = -1},
        // A block that comes while its frame is still running waits for the frame's end.
        PacingRow{.name = "ABlockEarlyInAFrameWaitsForTheFrame", .arrivals = {{0, 8}, {20, 8}},
                  .untilMs = 200, .firstFrames = {0, 33}, .lastFrame = 33, .frames = 2,
                  .longestWaitMs = 13, .reads = -1},
        // A stream: the first frames of a run at 33 ms, then longer by 4 ms a frame up to
        // 50 ms; the worker reads once a frame.
        PacingRow{.name = "AStreamStretchesItsFramesUpToTheLongest",
                  .arrivals = Every(0, 2000, 1, 12), .untilMs = 2100,
                  .firstFrames = kStreamStart, .lastFrame = 2004, .frames = 43,
                  .longestWaitMs = 50, .reads = 44},
        // A flood, read back to back, is drawn no more often than a stream (its frames, asked
        // for early, come just after they are due).
        PacingRow{.name = "AFloodIsDrawnAtTheStreamsPace", .arrivals = Every(0, 500, 1, 4096),
                  .untilMs = 550, .firstFrames = {0, 34, 67, 100, 133, 170, 211, 256, 305, 355},
                  .lastFrame = 505, .frames = 13, .longestWaitMs = 50, .reads = -1},
        // After a stream, a frame time with nothing new: the next reply is drawn at once...
        PacingRow{.name = "AReplyAfterAStreamAndAQuietFrameIsDrawnAtOnce",
                  .arrivals = Every(0, 1000, 1, 12) + std::vector<Arrival>{{1100, 8}},
                  .untilMs = 1200, .firstFrames = kStreamStart, .lastFrame = 1100, .frames = 24,
                  .longestWaitMs = 50, .reads = -1},
        // ...but one within the stretched frame still belongs to the stream.
        PacingRow{.name = "ABlockWithinAStretchedFrameWaitsForIt",
                  .arrivals = Every(0, 1000, 1, 12) + std::vector<Arrival>{{1040, 8}},
                  .untilMs = 1200, .firstFrames = kStreamStart, .lastFrame = 1054, .frames = 24,
                  .longestWaitMs = 50, .reads = -1}),
    [](const ::testing::TestParamInfo<PacingRow>& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
