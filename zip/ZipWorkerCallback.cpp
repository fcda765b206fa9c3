#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"
#include "zip/ZipWorker.h"
#include "zip/ZipWorkerRecords.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace
{
constexpr qsizetype kMaxReplyName = 512;
constexpr qsizetype kMaxReplyData = 511;
constexpr quint32 kMaxRepeat = 15;

QString itemName(const CallbackRecord& record)
{
    return record.Text ? QString::fromUtf8(record.Text).replace(QLatin1Char('/'), QLatin1Char('\\')) : QString();
}

qint64 itemSize(const CallbackRecord& record)
{
    return qint64(record.Data.Item.SizeLow) | (qint64(record.Data.Item.SizeHigh) << 32);
}

qint64 writtenSize(const CallbackRecord& record)
{
    return qint64(record.Data.Item.WrittenLow) | (qint64(record.Data.Item.WrittenHigh) << 32);
}

// The reply area overlays the item fields; whatever goes there is cut and terminated.
void replyBytes(CallbackRecord& record, const QByteArray& bytes, qsizetype max)
{
    const auto length = size_t(std::min(bytes.size(), max));
    std::memcpy(record.Data.Reply, bytes.constData(), length);
    record.Data.Reply[length] = '\0';
}

void replyText(CallbackRecord& record, const QString& text, qsizetype maxChars)
{
    replyBytes(record, EngineBytes(text, int(maxChars)), maxChars);
}

bool endsWithSeparator(const QString& name)
{
    return name.endsWith(QLatin1Char('\\')) || name.endsWith(QLatin1Char('/'));
}

TMsgDlgBtn answerFor(int modalResult)
{
    switch (modalResult) {
    case mrOk:
        return mbOK;
    case mrCancel:
        return mbCancel;
    case mrAll:
        return mbNoToAll;
    default:
        return mbAbort;
    }
}
} // namespace

int32_t TZipWorker::EngineCallback(void* caller, CallbackRecord* record)
{
    auto* worker = static_cast<TZipWorker*>(caller);
    if (!worker || !record)
        return 1;
    if (!worker->Closing()) {
        try {
            worker->HandleCallback(*record);
        } catch (const std::exception& e) {
            // A handler's failure must never reach the engine; the engine is told to stop instead.
            if (worker->HandlerErrorText().isEmpty()) {
                const QString message = dynamic_cast<const Exception*>(&e) ? static_cast<const Exception&>(e).message()
                                                                           : QString::fromUtf8(e.what());
                worker->SetHandlerErrorText(QStringLiteral(" #%1 \"%2\"").arg(record->Action & 0x3F).arg(message));
            }
            worker->SetCancel(true);
            worker->m_handlerFailed = true;
        }
    }
    if (worker->m_handlerFailed)
        return ZipMsg::HandlerFailed;
    return worker->Cancel() ? 1 : 0;
}

