#include "clock.h"

#include <QTimer>

namespace himekuri {

namespace {
// Far above the drift between two ticks, far below what a user could see.
constexpr int TickMarginMs = 20;
} // namespace

QDateTime SystemClock::now() const
{
    constexpr qint64 MinuteMs = 60 * 1000;
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    if (ms == m_lastMs)
        return m_last;
    const qint64 minute = ms >= 0 ? ms / MinuteMs : (ms - MinuteMs + 1) / MinuteMs;
    if (minute != m_minute) {
        m_minute = minute;
        m_offsetSeconds = QDateTime::fromMSecsSinceEpoch(minute * MinuteMs).offsetFromUtc();
    }
    m_lastMs = ms;
    m_last = QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, m_offsetSeconds);
    return m_last;
}

void keepTicksOnClockSeconds(QTimer *timer, const Clock &clock)
{
    timer->setSingleShot(true);
    // Re-armed before the tick's handler runs: a handler that stops the timer
    // (its window unloaded) has the last word.
    QObject::connect(timer, &QTimer::timeout, timer, [timer, &clock] {
        timer->start(1000 - clock.now().time().msec() + TickMarginMs);
    });
}

} // namespace himekuri
