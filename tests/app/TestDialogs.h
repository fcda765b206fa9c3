#pragma once

#include "app/Dialogs.h"

#include <QList>
#include <QStringList>
#include <QTest>

#include <optional>

// What the dialogs of a test window answer and what they were asked; it outlives the windows.
struct DialogScript
{
    QStringList messages; // every message shown, in order
    QStringList questions; // every question asked, in order
    std::optional<QString> nextFileName; // the next save dialog's answer; an empty name cancels
    QString lastProposedName;
    bool lastAskedBeforeOverwriting = false;
    QList<bool> answers; // to the next questions, Yes (true) or No
    QList<int> zipAnswers; // modal results for the zip component's next questions
};

// Dialogs that never wait for a person: they answer from the script, and a dialog the
// test did not expect fails it at once.
class TestDialogs : public Dialogs
{
public:
    explicit TestDialogs(DialogScript* script)
        : m_script(script)
    { }

    void message(QWidget*, const QString& text) override { m_script->messages.append(text); }
    bool ask(QWidget*, const QString& text) override
    {
        m_script->questions << text;
        if (m_script->answers.isEmpty()) {
            QTest::qFail("a question the test did not expect", __FILE__, __LINE__);
            return true;
        }
        return m_script->answers.takeFirst();
    }
    QString saveFileName(QWidget*, const QString& proposedName, const QString&, bool confirmOverwrite) override
    {
        m_script->lastProposedName = proposedName;
        m_script->lastAskedBeforeOverwriting = confirmOverwrite;
        if (!m_script->nextFileName) {
            QTest::qFail("a save dialog the test did not expect", __FILE__, __LINE__);
            return {};
        }
        const QString answer = *m_script->nextFileName;
        m_script->nextFileName.reset();
        return answer;
    }
    int zipDialog(QWidget*, const QString&, QString& text, int, TMsgDlgButtons) override
    {
        m_script->questions << text;
        if (m_script->zipAnswers.isEmpty()) {
            QTest::qFail("a zip dialog the test did not expect", __FILE__, __LINE__);
            return mrCancel;
        }
        return m_script->zipAnswers.takeFirst();
    }

private:
    DialogScript* m_script;
};
