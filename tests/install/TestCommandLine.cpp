#include "app/CommandLine.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

namespace
{
struct Outcome
{
    bool startsWindow = false;
    int status = -1;
    QString out;
    QString err;
};

Outcome runLine(const QStringList& options)
{
    const CommandLine line(QStringList { QStringLiteral("vellumix") } + options);
    Outcome outcome;
    outcome.startsWindow = line.startsWindow();
    if (!outcome.startsWindow) {
        QTextStream out(&outcome.out);
        QTextStream err(&outcome.err);
        outcome.status = line.run(out, err);
    }
    return outcome;
}

// How a desktop reads one Exec argument back: the string escapes of the key's
// value first, then the argument's quoting, then the field codes' "%%".
QString readExecArgument(const QString& written)
{
    QString value;
    for (qsizetype i = 0; i < written.size(); ++i) {
        if (written[i] == u'\\' && i + 1 < written.size()) {
            const QChar next = written[++i];
            value += next == u'n' ? QChar(u'\n') : next == u't' ? QChar(u'\t') : next == u'r' ? QChar(u'\r') : next;
        } else {
            value += written[i];
        }
    }
    QString argument;
    if (value.startsWith(u'"') && value.endsWith(u'"') && value.size() >= 2) {
        for (qsizetype i = 1; i < value.size() - 1; ++i) {
            if (value[i] == u'\\' && i + 1 < value.size() - 1) {
                ++i;
            }
            argument += value[i];
        }
    } else {
        if (value.contains(u' ') || value.contains(u'"') || value.contains(u'$')) {
            return QStringLiteral("<unquoted reserved character>");
        }
        argument = value;
    }
    return argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
}

QString validate(const QString& desktopEntry)
{
    QProcess validator;
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start(QStringLiteral("desktop-file-validate"), { desktopEntry });
    if (!validator.waitForFinished(30000)) {
        return QStringLiteral("desktop-file-validate did not run (scripts/deps test installs it)");
    }
    const QString said = QString::fromUtf8(validator.readAll());
    return validator.exitCode() == 0 && said.isEmpty() ? QString() : said;
}
} // namespace

// The command line is read before any window exists; what it prints and the
// files it writes need no display.
class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void testOptions_data();
    void testOptions();
    void testPlatformOnWayland_data();
    void testPlatformOnWayland();
    void testExecArgument_data();
    void testExecArgument();
    void testAutostartFolderNotWritable();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCommandLine::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("data"))));
}

void TestCommandLine::cleanup()
{
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
    m_dir.reset();
}

void TestCommandLine::testOptions_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("startsWindow");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // regular expressions
    QTest::addColumn<QString>("err");

    QTest::newRow("none") << QStringList() << true << -1 << ""
                          << "";
    QTest::newRow("Qt's own options") << QStringList { "-platform", "xcb", "-display", ":3", "-style=fusion",
        "-reverse", "--session", "s1", "-qwindowtitle", "t" }
                                      << true << -1 << ""
                                      << "";
    QTest::newRow("help") << QStringList { "--help" } << false << 0 << "--autostart <on\\|off>"
                          << "";
    QTest::newRow("help hides Qt's options") << QStringList { "-h" } << false << 0 << "^(?![\\s\\S]*platform)"
                                             << "";
    QTest::newRow("version") << QStringList { "--version" } << false << 0 << "^vellumix " VELLUMIX_VERSION "\n$"
                             << "";
    QTest::newRow("paths") << QStringList { "--paths" } << false << 0 << "^settings: /.*\\.ini\narchive:  /.*\\.vma\n$"
                           << "";
    QTest::newRow("unknown option") << QStringList { "--bogus" } << false << 2 << "^$"
                                    << "Unknown option 'bogus'[\\s\\S]*--help";
    QTest::newRow("unknown option among good ones")
        << QStringList { "-platform", "xcb", "--paths", "-x" } << false << 2 << "^$"
        << "Unknown option 'x'";
    QTest::newRow("file name") << QStringList { "notes.txt" } << false << 2 << "^$"
                               << "'notes.txt'";
    QTest::newRow("autostart without value") << QStringList { "--autostart" } << false << 2 << "^$"
                                             << "Missing value after '--autostart'";
    QTest::newRow("autostart with another value") << QStringList { "--autostart", "yes" } << false << 2 << "^$"
                                                  << "'on' or 'off', not 'yes'";
    QTest::newRow("Qt option without its value") << QStringList { "-platform" } << false << 2 << "^$"
                                                 << "Missing value";
}

