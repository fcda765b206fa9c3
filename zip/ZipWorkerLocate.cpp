#include "zip/ZipWorker.h"

#include "platform/Drives.h"
#include "zip/ZipMsgStr.h"

#include <QFileInfo>

#include <algorithm>

namespace
{
constexpr int kGarbageLimit = 512;
constexpr quint8 kGarbageBelow = 0x2F;

QString stemOf(const QString& path)
{
    return ZipWithExtension(path, QString());
}

// Reports a component error in quiet searches that must still be shown.
struct ForcedReport : EZipArchiver
{
    using EZipArchiver::EZipArchiver;
};
} // namespace

int TZipWorker::ProbeArchiveFile(const QString& path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return pbCannotOpen;
    try {
        const qint64 size = file.size();
        int result = 0;
        const QByteArray head = file.read(4);
        const quint32 signature = ZipRecords::SignatureOf(head);
        if (head.size() == 4) {
            if (head.startsWith("MZ"))
                result = pbExecutable;
            else if (signature == ZipLocalHeader::Signature)
                result = pbLocalHeader;
            else if (signature == ZipCentralHeader::Signature)
                result = pbCentralHeader;
            else if (signature == ZipRecords::MultiPartMarker)
                result = pbMultiPartMarker;
        }
        auto centralChecks = [&](const ZipEndOfCentral& eoc) {
            ZipCentralHeader central;
            if (!file.seek(eoc.CentralOffset) || !central.Parse(file.read(ZipCentralHeader::Size))
                || !central.SignatureOk)
                return;
            result |= pbCentralAtOffset;
            if (central.Fields.DiskStart != eoc.ThisDiskNo)
                return;
            if (file.seek(central.Fields.LocalHeaderOffset)
                && ZipRecords::SignatureOf(file.read(4)) == ZipLocalHeader::Signature)
                result |= pbLocalAtOffset;
        };
        ZipEndOfCentral eoc;
        bool endAtEnd = false;
        if (size >= ZipEndOfCentral::Size && file.seek(size - ZipEndOfCentral::Size)) {
            const QByteArray raw = file.read(ZipEndOfCentral::Size);
            if (eoc.Parse(raw.constData(), raw.size())) {
                endAtEnd = true;
                result |= pbEndRecord;
                if (eoc.ZipCommentLen == 0)
                    result |= pbEndsWithRecord;
                if (eoc.ThisDiskNo == eoc.CentralDiskNo)
                    centralChecks(eoc);
            }
        }
        if (!endAtEnd || eoc.ThisDiskNo != eoc.CentralDiskNo) {
            result &= pbWithoutDirectory;
            const qint64 window = std::min(size, ZipEndOfCentral::MaxSearchWindow);
            QByteArray bytes;
            if (window >= ZipEndOfCentral::Size && file.seek(size - window))
                bytes = file.read(window);
            const qsizetype at = ZipEndOfCentral::FindBackwards(bytes, bytes.size());
            ZipEndOfCentral found;
            if (at >= 0 && found.Parse(bytes.constData() + at, bytes.size() - at)) {
                result |= pbEndRecord;
                if (at + ZipEndOfCentral::Size + found.ZipCommentLen == bytes.size())
                    result |= pbEndsWithRecord;
                centralChecks(found);
                if (found.ThisDiskNo != found.CentralDiskNo)
                    result &= pbWithoutDirectory;
            }
            if (endAtEnd)
                result |= pbEndRecord;
        }
        return result;
    } catch (...) {
        return pbFailed;
    }
}

bool TZipWorker::FindEndRecord(ZipEndOfCentral& record, bool raise)
{
    m_zipComment.clear();
    FArchiveComment.clear();
    m_eocOffset = 0;
    if (!m_parts.Open()) {
        ReportMessageId(ZipMsg::CannotOpenZip);
        if (raise)
            throw EZipArchiver(ZipMsg::InputMissing, true);
        return false;
    }
    const QByteArray start = m_parts.File()->read(8);
    ZipByteReader head(start);
    if (head.u32() == ZipRecords::MultiPartMarker && head.u32() == ZipLocalHeader::Signature) {
        m_firstPartOfSet = true;
        m_multiPart = true;
    }
    const qint64 size = m_parts.File()->size();
    const bool seekFailed = size < ZipEndOfCentral::Size || !m_parts.File()->seek(size - ZipEndOfCentral::Size);
    if (seekFailed || size > qint64(0xFFFFFFFF)) {
        m_parts.Close();
        if (Verbose())
            Report(zacMessage, 0,
                QStringLiteral("Opening EOC seek/size error ") + QString::number(size / 1048576) + QStringLiteral("Mb"),
                0);
        if (raise)
            throw EZipArchiver(seekFailed ? ZipMsg::NotAZipArchive : ZipMsg::FileOver4GB, true);
        return false;
    }
    m_fileSize = size;
    const QByteArray raw = m_parts.File()->read(ZipEndOfCentral::Size);
    if (record.Parse(raw.constData(), raw.size())) {
        m_eocOffset = size - ZipEndOfCentral::Size;
        return true;
    }
    return SearchEndRecord(record, raise);
}

