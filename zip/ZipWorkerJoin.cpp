#include "zip/ZipWorker.h"

#include "platform/Drives.h"
#include "zip/ZipMsgStr.h"

#include <QDateTime>
#include <QFileInfo>

#include <new>

namespace
{
constexpr int kJoiningItem = 10;
} // namespace

void TZipWorker::CopyBlock(QFile& target, qint64 size, int errorId, int lastDisk)
{
    char buffer[ZipRecords::CopyBlockSize];
    while (size > 0) {
        const qint64 chunk = std::min(size, ZipRecords::CopyBlockSize);
        qint64 done = 0;
        while (done < chunk) {
            const qint64 got = m_parts.File()->read(buffer + done, chunk - done);
            if (got < 0)
                throw EZipArchiver(errorId, true);
            done += got;
            // A part that ends exactly here continues on the next disk.
            if (done < chunk) {
                if (!m_parts.File()->atEnd() || m_parts.DiskNumber() >= lastDisk)
                    throw EZipArchiver(errorId, true);
                m_parts.GetNewDisk(m_parts.DiskNumber() + 1);
            }
        }
        if (target.write(buffer, chunk) != chunk)
            throw EZipArchiver(ZipMsg::WriteError, true);
        Report(zacXProgress, 0, QString(), chunk);
        if (Cancel())
            throw EZipArchiver(ZipMsg::UserCancelled, true);
        size -= chunk;
    }
}

int TZipWorker::ReadSpan(const QString& source, QString& target, [[maybe_unused]] bool joining)
{
    m_parts.SetDiskNumber(-1);
    m_parts.Close();
    const int result = RunSpanStep([&] {
        m_parts.SetDriveFixed(Drives::isFixedKind(Drives::driveType(source)));
        if (!target.isEmpty() && !QFileInfo(target).fileName().isEmpty()) {
            if (QFileInfo::exists(target)) {
                if (m_settings.HowToDelete == TDeleteOpts::htdFinal || !QFile::moveToTrash(target))
                    QFile::remove(target);
            }
            target = ZipWithExtension(target, QStringLiteral(".zip"));
        } else {
            target = MakeTempName();
            if (target.isEmpty())
                throw EZipArchiver(ZipMsg::NoTemporaryFile, true);
        }
        return ReadSpanBody(source, target);
    });
    m_parts.Close();
    if (result != srOk && !target.isEmpty()) {
        QFile::remove(target);
        target.clear();
    }
    return result;
}

