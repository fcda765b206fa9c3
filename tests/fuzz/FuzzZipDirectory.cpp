#include "zip/ZipMsgStr.h"
#include "zip/ZipRecords.h"
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

// The record parsers alone, at every place the input carries one of their signatures.
void parseRecords(const QByteArray& input)
{
    ZipByteReader scan(input);
    for (qsizetype at = 0; at + 4 <= input.size(); ++at) {
        switch (scan.u32At(at)) {
        case ZipCentralHeader::Signature: {
            ZipCentralHeader header;
            if (header.Parse(input.mid(at, ZipCentralHeader::Size)))
                header.Relocate(1, quint32(at));
            (void)header.TailSize();
            break;
        }
        case ZipLocalHeader::Signature: {
            ZipLocalHeader header;
            (void)header.Parse(input.mid(at, ZipLocalHeader::Size));
            break;
        }
        case ZipEndOfCentral::Signature: {
            ZipEndOfCentral record;
            if (record.Parse(input.constData() + at, input.size() - at))
                (void)record.Raw();
            break;
        }
        default:
            break;
        }
    }
    (void)ZipEndOfCentral::FindBackwards(input, input.size());
}
} // namespace

// Parses the records of, lists, probes, searches the end record of and joins one input as an archive.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    parseRecords(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
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
    TZipSettings settings;
    settings.Unattended = true;
    settings.UseDirOnlyEntries = true;
    settings.CodePage = CodePageOpts::cpOEM;
    worker.TakeSettings(settings);
    worker.SetZipFileName(archive);
    (void)worker.ProbeArchiveFile(archive);

    ZipEndOfCentral eoc;
    worker.Parts().SetPath(archive);
    try {
        worker.FindEndRecord(eoc, true);
    } catch (const EZipArchiver&) { }
    worker.Parts().Close();

    QString target = folder() + QStringLiteral("/joined.zip");
    if (worker.ReadSpan(archive, target, true) == 0)
        QFile::remove(target);
    return 0;
}
