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
    : m_callback(callback)
    , m_caller(caller)
    , m_handle(handle)
    , m_isZip(isZip)
    , m_aborted(std::make_shared<std::atomic<bool>>(false))
{
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    do {
        reg.lastKey = reg.lastKey == INT32_MAX ? 1 : reg.lastKey + 1;
    } while (reg.running.count(reg.lastKey) != 0);
    m_key = reg.lastKey;
    reg.running.emplace(m_key, m_aborted);
}

EngineChannel::~EngineChannel()
{
    Registry& reg = registry();
    std::lock_guard guard(reg.lock);
    reg.running.erase(m_key);
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
    return m_aborted->load() || m_callbackResult != 0 || m_callerException;
}

int32_t EngineChannel::stopStatus() const
{
    if (m_callerException || m_callbackResult == HandlerFailedResult)
        return ZS_HandlerException;
    if (m_aborted->load() || m_callbackResult == UserCancelResult)
        return ZS_Cancelled;
    return m_callbackResult != 0 ? ZS_Aborted : 0;
}

CallbackRecord EngineChannel::fresh(int32_t action) const
{
    CallbackRecord record;
    std::memset(&record, 0, sizeof record);
    record.Handle = m_handle;
    record.Caller = m_caller;
    record.IsZipOperation = m_isZip ? 1 : 0;
    record.Action = action;
    return record;
}

bool EngineChannel::send(CallbackRecord& record)
{
    if (stopped())
        return false;
    if (m_callback) {
        try {
            int32_t result = m_callback(m_caller, &record);
            if (result != 0)
                m_callbackResult = result;
        } catch (...) {
            m_callerException = std::current_exception();
        }
    }
    return !stopped();
}

bool EngineChannel::sendKey()
{
    CallbackRecord record = fresh(ZA_OperationKey);
    record.Arg1 = m_key;
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
    m_text = name;
    CallbackRecord record = fresh(ZA_NewItem);
    record.Text = m_text.c_str();
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
    m_text = text;
    CallbackRecord record = fresh(ZA_Message);
    record.Arg1 = code;
    record.Text = m_text.c_str();
    return send(record);
}

bool EngineChannel::skipped(const std::string& name, int32_t code, int32_t kind)
{
    m_text = name;
    CallbackRecord record = fresh(ZA_Skipped);
    record.Arg1 = code;
    record.Text = m_text.c_str();
    record.Data.Item.Arg3 = kind + 1;
    return send(record);
}

EngineChannel::PasswordReply EngineChannel::askPassword(const std::string& name, int32_t& count, std::string& password)
{
    m_text = name;
    CallbackRecord record = fresh(ZA_Password);
    record.Arg1 = count;
    record.Text = m_text.c_str();
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
    m_text = name;
    CallbackRecord record = fresh(ZA_CrcError);
    record.Arg1 = static_cast<int32_t>(found);
    record.Text = m_text.c_str();
    record.Data.Item.Arg3 = static_cast<int32_t>(expected);
    return send(record) && record.Action == ZE_CB_ACCEPT;
}

void* EngineChannel::askOutputMemory(const std::string& name, uint32_t size)
{
    m_text = name;
    CallbackRecord record = fresh(ZA_OutputMemory);
    record.Text = m_text.c_str();
    setSize(record, size);
    if (!send(record) || record.Action != ZE_CB_ACCEPT)
        return nullptr;
    return const_cast<void*>(record.Data.Item.Text2);
}

} // namespace ZipEngine
