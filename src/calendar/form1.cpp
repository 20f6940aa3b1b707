#include "form1.h"

#include "calendar/form1layout.h"
#include "calendar/holidays.h"
#include "calendar/setrgn.h"
#include "platform/cp932.h"
#include "platform/platform.h"
#include "runtime/clock.h"
#include "runtime/controls.h"
#include "runtime/placement.h"
#include "runtime/webbrowser.h"
#include "startup/addresses.h"
#include "startup/datafiles.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIcon>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <utility>

namespace himekuri {

namespace {

// What the date fields can show: every day, month, weekday, and the years of
// a long life of the program.
QStringList captionsOf(const char *field)
{
    QStringList captions;
    const auto numbers = [&captions](int from, int to, const char *suffix) {
        for (int n = from; n <= to; ++n)
            captions << QStringLiteral("%1").arg(n, from > 1000 ? 4 : 2, 10, QLatin1Char('0'))
                    + QString::fromUtf8(suffix);
    };
    if (qstrcmp(field, "Label5") == 0)
        numbers(1, 31, "");
    else if (qstrcmp(field, "Label3") == 0)
        numbers(1, 12, "");
    else if (qstrcmp(field, "Label8") == 0)
        numbers(2000, 2099, "年");
    else
        for (int day = 1; day <= 7; ++day)
            captions << weekdayName(day);
    return captions;
}

// A stand-in face (Noto CJK, VL Gothic, Takao) may reach further than the
// design face: a taller ascent pushes the digits down, wider digits push the
// second one out. By the glyphs' real extent, drawn as the label draws them
// (the baseline at the ascent), every caption must lie inside the box; the
// face is made smaller until they do. The IPA faces stand for the design's
// own and keep its layout, the month's cut-off right edge included.
void fitInkToBox(Label *label)
{
    QFont font = label->font();
    if (QFontInfo(font).family().startsWith(QLatin1String("IPA")))
        return;
    const QStringList captions = captionsOf(qPrintable(label->objectName()));
    // Less than a pixel over is an edge's shading, not a cut glyph.
    const QRectF box = QRectF(0, 0, label->width(), label->height()).adjusted(-0.5, -0.5, 0.5, 0.5);
    for (int attempt = 0; attempt < 10; ++attempt) {
        const QFontMetricsF metrics(font);
        QRectF ink;
        for (const QString &caption : captions)
            ink |= metrics.tightBoundingRect(caption).translated(0, metrics.ascent());
        // Smaller moves the ink up and left, never past the top-left corner.
        if (ink.right() <= box.right() && ink.bottom() <= box.bottom())
            break;
        const qreal scale =
            std::min({box.right() / ink.right(), box.bottom() / ink.bottom(), 0.99});
        font.setPixelSize(std::max(1, int(font.pixelSize() * scale)));
    }
    if (font != label->font())
        label->setFont(font);
}

} // namespace

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
    // Mapped in the bottom layer at once, rather than pushed there at the first
    // paint after showing above everything for a moment.
    window->setWindowFlag(Qt::WindowStaysOnBottomHint);
    window->placeClientAt(twipsToPixels(Form1Design::ClientPosTwips));
    if (DesktopPlace)
        window->move(*DesktopPlace);
    window->move(keepOnScreen(window->geometry()));
    // A panel that comes, a monitor that goes, a new resolution: the page
    // goes back on screen at once, by the same rule.
    const auto watchScreen = [this, window](QScreen *screen) {
        connect(screen, &QScreen::availableGeometryChanged, window, [this] { placePage(); });
    };
    for (QScreen *screen : QGuiApplication::screens())
        watchScreen(screen);
    connect(qApp, &QGuiApplication::screenAdded, window, [this, watchScreen](QScreen *screen) {
        watchScreen(screen);
        placePage();
    });
    connect(qApp, &QGuiApplication::screenRemoved, window, [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isLoaded())
                    placePage();
            },
            Qt::QueuedConnection);
    });

    QWidget *client = window->client();
    QPalette palette = client->palette();
    palette.setColor(QPalette::Window, toQColor(Form1Design::Background));
    client->setPalette(palette);
    client->setAutoFillBackground(true);

    runTimers(buildControls(client, form1Controls()));
    for (const char *field : {"Label5", "Label3", "Label8", "Label2"})
        fitInkToBox(client->findChild<Label *>(QLatin1String(field)));
    auto *pane = client->findChild<WebBrowser *>(QStringLiteral("WebBrowser1"));
    pane->setFallbackPicture(DataPaths {runtime().platform().installFolder()}.localPicture());
    pane->setStandInPicture(QStringLiteral(":/assets/dntl.gif"));

    // The menu is never shown as a menu bar; a right click on the page pops it up.
    auto *menu = new QMenu(QStringLiteral("メニュー"), client);
    menu->setObjectName(QStringLiteral("MNU"));
    menu->menuAction()->setVisible(false);
    client->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(client, &QWidget::customContextMenuRequested, menu,
            [menu, client](const QPoint &at) { menu->popup(client->mapToGlobal(at)); });

    const struct
    {
        const char *name;
        const char16_t *caption;
        bool checkable;
        bool checked;
        void (Form1::*handler)();
    } items[] = {
        {"MNU_B", u"常に最背面に表示", true, true, &Form1::MNU_B_Click},
        {"MNU_T", u"それ以外", true, false, &Form1::MNU_T_Click},
        {"MNU_X", u"終わる", false, false, &Form1::MNU_X_Click},
    };
    for (const auto &item : items) {
        QAction *action = menu->addAction(QString::fromUtf16(item.caption));
        action->setObjectName(QString::fromLatin1(item.name));
        action->setCheckable(item.checkable);
        action->setChecked(item.checked);
        // The handlers own the check marks: undo Qt's own toggle first.
        if (item.checkable) {
            connect(action, &QAction::triggered, action,
                    [action] { action->setChecked(!action->isChecked()); });
        }
        onEvent(action, &QAction::triggered,
                [this, handler = item.handler] { (this->*handler)(); });
    }

    auto *timer = client->findChild<QTimer *>(QStringLiteral("Timer1"));
    keepTicksOnClockSeconds(timer, runtime().clock());
    onEvent(timer, &QTimer::timeout, [this] { Timer1_Timer(); });

    const auto button = [client](const char *name) {
        return client->findChild<QPushButton *>(QLatin1String(name));
    };
    const auto picture = [client](const char *name) {
        return client->findChild<Picture *>(QLatin1String(name));
    };
    onEvent(button("Command1"), &QPushButton::clicked, [this] { Command1_Click(); });
    onEvent(button("Command2"), &QPushButton::clicked, [this] { Command2_Click(); });
    onEvent(picture("Image2"), &Picture::clicked, [this] { Image2_Click(); });
    onEvent(picture("Image3"), &Picture::clicked, [this] { Image3_Click(); });

    watchPaints(window);
    runtime().platform().keepOffTaskbar(window);
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, window, [this, window] {
        m_moving = false;
        DesktopPlace = window->geometry().topLeft();
        placePage();
    });

    auto *box = client->findChild<RichTextBox *>(QStringLiteral("RichTextBox1"));
    // No more than a line of the file can bring back.
    const QLocale japanese(QLocale::Japanese);
    box->setLengthLimit(
        FirstLineBound, cp932Size,
        QStringLiteral("伝言板に書けるのは %1 バイト（半角 %1 文字、全角 %2 文字）までです")
            .arg(japanese.toString(FirstLineBound), japanese.toString(FirstLineBound / 2)));
    box->setFocus();
    return window;
}

