// CSender: "Send chars" beside the user-interface thread. Each press hands it a job: how many
// bytes the press sends, and how to decode them. A thread of its own runs the jobs one after
// another, each as one logical write, so each press's bytes reach the line together and in the
// order of the presses, and neither the window nor the receive worker ever waits for the line.
//
// A send is the run of jobs from an empty queue to an empty queue again. While one is in
// progress State() tells how far it has got; when it ends, State().last tells how: every byte
// went out, or how many did and why not the rest. The bytes waiting (the job being written and
// those behind it) are bounded by kSendQueueLimit: a job that would pass it is refused.
//
// Threads: Queue, RequestStop and Join run on the user-interface thread, State on any thread.
// The decode and the write of a job run on the sender's thread, which starts with the first job
// and runs until Join. Join returns only once the write in progress has returned, so whatever
// the write waits on must have been woken first (closing the port does that); RequestStop before
// that makes the jobs not yet written count as not sent, and makes a decode in progress give up.
// The owner joins the sender before anything the decode, the write or `ended` use is destroyed.
// `ended` runs on the sender's thread after each send, with no lock held; it must not wait for
// the user-interface thread.
#pragma once

#include "serial/SerialPort.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// The most bytes that may wait to be sent, all presses together.
inline constexpr std::uint64_t kSendQueueLimit = 64u << 20;

// Why a send stopped short, or that it did not.
enum class SendEnd
{
    Complete,   // every byte left on the line
    TimedOut,   // the device did not take the rest within the write bound
    Closed,     // the port was closed (button, port change or the window's end)
    DeviceGone, // the device went away
    Failed,     // the port refused the write
};

struct SendOutcome
{
    std::uint64_t asked = 0; // bytes the presses of the send asked for
    std::uint64_t sent = 0;  // of those, the bytes that left on the line
    SendEnd end = SendEnd::Complete;
};

struct SendState
{
    bool busy = false;               // a send is in progress
    std::uint64_t asked = 0;         // while busy: the bytes its presses asked for so far
    std::uint64_t sent = 0;          // while busy: of those, the bytes the port has taken so far
    std::uint64_t waiting = 0;       // bytes not yet written, counted against kSendQueueLimit
    std::optional<SendOutcome> last; // how the last send ended, once one has
};

class CSender
{
  public:
    // Decodes a job's bytes; gives up early, returning nothing, once `stop` is set.
    using Decode = std::function<std::vector<std::uint8_t>(const std::atomic<bool>& stop)>;
    // Writes one job's bytes and tells how many left on the line, reporting the port's progress.
    using Write = std::function<SendEnd(const std::vector<std::uint8_t>& bytes, std::uint32_t* sent,
                                        const CSerialPort::WriteProgress& progress)>;

    CSender(Write write, std::function<void()> ended);
    ~CSender();
    CSender(const CSender&) = delete;
    CSender& operator=(const CSender&) = delete;

    // Queues a press of `bytes` bytes; false, queueing nothing, when the bytes waiting would then
    // pass kSendQueueLimit, or between RequestStop and Join.
    bool Queue(std::uint64_t bytes, Decode decode);
    void RequestStop();
    void Join();
    SendState State() const;
    // Forgets how the last send ended (State().last), for a port opened anew. Does nothing
    // while a send is in progress.
    void ForgetLast();

  private:
    struct Job
    {
        std::uint64_t bytes;
        Decode decode;
    };
    void Run();
    void EndSend(std::unique_lock<std::mutex>& lock, SendEnd end);

    const Write m_write;
    const std::function<void()> m_ended;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mx; // guards the members below
    std::condition_variable m_queued;
    std::deque<Job> m_jobs;
    SendState m_state;
    std::uint32_t m_taken = 0; // of the job being written: the bytes the port has taken so far
    SendEnd m_end = SendEnd::Complete; // of the send in progress: why it fell short, if it did
    std::thread m_thread;
};
