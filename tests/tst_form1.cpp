#include "calendar/form1.h"
#include "calendar/form1layout.h"
#include "calendar/holidays.h"
#include "runtime/controls.h"
#include "runtime/textbreak.h"
#include "testsupport.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

using namespace himekuri;

class TestForm1 : public test::ProgramTest
{
    Q_OBJECT

private Q_SLOTS:
    void windowSitsAtItsPlace();
    void controls();
    void tabOrderAndFirstFocus();
    void marking_data();
    void marking();
    void labelsBreakAndCutLikeThePage();
    void redIsPureRedOnScreen();
    void labelsDrawAsPlainTextWould();
    void clockRepaintsLeaveThePageAsAWholePaintWould();

private:
    Label *label(const char *name) { return m_p->form1->control<Label>(name); }
    QWidget *client() { return m_p->form1->control<QWidget>("client"); }
    void showAt(const char *iso)
    {
        m_p->clock.set(iso);
        m_p->runtime->invoke([this] { m_p->form1->show(); });
    }
};

void TestForm1::windowSitsAtItsPlace()
{
    showAt("2002-11-02T10:00:00");
    QWidget *window = m_p->form1->window();
    QCOMPARE(window->frameGeometry(), QRect(646, 0, 377, 440));
    QCOMPARE(QRect(client()->mapToGlobal(QPoint(0, 0)), client()->size()), QRect(649, 3, 371, 434));
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(client()->palette().color(QPalette::Window),
             QApplication::palette().color(QPalette::Base));
    QVERIFY(!window->windowIcon().isNull());
}

void TestForm1::controls()
{
    showAt("2002-11-02T10:00:00");
    test::checkLayout(client(), "Form1");
}

void TestForm1::tabOrderAndFirstFocus()
{
    showAt("2002-11-02T10:00:00");
    QWidget *window = m_p->form1->window();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("RichTextBox1"));
    QStringList visited;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, (QStringList {"Command1", "Command2", "WebBrowser1", "RichTextBox1"}));
}

void TestForm1::marking_data()
{
    QTest::addColumn<QString>("when");
    QTest::addColumn<QString>("page"); // year, month, day, weekday
    QTest::addColumn<QString>("holiday");
    QTest::addColumn<bool>("dateRed");

    const struct
    {
        const char *tag, *when, *page, *holiday;
        bool dateRed;
    } rows[] = {
        {"holiday on a Sunday", "2002-11-03T10:00:00", "2002年 11 03 日曜日", "文化の日", true},
        {"plain Sunday", "2002-11-10T23:59:59", "2002年 11 10 日曜日", "", true},
        {"plain Saturday", "2002-11-02T00:00:00", "2002年 11 02 土曜日", "", false},
        {"equinox 2004", "2004-03-20T12:00:00", "2004年 03 20 土曜日", "春分の日", true},
        {"21 March 2006", "2006-03-21T12:00:00", "2006年 03 21 火曜日", "", false},
        {"4 May on a Tuesday", "2004-05-04T08:00:00", "2004年 05 04 火曜日", "国民の休日", true},
        {"christmas eve", "2002-12-24T08:00:00", "2002年 12 24 火曜日", "クリスマス・イブ", true},
    };
    for (const auto &row : rows)
        QTest::newRow(row.tag) << QString(row.when) << QString(row.page) << QString(row.holiday)
                               << row.dateRed;
}

void TestForm1::marking()
{
    QFETCH(QString, when);
    QFETCH(QString, holiday);
    QFETCH(bool, dateRed);
    showAt(qPrintable(when));
    QTEST(QStringList({label("Label8")->caption(), label("Label3")->caption(),
                       label("Label5")->caption(), label("Label2")->caption()})
              .join(u' '),
          "page");
    QCOMPARE(label("Label9")->caption(), holiday);
    const OleColor dateColour = dateRed ? PureRed : systemColor(18);
    for (const char *name : {"Label3", "Label5", "Label2"})
        QCOMPARE(label(name)->foreColor(), dateColour);
    QCOMPARE(label("Label9")->foreColor(), holiday.isEmpty() ? systemColor(18) : PureRed);
    QCOMPARE(label("Label8")->foreColor(), systemColor(18));
    QCOMPARE(label("Label4")->foreColor(), OleColor(0));
}