void Form1::Form_Load()
{
    // Whatever fails here is skipped: the page shows all it can.
    Runtime &rt = runtime();
    loadMessageBoard();
    // What was typed before the day changed is still waiting to be saved.
    rt.tryStatement([&] {
        auto *box = control<RichTextBox>("RichTextBox1");
        if (UnsavedMemo && *UnsavedMemo != MemoLine)
            box->setPlainText(*UnsavedMemo);
        // The cursor and the selection as they were at midnight.
        if (BoxCursor && BoxCursor->selectionLength > 0)
            box->setSelection(BoxCursor->selectionStart, BoxCursor->selectionLength);
        else if (BoxCursor)
            box->setCursorPosition(BoxCursor->position);
    });
    UnsavedMemo.reset();
    BoxCursor.reset();
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
        MemoBytesUnread = read.bytesLeftUnread;
    });
    rt.tryStatement([&] {
        control<RichTextBox>("RichTextBox1")->setPlainText(MemoLine);
        m_memoAsStored = MemoLine;
    });
}

void Form1::Command2_Click()
{
    const DataPaths paths {runtime().platform().installFolder()};
    const QString text = control<RichTextBox>("RichTextBox1")->plainText();
    // The file held more than was read: a save drops the rest, which only the
    // user may decide.
    if (MemoBytesUnread > 0
        && !runtime().ask(
            QStringLiteral("伝言板のファイル %1 は長すぎるため、最初の %2 バイトだけを"
                           "読み込みました。\n書き込むと、読み込まなかった残りの %3 "
                           "バイトは失われます。\n\n書き込みますか？")
                .arg(QDir::toNativeSeparators(paths.messageBoard()),
                     QLocale(QLocale::Japanese).toString(FirstLineBound),
                     QLocale(QLocale::Japanese).toString(MemoBytesUnread))))
        return;
    // Saved unchanged, the line goes back exactly as it was read.
    const WriteResult written = replaceContent(paths.messageBoard(), text,
                                               text == MemoLine ? MemoLineEnd : QByteArray(CrLf));
    if (written.ok()) {
        m_memoAsStored = text;
        MemoBytesUnread = 0;
    }
    // The text stays in the box: the user can mend it and try again.
    if (!written.ok()) {
        runtime().messageBox(
            saveFailureMessage(QStringLiteral("伝言板"), paths.messageBoard(), written),
            Runtime::MessageKind::Warning);
    } else if (!written.warning.isEmpty()) {
        runtime().messageBox(written.warning, Runtime::MessageKind::Warning);
    }
}

