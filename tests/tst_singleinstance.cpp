#include "platform/filesystem.h"
#include "platform/platform.h"
#include "platform/singleinstance.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace himekuri;

// Copies of this test program play the calendars: "--start" makes the
// program's own platform as the calendar does at its start (lock folders
// from the environment), once a byte arrives on stdin, so that many copies
// take the lock at the same moment; it says what it found and its process
// id, and holds on until killed.
namespace {

constexpr char Start[] = "--start";

int start()
{
    char byte = 0;
    if (::read(0, &byte, 1) != 1)
        return 1;
    const SystemPlatform platform;
    std::printf("%s\t%s\t%s\t%lld\n",
                platform.anotherCopyRunning()              ? "another"
                    : platform.startupWarnings().isEmpty() ? "first"
                                                           : "unknown",
                qPrintable(platform.installFolder()),
                qPrintable(platform.startupWarnings().join(u' ').replace(u'\n', u' ')),
                static_cast<long long>(::getpid()));
    std::fflush(stdout);
    ::pause();
    return 0;
}

bool isRoot()
{
    return ::geteuid() == 0;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void exactlyOneOfManyStartedTogetherRuns_data();
    void exactlyOneOfManyStartedTogetherRuns();
    void oneCalendarPerSessionWhateverItsEnvironment();
    void theLockLivesInTheUsersOwnFolders();
    void homeComesFromTheUserDatabaseWithoutHome();

private:
    // The copies' answers ("first", "another", "unknown"), in order of start.
    QStringList startCopies(int count, const QProcessEnvironment &env,
                            const QStringList &wrapper = {});
    QStringList said(int copy) const { return m_said.value(copy); }
    QProcessEnvironment session(const QString &home) const;
    QString lockIn(const QString &folder) const
    {
        return QDir(folder).filePath(QLatin1String(SingleInstance::FileName));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::vector<std::unique_ptr<QProcess>> m_copies;
    QList<QStringList> m_said;
};

void TestSingleInstance::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // Other users (the copies started as nobody) may walk through it.
    QVERIFY(QFile::setPermissions(m_dir->path(), QFileDevice::Permissions(0x7755)));
}

void TestSingleInstance::cleanup()
{
    for (auto &copy : m_copies) {
        copy->kill();
        copy->waitForFinished();
    }
    m_copies.clear();
    m_said.clear();
    m_dir.reset();
}

QProcessEnvironment TestSingleInstance::session(const QString &home) const
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    env.insert(QStringLiteral("HOME"), home);
    return env;
}

QStringList TestSingleInstance::startCopies(int count, const QProcessEnvironment &env,
                                            const QStringList &wrapper)
{
    const std::size_t first = m_copies.size();
    const QStringList command =
        wrapper + QStringList {QCoreApplication::applicationFilePath(), QLatin1String(Start)};
    for (int i = 0; i < count; ++i) {
        auto copy = std::make_unique<QProcess>();
        copy->setProcessEnvironment(env);
        copy->start(command.first(), command.mid(1));
        copy->waitForStarted();
        m_copies.push_back(std::move(copy));
    }
    for (std::size_t i = first; i < m_copies.size(); ++i)
        m_copies[i]->write("g");
    QStringList answers;
    for (std::size_t i = first; i < m_copies.size(); ++i) {
        QProcess &copy = *m_copies[i];
        while (!copy.canReadLine() && copy.waitForReadyRead(20000)) { }
        m_said << QString::fromLocal8Bit(copy.readLine()).trimmed().split(u'\t');
        answers << m_said.last().value(0);
    }
    return answers;
}

// Many copies at once over whatever an earlier copy or another program left
// at the lock's place (made by a shell line, L being the lock): exactly one
// runs; once it is killed, the next start runs at once, with nothing to take
// over.
void TestSingleInstance::exactlyOneOfManyStartedTogetherRuns_data()
{
    QTest::addColumn<int>("copies");
    QTest::addColumn<QString>("leftover");
    const char *leftovers[][2] = {
        {"nothing", ""},
        {"empty", ": >L"},
        {"garbled", "printf '\\001\\002 junk' >L"},
        {"old format", "printf '4194305\\nhimekuri\\nsome-host\\n' >L"}, // earlier versions'
        {"0444 dead lock", "printf '4194305\\nhimekuri\\nvm\\n' >L && chmod 444 L"},
        {"a folder", "mkdir L"},
        {"a FIFO", "mkfifo L"},
        {"a link", "ln -s /dev/zero L"},
        {"another user's", "echo 1 >L && chown 65534 L"},
        // started as nobody, in nobody's folders: a file nobody cannot read
        {"another user's, unreadable",
         "echo 1 >L && chmod 600 L && chown -R 65534 . .. && chown 0 L"},
    };
    int row = 0;
    for (int copies : {10, 30}) {
        for (int run = 1; run <= 20; ++run, ++row) {
            const auto &[name, script] = leftovers[row % std::size(leftovers)];
            QTest::addRow("%d at once over %s, run %d", copies, name, run)
                << copies << QString::fromLatin1(script);
        }
    }
}

