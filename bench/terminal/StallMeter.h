// How long the user-interface thread could not answer: the longest it went without running a
// 1 ms timer while the meter lived. Shared by the terminal benchmarks that measure stalls.
#pragma once

#include "ProcessMeter.h"

#include <QObject>
#include <QTimer>
#include <algorithm>
#include <cstdint>

class CStallMeter
{
  public:
    CStallMeter()
    {
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.setInterval(1);
        QObject::connect(&m_tick, &QTimer::timeout, [this] { Tick(); });
        m_last = NowNs();
        m_tick.start();
    }
    double LongestMs()
    {
        Tick();
        return double(m_longest) / 1e6;
    }

  private:
    void Tick()
    {
        const std::int64_t now = NowNs();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }

    QTimer m_tick;
    std::int64_t m_last = 0;
    std::int64_t m_longest = 0;
};
