#include "platform/cp932.h"
#include "startup/datafiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#ifndef Q_OS_WIN
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    void systemFailuresKeepTheOldFile_data();
    void systemFailuresKeepTheOldFile();
    void savedWholeWhateverTheSystemDoes();
    void savesWriteOnlyTheUsersOwnFiles_data();
    void savesWriteOnlyTheUsersOwnFiles();
    void onlyOurOwnLeftoversAreRemoved();
    void earlierFilesMoveWholeOrNotAtAll_data();
    void earlierFilesMoveWholeOrNotAtAll();

private:
    static bool faultsLoaded()
    {
#ifdef Q_OS_WIN
        return false;
#else
        return dlsym(RTLD_DEFAULT, "himekuri_faults_loaded");
#endif
    }
    QString file(const char *name) const
    {
        return m_dir.path() + u'/' + QLatin1String(name);
    }
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
    // Shown as the replacement character, not silently dropped.
    QCOMPARE(decodeCp932(QByteArray("ab\x93")), QStringLiteral("ab\uFFFD"));
}

void TestDataFiles::firstLine_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("lineEnd");

    QTest::newRow("later lines ignored")
        << QByteArray("one\r\ntwo\r\n") << "one" << QByteArray("\r\n");
    QTest::newRow("lone CR ends a line") << QByteArray("one\rtwo") << "one" << QByteArray("\r");
    QTest::newRow("lone LF does not") << QByteArray("one\ntwo\n") << "one\ntwo\n" << QByteArray();
    QTest::newRow("no line end at all") << QByteArray("N") << "N" << QByteArray();
    QTest::newRow("only a line end") << QByteArray("\r\n") << "" << QByteArray("\r\n");
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
    QCOMPARE(read.bytesLeftUnread, huge.size() + 2 - (1 + (FirstLineBound - 1) / 2 * 2));

    // Written back, it reads the same; one byte more could not be read back.
    QVERIFY(replaceContent(file("de.txt"), *read.line, read.lineEnd).ok());
    QCOMPARE(*readFirstLine(file("de.txt")).line, *read.line);
    const WriteResult tooLong = replaceContent(file("de.txt"), QString(FirstLineBound + 1, u'x'));
    QVERIFY(!tooLong.ok());
    QCOMPARE(*readFirstLine(file("de.txt")).line, *read.line);

    // A short first line of a big file is all that is read.
    put("or.txt", "N\r\n" + QByteArray(20'000'000, 'z'));
    QCOMPARE(*readFirstLine(file("or.txt")).line, QStringLiteral("N"));
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

    // A folder that cannot be made (a file in its place) is named.
    put("blocked", "a file");
    const WriteResult blocked = replaceContent(file("blocked/de.txt"), QStringLiteral("x"));
    QVERIFY2(blocked.reason.contains(QDir::toNativeSeparators(file("blocked"))),
             qPrintable(blocked.reason));
}

// The real save against the real system calls failing (the LD_PRELOAD shim
// tests/shims/faults.cpp, which CTest loads for this test): the old bytes
// stay, no temporary file is left, and the user reads the system's words.
void TestDataFiles::systemFailuresKeepTheOldFile_data()
{
    QTest::addColumn<QByteArray>("faults");
    QTest::addColumn<QString>("reason"); // what the system says, in its own words
#ifdef Q_OS_WIN
    QTest::newRow("the shim is Linux's") << QByteArray() << QString();
#else
    const QString full = QStringLiteral("ディスクの空き容量が足りません（%1）");
    QTest::newRow("no space at write")
        << QByteArray("write=ENOSPC") << full.arg(qt_error_string(ENOSPC));
    QTest::newRow("quota at write")
        << QByteArray("write=EDQUOT") << full.arg(qt_error_string(EDQUOT));
    QTest::newRow("EIO at write") << QByteArray("write=EIO") << qt_error_string(EIO);
    QTest::newRow("EIO at fsync") << QByteArray("fsync=EIO") << qt_error_string(EIO);
    QTest::newRow("no space at fsync")
        << QByteArray("fsync=ENOSPC") << full.arg(qt_error_string(ENOSPC));
    QTest::newRow("EIO at close") << QByteArray("close=EIO") << qt_error_string(EIO);
    QTest::newRow("EXDEV at rename") << QByteArray("rename=EXDEV") << qt_error_string(EXDEV);
    QTest::newRow("EIO at rename") << QByteArray("rename=EIO") << qt_error_string(EIO);
    QTest::newRow("EMFILE at open") << QByteArray("open=EMFILE") << qt_error_string(EMFILE);
#endif
}

