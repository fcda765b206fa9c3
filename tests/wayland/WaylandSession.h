#pragma once

#include "tests/x11/ProgramCopy.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

// The session of tests/wayland/run-with-sway: other programs on its clipboard, its windows and its
// compositor. Generous deadlines: under load starting a process can take seconds.
namespace WaylandSession
{
constexpr int Deadline = 30000;

// A program a test starts in the session, ended by its own process when the object goes. What it
// says on its standard output is kept line by line.
class Helper
{
public:
    Helper(const QString& program, const QStringList& arguments, const QByteArray& input = {})
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, arguments);
        if (m_process.waitForStarted(Deadline)) {
            m_process.write(input);
            while (m_process.bytesToWrite() > 0 && m_process.waitForBytesWritten(Deadline)) { }
            m_process.closeWriteChannel();
        }
    }
    ~Helper()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }
    QProcess& process() { return m_process; }

    // How often it said this line so far.
    qsizetype said(const QByteArray& line)
    {
        m_said += m_process.readAllStandardOutput();
        return m_said.count("\n" + line + "\n");
    }
    // Waits until it said the line count times; turnEventLoop false keeps this process's event
    // loop still meanwhile, as a busy window would.
    bool waitSaid(const QByteArray& line, qsizetype count = 1, bool turnEventLoop = true)
    {
        const QDeadlineTimer deadline(Deadline);
        while (said(line) < count) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning) {
                return false;
            }
            if (turnEventLoop) {
                QTest::qWait(5);
            } else {
                m_process.waitForReadyRead(int(deadline.remainingTime()));
            }
        }
        return true;
    }

private:
    QProcess m_process;
    QByteArray m_said = "\n";
};

// tests/wayland/DataControlSource.cpp: "serve", "silent", "close", "secret" with a text, "burst"
// and "paced" with a count and a text; text "-" is taken from input.
inline std::unique_ptr<Helper> source(const QStringList& arguments, const QByteArray& input = {})
{
    return std::make_unique<Helper>(QStringLiteral(VELLUMIX_DATA_CONTROL_SOURCE), arguments, input);
}

// wl-copy serving one text until another program takes the clipboard.
inline std::unique_ptr<Helper> wlCopy(const QByteArray& text)
{
    return std::make_unique<Helper>(QStringLiteral("wl-copy"),
        QStringList {
            QStringLiteral("--foreground"), QStringLiteral("--type"), QStringLiteral("text/plain;charset=utf-8") },
        text);
}

// Empties the clipboard, so that a source a test left behind cannot be taken for the next test's.
inline bool clearClipboard()
{
    runCommand(QStringLiteral("wl-copy"), { QStringLiteral("--clear") }, Deadline);
    return QTest::qWaitFor(
        [] { return runCommand(QStringLiteral("wl-paste"), { QStringLiteral("--list-types") }, Deadline).isEmpty(); },
        Deadline);
}

// The compositor's windows (and the containers around them) as swaymsg describes them.
inline std::vector<QJsonObject> windows()
{
    const QByteArray tree = runCommand(QStringLiteral("swaymsg"), { QStringLiteral("-t"), QStringLiteral("get_tree") });
    std::vector<QJsonObject> found;
    std::vector<QJsonObject> nodes { QJsonDocument::fromJson(tree).object() };
    while (!nodes.empty()) {
        found.push_back(nodes.back());
        nodes.pop_back();
        for (const char* children : { "nodes", "floating_nodes" }) {
            for (const QJsonValue& child : found.back().value(QLatin1String(children)).toArray()) {
                nodes.push_back(child.toObject());
            }
        }
    }
    return found;
}

// The process id of the window that has the keyboard focus, 0 when none has it.
inline qint64 focusedPid()
{
    for (const QJsonObject& node : windows()) {
        if (node.value(QStringLiteral("focused")).toBool()) {
            return node.value(QStringLiteral("pid")).toInteger();
        }
    }
    return 0;
}

// Whether the compositor shows a window of that process. It gives a window the focus as it
// shows it, which may be a moment after the window's X11 side is mapped.
inline bool showsWindow(qint64 pid)
{
    const std::vector<QJsonObject> nodes = windows();
    return std::any_of(nodes.begin(), nodes.end(),
        [pid](const QJsonObject& node) { return node.value(QStringLiteral("pid")).toInteger() == pid; });
}

// Gives the window of that process the focus and waits until the compositor says it has it.
inline bool focus(qint64 pid)
{
    return QTest::qWaitFor(
        [pid] {
            runCommand(QStringLiteral("swaymsg"), { QStringLiteral("[pid=%1] focus").arg(pid) });
            return focusedPid() == pid;
        },
        Deadline);
}

// A native Wayland window that takes the focus, as a terminal the user copies from.
inline std::unique_ptr<Helper> foot()
{
    auto terminal
        = std::make_unique<Helper>(QStringLiteral("foot"), QStringList { QStringLiteral("--log-level=warning") });
    return terminal->running() && focus(terminal->pid()) ? std::move(terminal) : nullptr;
}

// Ends the compositor as a crash would; its clients lose their connection.
inline bool killCompositor()
{
    const QByteArray pid = qgetenv("VELLUMIX_COMPOSITOR_PID");
    return !pid.isEmpty()
        && QProcess::execute(QStringLiteral("kill"), { QStringLiteral("-KILL"), QString::fromLatin1(pid) }) == 0;
}
} // namespace WaylandSession
