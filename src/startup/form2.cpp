#include "form2.h"

#include "calendar/form1.h"
#include "platform/platform.h"
#include "runtime/controls.h"
#include "runtime/layout.h"
#include "runtime/placement.h"
#include "startup/addresses.h"
#include "startup/datafiles.h"

#include <QFile>
#include <QTimer>
#include <utility>

namespace himekuri {

namespace {

using K = ControlKind;
using namespace design;

constexpr OleColor White = 0xFFFFFF;
constexpr OleColor Yellow = 0x00FFFF;

constexpr QSize ClientTwips = {3765, 4635};
constexpr QPoint ClientPosTwips = {6270, 2805};

// name, kind, box (twips), text, picture, font, transparent, fore, back, tab index, interval
// clang-format off
constexpr ControlRow Controls[] = {
    {"Timer1", K::Timer, {}, nullptr, nullptr, {}, false, ButtonText, White, -1, Form2::ShowMilliseconds},
    {"Label1", K::Label, {0, 4200, 3015, 495}, u"日付を読みこんでいます。", nullptr, {PGothic, 12, Bold}, false, ButtonText, White, 4},
    {"Label5", K::Label, {240, 3720, 975, 375}, u"QV", nullptr, {Gothic, 12, Bold}, true, Yellow, White, 3},
    {"Label4", K::Label, {2640, 720, 975, 255}, u"2005年", nullptr, {PGothic, 12, Bold}, true, ButtonText, White, 2},
    {"Label3", K::Label, {3000, 360, 135, 255}, u"|", nullptr, {PGothic, 12, Bold}, true, ButtonText, White, 1},
    {"Label2", K::Label, {2640, 120, 1095, 375}, u"2002年", nullptr, {PGothic, 12, Bold}, true, ButtonText, White, 0},
};
// clang-format on

constexpr char16_t Undecided[] = u"U";

// All of the window manager's frame stays on the screen, not only the picture.
void keepFrameOnScreen(QWidget *splash)
{
    const QRect frame = splash->frameGeometry();
    if (const QPoint onScreen = keepOnScreen(frame); onScreen != frame.topLeft())
        splash->setGeometry(splash->geometry().translated(onScreen - frame.topLeft()));
}

} // namespace

Form2::Form2(Runtime &runtime)
    : Form(runtime, QStringLiteral("Form2"))
{ }

QWidget *Form2::createView()
{
    auto *window = new PictureWindow(QStringLiteral(":/assets/splash.jpg"));
    // An empty caption; a space keeps the window system from putting the
    // program's name there instead.
    window->setWindowTitle(QStringLiteral(" "));
    const QRect designed(twipsToPixels(ClientPosTwips), twipsToPixels(ClientTwips));
    window->setGeometry(QRect(keepOnScreen(designed), designed.size()));
    runTimers(buildControls(window, Controls));
    onEvent(window->findChild<QTimer *>(QStringLiteral("Timer1")), &QTimer::timeout,
            [this] { Timer1_Timer(); });
    return window;
}

QString Form2::readChoice()
{
    const DataPaths paths {runtime().platform().installFolder()};
    // First start: the install folder gets what an installation would have
    // put there. Nothing that exists is overwritten.
    createIfMissing(paths.preference(), QByteArrayLiteral("U\r\n"));
    QFile picture(QStringLiteral(":/assets/dntl.gif"));
    if (!QFile::exists(paths.localPicture()) && picture.open(QIODevice::ReadOnly))
        createIfMissing(paths.localPicture(), picture.readAll());

    // A preference that cannot be read asks the question again rather than
    // ending the program; answering it writes the file anew.
    const ReadResult read = readFirstLine(paths.preference());
    return read.line.value_or(QString::fromUtf16(Undecided));
}

void Form2::Form_Load()
{
    const QString choice = readChoice();

    if (runtime().platform().anotherCopyRunning()) {
        // This copy must never reach its main window, whenever the user
        // gets round to pressing OK.
        control<QTimer>("Timer1")->stop();
        runtime().messageBox(QStringLiteral("既に起動されています。"));
        unload();
        runtime().end();
    }

    const DataPaths paths {runtime().platform().installFolder()};
    // Only the copy that runs tidies up after a save that was cut short.
    removeLeftoverSaves(paths);

    if (choice != QStringView(Undecided)) {
        const QString target = choice == QLatin1String("Y") ? QString::fromLatin1(LatestVersionPage)
                                                            : paths.localPicture();
        runtime().form<Form1>(QStringLiteral("Form1")).navigatePane(target);
    } else {
        runtime().form(QStringLiteral("Form3"))->show();
    }
}

bool Form2::eventFilter(QObject *watched, QEvent *event)
{
    // Only the view itself is watched.
    auto *splash = qobject_cast<QWidget *>(watched);
    if (!splash || !splash->isWindow())
        return Form::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::InputMethod:
        // Typed into the splash, meant for the page that follows it.
        runtime().form<Form1>(QStringLiteral("Form1")).keepForThePage(event);
        return true;
    case QEvent::Show:
        // The window manager tells its frame only some time after the map:
        // looked at again a little later.
        for (const int ms : {100, 400})
            QTimer::singleShot(ms, splash, [splash] { keepFrameOnScreen(splash); });
        keepFrameOnScreen(splash);
        break;
    case QEvent::Move:
        keepFrameOnScreen(splash);
        break;
    default:
        break;
    }
    return Form::eventFilter(watched, event);
}

void Form2::Timer1_Timer()
{
    const bool wasActive = window()->isActiveWindow();
    unload();
    runtime().form<Form1>(QStringLiteral("Form1")).showPage(wasActive);
    // Once a run, with the calendar up: what the program found at its start
    // and goes on without.
    if (std::exchange(WarningsShown, true))
        return;
    for (const QString &warning : runtime().platform().startupWarnings())
        runtime().messageBox(warning, Runtime::MessageKind::Warning);
}

} // namespace himekuri
