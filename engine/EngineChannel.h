#pragma once

#include "engine/ZipEngineRecords.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace ZipEngine
{

// The callback side of one running command: it registers an operation key for ZE_Abort, fills
// a fresh callback record for every action and remembers why the command has to stop.
class EngineChannel
{
public:
    EngineChannel(ZE_Callback callback, void* caller, void* handle, bool isZip);
    ~EngineChannel();
    EngineChannel(const EngineChannel&) = delete;
    EngineChannel& operator=(const EngineChannel&) = delete;

    static void abort(int32_t key);

    int32_t key() const { return m_key; }
    bool stopped() const;
    // The negative status a stopped command returns.
    int32_t stopStatus() const;
    // An exception thrown by the caller's callback, to be rethrown once the command has cleaned up.
    std::exception_ptr callerException() const { return m_callerException; }

    bool sendKey();
    bool totals(int32_t files, uint64_t bytes);
    bool newItem(const std::string& name, uint64_t size);
    // The bytes done since the last report, and the bytes of the new archive written so far.
    bool progress(uint64_t bytes, uint64_t written);
    bool endOfBatch(uint64_t written);
    bool message(int32_t code, const std::string& text);
    bool skipped(const std::string& name, int32_t code, int32_t kind);

    enum class PasswordReply { Given, Refused, RefusedAll, Stop };
    // Asks for a password; on return count holds the repeat count the caller answered.
    PasswordReply askPassword(const std::string& name, int32_t& count, std::string& password);
    // True when the caller wants data with a CRC mismatch kept.
    bool acceptCrcError(const std::string& name, uint32_t found, uint32_t expected);
    // Asks the caller for output memory of the given size; null when refused.
    void* askOutputMemory(const std::string& name, uint32_t size);

private:
    bool send(CallbackRecord& record);
    CallbackRecord fresh(int32_t action) const;

    ZE_Callback m_callback;
    void* m_caller;
    void* m_handle;
    bool m_isZip;
    int32_t m_key = 0;
    std::shared_ptr<std::atomic<bool>> m_aborted;
    int32_t m_callbackResult = 0;
    std::exception_ptr m_callerException;
    std::string m_text;
};

void setSize(CallbackRecord& record, uint64_t size);
void setWritten(CallbackRecord& record, uint64_t written);

} // namespace ZipEngine
