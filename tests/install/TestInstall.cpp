#include "tests/x11/ProgramCopy.h"
#include "tests/x11/XClip.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace
{
struct Result
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Result execute(const QString& program, const QStringList& arguments,
    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
    const QString& workingDirectory = QString())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    Result result;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(3000);
        result.err = "did not finish: " + program.toUtf8();
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

int modeOf(const QString& path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

bool setWritable(const QString& folder, bool writable)
{
    // Without the owner's write bit the program treats the folder as read-only, also as root.
    return QFile::setPermissions(folder,
        QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther
            | (writable ? QFile::WriteOwner : QFile::Permissions()));
}

const QByteArray Password = "730582";
} // namespace

// The program as `cmake --install` lays it out, started through bin/vellumix
// from another folder with a home of its own, as a user of the package meets it.
class TestInstall : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void testLayout_data();
    void testLayout();
    void testDesktopFilesValidate_data();
    void testDesktopFilesValidate();
    void testOptionsWithoutDisplay_data();
    void testOptionsWithoutDisplay();
    void testDataSurvivesRestart_data();
    void testDataSurvivesRestart();
    void testWaylandSessionUsesX11();

private:
    QProcessEnvironment environment() const;
    bool start(const QString& program, const QProcessEnvironment& env);
    bool stop();

    std::unique_ptr<QTemporaryDir> m_root;
    QString m_prefix;
    QString m_programDir;
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QProcess> m_program;
};

void TestInstall::initTestCase()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    // A blank in the prefix must not break the link, the entries or the program.
    m_prefix = m_root->filePath(QStringLiteral("pre fix"));
    const Result install = execute(QStringLiteral(VELLUMIX_CMAKE_COMMAND),
        { QStringLiteral("--install"), QStringLiteral(VELLUMIX_BUILD_DIR), QStringLiteral("--prefix"), m_prefix });
    QVERIFY2(install.status == 0, install.out + install.err);
    m_programDir = m_prefix + QStringLiteral("/lib/vellumix");
}

void TestInstall::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(m_home->path()).mkpath(QStringLiteral("elsewhere")));
    QVERIFY(setWritable(m_programDir, false));
}

void TestInstall::cleanup()
{
    if (m_program && m_program->state() != QProcess::NotRunning) {
        m_program->kill();
        m_program->waitForFinished(3000);
    }
    m_program.reset();
    setWritable(m_programDir, true);
    for (const char* name : { "notes", "vellumix.ini", "vellumix.vma" }) {
        QFile::remove(m_programDir + u'/' + QString::fromLatin1(name));
    }
    m_home.reset();
}

QProcessEnvironment TestInstall::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home->filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_home->filePath(QStringLiteral("data")));
    // The sanitizers' runtime in an instrumented build finds the engine by the program's folder.
    env.remove(QStringLiteral("LD_LIBRARY_PATH"));
    return env;
}

void TestInstall::testLayout_data()
{
    QTest::addColumn<QString>("path");
    for (const char* path :
        { "lib/vellumix/vellumix", "lib/vellumix/libZipEngine179.so", "lib/vellumix/vellumix.DEU",
            "lib/vellumix/vellumix.AFK", "lib/vellumix/vellumix.chm", "share/man/man1/vellumix.1.gz",
            "share/applications/" VELLUMIX_DESKTOP_ID ".desktop", "share/metainfo/" VELLUMIX_DESKTOP_ID ".metainfo.xml",
            "share/icons/hicolor/scalable/apps/" VELLUMIX_DESKTOP_ID ".svg" }) {
        QTest::newRow(path) << QString::fromLatin1(path);
    }
    for (int size : { 16, 22, 24, 32, 48, 64, 128, 256 }) {
        const QString path = QStringLiteral("share/icons/hicolor/%1x%1/apps/" VELLUMIX_DESKTOP_ID ".png").arg(size);
        QTest::newRow(qPrintable(path)) << path;
    }
}

void TestInstall::testLayout()
{
    QFETCH(QString, path);
    const QFileInfo file(m_prefix + u'/' + path);
    QVERIFY2(file.isFile() && file.size() > 0, qPrintable(file.filePath()));
    if (path.endsWith(QLatin1String(".png"))) {
        const int size = path.section(u'/', 3, 3).section(u'x', 0, 0).toInt();
        QCOMPARE(QImageReader(file.filePath()).size(), QSize(size, size));
    }
    // The link is relative, so the tree can move (a package's root, DESTDIR).
    const QFileInfo link(m_prefix + QStringLiteral("/bin/vellumix"));
    QVERIFY(link.isSymLink());
    QCOMPARE(QFile::symLinkTarget(link.filePath()), m_programDir + QStringLiteral("/vellumix"));
    QCOMPARE(QDir(m_prefix + QStringLiteral("/bin")).relativeFilePath(link.symLinkTarget()),
        QStringLiteral("../lib/vellumix/vellumix"));
    QVERIFY(!QFileInfo::exists(m_prefix + QStringLiteral("/lib/vellumix/vellumix.ini")));
}

