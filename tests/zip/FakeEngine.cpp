// A stand-in for the zip engine library with a version chosen at build time. A command calls
// back once with its operation key and returns the status written as the record's password,
// or -1 when ZE_Abort was called with that key meanwhile.
#include "engine/ZipEngineRecords.h"

#include <dlfcn.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{
int32_t runningKey = 0;
bool aborted = false;
int32_t nextKey = 1000;

// Incompressible weight, so that even a packed copy of the file is large enough to count as
// a carried engine.
constexpr std::array<unsigned char, FAKE_PADDING> makePadding()
{
    std::array<unsigned char, FAKE_PADDING> bytes {};
    uint32_t state = 2463534242u;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<unsigned char>(state >> 24);
    }
    return bytes;
}
__attribute__((used)) constexpr std::array<unsigned char, FAKE_PADDING> padding = makePadding();

int32_t run(ZE_Callback callback, void* caller, const char* statusText, bool isZip)
{
    runningKey = ++nextKey;
    aborted = false;
    if (callback) {
        CallbackRecord record;
        std::memset(&record, 0, sizeof record);
        record.Caller = caller;
        record.IsZipOperation = isZip ? ZE_TRUE : ZE_FALSE;
        record.Action = ZA_OperationKey;
        record.Arg1 = runningKey;
        callback(caller, &record);
    }
    runningKey = 0;
    if (aborted)
        return ZS_Cancelled;
    return statusText ? int32_t(std::strtol(statusText, nullptr, 10)) : 0;
}
} // namespace

FAKE_EXPORT int32_t ZE_UnzExec(UnzipCommandRecord* record)
{
    return run(record->Callback, record->Caller, record->Password, false);
}

FAKE_EXPORT int32_t ZE_ZipExec(ZipCommandRecord* record)
{
    return run(record->Callback, record->Caller, record->Password, true);
}

FAKE_EXPORT int32_t ZE_Version(void)
{
    return FAKE_VERSION;
}

FAKE_EXPORT int32_t ZE_PrivVersion(void)
{
    return FAKE_VERSION * 10000;
}

FAKE_EXPORT int32_t ZE_Abort(int32_t operationKey)
{
    if (operationKey != 0 && operationKey == runningKey)
        aborted = true;
    return 0;
}

#ifndef FAKE_NO_PATH
FAKE_EXPORT const char* ZE_Path(void)
{
    static char path[PATH_MAX];
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&ZE_Version), &info) == 0 || !info.dli_fname || !realpath(info.dli_fname, path))
        return nullptr;
    return path;
}
#endif
