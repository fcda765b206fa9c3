// Start-up to the shown window and exit to the stored archive with journals of
// 1, 16 and 64 MiB, next to Info-ZIP's zip -9 -P and unzip -P on the same text.
// Run: QT_QPA_PLATFORM=offscreen build-test/bench/bench_session [MiB ...]

#include "app/vlmx_main.h"
#include "bench/BenchSupport.h"
#include "loc/LocUtils.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>

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

void run(int mebibytes)
{
    QTemporaryDir dir;
    const QString executable = dir.filePath(QStringLiteral("vellumix"));
    LocUtils.SetAppFileName(executable);
    const QByteArray journal = BenchSupport::journalOf(qsizetype(mebibytes) * 1024 * 1024);

    auto window = std::make_unique<TFMain>(BenchSupport::quietServices(executable));
    window->SetMemoText(window->findChild<QPlainTextEdit*>(QStringLiteral("log")), journal);
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
    return 0;
}
