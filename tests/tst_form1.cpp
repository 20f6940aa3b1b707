#include "calendar/form1.h"
#include "runtime/controls.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace himekuri;

class TestForm1 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void windowSitsAtItsPlace();
    void controlBoxes_data();
    void controlBoxes();
    void fonts_data();
    void fonts();
    void stackingOrder();
    void tabOrderAndFirstFocus();
    void menuTimerAndPictures();
    void marking_data();
    void marking();
    void freshLoadStartsFromDesignColours();
    void labelsBreakAndCutLikeThePage();
    void redIsPureRedOnScreen();

private:
    Label *label(const char *name) { return m_form->control<Label>(name); }
    void showAt(const char *iso);

    std::unique_ptr<test::Program> m_program;
    Runtime *m_runtime = nullptr;
    Form1 *m_form = nullptr;
};

void TestForm1::initTestCase()
{
    installFontSubstitutes();
}

void TestForm1::init()
{
    m_program = std::make_unique<test::Program>();
    m_runtime = m_program->runtime.get();
    m_form = m_program->form1;
}

void TestForm1::cleanup()
{
    QVERIFY2(m_program->messages.isEmpty(), qPrintable(m_program->messages.join(u'\n')));
    m_program.reset();
}

void TestForm1::showAt(const char *iso)
{
    m_program->clock.set(iso);
    m_runtime->invoke([this] { m_form->show(); });
}

void TestForm1::windowSitsAtItsPlace()
{
    showAt("2002-11-02T10:00:00");
    QWidget *window = m_form->window();
    QCOMPARE(window->frameGeometry(), QRect(646, 0, 377, 440));
    auto *client = window->findChild<QWidget *>(QStringLiteral("client"));
    QCOMPARE(QRect(client->mapToGlobal(QPoint(0, 0)), client->size()), QRect(649, 3, 371, 434));
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(client->palette().color(QPalette::Window),
             QApplication::palette().color(QPalette::Base));
    QVERIFY(!window->windowIcon().isNull());
    QCOMPARE(window->windowIcon().availableSizes().value(0), QSize(32, 32));
}

void TestForm1::controlBoxes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("box");
    // Pixel boxes as designed (left, top, width, height).
    const QList<std::pair<const char *, QRect>> boxes = {
        {"WebBrowser1", {0, 0, 249, 81}},  {"Command2", {272, 408, 89, 25}},
        {"Command1", {232, 352, 129, 17}}, {"RichTextBox1", {8, 376, 353, 33}},
        {"Label11", {136, 280, 89, 41}},   {"Image3", {136, 408, 124, 26}},
        {"Image2", {8, 408, 124, 26}},     {"Label7", {8, 352, 89, 25}},
        {"Label9", {16, 216, 129, 73}},    {"Label8", {256, 48, 113, 41}},
        {"Image1", {256, 0, 112, 75}},     {"Label6", {312, 184, 57, 73}},
        {"Label2", {8, 296, 129, 57}},     {"Label5", {136, 80, 201, 185}},
        {"Label4", {96, 136, 49, 57}},     {"Label3", {8, 96, 89, 105}},
        {"Label1", {136, 312, 233, 41}},
    };
    for (const auto &[name, box] : boxes)
        QTest::newRow(name) << QString::fromLatin1(name) << box;
}

void TestForm1::controlBoxes()
{
    QFETCH(QString, name);
    QFETCH(QRect, box);
    showAt("2002-11-02T10:00:00");
    auto *control = m_form->window()->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), box);
    QVERIFY(control->isVisible());
}

