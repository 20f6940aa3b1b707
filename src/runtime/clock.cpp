#include "clock.h"

#include <QTimer>

namespace himekuri {

namespace {
// Far above the drift between two ticks, far below what a user could see.
constexpr int TickMarginMs = 20;
} // namespace

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
