#include "terminal/Sender.h"

CSender::CSender(Write write, std::function<void()> ended)
    : m_write(std::move(write)), m_ended(std::move(ended))
{
}

CSender::~CSender()
{
    RequestStop();
    Join();
}

bool CSender::Queue(std::uint64_t bytes, Decode decode)
{
    std::lock_guard lock(m_mx);
    if (m_stop || m_state.waiting + bytes > kSendQueueLimit)
        return false;
    if (!m_state.busy)
    {
        m_state.busy = true;
        m_state.asked = 0;
        m_state.sent = 0;
        m_end = SendEnd::Complete;
    }
    m_state.asked += bytes;
    m_state.waiting += bytes;
    m_jobs.push_back({bytes, std::move(decode)});
    if (!m_thread.joinable())
        m_thread = std::thread(&CSender::Run, this);
    m_queued.notify_one();
    return true;
}

void CSender::RequestStop()
{
    std::lock_guard lock(m_mx);
    m_stop = true;
    m_queued.notify_one();
}

void CSender::Join()
{
    RequestStop();
    if (m_thread.joinable())
        m_thread.join();
    m_stop = false;
}

SendState CSender::State() const
{
    std::lock_guard lock(m_mx);
    SendState state = m_state;
    state.sent += m_taken;
    return state;
}

void CSender::ForgetLast()
{
    std::lock_guard lock(m_mx);
    if (!m_state.busy)
        m_state.last.reset();
}

void CSender::Run()
{
    std::unique_lock lock(m_mx);
    for (;;)
    {
        m_queued.wait(lock, [&] { return m_stop || !m_jobs.empty(); });
        if (m_stop)
            break;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();

        const std::vector<std::uint8_t> bytes = job.decode(m_stop);
        std::uint32_t sent = 0;
        SendEnd end = SendEnd::Closed;
        if (!m_stop)
            end = m_write(bytes, &sent,
                          [this](std::uint32_t taken)
                          {
                              std::lock_guard progress(m_mx);
                              m_taken = taken;
                          });
        // Whatever the write says, a stop asked for while it ran is what ended it.
        if (m_stop && end != SendEnd::Complete)
            end = SendEnd::Closed;

        lock.lock();
        m_taken = 0;
        m_state.waiting -= job.bytes;
        if (!bytes.empty()) // a finished decode knows the count exactly
            m_state.asked = m_state.asked - job.bytes + bytes.size();
        m_state.sent += sent;
        if (end != SendEnd::Complete)
            m_end = end;
        if (m_jobs.empty())
            EndSend(lock, m_end);
    }
    // Stopped: jobs not begun never go out.
    m_jobs.clear();
    m_state.waiting = 0;
    if (m_state.busy)
        EndSend(lock, SendEnd::Closed);
}

void CSender::EndSend(std::unique_lock<std::mutex>& lock, SendEnd end)
{
    SendOutcome outcome;
    outcome.asked = m_state.asked;
    outcome.sent = m_state.sent;
    outcome.end = outcome.sent < outcome.asked ? end : SendEnd::Complete;
    m_state.busy = false;
    m_state.last = outcome;
    lock.unlock();
    m_ended();
    lock.lock();
}
