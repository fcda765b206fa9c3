// Start-up to the shown window, exit to the stored archive, the archive's size and the peak
// memory with journals of 1, 16 and 64 MiB, next to Info-ZIP's zip -9 -P and unzip -P on the
// same text; each start runs in a process of its own, beside one with an empty journal;
// then how soon a capture is safe on disk, and the longest stall of the event
// loop while it is made safe and while the whole session is stored; last, a start that
// replays 200,000 changes from the recovery file against one that loads the same text, and the
// memory that 40 captures of 2 MiB leave behind.
// Run: QT_QPA_PLATFORM=offscreen build-test/bench/bench_session [MiB ...]

#include "app/vlmx_main.h"
#include "bench/BenchSupport.h"
#include "loc/LocUtils.h"
#include "session/RecoveryFormat.h"
#include "session/SessionStore.h"
#include "textview/JournalView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace
{
double seconds(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e9;
}

bool runTool(const QString& folder, const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitCode() == 0;
}

// The longest time the event loop went without turning while it watched.
class StallWatch : public QObject
{
public:
    StallWatch()
    {
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_longest = std::max(m_longest, m_since.nsecsElapsed() / 1e6);
            m_since.restart();
        });
        m_since.start();
        m_timer.start();
    }
    double longestMs() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    double m_longest = 0;
};

void autosave(int mebibytes)
{
    QTemporaryDir dir;
    const QString executable = dir.filePath(QStringLiteral("vellumix"));
    LocUtils.SetAppFileName(executable);
    TFMainServices services = BenchSupport::quietServices(executable);
    // The stores measured are the ones asked for here.
    services.storeIdleDelay = services.storeLatestDelay = 24 * 3600 * 1000;
    auto window = std::make_unique<TFMain>(std::move(services));
    window->SetMemoText(window->findChild<JournalView*>(QStringLiteral("log")),
        BenchSupport::journalOf(qsizetype(mebibytes) * 1024 * 1024));
    window->show();
    // The window lays out and paints its journal first; what is measured is the capture alone.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 2000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    const QString recovery = dir.filePath(QStringLiteral("vellumix.vma.recovery"));

    double safeMs = -1;
    double captureStall = 0;
    {
        StallWatch watch;
        QElapsedTimer timer;
        timer.start();
        window->AppendToJournal(QStringLiteral("a capture that must survive a kill"));
        while (timer.elapsed() < 10000 && safeMs < 0) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
            if (QFileInfo(recovery).size() > 0) {
                safeMs = timer.nsecsElapsed() / 1e6;
            }
        }
        while (timer.elapsed() < 300) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        captureStall = watch.longestMs();
    }
    double storeSeconds = 0;
    double storeStall = 0;
    {
        StallWatch watch;
        storeSeconds = seconds([&] { window->ActionSaveExecute(); });
        QApplication::processEvents();
        storeStall = watch.longestMs();
    }
    double backgroundSeconds = 0;
    double backgroundStall = 0;
    qint64 recoveryAfter = -1;
    {
        window->AppendToJournal(QStringLiteral("a capture after the save"));
        StallWatch watch;
        QElapsedTimer timer;
        timer.start();
        window->session().storeInBackground();
        window->AppendToJournal(QStringLiteral("a capture while the store runs"));
        while (window->session().storeRunning() && timer.elapsed() < 600000) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        backgroundSeconds = timer.nsecsElapsed() / 1e9;
        backgroundStall = watch.longestMs();
        window->session().flushRecovery();
        recoveryAfter = QFileInfo(recovery).size();
    }
    std::printf("%3d MiB journal: a capture is on disk after %6.2f ms (longest stall %5.1f ms); "
                "\"Save\" stores the session in %5.2f s (longest stall %6.1f ms); a store in the background "
                "takes %5.2f s (longest stall %6.1f ms) and leaves a recovery file of %lld bytes\n",
        mebibytes, safeMs, captureStall, storeSeconds, storeStall, backgroundSeconds, backgroundStall,
        static_cast<long long>(recoveryAfter));
    std::fflush(stdout);
}

