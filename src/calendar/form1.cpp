#include "form1.h"

#include "calendar/form1layout.h"
#include "calendar/holidays.h"
#include "runtime/clock.h"
#include "runtime/controls.h"
#include "runtime/platform.h"
#include "runtime/webbrowser.h"
#include "startup/datafiles.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

namespace himekuri {

Form1::Form1(Runtime &runtime)
    : Form(runtime, QStringLiteral("Form1"))
{ }

QString Form1::now(DateText format) const
{
    return dateText(runtime().clock().now(), format);
}

QWidget *Form1::createView()
{
    auto *window = new FramedWindow(twipsToPixels(Form1Design::ClientTwips));
    window->setWindowIcon(QIcon(QStringLiteral(":/assets/himekuri.ico")));
    window->placeClientAt(twipsToPixels(Form1Design::ClientPosTwips));

    QWidget *client = window->client();
    QPalette palette = client->palette();
    palette.setColor(QPalette::Window, toQColor(Form1Design::Background));
    client->setPalette(palette);
    client->setAutoFillBackground(true);

    buildControls(client, form1Controls());

    // The menu exists with its check marks but is never shown as a menu bar.
    auto *menu = new QMenu(QStringLiteral("メニュー"), client);
    menu->setObjectName(QStringLiteral("MNU"));
    menu->menuAction()->setVisible(false);
    const struct
    {
        const char *name;
        const char16_t *caption;
        bool checkable;
        bool checked;
    } items[] = {
        {"MNU_B", u"常に最背面に表示", true, true},
        {"MNU_T", u"それ以外", true, false},
        {"MNU_X", u"終わる", false, false},
    };
    for (const auto &item : items) {
        QAction *action = menu->addAction(QString::fromUtf16(item.caption));
        action->setObjectName(QString::fromLatin1(item.name));
        action->setCheckable(item.checkable);
        action->setChecked(item.checked);
    }

    onEvent(client->findChild<QTimer *>(QStringLiteral("Timer1")), &QTimer::timeout,
            [this] { Timer1_Timer(); });

    onEvent(client->findChild<QPushButton *>(QStringLiteral("Command2")), &QPushButton::clicked,
            [this] { Command2_Click(); });

    client->findChild<QWidget *>(QStringLiteral("RichTextBox1"))->setFocus();
    return window;
}

void Form1::Form_Load()
{
    // Whatever fails here is skipped: the page shows all it can.
    Runtime &rt = runtime();
    loadMessageBoard();
    rt.tryStatement([&] { TodayKey = now(DateText::Key); });
    rt.tryStatement([&] { label("Label8")->setCaption(now(DateText::Year)); });
    rt.tryStatement([&] { label("Label3")->setCaption(now(DateText::Month)); });
    rt.tryStatement([&] { label("Label5")->setCaption(now(DateText::Day)); });
    rt.tryStatement([&] { label("Label2")->setCaption(now(DateText::Weekday)); });

    rt.tryStatement([&] {
        if (label("Label2")->caption() != QStringView(SundayText))
            return;
        for (const char *name : {"Label3", "Label5", "Label2"})
            label(name)->setForeColor(PureRed);
    });

    // What is compared is read back from the page, so it is exactly what is shown.
    rt.tryStatement([&] {
        const QString monthDay = label("Label3")->caption() + label("Label5")->caption();
        const std::optional<QString> holiday = findHoliday(monthDay, TodayKey);
        if (!holiday)
            return;
        label("Label9")->setCaption(*holiday);
        for (const char *name : {"Label3", "Label5", "Label2", "Label9"})
            label(name)->setForeColor(PureRed);
    });

    // A fresh window (after a change of day) shows what the pane showed before.
    rt.tryStatement([&] {
        if (!PaneTarget.isEmpty())
            control<WebBrowser>("WebBrowser1")->Navigate(PaneTarget);
    });
}

void Form1::loadMessageBoard()
{
    Runtime &rt = runtime();
    const DataPaths paths {rt.platform().installFolder()};
    // A missing or empty file keeps the last line read.
    rt.tryStatement([&] {
        const ReadResult read = readFirstLine(paths.messageBoard());
        if (!read.line)
            throw HandlerFailure(read.reason);
        MemoLine = *read.line;
        MemoLineEnd = read.lineEnd;
    });
    rt.tryStatement([&] { control<RichTextBox>("RichTextBox1")->setPlainText(MemoLine); });
}

void Form1::Command2_Click()
{
    const DataPaths paths {runtime().platform().installFolder()};
    const QString text = control<RichTextBox>("RichTextBox1")->plainText();
    // Saved unchanged, the line goes back exactly as it was read.
    const WriteResult written = replaceContent(paths.messageBoard(), text,
                                               text == MemoLine ? MemoLineEnd : QByteArray(CrLf));
    // The text stays in the box: the user can mend it and try again.
    if (!written.ok()) {
        runtime().messageBox(
            saveFailureMessage(QStringLiteral("伝言板"), paths.messageBoard(), written),
            Runtime::MessageKind::Warning);
    }
}

void Form1::navigatePane(const QString &target)
{
    PaneTarget = target;
    control<WebBrowser>("WebBrowser1")->Navigate(target);
}

void Form1::Timer1_Timer()
{
    // The clock arrives with the clock tick; until then its labels stay blank.
}

} // namespace himekuri
