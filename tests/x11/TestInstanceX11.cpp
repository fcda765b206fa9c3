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
    void testLeftoversOfAKilledStoreAreRemovedAtStart();

private:
    QProcess* start();
    bool hidden(const QByteArray& window);
    QString path(const char* name) const { return m_dir->filePath(QString::fromLatin1(name)); }

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

void TestInstanceX11::testLeftoversOfAKilledStoreAreRemovedAtStart()
{
    auto touch = [this](const char* name) {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly);
    };
    QVERIFY(touch("vellumix.vma.~a1b2c3") && touch("vellumix.ini.~zz9zz9") && touch("vellumix.vma.keep"));
    QProcess* first = start();
    QVERIFY(!waitForWindow(*first).isEmpty());
    QVERIFY(!QFile::exists(path("vellumix.vma.~a1b2c3")));
    QVERIFY(!QFile::exists(path("vellumix.ini.~zz9zz9")));
    QVERIFY(QFile::exists(path("vellumix.vma.keep")));

    // A store of the running program owns its temporary file; a second start leaves it alone.
    QVERIFY(touch("vellumix.vma.~d4e5f6"));
    QProcess* second = start();
    QVERIFY(second->waitForFinished(15000));
    QVERIFY(QFile::exists(path("vellumix.vma.~d4e5f6")));
}

QTEST_GUILESS_MAIN(TestInstanceX11)
#include "TestInstanceX11.moc"
