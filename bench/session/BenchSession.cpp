// Start-up to the shown window and exit to the stored archive with journals of
// 1, 16 and 64 MiB, next to Info-ZIP's zip -9 -P and unzip -P on the same text;
// then how soon a capture is safe on disk, and the longest stall of the event
// loop while it is made safe and while the whole session is stored.
// Run: QT_QPA_PLATFORM=offscreen build-test/bench/bench_session [MiB ...]

#include "app/JournalView.h"
#include "app/vlmx_main.h"
#include "bench/BenchSupport.h"
#include "loc/LocUtils.h"

#include <QApplication>
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
    auto window = std::make_unique<TFMain>(BenchSupport::quietServices(executable));
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
    std::printf("%3d MiB journal: a capture is on disk after %6.2f ms (longest stall %5.1f ms); "
                "\"Save\" stores the session in %5.2f s (longest stall %6.1f ms)\n",
        mebibytes, safeMs, captureStall, storeSeconds, storeStall);
    std::fflush(stdout);
}

void run(int mebibytes)
{
    QTemporaryDir dir;
    const QString executable = dir.filePath(QStringLiteral("vellumix"));
    LocUtils.SetAppFileName(executable);
    const QByteArray journal = BenchSupport::journalOf(qsizetype(mebibytes) * 1024 * 1024);

    auto window = std::make_unique<TFMain>(BenchSupport::quietServices(executable));
    window->SetMemoText(window->findChild<JournalView*>(QStringLiteral("log")), journal);
    const double store = seconds([&] { window.reset(); });

    const double load = seconds([&] {
        window = std::make_unique<TFMain>(BenchSupport::quietServices(executable));
        window->show();
        QApplication::processEvents();
    });
    window.reset();

    QFile text(dir.filePath(QStringLiteral("vellumix.clips")));
    if (!text.open(QIODevice::WriteOnly) || text.write(journal) != journal.size()) {
        std::printf("cannot write the journal for Info-ZIP\n");
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
            { QStringLiteral("-P"), p, QStringLiteral("-p"), QStringLiteral("info.zip"),
                QStringLiteral("vellumix.clips") });
    });
    std::printf("%3d MiB journal: start-up to shown window %6.2f s (unzip -P %5.2f s, ratio %.2f), "
                "exit to stored archive %6.2f s (zip -9 -P %5.2f s, ratio %.2f), peak resident %ld MiB\n",
        mebibytes, load, unzip, load / unzip, store, zip, store / zip, BenchSupport::statusMiB("VmHWM:"));
    std::fflush(stdout);
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QList<int> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes << QByteArray(argv[i]).toInt();
    }
    if (sizes.isEmpty()) {
        sizes = { 1, 16, 64 };
    }
    for (int size : sizes) {
        run(size);
    }
    for (int size : sizes) {
        autosave(size);
    }
    return 0;
}
