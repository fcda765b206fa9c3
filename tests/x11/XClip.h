#pragma once

#include <QProcess>
#include <QString>
#include <QTest>

#include <memory>
#include <vector>

// Another program on the X clipboard: xclip owns the CLIPBOARD selection in the
// foreground until someone else takes it. Every xclip started here is ended
// by its own process when the object goes.
class XClip
{
public:
    ~XClip()
    {
        for (auto& process : m_owners) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(3000);
            }
        }
    }

    bool copy(const QByteArray& text, const QString& target = QStringLiteral("UTF8_STRING"))
    {
        auto process = std::make_unique<QProcess>();
        process->start(QStringLiteral("xclip"),
            { QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
                target, QStringLiteral("-i") });
        if (!process->waitForStarted(5000)) {
            return false;
        }
        process->write(text);
        process->closeWriteChannel();
        QProcess* owner = process.get();
        m_owners.push_back(std::move(process));
        m_said.clear();
        // xclip says so once it owns the selection. Reading it back with "xclip -o" instead
        // would itself disturb the selection's owner.
        return QTest::qWaitFor(
            [&] {
                m_said += owner->readAllStandardError();
                return m_said.contains("Waiting for selection requests");
            },
            5000);
    }

    // Waits until the latest owner has answered at least count requests for its selection,
    // which tells that another program has read it.
    bool waitServed(int count, int timeout = 10000)
    {
        QProcess* owner = m_owners.back().get();
        const QByteArray next = "Waiting for selection request number " + QByteArray::number(count + 1);
        return QTest::qWaitFor(
            [&] {
                m_said += owner->readAllStandardError();
                return m_said.contains(next);
            },
            timeout);
    }

private:
    std::vector<std::unique_ptr<QProcess>> m_owners;
    QByteArray m_said;
};
