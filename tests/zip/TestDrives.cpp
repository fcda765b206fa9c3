#include "platform/Drives.h"

#include <QDir>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

using Drives::DriveType;

class TestDrives : public QObject
{
    Q_OBJECT

private slots:
    void testRealDrive();
    void testPathNotYetThere();
    void testTestDrive_data();
    void testTestDrive();
    void testLabelsOnlyOnTestDrives();
};

void TestDrives::testRealDrive()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Drives::DriveInfo info = Drives::driveInfo(dir.path());
    QVERIFY(info.valid);
    QVERIFY(info.root.endsWith(QLatin1Char('/')));
    QVERIFY((QDir(dir.path()).canonicalPath() + QLatin1Char('/')).startsWith(info.root));
    QCOMPARE(QDir(info.root).canonicalPath(), QDir(QStorageInfo(dir.path()).rootPath()).canonicalPath());
    // A writable temporary folder is never on an optical or missing drive.
    QVERIFY(info.type == DriveType::Fixed || info.type == DriveType::RamDisk || info.type == DriveType::Removable
        || info.type == DriveType::Remote);
    QVERIFY(!info.readOnly);
    QVERIFY(info.totalBytes > 0);
    QVERIFY(info.freeBytes >= 0 && info.freeBytes <= info.totalBytes);

    QCOMPARE(Drives::driveInfo(QStringLiteral("/proc")).type, DriveType::Fixed);
    QVERIFY(!Drives::driveInfo(QString()).valid);
}

void TestDrives::testPathNotYetThere()
{
    QTemporaryDir dir;
    const QString missing = dir.path() + QStringLiteral("/a/b/c.zip");
    QCOMPARE(Drives::driveRoot(missing), Drives::driveRoot(dir.path()));
    QCOMPARE(Drives::driveType(missing), Drives::driveType(dir.path()));
}

void TestDrives::testTestDrive_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("fixedKind");
    QTest::newRow("removable") << int(DriveType::Removable) << false;
    QTest::newRow("optical") << int(DriveType::CdRom) << false;
    QTest::newRow("remote") << int(DriveType::Remote) << true;
    QTest::newRow("RAM disk") << int(DriveType::RamDisk) << true;
    QTest::newRow("fixed") << int(DriveType::Fixed) << true;
}

void TestDrives::testTestDrive()
{
    QFETCH(int, type);
    QFETCH(bool, fixedKind);

    QTemporaryDir dir;
    const QString stick = dir.path() + QStringLiteral("/stick");
    const QString outside = dir.path() + QStringLiteral("/sticky/file");
    const Drives::DriveInfo real = Drives::driveInfo(outside);
    {
        Drives::TestDrive drive(stick, DriveType(type), QStringLiteral("PKBACK# 001"));
        drive.setSpace(1000, 4000);
        const Drives::DriveInfo info = Drives::driveInfo(stick + QStringLiteral("/sub/part.zip"));
        QVERIFY(info.valid);
        QCOMPARE(info.root, stick + QLatin1Char('/'));
        QCOMPARE(int(info.type), type);
        QCOMPARE(info.label, QStringLiteral("PKBACK# 001"));
        QCOMPARE(info.freeBytes, qint64(1000));
        QCOMPARE(info.totalBytes, qint64(4000));
        QCOMPARE(Drives::isFixedKind(info.type), fixedKind);
        // A sibling whose name merely starts the same is not on the drive.
        QCOMPARE(Drives::driveRoot(outside), real.root);
    }
    QCOMPARE(Drives::driveRoot(stick), real.root);
}

void TestDrives::testLabelsOnlyOnTestDrives()
{
    QTemporaryDir dir;
    QVERIFY(!Drives::setVolumeLabel(dir.path(), QStringLiteral("X")));
    QVERIFY(!Drives::formatDrive(dir.path()));

    Drives::TestDrive drive(dir.path());
    QVERIFY(Drives::setVolumeLabel(dir.path() + QStringLiteral("/inner"), QStringLiteral("PKBACK# 002")));
    QCOMPARE(drive.label(), QStringLiteral("PKBACK# 002"));
    QCOMPARE(Drives::driveInfo(dir.path()).label, QStringLiteral("PKBACK# 002"));
    drive.setReadOnly(true);
    QVERIFY(Drives::driveInfo(dir.path()).readOnly);
    QVERIFY(!Drives::setVolumeLabel(dir.path(), QStringLiteral("PKBACK# 003")));
    QVERIFY(!Drives::formatDrive(dir.path()));
}

QTEST_GUILESS_MAIN(TestDrives)
#include "TestDrives.moc"
