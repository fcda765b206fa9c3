#pragma once

#include <QCommandLineParser>
#include <QProcessEnvironment>
#include <QStringList>

class QTextStream;

// The program's command line, read before the application object exists.
// Options that print or change a file do their work without a display and end
// the program; Qt's own options (-platform, -display, -style, …) pass through
// to the application object.
class CommandLine
{
public:
    // Exit status of a command line that cannot be understood.
    static constexpr int UsageError = 2;

    explicit CommandLine(const QStringList& arguments);

    // True when no option asks for other work: the program opens its window.
    bool startsWindow() const;
    // Does what the options ask and returns the process's exit status.
    int run(QTextStream& out, QTextStream& err) const;

    // Arguments to give the application object besides the program's own. Watching
    // the clipboard needs X11, so a Wayland session gets Xwayland's xcb platform
    // unless the user chose a platform.
    QStringList platformArguments(const QProcessEnvironment& environment) const;

    static QString autostartFile();
    // A desktop entry that starts the given executable at login.
    static QByteArray autostartEntry(const QString& executable);
    // One argument of a desktop entry's Exec key, quoted where it needs to be.
    static QString execArgument(const QString& argument);

private:
    int setAutostart(bool on, QTextStream& out, QTextStream& err) const;

    QCommandLineParser m_parser;
    QString m_error;
};