void Form1::navigatePane(const QString &target)
{
    PaneTarget = target;
    control<WebBrowser>("WebBrowser1")->Navigate(target);
}

void Form1::Timer1_Timer()
{
    Label *clock = label("Label1");
    clock->setCaption(now(DateText::Clock));
    Label *mark = label("Label11");
    mark->setCaption(now(DateText::AmPm));
    mark->setCaption(mark->caption() == u"a" ? QStringLiteral("午前") : QStringLiteral("午後"));
    label("Label8")->setCaption(now(DateText::Year));
    label("Label3")->setCaption(now(DateText::Month));
    label("Label5")->setCaption(now(DateText::Day));
    label("Label2")->setCaption(now(DateText::Weekday));

    // A tick that misses midnight's first second (a suspended machine, a clock
    // set forward) turns the page all the same: a new date must never be shown
    // with the old day's marking.
    if (clock->caption() == QStringView(MidnightClockText) || now(DateText::Key) != TodayKey)
        turnThePage();
}

void Form1::turnThePage()
{
    const auto *box = control<RichTextBox>("RichTextBox1");
    const QString typed = box->plainText();
    UnsavedMemo = typed != m_memoAsStored ? std::optional(typed) : std::nullopt;
    BoxCursor = {box->cursorPosition(), box->selectionStart(), box->selectionLength()};
    // At midnight the user may be typing in another program.
    Form *splash = runtime().form(QStringLiteral("Form2"));
    splash->window()->setAttribute(Qt::WA_ShowWithoutActivating, !window()->isActiveWindow());
    splash->show();
    unload();
}

void Form1::showPage(bool splashWasActive)
{
    // The keyboard goes to the page only where the user was on the calendar:
    // on its splash, or nowhere else. Whoever went to another program during
    // the splash (at a start at log-in, say) keeps it.
    const bool takeFocus = splashWasActive || !runtime().platform().otherProgramActive();
    QWidget *page = window();
    page->setAttribute(Qt::WA_ShowWithoutActivating, !takeFocus);
    // The native window was made before (for its taskbar states), and Qt
    // hands the attribute to the window system only when it makes one.
    if (QWindow *handle = page->windowHandle())
        handle->setProperty("_q_showWithoutActivating", !takeFocus);
    show();
    if (takeFocus)
        page->activateWindow();
    // What was typed while the splash was up, in the order it was typed.
    auto *box = control<RichTextBox>("RichTextBox1");
    for (const auto &typed : std::exchange(KeysForThePage, {}))
        QCoreApplication::sendEvent(box, typed.get());
}

void Form1::keepForThePage(const QEvent *typed)
{
    KeysForThePage.emplace_back(typed->clone());
}

void Form1::placePage()
{
    QWidget *page = window();
    const QPoint designed = twipsToPixels(Form1Design::ClientPosTwips)
        - QPoint(FramedWindow::FrameWidth, FramedWindow::FrameWidth);
    // The window's own place: a window manager's border goes round it.
    const QRect wanted(DesktopPlace.value_or(designed), page->size());
    const QPoint place = keepOnScreen(wanted);
    if (place == page->geometry().topLeft())
        return;
    m_placing = true;
    page->setGeometry(QRect(place, page->size()));
    m_placing = false;
}

void Form1::watchPaints(QWidget *window)
{
    // The page's own surface: the frame, the background, labels and pictures.
    // Buttons, the edit box and the pane are windows of their own.
    window->installEventFilter(this);
    QWidget *client = window->findChild<QWidget *>(QStringLiteral("client"));
    client->installEventFilter(this);
    m_childWindowArea = QRegion();
    for (QWidget *child : client->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (qobject_cast<Label *>(child) || qobject_cast<Picture *>(child))
            child->installEventFilter(this);
        else
            m_childWindowArea += child->geometry();
    }
}

