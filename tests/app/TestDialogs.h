#pragma once

#include "app/Dialogs.h"

#include <QStringList>
#include <QTest>

#include <optional>

// Dialogs that never wait for a person: messages are collected, a save dialog
// takes the answer the test gave beforehand, and one the test did not expect fails it.
class TestDialogs : public Dialogs
{
public:
    explicit TestDialogs(QStringList* messages)
        : m_messages(messages)
    { }

    void message(QWidget*, const QString& text) override { m_messages->append(text); }
    QString saveFileName(QWidget*, const QString& proposedName, const QString&, bool) override
    {
        lastProposedName = proposedName;
        if (!nextFileName) {
            QTest::qFail("a save dialog the test did not expect", __FILE__, __LINE__);
            return {};
        }
        const QString answer = *nextFileName;
        nextFileName.reset();
        return answer;
    }

    // The next save dialog's answer; an empty name cancels.
    std::optional<QString> nextFileName;
    QString lastProposedName;

private:
    QStringList* m_messages;
};
