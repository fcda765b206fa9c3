#pragma once

#include "zip/ZipEngineBind.h"
#include "zip/ZipPartSet.h"
#include "zip/ZipRecords.h"
#include "zip/ZipSettings.h"
#include "zip/ZipTypes.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

struct TZipCommandBlock;

// The component's memory stream: entries are added from it and extracted into it.
class TZipStream : public QBuffer
{
public:
    TZipStream();
    void Clear();
    qint64 Size() const { return data().size(); }
};

// The component's worker: its settings as the façade last handed them over,
// the archive directory, multi-part handling and the add and extract commands.
class TZipWorker : public TZipEngineBind
{
public:
    // What ProbeArchiveFile finds in a file, as bits, or why it could not look.
    enum ProbeResult : int {
        pbExecutable = 0x01, // starts with "MZ"
        pbLocalHeader = 0x02, // starts with a local header
        pbMultiPartMarker = 0x04, // starts with the marker of a set's first part
        pbCentralHeader = 0x08, // starts with a central header
        pbEndsWithRecord = 0x10, // the end record and its comment end the file
        pbLocalAtOffset = 0x20, // a local header where the first central header says
        pbCentralAtOffset = 0x40, // a central header where the end record says
        pbEndRecord = 0x80,
        // The bits that do not depend on the directory's place.
        pbWithoutDirectory = 0x1F,
        // An executable whose directory is read from the file of the same name with ".zip".
        pbCompanionExecutable = pbExecutable | pbEndsWithRecord | pbCentralAtOffset | pbEndRecord,
        pbCannotOpen = -7,
        pbFailed = -9,
    };
    // Results of LocateLastPart.
    enum LocateResult : int { lpFound = 0, lpNotFound = 1, lpFailed = -1 };
    // Results of joining and splitting a set.
    enum SpanResult : int { srOk = 0, srComponentError = -7, srNoMemory = -8, srOtherError = -9 };

    explicit TZipWorker(QObject* master);
    ~TZipWorker() override;

    // Activation; becoming active runs a listing that was put off.
    bool Active() const { return m_active; }
    void Activate();
    void Deactivate();

    // Directory.
    int List();
    const QString& ZipFileName() const { return FZipFileName; }
    void SetZipFileName(const QString& name);
    int Count() const;
    const ZipDirEntry& Entry(int index) const { return m_entries.at(size_t(index)); }
    int DirOnlyCount() const { return FDirOnlyCount; }
    const QString& ArchiveComment() const { return FArchiveComment; }
    const QByteArray& RawComment() const { return m_zipComment; }
    qint64 ZipStartOffset() const { return FZipStartOffset; }
    int LastDiskNumber() const { return m_parts.LastDiskNumber(); }

    // The set the current part belongs to: part files, numbering, drive facts.
    TZipPartSet& Parts() { return m_parts; }
    const TZipPartSet& Parts() const { return m_parts; }

    int ProbeArchiveFile(const QString& path);
    // Opens the current part and reads its end record.
    bool FindEndRecord(ZipEndOfCentral& record, bool raise);
    int LocateLastPart(const QString& path, ZipEndOfCentral& record, bool quiet);
    // Probes the drive of the current part, or of the archive when there is none.
    bool ProbeDrive();
    int ReadSpan(const QString& source, QString& target, bool joining);
    // Copies a single-file archive onto the parts of a multi-part set.
    int WriteSpan(const QString& source, const QString& target);

    // Names and comments: OEM (code page 437) to text when the host, its version
    // and the code page setting ask for it; text to OEM and back.
    QString ConvertEntryText(const QByteArray& raw, quint8 host, quint8 version, bool utf8Flag = false) const;
    static QString OemToText(const QByteArray& raw);
    static QByteArray TextToOem(const QString& text);

    // Stream operations.
    int AddStreamEntry(const QString& name, quint32 dosDate, quint32 attributes);
    TZipStream* ExtractEntryToStream(const QString& name);
    TZipStream* EntryStream() const { return FEntryStream.get(); }
    int SuccessCount() const { return FSuccessCount; }

