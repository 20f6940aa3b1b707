#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

namespace himekuri {

// Where a window goes on the desktop. Its own place stands wherever the
// whole window fits the available area of the screen that holds most of it
// (or of the nearest screen); elsewhere it moves the least distance that
// brings all of it inside, and a window larger than the area keeps its
// top-left corner inside. Areas are in the desktop's coordinates.
QPoint keepOnScreen(const QRect &window, const QList<QRect> &areas);

// The same on the screens of this desktop.
QPoint keepOnScreen(const QRect &window);

} // namespace himekuri
