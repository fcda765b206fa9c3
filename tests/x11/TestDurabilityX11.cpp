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

void TestDurabilityX11::testKillsAtRandomMomentsLoseNothing()
{
    QVERIFY(copyProgram(m_dir.path()));
    QList<QByteArray> copied;
    for (int round = 0; round < 9; ++round) {
        QVERIFY(start());
        {
            XClip xclip;
            for (int i = 0; i < 3; ++i) {
                const QByteArray text = "capture " + QByteArray::number(round) + "." + QByteArray::number(i);
                QVERIFY(xclip.copy(text));
                QVERIFY2(QTest::qWaitFor([&] { return onDisk(m_dir.path(), text); }, 20000), text.constData());
                copied << text;
            }
            // A third of the rounds end in the middle of the store that a close begins, a third around
            // the store that begins by itself a few seconds after the last capture.
            if (round % 3 == 1) {
                runCommand(
                    QStringLiteral("kill"), { QStringLiteral("-TERM"), QString::number(m_program->processId()) });
            }
            const int storeByItself = round % 3 == 2 ? 2800 : 0;
            QTest::qWait(storeByItself + int(QRandomGenerator::global()->bounded(0, 500)));
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
    const QByteArray journal = storedJournal(m_dir.path());
    for (const QByteArray& text : copied) {
        QVERIFY2(journal.count("]-----------------\r\n" + text + "\r\n") == 1, text.constData());
    }
    QCOMPARE(journal.count("]-----------------\r\n"), copied.size());
}

QTEST_GUILESS_MAIN(TestDurabilityX11)
#include "TestDurabilityX11.moc"