void TestInstall::testDesktopFilesValidate_data()
{
    QTest::addColumn<QString>("validator");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("file");
    QTest::newRow("menu entry") << "desktop-file-validate" << QStringList()
                                << "share/applications/" VELLUMIX_DESKTOP_ID ".desktop";
    QTest::newRow("metainfo") << "appstreamcli" << QStringList { "validate", "--no-net" }
                              << "share/metainfo/" VELLUMIX_DESKTOP_ID ".metainfo.xml";
    QTest::newRow("man page") << "man" << QStringList { "--warnings", "-E", "UTF-8", "-l" }
                              << "share/man/man1/vellumix.1.gz";
}

void TestInstall::testDesktopFilesValidate()
{
    QFETCH(QString, validator);
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    const Result result = execute(validator, arguments << m_prefix + u'/' + file, env);
    QVERIFY2(result.status == 0, result.out + result.err);
    // desktop-file-validate and man say nothing when all is well; appstreamcli reports success.
    QVERIFY2(result.err.isEmpty(), result.err);
    if (validator == QLatin1String("desktop-file-validate")) {
        QVERIFY2(result.out.isEmpty(), result.out);
    }

    if (file.endsWith(QLatin1String(".desktop"))) {
        // The menu starts the program the package puts on the PATH.
        QFile entry(m_prefix + u'/' + file);
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QByteArray content = entry.readAll();
        QVERIFY(content.contains("\nExec=vellumix\n"));
        QVERIFY(content.contains("\nIcon=" VELLUMIX_DESKTOP_ID "\n"));
        QVERIFY(QFileInfo(m_prefix + QStringLiteral("/bin/vellumix")).isExecutable());
    }
}

void TestInstall::testOptionsWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // a regular expression; %H stands for the temporary home
    QTest::addColumn<QString>("err");

    QTest::newRow("--version") << QStringList { "--version" } << 0 << "^vellumix " VELLUMIX_VERSION "\n$"
                               << "^$";
    QTest::newRow("--autostart on") << QStringList { "--autostart", "on" } << 0
                                    << "^Autostart on: %H/config/autostart/" VELLUMIX_DESKTOP_ID "\\.desktop\n$"
                                    << "^$";
    QTest::newRow("unknown option") << QStringList { "--no-such-option" } << 2 << "^$"
                                    << "^vellumix: Unknown option 'no-such-option'";
}

void TestInstall::testOptionsWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QProcessEnvironment env = environment();
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" }) {
        env.remove(QString::fromLatin1(name));
    }
    const Result result = execute(
        m_prefix + QStringLiteral("/bin/vellumix"), arguments, env, m_home->filePath(QStringLiteral("elsewhere")));
    QCOMPARE(result.status, status);
    const QString home = QRegularExpression::escape(m_home->path());
    QVERIFY2(
        QRegularExpression(out.replace(QStringLiteral("%H"), home)).match(QString::fromUtf8(result.out)).hasMatch(),
        result.out);
    QVERIFY2(QRegularExpression(err).match(QString::fromUtf8(result.err)).hasMatch(), result.err);

    if (arguments.contains(QStringLiteral("--autostart"))) {
        const QString entry = m_home->filePath(QStringLiteral("config/autostart/" VELLUMIX_DESKTOP_ID ".desktop"));
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // The installed program itself, quoted for the blank in the prefix.
        QVERIFY2(file.readAll().contains("\nExec=\"" + QFile::encodeName(m_programDir) + "/vellumix\"\n"),
            qPrintable(entry));
        const Result valid = execute(QStringLiteral("desktop-file-validate"), { entry });
        QVERIFY2(valid.status == 0 && valid.out.isEmpty(), valid.out + valid.err);
        QCOMPARE(execute(m_prefix + QStringLiteral("/bin/vellumix"),
                     { QStringLiteral("--autostart"), QStringLiteral("off") }, env)
                     .status,
            0);
        QVERIFY(!QFileInfo::exists(entry));
    }
}

bool TestInstall::start(const QString& program, const QProcessEnvironment& env)
{
    m_program = std::make_unique<QProcess>();
    m_program->setProcessEnvironment(env);
    m_program->setWorkingDirectory(m_home->filePath(QStringLiteral("elsewhere")));
    m_program->setProcessChannelMode(QProcess::ForwardedChannels);
    m_program->start(program, {});
    if (!m_program->waitForStarted(5000)) {
        return false;
    }
    return !waitForWindow(*m_program).isEmpty();
}

bool TestInstall::stop()
{
    execute(QStringLiteral("kill"), { QStringLiteral("-TERM"), QString::number(m_program->processId()) });
    return m_program->waitForFinished(30000) && m_program->exitStatus() == QProcess::NormalExit
        && m_program->exitCode() == 0;
}

