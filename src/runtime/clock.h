#pragma once

#include <QDateTime>

namespace himekuri {

// Every reading of the local date and time goes through one clock, so that
// tests can run the calendar at any moment of any day.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace himekuri
