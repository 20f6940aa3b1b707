#include "runtime/controls.h"
#include "startup/addresses.h"
#include "testsupport.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace himekuri;

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void firstStartSeedsTheFolderAndAsks();
    void splashLayout();
    void splashHandsOverAfterItsTimer();
    void closingTheSplashHandsOverAtOnce();
    void choiceDecidesThePane_data();
    void choiceDecidesThePane();
    void unreadablePreferenceAsksAgain();
    void secondCopyRefusesAndNeverShowsTheCalendar();
    void questionLayoutAndFocus();
    void yesStoresAndShowsThePage();
    void noStoresAndShowsThePicture();
    void closingTheQuestionLeavesTheFileAlone();
    void failedAnswerIsToldAndTheProgramGoesOn();
    void freshCalendarShowsThePaneAgain();

    void messageBoardComesBackFromTheFile();
    void messageBoardKeepsTheLastLineRead();
    void messageBoardSaves();
    void lfOnlyFileRoundTripsUnchanged();
    void lineBreaksNeverEnterTheBox();
    void failedSaveKeepsTheText();
    void unstorableCharactersAreNamed();

private:
    // Lets a window's timer fall due now instead of after its interval.
    static void fire(Form &form, const char *timer);
    QWidget *control(Form &form, const char *name)
    {
        return form.window()->findChild<QWidget *>(QLatin1String(name));
    }
    RichTextBox *box() { return m_p->form1->control<RichTextBox>("RichTextBox1"); }
    void click(Form &form, const char *button)
    {
        QTest::mouseClick(control(form, button), Qt::LeftButton);
    }

    std::unique_ptr<test::Program> m_p;
};

void TestStartup::initTestCase()
{
    installFontSubstitutes();
}

void TestStartup::init()
{
    m_p = std::make_unique<test::Program>();
}

void TestStartup::cleanup()
{
    m_p.reset();
}

void TestStartup::fire(Form &form, const char *timer)
{
    form.window()->findChild<QTimer *>(QLatin1String(timer))->start(0);
    QTRY_VERIFY(!form.isLoaded() || !form.window()->findChild<QTimer *>(QLatin1String(timer)));
}

void TestStartup::firstStartSeedsTheFolderAndAsks()
{
    m_p->start();
    QCOMPARE(m_p->read("or.txt"), QByteArray("U\r\n"));
    QFile picture(QStringLiteral(":/assets/dntl.gif"));
    QVERIFY(picture.open(QIODevice::ReadOnly));
    QCOMPARE(m_p->read("dntl.gif"), picture.readAll());
    QVERIFY(m_p->form2->window()->isVisible());
    QVERIFY(m_p->form3->isLoaded() && m_p->form3->window()->isVisible());
    QVERIFY(!m_p->form1->isLoaded());
    QVERIFY(m_p->messages.isEmpty());

    // Seeding never overwrites what is there.
    m_p->write("or.txt", "N\r\n");
    m_p->write("dntl.gif", "mine");
    m_p->runtime->invoke([this] {
        m_p->form2->unload();
        m_p->form2->show();
    });
    QCOMPARE(m_p->read("or.txt"), QByteArray("N\r\n"));
    QCOMPARE(m_p->read("dntl.gif"), QByteArray("mine"));
}

void TestStartup::splashLayout()
{
    m_p->write("or.txt", "N\r\n");
    m_p->start();
    QWidget *splash = m_p->form2->window();
    QCOMPARE(splash->geometry(), QRect(418, 187, 251, 309));
    QCOMPARE(splash->windowRole(), QStringLiteral("Form2"));
    QCOMPARE(splash->windowTitle().trimmed(), QString());
    const QList<std::tuple<const char *, QRect, QString>> labels = {
        {"Label1", {0, 280, 201, 33}, "日付を読みこんでいます。"},
        {"Label5", {16, 248, 65, 25}, "QV"},
        {"Label4", {176, 48, 65, 17}, "2005年"},
        {"Label3", {200, 24, 9, 17}, "|"},
        {"Label2", {176, 8, 73, 25}, "2002年"},
    };
    for (const auto &[name, box, text] : labels) {
        auto *label = splash->findChild<Label *>(QLatin1String(name));
        QCOMPARE(label->geometry(), box);
        QCOMPARE(label->caption(), text);
        QCOMPARE(label->isTransparent(), QByteArray(name) != "Label1");
    }
    QCOMPARE(splash->findChild<Label *>("Label5")->foreColor(), OleColor(0x00FFFF));
    auto *timer = splash->findChild<QTimer *>(QStringLiteral("Timer1"));
    QCOMPARE(timer->interval(), 2000);
    QVERIFY(timer->isActive());
    for (QWidget *child : splash->findChildren<QWidget *>())
        QCOMPARE(child->focusPolicy(), Qt::NoFocus);

    // The picture shows through, from the top-left corner.
    const QImage shot = splash->grab().toImage();
    QImage picture(QStringLiteral(":/assets/splash.jpg"));
    QCOMPARE(shot.pixelColor(120, 150), picture.pixelColor(120, 150));
    QCOMPARE(shot.pixelColor(5, 300), QColor(Qt::white)); // the opaque white band
}

