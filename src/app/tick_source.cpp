#include "app/tick_source.h"

#include <QTimer>

namespace vantrel {

TickSource::TickSource(int intervalMs, std::function<void()> onTick, QObject* parent)
    : QObject(parent), m_intervalMs(intervalMs), m_onTick(std::move(onTick))
{
}

TickSource::~TickSource() = default;

void TickSource::start()
{
    m_running = true;
    timerAt(m_depth)->start();
}

void TickSource::stop()
{
    m_running = false;
    for (QTimer* timer : m_timers)
        timer->stop();
}

bool TickSource::isActive() const
{
    return m_running;
}

QTimer* TickSource::timerAt(int level)
{
    while (static_cast<int>(m_timers.size()) <= level) {
        auto* timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(m_intervalMs);
        const int timerLevel = static_cast<int>(m_timers.size());
        connect(timer, &QTimer::timeout, this, [this, timerLevel] { fire(timerLevel); });
        m_timers.push_back(timer);
    }
    return m_timers[static_cast<std::size_t>(level)];
}

void TickSource::fire(int level)
{
    // Only the innermost level ticks; the timers below are blocked by Qt while on the stack anyway.
    if (!m_running || level != m_depth)
        return;
    ++m_depth;
    timerAt(m_depth)->start();
    m_onTick();
    timerAt(m_depth)->stop();
    --m_depth;
}

}  // namespace vantrel
