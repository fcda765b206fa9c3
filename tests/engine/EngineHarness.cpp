#include "EngineHarness.h"

#include <QFile>
#include <QProcess>
#include <QtEndian>

#include <cstring>
#include <dlfcn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

QString EngineLib::file()
{
    return QStringLiteral(VELLUMIX_BIN_DIR "/libZipEngine179.so");
}

bool EngineLib::load(QString* error)
{
    handle = dlopen(file().toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        *error = QString::fromLocal8Bit(dlerror());
        return false;
    }
    zipExec = reinterpret_cast<ZE_ZipExecFunc>(dlsym(handle, "ZE_ZipExec"));
    unzExec = reinterpret_cast<ZE_UnzExecFunc>(dlsym(handle, "ZE_UnzExec"));
    version = reinterpret_cast<ZE_VersionFunc>(dlsym(handle, "ZE_Version"));
    privVersion = reinterpret_cast<ZE_PrivVersionFunc>(dlsym(handle, "ZE_PrivVersion"));
    abort = reinterpret_cast<ZE_AbortFunc>(dlsym(handle, "ZE_Abort"));
    path = reinterpret_cast<ZE_PathFunc>(dlsym(handle, "ZE_Path"));
    if (!zipExec || !unzExec || !version || !privVersion || !abort || !path) {
        *error = QStringLiteral("an entry point is missing");
        return false;
    }
    return true;
}

void EngineLib::unload()
{
    if (handle)
        dlclose(handle);
    handle = nullptr;
}

int32_t Recorder::callback(void* caller, CallbackRecord* record)
{
    return static_cast<Recorder*>(caller)->handle(record);
}

int32_t Recorder::handle(CallbackRecord* record)
{
    CallbackEvent event;
    event.action = record->Action & 0x3F;
    event.arg1 = record->Arg1;
    event.text = record->Text ? QByteArray(record->Text) : QByteArray();
    event.size = record->Data.Item.SizeLow | (quint64(record->Data.Item.SizeHigh) << 32);
    event.arg3 = record->Data.Item.Arg3;
    events.append(event);

    if (event.action == ZA_OperationKey)
        operationKey = record->Arg1;
    if (event.action == ZA_Password) {
        QByteArray answer = passwords.isEmpty() ? QByteArray() : passwords.takeFirst().toUtf8();
        if (answer.isEmpty()) {
            record->Action = ZE_CB_SKIP;
            record->Arg1 = 0;
        } else {
            std::memcpy(record->Data.Reply, answer.constData(), size_t(answer.size()) + 1);
            record->Action = ZE_CB_ACCEPT;
        }
    }
    if (event.action == ZA_CrcError)
        record->Action = acceptCrc ? ZE_CB_ACCEPT : ZE_CB_SKIP_ALL;
    if (event.action == ZA_OutputMemory && outputMemory) {
        outputMemory->resize(qsizetype(event.size));
        record->Data.Item.Text2 = outputMemory->data();
        record->Action = ZE_CB_ACCEPT;
    }
    if (event.action == stopAction && stopPassing-- == 0) {
        stopAction = -1;
        if (throwThere)
            throw std::runtime_error("handler failed");
        if (abortThere)
            engine->abort(operationKey);
        return stopResult;
    }
    return 0;
}

QList<CallbackEvent> Recorder::ofAction(int action) const
{
    QList<CallbackEvent> found;
    for (const CallbackEvent& event : events) {
        if (event.action == action)
            found.append(event);
    }
    return found;
}