void TestStartup::splashHandsOverAfterItsTimer()
{
    m_p->write("or.txt", "N\r\n");
    m_p->start();
    QVERIFY(m_p->form1->isLoaded());
    QVERIFY(!m_p->form1->window()->isVisible());
    fire(*m_p->form2, "Timer1");
    QVERIFY(!m_p->form2->isLoaded());
    QVERIFY(m_p->form1->window()->isVisible());
    QVERIFY(!m_p->exitCode);
}

void TestStartup::closingTheSplashHandsOverAtOnce()
{
    m_p->write("or.txt", "N\r\n");
    m_p->start();
    QVERIFY(!m_p->form2->window()->close());
    QVERIFY(!m_p->form2->isLoaded());
    QVERIFY(m_p->form1->window()->isVisible());

    // The calendar itself has no close button; the window manager cannot close it.
    QVERIFY(!m_p->form1->window()->close());
    QVERIFY(m_p->form1->window()->isVisible());
    QVERIFY(!m_p->runtime->hasEnded());
}

void TestStartup::choiceDecidesThePane_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("web");

    QTest::newRow("Y") << QByteArray("Y\r\n") << true;
    QTest::newRow("Y without line end") << QByteArray("Y") << true;
    QTest::newRow("N") << QByteArray("N\r\n") << false;
    QTest::newRow("n") << QByteArray("n\r\n") << false;
    QTest::newRow("y") << QByteArray("y\r\n") << false;
    QTest::newRow("YES") << QByteArray("YES\r\n") << false;
    QTest::newRow("Y and spaces") << QByteArray("Y  \r\n") << false;
    QTest::newRow("empty line") << QByteArray("\r\n") << false;
}

void TestStartup::choiceDecidesThePane()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, web);
    m_p->write("or.txt", file);
    m_p->start();
    QVERIFY(!m_p->form3->isLoaded());
    QVERIFY(m_p->form1->isLoaded());
    QCOMPARE(m_p->form1->paneTarget(),
             web ? QString::fromLatin1(LatestVersionPage) : m_p->path("dntl.gif"));
}

void TestStartup::unreadablePreferenceAsksAgain()
{
    m_p->write("or.txt", {});
    m_p->start();
    QVERIFY(m_p->form3->isLoaded());
    QVERIFY(m_p->messages.isEmpty());
    click(*m_p->form3, "Command2");
    QCOMPARE(m_p->read("or.txt"), QByteArray("N\r\n"));
}

void TestStartup::secondCopyRefusesAndNeverShowsTheCalendar()
{
    m_p->platform.another = true;
    bool splashTimerStopped = false;
    m_p->onMessageBox = [&] {
        auto *timer = m_p->form2->window()->findChild<QTimer *>(QStringLiteral("Timer1"));
        splashTimerStopped = !timer->isActive();
        QTest::qWait(50); // the user takes a while to press OK
    };
    m_p->start();
    QCOMPARE(m_p->messages, QStringList {QStringLiteral("既に起動されています。")});
    QVERIFY(splashTimerStopped);
    QCOMPARE(m_p->exitCode, 0);
    QVERIFY(!m_p->form1->isLoaded());
    QVERIFY(!m_p->form2->isLoaded());
    QVERIFY(!m_p->form3->isLoaded());
    QVERIFY(m_p->runtime->hasEnded());
}

