#include "app/CommandLine.h"

#include "platform/AppPaths.h"
#include "tools/VMXFileVersionInfo.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>

namespace
{
const QString DesktopId = QStringLiteral(VELLUMIX_DESKTOP_ID);

// Qt's own options, which the application object reads and removes; they must
// not count as unknown here.
const char* const QtOptionsWithValue[]
    = { "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon", "qwindowtitle",
          "session", "display", "geometry", "name", "style", "stylesheet", "qmljsdebugger", "dialogs", "fontengine" };
const char* const QtFlags[] = { "reverse", "widgetcount", "nograb", "dograb", "sync" };

const QString HelpOption = QStringLiteral("help");
const QString VersionOption = QStringLiteral("version");
const QString PathsOption = QStringLiteral("paths");
const QString AutostartOption = QStringLiteral("autostart");
const QString PlatformOption = QStringLiteral("platform");

QString programName()
{
    return QFileInfo(AppPaths::executablePath()).fileName();
}
} // namespace

CommandLine::CommandLine(const QStringList& arguments)
{
    m_parser.setApplicationDescription(
        QStringLiteral("Keeps a journal of every text copied to the clipboard, and a note pad beside it."));
    // Qt's options are written with one dash ("-platform xcb").
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.addOption({ { QStringLiteral("h"), HelpOption }, QStringLiteral("Show this help and exit.") });
    m_parser.addOption({ { QStringLiteral("v"), VersionOption }, QStringLiteral("Show the version and exit.") });
    m_parser.addOption(
        { PathsOption, QStringLiteral("Show where the settings file and the session archive are, and exit.") });
    m_parser.addOption({ AutostartOption,
        QStringLiteral("Start the program at login (on) or no longer (off), and exit."), QStringLiteral("on|off") });
    for (const char* name : QtOptionsWithValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        m_parser.addOption(option);
    }
    for (const char* name : QtFlags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        m_parser.addOption(option);
    }

    if (!m_parser.parse(arguments)) {
        m_error = m_parser.errorText();
    } else if (!m_parser.positionalArguments().isEmpty()) {
        m_error = QStringLiteral("Unexpected argument '%1'.").arg(m_parser.positionalArguments().constFirst());
    } else if (m_parser.isSet(AutostartOption)) {
        const QString value = m_parser.value(AutostartOption);
        if (value != QLatin1String("on") && value != QLatin1String("off")) {
            m_error = QStringLiteral("--autostart takes 'on' or 'off', not '%1'.").arg(value);
        }
    }
}

bool CommandLine::startsWindow() const
{
    return m_error.isEmpty() && !m_parser.isSet(HelpOption) && !m_parser.isSet(VersionOption)
        && !m_parser.isSet(PathsOption) && !m_parser.isSet(AutostartOption);
}

int CommandLine::run(QTextStream& out, QTextStream& err) const
{
    if (!m_error.isEmpty()) {
        err << programName() << ": " << m_error << "\nTry '" << programName() << " --help' for the options.\n";
        return UsageError;
    }
    if (m_parser.isSet(HelpOption)) {
        out << m_parser.helpText();
        return 0;
    }
    if (m_parser.isSet(VersionOption)) {
        const auto info = VMXFileVersionInfo::Create(AppPaths::executablePath());
        info->ReadInfo();
        out << info->ProductName() << ' ' << info->ProductVersion() << '\n';
    }
    if (m_parser.isSet(PathsOption)) {
        out << "settings: " << AppPaths::settingsFile(AppPaths::Folder::Leave) << '\n'
            << "archive:  " << AppPaths::archiveFile(AppPaths::Folder::Leave) << '\n';
    }
    if (m_parser.isSet(AutostartOption)) {
        return setAutostart(m_parser.value(AutostartOption) == QLatin1String("on"), out, err);
    }
    return 0;
}

QStringList CommandLine::platformArguments(const QProcessEnvironment& environment) const
{
    if (environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty()
        || !environment.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty() || m_parser.isSet(PlatformOption)) {
        return {};
    }
    // Without Xwayland the session's own platform still opens the window.
    return { QStringLiteral("-platform"), QStringLiteral("xcb;wayland") };
}

QString CommandLine::autostartFile()
{
    return AppPaths::configHome() + QStringLiteral("/autostart/") + DesktopId + QStringLiteral(".desktop");
}

QString CommandLine::execArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString quoted = argument;
    if (argument.isEmpty()
        || std::any_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); })) {
        quoted.clear();
        for (const QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
                quoted += u'\\';
            }
            quoted += c;
        }
        quoted = u'"' + quoted + u'"';
    }
    // The key's value is a string, whose own escapes apply first when it is read.
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'\n', QStringLiteral("\\n"));
    quoted.replace(u'\t', QStringLiteral("\\t"));
    quoted.replace(u'\r', QStringLiteral("\\r"));
    quoted.replace(u'%', QStringLiteral("%%"));
    return quoted;
}

QByteArray CommandLine::autostartEntry(const QString& executable)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Vellumix\n"
                          "Comment=Clipboard journal and note pad\n"
                          "Exec=%1\n"
                          "Icon=%2\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execArgument(executable), DesktopId)
        .toUtf8();
}

int CommandLine::setAutostart(bool on, QTextStream& out, QTextStream& err) const
{
    const QString fileName = autostartFile();
    if (!on) {
        if (!QFileInfo::exists(fileName)) {
            out << "Autostart off: there is no " << fileName << '\n';
        } else if (QFile::remove(fileName)) {
            out << "Autostart off: removed " << fileName << '\n';
        } else {
            err << programName() << ": cannot remove " << fileName << '\n';
            return 1;
        }
        return 0;
    }
    QSaveFile file(fileName);
    const QByteArray entry = autostartEntry(AppPaths::executablePath());
    if (!AppPaths::makePrivateFolder(QFileInfo(fileName).absolutePath()) || !file.open(QIODevice::WriteOnly)
        || file.write(entry) != entry.size() || !file.commit()) {
        err << programName() << ": cannot write " << fileName << ": " << file.errorString() << '\n';
        return 1;
    }
    out << "Autostart on: " << fileName << '\n';
    return 0;
}