    // The settings of the running operation, a snapshot the façade hands over
    // before every operation; a temporary folder that cannot be used raises.
    const TZipSettings& Settings() const { return m_settings; }
    void TakeSettings(const TZipSettings& settings);
    // The file specs of the running operation; empty when it has ended.
    QStringList FSpecArgs;
    QStringList FSpecArgsExcl;
    const QString& Password() const { return FPassword; }
    void SetPassword(const QString& password) { FPassword = password; }
    void SetOwnerHandle(void* handle) { m_ownerHandle = handle; }

    void ResetState() override;

private:
    // The bodies of the engine commands.
    void ExtAdd(quint32 dosDate, quint32 attributes);
    void ExtExtract();
    // The add of a multi-part set: joined, added to and written out as parts again.
    int SpanAdd(quint32 dosDate, quint32 attributes);
    void ClearDirectory();
    void ReadDirectory(const ZipEndOfCentral& eoc);
    bool SearchEndRecord(ZipEndOfCentral& record, bool raise);
    int NumberedNamesSearch(const QString& base, ZipEndOfCentral& record, QString& found);
    ZipCentralHeader ReadCentralHeader(int& disk, int lastDisk);
    void CopyBlock(QFile& target, qint64 size, int errorId, int lastDisk);
    int ReadSpanBody(const QString& source, const QString& target);
    // Runs a step of joining or splitting a set: failures are reported and mapped
    // to a SpanResult; else the step's own result.
    int RunSpanStep(const std::function<int()>& step);

    TZipSettings m_settings;
    TZipPartSet m_parts;
    QString FPassword;
    void* m_ownerHandle = nullptr;
    bool m_active = false;
    bool m_listingDue = false;
    QString FZipFileName;
    std::vector<ZipDirEntry> m_entries;
    int FDirOnlyCount = 0;
    QByteArray m_zipComment;
    QString FArchiveComment;
    qint64 m_eocOffset = 0;
    qint64 m_fileSize = 0;
    qint64 m_centralStart = 0;
    quint32 m_centralOffset = 0;
    qint64 FZipStartOffset = 0;
    bool m_multiPart = false;
    bool m_firstPartOfSet = false;
    quint8 m_hostNum = 0;
    quint8 m_hostVer = 20;
    int FSuccessCount = 0;
    std::unique_ptr<TZipStream> FEntryStream;

    // The engine commands and the callback that serves them.
public:
    static int32_t EngineCallback(void* caller, CallbackRecord* record);
    bool AddBusy() const { return m_addBusy; }
    bool ExtractBusy() const { return m_extractBusy; }

private:
    void ValidateAdd(bool spanning);
    void FillZipCommand(TZipCommandBlock& block, const QString& archive, quint32 dosDate, quint32 attributes);
    // Fills the zip command for the entry stream, runs the engine on the archive and
    // reports what failed; the engine's count of entries added.
    int RunAddCommand(const QString& archive, quint32 dosDate, quint32 attributes);
    void ReportCommandError(const EZipArchiver& e);
    void HandleCallback(CallbackRecord& record);
    void PasswordCallback(CallbackRecord& record, const QString& name);
    // A text in the engine's encoding: UTF-8, or code page 437 with cpOEM; with a limit, at most
    // that many characters and bytes, never cut inside a character.
    QByteArray EngineText(const QString& text, int maxChars = -1) const;
    bool m_addBusy = false;
    bool m_extractBusy = false;
    bool m_handlerFailed = false;
    // What the engine extracts into; the entry stream takes it when the extract succeeded,
    // so a handler that clears or writes the stream meanwhile cannot pull it from under the engine.
    QByteArray m_output;
    // The last WriteSpan left an existing file of the archive's name as it was.
    bool m_zipNameKept = false;
    QByteArray m_extraData;
};