void TZipWorker::HandleCallback(CallbackRecord& record)
{
    if (m_handlerFailed)
        return;
    const int action = record.Action & 0x3F;
    const bool isAdd = record.IsZipOperation != 0;
    switch (action) {
    case ZA_Tick:
        Report(zacTick, 0, QString(), 0);
        return;
    case ZA_NewItem:
    case ZA_Progress:
    case ZA_EndOfBatch:
        if (isAdd)
            Details()->SetBytesWritten(writtenSize(record));
        if (action == ZA_NewItem)
            Report(zacItem, 0, itemName(record), itemSize(record));
        else if (action == ZA_Progress)
            Report(zacProgress, 0, QString(), itemSize(record));
        else
            Report(zacEndOfBatch, 0, QString(), 0);
        return;
    case ZA_Message:
        Report(zacMessage, record.Arg1, record.Text ? QString::fromUtf8(record.Text) : QString(), 0);
        return;
    case ZA_TotalFiles:
        Report(zacCount, 0, QString(), record.Arg1);
        return;
    case ZA_TotalSize:
        Report(zacSize, 0, QString(), itemSize(record));
        return;
    case ZA_NewSecondaryItem:
        Report(zacXItem, record.Arg1, LoadMessageText(ZipMsg::ItemBase + record.Arg1), itemSize(record));
        return;
    case ZA_SecondaryProgress:
        Report(zacXProgress, 0, QString(), itemSize(record));
        return;
    case ZA_OperationKey:
        SetOperationKey(record.Arg1);
        return;
    default:
        break;
    }

    const QString name = itemName(record);
    switch (action) {
    case ZA_NewName: {
        // Read before a reply overwrites it: the reply area covers the address.
        const auto* external = static_cast<const char*>(record.Data.Item.Text2);
        QString current = name;
        bool changed = false;
        if (OnSetNewName) {
            OnSetNewName(Master(), current, changed);
            if (changed) {
                replyText(record, current.left(kMaxReplyName), kMaxReplyName);
                record.Action = ZE_CB_ACCEPT;
            }
        }
        if (external && OnSetAddName) {
            const QString externalName = QString::fromUtf8(external).replace(QLatin1Char('/'), QLatin1Char('\\'));
            bool addChanged = false;
            OnSetAddName(Master(), current, externalName, addChanged);
            if (addChanged) {
                replyText(record, current.left(kMaxReplyName), kMaxReplyName);
                record.Action = ZE_CB_ACCEPT;
            }
        }
        break;
    }
    case ZA_Password:
        PasswordCallback(record, name);
        break;
    case ZA_CrcError:
        if (OnCRC32Error) {
            bool extract = true;
            OnCRC32Error(Master(), name, quint32(record.Arg1), quint32(record.Data.Item.Arg3), extract);
            record.Action = extract ? ZE_CB_ACCEPT : ZE_CB_SKIP_ALL;
        }
        break;
    case ZA_Overwrite:
        if (OnExtractOverwrite) {
            bool overwrite = record.Arg1 != 0;
            const bool older = record.Data.Item.Arg4 != 2;
            OnExtractOverwrite(Master(), name, older, overwrite, record.Data.Item.Arg3);
            record.Action = overwrite ? ZE_CB_ACCEPT : ZE_CB_SKIP;
        }
        break;
    case ZA_Skipped: {
        const int code = record.Arg1;
        const int kind = (record.Data.Item.Arg3 & 0xFF) - 1;
        if (code != 0)
            SetErrorCode(code & 0xFF);
        if (OnExtractSkipped)
            OnExtractSkipped(Master(), name, UnZipSkipTypes(std::max(kind, 0)), code);
        else if (OnMessage)
            OnMessage(Master(), ZipMsg::SkippedCode, FormatMessageText(ZipMsg::SkippedText, name, kind));
        break;
    }
    case ZA_Comment:
        if (OnFileComment) {
            const auto* current = static_cast<const char*>(record.Data.Item.Text2);
            QString comment = current ? QString::fromUtf8(current) : QString();
            bool changed = false;
            OnFileComment(Master(), name, comment, changed);
            if (changed) {
                const QByteArray bytes = EngineText(comment, int(kMaxReplyData));
                replyBytes(record, bytes, kMaxReplyData);
                record.Arg1 = qint32(bytes.size());
                record.Action = ZE_CB_ACCEPT;
            }
        }
        break;
    case ZA_OutputMemory: {
        const qint64 size = itemSize(record);
        try {
            m_output.resize(qsizetype(size));
            record.Data.Item.Text2 = m_output.data();
            record.Action = ZE_CB_ACCEPT;
        } catch (const std::bad_alloc&) {
            record.Data.Item.SizeLow = 0;
            record.Data.Item.SizeHigh = 0;
            record.Action = ZE_CB_SKIP;
        }
        break;
    }
    case ZA_ExtraData:
        if (OnFileExtra) {
            const auto length = qsizetype(std::max(record.Arg1, 0));
            // The incoming data sits in the record itself, from the address field onwards.
            const auto* start = reinterpret_cast<const char*>(&record.Data.Item.Text2);
            const auto available = qsizetype(reinterpret_cast<const char*>(&record) + sizeof record - start);
            m_extraData = QByteArray(start, std::min(length, available));
            bool changed = false;
            OnFileExtra(Master(), name, m_extraData, changed);
            if (changed) {
                if (m_extraData.size() <= kMaxReplyData)
                    std::memcpy(record.Data.Reply, m_extraData.constData(), size_t(m_extraData.size()));
                else
                    record.Data.Item.Text2 = m_extraData.constData();
                record.Arg1 = qint32(m_extraData.size());
                record.Action = ZE_CB_ACCEPT;
            }
        }
        break;
    case ZA_ExtractName:
        if (OnSetExtName) {
            QString changedName = name;
            bool changed = false;
            OnSetExtName(Master(), changedName, changed);
            if (changed && changedName != name && endsWithSeparator(changedName) == endsWithSeparator(name)) {
                replyText(record, changedName.left(kMaxReplyName), kMaxReplyName);
                record.Action = ZE_CB_ACCEPT;
            }
        }
        break;
    default:
        break;
    }
    CheckTerminate();
}

void TZipWorker::PasswordCallback(CallbackRecord& record, const QString& name)
{
    const bool isAdd = record.IsZipOperation != 0;
    QString password;
    auto repeat = quint32(std::max(record.Arg1, 0));
    TMsgDlgBtn answer = mbOK;
    const QString title = LoadMessageText(ZipMsg::PasswordTitle);
    if (OnPasswordError) {
        OnPasswordError(Master(), isAdd, password, name, repeat, answer);
        if (answer != mbOK)
            password.clear();
    } else if (isAdd) {
        if (Unattended()) {
            ReportException(EZipArchiver(ZipMsg::NoAddPassword, true));
        } else {
            QString first = LoadMessageText(ZipMsg::EnterPassword);
            const int firstResult = MessageDialog(title, first, ZipDlgPassword, { mbOK, mbCancel });
            answer = answerFor(firstResult);
            if (firstResult == mrOk && !first.isEmpty()) {
                QString second = LoadMessageText(ZipMsg::ConfirmPassword);
                const int secondResult = MessageDialog(title, second, ZipDlgPassword, { mbOK, mbCancel });
                answer = answerFor(secondResult);
                if (secondResult == mrOk && first != second)
                    ReportException(EZipArchiver(ZipMsg::PasswordsDiffer, true));
                else if (secondResult == mrOk)
                    password = first;
            }
        }
    } else if (Unattended()) {
        ReportException(EZipArchiver(ZipMsg::NoExtractPassword, true));
    } else {
        password = LoadMessageText(ZipMsg::EnterPassword);
        const int result = MessageDialog(title, password, ZipDlgPassword, { mbOK, mbCancel, mbAll });
        answer = answerFor(result);
        if (result != mrOk)
            password.clear();
    }

    if (!password.isEmpty()) {
        replyText(record, password, MaxReplyPassword);
        record.Action = ZE_CB_ACCEPT;
    } else {
        record.Action = ZE_CB_SKIP;
        repeat = 0;
    }
    record.Arg1 = qint32(std::min(repeat, kMaxRepeat));
    if (answer == mbCancel)
        record.Action = ZE_CB_SKIP;
    else if (answer == mbNoToAll)
        record.Action = ZE_CB_SKIP_ALL;
    else if (answer == mbAbort)
        SetCancel(true);
}