int TZipWorker::ReadSpanBody(const QString& source, const QString& target)
{
    ZipEndOfCentral eoc;
    const int located = LocateLastPart(source, eoc, false);
    // The search has reported why.
    if (located == lpFailed)
        return srOtherError;
    if (located == lpNotFound)
        throw EZipArchiver(ZipMsg::UserCancelled, true);
    const QDateTime sourceDate = QFileInfo(m_parts.Path()).lastModified();
    const int lastDisk = eoc.ThisDiskNo;
    m_parts.SetLastDiskNumber(lastDisk);
    m_parts.SetDiskNumber(lastDisk);
    const QByteArray comment = m_zipComment;
    const qint64 endOffset = m_eocOffset;

    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EZipArchiver(ZipMsg::CreateOutputFailed, true);

    qint64 centralStart = eoc.CentralOffset;
    if (eoc.CentralDiskNo != eoc.ThisDiskNo)
        m_parts.GetNewDisk(eoc.CentralDiskNo);
    else
        centralStart = endOffset - qint64(eoc.CentralSize);
    const int centralDisk = m_parts.DiskNumber();
    if (centralStart < 0 || !m_parts.File()->seek(centralStart))
        throw EZipArchiver(ZipMsg::SeekError, true);

    TZipDataList items(eoc.TotalEntries);
    std::vector<bool> placed(size_t(eoc.TotalEntries), false);
    qint64 expected = qint64(eoc.CentralSize) + ZipEndOfCentral::Size + eoc.ZipCommentLen;
    int disk = m_parts.DiskNumber();
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        const ZipDirEntry entry = ReadCentralHeader(disk, lastDisk).Fields;
        auto& item = items.Item(i);
        item.NameLength = entry.NameLength;
        item.Name = m_parts.File()->read(entry.NameLength);
        if (item.Name.size() != entry.NameLength)
            throw EZipArchiver(ZipMsg::CentralNameReadError, true);
        item.CompressedSize = entry.CompressedSize;
        const qint64 skip = qint64(entry.ExtraLength) + entry.CommentLength;
        if (m_parts.File()->read(skip).size() != skip)
            throw EZipArchiver(ZipMsg::CentralHeaderReadError, true);
        expected += qint64(entry.NameLength) + entry.ExtraLength + entry.CompressedSize + ZipLocalHeader::Size
            + ((entry.Flags & ZipRecords::GeneralFlagDataDescriptor) ? ZipRecords::DataDescriptorSize : 0);
    }

    m_parts.GetNewDisk(0);
    Report(zacXItem, kJoiningItem, LoadMessageText(ZipMsg::ItemJoining), expected);
    if (ZipRecords::SignatureOf(m_parts.File()->read(4)) != ZipRecords::MultiPartMarker)
        throw EZipArchiver(ZipMsg::MultiPartMarkerError, true);
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        QByteArray raw = m_parts.File()->read(ZipLocalHeader::Size);
        if (raw.isEmpty() && m_parts.File()->atEnd() && m_parts.DiskNumber() < lastDisk) {
            m_parts.GetNewDisk(m_parts.DiskNumber() + 1);
            raw = m_parts.File()->read(ZipLocalHeader::Size);
        }
        ZipLocalHeader local;
        if (!local.Parse(raw))
            throw EZipArchiver(ZipMsg::LocalHeaderReadError, true);
        if (!local.SignatureOk)
            throw EZipArchiver(ZipMsg::LocalSignatureWrong, true);
        const QByteArray name = m_parts.File()->read(local.NameLength);
        if (name.size() != local.NameLength)
            throw EZipArchiver(ZipMsg::LocalNameReadError, true);
        // Two entries of one name each take their own item.
        int index = items.IndexOf(name);
        while (index >= 0 && placed[size_t(index)])
            index = items.IndexOf(name, index + 1);
        if (index < 0)
            throw EZipArchiver(ZipMsg::LocalHeaderNotFound, true);
        placed[size_t(index)] = true;
        auto& item = items.Item(index);
        item.DiskNumber = 0;
        item.HeaderOffset = out.pos();
        Report(zacMessage, 0,
            LoadMessageText(ZipMsg::Copying) + QString::fromUtf8(name).replace(QLatin1Char('/'), QLatin1Char('\\')), 0);
        if (out.write(raw) != raw.size() || out.write(name) != name.size())
            throw EZipArchiver(ZipMsg::LocalHeaderWriteError, true);
        CopyBlock(out, local.ExtraLength, ZipMsg::LocalExtraReadError, lastDisk);
        CopyBlock(out, local.CompressedSize != 0 ? local.CompressedSize : item.CompressedSize,
            ZipMsg::ZippedDataReadError, lastDisk);
        if (local.HasDataDescriptor())
            CopyBlock(out, ZipRecords::DataDescriptorSize, ZipMsg::DataDescriptorError, lastDisk);
    }

    if (m_parts.DiskNumber() != centralDisk)
        m_parts.GetNewDisk(centralDisk);
    if (!m_parts.File()->seek(centralStart))
        throw EZipArchiver(ZipMsg::SeekError, true);
    const qint64 centralOut = out.pos();
    disk = m_parts.DiskNumber();
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        ZipCentralHeader header = ReadCentralHeader(disk, lastDisk);
        const qint64 offset = items.Item(i).HeaderOffset;
        if (offset > qint64(0xFFFFFFFF))
            throw EZipArchiver(ZipMsg::FileOver4GB, true);
        header.Relocate(0, quint32(offset));
        const QByteArray name = m_parts.File()->read(header.Fields.NameLength);
        if (name.size() != header.Fields.NameLength)
            throw EZipArchiver(ZipMsg::CentralNameReadError, true);
        if (out.write(header.Raw) != header.Raw.size() || out.write(name) != name.size())
            throw EZipArchiver(ZipMsg::CentralHeaderWriteError, true);
        CopyBlock(out, header.Fields.ExtraLength, ZipMsg::CentralExtraReadError, lastDisk);
        CopyBlock(out, header.Fields.CommentLength, ZipMsg::FileCommentReadError, lastDisk);
    }
    if (out.pos() > qint64(0xFFFFFFFF))
        throw EZipArchiver(ZipMsg::FileOver4GB, true);
    ZipEndOfCentral joined = eoc;
    joined.ThisDiskNo = 0;
    joined.CentralDiskNo = 0;
    // The last part counted only its own share of the entries; one file holds them all.
    joined.CentralEntries = joined.TotalEntries;
    joined.CentralOffset = quint32(centralOut);
    joined.ZipCommentLen = quint16(comment.size());
    if (out.write(joined.Raw()) != ZipEndOfCentral::Size)
        throw EZipArchiver(ZipMsg::EndRecordWriteError, true);
    if (out.write(comment) != comment.size())
        throw EZipArchiver(ZipMsg::ArchiveCommentReadError, true);
    out.setFileTime(sourceDate, QFileDevice::FileModificationTime);
    out.close();
    return srOk;
}
