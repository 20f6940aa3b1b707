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
    void linuxLookAlikesBecomeWindowsCharacters_data();
    void linuxLookAlikesBecomeWindowsCharacters();
    void unstorableCharactersAreRefusedNotMangled();
    void truncatedCharacterIsNotDropped();

    void firstLine_data();
    void firstLine();
    void noLineToRead();

    void replaceWritesShiftJisAndCrLf();
    void replaceMakesTheFolder();
    void failedReplaceKeepsTheOldFile();
    void seedingNeverOverwrites();

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

void TestDataFiles::windowsCodePage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("backslash, not yen") << QByteArray("\x5C") << QStringLiteral("\\");
    QTest::newRow("tilde, not overline") << QByteArray("\x7E") << QStringLiteral("~");
    QTest::newRow("wave dash is FF5E") << QByteArray("\x81\x60") << QStringLiteral("\uFF5E");
    QTest::newRow("parallel") << QByteArray("\x81\x61") << QStringLiteral("\u2225");
    QTest::newRow("minus") << QByteArray("\x81\x7C") << QStringLiteral("\uFF0D");
    QTest::newRow("NEC circled one") << QByteArray("\x87\x40") << QStringLiteral("①");
    QTest::newRow("IBM extension kanji") << QByteArray("\xFA\x5C") << QStringLiteral("\u7E8A");
    QTest::newRow("small roman one") << QByteArray("\xFA\x40") << QStringLiteral("\u2170");
    QTest::newRow("trail byte 5C") << QByteArray("\x95\x5C\x8E\xA6") << QStringLiteral("表示");
    QTest::newRow("half-width katakana")
        << QByteArray("\xB6\xC0\xB6\xC5") << QStringLiteral("ｶﾀｶﾅ");
    QTest::newRow("mixed") << QByteArray("\x93\xFA\x82\xDF\x82\xAD\x82\xE8 2002")
                           << QStringLiteral("日めくり 2002");
}

void TestDataFiles::windowsCodePage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeCp932(bytes), text);
    const Cp932Encoded encoded = encodeCp932(text);
    QVERIFY(encoded.ok());
    QCOMPARE(encoded.bytes, bytes);
}

void TestDataFiles::linuxLookAlikesBecomeWindowsCharacters_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("wave dash") << QStringLiteral("1\u301C3")
                               << QByteArray("1\x81\x60"
                                             "3");
    QTest::newRow("double vertical line") << QStringLiteral("\u2016") << QByteArray("\x81\x61");
    QTest::newRow("minus sign") << QStringLiteral("\u2212") << QByteArray("\x81\x7C");
    QTest::newRow("cent") << QStringLiteral("\u00A2") << QByteArray("\x81\x91");
    QTest::newRow("pound") << QStringLiteral("\u00A3") << QByteArray("\x81\x92");
    QTest::newRow("not sign") << QStringLiteral("\u00AC") << QByteArray("\x81\xCA");
}

void TestDataFiles::linuxLookAlikesBecomeWindowsCharacters()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, stored);
    const Cp932Encoded encoded = encodeCp932(typed);
    QVERIFY(encoded.ok());
    QCOMPARE(encoded.bytes, stored);
}

void TestDataFiles::unstorableCharactersAreRefusedNotMangled()
{
    const Cp932Encoded encoded = encodeCp932(QStringLiteral("会議😀は3時€、😀café"));
    QVERIFY(!encoded.ok());
    QVERIFY(encoded.bytes.isEmpty());
    QCOMPARE(encoded.unencodable, QStringLiteral("😀€é"));

    put("de.txt", "old\r\n");
    const WriteResult written = replaceContent(file("de.txt"), QStringLiteral("新しい😀"));
    QVERIFY(!written.ok());
    QCOMPARE(written.unencodable, QStringLiteral("😀"));
    QVERIFY(written.reason.contains(QStringLiteral("😀")));
    QCOMPARE(get("de.txt"), QByteArray("old\r\n"));
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
    QTest::newRow("Y and spaces") << QByteArray("Y  \r\n") << "Y  " << QByteArray("\r\n");
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

void TestDataFiles::replaceMakesTheFolder()
{
    const QString path = m_dir.path() + QStringLiteral("/Program Files/Tesrava/or.txt");
    QVERIFY(replaceContent(path, QStringLiteral("N")).ok());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("N\r\n"));
}

void TestDataFiles::failedReplaceKeepsTheOldFile()
{
    // A file where the folder should be: the folder cannot be made.
    put("blocker", "x");
    const WriteResult noFolder =
        replaceContent(file("blocker") + QStringLiteral("/de.txt"), QStringLiteral("hi"));
    QVERIFY(!noFolder.ok());
    QVERIFY(!noFolder.reason.isEmpty());

    // A folder where the file should be: nothing can replace it.
    QDir().mkpath(file("de.txt"));
    const WriteResult onFolder = replaceContent(file("de.txt"), QStringLiteral("hi"));
    QVERIFY(!onFolder.ok());
    QVERIFY(QFileInfo(file("de.txt")).isDir());

    const QString message = saveFailureMessage(QStringLiteral("伝言板"), file("de.txt"), onFolder);
    QVERIFY(message.startsWith(QStringLiteral("伝言板を保存できませんでした。")));
    QVERIFY(message.contains(QDir::toNativeSeparators(file("de.txt"))));
    QVERIFY(message.contains(onFolder.reason));
}

void TestDataFiles::seedingNeverOverwrites()
{
    const QString path = m_dir.path() + QStringLiteral("/new/or.txt");
    QVERIFY(createIfMissing(path, "U\r\n"));
    QVERIFY(!createIfMissing(path, "X\r\n"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("U\r\n"));
}

QTEST_GUILESS_MAIN(TestDataFiles)
#include "tst_datafiles.moc"