int32_t runAdd(EngineLib& engine, Recorder& recorder, const AddRequest& request)
{
    recorder.engine = &engine;
    QByteArray archive = request.archive.toLocal8Bit();
    FileSpecRecord spec {};
    spec.Spec = request.name.constData();
    spec.Encrypt = request.encrypt ? ZE_TRUE : ZE_FALSE;
    ZipCommandRecord record {};
    record.Caller = &recorder;
    record.Version = ZE_RECORD_VERSION;
    record.Callback = &Recorder::callback;
    record.Password = request.password.isEmpty() ? nullptr : request.password.constData();
    record.StoreSuffixes = request.storeSuffixes.isEmpty() ? nullptr : request.storeSuffixes.constData();
    record.Encrypt = request.encrypt ? ZE_TRUE : ZE_FALSE;
    record.NoSeparateDirs = ZE_TRUE;
    record.Reserved56 = -1;
    record.Level = request.level;
    record.NoDirNames = ZE_TRUE;
    record.NotSafe = ZE_TRUE;
    record.FileSpecCount = 1;
    record.ArchiveName = archive.constData();
    record.TempDir = request.tempDir.isEmpty() ? nullptr : request.tempDir.constData();
    record.FileSpecs = &spec;
    record.InputFromMemory = ZE_TRUE;
    record.InputMemory = request.data.constData();
    record.InputSize = quint32(request.data.size());
    record.Attributes = request.attributes;
    record.DosDateTime = request.dosDateTime;
    record.Version2 = ZE_RECORD_VERSION;
    record.Check = ZE_RECORD_CHECK;
    if (request.tweak)
        request.tweak(record);
    return engine.zipExec(&record);
}

int32_t runExtract(
    EngineLib& engine, Recorder& recorder, const ExtractRequest& request, QByteArray& output, quint32 expectedSize)
{
    recorder.engine = &engine;
    QByteArray archive = request.archive.toLocal8Bit();
    ExtractSpecRecord spec {};
    spec.Spec = request.name.constData();
    UnzipCommandRecord record {};
    record.Caller = &recorder;
    record.Version = ZE_RECORD_VERSION;
    record.Callback = &Recorder::callback;
    record.Password = request.password.constData();
    record.Test = request.test ? ZE_TRUE : ZE_FALSE;
    record.Reserved44 = -1;
    record.SpecCount = 1;
    record.ArchiveName = archive.constData();
    record.ExtractSpecs = &spec;
    record.OutputToMemory = ZE_TRUE;
    if (request.askMemory) {
        recorder.outputMemory = &output;
    } else {
        output.fill('\xEE', qsizetype(expectedSize));
        record.OutputMemory = output.data();
        record.OutputSize = expectedSize;
    }
    record.PasswordRequests = request.passwordRequests;
    record.Check = ZE_RECORD_CHECK;
    if (request.tweak)
        request.tweak(record);
    return engine.unzExec(&record);
}

int runTool(const QString& program, const QStringList& arguments, QByteArray* output, const QString& workDir)
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.start(program, arguments);
    if (!process.waitForStarted(-1) || !process.waitForFinished(-1))
        return -1;
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray rawEntryData(const QString& archive, const QByteArray& name)
{
    const QByteArray zip = readFile(archive);
    auto u16 = [&zip](qsizetype at) { return qFromLittleEndian<quint16>(zip.constData() + at); };
    auto u32 = [&zip](qsizetype at) { return qFromLittleEndian<quint32>(zip.constData() + at); };
    qsizetype end = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (end < 0 || end + 22 > zip.size())
        return {};
    qsizetype at = u32(end + 16);
    for (int i = 0; i < u16(end + 10) && at + 46 <= zip.size(); ++i) {
        const quint16 nameLength = u16(at + 28);
        const qsizetype next = at + 46 + nameLength + u16(at + 30) + u16(at + 32);
        if (zip.mid(at + 46, nameLength) == name) {
            const qsizetype local = u32(at + 42);
            const qsizetype data = local + 30 + u16(local + 26) + u16(local + 28);
            return zip.mid(data, u32(at + 20));
        }
        at = next;
    }
    return {};
}

int32_t runInChild(const std::function<int32_t()>& fn)
{
    pid_t child = fork();
    if (child == 0) {
        int32_t result = fn();
        _exit(result + 100);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return INT32_MIN;
    return WEXITSTATUS(status) - 100;
}
