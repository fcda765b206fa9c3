#include "engine/EngineCommands.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <new>
#include <string>

#define ZE_EXPORT extern "C" __attribute__((visibility("default")))

namespace ZipEngine
{

namespace
{

bool validZipRecord(const ZipCommandRecord* record)
{
    if (!record || record->Check != ZE_RECORD_CHECK || record->Version != ZE_RECORD_VERSION)
        return false;
    if (!record->ArchiveName || !*record->ArchiveName)
        return false;
    if (record->FileSpecCount < 1 || !record->FileSpecs || !record->FileSpecs[0].Spec)
        return false;
    if (record->InputFromMemory == 0)
        return false;
    return record->InputMemory || record->InputSize == 0;
}

bool validUnzipRecord(const UnzipCommandRecord* record)
{
    if (!record || record->Check != ZE_RECORD_CHECK || record->Version != ZE_RECORD_VERSION)
        return false;
    if (!record->ArchiveName || !*record->ArchiveName)
        return false;
    if (record->SpecCount < 1 || !record->ExtractSpecs || !record->ExtractSpecs[0].Spec)
        return false;
    return record->OutputToMemory != 0 || record->Test != 0;
}

// Runs one command. Failures of the engine itself become statuses; an exception thrown by the
// caller's own callback is rethrown once everything is cleaned up, for the caller to handle.
template <typename Record, typename Run> int32_t execute(Record* record, bool isZip, Run run)
{
    std::exception_ptr callerException;
    int32_t status;
    try {
        EngineChannel channel(record->Callback, record->Caller, record->Handle, isZip);
        status = run(*record, channel);
        callerException = channel.callerException();
    } catch (const std::bad_alloc&) {
        status = ZS_NoMemory;
    } catch (...) {
        status = ZS_Aborted;
    }
    if (callerException)
        std::rethrow_exception(callerException);
    return status;
}

std::string ownPath()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&ownPath), &info) == 0 || !info.dli_fname)
        return "libZipEngine179.so";
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved))
        return resolved;
    return info.dli_fname;
}

} // namespace

} // namespace ZipEngine

ZE_EXPORT int32_t ZE_ZipExec(ZipCommandRecord* record)
{
    if (!ZipEngine::validZipRecord(record))
        return ZS_InvalidRecord;
    return ZipEngine::execute(record, true, ZipEngine::addFromMemory);
}

ZE_EXPORT int32_t ZE_UnzExec(UnzipCommandRecord* record)
{
    if (!ZipEngine::validUnzipRecord(record))
        return ZS_InvalidRecord;
    return ZipEngine::execute(record, false, ZipEngine::extractToMemory);
}

ZE_EXPORT int32_t ZE_Version(void)
{
    return ZipEngine::Version;
}

ZE_EXPORT int32_t ZE_PrivVersion(void)
{
    return ZipEngine::PrivVersion;
}

ZE_EXPORT int32_t ZE_Abort(int32_t operationKey)
{
    ZipEngine::EngineChannel::abort(operationKey);
    return 0;
}

ZE_EXPORT const char* ZE_Path(void)
{
    static const std::string path = ZipEngine::ownPath();
    return path.c_str();
}
