#include "startup/cp932.h"
#include "startup/datafiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace himekuri;

class TestDataFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void windowsCodePage_data();
    void windowsCodePage();
    void everyCharacterOfTheCodePage();
    void unstorableCharactersAreRefusedNotMangled();
    void truncatedCharacterIsNotDropped();

    void firstLine_data();
    void firstLine();
    void noLineToRead();

    void longLinesAreReadUpToTheBound();

    void replaceWritesShiftJisAndCrLf();
    void failedStepKeepsTheOldFile_data();
    void failedStepKeepsTheOldFile();

private:
    QString file(const char *name) const { return m_dir.path() + u'/' + QLatin1String(name); }
    void put(const char *name, const QByteArray &bytes)
    {
        QFile f(file(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray get(const char *name)
    {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir m_dir;
};

void TestDataFiles::init()
{
    QVERIFY(m_dir.isValid());
    QDir(m_dir.path()).removeRecursively();
    QDir().mkpath(m_dir.path());
}

// What Linux input methods type is stored as the character Windows has for it.
void TestDataFiles::windowsCodePage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    const char *rows[][3] = {
        {"wave dash", "1\u301C3", "1\x81\x60\x33"},
        {"double vertical line", "\u2016", "\x81\x61"},
        {"minus sign", "\u2212", "\x81\x7C"},
        {"cent", "\u00A2", "\x81\x91"},
        {"pound", "\u00A3", "\x81\x92"},
        {"not sign", "\u00AC", "\x81\xCA"},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString(row[1]) << QByteArray(row[2]);
}

void TestDataFiles::windowsCodePage()
{
    QFETCH(QString, text);
    const Cp932Encoded encoded = encodeCp932(text);
    QVERIFY(encoded.ok());
    QTEST(encoded.bytes, "bytes");
}

// Decoded and written back as Windows does it, duplicates included.
void TestDataFiles::everyCharacterOfTheCodePage()
{
    QFile vectors(QStringLiteral(":/cp932-vectors.txt"));
    QVERIFY(vectors.open(QIODevice::ReadOnly));
    int checked = 0;
    while (!vectors.atEnd()) {
        const QByteArray line = vectors.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split(' ');
        const QByteArray bytes = QByteArray::fromHex(fields[0]);
        const QString character(QChar(char16_t(fields[1].toUShort(nullptr, 16))));
        QVERIFY2(decodeCp932(bytes) == character, line.constData());
        QVERIFY2(encodeCp932(character).bytes == QByteArray::fromHex(fields[2]), line.constData());
        ++checked;
    }
    QCOMPARE(checked, 9762);
}

void TestDataFiles::unstorableCharactersAreRefusedNotMangled()
{
    const Cp932Encoded encoded = encodeCp932(QStringLiteral("会議😀は3時€、😀café"));
    QVERIFY(!encoded.ok());
    QVERIFY(encoded.bytes.isEmpty());
    QCOMPARE(encoded.unencodable, QStringLiteral("😀€é"));
}

void TestDataFiles::truncatedCharacterIsNotDropped()
{
    const QString text = decodeCp932(QByteArray("ab\x93"));
    QVERIFY(text.startsWith(QStringLiteral("ab")));
    QCOMPARE(text.size(), 3);
}

void TestDataFiles::firstLine_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("lineEnd");

    QTest::newRow("CR LF") << QByteArray("Y\r\n") << "Y" << QByteArray("\r\n");
    QTest::newRow("later lines ignored")
        << QByteArray("one\r\ntwo\r\n") << "one" << QByteArray("\r\n");
    QTest::newRow("lone CR ends a line") << QByteArray("one\rtwo") << "one" << QByteArray("\r");
    QTest::newRow("lone LF does not") << QByteArray("one\ntwo\n") << "one\ntwo\n" << QByteArray();
    QTest::newRow("no line end at all") << QByteArray("N") << "N" << QByteArray();
    QTest::newRow("only a line end") << QByteArray("\r\n") << "" << QByteArray("\r\n");
    QTest::newRow("Shift-JIS") << QByteArray("\x93\xFA\x95\x74\r\n") << "日付"
                               << QByteArray("\r\n");
}

void TestDataFiles::firstLine()
{
    QFETCH(QByteArray, content);
    put("or.txt", content);
    const ReadResult read = readFirstLine(file("or.txt"));
    QVERIFY(read.line);
    QTEST(*read.line, "line");
    QTEST(read.lineEnd, "lineEnd");
}

void TestDataFiles::noLineToRead()
{
    QVERIFY(!readFirstLine(file("missing.txt")).line);
    put("empty.txt", {});
    const ReadResult empty = readFirstLine(file("empty.txt"));
    QVERIFY(!empty.line);
    QVERIFY(!empty.reason.isEmpty());
    QVERIFY(!readFirstLine(m_dir.path()).line); // a folder
    // No install folder: nothing is read or written where the program runs.
    QVERIFY(!readFirstLine(QString()).line);
    QVERIFY(!readFirstLine(QStringLiteral("or.txt")).line);
    QVERIFY(!replaceContent(QString(), QStringLiteral("hi")).ok());
    QVERIFY(!replaceContent(QStringLiteral("de.txt"), QStringLiteral("hi")).ok());
    QVERIFY(!createIfMissing(QStringLiteral("or.txt"), "U\r\n"));
    QVERIFY(!QFile::exists(QStringLiteral("de.txt")) && !QFile::exists(QStringLiteral("or.txt")));
}

void TestDataFiles::longLinesAreReadUpToTheBound()
{
    // 50 MB on one line, its two-byte characters straddling the bound.
    QByteArray huge = "x" + QByteArray("\x93\xFA").repeated(25'000'000);
    huge.resize(50'000'000);
    put("de.txt", huge + "\r\n");
    const ReadResult read = readFirstLine(file("de.txt"));
    QVERIFY(read.line);
    QCOMPARE(read.line->size(), 1 + (FirstLineBound - 1) / 2); // whole characters only
    QVERIFY(!read.line->contains(QChar::ReplacementCharacter));
    QCOMPARE(read.lineEnd, QByteArray(CrLf)); // the file goes on: saved back as a line

    // Written back, it reads the same; one byte more could not be read back.
    QVERIFY(replaceContent(file("de.txt"), *read.line, read.lineEnd).ok());
    QCOMPARE(*readFirstLine(file("de.txt")).line, *read.line);
    const WriteResult tooLong = replaceContent(file("de.txt"), QString(FirstLineBound + 1, u'x'));
    QVERIFY(!tooLong.ok());
    QCOMPARE(*readFirstLine(file("de.txt")).line, *read.line);

    // A short first line of a big file is all that is read; so is the start
    // of a line that never ends (a terabyte, sparse: reading it whole would
    // never finish).
    put("or.txt", "N\r\n" + QByteArray(20'000'000, 'z'));
    QCOMPARE(*readFirstLine(file("or.txt")).line, QStringLiteral("N"));
    QFile endless(file("endless.txt"));
    QVERIFY(endless.open(QIODevice::WriteOnly) && endless.resize(qint64(1) << 40));
    endless.close();
    QCOMPARE(readFirstLine(endless.fileName()).line->size(), FirstLineBound);
}

void TestDataFiles::replaceWritesShiftJisAndCrLf()
{
    put("de.txt", "a much longer old message\r\nsecond\r\n");
    QVERIFY(replaceContent(file("de.txt"), QStringLiteral("明日は① ～ \\100")).ok());
    QCOMPARE(get("de.txt"), QByteArray("\x96\xBE\x93\xFA\x82\xCD\x87\x40 \x81\x60 \\100\r\n"));

    QVERIFY(replaceContent(file("de.txt"), QStringLiteral("two\r\nlines")).ok());
    QCOMPARE(get("de.txt"), QByteArray("two\r\nlines\r\n"));
    QCOMPARE(*readFirstLine(file("de.txt")).line, QStringLiteral("two"));

    // Read without a line end, written back the same.
    put("lf.txt", "first\nsecond\n");
    const ReadResult read = readFirstLine(file("lf.txt"));
    QVERIFY(replaceContent(file("lf.txt"), *read.line, read.lineEnd).ok());
    QCOMPARE(get("lf.txt"), QByteArray("first\nsecond\n"));

    const QStringList left = QDir(m_dir.path()).entryList(QDir::Files);
    QCOMPARE(left, (QStringList {"de.txt", "lf.txt"})); // no temporary files behind
}

namespace {

// The real replacer, with one of its steps failing as a full disk makes it fail.
class FailingReplacer final : public FileReplacer
{
public:
    enum Step { Open, Write, Flush, Commit };
    explicit FailingReplacer(Step step)
        : m_step(step)
    { }

    bool open(const QString &path) override { return m_step != Open && m_real->open(path); }
    qint64 write(const QByteArray &bytes) override
    {
        return m_real->write(m_step == Write ? bytes.left(bytes.size() / 2) : bytes);
    }
    bool flush() override { return m_real->flush() && m_step != Flush; }
    bool commit() override { return m_step != Commit && m_real->commit(); }
    void cancel() override { m_real->cancel(); }
    QString failure() const override { return QStringLiteral("injected"); }

private:
    Step m_step;
    std::unique_ptr<FileReplacer> m_real = makeFileReplacer();
};

} // namespace

void TestDataFiles::failedStepKeepsTheOldFile_data()
{
    QTest::addColumn<int>("step");
    QTest::newRow("open") << int(FailingReplacer::Open);
    QTest::newRow("short write") << int(FailingReplacer::Write);
    QTest::newRow("flush") << int(FailingReplacer::Flush);
    QTest::newRow("commit") << int(FailingReplacer::Commit);
}

void TestDataFiles::failedStepKeepsTheOldFile()
{
    QFETCH(int, step);
    put("de.txt", "old line\r\n");
    FailingReplacer replacer {FailingReplacer::Step(step)};
    const WriteResult written =
        replaceContent(file("de.txt"), QString(5000, u'新'), CrLf, &replacer);
    QCOMPARE(written.reason, QStringLiteral("injected"));
    QCOMPARE(get("de.txt"), QByteArray("old line\r\n"));
    // The temporary file went with the failure, not later.
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"de.txt"});
}

QTEST_GUILESS_MAIN(TestDataFiles)
#include "tst_datafiles.moc"
