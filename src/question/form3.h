#pragma once

#include "runtime/form.h"
#include "runtime/layout.h"

namespace himekuri {

// Asks once whether the browser pane may go on-line and stores the answer.
class Form3 final : public Form
{
    Q_OBJECT

public:
    explicit Form3(Runtime &runtime);

protected:
    QWidget *createView() override;

private:
    void Command1_Click();
    void Command2_Click();
    void answer(const char *letter);
    void leave();
    void showInPane(const QString &target);
};

} // namespace himekuri
