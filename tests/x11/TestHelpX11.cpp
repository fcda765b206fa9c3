#include "tests/x11/ProgramCopy.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// "Help" in the real program, started from another folder as a desktop launcher does.
class TestHelpX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testHelpStartsTheViewerOnTheFileBesideTheProgram();
};

void TestHelpX11::testHelpStartsTheViewerOnTheFileBesideTheProgram()
{
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    for (const char* name : { "vellumix", "libZipEngine179.so", "vellumix.chm" }) {
        QVERIFY(QFile::copy(
            QStringLiteral(VELLUMIX_BIN_DIR "/") + QString::fromLatin1(name), dir.filePath(QString::fromLatin1(name))));
    }
    QProcess program;
    program.setWorkingDirectory(elsewhere.path());
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(dir.filePath(QStringLiteral("vellumix")), {});
    QVERIFY(program.waitForStarted(5000));
    const QByteArray window = waitForWindow(program);
    QVERIFY(!window.isEmpty());
    runCommand(QStringLiteral("xdotool"),
        { QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(window),
            QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("alt+h") });

    // The desktop's opener hands the file to the CHM viewer.
    const QString help = dir.filePath(QStringLiteral("vellumix.chm"));
    QByteArray viewer;
    QVERIFY(QTest::qWaitFor(
        [&] {
            const QList<QByteArray> lines
                = runCommand(QStringLiteral("pgrep"), { QStringLiteral("-a"), QStringLiteral("xchm") }).split('\n');
            for (const QByteArray& line : lines) {
                if (line.contains(help.toUtf8())) {
                    viewer = line.split(' ').value(0);
                }
            }
            return !viewer.isEmpty();
        },
        20000));
    runCommand(QStringLiteral("kill"), { QString::fromLatin1(viewer) });
    program.terminate();
    QVERIFY(program.waitForFinished(20000));
}

QTEST_GUILESS_MAIN(TestHelpX11)
#include "TestHelpX11.moc"
