#pragma once

#include "runtime/clock.h"
#include "runtime/layout.h"

#include <QDateTime>

namespace himekuri::test {

class FakeClock final : public Clock
{
public:
    explicit FakeClock(QDateTime now = {})
        : m_now(std::move(now))
    { }
    QDateTime now() const override { return m_now; }
    void set(const QDateTime &now) { m_now = now; }
    void set(const char *iso) { m_now = QDateTime::fromString(QLatin1String(iso), Qt::ISODate); }

private:
    QDateTime m_now;
};

} // namespace himekuri::test