void TestForm1::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pixels");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");
    QTest::addColumn<bool>("underline");

    QTest::newRow("Command2") << "Command2"
                              << "IPAPGothic" << 15 << true << false << false;
    QTest::newRow("Command1") << "Command1"
                              << "IPAPGothic" << 13 << true << false << false;
    QTest::newRow("RichTextBox1") << "RichTextBox1"
                                  << "IPAPGothic" << 16 << true << false << false;
    QTest::newRow("Label11") << "Label11"
                             << "IPAPGothic" << 27 << true << false << false;
    QTest::newRow("Label7") << "Label7"
                            << "IPAPGothic" << 19 << true << false << false;
    QTest::newRow("Label9") << "Label9"
                            << "IPAGothic" << 29 << false << false << true;
    QTest::newRow("Label8") << "Label8"
                            << "IPAGothic" << 27 << true << true << false;
    QTest::newRow("Label6") << "Label6"
                            << "IPAPGothic" << 64 << false << false << false;
    QTest::newRow("Label2") << "Label2"
                            << "IPAGothic" << 37 << false << false << true;
    QTest::newRow("Label5") << "Label5"
                            << "IPAMincho" << 193 << false << false << false;
    QTest::newRow("Label4") << "Label4"
                            << "IPAGothic" << 48 << false << false << false;
    QTest::newRow("Label3") << "Label3"
                            << "IPAGothic" << 96 << false << false << false;
    QTest::newRow("Label1") << "Label1"
                            << "IPAPGothic" << 27 << true << false << false;
}

void TestForm1::fonts()
{
    QFETCH(QString, name);
    showAt("2002-11-02T10:00:00");
    auto *control = m_form->window()->findChild<QWidget *>(name);
    QVERIFY(control);
    const QFontInfo used(control->font());
    QTEST(used.family(), "family");
    QTEST(used.pixelSize(), "pixels");
    QTEST(used.bold(), "bold");
    QTEST(used.italic(), "italic");
    QTEST(used.underline(), "underline");
    QVERIFY(!used.strikeOut());
}

void TestForm1::stackingOrder()
{
    showAt("2002-11-02T10:00:00");
    auto *client = m_form->window()->findChild<QWidget *>(QStringLiteral("client"));
    QStringList bottomToTop;
    for (QObject *child : client->children()) {
        if (child->isWidgetType() && !child->objectName().isEmpty() && child->objectName() != "MNU")
            bottomToTop << child->objectName();
    }
    const QStringList expected = {"Label1",   "Label3",     "Label4",  "Label5",       "Label2",
                                  "Label6",   "Image1",     "Label8",  "Label9",       "Label7",
                                  "Image2",   "Image3",     "Label11", "RichTextBox1", "Command1",
                                  "Command2", "WebBrowser1"};
    QCOMPARE(bottomToTop, expected);
}

void TestForm1::tabOrderAndFirstFocus()
{
    showAt("2002-11-02T10:00:00");
    QWidget *window = m_form->window();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("RichTextBox1"));
    QStringList visited;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, (QStringList {"Command1", "Command2", "WebBrowser1", "RichTextBox1"}));
    for (auto *button : window->findChildren<QPushButton *>())
        QVERIFY(!button->isDefault());
}

void TestForm1::menuTimerAndPictures()
{
    showAt("2002-11-02T10:00:00");
    QWidget *window = m_form->window();
    auto *menu = window->findChild<QMenu *>(QStringLiteral("MNU"));
    QVERIFY(menu);
    QCOMPARE(menu->title(), QStringLiteral("メニュー"));
    QVERIFY(!menu->menuAction()->isVisible());
    QVERIFY(!menu->isVisible());
    auto action = [&](const char *name) {
        return window->findChild<QAction *>(QLatin1String(name));
    };
    QVERIFY(action("MNU_B")->isChecked());
    QVERIFY(!action("MNU_T")->isChecked());
    QVERIFY(!action("MNU_X")->isChecked());
    QCOMPARE(action("MNU_B")->text(), QStringLiteral("常に最背面に表示"));
    QCOMPARE(action("MNU_T")->text(), QStringLiteral("それ以外"));
    QCOMPARE(action("MNU_X")->text(), QStringLiteral("終わる"));

    auto *timer = window->findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(timer && timer->isActive());
    QCOMPARE(timer->interval(), 1000);

    const QList<std::pair<const char *, QSize>> pictures = {
        {"Image1", {112, 75}}, {"Image2", {124, 26}}, {"Image3", {124, 26}}};
    for (const auto &[name, size] : pictures) {
        auto *picture = window->findChild<Picture *>(QLatin1String(name));
        QCOMPARE(picture->pixmap().size(), size);
        QCOMPARE(picture->size(), size);
    }
    QCOMPARE(window->findChild<QPushButton *>("Command2")->text(), QStringLiteral("書き込む"));
    QCOMPARE(window->findChild<QPushButton *>("Command1")->text(), QStringLiteral("閉じる"));
    QCOMPARE(label("Label7")->caption(), QStringLiteral("伝言板"));
    QCOMPARE(label("Label6")->caption(), QStringLiteral("日"));
    QCOMPARE(label("Label4")->caption(), QStringLiteral("月"));
    QCOMPARE(label("Label4")->foreColor(), OleColor(0));
    QVERIFY(window->findChild<QLineEdit *>("RichTextBox1")->text().isEmpty());
}

