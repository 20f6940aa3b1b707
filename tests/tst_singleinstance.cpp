#include "runtime/platform.h"
#include "runtime/singleinstance.h"

#include <QDir>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <cstdio>
#include <pwd.h>
#include <unistd.h>

using namespace himekuri;

// Copies of this test program play the calendars: "--hold FOLDER..." takes
// the lock as the calendar does at its start, says how it went and holds on
// until killed; "--platform" starts the program's own platform and says what
// it found.
namespace {

constexpr char Hold[] = "--hold";
constexpr char StartPlatform[] = "--platform";

int hold(const QStringList &folders)
{
    SingleInstance instance(QSysInfo::machineHostName());
    for (const QString &folder : folders) {
        if (instance.take(folder))
            break;
    }
    static const char *const names[] = {"alone", "another", "unknown"}; // by State
    std::printf("%s\n", names[int(instance.state())]);
    std::fflush(stdout);
    QThread::sleep(60);
    return 0;
}

int startPlatform()
{
    const SystemPlatform platform;
    std::printf("%s\t%s\t%s\n", platform.anotherCopyRunning() ? "another" : "first",
                qPrintable(platform.installFolder()),
                qPrintable(platform.startupWarnings().join(u' ')));
    return 0;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void exactlyOneOfManyStartedTogetherRuns();
    void leftOverLocksAreTakenOver_data();
    void leftOverLocksAreTakenOver();
    void aFolderThatCannotHoldTheLockPassesTheTurn();
    void sharedRuntimeFoldersAreNotUsed();
    void homeComesFromTheUserDatabaseWithoutHome();

private:
    QStringList startCopies(int count, const QStringList &folders);
    QString lockIn(const QString &folder) const
    {
        return QDir(folder).filePath(QLatin1String(SingleInstance::FileName));
    }
    static QStringList platformSays(const QProcessEnvironment &env);

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_copies;
};

QStringList TestSingleInstance::startCopies(int count, const QStringList &folders)
{
    const std::size_t first = m_copies.size();
    for (int i = 0; i < count; ++i) {
        auto copy = std::make_unique<QProcess>();
        copy->start(QCoreApplication::applicationFilePath(), QStringList {Hold} + folders);
        m_copies.push_back(std::move(copy));
    }
    QStringList answers;
    for (std::size_t i = first; i < m_copies.size(); ++i) {
        QProcess &copy = *m_copies[i];
        while (!copy.canReadLine() && copy.waitForReadyRead(10000)) { }
        answers << QString::fromLatin1(copy.readLine()).trimmed();
    }
    return answers;
}

QStringList TestSingleInstance::platformSays(const QProcessEnvironment &env)
{
    QProcess copy;
    copy.setProcessEnvironment(env);
    copy.start(QCoreApplication::applicationFilePath(), {StartPlatform});
    copy.waitForFinished();
    return QString::fromLocal8Bit(copy.readAllStandardOutput()).trimmed().split(u'\t');
}

void TestSingleInstance::cleanup()
{
    for (auto &copy : m_copies) {
        copy->kill();
        copy->waitForFinished();
    }
    m_copies.clear();
    QDir(m_dir.path()).removeRecursively();
    QDir().mkpath(m_dir.path());
}

void TestSingleInstance::exactlyOneOfManyStartedTogetherRuns()
{
    const QStringList answers = startCopies(8, {m_dir.path()});
    QCOMPARE(answers.count(QStringLiteral("alone")), 1);
    QCOMPARE(answers.count(QStringLiteral("another")), 7);
}

void TestSingleInstance::leftOverLocksAreTakenOver_data()
{
    QTest::addColumn<QByteArray>("content");
    // A live process, but on another machine (a home folder shared over the network).
    const QByteArray livePid = QByteArray::number(QCoreApplication::applicationPid());
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbled") << QByteArray("\x01\x02 not a lock\n");
    QTest::newRow("another host") << livePid + "\nhimekuri\nsome-other-host\n";
    // Above the kernel's highest process id: a copy that was killed.
    QTest::newRow("a dead copy") << "4194305\nhimekuri\n" + QSysInfo::machineHostName().toUtf8()
            + "\n";
}

void TestSingleInstance::leftOverLocksAreTakenOver()
{
    QFETCH(QByteArray, content);
    QFile lock(lockIn(m_dir.path()));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(content);
    lock.close();
    QCOMPARE(startCopies(1, {m_dir.path()}), QStringList {QStringLiteral("alone")});
    // and it is a real lock again
    QCOMPARE(startCopies(1, {m_dir.path()}), QStringList {QStringLiteral("another")});
}

void TestSingleInstance::aFolderThatCannotHoldTheLockPassesTheTurn()
{
    const QString missing = m_dir.filePath(QStringLiteral("missing"));
    const QString blocked = m_dir.filePath(QStringLiteral("blocked"));
    const QString usable = m_dir.filePath(QStringLiteral("usable"));
    QVERIFY(QDir().mkpath(lockIn(blocked))); // a folder where the lock should be
    QVERIFY(QDir().mkpath(usable));

    SingleInstance instance(QSysInfo::machineHostName());
    QVERIFY(!instance.take(missing));
    QVERIFY(!instance.take(blocked));
    QCOMPARE(instance.state(), SingleInstance::State::Unknown);
    QCOMPARE(instance.lockPath(), lockIn(missing)); // the first place tried is named
    QVERIFY(!instance.problem().isEmpty());

    QVERIFY(instance.take(usable));
    QCOMPARE(instance.state(), SingleInstance::State::Alone);
    QCOMPARE(instance.lockPath(), lockIn(usable));
}

// Where another user could put a lock first, the calendar never looks.
void TestSingleInstance::sharedRuntimeFoldersAreNotUsed()
{
    const QString shared = m_dir.filePath(QStringLiteral("shared"));
    const QString home = m_dir.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(shared) && QDir().mkpath(home));
    QVERIFY(QFile::setPermissions(shared, QFileDevice::Permissions(0x7777)));
    QFile planted(lockIn(shared));
    QVERIFY(planted.open(QIODevice::WriteOnly));
    planted.write(QByteArray::number(QCoreApplication::applicationPid()) + "\nhimekuri\n"
                  + QSysInfo::machineHostName().toLatin1() + "\n");
    planted.close();

    QProcessEnvironment env;
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), shared);
    env.insert(QStringLiteral("HOME"), home);
    const QStringList said = platformSays(env);
    QCOMPARE(said.value(0), QStringLiteral("first"));
    QVERIFY(planted.exists()); // neither obeyed nor touched
    QVERIFY(QFileInfo(home + QStringLiteral("/.cache/himekuri")).isDir()); // the lock went there
    QCOMPARE(said.value(1), home + QStringLiteral("/Program Files/Tesrava/"));
    QCOMPARE(said.value(2), QString()); // nothing to warn of
}

void TestSingleInstance::homeComesFromTheUserDatabaseWithoutHome()
{
    const passwd *user = ::getpwuid(::geteuid());
    QVERIFY(user);
    const QString expected = QDir::cleanPath(QFile::decodeName(user->pw_dir));
    for (const char *home : {"", "relative/home"}) {
        QProcessEnvironment env;
        if (*home)
            env.insert(QStringLiteral("HOME"), QLatin1String(home));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        const QStringList said = platformSays(env);
        QCOMPARE(said.value(1),
                 expected == u"/" ? QString()
                                  : expected + QStringLiteral("/Program Files/Tesrava/"));
    }
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.value(1) == QLatin1String(Hold))
        return hold(arguments.mid(2));
    if (arguments.value(1) == QLatin1String(StartPlatform))
        return startPlatform();
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
