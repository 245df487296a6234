#include "terminal/ReceivePacer.h"

#include <algorithm>

namespace
{
// A run stops counting once its frames are as long as they get.
constexpr int kSettled =
    CReceivePacer::kShortFrames +
    int((CReceivePacer::kLongestFrame - CReceivePacer::kFrame) / CReceivePacer::kFrameStep) + 1;
} // namespace

CReceivePacer::Duration CReceivePacer::FrameTime(int frame)
{
    const int stretched = std::max(0, frame - kShortFrames + 1);
    return std::min<Duration>(kFrame + stretched * kFrameStep, kLongestFrame);
}

CReceivePacer::CReceivePacer(QObject* parent) : QObject(parent)
{
    m_clock.setTimerType(Qt::PreciseTimer);
    m_clock.setSingleShot(true);
    connect(&m_clock, &QTimer::timeout, this, &CReceivePacer::OnClock);
}

CReceivePacer::Step CReceivePacer::Read(Time ended, std::uint32_t count, bool ok)
{
    using namespace std::chrono;
    const std::lock_guard lock(m_mutex);
    if (!ok)
        return {kFailedReadRest, false};
    if (!m_measuring || ended < m_window)
        m_window = ended;
    m_measuring = true;
    m_windowBytes += count;
    if (ended - m_window >= kFrame)
    {
        m_bytesPerSecond = m_windowBytes / duration<double>(ended - m_window).count();
        m_window = ended;
        m_windowBytes = 0;
    }
    if (count == 0)
        return {};

    if (!m_started || m_taken || ended > m_frame + kSlack)
    {
        const Time due = m_frame + FrameTime(m_run);
        if (!m_started || ended > due + kSlack)
        {
            m_frame = ended; // a frame time went by with nothing new: at once, a new run
            m_run = 0;
        }
        else
        {
            m_frame = std::max(due, ended);
            m_run = std::min(m_run + 1, kSettled);
        }
        m_started = true;
        m_taken = false;
    }
    m_news = true;
    const bool request = !m_posted;
    m_posted = true;
    return {Rest(ended, count), request};
}

// Under the lock.
CReceivePacer::Duration CReceivePacer::Rest(Time ended, std::uint32_t count) const
{
    using namespace std::chrono;
    if (count >= kShortRead)
        return {};
    Duration rest = (m_frame > ended ? m_frame : m_frame + FrameTime(m_run)) - ended;
    if (m_bytesPerSecond > 0)
        rest = std::min(rest,
                        duration_cast<Duration>(duration<double>(kRestBytes / m_bytesPerSecond)));
    return std::max(rest, Duration::zero());
}

CReceivePacer::Time CReceivePacer::Due() const
{
    const std::lock_guard lock(m_mutex);
    return m_frame;
}

bool CReceivePacer::Take()
{
    const std::lock_guard lock(m_mutex);
    m_posted = false;
    if (!m_news)
        return false;
    m_news = false;
    m_taken = true;
    return true;
}

CReceivePacer::Duration CReceivePacer::AfterRead(std::uint32_t count, bool ok)
{
    const Step step = Read(Clock::now(), count, ok);
    Post(step.request);
    return step.rest;
}

void CReceivePacer::OnReceived(std::uint32_t count)
{
    Post(Read(Clock::now(), count, true).request);
}

void CReceivePacer::Post(bool request)
{
    if (request)
        QMetaObject::invokeMethod(this, &CReceivePacer::OnRequest, Qt::QueuedConnection);
}

// A request for a frame that is due now, or nearly, is drawn at once; one that came early is
// held by the clock until just after the frame is due, so that the bytes the worker reads at
// that moment are in it.
void CReceivePacer::OnRequest()
{
    using namespace std::chrono;
    const Duration wait = Due() - Clock::now();
    if (wait <= kSlack)
        OnClock();
    else
        m_clock.start(static_cast<int>(ceil<milliseconds>(wait).count()) + 1);
}

void CReceivePacer::OnClock()
{
    if (Take())
        emit frameDue();
}
