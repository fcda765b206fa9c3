#include "tests/x11/ProgramCopy.h"
#include "tests/x11/XClip.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace
{
const QByteArray DefaultSettings = "[vellumix_main]\nleft=100\ntop=100\nwidth=720\nheight=480\nlanguagefile=\n"
                                   "vellulook=1\nstayontop=0\nscreensnap=1\ntimestamp=1\nclipsleep=0\n";
} // namespace

// The built program as a user meets it: started, shown, closed by the window
// manager or by a signal, leaving its settings beside itself.
class TestProgramX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void testClosedByWindowManager();
    void testTerminationSignalClosesNormally_data();
    void testTerminationSignalClosesNormally();

    void testJournalSurvivesRestarts();
    void testCopiesWhileRunningAreStored();
    void testKilledWhileStoringLeavesAnArchive();

private:
    bool startProgram();
    bool stopProgram();
    bool copiesReachedProgram(XClip& xclip);
    bool closeWith(const QByteArray& window, const QStringList& input);
    QByteArray settings() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_program;
};

void TestProgramX11::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    const QString copy = m_dir->filePath(QStringLiteral("vellumix"));
    QVERIFY(QFile::copy(QStringLiteral(VELLUMIX_BIN_DIR "/vellumix"), copy));
    QVERIFY(QFile::copy(
        QStringLiteral(VELLUMIX_BIN_DIR "/libZipEngine179.so"), m_dir->filePath(QStringLiteral("libZipEngine179.so"))));
    QVERIFY(startProgram());
}

bool TestProgramX11::startProgram()
{
    m_program = std::make_unique<QProcess>();
    m_program->setWorkingDirectory(m_dir->path());
    m_program->setProcessChannelMode(QProcess::ForwardedChannels);
    m_program->start(m_dir->filePath(QStringLiteral("vellumix")), {});
    return m_program->waitForStarted(30000);
}

bool TestProgramX11::stopProgram()
{
    runCommand(QStringLiteral("kill"), { QStringLiteral("-TERM"), QString::number(m_program->processId()) });
    return m_program->waitForFinished(60000) && m_program->exitCode() == 0;
}

// Copies something that is not a text and waits until the program has asked for it: changes are
// answered in order, so each text copied before is by then on its way into the journal, ahead
// of any signal or key sent afterwards.
bool TestProgramX11::copiesReachedProgram(XClip& xclip)
{
    return xclip.copy("-", QStringLiteral("application/x-vellumix-test")) && xclip.waitServed(1);
}

void TestProgramX11::cleanup()
{
    if (m_program && m_program->state() != QProcess::NotRunning) {
        m_program->kill();
        m_program->waitForFinished(3000);
    }
    m_program.reset();
}

// Activates the window and sends it the input until the program has ended: on a busy desktop
// the first keys may arrive before the window manager has given the window the focus.
bool TestProgramX11::closeWith(const QByteArray& window, const QStringList& input)
{
    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        runCommand(QStringLiteral("xdotool"),
            QStringList { QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(window) }
                + input,
            20000);
        if (m_program->waitForFinished(5000)) {
            return true;
        }
    }
    return false;
}