void TestCommandLine::testOptions()
{
    QFETCH(QStringList, options);
    QFETCH(bool, startsWindow);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);

    const Outcome outcome = runLine(options);
    QCOMPARE(outcome.startsWindow, startsWindow);
    QCOMPARE(outcome.status, status);
    QVERIFY2(QRegularExpression(out).match(outcome.out).hasMatch(), qPrintable(outcome.out));
    QVERIFY2(QRegularExpression(err).match(outcome.err).hasMatch(), qPrintable(outcome.err));
}

void TestCommandLine::testPlatformOnWayland_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("added");

    const QStringList xcb { "-platform", "xcb;wayland" };
    QTest::newRow("X11 session") << QStringList { "DISPLAY=:0" } << QStringList() << QStringList();
    QTest::newRow("Wayland session") << QStringList { "DISPLAY=:0", "WAYLAND_DISPLAY=wayland-0" } << QStringList()
                                     << xcb;
    QTest::newRow("Wayland, empty QT_QPA_PLATFORM")
        << QStringList { "WAYLAND_DISPLAY=wayland-0", "QT_QPA_PLATFORM=" } << QStringList() << xcb;
    QTest::newRow("Wayland, platform chosen in the environment")
        << QStringList { "WAYLAND_DISPLAY=wayland-0", "QT_QPA_PLATFORM=wayland" } << QStringList() << QStringList();
    QTest::newRow("Wayland, platform chosen on the command line")
        << QStringList { "WAYLAND_DISPLAY=wayland-0" } << QStringList { "-platform", "wayland" } << QStringList();
    QTest::newRow("Wayland, --platform=")
        << QStringList { "WAYLAND_DISPLAY=wayland-0" } << QStringList { "--platform=offscreen" } << QStringList();
    QTest::newRow("empty WAYLAND_DISPLAY") << QStringList { "WAYLAND_DISPLAY=" } << QStringList() << QStringList();
}

void TestCommandLine::testPlatformOnWayland()
{
    QFETCH(QStringList, environment);
    QFETCH(QStringList, options);
    QFETCH(QStringList, added);

    QProcessEnvironment env;
    for (const QString& pair : environment) {
        env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    }
    const CommandLine line(QStringList { QStringLiteral("vellumix") } + options);
    QVERIFY(line.startsWindow());
    QCOMPARE(line.platformArguments(env), added);
}

void TestCommandLine::testExecArgument_data()
{
    QTest::addColumn<QString>("argument");
    QTest::newRow("plain") << "/usr/lib/vellumix/vellumix";
    QTest::newRow("blank") << "/home/me/my tools/vellumix";
    QTest::newRow("shell characters") << "/opt/a$b`c\"d'e;f&g|h*i?j#k(l)m<n>o~p/vellumix";
    QTest::newRow("backslash") << "/opt/back\\slash/vellumix";
    QTest::newRow("percent") << "/opt/100%/%f/vellumix";
    QTest::newRow("tab and line break") << "/opt/a\tb\nc/vellumix";
    QTest::newRow("equals and non-ASCII") << "/opt/a=b/Ünïcødé/vellumix";
}

void TestCommandLine::testExecArgument()
{
    QFETCH(QString, argument);
    const QString written = CommandLine::execArgument(argument);
    QCOMPARE(readExecArgument(written), argument);
    QVERIFY2(!written.contains(u'\n'), qPrintable(written));

    // The whole entry for a program by that name passes the desktop's own check.
    const QString entry = m_dir->filePath(QStringLiteral("test.desktop"));
    QFile file(entry);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(CommandLine::autostartEntry(argument));
    file.close();
    const QString complaint = validate(entry);
    QVERIFY2(complaint.isEmpty(), qPrintable(complaint));
}

void TestCommandLine::testAutostartFolderNotWritable()
{
    // A file where the folder should be stops even root.
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("config")));
    QFile blocker(m_dir->filePath(QStringLiteral("config/autostart")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    const Outcome on = runLine({ QStringLiteral("--autostart"), QStringLiteral("on") });
    QCOMPARE(on.status, 1);
    QVERIFY2(on.err.contains(QStringLiteral("cannot write")), qPrintable(on.err));
    QVERIFY(QFileInfo(blocker.fileName()).isFile());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "TestCommandLine.moc"
