// Loads generated 16 MiB and 64 MiB journals into the journal memo and appends
// 1,000 captures to each, printing load time, append latency and memory.
// Run: QT_QPA_PLATFORM=offscreen build-test/bench/bench_journal [MiB ...]

#include "app/JournalView.h"
#include "app/MemoText.h"
#include "bench/BenchSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{
void run(int mebibytes)
{
    const QByteArray bytes = BenchSupport::journalOf(qsizetype(mebibytes) * 1024 * 1024);
    JournalView memo;
    memo.resize(700, 400);
    memo.show();
    QApplication::processEvents();
    const long before = BenchSupport::statusMiB("VmRSS:");

    QElapsedTimer timer;
    timer.start();
    MemoText::setFromBytes(&memo, bytes);
    const double loadMs = timer.nsecsElapsed() / 1e6;
    timer.restart();
    QApplication::processEvents();
    const double layoutMs = timer.nsecsElapsed() / 1e6;

    std::vector<double> latencies;
    for (int i = 0; i < 1000; ++i) {
        timer.restart();
        MemoText::appendLine(&memo, QStringLiteral("[2026-12-07-14:05:09]-----------------"));
        MemoText::appendLine(&memo, QStringLiteral("capture %1 of the benchmark").arg(i));
        QApplication::processEvents();
        latencies.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(latencies.begin(), latencies.end());
    timer.restart();
    const QByteArray back = MemoText::toBytes(&memo);
    const double saveMs = timer.nsecsElapsed() / 1e6;

    std::printf("%3d MiB journal: load %8.1f ms, first layout %7.1f ms, append p50 %6.3f ms p99 %6.3f ms, "
                "text out %7.1f ms, resident +%ld MiB\n",
        mebibytes, loadMs, layoutMs, latencies[500], latencies[989], saveMs,
        BenchSupport::statusMiB("VmRSS:") - before);
    std::fflush(stdout);
    if (back.size() < bytes.size()) {
        std::printf("  text lost on the way out!\n");
    }
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
        sizes = { 16, 64 };
    }
    for (int size : sizes) {
        run(size);
    }
    return 0;
}
