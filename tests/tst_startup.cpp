#include "runtime/controls.h"
#include "startup/addresses.h"
#include "startup/datafiles.h"
#include "testsupport.h"

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QSignalSpy>
#include <sys/stat.h>

using namespace himekuri;

class TestStartup : public test::ProgramTest
{
    Q_OBJECT

private Q_SLOTS:
    void firstStartSeedsTheFolderAndAsks();
    void splashLayout();
    void closingWindows();
    void choiceDecidesThePane_data();
    void choiceDecidesThePane();
    void secondCopyRefusesAndNeverShowsTheCalendar();
    void questionLayoutAndFocus();
    void noStoresAndShowsThePicture();

    void messageBoardRoundTrips_data();
    void messageBoardRoundTrips();
    void messageBoardKeepsTheLastLineRead();
    void lineBreaksNeverEnterTheBox();
    void failedSavesAreToldAndChangeNothing();

    void typingPastTheBoundIsRefusedAloud();
    void aLineCutWhenReadIsSavedOnlyWhenTheUserSaysSo();
    void withoutInstallFolderTheCalendarStillRuns();

private:
    RichTextBox *box() { return m_p->form1->control<RichTextBox>("RichTextBox1"); }
    static void click(Form &form, const char *button)
    {
        QTest::mouseClick(form.control<QWidget>(button), Qt::LeftButton);
    }
};

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
    m_p->start("N");
    QWidget *splash = m_p->form2->window();
    QCOMPARE(splash->geometry(), QRect(418, 187, 251, 309));
    QCOMPARE(splash->windowTitle().trimmed(), QString());
    test::checkLayout(splash, "Form2");
    QVERIFY(splash->findChild<QTimer *>(QStringLiteral("Timer1"))->isActive());
    for (QWidget *child : splash->findChildren<QWidget *>())
        QCOMPARE(child->focusPolicy(), Qt::NoFocus);

    // The picture shows through, from the top-left corner.
    const QImage shot = splash->grab().toImage();
    QImage picture(QStringLiteral(":/assets/splash.jpg"));
    QCOMPARE(shot.pixelColor(120, 150), picture.pixelColor(120, 150));
    QCOMPARE(shot.pixelColor(5, 300), QColor(Qt::white)); // the opaque white band
}

// The window manager's close: the question goes without an answer, the
// splash hands over at once, the calendar (no control box) stays.
void TestStartup::closingWindows()
{
    m_p->start();
    QVERIFY(!m_p->form3->window()->close());
    QVERIFY(!m_p->form3->isLoaded());
    QCOMPARE(m_p->read("or.txt"), QByteArray("U\r\n"));
    QVERIFY(!m_p->form2->window()->close());
    QVERIFY(!m_p->form2->isLoaded());
    QVERIFY(m_p->form1->window()->isVisible());
    QVERIFY(!m_p->form1->window()->close());
    QVERIFY(m_p->form1->window()->isVisible());
    QVERIFY(!m_p->runtime->hasEnded());
}

void TestStartup::choiceDecidesThePane_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("web");

    QTest::newRow("Y") << QByteArray("Y\r\n") << true;
    QTest::newRow("N") << QByteArray("N\r\n") << false;
    QTest::newRow("y") << QByteArray("y\r\n") << false;
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
    QCOMPARE(m_p->takeMessages(), QStringList {QStringLiteral("既に起動されています。")});
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
    test::checkLayout(dialog, "Form3");
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog));
    QCOMPARE(QApplication::focusWidget(), m_p->form3->control<QWidget>("Command1"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(m_p->form3->isLoaded());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(!m_p->form3->isLoaded());
    QCOMPARE(m_p->read("or.txt"), QByteArray("Y\r\n"));
    QCOMPARE(m_p->form1->paneTarget(), QString::fromLatin1(LatestVersionPage));
}

void TestStartup::noStoresAndShowsThePicture()
{
    m_p->write("or.txt", {}); // unreadable: asked again
    m_p->start();
    QVERIFY(m_p->handOver()); // the calendar is up while the question waits
    QVERIFY(m_p->form3->isLoaded());
    QVERIFY(m_p->form1->paneTarget().isEmpty());
    m_p->form3->window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_p->form3->window()));
    click(*m_p->form3, "Command2");
    QCOMPARE(m_p->read("or.txt"), QByteArray("N\r\n"));
    QCOMPARE(m_p->form1->paneTarget(), m_p->path("dntl.gif"));
    // The keyboard goes back to the calendar's box, not to no window at all.
    QTRY_VERIFY(m_p->form1->window()->isActiveWindow());
    QCOMPARE(QApplication::focusWidget(), m_p->form1->control<QWidget>("RichTextBox1"));
}