void TestStartup::questionLayoutAndFocus()
{
    m_p->start();
    QWidget *dialog = m_p->form3->window();
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->size(), QSize(271, 95));
    QVERIFY(!dialog->windowIcon().isNull());
    QVERIFY(!(dialog->windowFlags() & Qt::FramelessWindowHint));
    const QList<std::tuple<const char *, QRect, QString>> controls = {
        {"Command2", {152, 64, 97, 25}, "いいえ"},
        {"Command1", {24, 64, 97, 25}, "はい"},
        {"Label3", {8, 40, 249, 17}, "わからない場合は適当な方を選択してください。"},
        {"Label2", {8, 24, 257, 17}, "（毎回インターネットに接続することになります。）"},
        {"Label1", {8, 8, 273, 25}, "右端に最新バージョン情報を表示させますか？"},
    };
    for (const auto &[name, box, text] : controls) {
        QWidget *c = control(*m_p->form3, name);
        QCOMPARE(c->geometry(), box);
        if (auto *label = qobject_cast<Label *>(c)) {
            QCOMPARE(label->caption(), text);
            QVERIFY(!label->isTransparent());
        } else {
            QCOMPARE(qobject_cast<QPushButton *>(c)->text(), text);
        }
    }
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QCOMPARE(QApplication::focusWidget(), control(*m_p->form3, "Command1"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(m_p->form3->isLoaded());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(!m_p->form3->isLoaded());
    QCOMPARE(m_p->read("or.txt"), QByteArray("Y\r\n"));
}

void TestStartup::yesStoresAndShowsThePage()
{
    m_p->start();
    click(*m_p->form3, "Command1");
    QCOMPARE(m_p->read("or.txt"), QByteArray("Y\r\n"));
    QVERIFY(!m_p->form3->isLoaded());
    QVERIFY(m_p->form1->isLoaded());
    QCOMPARE(m_p->form1->paneTarget(), QString::fromLatin1(LatestVersionPage));
    QVERIFY(!m_p->form1->window()->isVisible()); // until the splash hands over
}

void TestStartup::noStoresAndShowsThePicture()
{
    m_p->start();
    fire(*m_p->form2, "Timer1"); // the calendar is up while the question waits
    QVERIFY(m_p->form3->isLoaded());
    QVERIFY(m_p->form1->window()->isVisible());
    QVERIFY(m_p->form1->paneTarget().isEmpty());
    click(*m_p->form3, "Command2");
    QCOMPARE(m_p->read("or.txt"), QByteArray("N\r\n"));
    QCOMPARE(m_p->form1->paneTarget(), m_p->path("dntl.gif"));
}

void TestStartup::closingTheQuestionLeavesTheFileAlone()
{
    m_p->start();
    QVERIFY(m_p->form3->window()->close() == false);
    QVERIFY(!m_p->form3->isLoaded());
    QCOMPARE(m_p->read("or.txt"), QByteArray("U\r\n"));
    QVERIFY(!m_p->runtime->hasEnded()); // the splash is still there
}

void TestStartup::failedAnswerIsToldAndTheProgramGoesOn()
{
    QDir().mkpath(m_p->path("or.txt")); // a folder where the file should be
    m_p->start();
    QVERIFY(m_p->form3->isLoaded());
    click(*m_p->form3, "Command1");
    QCOMPARE(m_p->messages.size(), 1);
    QVERIFY(m_p->messages[0].startsWith(QStringLiteral("設定を保存できませんでした。")));
    QVERIFY(m_p->messages[0].contains(QDir::toNativeSeparators(m_p->path("or.txt"))));
    QVERIFY(!m_p->runtime->hasEnded());
    QCOMPARE(m_p->form1->paneTarget(), QString::fromLatin1(LatestVersionPage));
}

void TestStartup::freshCalendarShowsThePaneAgain()
{
    m_p->write("or.txt", "N\r\n");
    m_p->start();
    fire(*m_p->form2, "Timer1");
    // The change of day: splash again, old calendar closed, a new one later.
    m_p->runtime->invoke([this] {
        m_p->form2->show();
        m_p->form1->unload();
    });
    QVERIFY(!m_p->form1->isLoaded());
    fire(*m_p->form2, "Timer1");
    QVERIFY(m_p->form1->window()->isVisible());
    QCOMPARE(m_p->form1->paneTarget(), m_p->path("dntl.gif"));
}

void TestStartup::messageBoardComesBackFromTheFile()
{
    m_p->write("or.txt", "N\r\n");
    m_p->write("de.txt", "\x96\xBE\x93\xFA\x82\xCD\x87\x40\r\nsecond line\r\n");
    m_p->start();
    QCOMPARE(box()->plainText(), QStringLiteral("明日は①"));
    QCOMPARE(m_p->form1->memoLine(), QStringLiteral("明日は①"));
}

void TestStartup::messageBoardKeepsTheLastLineRead()
{
    m_p->write("or.txt", "N\r\n");
    m_p->start();
    QVERIFY(box()->plainText().isEmpty());
    QVERIFY(m_p->messages.isEmpty());

    m_p->write("de.txt", "kept\r\n");
    m_p->runtime->invoke([this] {
        m_p->form2->show();
        m_p->form1->unload();
        m_p->form1->show();
    });
    QCOMPARE(box()->plainText(), QStringLiteral("kept"));

    QFile::remove(m_p->path("de.txt"));
    box()->setText(QStringLiteral("edited, not saved"));
    m_p->runtime->invoke([this] {
        m_p->form1->unload();
        m_p->form1->show();
    });
    QCOMPARE(box()->plainText(), QStringLiteral("kept"));
    QVERIFY(m_p->messages.isEmpty());
}

void TestStartup::messageBoardSaves()
{
    m_p->write("or.txt", "N\r\n");
    m_p->start();
    box()->setText(QStringLiteral("会議は3時〜4時 −5℃"));
    click(*m_p->form1, "Command2");
    QVERIFY(m_p->messages.isEmpty());
    QCOMPARE(m_p->read("de.txt"),
             QByteArray("\x89\xEF\x8B\x63\x82\xCD"
                        "3\x8E\x9E\x81\x60"
                        "4\x8E\x9E \x81\x7C"
                        "5\x81\x8E\r\n"));
    QVERIFY(m_p->form1->memoLine().isEmpty()); // only a load sets it
}

void TestStartup::lfOnlyFileRoundTripsUnchanged()
{
    const QByteArray unix("first\nsecond\n");
    m_p->write("or.txt", "N\r\n");
    m_p->write("de.txt", unix);
    m_p->start();
    QCOMPARE(box()->text(), QStringLiteral("first second "));
    click(*m_p->form1, "Command2");
    QCOMPARE(m_p->read("de.txt"), unix);

    box()->setText(box()->text() + QStringLiteral("third"));
    click(*m_p->form1, "Command2");
    QCOMPARE(m_p->read("de.txt"), QByteArray("first second third\r\n"));
}

void TestStartup::lineBreaksNeverEnterTheBox()
{
    m_p->write("or.txt", "N\r\n");
    m_p->start();
    RichTextBox *edit = box();
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("abc"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter);
    QCOMPARE(edit->plainText(), QStringLiteral("abc"));

    QApplication::clipboard()->setText(QStringLiteral("one\r\ntwo\nthree\rfour"));
    edit->paste();
    QCOMPARE(edit->plainText(), QStringLiteral("abcone two three four"));
    QVERIFY(edit->maxLength() >= 1000000);
    edit->setText(QString(40000, u'x'));
    QCOMPARE(edit->plainText().size(), 40000);
}

void TestStartup::failedSaveKeepsTheText()
{
    m_p->write("or.txt", "N\r\n");
    QDir().mkpath(m_p->path("de.txt"));
    m_p->start();
    box()->setText(QStringLiteral("大事なこと"));
    click(*m_p->form1, "Command2");
    QCOMPARE(m_p->messages.size(), 1);
    QVERIFY(m_p->messages[0].startsWith(QStringLiteral("伝言板を保存できませんでした。")));
    QVERIFY(m_p->messages[0].contains(QDir::toNativeSeparators(m_p->path("de.txt"))));
    QCOMPARE(box()->plainText(), QStringLiteral("大事なこと"));
    QVERIFY(!m_p->runtime->hasEnded());
}

void TestStartup::unstorableCharactersAreNamed()
{
    m_p->write("or.txt", "N\r\n");
    m_p->write("de.txt", "old\r\n");
    m_p->start();
    box()->setText(QStringLiteral("誕生日🎂おめでとう"));
    click(*m_p->form1, "Command2");
    QCOMPARE(m_p->messages.size(), 1);
    QVERIFY(m_p->messages[0].contains(QStringLiteral("🎂")));
    QCOMPARE(m_p->read("de.txt"), QByteArray("old\r\n"));
    QCOMPARE(box()->plainText(), QStringLiteral("誕生日🎂おめでとう"));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