bool TZipWorker::SearchEndRecord(ZipEndOfCentral& record, bool raise)
{
    const qint64 size = m_fileSize;
    try {
        const qint64 window = std::min(size, ZipEndOfCentral::MaxSearchWindow);
        if (!m_parts.File()->seek(size - window))
            throw EZipArchiver(ZipMsg::SeekError, true);
        const QByteArray bytes = m_parts.File()->read(window);
        if (bytes.size() != window)
            throw EZipArchiver(ZipMsg::EndRecordReadError, true);
        // The last 22 bytes were read already and hold no record.
        const qsizetype i = ZipEndOfCentral::FindBackwards(bytes, window - ZipEndOfCentral::Size - 1);
        if (i >= 0 && record.Parse(bytes.constData() + i, window - i)) {
            m_eocOffset = size - window + i;
            const qint64 commentAt = i + ZipEndOfCentral::Size;
            m_zipComment = bytes.mid(commentAt, record.ZipCommentLen);
            const qint64 trailing = window - commentAt - record.ZipCommentLen;
            if (trailing > 0) {
                m_fileSize -= trailing;
                const QByteArray tail = bytes.right(trailing);
                const bool harmless = trailing < kGarbageLimit
                    && std::all_of(tail.begin(), tail.end(), [](char c) { return quint8(c) < kGarbageBelow; });
                if (!harmless)
                    ReportMessageId(ZipMsg::GarbageWarning);
            }
            return true;
        }
    } catch (const EZipArchiver&) {
        if (raise) {
            m_parts.Close();
            throw;
        }
    }
    m_parts.Close();
    if (!raise)
        return false;
    const int disk = m_parts.DiskFromName();
    if (!m_firstPartOfSet && disk >= 1)
        throw EZipArchiver(ZipMsg::NthDiskOfSet, QVariantList { disk });
    if (m_firstPartOfSet)
        throw EZipArchiver(disk == 1 ? ZipMsg::FirstDiskOfSet : ZipMsg::FirstFileOfSet, true);
    throw EZipArchiver(ZipMsg::NotAZipArchive, true);
}

int TZipWorker::NumberedNamesSearch(const QString& base, ZipEndOfCentral& record, QString& found)
{
    for (int number = 1; number <= 999; ++number) {
        const QString name = base + TZipPartSet::ThreeDigits(number) + QStringLiteral(".zip");
        if (!QFileInfo::exists(name))
            return -1;
        m_parts.SetPath(name);
        const bool hasEnd = FindEndRecord(record, false);
        m_parts.Close();
        if (hasEnd) {
            if (record.ThisDiskNo != number - 1)
                return -1;
            found = name;
            return number - 1;
        }
    }
    return -1;
}

int TZipWorker::LocateLastPart(const QString& path, ZipEndOfCentral& record, bool quiet)
{
    try {
        const QString full = QFileInfo(path).absoluteFilePath();
        // A write of the set's parts that an earlier run did not finish is undone first.
        TZipPartJournal::Recover(full);
        const QString folder = QFileInfo(full).path();
        const QString extension = QStringLiteral(".") + QFileInfo(full).suffix().toUpper();
        m_parts.SetPath(full);
        m_parts.SetScheme(TZipPartSet::nsUndetermined);
        m_parts.Close();
        m_parts.SetDriveFixed(Drives::isFixedKind(Drives::driveType(full)));
        m_parts.ProbeDrive();
        bool derived = false;
        int expected = 0;
        if (!QFileInfo::exists(full)) {
            const QString base = stemOf(full);
            QString found;
            if (m_parts.DriveFixed()) {
                if (extension == QLatin1String(".ZIP"))
                    expected = NumberedNamesSearch(base, record, found);
                if (found.isEmpty()) {
                    if (quiet) {
                        m_parts.SetPath(QString());
                        return lpNotFound;
                    }
                    throw EZipArchiver(ZipMsg::CannotOpenZip, true);
                }
                if (QFileInfo::exists(ZipWithExtension(found, QStringLiteral(".z01"))))
                    throw EZipArchiver(ZipMsg::CannotOpenZip, true);
            } else {
                found = TZipPartSet::RemovableSearch(folder, QFileInfo(base).fileName());
                if (found.isEmpty()) {
                    if (quiet) {
                        m_parts.SetPath(QString());
                        return lpNotFound;
                    }
                    throw EZipArchiver(ZipMsg::CannotOpenZip, true);
                }
            }
            m_parts.SetPath(found);
            derived = true;
        }
        for (;;) {
            if (FindEndRecord(record, false)) {
                if (derived && !m_multiPart && record.ThisDiskNo == 0)
                    throw EZipArchiver(ZipMsg::CannotOpenZip, true);
                if (derived && m_parts.DriveFixed() && record.ThisDiskNo != expected)
                    throw EZipArchiver(ZipMsg::NotAZipArchive, true);
                return lpFound;
            }
            m_parts.Close();
            if (m_parts.DriveFixed()) {
                if (derived)
                    throw EZipArchiver(ZipMsg::CannotOpenZip, true);
                throw ForcedReport(ZipMsg::NotAZipArchive, true);
            }
            if (OnGetNextDisk) {
                bool abort = false;
                OnGetNextDisk(Master(), 0, 0, m_parts.DriveRoot(), abort);
                if (abort) {
                    m_parts.SetPath(QString());
                    return lpNotFound;
                }
            } else {
                m_parts.SetDiskNumber(-1);
                m_parts.WantNewDisk();
                m_parts.DiskPrompt();
            }
            m_parts.ProbeDrive();
            if (derived) {
                const QString found = TZipPartSet::RemovableSearch(folder, QFileInfo(stemOf(full)).fileName());
                if (found.isEmpty()) {
                    ReportMessageId(ZipMsg::CannotOpenZip);
                    m_parts.SetPath(QString());
                    return lpFailed;
                }
                m_parts.SetPath(found);
            }
        }
    } catch (const ForcedReport& e) {
        ReportException(e);
    } catch (const EZipArchiver& e) {
        if (!quiet)
            ReportException(e);
    }
    m_parts.SetPath(QString());
    m_parts.Close();
    return lpFailed;
}
