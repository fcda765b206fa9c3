#pragma once

#include "engine/ZipEngineRecords.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The engine library as the program loads it: dlopen and the six entry points.
struct EngineLib
{
    void* handle = nullptr;
    ZE_ZipExecFunc zipExec = nullptr;
    ZE_UnzExecFunc unzExec = nullptr;
    ZE_VersionFunc version = nullptr;
    ZE_PrivVersionFunc privVersion = nullptr;
    ZE_AbortFunc abort = nullptr;
    ZE_PathFunc path = nullptr;

    static QString file();
    bool load(QString* error);
    void unload();
};

struct CallbackEvent
{
    int action = 0;
    int arg1 = 0;
    QByteArray text;
    quint64 size = 0;
    int arg3 = 0;
};

// Answers the engine's callbacks from a script and records every call.
struct Recorder
{
    EngineLib* engine = nullptr;
    QList<CallbackEvent> events;
    QStringList passwords; // answers to action 8 in order; an empty one refuses
    bool acceptCrc = false;
    QByteArray* outputMemory = nullptr; // resized on action 13
    int stopAction = -1; // at the first callback with this action...
    int stopPassing = 0; // ...after letting this many of them pass...
    int stopResult = 0; // ...return this, or
    bool abortThere = false; // ...call ZE_Abort with the operation key, or
    bool throwThere = false; // ...throw
    int operationKey = 0;

    static int32_t callback(void* caller, CallbackRecord* record);
    int32_t handle(CallbackRecord* record);
    QList<CallbackEvent> ofAction(int action) const;
    int count(int action) const { return static_cast<int>(ofAction(action).size()); }
};

// The records as the worker fills them for one memory add or extract.
struct AddRequest
{
    QString archive;
    QByteArray name;
    QByteArray data;
    QByteArray password;
    bool encrypt = true;
    int level = 9;
    QByteArray storeSuffixes = ".gif:.png:.z:.zip:.zoo:.arc:.lzh:.arj:.taz:.tgz:.lha:.rar:.ace:.cab:.gz:.gzip:.jar:"
                               ".exe:.jpg:.jpeg:.7zp:.mp3:.wmv:.wma:.dvr-ms:.avi";
    QByteArray tempDir;
    quint32 dosDateTime = (22705u << 16) | 21135u; // 2024-05-17 10:20:30
    quint32 attributes = 32;
    std::function<void(ZipCommandRecord&)> tweak;
};

struct ExtractRequest
{
    ExtractRequest(QString archive_, QByteArray name_, QByteArray password_ = {}, int passwordRequests_ = 0)
        : archive(std::move(archive_))
        , name(std::move(name_))
        , password(std::move(password_))
        , passwordRequests(passwordRequests_)
    { }

    QString archive;
    QByteArray name;
    QByteArray password;
    int passwordRequests = 0;
    bool test = false;
    bool askMemory = false; // pass no output memory, so the engine asks through action 13
    std::function<void(UnzipCommandRecord&)> tweak;
};

int32_t runAdd(EngineLib& engine, Recorder& recorder, const AddRequest& request);
int32_t runExtract(
    EngineLib& engine, Recorder& recorder, const ExtractRequest& request, QByteArray& output, quint32 expectedSize);

// Runs an external program; returns its exit code (-1 when it did not run) and its standard output.
int runTool(
    const QString& program, const QStringList& arguments, QByteArray* output = nullptr, const QString& workDir = {});

QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& data);
// The stored (compressed, encrypted) bytes of an entry, located through the central directory.
QByteArray rawEntryData(const QString& archive, const QByteArray& name);
// Runs fn in a child process (optionally under another user id) and returns its result.
int32_t runInChild(const std::function<int32_t()>& fn);
