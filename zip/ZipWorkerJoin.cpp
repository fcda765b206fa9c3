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
            throw EZipArchiver(11010, true);
        Report(zacXProgress, 0, QString(), chunk);
        if (Cancel())
            throw EZipArchiver(11007, true);
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
                throw EZipArchiver(11027, true);
        }
        return ReadSpanBody(source, target);
    });
    m_parts.Close();
    if (result != 0 && !target.isEmpty()) {
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
    if (located < 0)
        return -9;
    if (located == 1)
        throw EZipArchiver(11007, true);
    const QDateTime sourceDate = QFileInfo(m_parts.Path()).lastModified();
    const int lastDisk = eoc.ThisDiskNo;
    m_parts.SetLastDiskNumber(lastDisk);
    m_parts.SetDiskNumber(lastDisk);
    const QByteArray comment = FZipComment;
    const qint64 endOffset = FEOCOffset;

    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EZipArchiver(11009, true);

    qint64 centralStart = eoc.CentralOffset;
    if (eoc.CentralDiskNo != eoc.ThisDiskNo)
        m_parts.GetNewDisk(eoc.CentralDiskNo);
    else
        centralStart = endOffset - qint64(eoc.CentralSize);
    const int centralDisk = m_parts.DiskNumber();
    if (centralStart < 0 || !m_parts.File()->seek(centralStart))
        throw EZipArchiver(11008, true);

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
            throw EZipArchiver(11017, true);
        item.CompressedSize = entry.CompressedSize;
        const qint64 skip = qint64(entry.ExtraLength) + entry.CommentLength;
        if (m_parts.File()->read(skip).size() != skip)
            throw EZipArchiver(11013, true);
        expected += qint64(entry.NameLength) + entry.ExtraLength + entry.CompressedSize + ZipLocalHeader::Size
            + ((entry.Flags & ZipRecords::GeneralFlagDataDescriptor) ? ZipRecords::DataDescriptorSize : 0);
    }

    m_parts.GetNewDisk(0);
    Report(zacXItem, kJoiningItem, LoadMessageText(11410), expected);
    if (ZipRecords::SignatureOf(m_parts.File()->read(4)) != ZipRecords::MultiPartMarker)
        throw EZipArchiver(11031, true);
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        QByteArray raw = m_parts.File()->read(ZipLocalHeader::Size);
        if (raw.isEmpty() && m_parts.File()->atEnd() && m_parts.DiskNumber() < lastDisk) {
            m_parts.GetNewDisk(m_parts.DiskNumber() + 1);
            raw = m_parts.File()->read(ZipLocalHeader::Size);
        }
        ZipLocalHeader local;
        if (!local.Parse(raw))
            throw EZipArchiver(11012, true);
        if (!local.SignatureOk)
            throw EZipArchiver(11014, true);
        const QByteArray name = m_parts.File()->read(local.NameLength);
        if (name.size() != local.NameLength)
            throw EZipArchiver(11016, true);
        // Two entries of one name each take their own item.
        int index = items.IndexOf(name);
        while (index >= 0 && placed[size_t(index)])
            index = items.IndexOf(name, index + 1);
        if (index < 0)
            throw EZipArchiver(11026, true);
        placed[size_t(index)] = true;
        auto& item = items.Item(index);
        item.DiskNumber = 0;
        item.HeaderOffset = out.pos();
        Report(zacMessage, 0,
            LoadMessageText(10105) + QString::fromUtf8(name).replace(QLatin1Char('/'), QLatin1Char('\\')), 0);
        if (out.write(raw) != raw.size() || out.write(name) != name.size())
            throw EZipArchiver(11028, true);
        CopyBlock(out, local.ExtraLength, 11018, lastDisk);
        CopyBlock(out, local.CompressedSize != 0 ? local.CompressedSize : item.CompressedSize, 11021, lastDisk);
        if (local.HasDataDescriptor())
            CopyBlock(out, ZipRecords::DataDescriptorSize, 11020, lastDisk);
    }

    if (m_parts.DiskNumber() != centralDisk)
        m_parts.GetNewDisk(centralDisk);
    if (!m_parts.File()->seek(centralStart))
        throw EZipArchiver(11008, true);
    const qint64 centralOut = out.pos();
    disk = m_parts.DiskNumber();
    for (int i = 0; i < eoc.TotalEntries; ++i) {
        ZipCentralHeader header = ReadCentralHeader(disk, lastDisk);
        const qint64 offset = items.Item(i).HeaderOffset;
        if (offset > qint64(0xFFFFFFFF))
            throw EZipArchiver(10205, true);
        header.Relocate(0, quint32(offset));
        const QByteArray name = m_parts.File()->read(header.Fields.NameLength);
        if (name.size() != header.Fields.NameLength)
            throw EZipArchiver(11017, true);
        if (out.write(header.Raw) != header.Raw.size() || out.write(name) != name.size())
            throw EZipArchiver(11029, true);
        CopyBlock(out, header.Fields.ExtraLength, 11019, lastDisk);
        CopyBlock(out, header.Fields.CommentLength, 11022, lastDisk);
    }
    if (out.pos() > qint64(0xFFFFFFFF))
        throw EZipArchiver(10205, true);
    ZipEndOfCentral joined = eoc;
    joined.ThisDiskNo = 0;
    joined.CentralDiskNo = 0;
    joined.CentralOffset = quint32(centralOut);
    joined.ZipCommentLen = quint16(comment.size());
    if (out.write(joined.Raw()) != ZipEndOfCentral::Size)
        throw EZipArchiver(11030, true);
    if (out.write(comment) != comment.size())
        throw EZipArchiver(11023, true);
    out.setFileTime(sourceDate, QFileDevice::FileModificationTime);
    out.close();
    return 0;
}
