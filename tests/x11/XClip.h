#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QString>

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

    // Copies and waits until xclip says it owns the clipboard, which it does a moment before the
    // X server has handled its request (reading the text back with "xclip -o" instead would
    // itself disturb the owner). The event loop turns meanwhile.
    bool copy(const QByteArray& text, const QString& target = QStringLiteral("UTF8_STRING"))
    {
        QProcess* owner = launch(text, target);
        return owner && waitUntilSaid(owner, "Waiting for selection requests", true);
    }

    // The same without turning the event loop: nothing in this process hears of the change
    // before it returns.
    bool copyAtOnce(const QByteArray& text, const QString& target = QStringLiteral("UTF8_STRING"))
    {
        QProcess* owner = launch(text, target);
        return owner && waitUntilSaid(owner, "Waiting for selection requests", false);
    }

    // Waits until the latest owner has answered at least count requests for its selection, which
    // tells that another program has read it.
    bool waitServed(int count, bool turnEventLoop = true)
    {
        return waitUntilSaid(m_owners.back().get(),
            "Waiting for selection request number " + QByteArray::number(count + 1), turnEventLoop);
    }

private:
    // Generous: under load starting a process can take seconds.
    static constexpr int Deadline = 30000;

    QProcess* launch(const QByteArray& text, const QString& target)
    {
        auto process = std::make_unique<QProcess>();
        // What xclip says comes on its error output.
        process->setReadChannel(QProcess::StandardError);
        process->start(QStringLiteral("xclip"),
            { QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
                target, QStringLiteral("-i") });
        if (!process->waitForStarted(Deadline)) {
            return nullptr;
        }
        process->write(text);
        process->closeWriteChannel();
        m_owners.push_back(std::move(process));
        m_said.clear();
        return m_owners.back().get();
    }

    bool waitUntilSaid(QProcess* owner, const QByteArray& message, bool turnEventLoop)
    {
        const QDeadlineTimer deadline(Deadline);
        for (;;) {
            m_said += owner->readAllStandardError();
            if (m_said.contains(message)) {
                return true;
            }
            if (deadline.hasExpired() || owner->state() == QProcess::NotRunning) {
                return false;
            }
            if (turnEventLoop) {
                QCoreApplication::processEvents();
            }
            // Writes what is left of the text as well.
            owner->waitForReadyRead(turnEventLoop ? 5 : int(deadline.remainingTime()));
        }
    }

    std::vector<std::unique_ptr<QProcess>> m_owners;
    QByteArray m_said;
};
