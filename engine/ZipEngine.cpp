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

// Runs one command. No exception leaves it: failures of the engine itself become statuses, and
// an exception thrown by the caller's own callback, once everything is cleaned up, ZS_Exception.
template <typename Record, typename Run> int32_t execute(Record* record, bool isZip, Run run) noexcept
{
    try {
        EngineChannel channel(record->Callback, record->Caller, record->Handle, isZip);
        const int32_t status = run(*record, channel);
        return channel.callerException() ? int32_t(ZS_Exception) : status;
    } catch (const std::bad_alloc&) {
        return ZS_NoMemory;
    } catch (...) {
        return ZS_Aborted;
    }
}

// Empty when it cannot be told.
std::string ownPath() noexcept
{
    try {
        Dl_info info;
        if (dladdr(reinterpret_cast<void*>(&ownPath), &info) == 0 || !info.dli_fname)
            return {};
        char resolved[PATH_MAX];
        if (realpath(info.dli_fname, resolved))
            return resolved;
        return info.dli_fname;
    } catch (...) {
        return {};
    }
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
    try {
        ZipEngine::EngineChannel::abort(operationKey);
    } catch (...) {
        // A key that cannot be marked leaves its command running; the command itself still ends.
        return ZS_Exception;
    }
    return 0;
}

ZE_EXPORT const char* ZE_Path(void)
{
    static const std::string path = ZipEngine::ownPath();
    return path.empty() ? "libZipEngine179.so" : path.c_str();
}
