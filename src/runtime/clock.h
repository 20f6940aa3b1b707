#pragma once

#include <QDateTime>

class QTimer;

namespace himekuri {

// Every reading of the local date and time goes through one clock, so that
// tests can run the calendar at any moment of any day.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

// The local time zone's offset is looked up once a minute, not at every
// reading: a clock tick reads the time several times. Offsets change only at
// whole minutes, and the first reading of each minute looks afresh.
class SystemClock final : public Clock
{
public:
    QDateTime now() const override;

private:
    mutable qint64 m_minute = -1;
    mutable int m_offsetSeconds = 0;
    // Readings within one millisecond are the same reading.
    mutable qint64 m_lastMs = -1;
    mutable QDateTime m_last;
};

// Makes a one-second timer that shows the clock tick just after each of the
// clock's seconds begins. A plain periodic timer keeps to the monotonic clock,
// which drifts against the wall clock; once its ticks sit at a second's edge,
// a shown second is skipped or repeated. The first tick still comes a full
// interval after the start. Call before anything else connects to the timer.
void keepTicksOnClockSeconds(QTimer *timer, const Clock &clock);

} // namespace himekuri