void TestForm1::marking_data()
{
    QTest::addColumn<QString>("when");
    QTest::addColumn<QString>("year");
    QTest::addColumn<QString>("month");
    QTest::addColumn<QString>("day");
    QTest::addColumn<QString>("weekday");
    QTest::addColumn<QString>("holiday");
    QTest::addColumn<bool>("dateRed");

    QTest::newRow("holiday on a Sunday") << "2002-11-03T10:00:00"
                                         << "2002年"
                                         << "11"
                                         << "03"
                                         << "日曜日"
                                         << "文化の日" << true;
    QTest::newRow("plain Sunday") << "2002-11-10T23:59:59"
                                  << "2002年"
                                  << "11"
                                  << "10"
                                  << "日曜日"
                                  << "" << true;
    QTest::newRow("plain Saturday") << "2002-11-02T00:00:00"
                                    << "2002年"
                                    << "11"
                                    << "02"
                                    << "土曜日"
                                    << "" << false;
    QTest::newRow("equinox 2004") << "2004-03-20T12:00:00"
                                  << "2004年"
                                  << "03"
                                  << "20"
                                  << "土曜日"
                                  << "春分の日" << true;
    QTest::newRow("21 March 2004") << "2004-03-21T12:00:00"
                                   << "2004年"
                                   << "03"
                                   << "21"
                                   << "日曜日"
                                   << "" << true;
    QTest::newRow("21 March 2006") << "2006-03-21T12:00:00"
                                   << "2006年"
                                   << "03"
                                   << "21"
                                   << "火曜日"
                                   << "" << false;
    QTest::newRow("4 May on a Tuesday") << "2004-05-04T08:00:00"
                                        << "2004年"
                                        << "05"
                                        << "04"
                                        << "火曜日"
                                        << "国民の休日" << true;
    QTest::newRow("13 January 2003") << "2003-01-13T08:00:00"
                                     << "2003年"
                                     << "01"
                                     << "13"
                                     << "月曜日"
                                     << "" << false;
    QTest::newRow("14 October 2003") << "2003-10-14T08:00:00"
                                     << "2003年"
                                     << "10"
                                     << "14"
                                     << "火曜日"
                                     << "体育の日" << true;
    QTest::newRow("christmas eve") << "2002-12-24T08:00:00"
                                   << "2002年"
                                   << "12"
                                   << "24"
                                   << "火曜日"
                                   << "クリスマス・イブ" << true;
    QTest::newRow("new year's eve") << "2002-12-31T23:59:59"
                                    << "2002年"
                                    << "12"
                                    << "31"
                                    << "火曜日"
                                    << "大晦日" << true;
}

