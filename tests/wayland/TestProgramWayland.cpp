#include "tests/wayland/WaylandSession.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace WaylandSession;

// The built program in a Wayland session, as a user of one meets it: it picks Xwayland for its
// window by itself and journals what native Wayland programs copy, whichever window has the focus.
class TestProgramWayland : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void testCopiesAreStored_data();
    void testCopiesAreStored();
    // Last: nothing runs in the session after it.
    void testCompositorKilled();

private:
    bool copy(const QByteArray& text);
    QByteArray storedJournal() const;
    QString path(const char* name) const { return m_dir->filePath(QString::fromLatin1(name)); }

    std::unique_ptr<Helper> m_foot;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_program;
    std::vector<std::unique_ptr<Helper>> m_copies;
};

void TestProgramWayland::initTestCase()
{
    m_foot = foot();
    QVERIFY(m_foot);
}

void TestProgramWayland::init()
{
    QVERIFY(clearClipboard());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(copyProgram(m_dir->path()));
    m_program = std::make_unique<QProcess>();
    m_program->setWorkingDirectory(m_dir->path());
    m_program->setProcessChannelMode(QProcess::ForwardedChannels);
    // As started from the session's menu: the platform is the program's own choice.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    m_program->setProcessEnvironment(environment);
    m_program->start(path("vellumix"), {});
    QVERIFY(m_program->waitForStarted(Deadline));
    QVERIFY(!waitForWindow(*m_program).isEmpty());
    QVERIFY(QTest::qWaitFor([this] { return showsWindow(m_program->processId()); }, Deadline));
}

void TestProgramWayland::cleanup()
{
    if (m_program && m_program->state() != QProcess::NotRunning) {
        m_program->kill();
        m_program->waitForFinished(3000);
    }
    m_program.reset();
    m_copies.clear();
}

// Copies with wl-copy and waits until the program has the text on disk.
bool TestProgramWayland::copy(const QByteArray& text)
{
    m_copies.push_back(wlCopy(text));
    return QTest::qWaitFor([&] { return onDisk(m_dir->path(), text); }, Deadline);
}

QByteArray TestProgramWayland::storedJournal() const
{
    return ::storedJournal(m_dir->path());
}

void TestProgramWayland::testCopiesAreStored_data()
{
    QTest::addColumn<bool>("programFocused");
    QTest::newRow("a native window has the focus") << false;
    QTest::newRow("the program's window has the focus") << true;
}

void TestProgramWayland::testCopiesAreStored()
{
    QFETCH(bool, programFocused);
    const qint64 focused = programFocused ? m_program->processId() : m_foot->pid();
    QVERIFY(focus(focused));
    for (const QByteArray& text : { QByteArray("one"), QByteArray("two\nlines"), QByteArray("three") }) {
        QVERIFY2(copy(text), text.constData());
    }
    QCOMPARE(focusedPid(), focused);
    // SIGTERM, as a logout sends it.
    m_program->terminate();
    QVERIFY(m_program->waitForFinished(Deadline));
    QCOMPARE(m_program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_program->exitCode(), 0);
    const QString stamp = QStringLiteral("\\[[^\\]\r\n]+\\]-{17}\r\n");
    const QRegularExpression stored(
        QStringLiteral("^") + stamp + "one\r\n" + stamp + "two\r\nlines\r\n" + stamp + "three\r\n$");
    QVERIFY2(
        stored.match(QString::fromUtf8(storedJournal())).hasMatch(), storedJournal().toPercentEncoding().constData());
}

void TestProgramWayland::testCompositorKilled()
{
    const QByteArray text = "copied before the compositor went";
    QVERIFY(copy(text));
    QVERIFY(killCompositor());
    // Its X server (Xwayland) goes with it, and Qt's X11 platform may end the program (status 1)
    // before the close runs: the session is stored on the way out all the same.
    QVERIFY(m_program->waitForFinished(Deadline));
    QCOMPARE(m_program->exitStatus(), QProcess::NormalExit);
    QVERIFY2(storedJournal().endsWith("]-----------------\r\n" + text + "\r\n"),
        storedJournal().toPercentEncoding().constData());
    QVERIFY(!QFile::exists(path("vellumix.vma.recovery")));
}

QTEST_GUILESS_MAIN(TestProgramWayland)
#include "TestProgramWayland.moc"