void TestStartup::messageBoardRoundTrips_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("savedAsIs");
    QTest::addColumn<QByteArray>("savedEdited");

    QTest::newRow("Shift-JIS, CR LF")
        << QByteArray("\x96\xBE\x93\xFA\x82\xCD\x87\x40\r\nsecond line\r\n")
        << QStringLiteral("明日は①") << QByteArray("\x96\xBE\x93\xFA\x82\xCD\x87\x40\r\n")
        << QByteArray("\x96\xBE\x93\xFA\x82\xCD\x87\x40!\r\n");
    // A lone LF ends no line: the whole file is one, shown on one line.
    QTest::newRow("LF only") << QByteArray("first\nsecond\n") << QStringLiteral("first second ")
                             << QByteArray("first\nsecond\n") << QByteArray("first second !\r\n");
}

void TestStartup::messageBoardRoundTrips()
{
    QFETCH(QByteArray, file);
    m_p->write("de.txt", file);
    m_p->start("N");
    QTEST(box()->text(), "shown");
    QCOMPARE(box()->cursorPosition(), 0); // a long line is read from its start
    // Saved unchanged, the line goes back as it was read; edited, it ends in CR LF.
    click(*m_p->form1, "Command2");
    QTEST(m_p->read("de.txt"), "savedAsIs");
    box()->setText(box()->text() + u'!');
    click(*m_p->form1, "Command2");
    QTEST(m_p->read("de.txt"), "savedEdited");
    click(*m_p->form1, "Command2");
    QTEST(m_p->read("de.txt"), "savedEdited");
}

void TestStartup::messageBoardKeepsTheLastLineRead()
{
    m_p->start("N");
    QVERIFY(box()->plainText().isEmpty());

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
}

void TestStartup::lineBreaksNeverEnterTheBox()
{
    m_p->start("N");
    RichTextBox *edit = box();
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("abc"));
    // No button is the default: Enter in the box saves nothing, ends nothing.
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Escape);
    QVERIFY(!QFile::exists(m_p->path("de.txt")));
    QVERIFY(!m_p->runtime->hasEnded());

    QApplication::clipboard()->setText(QStringLiteral("one\r\ntwo\nthree\rfour"));
    edit->paste();
    QCOMPARE(edit->plainText(), QStringLiteral("abcone two three four"));
}

// Saves that fail say why, keep the text and the files, and the program goes on.
void TestStartup::failedSavesAreToldAndChangeNothing()
{
    QDir().mkpath(m_p->path("or.txt")); // a folder where the file should be
    m_p->write("de.txt", "old\r\n");
    m_p->start();
    QVERIFY(m_p->handOver());
    const QString text = QStringLiteral("誕生日🎂おめでとう"); // a character Shift-JIS lacks
    box()->setText(text);
    click(*m_p->form1, "Command2");
    click(*m_p->form3, "Command1");
    const QStringList told = m_p->takeMessages();
    QCOMPARE(told.size(), 2);
    QVERIFY(told[0].startsWith(QStringLiteral("伝言板を保存できませんでした。")));
    QVERIFY(told[0].contains(QDir::toNativeSeparators(m_p->path("de.txt"))));
    QVERIFY(told[0].contains(QStringLiteral("🎂"))); // named
    QVERIFY(told[1].startsWith(QStringLiteral("設定を保存できませんでした。")));
    QVERIFY(told[1].contains(QDir::toNativeSeparators(m_p->path("or.txt"))));
    QCOMPARE(box()->plainText(), text);
    QCOMPARE(m_p->read("de.txt"), QByteArray("old\r\n"));
    QVERIFY(QFileInfo(m_p->path("or.txt")).isDir());
    QVERIFY(!m_p->runtime->hasEnded());
    QCOMPARE(m_p->form1->paneTarget(), QString::fromLatin1(LatestVersionPage));
}