void TestForm1::labelsBreakAndCutLikeThePage()
{
    showAt("2002-12-24T10:00:00");
    // Four full-width characters fit on a line of the holiday box.
    QCOMPARE(label("Label9")->lines(), (QStringList {"クリスマ", "ス・イブ"}));
    label("Label9")->setCaption(QStringLiteral("敬老の日　祝日")); // a space starts no line
    QCOMPARE(label("Label9")->lines().value(1), QStringLiteral("祝日"));
    // Two half-width digits wider than the month box stay on one line.
    QCOMPARE(label("Label3")->lines(), QStringList {"12"});
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
    const QImage sunday = client()->grab().toImage();
    for (const QRect &box : dateBoxes)
        QVERIFY2(countRed(sunday, box) > 20, qPrintable(QString::number(box.x())));

    m_p = std::make_unique<test::Program>();
    showAt("2002-11-02T10:00:00");
    const QImage saturday = client()->grab().toImage();
    QCOMPARE(countRed(saturday, client()->rect()), 0);
}

// Labels keep their shaped text and draw it glyph run by glyph run; every
// pixel is what drawing each line as plain text gives.
void TestForm1::labelsDrawAsPlainTextWould()
{
    showAt("2002-11-02T10:00:00");
    QStringList captions = {QStringLiteral("10時00分05秒A"), QStringLiteral("12時59分48秒P"),
                            QStringLiteral("午前"),          QStringLiteral("午後"),
                            QStringLiteral("2002年"),        QStringLiteral("31"),
                            QStringLiteral("<b>日</b>&amp;")};
    for (int day = 1; day <= 7; ++day)
        captions << weekdayName(day);
    for (const HolidayRow &row : holidayTable())
        captions << QString::fromUtf16(row.name);
    const auto drawn = [](const Label *label, const std::function<void(QPainter &)> &paint) {
        QImage image(label->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QPainter painter(&image);
        paint(painter);
        return image;
    };
    for (Label *label : client()->findChildren<Label *>()) {
        for (const QString &caption : std::as_const(captions)) {
            label->setCaption(caption);
            const QImage shown = drawn(
                label, [label](QPainter &p) { label->render(&p, {}, {}, QWidget::DrawChildren); });
            const QImage plain = drawn(label, [label, &caption](QPainter &p) {
                p.setFont(label->font());
                p.setPen(toQColor(label->foreColor()));
                const QFontMetricsF metrics(label->font());
                qreal top = 0;
                for (const QString &line : breakLabelLines(caption, label->width(), [&](auto &t) {
                         return metrics.horizontalAdvance(t);
                     })) {
                    p.drawText(QPointF(0, top + metrics.ascent()), line);
                    top += metrics.height();
                }
            });
            QVERIFY2(shown == plain, qPrintable(label->objectName() + u' ' + caption));
        }
    }
    // A new font is a new shape.
    Label *clock = label("Label1");
    clock->setCaption(QStringLiteral("10時00分05秒A"));
    const QImage before = clock->grab().toImage();
    QFont font = clock->font();
    font.setPixelSize(font.pixelSize() + 2);
    clock->setFont(font);
    QVERIFY(clock->grab().toImage() != before);
}

// What the screen shows of a label once the pending repaints are done is
// what painting the whole window gives there.
static bool shownAsAWholePaint(const Label *label)
{
    QCoreApplication::processEvents(); // the labels' repaints
    QCoreApplication::processEvents(); // the window's paint
    QWidget *page = label->window();
    const QRect box(label->mapTo(page, QPoint()), label->size());
    const auto pixels = [&box](const QImage &image) {
        return image.copy(box).convertToFormat(QImage::Format_RGB32);
    };
    return pixels(page->screen()->grabWindow(page->winId()).toImage())
        == pixels(page->grab().toImage());
}

// Each second repaints only what changed.
void TestForm1::clockRepaintsLeaveThePageAsAWholePaintWould()
{
    showAt("2002-11-03T11:59:55");
    QWidget *page = m_p->form1->window();
    QVERIFY(QTest::qWaitForWindowExposed(page));
    for (int second = 0; second < 12; ++second) {
        m_p->clock.set(QDateTime::fromString(QStringLiteral("2002-11-03T11:59:56"), Qt::ISODate)
                           .addSecs(second));
        QVERIFY(test::fire(*m_p->form1));
        QVERIFY(shownAsAWholePaint(label("Label1")));
        QVERIFY(shownAsAWholePaint(label("Label11")));
    }
    QCOMPARE(label("Label11")->caption(), QStringLiteral("午後"));

    // Captions that grow and shrink, upright and slanted.
    for (const auto &[name, caption] : {std::pair {"Label7", u"伝言"},
                                        {"Label8", u"12002年"},
                                        {"Label7", u"伝言板です"},
                                        {"Label8", u"9年"}}) {
        label(name)->setCaption(QString::fromUtf16(caption));
        QVERIFY2(shownAsAWholePaint(label(name)), name);
    }
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
