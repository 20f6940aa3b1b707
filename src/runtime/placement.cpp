#include "placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <limits>

namespace himekuri {

namespace {

qint64 overlap(const QRect &a, const QRect &b)
{
    const QRect common = a.intersected(b);
    return common.isEmpty() ? 0 : qint64(common.width()) * common.height();
}

qint64 distance(const QRect &a, const QRect &b)
{
    const QPoint d = a.center() - b.center();
    return qint64(d.x()) * d.x() + qint64(d.y()) * d.y();
}

// The least move along one axis; the start edge wins where both cannot fit.
int clampAxis(int start, int length, int areaStart, int areaLength)
{
    return std::max(areaStart, std::min(start, areaStart + areaLength - length));
}

} // namespace

QPoint keepOnScreen(const QRect &window, const QList<QRect> &areas)
{
    if (areas.isEmpty())
        return window.topLeft();
    const QRect *holder = &areas.front();
    qint64 best = -1;
    for (const QRect &area : areas) {
        if (const qint64 covered = overlap(window, area); covered > best) {
            best = covered;
            holder = &area;
        }
    }
    if (best == 0) {
        qint64 nearest = std::numeric_limits<qint64>::max();
        for (const QRect &area : areas) {
            if (const qint64 d = distance(window, area); d < nearest) {
                nearest = d;
                holder = &area;
            }
        }
    }
    return {clampAxis(window.x(), window.width(), holder->x(), holder->width()),
            clampAxis(window.y(), window.height(), holder->y(), holder->height())};
}

QPoint keepOnScreen(const QRect &window)
{
    QList<QRect> areas;
    for (const QScreen *screen : QGuiApplication::screens())
        areas << screen->availableGeometry();
    return keepOnScreen(window, areas);
}

} // namespace himekuri