void TestDataFiles::systemFailuresKeepTheOldFile()
{
    if (!faultsLoaded())
        QSKIP("needs the fault shim (LD_PRELOAD), as CTest runs it");
    QFETCH(QByteArray, faults);
    put("de.txt", "old line\r\n");
    qputenv("HIMEKURI_FAULTS", faults);
    const WriteResult written = replaceContent(file("de.txt"), QString(5000, u'新'));
    qunsetenv("HIMEKURI_FAULTS");
    QTEST(written.reason, "reason");
    QCOMPARE(get("de.txt"), QByteArray("old line\r\n"));
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"de.txt"});
}

// Saved, but the rename may not outlive a power cut: said, not hidden.
// Writes cut short and interrupted still give the whole file.
void TestDataFiles::savedWholeWhateverTheSystemDoes()
{
    if (!faultsLoaded())
        QSKIP("needs the fault shim (LD_PRELOAD), as CTest runs it");
    const QString text = QStringLiteral("明日は① ～ \\100 ") + QString(3000, u'x');
    qputenv("HIMEKURI_FAULTS", "short");
    QVERIFY(replaceContent(file("de.txt"), text).ok());
    QVERIFY(createIfMissing(file("or.txt"), QByteArray(1000, 'U')));
    qputenv("HIMEKURI_FAULTS", "dirsync=EIO");
    const WriteResult synced = replaceContent(file("lf.txt"), QStringLiteral("x"));
    qunsetenv("HIMEKURI_FAULTS");
    QCOMPARE(get("de.txt"), encodeCp932(text).bytes + CrLf);
    QCOMPARE(get("or.txt"), QByteArray(1000, 'U'));
    QVERIFY(synced.ok());
    QVERIFY(synced.warning.contains(QDir::toNativeSeparators(m_dir.path())));
    QVERIFY(synced.warning.contains(qt_error_string(EIO)));
    QCOMPARE(get("lf.txt"), QByteArray("x\r\n"));
}

// What a save writes through: only the user's own link, only to the user's
// own regular file; nothing is written otherwise and the reason is given.
// Each row makes de.txt with a shell line beside "mine" (the user's notes),
// "theirs" (another user's), a FIFO and a folder.
void TestDataFiles::savesWriteOnlyTheUsersOwnFiles_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<bool>("saved");
    QTest::newRow("own link to own file") << "ln -s mine de.txt" << true;
    QTest::newRow("own link to own link") << "ln -s mine link && ln -s link de.txt" << true;
    QTest::newRow("own link to a FIFO") << "ln -s fifo de.txt" << false;
    QTest::newRow("own link to /dev/null") << "ln -s /dev/null de.txt" << false;
    QTest::newRow("own link to nothing") << "ln -s missing de.txt" << false;
    QTest::newRow("own link to a folder") << "ln -s folder de.txt" << false;
    QTest::newRow("own link to another's file") << "ln -s theirs de.txt" << false;
    QTest::newRow("another's link to own file")
        << "ln -s mine de.txt && chown -h 65534 de.txt" << false;
    QTest::newRow("another's file") << "cp theirs de.txt && chown 65534 de.txt" << false;
}

void TestDataFiles::savesWriteOnlyTheUsersOwnFiles()
{
#ifdef Q_OS_WIN
    QSKIP("links and owners are tried on Linux");
#else
    QFETCH(QString, planted);
    if (::geteuid() != 0 && planted.contains(u"theirs"))
        QSKIP("making another user's file takes root");
    QProcess shell;
    shell.setWorkingDirectory(m_dir.path());
    shell.start(QStringLiteral("sh"),
                {QStringLiteral("-c"),
                 "printf 'notes\\r\\n' >mine && printf 'their notes\\r\\n' >theirs && "
                 "{ chown 65534 theirs 2>/dev/null; mkfifo fifo && mkdir folder; } && "
                     + planted});
    QVERIFY(shell.waitForFinished() && shell.exitCode() == 0);
    const WriteResult written = replaceContent(file("de.txt"), QStringLiteral("new"));
    QTEST(written.ok(), "saved");
    QVERIFY2(written.ok() || !written.reason.isEmpty(), "refused without a word");
    QCOMPARE(get("mine"), written.ok() ? QByteArray("new\r\n") : QByteArray("notes\r\n"));
    QCOMPARE(get("theirs"), QByteArray("their notes\r\n"));
    QVERIFY(!QFileInfo(file("fifo")).isFile() && !QFileInfo(QStringLiteral("/dev/null")).isFile());
    QCOMPARE(QFileInfo(file("de.txt")).isSymLink(), planted.startsWith(u"ln")); // a link stays one
#endif
}