// Without a title bar, the page itself is what the user takes hold of. The
// window system is asked to move it (X11 window managers and Wayland
// compositors alike); where it does not, the page follows the pointer
// itself. The place stands for the rest of the run and is kept on the screen.
bool Form1::dragWindow(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Move && watched == window() && m_moving && !m_placing) {
        // Wherever the window system put it, once it rests.
        m_settle.start();
        return false;
    }
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove
        && type != QEvent::MouseButtonRelease)
        return false;
    const QString name = watched->objectName();
    if (name != QLatin1String("client") && name != QLatin1String("Image1"))
        return false;
    const auto *mouse = static_cast<QMouseEvent *>(event);
    auto *watchedWidget = static_cast<QWidget *>(watched);
    QWidget *page = watchedWidget->window();
    switch (type) {
    case QEvent::MouseButtonPress: {
        if (mouse->button() != Qt::LeftButton)
            return false;
        // A press the banners pass on to the page is theirs, not a drag.
        const QWidget *under = watchedWidget->childAt(mouse->position().toPoint());
        if (under && under->objectName() != QLatin1String("Image1"))
            return false;
        // The window system takes the move over from the press, as window
        // managers ask; where it cannot, the page follows the pointer.
        m_dragHold = mouse->globalPosition().toPoint() - page->pos();
        m_moving = page->windowHandle() && page->windowHandle()->startSystemMove();
        return true;
    }
    case QEvent::MouseMove:
        if (!m_dragHold || m_moving)
            return m_dragHold.has_value();
        page->move(mouse->globalPosition().toPoint() - *m_dragHold);
        return true;
    case QEvent::MouseButtonRelease:
        if (!m_dragHold || mouse->button() != Qt::LeftButton)
            return false;
        m_dragHold.reset();
        // A move the window system makes is read back once it rests.
        if (!m_moving) {
            DesktopPlace = page->geometry().topLeft();
            placePage();
        }
        return true;
    default:
        return false;
    }
}

// A child window's repaint (the box's cursor, a button's hover) reaches the
// surface under it too; it is not a repaint of the page.
bool Form1::isPageRepaint(QObject *watched, const QPaintEvent *event) const
{
    const auto *widget = static_cast<const QWidget *>(watched);
    if (widget->isWindow())
        return true;
    const QPoint offset =
        widget->objectName() == QLatin1String("client") ? QPoint() : widget->pos();
    return !(event->region().translated(offset) - m_childWindowArea).isEmpty();
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (dragWindow(watched, event))
        return true;
    // Restacking may let other events run, which must never happen inside a
    // paint: the paint handler runs once the paints are done, and paints that
    // come while it runs are served by it.
    if (event->type() == QEvent::Paint && !m_paintPending
        && isPageRepaint(watched, static_cast<QPaintEvent *>(event))) {
        m_paintPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isLoaded())
                    runtime().invoke([this] { Form_Paint(); });
                m_paintPending = false;
            },
            Qt::QueuedConnection);
    }
    return Form::eventFilter(watched, event);
}

void Form1::Form_Paint()
{
    SetRgn::PinToBottom(runtime(), window(), control<QAction>("MNU_B")->isChecked());
}

void Form1::MNU_B_Click()
{
    auto *bottom = control<QAction>("MNU_B");
    if (bottom->isChecked()) {
        bottom->setChecked(false);
        SetRgn::UnpinBottom(runtime(), window());
        return;
    }
    bottom->setChecked(true);
    control<QAction>("MNU_T")->setChecked(false);
    SetRgn::PinToBottom(runtime(), window(), bottom->isChecked());
}

void Form1::MNU_T_Click()
{
    auto *top = control<QAction>("MNU_T");
    if (top->isChecked()) {
        top->setChecked(false);
        SetRgn::UnpinTopmost(runtime(), window());
        return;
    }
    top->setChecked(true);
    control<QAction>("MNU_B")->setChecked(false);
    SetRgn::PinTopmost(runtime(), window());
}

void Form1::MNU_X_Click()
{
    unload();
}

// Ends at once: nothing is saved.
void Form1::Command1_Click()
{
    runtime().end();
}

void Form1::Image2_Click()
{
    openInBrowser(MakerHomePage);
}

void Form1::Image3_Click()
{
    openInBrowser(FeedbackBoard);
}

// The browser loads the page in its own time; the calendar does not wait.
void Form1::openInBrowser(const char *url)
{
    const QString address = QString::fromLatin1(url);
    if (runtime().platform().openInBrowser(QUrl(address)))
        return;
    runtime().messageBox(QStringLiteral("ウェブブラウザを起動できませんでした。\n%1").arg(address),
                         Runtime::MessageKind::Warning);
}

} // namespace himekuri
