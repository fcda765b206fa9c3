// A key release in the find box and a "Next" that has to go to the end, on a
// generated journal, in milliseconds: the first search after loading, then searches
// while captures keep arriving. Targets: a key under 20 ms, Next to the end under 30 ms.
// Run: QT_QPA_PLATFORM=offscreen build-test/bench/bench_find [MiB]

#include "app/FindBar.h"
#include "app/vlmx_main.h"
#include "bench/BenchSupport.h"
#include "textview/JournalView.h"
#include "textview/MemoText.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace
{
double timed(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const int mebibytes = argc > 1 ? QByteArray(argv[1]).toInt() : 64;
    QTemporaryDir dir;
    TFMain window(BenchSupport::quietServices(dir.filePath(QStringLiteral("vellumix"))));
    auto* log = window.findChild<JournalView*>(QStringLiteral("log"));
    auto* find = window.findChild<QLineEdit*>(QStringLiteral("txtFindText"));
    // "Next" from the first needle has to search the whole journal for the second.
    window.SetMemoText(log,
        "the needle at the start\r\n" + BenchSupport::journalOf(qsizetype(mebibytes) * 1024 * 1024)
            + "the needle at the very end\r\n");
    QApplication::processEvents();

    auto search = [&](const QString& text) {
        find->setText(text);
        window.txtFindTextKeyUp();
    };
    const double firstKey = timed([&] { search(QStringLiteral("c")); });
    const double key = timed([&] { search(QStringLiteral("co")); });
    search(QStringLiteral("needle"));
    const double nextToEnd = timed([&] { window.cmdFindTextClick(); });
    window.AppendToJournal(QStringLiteral("one more capture"));
    const double keyAfterCapture = timed([&] { search(QStringLiteral("cop")); });
    search(QStringLiteral("needle"));
    const double nextAfterCapture = timed([&] { window.cmdFindTextClick(); });
    std::printf("%d MiB journal: first key after load %.1f ms, key %.2f ms, Next to the end %.1f ms, "
                "key after a capture %.2f ms, Next to the end after a capture %.1f ms (found at %lld)\n",
        mebibytes, firstKey, key, nextToEnd, keyAfterCapture, nextAfterCapture,
        static_cast<long long>(window.findBar().findPos()));
    std::fflush(stdout);
    return 0;
}