// A start removes what a save cut short left behind, and nothing that only
// looks like it: the near-misses are what users name their own copies.
void TestDataFiles::onlyOurOwnLeftoversAreRemoved()
{
    const QStringList leftovers =
        QStringLiteral(".de.txt.himekuri-Ab12Cd .or.txt.himekuri-zzzzzz .dntl.gif.himekuri-Q1w2E3")
            .split(u' ');
    const QStringList users =
        QStringLiteral(
            "de.txt.backup or.txt.backup de.txt.201805 de.txt.copy01 de.txt.Ab12Cd "
            "de.txt.bak de.txt.himekuri-Ab12Cd .de.txt.himekuri-Ab12C "
            ".de.txt.himekuri-Ab12Cd7 .de.txt.himekuri-Ab1_Cd .notes.txt.himekuri-Ab12Cd de.txt")
            .split(u' ');
    for (const QString &name : leftovers)
        put(qPrintable(name), "cut short");
    for (const QString &name : users)
        put(qPrintable(name), "mine");
    // Our name, but not our file: a folder, a link to the user's file, another user's.
    QVERIFY(QDir().mkpath(file(".de.txt.himekuri-Dir123")));
#ifndef Q_OS_WIN
    QVERIFY(QFile::link(file("de.txt"), file(".or.txt.himekuri-Lnk123")));
    const bool theirs = ::geteuid() == 0;
    if (theirs) {
        put(".de.txt.himekuri-Other1", "theirs");
        QVERIFY(::chown(QFile::encodeName(file(".de.txt.himekuri-Other1")), 65534, 65534) == 0);
    }
#endif
    removeLeftoverSaves(DataPaths {m_dir.path() + u'/'});
    for (const QString &name : leftovers)
        QVERIFY2(!QFileInfo::exists(file(qPrintable(name))), qPrintable(name));
    for (const QString &name : users)
        QCOMPARE(get(qPrintable(name)), QByteArray("mine"));
    QVERIFY(QFileInfo(file(".de.txt.himekuri-Dir123")).isDir());
#ifndef Q_OS_WIN
    QVERIFY(QFileInfo(file(".or.txt.himekuri-Lnk123")).isSymLink());
    QVERIFY(!theirs || QFileInfo::exists(file(".de.txt.himekuri-Other1")));
#endif
}

// The files an earlier version kept move to the new folder byte for byte,
// or stay where they were, used from there, with one word why; never fewer
// than one whole copy.
void TestDataFiles::earlierFilesMoveWholeOrNotAtAll_data()
{
    QTest::addColumn<QByteArray>("faults"); // for the fault shim
    QTest::addColumn<bool>("moved");
    QTest::newRow("moved") << QByteArray() << true;
    QTest::newRow("no space for the copies") << QByteArray("write=ENOSPC") << false;
    QTest::newRow("copies not synced") << QByteArray("fsync=EIO") << false;
    QTest::newRow("new folder not synced: moved, old kept") << QByteArray("dirsync=EIO") << true;
}

void TestDataFiles::earlierFilesMoveWholeOrNotAtAll()
{
    QFETCH(QByteArray, faults);
    QFETCH(bool, moved);
    if (!faults.isEmpty() && !faultsLoaded())
        QSKIP("needs the fault shim (LD_PRELOAD), as CTest runs it");
    const QString old = file("home/Program Files/Tesrava/");
    const QString data = file("home/.local/share/himekuri/");
    const QByteArray line("\x96\xBE\x93\xFA\x82\xCD\x87\x40\r\nsecond\r\n");
    QVERIFY(QDir().mkpath(old));
    put("home/Program Files/Tesrava/de.txt", line);
    put("home/Program Files/Tesrava/or.txt", "Y\r\n");
    qputenv("HIMEKURI_FAULTS", faults);
    const FolderChoice choice = settleDataFolder(old, data);
    qunsetenv("HIMEKURI_FAULTS");
    QCOMPARE(choice.folder, moved ? data : old);
    QCOMPARE(get("home/.local/share/himekuri/de.txt"), moved ? line : QByteArray("<missing>"));
    QCOMPARE(get("home/.local/share/himekuri/or.txt"),
             moved ? QByteArray("Y\r\n") : QByteArray("<missing>"));
    QVERIFY(!QFileInfo::exists(file("home/.local/share/himekuri/dntl.gif")));
    // The old copies go only once the new ones are surely on the disk.
    const bool oldGone = moved && !faults.contains("dirsync");
    QCOMPARE(get("home/Program Files/Tesrava/de.txt"), oldGone ? QByteArray("<missing>") : line);
    QCOMPARE(QFileInfo::exists(file("home/Program Files")), !oldGone);
    QCOMPARE(choice.warning.isEmpty(), moved);
    QVERIFY(!moved
            || QDir(file("home/.local/share"))
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                == QStringList {"himekuri"});

    // Once the new folder is there it wins, and the old one is left alone.
    QVERIFY(QDir().mkpath(data) && QDir().mkpath(old));
    put("home/Program Files/Tesrava/de.txt", "older\r\n");
    QCOMPARE(settleDataFolder(old, data).folder, data);
    QCOMPARE(get("home/Program Files/Tesrava/de.txt"), QByteArray("older\r\n"));
}

QTEST_GUILESS_MAIN(TestDataFiles)
#include "tst_datafiles.moc"
