#include "zip/ZipMsgStr.h"
#include "zip/ZipWorker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>

namespace
{
const QString& folder()
{
    static const QString path = [] {
        const QString dir
            = QDir::tempPath() + QStringLiteral("/vellumix-fuzz-%1").arg(QCoreApplication::applicationPid());
        QDir().mkpath(dir);
        return dir;
    }();
    return path;
}
} // namespace

// Lists, probes, searches the end record of and joins one input as an archive.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString archive = folder() + QStringLiteral("/input.zip");
    {
        QFile file(archive);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    TZipWorker worker(nullptr);
    worker.SetUnattended(true);
    worker.Activate();
    worker.SetZipFileName(archive);
    for (int i = 0; i < worker.Count(); ++i)
        (void)worker.Entry(i).FileName.size();
    worker.UseDirOnlyEntries = true;
    worker.CodePage = CodePageOpts::cpOEM;
    worker.SetZipFileName(archive);
    (void)worker.ProbeArchiveFile(archive);

    ZipEndOfCentral eoc;
    worker.SetPartPath(archive);
    try {
        worker.FindEndRecord(eoc, true);
    } catch (const EZipArchiver&) { }
    worker.ClosePart();

    QString target = folder() + QStringLiteral("/joined.zip");
    if (worker.ReadSpan(archive, target, true) == 0)
        QFile::remove(target);
    return 0;
}
