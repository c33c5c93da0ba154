#include "runclock.h"

#include <algorithm>

void RunClock::start()
{
    if (m_source)
        m_origin = m_source->now();
    else
        m_timer.start();
    m_started = true;
}

qint64 RunClock::elapsed() const
{
    if (!m_started)
        return 0;
    return m_source ? m_source->now() - m_origin : m_timer.elapsed();
}

void RunClock::setSource(const TimeSource* source)
{
    m_source = source;
    m_started = false;
}

int ticksDue(qint64 elapsedMs, qint64 ticksRun)
{
    const qint64 behind = elapsedMs / kTickMs - ticksRun;
    return int(std::clamp<qint64>(behind, 1, kMaxTicksPerEvent));
}
