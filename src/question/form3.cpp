#include "form3.h"

#include "calendar/form1.h"
#include "platform/platform.h"
#include "runtime/controls.h"
#include "runtime/layout.h"
#include "startup/addresses.h"
#include "startup/datafiles.h"

#include <QIcon>
#include <QPushButton>

namespace himekuri {

namespace {

using K = ControlKind;
using namespace design;

constexpr QSize ClientTwips = {4065, 1425};

// name, kind, box (twips), text, picture, font, transparent, fore, back, tab index
// clang-format off
constexpr ControlRow Controls[] = {
    {"Command2", K::CommandButton, {2280, 960, 1455, 375}, u"いいえ", nullptr, {}, false, ButtonText, ButtonFace, 4},
    {"Command1", K::CommandButton, {360, 960, 1455, 375}, u"はい", nullptr, {}, false, ButtonText, ButtonFace, 3},
    {"Label3", K::Label, {120, 600, 3735, 255}, u"わからない場合は適当な方を選択してください。", nullptr, {}, false, ButtonText, ButtonFace, 2},
    {"Label2", K::Label, {120, 360, 3855, 255}, u"（毎回インターネットに接続することになります。）", nullptr, {}, false, ButtonText, ButtonFace, 1},
    {"Label1", K::Label, {120, 120, 4095, 375}, u"右端に最新バージョン情報を表示させますか？", nullptr, {PGothic, 9.75}, false, ButtonText, ButtonFace, 0},
};
// clang-format on

} // namespace

Form3::Form3(Runtime &runtime)
    : Form(runtime, QStringLiteral("Form3"))
{ }

QWidget *Form3::createView()
{
    auto *window = new QWidget(nullptr, Qt::Window);
    window->setWindowTitle(QStringLiteral(" "));
    window->setWindowIcon(QIcon(QStringLiteral(":/assets/himekuri.ico")));
    window->resize(twipsToPixels(ClientTwips));
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, toQColor(ButtonFace));
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    runTimers(buildControls(window, Controls));

    auto *yes = window->findChild<QPushButton *>(QStringLiteral("Command1"));
    auto *no = window->findChild<QPushButton *>(QStringLiteral("Command2"));
    onEvent(yes, &QPushButton::clicked, [this] { Command1_Click(); });
    onEvent(no, &QPushButton::clicked, [this] { Command2_Click(); });
    // Enter answers Yes; Escape does nothing.
    yes->setFocus();
    return window;
}

void Form3::answer(const char *letter)
{
    const DataPaths paths {runtime().platform().installFolder()};
    const WriteResult written = replaceContent(paths.preference(), QString::fromLatin1(letter));
    // The answer still holds for this run; the question comes back next time.
    if (!written.ok()) {
        runtime().messageBox(
            saveFailureMessage(QStringLiteral("設定"), paths.preference(), written),
            Runtime::MessageKind::Warning);
    } else if (!written.warning.isEmpty()) {
        runtime().messageBox(written.warning, Runtime::MessageKind::Warning);
    }
}

// Answered over the calendar, the keyboard goes back to it: closing the
// active window would otherwise leave no window active at all.
void Form3::leave()
{
    const bool answeredHere = window()->isActiveWindow();
    unload();
    auto &calendar = runtime().form<Form1>(QStringLiteral("Form1"));
    if (answeredHere && calendar.isLoaded() && calendar.window()->isVisible())
        calendar.window()->activateWindow();
}

void Form3::showInPane(const QString &target)
{
    auto &calendar = runtime().form<Form1>(QStringLiteral("Form1"));
    // While the splash is up the calendar is still to come: it is loaded now,
    // hidden. One its user has closed is not brought back hidden, where it
    // would keep the program running unseen and a new start refused.
    if (calendar.isLoaded() || runtime().form(QStringLiteral("Form2"))->isLoaded())
        calendar.navigatePane(target);
    else
        calendar.rememberPane(target);
}

void Form3::Command1_Click()
{
    answer("Y");
    leave();
    showInPane(QString::fromLatin1(LatestVersionPage));
}

void Form3::Command2_Click()
{
    answer("N");
    leave();
    // The picture at once, rather than an empty pane until the next start.
    const DataPaths paths {runtime().platform().installFolder()};
    showInPane(paths.localPicture());
}

} // namespace himekuri
