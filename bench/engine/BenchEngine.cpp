// Adds a 16 MiB and a 64 MiB journal-like text as one encrypted entry through the engine's C
// entry points and extracts it again, then does the same with Info-ZIP's zip -9 -P and
// unzip -P on the same bytes, printing both times, both archive sizes and their ratios
// (ours / Info-ZIP).
// Run: build/bench/bench_engine [--runs N] [MiB ...]

#include "engine/ZipEngineRecords.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace
{
const char kPassword[] = "730582";
const char kEntry[] = "vellumix.clips";

struct Engine
{
    void* handle = nullptr;
    ZE_ZipExecFunc zipExec = nullptr;
    ZE_UnzExecFunc unzExec = nullptr;
};

// Time stamp lines and captures of mixed kinds, so it compresses like a real journal.
QByteArray journalOf(qsizetype bytes)
{
    static const char* const words[] = { "the", "clipboard", "journal", "copied", "meeting", "notes", "server",
        "release", "build", "error", "warning", "customer", "invoice", "password", "reset", "ticket", "review", "merge",
        "branch", "deploy", "tomorrow", "morning", "please", "check", "attached", "report", "version", "update",
        "config", "window", "settings", "archive", "search", "result", "address", "phone", "number" };
    const int wordCount = int(sizeof words / sizeof *words);
    quint64 state = 0x9E3779B97F4A7C15ull;
    auto next = [&state](quint32 bound) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return quint32(state % bound);
    };
    QByteArray text;
    text.reserve(bytes + 1024);
    for (int i = 0; text.size() < bytes; ++i) {
        text += "[2026-12-07-" + QByteArray::number(10 + next(12)) + ':' + QByteArray::number(10 + next(50)) + ':'
            + QByteArray::number(10 + next(50)) + "]-----------------\r\n";
        switch (next(4)) {
        case 0:
            text += "https://example.org/" + QByteArray(words[next(wordCount)]) + '/'
                + QByteArray::number(next(1000000)) + "?id=" + QByteArray::number(next(0xFFFFFF), 16) + "\r\n";
            break;
        case 1:
            text += "/home/user/" + QByteArray(words[next(wordCount)]) + '/' + words[next(wordCount)] + '_'
                + QByteArray::number(next(10000)) + ".txt\r\n";
            break;
        default:
            for (quint32 line = 0, lines = 1 + next(4); line < lines; ++line) {
                for (quint32 w = 0, n = 4 + next(12); w < n; ++w) {
                    text += words[next(wordCount)];
                    text += w + 1 < n ? ' ' : '.';
                }
                text += ' ' + QByteArray::number(next(100000)) + "\r\n";
            }
        }
    }
    text.truncate(bytes);
    return text;
}

int32_t answer(void*, CallbackRecord*)
{
    return 0;
}

double addOurs(const Engine& engine, const QString& archive, const QByteArray& data)
{
    QFile::remove(archive);
    const QByteArray archiveName = QFile::encodeName(archive);
    FileSpecRecord spec {};
    spec.Spec = kEntry;
    spec.Encrypt = ZE_TRUE;
    ZipCommandRecord record {};
    record.Version = ZE_RECORD_VERSION;
    record.Callback = &answer;
    record.Password = kPassword;
    record.Encrypt = ZE_TRUE;
    record.Level = 9;
    record.FileSpecCount = 1;
    record.ArchiveName = archiveName.constData();
    record.FileSpecs = &spec;
    record.InputFromMemory = ZE_TRUE;
    record.InputMemory = data.constData();
    record.InputSize = quint32(data.size());
    record.Attributes = 32;
    record.DosDateTime = (22705u << 16) | 21135u;
    record.Version2 = ZE_RECORD_VERSION;
    record.Check = ZE_RECORD_CHECK;
    QElapsedTimer timer;
    timer.start();
    const int32_t status = engine.zipExec(&record);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (status < 0) {
        std::fprintf(stderr, "engine add failed with status %d\n", status);
        std::exit(1);
    }
    return ms;
}