// One start of the program on the archive in folder, in a process of its own so that its peak
// memory is its own: start-up to the shown window, one capture, and the exit that stores it.
// Prints "start-seconds exit-seconds peak-KiB".
void startAndExit(const QString& folder)
{
    const QString executable = QDir(folder).filePath(QStringLiteral("vellumix"));
    LocUtils.SetAppFileName(executable);
    std::unique_ptr<TFMain> window;
    const double start = seconds([&] {
        window = std::make_unique<TFMain>(BenchSupport::quietServices(executable));
        window->show();
        QApplication::processEvents();
    });
    window->AppendToJournal(QStringLiteral("one more capture"));
    const double exit = seconds([&] { window.reset(); });
    std::printf("%.6f %.6f %ld\n", start, exit, BenchSupport::statusKiB("VmHWM:"));
    std::fflush(stdout);
}

struct Started
{
    double start = 0;
    double exit = 0;
    long peakKiB = 0;
    bool ok = false;
};

Started startInChild(const QString& folder)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--start"), folder });
    child.waitForFinished(-1);
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    Started started;
    if (child.exitCode() == 0 && fields.size() == 3) {
        started = { fields[0].toDouble(), fields[1].toDouble(), fields[2].toLong(), true };
    }
    return started;
}

void run(int mebibytes, long emptyPeakKiB)
{
    QTemporaryDir dir;
    const QString executable = dir.filePath(QStringLiteral("vellumix"));
    LocUtils.SetAppFileName(executable);
    const QByteArray journal = BenchSupport::journalOf(qsizetype(mebibytes) * 1024 * 1024);
    {
        auto window = std::make_unique<TFMain>(BenchSupport::quietServices(executable));
        window->SetMemoText(window->findChild<JournalView*>(QStringLiteral("log")), journal);
    }
    const Started ours = startInChild(dir.path());

    QFile text(dir.filePath(QStringLiteral("vellumix.clips")));
    if (!ours.ok || !text.open(QIODevice::WriteOnly) || text.write(journal) != journal.size()) {
        std::printf(
            "%3d MiB journal: the program or the journal for Info-ZIP could not be run or written\n", mebibytes);
        std::fflush(stdout);
        return;
    }
    text.close();
    const QString p = QStringLiteral("730582");
    const double zip = seconds([&] {
        runTool(dir.path(), QStringLiteral("zip"),
            { QStringLiteral("-q9"), QStringLiteral("-P"), p, QStringLiteral("info.zip"),
                QStringLiteral("vellumix.clips") });
    });
    const double unzip = seconds([&] {
        runTool(dir.path(), QStringLiteral("unzip"),
            { QStringLiteral("-P"), p, QStringLiteral("-p"), QStringLiteral("vellumix.vma"),
                QStringLiteral("vellumix.clips") });
    });
    const bool readable = runTool(dir.path(), QStringLiteral("unzip"),
        { QStringLiteral("-tq"), QStringLiteral("-P"), p, QStringLiteral("vellumix.vma") });
    const double archiveSize = double(QFileInfo(dir.filePath(QStringLiteral("vellumix.vma"))).size());
    const double zipSize = double(QFileInfo(dir.filePath(QStringLiteral("info.zip"))).size());
    const double peakMiB = double(ours.peakKiB - emptyPeakKiB) / 1024;
    std::printf("%3d MiB journal: start-up to shown window %5.2f s (unzip -P on the same archive %5.2f s, "
                "ratio %.2f, target 2); exit to stored archive %5.2f s (zip -9 -P %5.2f s, ratio %.2f, target 0.6); "
                "archive %.0f bytes (zip -9 %.0f, ratio %.3f, target 1.02, unzip -t %s); "
                "peak resident +%.0f MiB over an empty journal (%.2fx the journal, target 3)\n",
        mebibytes, ours.start, unzip, ours.start / unzip, ours.exit, zip, ours.exit / zip, archiveSize, zipSize,
        archiveSize / zipSize, readable ? "passed" : "FAILED", peakMiB, peakMiB / mebibytes);
    std::fflush(stdout);
}
// A start that replays changes from the recovery file, against one that loads the same text
// from the archive: time to the shown window and peak memory over an empty start.
void replay(int changes, long emptyPeakKiB)
{
    QTemporaryDir stored;
    QTemporaryDir recorded;
    QString journal;
    QByteArray recovery = RecoveryFormat::header({});
    for (int i = 0; i < changes; ++i) {
        const QString line
            = QStringLiteral("capture %1 of a session that was never stored\n").arg(i, 6, 10, QLatin1Char('0'));
        recovery += RecoveryFormat::change(RecoveryFormat::Journal, journal.size(), 0, line);
        journal += line;
    }
    {
        const QString executable = stored.filePath(QStringLiteral("vellumix"));
        LocUtils.SetAppFileName(executable);
        auto window = std::make_unique<TFMain>(BenchSupport::quietServices(executable));
        window->SetMemoText(window->findChild<JournalView*>(QStringLiteral("log")), journal.toUtf8());
    }
    QFile file(recorded.filePath(QStringLiteral("vellumix.vma.recovery")));
    const bool written = file.open(QIODevice::WriteOnly) && file.write(recovery) == recovery.size();
    file.close();
    const Started loaded = startInChild(stored.path());
    const Started replayed = written ? startInChild(recorded.path()) : Started {};
    if (!loaded.ok || !replayed.ok) {
        std::printf("%d recorded changes: the program could not be run\n", changes);
        std::fflush(stdout);
        return;
    }
    const double loadedMiB = double(loaded.peakKiB - emptyPeakKiB) / 1024;
    const double replayedMiB = double(replayed.peakKiB - emptyPeakKiB) / 1024;
    std::printf("%d recorded changes (%.1f MB): start-up with their replay %5.2f s, peak +%.0f MiB; the same text "
                "loaded from the archive %5.2f s, +%.0f MiB; ratio time %.2f, memory %.2f (target 2)\n",
        changes, recovery.size() / 1e6, replayed.start, replayedMiB, loaded.start, loadedMiB,
        replayed.start / loaded.start, replayedMiB / std::max(loadedMiB, 1.0));
    std::fflush(stdout);
}
} // namespace

