// The journal memo (QPlainTextEdit) and the journal view (JournalView) side by side, with
// generated journals of 16 and 64 MiB: load to the first painted frame, peak resident memory
// over the empty widget, a search that finds nothing (the find bar's "Next" to the end),
// appending captures, and the longest frame while dragging the scroll bar through the whole
// text and paging down and up. The memo's figures include the copy of its text that the find
// bar searches, as the program keeps one. Each run has a process of its own, so
// that one widget's freed memory does not hide the other's. Times are printed twice: as the
// wall clock saw them and as CPU time of the GUI thread, which other load on the machine does
// not stretch.
// Run: QT_QPA_PLATFORM=offscreen build-test/bench/bench_journal [MiB ...]

#include "app/TextPos.h"
#include "bench/BenchSupport.h"
#include "textview/JournalView.h"
#include "textview/MemoText.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace
{
constexpr int Appends = 1000;
constexpr int ScrollSteps = 1000;
constexpr int Pages = 300;

// The archive's entry as extraction hands it over: the memo decodes it, the view takes it.
void load(QPlainTextEdit& memo, QByteArray&& bytes)
{
    MemoText::setFromBytes(&memo, bytes);
}

void load(JournalView& view, QByteArray&& bytes)
{
    view.buffer()->setStoredBytes(std::move(bytes));
}

// The find bar searches a copy of the memo's text, and the view's buffer itself.
std::function<qsizetype()> searchToTheEnd(QPlainTextEdit& memo)
{
    auto copy = std::make_shared<QString>(memo.document()->toRawText());
    return [copy] { return TextPosFrom(u"needle", *copy, 1, false) - 1; };
}

std::function<qsizetype()> searchToTheEnd(JournalView& view)
{
    return [&view] { return view.buffer()->find(u"needle", 0, false); };
}

void appendLine(QPlainTextEdit& memo, const QString& line)
{
    MemoText::appendLine(&memo, line);
}

void appendLine(JournalView& view, const QString& line)
{
    view.appendLine(line);
}

struct Time
{
    double wall;
    double cpu;
};

// Something that changes what shows, and the event loop's turn that paints it.
Time frame(const std::function<void()>& step)
{
    QElapsedTimer timer;
    timer.start();
    const double cpu = BenchSupport::clockMilliseconds(CLOCK_THREAD_CPUTIME_ID);
    step();
    QApplication::processEvents();
    return { timer.nsecsElapsed() / 1e6, BenchSupport::clockMilliseconds(CLOCK_THREAD_CPUTIME_ID) - cpu };
}

// "p50 a/b ms" and so on: wall clock / CPU time.
QByteArray spreadOf(const std::vector<Time>& times, bool withMedian)
{
    std::vector<double> wall;
    std::vector<double> cpu;
    for (const Time& time : times) {
        wall.push_back(time.wall);
        cpu.push_back(time.cpu);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    const auto at = [](const std::vector<double>& sorted, double share) {
        return QByteArray::number(sorted[size_t(share * double(sorted.size() - 1))], 'f', 2);
    };
    QByteArray text;
    if (withMedian) {
        text += "p50 " + at(wall, 0.5) + '/' + at(cpu, 0.5) + " ";
    }
    return text + "p99 " + at(wall, 0.99) + '/' + at(cpu, 0.99) + " max " + at(wall, 1) + '/' + at(cpu, 1) + " ms";
}

void pressKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(widget, &release);
}

template <typename Widget> void run(const char* name, int mebibytes)
{
    const QByteArray bytes = BenchSupport::journalOf(qsizetype(mebibytes) * 1024 * 1024);
    Widget widget;
    widget.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    widget.resize(700, 400);
    widget.show();
    widget.setFocus();
    QApplication::processEvents();
    QFile peakReset(QStringLiteral("/proc/self/clear_refs"));
    if (peakReset.open(QIODevice::WriteOnly)) {
        peakReset.write("5");
        peakReset.close();
    }
    const long before = BenchSupport::statusMiB("VmRSS:");

    QByteArray entry(bytes.constData(), bytes.size());
    const Time loaded = frame([&] { load(widget, std::move(entry)); });
    const std::function<qsizetype()> search = searchToTheEnd(widget);
    qsizetype found = 0;
    const Time searched = frame([&] { found = search(); });

    std::vector<Time> appends;
    for (int i = 0; i < Appends; ++i) {
        appends.push_back(frame([&] {
            appendLine(widget, QStringLiteral("[2026-12-07-14:05:09]-----------------"));
            appendLine(widget, QStringLiteral("capture %1 of the benchmark").arg(i));
        }));
    }

    QScrollBar* bar = widget.verticalScrollBar();
    std::vector<Time> scrolls;
    for (int i = 0; i <= ScrollSteps; ++i) {
        scrolls.push_back(frame([&] { bar->setValue(int(qint64(bar->maximum()) * i / ScrollSteps)); }));
    }
    std::vector<Time> pages;
    pressKey(&widget, Qt::Key_Home, Qt::ControlModifier);
    QApplication::processEvents();
    for (int i = 0; i < Pages; ++i) {
        pages.push_back(frame([&] { pressKey(&widget, Qt::Key_PageDown); }));
    }
    bar->setValue(bar->maximum() / 2);
    QApplication::processEvents();
    for (int i = 0; i < Pages; ++i) {
        pages.push_back(frame([&] { pressKey(&widget, Qt::Key_PageDown); }));
    }
    pressKey(&widget, Qt::Key_End, Qt::ControlModifier);
    QApplication::processEvents();
    for (int i = 0; i < Pages; ++i) {
        pages.push_back(frame([&] { pressKey(&widget, Qt::Key_PageUp); }));
    }
    const long peak = BenchSupport::statusMiB("VmHWM:") - before;

    std::printf("%-14s %2d MiB: load+paint %.0f/%.0f ms, peak +%ld MiB (%.1fx), search to the end %.0f/%.0f ms%s, "
                "append %s, scroll bar frames %s, page frames %s\n",
        name, mebibytes, loaded.wall, loaded.cpu, peak, double(peak) / mebibytes, searched.wall, searched.cpu,
        found < 0 ? "" : " (found!)", spreadOf(appends, true).constData(), spreadOf(scrolls, false).constData(),
        spreadOf(pages, false).constData());
    std::fflush(stdout);
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 4 && arguments[1] == QLatin1String("--child")) {
        const int mebibytes = arguments[3].toInt();
        if (arguments[2] == QLatin1String("plain")) {
            run<QPlainTextEdit>("QPlainTextEdit", mebibytes);
        } else {
            run<JournalView>("JournalView", mebibytes);
        }
        return 0;
    }
    QStringList sizes = arguments.mid(1);
    if (sizes.isEmpty()) {
        sizes = { QStringLiteral("16"), QStringLiteral("64") };
    }
    std::printf("times as wall clock/CPU; targets for JournalView at 64 MiB: load+paint well under 1000 ms, peak at "
                "most 3.0x the journal, append p99 under 2 ms, every frame under 16 ms\n");
    std::fflush(stdout);
    for (const QString& size : sizes) {
        for (const char* widget : { "plain", "view" }) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            child.start(
                QCoreApplication::applicationFilePath(), { QStringLiteral("--child"), QLatin1String(widget), size });
            child.waitForFinished(-1);
        }
    }
    return 0;
}
