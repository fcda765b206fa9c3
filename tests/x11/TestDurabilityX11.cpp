#include "tests/x11/ProgramCopy.h"
#include "tests/x11/XClip.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

// The program killed at any moment, as an out-of-memory kill or a power cut would end it: every
// capture that reached the disk comes back once, and the archive always stays readable.
class TestDurabilityX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testKillsAtRandomMomentsLoseNothing();

private:
    bool start();
    bool onDisk(const QByteArray& text) const;
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_program;
};

bool TestDurabilityX11::start()
{
    m_program = std::make_unique<QProcess>();
    m_program->setWorkingDirectory(m_dir.path());
    m_program->setProcessChannelMode(QProcess::ForwardedChannels);
    m_program->start(path("vellumix"), {});
    if (!m_program->waitForStarted(5000)) {
        return false;
    }
    return !waitForWindow(*m_program).isEmpty();
}

// In the recovery file (UTF-16) or in the archive.
bool TestDurabilityX11::onDisk(const QByteArray& text) const
{
    return inRecoveryFile(m_dir.path(), text);
}

void TestDurabilityX11::testKillsAtRandomMomentsLoseNothing()
{
    QVERIFY(copyProgram(m_dir.path()));
    QList<QByteArray> copied;
    for (int round = 0; round < 8; ++round) {
        QVERIFY(start());
        {
            XClip xclip;
            for (int i = 0; i < 3; ++i) {
                const QByteArray text = "capture " + QByteArray::number(round) + "." + QByteArray::number(i);
                QVERIFY(xclip.copy(text));
                QVERIFY2(QTest::qWaitFor([&] { return onDisk(text); }, 20000), text.constData());
                copied << text;
            }
            // Half the rounds end in the middle of the store that a close begins.
            if (round % 2 == 1) {
                runCommand(
                    QStringLiteral("kill"), { QStringLiteral("-TERM"), QString::number(m_program->processId()) });
            }
            QTest::qWait(int(QRandomGenerator::global()->bounded(0, 300)));
            m_program->kill();
            m_program->waitForFinished(15000);
            QCOMPARE(m_program->state(), QProcess::NotRunning);
        } // no clipboard owner is left, so the next start finds nothing to capture
        if (QFile::exists(path("vellumix.vma"))) {
            QProcess check;
            check.start(QStringLiteral("unzip"),
                { QStringLiteral("-tqq"), QStringLiteral("-P"), QStringLiteral("730582"), path("vellumix.vma") });
            QVERIFY(check.waitForFinished(60000));
            QVERIFY2(check.exitCode() == 0, qPrintable(QStringLiteral("round %1").arg(round)));
        }
    }
    QVERIFY(start());
    runCommand(QStringLiteral("kill"), { QStringLiteral("-TERM"), QString::number(m_program->processId()) });
    QVERIFY(m_program->waitForFinished(30000));
    QCOMPARE(m_program->exitCode(), 0);
    QVERIFY(!QFile::exists(path("vellumix.vma.recovery")));
    const QByteArray journal = runCommand(QStringLiteral("unzip"),
        { QStringLiteral("-P"), QStringLiteral("730582"), QStringLiteral("-p"), path("vellumix.vma"),
            QStringLiteral("vellumix.clips") });
    for (const QByteArray& text : copied) {
        QVERIFY2(journal.count("]-----------------\r\n" + text + "\r\n") == 1, text.constData());
    }
    QCOMPARE(journal.count("]-----------------\r\n"), copied.size());
}

QTEST_GUILESS_MAIN(TestDurabilityX11)
#include "TestDurabilityX11.moc"
