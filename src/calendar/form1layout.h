#pragma once

#include "runtime/layout.h"

#include <span>

namespace himekuri {

// The calendar window as designed: client area, place on the screen and
// every control, topmost first.
struct Form1Design
{
    static constexpr QSize ClientTwips = {5565, 6510};
    static constexpr QPoint ClientPosTwips = {9735, 45};
    static constexpr OleColor Background = systemColor(5);
};

std::span<const ControlRow> form1Controls();

} // namespace himekuri
