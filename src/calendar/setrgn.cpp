#include "setrgn.h"

#include "platform/platform.h"
#include "runtime/runtime.h"

namespace himekuri::SetRgn {

void PinToBottom(Runtime &runtime, QWidget *window, bool flag)
{
    if (!flag)
        return;
    runtime.platform().restack(window, StackPlace::Bottom);
    runtime.processPendingEvents();
}

void UnpinBottom(Runtime &runtime, QWidget *window)
{
    runtime.platform().restack(window, StackPlace::LeaveBottom);
}

void PinTopmost(Runtime &runtime, QWidget *window)
{
    runtime.platform().restack(window, StackPlace::TopMost);
}

void UnpinTopmost(Runtime &runtime, QWidget *window)
{
    runtime.platform().restack(window, StackPlace::LeaveTopMost);
}

} // namespace himekuri::SetRgn