double extractOurs(const Engine& engine, const QString& archive, const QByteArray& expected)
{
    const QByteArray archiveName = QFile::encodeName(archive);
    QByteArray output(expected.size(), '\0');
    ExtractSpecRecord spec {};
    spec.Spec = kEntry;
    UnzipCommandRecord record {};
    record.Version = ZE_RECORD_VERSION;
    record.Callback = &answer;
    record.Password = kPassword;
    record.SpecCount = 1;
    record.ArchiveName = archiveName.constData();
    record.ExtractSpecs = &spec;
    record.OutputToMemory = ZE_TRUE;
    record.OutputMemory = output.data();
    record.OutputSize = quint32(output.size());
    record.PasswordRequests = 1;
    record.Check = ZE_RECORD_CHECK;
    QElapsedTimer timer;
    timer.start();
    const int32_t status = engine.unzExec(&record);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (status != 1 || output != expected) {
        std::fprintf(stderr, "engine extract failed with status %d\n", status);
        std::exit(1);
    }
    return ms;
}

double runTool(const QString& program, const QStringList& arguments, const QString& workDir)
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForStarted(-1) || !process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
        std::exit(1);
    }
    return timer.nsecsElapsed() / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void run(const Engine& engine, int mebibytes, int runs)
{
    const QByteArray data = journalOf(qsizetype(mebibytes) * 1024 * 1024);
    QTemporaryDir dir;
    const QString ours = dir.filePath(QStringLiteral("ours.zip"));
    const QString theirs = dir.filePath(QStringLiteral("infozip.zip"));
    QFile input(dir.filePath(QString::fromLatin1(kEntry)));
    if (!input.open(QIODevice::WriteOnly) || input.write(data) != data.size())
        std::exit(1);
    input.close();

    std::vector<double> ourAdd, ourExtract, zipAdd, zipExtract;
    for (int i = 0; i < runs; ++i) {
        ourAdd.push_back(addOurs(engine, ours, data));
        ourExtract.push_back(extractOurs(engine, ours, data));
        QFile::remove(theirs);
        zipAdd.push_back(runTool(QStringLiteral("zip"),
            { QStringLiteral("-9"), QStringLiteral("-q"), QStringLiteral("-P"), QString::fromLatin1(kPassword), theirs,
                QString::fromLatin1(kEntry) },
            dir.path()));
        zipExtract.push_back(runTool(QStringLiteral("unzip"),
            { QStringLiteral("-P"), QString::fromLatin1(kPassword), QStringLiteral("-p"), theirs,
                QString::fromLatin1(kEntry) },
            dir.path()));
    }
    const double oa = median(ourAdd), oe = median(ourExtract), za = median(zipAdd), ze = median(zipExtract);
    const qint64 ourSize = QFile(ours).size(), zipSize = QFile(theirs).size();
    std::printf("%3d MiB add:     engine %8.1f ms  zip -9 -P %8.1f ms  ratio %5.2f\n", mebibytes, oa, za, oa / za);
    std::printf("%3d MiB archive: engine %10lld B  zip -9 %10lld B  ratio %5.3f\n", mebibytes, ourSize, zipSize,
        double(ourSize) / double(zipSize));
    std::printf("%3d MiB extract: engine %8.1f ms  unzip -P  %8.1f ms  ratio %5.2f\n", mebibytes, oe, ze, oe / ze);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv)
{
    int runs = 1;
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty())
        sizes = { 16, 64 };

    Engine engine;
    engine.handle = dlopen(VELLUMIX_BIN_DIR "/libZipEngine179.so", RTLD_NOW | RTLD_LOCAL);
    if (engine.handle) {
        engine.zipExec = reinterpret_cast<ZE_ZipExecFunc>(dlsym(engine.handle, "ZE_ZipExec"));
        engine.unzExec = reinterpret_cast<ZE_UnzExecFunc>(dlsym(engine.handle, "ZE_UnzExec"));
    }
    if (!engine.zipExec || !engine.unzExec) {
        std::fprintf(stderr, "cannot load the engine: %s\n", dlerror());
        return 1;
    }
    std::printf(
        "median of %d run(s); ratio = engine / Info-ZIP; targets: add at most 0.60, archive at most 1.02\n", runs);
    for (int mebibytes : sizes)
        run(engine, mebibytes, runs);
    dlclose(engine.handle);
    return 0;
}
