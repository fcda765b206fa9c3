#include "tests/x11/ProgramCopy.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

// The program started a second time on the same archive, as a user double-clicking twice does.
class TestInstanceX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void testSecondStartRaisesTheFirstAndTouchesNothing();
    void testLockOfAKilledProgramIsTakenOver();
    void testStartFromAnotherRuntimeFolderIsRefused();
    void testLeftoversOfAKilledStoreAreRemovedAtStart();

private:
    QProcess* start();
    bool hidden(const QByteArray& window);
    QString path(const QByteArray& name) const { return m_dir->filePath(QString::fromLatin1(name)); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::vector<std::unique_ptr<QProcess>> m_programs;
};

void TestInstanceX11::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(copyProgram(m_dir->path()));
}

void TestInstanceX11::cleanup()
{
    for (auto& program : m_programs) {
        if (program->state() != QProcess::NotRunning) {
            program->kill();
            program->waitForFinished(3000);
        }
    }
    m_programs.clear();
}

QProcess* TestInstanceX11::start()
{
    auto program = std::make_unique<QProcess>();
    program->setWorkingDirectory(m_dir->path());
    program->setProcessChannelMode(QProcess::ForwardedChannels);
    program->start(path("vellumix"), {});
    program->waitForStarted(5000);
    m_programs.push_back(std::move(program));
    return m_programs.back().get();
}

bool TestInstanceX11::hidden(const QByteArray& window)
{
    return runCommand(QStringLiteral("xprop"),
        { QStringLiteral("-id"), QString::fromLatin1(window), QStringLiteral("_NET_WM_STATE") })
        .contains("_NET_WM_STATE_HIDDEN");
}

void TestInstanceX11::testSecondStartRaisesTheFirstAndTouchesNothing()
{
    const QByteArray settings = "[vellumix_main]\nleft=40\ntop=40\n";
    QFile file(path("vellumix.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(settings) == settings.size());
    file.close();
    QProcess* first = start();
    const QByteArray window = waitForWindow(*first);
    QVERIFY(!window.isEmpty());
    runCommand(QStringLiteral("xdotool"),
        { QStringLiteral("windowminimize"), QStringLiteral("--sync"), QString::fromLatin1(window) });
    QTRY_VERIFY_WITH_TIMEOUT(hidden(window), 10000);
    const QDateTime modified = QFileInfo(path("vellumix.ini")).lastModified();

    QProcess* second = start();
    QVERIFY(second->waitForFinished(15000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!hidden(window), 10000);
    QCOMPARE(first->state(), QProcess::Running);
    QFile again(path("vellumix.ini"));
    QVERIFY(again.open(QIODevice::ReadOnly));
    QCOMPARE(again.readAll(), settings);
    QCOMPARE(QFileInfo(path("vellumix.ini")).lastModified(), modified);
    QVERIFY(!QFile::exists(path("vellumix.vma")));
}

void TestInstanceX11::testLockOfAKilledProgramIsTakenOver()
{
    QProcess* first = start();
    QVERIFY(!waitForWindow(*first).isEmpty());
    first->kill();
    QVERIFY(first->waitForFinished(5000));
    QProcess* next = start();
    QVERIFY(!waitForWindow(*next).isEmpty());
    QCOMPARE(next->state(), QProcess::Running);
}

// The first program cannot be reached from another runtime folder (another desktop session, another
// computer on the same home), and the archive is the same one through a linked folder: the second
// start says so and never becomes a second writer.
void TestInstanceX11::testStartFromAnotherRuntimeFolderIsRefused()
{
    QProcess* first = start();
    QVERIFY(!waitForWindow(*first).isEmpty());
    QVERIFY(QFile::link(m_dir->path(), path("linked")));
    QTemporaryDir runtime;
    QVERIFY(QFile::setPermissions(
        runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    auto second = std::make_unique<QProcess>();
    second->setProcessEnvironment(environment);
    second->setWorkingDirectory(m_dir->path());
    second->start(path("linked") + QStringLiteral("/vellumix"), {});
    QVERIFY(second->waitForStarted(5000));
    QProcess* refused = second.get();
    m_programs.push_back(std::move(second));
    QByteArray told;
    QVERIFY(QTest::qWaitFor(
        [&] {
            told += refused->readAllStandardError();
            return told.contains("is in use by another Vellumix");
        },
        30000));
    QVERIFY2(told.contains(QFile::encodeName(path("vellumix.vma"))) || told.contains("linked/vellumix.vma"),
        told.constData());
    // It shows the message, never the main window (whose name is the lower-case one).
    const QList<QByteArray> windows = runCommand(QStringLiteral("xdotool"),
        { QStringLiteral("search"), QStringLiteral("--pid"), QString::number(refused->processId()) })
                                          .split('\n');
    for (const QByteArray& window : windows) {
        if (!window.isEmpty()) {
            QVERIFY(
                runCommand(QStringLiteral("xdotool"), { QStringLiteral("getwindowname"), QString::fromLatin1(window) })
                    .trimmed()
                != "vellumix");
        }
    }
    QCOMPARE(first->state(), QProcess::Running);
}

void TestInstanceX11::testLeftoversOfAKilledStoreAreRemovedAtStart()
{
    auto touch = [this](const QByteArray& name) {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly);
    };
    // Left by a store that a kill ended; a user's file that looks much the same stays.
    QProcess killed;
    killed.start(QStringLiteral("true"), {});
    QVERIFY(killed.waitForStarted(10000));
    const QByteArray gone = QByteArray::number(killed.processId());
    QVERIFY(killed.waitForFinished(10000));
    const QByteArray archiveLeftover = "vellumix.vma.~vellumix-" + gone + "-a1b2c3";
    const QByteArray settingsLeftover = "vellumix.ini.~vellumix-" + gone + "-zz9zz9";
    QVERIFY(touch(archiveLeftover) && touch(settingsLeftover) && touch("vellumix.ini.~backup"));
    QProcess* first = start();
    QVERIFY(!waitForWindow(*first).isEmpty());
    QVERIFY(!QFile::exists(path(archiveLeftover)));
    QVERIFY(!QFile::exists(path(settingsLeftover)));
    QVERIFY(QFile::exists(path("vellumix.ini.~backup")));

    // A store of the running program owns its temporary file; a second start leaves it alone.
    const QByteArray running = "vellumix.vma.~vellumix-" + QByteArray::number(first->processId()) + "-d4e5f6";
    QVERIFY(touch(running));
    QProcess* second = start();
    QVERIFY(second->waitForFinished(15000));
    QVERIFY(QFile::exists(path(running)));
}

QTEST_GUILESS_MAIN(TestInstanceX11)
#include "TestInstanceX11.moc"