void TestForm1::marking()
{
    QFETCH(QString, when);
    QFETCH(QString, holiday);
    QFETCH(bool, dateRed);
    showAt(qPrintable(when));
    QTEST(label("Label8")->caption(), "year");
    QTEST(label("Label3")->caption(), "month");
    QTEST(label("Label5")->caption(), "day");
    QTEST(label("Label2")->caption(), "weekday");
    QCOMPARE(label("Label9")->caption(), holiday);
    const OleColor dateColour = dateRed ? PureRed : systemColor(18);
    for (const char *name : {"Label3", "Label5", "Label2"})
        QCOMPARE(label(name)->foreColor(), dateColour);
    QCOMPARE(label("Label9")->foreColor(), holiday.isEmpty() ? systemColor(18) : PureRed);
    QCOMPARE(label("Label8")->foreColor(), systemColor(18));
    QCOMPARE(label("Label4")->foreColor(), OleColor(0));
    // The clock waits for its first tick.
    QVERIFY(label("Label1")->caption().isEmpty());
    QVERIFY(label("Label11")->caption().isEmpty());
    QCOMPARE(m_form->todayKey(), QString(when.left(10)).remove(u'-'));
}

void TestForm1::freshLoadStartsFromDesignColours()
{
    QWidget *keepAlive = nullptr;
    showAt("2002-11-03T23:59:59");
    QCOMPARE(label("Label5")->foreColor(), PureRed);
    keepAlive = new QWidget; // the program would end with its only window
    Q_UNUSED(keepAlive);
    m_program->clock.set("2002-11-04T00:00:00");
    m_runtime->invoke([this] {
        m_form->unload();
        m_form->show();
    });
    QCOMPARE(label("Label2")->caption(), QStringLiteral("月曜日"));
    QVERIFY(label("Label9")->caption().isEmpty());
    for (const char *name : {"Label3", "Label5", "Label2", "Label9"})
        QCOMPARE(label(name)->foreColor(), systemColor(18));
    QCOMPARE(m_form->todayKey(), QStringLiteral("20021104"));
    delete keepAlive;
}

void TestForm1::labelsBreakAndCutLikeThePage()
{
    showAt("2002-12-24T10:00:00");
    // Four full-width characters fit on a line of the holiday box.
    QCOMPARE(label("Label9")->lines(), (QStringList {"クリスマ", "ス・イブ"}));
    // Two half-width digits wider than the month box stay on one line.
    QCOMPARE(label("Label3")->lines(), QStringList {"12"});
    QVERIFY(QFontMetricsF(label("Label3")->font()).horizontalAdvance("12")
            > label("Label3")->width());
    QCOMPARE(label("Label5")->size(), QSize(201, 185));
    // The widest day fits across its box, as on the designed page.
    QVERIFY(QFontMetricsF(label("Label5")->font()).horizontalAdvance("28")
            <= label("Label5")->width());

    Label *year = label("Label8");
    year->setCaption(QStringLiteral("<b>2002</b>年 <img src=x>"));
    QCOMPARE(year->lines().join(QString()), QStringLiteral("<b>2002</b>年 <img src=x>"));
    QCOMPARE(year->size(), QSize(113, 41));
}

void TestForm1::redIsPureRedOnScreen()
{
    auto countRed = [](const QImage &image, const QRect &box) {
        int red = 0;
        for (int y = box.top(); y <= box.bottom(); ++y) {
            for (int x = box.left(); x <= box.right(); ++x)
                red += image.pixelColor(x, y) == QColor(255, 0, 0);
        }
        return red;
    };
    const QList<QRect> dateBoxes = {
        {8, 96, 89, 105}, {136, 80, 201, 185}, {8, 296, 129, 57}, {16, 216, 129, 73}};

    showAt("2002-11-03T10:00:00");
    auto *client = m_form->window()->findChild<QWidget *>(QStringLiteral("client"));
    QImage sunday = client->grab().toImage();
    for (const QRect &box : dateBoxes)
        QVERIFY2(countRed(sunday, box) > 20, qPrintable(QString::number(box.x())));

    init();
    showAt("2002-11-02T10:00:00");
    client = m_form->window()->findChild<QWidget *>(QStringLiteral("client"));
    const QImage saturday = client->grab().toImage();
    QCOMPARE(countRed(saturday, client->rect()), 0);
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
