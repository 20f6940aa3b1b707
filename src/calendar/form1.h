#pragma once

#include "calendar/datetexts.h"
#include "runtime/form.h"

#include <QPaintEvent>
#include <QPoint>
#include <QRegion>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

namespace himekuri {

class Label;

// The calendar window: today's page, the clock, the message board.
class Form1 final : public Form
{
    Q_OBJECT

public:
    explicit Form1(Runtime &runtime);

    // Sends the browser pane to a page or picture; loads the window (hidden)
    // if needed. A later load of the window shows the same target again.
    void navigatePane(const QString &target);
    // Only remembers the target for the window's next load.
    void rememberPane(const QString &target) { PaneTarget = target; }
    QString paneTarget() const { return PaneTarget; }

    // Shows the page after its splash. It takes the keyboard only where the
    // user was on the calendar: on the splash, or on no other program; at
    // the back of a desktop in use it never does. What was typed meanwhile
    // (keepForThePage) goes into its box.
    void showPage(bool splashWasActive);
    void keepForThePage(const QEvent *typed);

protected:
    QWidget *createView() override;
    void Form_Load() override;
    // Like the designed window without a control box: the window manager
    // cannot close it, only its own commands can.
    void closeRequested() override { }
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Timer1_Timer();
    void Form_Paint();
    void Command1_Click();
    void Command2_Click();
    void Image2_Click();
    void Image3_Click();
    void MNU_B_Click();
    void MNU_T_Click();
    void MNU_X_Click();

    void loadMessageBoard();
    void turnThePage();
    void openInBrowser(const char *url);
    void watchPaints(QWidget *window);
    bool dragWindow(QObject *watched, QEvent *event);
    bool isPageRepaint(QObject *watched, const QPaintEvent *event) const;
    // Its place on the screens as they are now.
    void placePage();

    Label *label(const char *name) { return control<Label>(name); }
    QString now(DateText format) const;

    QString TodayKey;
    QString MemoLine;
    QByteArray MemoLineEnd = "\r\n";
    // The file's bytes that were not read with the line (it was cut).
    qint64 MemoBytesUnread = 0;
    QString PaneTarget;
    // Typed but not saved when the day changed; the next load shows it again.
    std::optional<QString> UnsavedMemo;
    // Where the user dragged the window; every later load puts it there.
    std::optional<QPoint> DesktopPlace;
    // The box's cursor and selection when the day changed.
    struct Cursor
    {
        int position;
        int selectionStart;
        int selectionLength;
    };
    std::optional<Cursor> BoxCursor;
    // Typed while the splash was up, for the next page's box.
    std::vector<std::unique_ptr<QEvent>> KeysForThePage;

    // The box's text as the file holds it, after a load or a save.
    QString m_memoAsStored;
    bool m_paintPending = false;
    // Buttons, the box and the pane, in the client area.
    QRegion m_childWindowArea;
    // Where in the window the pointer took hold of it.
    std::optional<QPoint> m_dragHold;
    // The window system moves the page; it is read back once it rests.
    static constexpr int SettleMs = 300;
    bool m_moving = false;
    bool m_placing = false;
    QTimer m_settle;
};

} // namespace himekuri
