#pragma once

class QWidget;

namespace himekuri {

class Runtime;

// The calendar window's places in the stacking order. None of them moves,
// resizes or activates the window.
namespace SetRgn {

// With flag set: to the bottom of the stacking order, then lets waiting
// events run. Without: nothing.
void PinToBottom(Runtime &runtime, QWidget *window, bool flag);
// Ends the always-at-the-back mode, leaving the window where it is now.
void UnpinBottom(Runtime &runtime, QWidget *window);
void PinTopmost(Runtime &runtime, QWidget *window);
void UnpinTopmost(Runtime &runtime, QWidget *window);

} // namespace SetRgn

} // namespace himekuri