// The box never takes more than a save can write and a start read back, and
// never cuts in silence: a key or a paste that would pass the bound is
// refused whole, with a beep and a word.
void TestStartup::typingPastTheBoundIsRefusedAloud()
{
    m_p->start("N");
    RichTextBox *edit = box();
    QSignalSpy refused(edit, &RichTextBox::inputRefused);
    // The bound in Shift-JIS bytes: full-width characters count two.
    edit->setFocus();
    QApplication::clipboard()->setText(QString(FirstLineBound / 2, u'字'));
    edit->paste();
    QCOMPARE(edit->text().size(), FirstLineBound / 2);
    QTest::keyClicks(edit, QStringLiteral("y"));
    QCOMPARE(edit->text().size(), FirstLineBound / 2);
    QTRY_COMPARE(refused.size(), 1);
    click(*m_p->form1, "Command2");
    QCOMPARE(m_p->read("de.txt").size(), FirstLineBound + 2);

    // A paste that does not fit is refused whole, not cut to what fits.
    edit->setText(QStringLiteral("ab"));
    QApplication::clipboard()->setText(QString(FirstLineBound, u'z'));
    edit->paste();
    QCOMPARE(edit->text(), QStringLiteral("ab"));
    QTRY_COMPARE(refused.size(), 2);
}

// A line cut at the bound when read is saved back cut only when the user
// says yes to losing the rest.
void TestStartup::aLineCutWhenReadIsSavedOnlyWhenTheUserSaysSo()
{
    const QByteArray line = QByteArray(100'000, 'a') + "\r\nsecond line\r\n";
    m_p->write("de.txt", line);
    m_p->start("N");
    QCOMPARE(box()->plainText().size(), FirstLineBound);
    click(*m_p->form1, "Command2");
    QStringList asked = m_p->takeMessages();
    QCOMPARE(asked.size(), 1);
    QVERIFY(asked[0].contains(QStringLiteral("65,536")));
    QVERIFY(asked[0].contains(QStringLiteral("34,479"))); // 100,015 bytes less those kept
    QCOMPARE(m_p->read("de.txt"), line);

    m_p->answer = true;
    click(*m_p->form1, "Command2");
    QCOMPARE(m_p->takeMessages().size(), 1);
    QCOMPARE(m_p->read("de.txt"), QByteArray(FirstLineBound, 'a') + "\r\n");
    click(*m_p->form1, "Command2"); // nothing more to lose: not asked again
    QVERIFY(m_p->takeMessages().isEmpty());
}

// What the start found and lives with is said once, with the calendar up;
// without a home folder the calendar runs all the same, saying why saves fail.
void TestStartup::withoutInstallFolderTheCalendarStillRuns()
{
    m_p->platform.folder.clear();
    m_p->platform.warnings = {QStringLiteral("no home"), QStringLiteral("no lock")};
    m_p->start();
    QVERIFY(m_p->form3->isLoaded());
    QVERIFY(m_p->takeMessages().isEmpty()); // not over the splash
    QVERIFY(m_p->handOver());
    QCOMPARE(m_p->takeMessages(),
             (QStringList {QStringLiteral("no home"), QStringLiteral("no lock")}));
    box()->setText(QStringLiteral("hi"));
    click(*m_p->form1, "Command2");
    const QStringList told = m_p->takeMessages();
    QCOMPARE(told.size(), 1);
    QVERIFY(told[0].contains(QStringLiteral("ホームフォルダーが見つかりません")));
    QVERIFY(!QFile::exists(QStringLiteral("de.txt")));
    // The splash of a change of day says nothing again.
    m_p->runtime->invoke([this] {
        m_p->form2->show();
        m_p->form1->unload();
    });
    QVERIFY(m_p->handOver());
    QVERIFY(m_p->takeMessages().isEmpty());
    QVERIFY(!m_p->runtime->hasEnded());
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
