// Bursts of distinct copies made in a shell loop, as fast as the loop runs and at 50 copies a
// second, against a window that watches the real clipboard: by xclip on X11, by wl-copy in a
// Wayland session whose compositor offers data-control. Prints the share of copies journalled,
// the duplicates, the latency from the change (X11: the owner's change as the server stamps it;
// Wayland: the watcher hearing of the selection) to the journal entry (p50/p99) and the longest
// pause of the GUI event loop during each burst.
// Run: scripts/with-xvfb build-test/bench/bench_capture [copies]
//      tests/wayland/run-with-sway --same-user build-test/bench/bench_capture [copies]

#include "app/vlmx_main.h"
#include "bench/BenchSupport.h"
#include "platform/ClipboardViewer.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace
{
// The X server stamps events with CLOCK_MONOTONIC in milliseconds (Xorg's GetTimeInMillis), so a
// change's time stamp and this clock can be compared, to within the millisecond the server drops.
struct Entry
{
    QString text;
    double latencyMs = 0;
};

// Takes every entry the window journals, with its latency, and the event loop's longest pause.
class Recorder
{
public:
    explicit Recorder(ClipboardViewer* viewer)
    {
        // Connected after the window, so each entry is already in the journal when it is counted.
        QObject::connect(viewer, &ClipboardViewer::changed, [this](const ClipboardContent& content) {
            if (!m_recording || !content.hasText || content.secret) {
                return;
            }
            const double now = BenchSupport::clockMilliseconds(CLOCK_MONOTONIC);
            const double serverNow = std::fmod(now, 4294967296.0);
            double latency = serverNow - double(content.timestamp);
            if (latency < -1e6) {
                latency += 4294967296.0;
            }
            m_entries.push_back({ content.text, latency });
            m_lastEntry.restart();
        });
        m_ticks.setTimerType(Qt::PreciseTimer);
        m_ticks.setInterval(1);
        QObject::connect(&m_ticks, &QTimer::timeout, [this] {
            m_longestPause = std::max(m_longestPause, m_sinceTick.nsecsElapsed() / 1e6);
            m_sinceTick.restart();
        });
    }

    void begin()
    {
        m_entries.clear();
        m_longestPause = 0;
        m_recording = true;
        m_sinceTick.start();
        m_lastEntry.start();
        m_ticks.start();
    }
    void end()
    {
        m_recording = false;
        m_ticks.stop();
    }

    const std::vector<Entry>& entries() const { return m_entries; }
    double longestPauseMs() const { return m_longestPause; }
    qint64 sinceLastEntryMs() const { return m_lastEntry.elapsed(); }

private:
    std::vector<Entry> m_entries;
    QTimer m_ticks;
    QElapsedTimer m_sinceTick;
    QElapsedTimer m_lastEntry;
    double m_longestPause = 0;
    bool m_recording = false;
};

// The machine's load over the last minute: other work on it shows in every figure.
QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0) : QByteArray("?");
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