// In a process of its own: the program captures pieces distinct 2 MiB texts, as they come, with its
// stores in the background at their usual delays. Prints "resident-KiB-before resident-KiB-after".
void captureInChild(const QString& folder, int pieces)
{
    const QString executable = QDir(folder).filePath(QStringLiteral("vellumix"));
    LocUtils.SetAppFileName(executable);
    TFMainServices services = BenchSupport::quietServices(executable);
    auto window = std::make_unique<TFMain>(std::move(services));
    window->show();
    const auto settle = [](int milliseconds) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < milliseconds) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
    };
    settle(500);
    const long before = BenchSupport::statusKiB("VmRSS:");
    for (int piece = 0; piece < pieces; ++piece) {
        QString text(1024 * 1024, Qt::Uninitialized);
        for (qsizetype i = 0; i < text.size(); ++i) {
            text[i] = QLatin1Char(char('a' + (i * 7 + piece) % 26));
        }
        text.replace(0, 16, QStringLiteral("piece %1 ").arg(piece, 7));
        window->AppendToJournal(text + text); // 2 MiB as UTF-8
        settle(200);
    }
    // What stays once the stores the captures began have ended.
    settle(4000);
    while (window->session().storeRunning()) {
        settle(100);
    }
    std::printf("%ld %ld\n", before, BenchSupport::statusKiB("VmRSS:"));
    std::fflush(stdout);
    window.reset();
}

void captureMemory(int pieces)
{
    QTemporaryDir folder;
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--capture"), folder.path(), QString::number(pieces) });
    child.waitForFinished(-1);
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (child.exitCode() != 0 || fields.size() != 2) {
        std::printf("%d captures of 2 MiB: the program could not be run\n", pieces);
    } else {
        const double grown = (fields[1].toLong() - fields[0].toLong()) / 1024.0;
        const double captured = 2.0 * pieces;
        std::printf("%d captures of 2 MiB (%.0f MiB): resident memory grew by %.0f MiB, %.2fx the text "
                    "captured (target 2)\n",
            pieces, captured, grown, grown / captured);
    }
    std::fflush(stdout);
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments[1] == QLatin1String("--start")) {
        startAndExit(arguments[2]);
        return 0;
    }
    if (arguments.size() == 4 && arguments[1] == QLatin1String("--capture")) {
        captureInChild(arguments[2], arguments[3].toInt());
        return 0;
    }
    QList<int> sizes;
    for (const QString& argument : arguments.mid(1)) {
        sizes << argument.toInt();
    }
    if (sizes.isEmpty()) {
        sizes = { 1, 16, 64 };
    }
    QTemporaryDir empty;
    const Started baseline = startInChild(empty.path());
    for (int size : sizes) {
        run(size, baseline.peakKiB);
    }
    for (int size : sizes) {
        autosave(size);
    }
    // A run on small journals only (as the test that runs every benchmark does) replays few changes.
    const bool large = *std::max_element(sizes.begin(), sizes.end()) >= 16;
    replay(large ? 200000 : 2000, baseline.peakKiB);
    captureMemory(large ? 40 : 2);
    return 0;
}
