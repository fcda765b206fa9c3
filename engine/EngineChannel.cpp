#include "engine/EngineChannel.h"

#include <cstring>
#include <map>
#include <mutex>

namespace ZipEngine
{

namespace
{

// What the worker's callback returns once one of its event handlers has failed.
constexpr int32_t HandlerFailedResult = 10106;
constexpr int32_t UserCancelResult = 1;

struct Registry
{
    std::mutex lock;
    int32_t lastKey = 0;
    std::map<int32_t, std::shared_ptr<std::atomic<bool>>> running;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

std::string replyText(const CallbackRecord& record, size_t limit)
{
    const char* reply = record.Data.Reply;
    return std::string(reply, strnlen(reply, limit));
}

} // namespace

void setSize(CallbackRecord& record, uint64_t size)
{
    record.Data.Item.SizeLow = static_cast<uint32_t>(size);
    record.Data.Item.SizeHigh = static_cast<uint32_t>(size >> 32);
}

void setWritten(CallbackRecord& record, uint64_t written)
{
    record.Data.Item.WrittenLow = static_cast<uint32_t>(written);
    record.Data.Item.WrittenHigh = static_cast<uint32_t>(written >> 32);
}

EngineChannel::EngineChannel(ZE_Callback callback, void* caller, void* handle, bool isZip)
    : FCallback(callback)
    , FCaller(caller)
    , FHandle(handle)
    , FIsZip(isZip)
    , FAborted(std::make_shared<std::atomic<bool>>(false))
{
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    do {
        reg.lastKey = reg.lastKey == INT32_MAX ? 1 : reg.lastKey + 1;
    } while (reg.running.count(reg.lastKey) != 0);
    FKey = reg.lastKey;
    reg.running.emplace(FKey, FAborted);
}

EngineChannel::~EngineChannel()
{
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    reg.running.erase(FKey);
}

void EngineChannel::abort(int32_t key)
{
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    auto found = reg.running.find(key);
    if (found != reg.running.end())
        found->second->store(true);
}

bool EngineChannel::stopped() const
{
    return FAborted->load() || FCallbackResult != 0 || FCallerException;
}

int32_t EngineChannel::stopStatus() const
{
    if (FCallerException || FCallbackResult == HandlerFailedResult)
        return ZS_HandlerException;
    if (FAborted->load() || FCallbackResult == UserCancelResult)
        return ZS_Cancelled;
    return FCallbackResult != 0 ? ZS_Aborted : 0;
}

CallbackRecord EngineChannel::fresh(int32_t action) const
{
    CallbackRecord record;
    std::memset(&record, 0, sizeof record);
    record.Handle = FHandle;
    record.Caller = FCaller;
    record.IsZipOperation = FIsZip ? 1 : 0;
    record.Action = action;
    return record;
}

bool EngineChannel::send(CallbackRecord& record)
{
    if (stopped())
        return false;
    if (FCallback) {
        try {
            int32_t result = FCallback(FCaller, &record);
            if (result != 0)
                FCallbackResult = result;
        } catch (...) {
            FCallerException = std::current_exception();
        }
    }
    return !stopped();
}

bool EngineChannel::sendKey()
{
    CallbackRecord record = fresh(ZA_OperationKey);
    record.Arg1 = FKey;
    return send(record);
}

bool EngineChannel::totals(int32_t files, uint64_t bytes)
{
    CallbackRecord record = fresh(ZA_TotalFiles);
    record.Arg1 = files;
    if (!send(record))
        return false;
    record = fresh(ZA_TotalSize);
    setSize(record, bytes);
    return send(record);
}

bool EngineChannel::newItem(const std::string& name, uint64_t size)
{
    FText = name;
    CallbackRecord record = fresh(ZA_NewItem);
    record.Text = FText.c_str();
    setSize(record, size);
    return send(record);
}

bool EngineChannel::progress(uint64_t bytes, uint64_t written)
{
    CallbackRecord record = fresh(ZA_Progress);
    setSize(record, bytes);
    setWritten(record, written);
    return send(record);
}

bool EngineChannel::endOfBatch(uint64_t written)
{
    CallbackRecord record = fresh(ZA_EndOfBatch);
    setWritten(record, written);
    return send(record);
}

bool EngineChannel::message(int32_t code, const std::string& text)
{
    FText = text;
    CallbackRecord record = fresh(ZA_Message);
    record.Arg1 = code;
    record.Text = FText.c_str();
    return send(record);
}

bool EngineChannel::skipped(const std::string& name, int32_t code, int32_t kind)
{
    FText = name;
    CallbackRecord record = fresh(ZA_Skipped);
    record.Arg1 = code;
    record.Text = FText.c_str();
    record.Data.Item.Arg3 = kind + 1;
    return send(record);
}

EngineChannel::PasswordReply EngineChannel::askPassword(const std::string& name, int32_t& count, std::string& password)
{
    FText = name;
    CallbackRecord record = fresh(ZA_Password);
    record.Arg1 = count;
    record.Text = FText.c_str();
    if (!send(record))
        return PasswordReply::Stop;
    count = record.Arg1;
    switch (record.Action) {
    case ZE_CB_ACCEPT:
        // A password is at most 80 characters; a longer reply is not trusted to be terminated.
        password = replyText(record, 80);
        return password.empty() ? PasswordReply::Refused : PasswordReply::Given;
    case ZE_CB_SKIP_ALL:
        return PasswordReply::RefusedAll;
    default:
        return PasswordReply::Refused;
    }
}

bool EngineChannel::acceptCrcError(const std::string& name, uint32_t found, uint32_t expected)
{
    FText = name;
    CallbackRecord record = fresh(ZA_CrcError);
    record.Arg1 = static_cast<int32_t>(found);
    record.Text = FText.c_str();
    record.Data.Item.Arg3 = static_cast<int32_t>(expected);
    return send(record) && record.Action == ZE_CB_ACCEPT;
}

void* EngineChannel::askOutputMemory(const std::string& name, uint32_t size)
{
    FText = name;
    CallbackRecord record = fresh(ZA_OutputMemory);
    record.Text = FText.c_str();
    setSize(record, size);
    if (!send(record) || record.Action != ZE_CB_ACCEPT)
        return nullptr;
    return const_cast<void*>(record.Data.Item.Text2);
}

} // namespace ZipEngine
