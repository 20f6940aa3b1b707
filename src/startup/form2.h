#pragma once

#include "runtime/form.h"
#include "runtime/layout.h"

namespace himekuri {

// The splash window: opens at every start and every change of day, decides
// what the main window's browser pane shows, refuses a second copy, and hands
// over to the main window after two seconds.
class Form2 final : public Form
{
    Q_OBJECT

public:
    explicit Form2(Runtime &runtime);

    static constexpr int ShowMilliseconds = 2000;

protected:
    QWidget *createView() override;
    void Form_Load() override;
    // Closing the splash early hands over at once; otherwise a calendar
    // loaded behind it would never be shown.
    void closeRequested() override { Timer1_Timer(); }
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Timer1_Timer();
    QString readChoice();

    bool WarningsShown = false;
};

} // namespace himekuri
