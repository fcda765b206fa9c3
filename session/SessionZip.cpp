#include "session/SessionZip.h"

#include "zip/ZipArchiver.h"

#include <utility>

SessionZip::SessionZip(QObject* owner, Question question)
    : m_zip(new TZipArchiver(owner, csLoading))
    , m_owned(owner == nullptr)
    , m_question(std::move(question))
{
    m_zip->SetPassword(QStringLiteral("730582"));
    m_zip->SetPasswordReqCount(1);
    m_zip->SetUnattended(false);
    m_zip->SetDll_Load(false);
    m_zip->SetVerbose(false);
    m_zip->SetTrace(false);
    m_zip->Loaded();
    m_zip->SetOnZipDialog([this](QObject*, const QString& title, QString& text, int& result, TMsgDlgButtons buttons) {
        if (buttons == TMsgDlgButtons { mbOK } && ((result >> 16) & 0x7) < 4) {
            m_collected << text.trimmed();
            result = mrOk;
            return;
        }
        const int answer = m_question ? m_question(title, text, result, buttons) : mrNone;
        if (answer != mrNone) {
            result = answer;
        }
    });
}

SessionZip::~SessionZip()
{
    if (m_owned) {
        delete m_zip;
    }
}

QString SessionZip::collecting(const std::function<void()>& operation)
{
    m_collected.clear();
    operation();
    if (m_collected.isEmpty() && m_zip->ErrorCode() != 0) {
        m_collected << m_zip->ErrorMessage();
    }
    m_collected.removeDuplicates();
    return m_collected.join(QStringLiteral("; "));
}

const ZipDirEntry* SessionZip::findEntry(const QString& name) const
{
    const ZipDirEntry* found = nullptr;
    for (int i = 0; i < m_zip->Count(); ++i) {
        if (m_zip->DirEntry(i).FileName.compare(name, Qt::CaseInsensitive) == 0) {
            found = &m_zip->DirEntry(i);
        }
    }
    return found;
}