void TestInstall::testDataSurvivesRestart_data()
{
    QTest::addColumn<QString>("program"); // relative to the prefix
    QTest::addColumn<bool>("folderWritable");
    QTest::addColumn<bool>("xdgSet");
    QTest::addColumn<QString>("settings"); // relative to the temporary home, or to the prefix when portable
    QTest::addColumn<QString>("archive");

    QTest::newRow("installed") << "bin/vellumix" << false << true << "config/vellumix/vellumix.ini"
                               << "data/vellumix/vellumix.vma";
    QTest::newRow("installed, XDG unset") << "bin/vellumix" << false << false << "home/.config/vellumix/vellumix.ini"
                                          << "home/.local/share/vellumix/vellumix.vma";
    QTest::newRow("installed and renamed") << "lib/vellumix/notes" << false << true << "config/vellumix/notes.ini"
                                           << "data/vellumix/notes.vma";
    QTest::newRow("writable folder: portable") << "bin/vellumix" << true << true << "lib/vellumix/vellumix.ini"
                                               << "lib/vellumix/vellumix.vma";
}

void TestInstall::testDataSurvivesRestart()
{
    QFETCH(QString, program);
    QFETCH(bool, folderWritable);
    QFETCH(bool, xdgSet);
    QFETCH(QString, settings);
    QFETCH(QString, archive);

    if (program.endsWith(QLatin1String("/notes"))) {
        QVERIFY(setWritable(m_programDir, true));
        QVERIFY(QFile::copy(m_programDir + QStringLiteral("/vellumix"), m_programDir + QStringLiteral("/notes")));
    }
    QVERIFY(setWritable(m_programDir, folderWritable));
    const QString base = folderWritable ? m_prefix : m_home->path();
    settings = base + u'/' + settings;
    archive = base + u'/' + archive;
    const QString name = QFileInfo(program).fileName();

    QProcessEnvironment env = environment();
    if (!xdgSet) {
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.remove(QStringLiteral("XDG_DATA_HOME"));
    }
    // Without a display; telling the paths makes no folder yet.
    QProcessEnvironment noDisplay = env;
    noDisplay.remove(QStringLiteral("DISPLAY"));
    const Result paths = execute(m_prefix + u'/' + program, { QStringLiteral("--paths") }, noDisplay);
    QCOMPARE(QString::fromUtf8(paths.out), QStringLiteral("settings: %1\narchive:  %2\n").arg(settings, archive));
    QVERIFY(!QFileInfo::exists(QFileInfo(settings).absolutePath()) || folderWritable);

    XClip xclip;
    QVERIFY(xclip.copy("first run"));
    QVERIFY(start(m_prefix + u'/' + program, env));
    QVERIFY(xclip.waitServed(1));
    QVERIFY(stop());
    QVERIFY2(QFileInfo(settings).isFile(), qPrintable(settings));
    QVERIFY2(QFileInfo(archive).isFile(), qPrintable(archive));
    if (!folderWritable) {
        QCOMPARE(modeOf(QFileInfo(settings).absolutePath()), 0700);
        QCOMPARE(modeOf(QFileInfo(archive).absolutePath()), 0700);
        QVERIFY(!QFileInfo::exists(m_programDir + u'/' + name + QStringLiteral(".ini")));
    }

    // The second run reads the settings it finds there: no time stamp lines any more.
    QFile ini(settings);
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QByteArray content = ini.readAll();
    ini.close();
    QVERIFY2(content.contains("timestamp=1\n"), content);
    content.replace("timestamp=1\n", "timestamp=0\n");
    QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(ini.write(content), content.size());
    ini.close();

    QVERIFY(xclip.copy("second run"));
    QVERIFY(start(m_prefix + u'/' + program, env));
    QVERIFY(xclip.waitServed(1));
    QVERIFY(stop());

    const QByteArray stored = execute(QStringLiteral("unzip"),
        { QStringLiteral("-P"), QString::fromLatin1(Password), QStringLiteral("-p"), archive,
            name + QStringLiteral(".clips") })
                                  .out;
    const QRegularExpression expected(QStringLiteral("^\\[[^\\]\r\n]+\\]-{17}\r\nfirst run\r\nsecond run\r\n$"));
    QVERIFY2(expected.match(QString::fromUtf8(stored)).hasMatch(), stored.toPercentEncoding().constData());

    if (folderWritable) {
        QFile::remove(settings);
        QFile::remove(archive);
        QVERIFY(!QFileInfo::exists(m_home->filePath(QStringLiteral("config"))));
        QVERIFY(!QFileInfo::exists(m_home->filePath(QStringLiteral("data"))));
    }
}

void TestInstall::testWaylandSessionUsesX11()
{
    // No Wayland compositor runs here: a window that shows up went through X11.
    QProcessEnvironment env = environment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("vellumix-test-no-such-wayland"));
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    QVERIFY(start(m_prefix + QStringLiteral("/bin/vellumix"), env));
    QVERIFY(stop());
}

QTEST_GUILESS_MAIN(TestInstall)
#include "TestInstall.moc"