void burst(Recorder& recorder, const QString& copier, const char* name, int copies, bool paced, bool watching = true)
{
    const QString prefix = QString::fromLatin1(name) + QLatin1Char(' ');
    // At 50 a second each round lasts at least 20 ms, however long the copier takes within it.
    const QString pace = paced ? QStringLiteral("sleep 0.02 & ") : QString();
    const QString wait = paced ? QStringLiteral("; wait") : QString();
    const QString script
        = QStringLiteral("i=0; while [ $i -lt %1 ]; do %2printf '%3%d' $i | %4%5; "
                         "i=$((i + 1)); done")
              .arg(copies)
              .arg(pace, prefix, copier, wait);
    QProcess shell;
    QEventLoop copying;
    QObject::connect(&shell, &QProcess::finished, &copying, &QEventLoop::quit);
    recorder.begin();
    QElapsedTimer clock;
    clock.start();
    shell.start(QStringLiteral("sh"), { QStringLiteral("-c"), script });
    copying.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    // Entries still on their way: at most a read timeout behind the last copy.
    while (watching && recorder.sinceLastEntryMs() < 3000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    recorder.end();
    if (!watching) {
        std::printf("%-6s %4d copies in %5.1f s (%5.1f/s) with the clipboard not watched: longest event-loop pause "
                    "%6.2f ms (what the machine itself costs); load average %s\n",
            name, copies, seconds, copies / seconds, recorder.longestPauseMs(), loadAverage().constData());
        std::fflush(stdout);
        return;
    }

    QHash<QString, int> seen;
    std::vector<double> latencies;
    int foreign = 0;
    int outOfOrder = 0;
    int last = -1;
    for (const Entry& entry : recorder.entries()) {
        if (!entry.text.startsWith(prefix)) {
            ++foreign;
            continue;
        }
        const int number = entry.text.mid(prefix.size()).toInt();
        outOfOrder += number < last;
        last = number;
        ++seen[entry.text];
        latencies.push_back(entry.latencyMs);
    }
    int duplicates = 0;
    for (int count : std::as_const(seen)) {
        duplicates += count - 1;
    }
    std::printf("%-6s %4d copies in %5.1f s (%5.1f/s): journalled %4lld (%6.2f %%), duplicates %d, out of order %d, "
                "other %d; latency p50 %6.2f ms p99 %6.2f ms max %7.2f ms; longest event-loop pause %6.2f ms; "
                "load average %s\n",
        name, copies, seconds, copies / seconds, static_cast<long long>(seen.size()), 100.0 * seen.size() / copies,
        duplicates, outOfOrder, foreign, percentile(latencies, 0.5), percentile(latencies, 0.99),
        percentile(latencies, 1.0), recorder.longestPauseMs(), loadAverage().constData());
    std::fflush(stdout);
}

// Runs the event loop until done() holds or the time is up.
template <typename Done> void turnEventLoopUntil(Done done, qint64 ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const ClipboardViewer::Kind kind = ClipboardViewer::sessionKind();
    if (kind == ClipboardViewer::Kind::Qt) {
        std::fprintf(stderr,
            "bench_capture needs an X display or a Wayland compositor with data-control (run it under "
            "scripts/with-xvfb or tests/wayland/run-with-sway)\n");
        return 1;
    }
    const bool wayland = kind == ClipboardViewer::Kind::Wayland;
    const QString copier = wayland ? QStringLiteral("wl-copy") : QStringLiteral("xclip -selection clipboard");
    std::printf("Copies by %s, watched on %s\n", qPrintable(copier), wayland ? "Wayland (data-control)" : "X11");
    std::fflush(stdout);
    const int copies = argc > 1 ? QByteArray(argv[1]).toInt() : 1000;
    QTemporaryDir dir;
    std::unique_ptr<ClipboardViewer> viewer = ClipboardViewer::create();
    ClipboardViewer* watched = viewer.get();
    TFMainServices services = BenchSupport::quietServices(dir.filePath(QStringLiteral("vellumix")));
    services.clipboard = std::move(viewer);
    TFMain window(std::move(services));
    window.show();
    // The window's first paint (fonts, style, layout) is not part of a burst.
    turnEventLoopUntil([&window] { return window.windowHandle() && window.windowHandle()->isExposed(); }, 10000);
    turnEventLoopUntil([] { return false; }, 1000);
    Recorder recorder(watched);

    // The same loop while the window does not watch: the pauses the machine causes by itself.
    window.LeaveClipboardChain();
    burst(recorder, copier, "idle", copies, false, false);
    window.JoinClipboardChain();
    // The text on the clipboard now is journalled on joining, before the burst.
    turnEventLoopUntil([] { return false; }, 1000);
    burst(recorder, copier, "full", copies, false);
    burst(recorder, copier, "paced", copies, true);
    // The last copier ends once it no longer owns the clipboard.
    if (wayland) {
        QProcess::execute(QStringLiteral("wl-copy"), { QStringLiteral("--clear") });
    } else {
        QGuiApplication::clipboard()->setText(QStringLiteral("end of the benchmark"));
        QApplication::processEvents();
    }
    return 0;
}
