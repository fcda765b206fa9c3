#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace
{
void setEnv(const char* name, const QString& value)
{
    if (value.isNull()) {
        qunsetenv(name);
    } else {
        qputenv(name, QFile::encodeName(value));
    }
}

int modeOf(const QString& path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}
} // namespace

// Where the settings file and the session archive live: beside a program in a
// folder the user may write, else in the user's XDG folders.
class TestAppPaths : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void testDataLocation_data();
    void testDataLocation();
    void testMakePrivateFolder();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_home;
};

void TestAppPaths::init()
{
    m_home = qgetenv("HOME");
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("home")));
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("prog")));
    qputenv("HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("home"))));
}

void TestAppPaths::cleanup()
{
    AppPaths::setExecutablePathForTesting({});
    qputenv("HOME", m_home);
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
    // A read-only folder would keep the temporary folder from going.
    QFile::setPermissions(
        m_dir->filePath(QStringLiteral("prog")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_dir.reset();
}

void TestAppPaths::testDataLocation_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<bool>("folderWritable");
    QTest::addColumn<QString>("configHome"); // relative to the temporary folder; null: unset
    QTest::addColumn<QString>("dataHome");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QStringList>("createdFolders");

    const QString unset;
    QTest::newRow("writable folder: beside the program") << "vellumix" << true << "cfg"
                                                         << "data"
                                                         << "prog/vellumix.ini"
                                                         << "prog/vellumix.vma" << QStringList();
    QTest::newRow("installed: XDG folders")
        << "vellumix" << false << "cfg"
        << "data"
        << "cfg/vellumix/vellumix.ini"
        << "data/vellumix/vellumix.vma" << QStringList { "cfg", "cfg/vellumix", "data", "data/vellumix" };
    QTest::newRow("installed: XDG unset")
        << "vellumix" << false << unset << unset << "home/.config/vellumix/vellumix.ini"
        << "home/.local/share/vellumix/vellumix.vma"
        << QStringList { "home/.config", "home/.config/vellumix", "home/.local", "home/.local/share",
               "home/.local/share/vellumix" };
    QTest::newRow("installed: empty and relative XDG values are ignored")
        << "vellumix" << false << ""
        << "relative/data"
        << "home/.config/vellumix/vellumix.ini"
        << "home/.local/share/vellumix/vellumix.vma"
        << QStringList { "home/.config/vellumix", "home/.local/share/vellumix" };
    QTest::newRow("installed and renamed: files follow the name")
        << "notes" << false << "cfg"
        << "data"
        << "cfg/vellumix/notes.ini"
        << "data/vellumix/notes.vma" << QStringList { "cfg/vellumix", "data/vellumix" };
    // Even root cannot make a folder below a file.
    QTest::newRow("installed: config home cannot be made")
        << "vellumix" << false << "blocked/cfg"
        << "data"
        << "blocked/cfg/vellumix/vellumix.ini"
        << "data/vellumix/vellumix.vma" << QStringList { "data/vellumix" };
}

void TestAppPaths::testDataLocation()
{
    QFETCH(QString, executable);
    QFETCH(bool, folderWritable);
    QFETCH(QString, configHome);
    QFETCH(QString, dataHome);
    QFETCH(QString, settings);
    QFETCH(QString, archive);
    QFETCH(QStringList, createdFolders);

    const QDir root(m_dir->path());
    auto absolute = [&root](const QString& relative) {
        return relative.isEmpty() || relative.startsWith(QLatin1String("relative")) ? relative
                                                                                    : root.filePath(relative);
    };
    setEnv("XDG_CONFIG_HOME", configHome.isNull() ? configHome : absolute(configHome));
    setEnv("XDG_DATA_HOME", dataHome.isNull() ? dataHome : absolute(dataHome));
    if (configHome.startsWith(QLatin1String("blocked"))) {
        QFile blocker(root.filePath(QStringLiteral("blocked")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    AppPaths::setExecutablePathForTesting(root.filePath(QStringLiteral("prog/") + executable));
    if (!folderWritable) {
        QVERIFY(QFile::setPermissions(root.filePath(QStringLiteral("prog")), QFile::ReadOwner | QFile::ExeOwner));
    }
    QCOMPARE(AppPaths::dataBesideExecutable(), folderWritable);

    // Only asking makes no folder.
    QCOMPARE(AppPaths::settingsFile(AppPaths::Folder::Leave), root.filePath(settings));
    QCOMPARE(AppPaths::archiveFile(AppPaths::Folder::Leave), root.filePath(archive));
    for (const QString& folder : createdFolders) {
        QVERIFY2(!QFileInfo::exists(root.filePath(folder)), qPrintable(folder));
    }

    QCOMPARE(AppPaths::settingsFile(), root.filePath(settings));
    QCOMPARE(AppPaths::archiveFile(), root.filePath(archive));
    for (const QString& folder : createdFolders) {
        QVERIFY2(QFileInfo(root.filePath(folder)).isDir(), qPrintable(folder));
        QCOMPARE(modeOf(root.filePath(folder)), 0700);
    }
    QVERIFY(!QFileInfo::exists(QStringLiteral("relative")));
}

void TestAppPaths::testMakePrivateFolder()
{
    const QDir root(m_dir->path());
    // Folders that exist keep their mode; the new ones are private.
    QVERIFY(root.mkdir(QStringLiteral("shared")));
    QVERIFY(QFile::setPermissions(root.filePath(QStringLiteral("shared")),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    QVERIFY(AppPaths::makePrivateFolder(root.filePath(QStringLiteral("shared/a//b/"))));
    QCOMPARE(modeOf(root.filePath(QStringLiteral("shared"))), 0705);
    QCOMPARE(modeOf(root.filePath(QStringLiteral("shared/a"))), 0700);
    QCOMPARE(modeOf(root.filePath(QStringLiteral("shared/a/b"))), 0700);
    QVERIFY(AppPaths::makePrivateFolder(root.filePath(QStringLiteral("shared/a/b"))));

    // A file in the way is no folder.
    QFile file(root.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(!AppPaths::makePrivateFolder(root.filePath(QStringLiteral("file"))));
    QVERIFY(!AppPaths::makePrivateFolder(root.filePath(QStringLiteral("file/below"))));
}

QTEST_GUILESS_MAIN(TestAppPaths)
#include "TestAppPaths.moc"
