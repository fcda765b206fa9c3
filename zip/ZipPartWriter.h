#pragma once

#include "zip/ZipPartSet.h"
#include "zip/ZipRecords.h"

#include <QDateTime>

#include <memory>

class TZipCore;
struct TZipSettings;

// Writes a single-file archive onto the parts of a multi-part set. On a fixed
// drive every part it replaces is kept aside until the whole set is written,
// so a failure, or a kill, puts the old set back as it was.
class TZipPartWriter
{
public:
    TZipPartWriter(TZipPartSet& parts, TZipCore& core, const TZipSettings& settings, const QString& target);

    // The source must exist and the target must be writable (11001, 11009, 11051).
    void CheckTarget(const QString& source);
    // Writes the source, whose end record and comment are given, onto parts.
    void Run(const QString& source, const ZipEndOfCentral& eoc, const QByteArray& comment);
    // Keeps the new set and drops what was kept aside, or puts the old set back.
    void Finish(bool success);
    // An existing file of the target's ".zip" name was kept; the last part has a name of its own.
    bool ZipNameKept() const { return m_zipNameKept; }

private:
    struct Place
    {
        int disk;
        qint64 offset;
    };

    Place Write(const char* data, qint64 size, bool unsplit);
    void NextPart();
    void OpenPart();
    void ClosePart();
    QString PartName() const;
    void DecideStatus(const QString& name, bool& erase);
    void EraseDisk();
    void KeepAside(const QString& name);
    bool UsableSpace(qint64& usable);
    void CopyData(QFile& source, qint64 size);
    void RenameLastPart();

    TZipPartSet& m_parts;
    TZipCore& m_core;
    const TZipSettings& m_settings;
    QString m_target;
    QDateTime m_date;
    qint64 m_sourceSize = 0;
    TZipPartSet::NameScheme m_scheme = TZipPartSet::nsUndetermined;
    std::unique_ptr<QFile> m_part;
    qint64 m_room = 0;
    bool m_yesToAll = false;
    bool m_zipNameKept = false;
    TZipPartJournal m_journal;
};
