#include "runtime/platform.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <cstdio>

using namespace himekuri;

// Copies of this test program play the running calendars: each takes the
// platform's lock as the calendar does at its start, says whether it came
// first, and holds on until killed.
namespace {

constexpr char ChildArgument[] = "--hold-lock";

int holdLock()
{
    const SystemPlatform platform;
    std::printf("%s\n", platform.anotherCopyRunning() ? "second" : "first");
    std::fflush(stdout);
    QThread::sleep(60);
    return 0;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void exactlyOneOfManyStartedTogetherRuns();
    void killedCopyLeavesNoLockBehind();

private:
    QStringList startCopies(int count);

    QTemporaryDir m_runtimeDir;
    std::vector<std::unique_ptr<QProcess>> m_copies;
};

QStringList TestSingleInstance::startCopies(int count)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir.path());
    const std::size_t first = m_copies.size();
    for (int i = 0; i < count; ++i) {
        auto copy = std::make_unique<QProcess>();
        copy->setProcessEnvironment(env);
        copy->start(QCoreApplication::applicationFilePath(), {QLatin1String(ChildArgument)});
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

void TestSingleInstance::cleanup()
{
    for (auto &copy : m_copies) {
        copy->kill();
        copy->waitForFinished();
    }
    m_copies.clear();
}

void TestSingleInstance::exactlyOneOfManyStartedTogetherRuns()
{
    QFile::setPermissions(m_runtimeDir.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QStringList answers = startCopies(8);
    QCOMPARE(answers.count(QStringLiteral("first")), 1);
    QCOMPARE(answers.count(QStringLiteral("second")), 7);
}

void TestSingleInstance::killedCopyLeavesNoLockBehind()
{
    QCOMPARE(startCopies(1), QStringList {QStringLiteral("first")});
    QCOMPARE(startCopies(1), QStringList {QStringLiteral("second")});
    m_copies[0]->kill(); // SIGKILL: no chance to clean up
    m_copies[0]->waitForFinished();
    QCOMPARE(startCopies(1), QStringList {QStringLiteral("first")});
}

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], ChildArgument) == 0)
        return holdLock();
    QCoreApplication app(argc, argv);
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