QByteArray TestProgramX11::settings() const
{
    QFile file(m_dir->filePath(QStringLiteral("vellumix.ini")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

void TestProgramX11::testClosedByWindowManager()
{
    const QByteArray window = waitForWindow(*m_program);
    QVERIFY(!window.isEmpty());
    // Alt+F4 makes openbox ask the window to close, as its close button does.
    QVERIFY(closeWith(window, { QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("alt+F4") }));
    QCOMPARE(m_program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_program->exitCode(), 0);
    // The frame's size is kept from one run to the next, not grown by the decorations.
    QCOMPARE(settings(), DefaultSettings);
}

void TestProgramX11::testTerminationSignalClosesNormally_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << 15;
    QTest::newRow("SIGINT") << 2;
    QTest::newRow("SIGHUP") << 1;
}

void TestProgramX11::testTerminationSignalClosesNormally()
{
    QFETCH(int, signal);
    QVERIFY(!waitForWindow(*m_program).isEmpty());
    runCommand(QStringLiteral("kill"), { QStringLiteral("-%1").arg(signal), QString::number(m_program->processId()) });
    QVERIFY(m_program->waitForFinished(60000));
    QCOMPARE(m_program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_program->exitCode(), 0);
    QCOMPARE(settings(), DefaultSettings);
}

void TestProgramX11::testJournalSurvivesRestarts()
{
    QVERIFY(!waitForWindow(*m_program).isEmpty());
    QVERIFY(stopProgram());
    XClip xclip;
    for (const QByteArray& text :
        { QByteArray("copied before the first run"), QByteArray("copied before the second run") }) {
        QVERIFY(xclip.copy(text));
        QVERIFY(startProgram());
        QVERIFY(!waitForWindow(*m_program).isEmpty());
        QVERIFY(copiesReachedProgram(xclip));
        QVERIFY(stopProgram());
    }
    const QString archive = m_dir->filePath(QStringLiteral("vellumix.vma"));
    const QByteArray journal = runCommand(QStringLiteral("unzip"),
        { QStringLiteral("-P"), QStringLiteral("730582"), QStringLiteral("-p"), archive,
            QStringLiteral("vellumix.clips") });
    const qsizetype first = journal.indexOf("]-----------------\r\ncopied before the first run\r\n");
    const qsizetype second = journal.indexOf("]-----------------\r\ncopied before the second run\r\n");
    QVERIFY2(first >= 0 && second > first, journal.toPercentEncoding().constData());
    QCOMPARE(journal.count("]-----------------\r\n"), 2);
    QVERIFY(journal.endsWith("second run\r\n"));
}

void TestProgramX11::testCopiesWhileRunningAreStored()
{
    const QByteArray window = waitForWindow(*m_program);
    QVERIFY(!window.isEmpty());
    XClip xclip;
    for (const QByteArray& text : { QByteArray("one"), QByteArray("two\nlines"), QByteArray("three") }) {
        QVERIFY(xclip.copy(text));
        QVERIFY(copiesReachedProgram(xclip));
    }
    QVERIFY(stopProgram());
    const QString archive = m_dir->filePath(QStringLiteral("vellumix.vma"));
    auto journal = [&archive] {
        return runCommand(QStringLiteral("unzip"),
            { QStringLiteral("-P"), QStringLiteral("730582"), QStringLiteral("-p"), archive,
                QStringLiteral("vellumix.clips") });
    };
    const QString stamp = QStringLiteral("\\[[^\\]\r\n]+\\]-{17}\r\n");
    const QRegularExpression stored(
        QStringLiteral("^") + stamp + "one\r\n" + stamp + "two\r\nlines\r\n" + stamp + "three\r\n$");
    QVERIFY2(stored.match(QString::fromUtf8(journal())).hasMatch(), journal().toPercentEncoding().constData());
    const QByteArray listing = runCommand(QStringLiteral("7z"), { QStringLiteral("l"), QStringLiteral("-slt"), archive });
    QCOMPARE(listing.count("Encrypted = +"), 2);

    // Again: the text on the clipboard at start and one more copy, closed with Escape in the journal.
    const QByteArray before = journal();
    QVERIFY(xclip.copy("there at start"));
    QVERIFY(startProgram());
    const QByteArray second = waitForWindow(*m_program);
    QVERIFY(!second.isEmpty());
    QVERIFY(xclip.copy("four"));
    QVERIFY(copiesReachedProgram(xclip));
    QVERIFY(closeWith(second,
        { QStringLiteral("mousemove"), QStringLiteral("--window"), QString::fromLatin1(second), QStringLiteral("300"),
            QStringLiteral("200"), QStringLiteral("click"), QStringLiteral("1"), QStringLiteral("key"),
            QStringLiteral("Escape") }));
    QCOMPARE(m_program->exitCode(), 0);
    const QRegularExpression after(QStringLiteral("^") + QRegularExpression::escape(QString::fromUtf8(before)) + stamp
        + "there at start\r\n" + stamp + "four\r\n$");
    QVERIFY2(after.match(QString::fromUtf8(journal())).hasMatch(), journal().toPercentEncoding().constData());
}

void TestProgramX11::testKilledWhileStoringLeavesAnArchive()
{
    QVERIFY(!waitForWindow(*m_program).isEmpty());
    QVERIFY(stopProgram());
    // A large journal, so that a store takes a while and a kill lands inside it.
    QByteArray journal;
    for (int i = 0; journal.size() < 8 * 1024 * 1024; ++i) {
        journal += "[8 Dec 2026-02:40:59]-----------------\r\ncapture " + QByteArray::number(i) + " of a long day\r\n";
    }
    QFile clips(m_dir->filePath(QStringLiteral("vellumix.clips")));
    QVERIFY(clips.open(QIODevice::WriteOnly) && clips.write(journal) == journal.size());
    clips.close();
    const QString archive = m_dir->filePath(QStringLiteral("vellumix.vma"));
    QFile::remove(archive);
    QProcess zip;
    zip.setWorkingDirectory(m_dir->path());
    zip.start(QStringLiteral("zip"),
        { QStringLiteral("-q"), QStringLiteral("-P"), QStringLiteral("730582"), QStringLiteral("vellumix.vma"),
            QStringLiteral("vellumix.clips") });
    QVERIFY(zip.waitForFinished(60000) && zip.exitCode() == 0);
    QFile::remove(clips.fileName());

    for (int round = 0; round < 6; ++round) {
        QVERIFY(startProgram());
        QVERIFY(!waitForWindow(*m_program).isEmpty());
        runCommand(QStringLiteral("kill"), { QStringLiteral("-TERM"), QString::number(m_program->processId()) });
        QTest::qWait(int(QRandomGenerator::global()->bounded(0, 800)));
        m_program->kill();
        m_program->waitForFinished(60000);
        QCOMPARE(m_program->state(), QProcess::NotRunning);
        QProcess check;
        check.start(QStringLiteral("unzip"),
            { QStringLiteral("-tqq"), QStringLiteral("-P"), QStringLiteral("730582"), archive });
        QVERIFY(check.waitForFinished(60000));
        QVERIFY2(check.exitCode() == 0, qPrintable(QStringLiteral("round %1").arg(round)));
        const QByteArray stored = runCommand(QStringLiteral("unzip"),
            { QStringLiteral("-P"), QStringLiteral("730582"), QStringLiteral("-p"), archive,
                QStringLiteral("vellumix.clips") });
        QVERIFY(stored.startsWith(journal));
    }
}

QTEST_GUILESS_MAIN(TestProgramX11)
#include "TestProgramX11.moc"
