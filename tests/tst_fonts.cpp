// Run once for each Japanese face the page may be drawn in, with only that
// face (and DejaVu) in the process's fontconfig: every caption the date
// fields can show is drawn whole, none of its glyphs cut by the box.
#include "testsupport.h"

#include <QPainter>

using namespace himekuri;

namespace {

// Pixels darker than the page: the ink.
int ink(const QImage &image, const QRect &within)
{
    int count = 0;
    for (int y = within.top(); y <= within.bottom(); ++y) {
        for (int x = within.left(); x <= within.right(); ++x)
            count += qGray(image.pixel(x, y)) < 160;
    }
    return count;
}

QStringList numbers(int from, int to, const QString &suffix = {})
{
    QStringList texts;
    for (int n = from; n <= to; ++n)
        texts << QString::number(n).rightJustified(from > 1000 ? 4 : 2, u'0') + suffix;
    return texts;
}

} // namespace

class TestFonts : public test::ProgramTest
{
    Q_OBJECT

private Q_SLOTS:
    void dateFieldsAreDrawnWhole_data();
    void dateFieldsAreDrawnWhole();
};

void TestFonts::dateFieldsAreDrawnWhole_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("day") << "Label5" << numbers(1, 31);
    QTest::newRow("month") << "Label3" << numbers(1, 12);
    QTest::newRow("year") << "Label8" << numbers(2000, 2099, QStringLiteral("年"));
    QTest::newRow("weekday") << "Label2" << QStringList {"日曜日", "月曜日", "火曜日", "水曜日",
                                                         "木曜日", "金曜日", "土曜日"};
}

void TestFonts::dateFieldsAreDrawnWhole()
{
    QFETCH(QString, field);
    QFETCH(QStringList, captions);
    const QString face = qEnvironmentVariable("HIMEKURI_FACE");
    QVERIFY2(!face.isEmpty(), "CTest names the face in HIMEKURI_FACE");
    QVERIFY(m_p->showCalendar());
    auto *label = m_p->form1->control<Label>(qPrintable(field));
    QVERIFY2(QFontInfo(label->font()).family().startsWith(face),
             qPrintable(QFontInfo(label->font()).family()));
    // The IPA faces stand for the design's own: the month keeps the strip of
    // at most 7 pixels the design cuts off at its right.
    const int designedCut = face == u"IPA" && field == u"Label3" ? 7 : 0;
    for (const QString &caption : std::as_const(captions)) {
        label->setCaption(caption);
        QImage shown(label->size() * 3, QImage::Format_RGB32);
        shown.fill(Qt::white);
        label->render(&shown, QPoint(), {}, QWidget::DrawChildren);
        // The same text, as a painter draws it with nothing to cut it.
        QImage whole(shown.size(), QImage::Format_RGB32);
        whole.fill(Qt::white);
        QPainter painter(&whole);
        painter.setFont(label->font());
        painter.setPen(Qt::black);
        painter.drawText(QPointF(0, QFontMetricsF(label->font()).ascent()), caption);
        painter.end();
        const QRect box(QPoint(), label->size());
        const QRect beyond = box.adjusted(0, 0, designedCut, 0);
        QVERIFY2(ink(whole, whole.rect()) == ink(whole, beyond),
                 qPrintable(QStringLiteral("%1 reaches out of its box").arg(caption)));
        QVERIFY2(ink(shown, box) == ink(whole, box),
                 qPrintable(QStringLiteral("%1 is not drawn as a painter draws it").arg(caption)));
    }
}

QTEST_MAIN(TestFonts)
#include "tst_fonts.moc"
