// CReceivePacer: the receive loop's cadence. It decides how long the receive worker rests after
// each read of the port, and when the receive view is refreshed to show what was read (a
// frame). Both follow from when reads bring bytes; nothing here reads the port or draws.
//
// Why frames: each refresh that moves the view's rows costs the program and the display server
// about the same whatever it shows (under an X server some 200 us of the server's time alone,
// for the pixels that move), so while data streams the view is refreshed once a frame and no
// more often. A reply matters the moment it comes; a stream is watched as a whole, and nobody
// reads its single rows as they pass, so its frames may be longer.
//
// The rule:
// - A block that arrives after a whole frame time with nothing new is drawn at once, and starts
//   a run of frames. So a device's answer to a command shows as soon as it is read.
// - While bytes arrive frame after frame, the next frame is due a frame time after the last,
//   and bytes read before it wait for it. A frame time with nothing new ends the run.
// - The frame time follows the run (FrameTime): after the n-th frame of a run (the frame drawn
//   at once is the 0th) it is kFrame (33 ms) for n < kShortFrames (4), then longer by
//   kFrameStep (4 ms) a frame up to kLongestFrame (50 ms):
//       33 33 33 33 37 41 45 49 50 50 ... ms, 50 ms from 0.3 s into a stream on.
//   Measured (vorlanti_terminal_bench under Xvfb, program + X server in % of one core, latency
//   while streaming median/p99): at 11,520 B/s, frames of 33 ms 1.35 %, 17/33 ms; of 42 ms
//   1.20 %, 22/42 ms; of 50 ms 1.08-1.21 %, 26/50 ms. At 100,000 B/s 2.0 %, 1.5 %, 1.35 %.
//   So a stream settles at the longest frame allowed, within the latency wanted (median under
//   35 ms, p99 under 60 ms). The first frames stay short because the frame time also says what
//   "nothing new" is: blocks 37 ms apart with two busy loops beside the window were, with 50 ms
//   from the second frame on, taken for a stream whenever the worker woke a little late, and
//   held (median 24 ms, p99 56-217 ms); with four short frames first they stayed replies
//   (median 0.1-0.3 ms). A reply that comes in pieces over a few frames keeps short frames too.
// - A read counts when it returns. One within kSlack of a frame not drawn yet belongs to that
//   frame (the worker woke for it); a frame once drawn takes no more bytes.
//
// The worker's rest. After a read of kShortRead bytes or more, none: the queue was full, read
// on. After a shorter read it rests until the frame for those bytes is due, so that its last
// read before the frame brings what came meanwhile, or, when that frame is drawn now, until the
// next frame would be due. The rest is never longer than the line takes to bring kRestBytes
// (the line discipline's buffer) at the rate seen over the last frame time, so a flood is read
// back to back: measured on a pseudo-terminal, a fixed 10 ms rest after every short read bounds
// a flood at a few MB/s, because the line discipline now and then hands over a few bytes first.
// A read that timed out needs no rest, its time-out was the pause: an open port with nothing
// arriving costs one wake-up per read time-out and no frames. A failed read rests
// kFailedReadRest, so that a port that fails at once is not read in a busy loop.
//
// Threads: AfterRead runs on the receive worker, OnReceived on any thread; the frame request
// they post, the frame clock and frameDue belong to the thread that owns this object (the
// user-interface thread), which calls nothing else. One lock guards the state and is held for a
// few comparisons only, so no thread waits for another. The decisions themselves (Read, Due,
// Take) take the time as an argument: they are a pure function of when reads brought bytes.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <mutex>

class CReceivePacer : public QObject
{
    Q_OBJECT

  public:
    using Clock = std::chrono::steady_clock;
    using Duration = Clock::duration;
    using Time = Clock::time_point;

    static constexpr std::uint32_t kReadBlock = 64 * 1024; // bytes a read may take at most
    static constexpr std::uint32_t kShortRead =
        1024;                                  // a read below this: the queue was nearly empty
    static constexpr double kRestBytes = 4096; // the line discipline's buffer
    static constexpr std::chrono::milliseconds kFailedReadRest{10};
    static constexpr std::chrono::milliseconds kFrame{33};        // the first frames of a run
    static constexpr std::chrono::milliseconds kLongestFrame{50}; // where a stream settles
    static constexpr int kShortFrames = 4; // frames of a run at kFrame before it stretches
    static constexpr std::chrono::milliseconds kFrameStep{4}; // then longer by this a frame
    // How near a frame a read or a request still counts as on time: the worker's wake-up and
    // the request's way to the user-interface thread take a little while.
    static constexpr std::chrono::milliseconds kSlack{2};

    // The frame time after the n-th frame of a run (0: the frame drawn at once).
    static Duration FrameTime(int frame);

    explicit CReceivePacer(QObject* parent = nullptr);

    // The decisions. Read: a read returned at `ended` with `count` bytes (`ok`: it did not
    // fail). Schedules the frame for those bytes and says how long the worker
    // rests, and whether a frame request must be posted (none is on its way).
    struct Step
    {
        Duration rest{};
        bool request = false;
    };
    Step Read(Time ended, std::uint32_t count, bool ok);
    // When the frame for the bytes read so far is due (it may have passed: then draw now).
    Time Due() const;
    // The view is about to be refreshed: true when bytes came since the last frame.
    bool Take();

    // The wiring. The worker calls AfterRead after each read and rests for what it returns;
    // OnReceived is for bytes that came by another way, now. Both post the frame request when
    // one is needed.
    Duration AfterRead(std::uint32_t count, bool ok);
    void OnReceived(std::uint32_t count);

  signals:
    void frameDue(); // user-interface thread: refresh the view now

  private:
    Duration Rest(Time ended, std::uint32_t count) const;
    void Post(bool request);
    void OnRequest();
    void OnClock();

    mutable std::mutex m_mutex;
    bool m_started = false; // a frame has been scheduled since the object was made
    Time m_frame{};         // the latest frame scheduled; it may be due now or later
    int m_run = 0;          // its place in the run of frames (0: drawn at once)
    bool m_taken = false;   // it has been drawn, so it takes no more bytes
    bool m_news = false;    // bytes came since the last refresh
    bool m_posted = false;  // a frame request or the frame clock is on its way
    bool m_measuring = false;
    Time m_window{}; // the rate is measured over windows of a frame time
    double m_windowBytes = 0;
    double m_bytesPerSecond = 0;

    QTimer m_clock; // holds a frame requested before it is due
};
