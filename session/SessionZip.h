#pragma once

#include "zip/ZipTypes.h"

#include <QString>
#include <QStringList>

#include <functional>

class QObject;
struct ZipDirEntry;
class TZipArchiver;

// The session archive's zip component with its designed properties. Its message boxes become
// one text of ours instead of being shown; its questions (a password) go to the answer given,
// and are cancelled where there is none.
class SessionZip
{
public:
    using Question = std::function<int(const QString& title, QString& text, int kind, TMsgDlgButtons buttons)>;

    // With an owner the component is the owner's child; without one it is deleted with this.
    SessionZip(QObject* owner, Question question);
    ~SessionZip();
    SessionZip(const SessionZip&) = delete;
    SessionZip& operator=(const SessionZip&) = delete;

    TZipArchiver* operator->() const { return m_zip; }
    TZipArchiver* component() const { return m_zip; }

    // Runs a component operation; what its message boxes said, else its error, or empty.
    QString collecting(const std::function<void()>& operation);
    // The archive's last directory entry of that name, letter case aside, or null.
    const ZipDirEntry* findEntry(const QString& name) const;

private:
    TZipArchiver* m_zip;
    bool m_owned;
    Question m_question;
    QStringList m_collected;
};