void TestSingleInstance::exactlyOneOfManyStartedTogetherRuns()
{
    QFETCH(int, copies);
    QFETCH(QString, leftover);
    if (leftover.contains(u"chown") && !isRoot())
        QSKIP("another user's files take root to make");
    const QString home = m_dir->filePath(QStringLiteral("home"));
    const QString runtime = m_dir->filePath(QStringLiteral("home/runtime"));
    QVERIFY(QDir().mkpath(runtime)
            && QFile::setPermissions(runtime, QFileDevice::Permissions(0x7700)));
    QProcess plant;
    plant.setWorkingDirectory(runtime);
    plant.start(QStringLiteral("sh"),
                {QStringLiteral("-c"),
                 QString(leftover).replace(u'L', QLatin1String(SingleInstance::FileName))});
    QVERIFY(plant.waitForFinished() && plant.exitCode() == 0);
    // root reads every file: the unreadable one is tried by nobody.
    const QStringList wrapper = !leftover.contains(u"chown -R")
        ? QStringList()
        : QStringLiteral("setpriv --reuid=65534 --regid=65534 --clear-groups").split(u' ');
    QProcessEnvironment env = session(home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    const QStringList answers = startCopies(copies, env, wrapper);
    QCOMPARE(answers.count(QStringLiteral("first")), 1);
    QCOMPARE(answers.count(QStringLiteral("another")), copies - 1);

    const auto holder = m_copies.begin() + answers.indexOf(QStringLiteral("first"));
    (*holder)->kill(); // SIGKILL: nothing runs at its end
    (*holder)->waitForFinished();
    QCOMPARE(startCopies(1, env, wrapper), QStringList {QStringLiteral("first")});
}

// A start whose environment lacks XDG_RUNTIME_DIR (a launcher, a service)
// finds the session's runtime folder all the same, and the machine's name
// means nothing to the lock.
void TestSingleInstance::oneCalendarPerSessionWhateverItsEnvironment()
{
    if (!isRoot())
        QSKIP("a session folder of its own (/run/user) takes root to make");
    const QString home = m_dir->filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(home));
    // A private /run for the copies, as systemd-logind makes it for a session.
    const QString uid = QString::number(::geteuid());
    const QStringList privateRun =
        QStringLiteral("unshare -m --propagation private sh -c").split(u' ')
        + QStringList {
            QStringLiteral(
                "mount -t tmpfs -o mode=0755 tmpfs /run && mkdir -p -m 0700 /run/user/%1 "
                "|| exit 1; exec 3<&0; \"$@\" <&3 & XDG_RUNTIME_DIR=/run/user/%1 exec \"$@\"")
                .arg(uid),
            QStringLiteral("sh")};
    QProcessEnvironment env = session(home);
    QProcess both;
    both.setProcessEnvironment(env);
    both.start(privateRun.first(),
               privateRun.mid(1)
                   + QStringList {QCoreApplication::applicationFilePath(), QLatin1String(Start)});
    QVERIFY(both.waitForStarted());
    both.write("gg");
    QStringList answers;
    QList<pid_t> copies;
    while (answers.size() < 2 && both.waitForReadyRead(20000)) {
        while (both.canReadLine()) {
            const QStringList line = QString::fromLocal8Bit(both.readLine()).split(u'\t');
            answers << line.value(0);
            copies << pid_t(line.value(3).toLongLong());
        }
    }
    for (const pid_t copy : copies)
        ::kill(copy, SIGKILL);
    both.kill();
    both.waitForFinished();
    answers.sort();
    QCOMPARE(answers, (QStringList {QStringLiteral("another"), QStringLiteral("first")}));

    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir->path());
    QCOMPARE(startCopies(1, env), QStringList {QStringLiteral("first")});
    const QStringList renamed = QStringLiteral("unshare -u sh -c").split(u' ')
        + QStringList {QStringLiteral("hostname another-name && exec \"$@\""),
                       QStringLiteral("sh")};
    QCOMPARE(startCopies(1, env, renamed), QStringList {QStringLiteral("another")});
}

// The lock lives in the user's own folders: never where another user could
// put one first (a shared runtime folder, here held by another program), and
// where no folder can hold one, the calendar runs all the same and says
// where it tried.
void TestSingleInstance::theLockLivesInTheUsersOwnFolders()
{
    if (QFileInfo::exists(QStringLiteral("/run/user/%1").arg(::geteuid())))
        QSKIP("this machine's session folder would hold the lock");
    const QString shared = m_dir->filePath(QStringLiteral("shared"));
    const QString home = m_dir->filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(shared) && QDir().mkpath(home));
    QVERIFY(QFile::setPermissions(shared, QFileDevice::Permissions(0x7777)));
    QProcess holder;
    holder.start(QStringLiteral("flock"),
                 {lockIn(shared), QStringLiteral("sleep"), QStringLiteral("60")});
    QVERIFY(holder.waitForStarted());
    QProcessEnvironment env = session(home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), shared);
    QCOMPARE(startCopies(1, env), QStringList {QStringLiteral("first")});
    QVERIFY(QFileInfo::exists(home + QStringLiteral("/.cache/himekuri/himekuri.lock")));
    holder.kill();
    holder.waitForFinished();

    // Files where the folders would have to be.
    for (const char *blocked : {"/.cache", "/.local"}) {
        QVERIFY(QDir(home + QLatin1String(blocked)).removeRecursively());
        QFile in(home + QLatin1String(blocked));
        QVERIFY(in.open(QIODevice::WriteOnly));
    }
    QCOMPARE(startCopies(1, env), QStringList {QStringLiteral("unknown")});
    QVERIFY2(said(1).value(2).contains(home + QStringLiteral("/.cache/himekuri/himekuri.lock")),
             qPrintable(said(1).value(2)));
}

// Started without HOME (a service, a bare "env -i") or with a relative one,
// the folders come from the user database, not from where the program runs.
void TestSingleInstance::homeComesFromTheUserDatabaseWithoutHome()
{
    const passwd *user = ::getpwuid(::geteuid());
    QVERIFY(user);
    const QString expected = QDir::cleanPath(QFile::decodeName(user->pw_dir));
    const QByteArray home = qgetenv("HOME");
    for (const char *given : {"", "relative/home"}) {
        qputenv("HOME", given);
        QCOMPARE(os::homeFolder(), expected);
    }
    qputenv("HOME", home);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == QLatin1String(Start))
        return start();
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
