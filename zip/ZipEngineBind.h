#pragma once

#include "engine/ZipEngineRecords.h"
#include "zip/ZipCore.h"

#include <QByteArray>
#include <QString>

// Owns the zip engine library: finds and loads it while a reason to hold it
// exists, checks its version, runs its two commands and unloads it again.
class TZipEngineBind : public TZipCore
{
public:
    enum LoadReason : quint8 { lrCall = 1, lrOperation = 2, lrProperty = 4 };
    static constexpr quint8 LoadReasonMask = 7;
    static constexpr int MinEngineVersion = 179;
    static constexpr int MaxEngineVersion = 300;
    static constexpr int MinPrivVersion = 1790000;

    explicit TZipEngineBind(QObject* master);
    ~TZipEngineBind() override;

    static QString EngineFileName();
    // Joins a folder and a name with exactly one '/' at the seam.
    static QString PathConcat(const QString& folder, const QString& name);

    int Load(quint8 reason);
    int Release(quint8 reason);
    int LoadForOperation();
    void ReleaseForOperation();
    int RunZip(ZipCommandRecord* record);
    int RunUnzip(UnzipCommandRecord* record);
    void AbortEngine();
    bool IsLoaded() const { return FLibraryHandle != nullptr; }
    void SetDllLoaded(bool value);
    void SetDllDirectory(const QString& value);

    void ResetState() override;

    const QString& DLLDirectory() const { return FDLLDirectory; }
    const QString& LibraryName() const { return FLibraryName; }
    const QString& ExtractedPath() const { return FExtractedPath; }
    bool DeleteExtractedOnUnload() const { return FDeleteExtractedOnUnload; }
    int EngineVersion() const { return FEngineVersion; }
    int EnginePrivVersion() const { return FEnginePrivVersion; }
    quint8 LoadReasons() const { return FLoadReasons; }
    int OperationKey() const { return FOperationKey; }
    // The engine hands the key to the callback during a command.
    void SetOperationKey(int key) { FOperationKey = key; }

protected:
    int LoadLibraryFile(const QString& path, bool mustRaise);
    QString ExtractResourceLibrary();
    void DeleteExtractedLibrary();
    void Unload();
    void CheckEngineResult(int status);

    // The build number of a carried engine copy and the copy itself; the
    // program carries neither, tests may register both as Qt resources.
    virtual int ResourceVersion() const;
    virtual QByteArray ResourceLibrary() const;

private:
    void FreeLibrary();
    void ClearEntryPoints();
    template <typename Record, typename Exec> int RunCommand(Record* record, Exec TZipEngineBind::*entry);

    void* FLibraryHandle = nullptr;
    QString FLibraryName;
    int FEngineVersion = 0;
    int FEnginePrivVersion = 0;
    ZE_UnzExecFunc m_unzExec = nullptr;
    ZE_ZipExecFunc m_zipExec = nullptr;
    ZE_VersionFunc m_version = nullptr;
    ZE_PrivVersionFunc m_privVersion = nullptr;
    ZE_AbortFunc m_abort = nullptr;
    ZE_PathFunc m_path = nullptr;
    quint8 FLoadReasons = 0;
    QString FDLLDirectory;
    QString FExtractedPath;
    bool FDeleteExtractedOnUnload = false;
    int FOperationKey = 0;
};
