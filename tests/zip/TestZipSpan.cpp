#include "platform/Drives.h"
#include "tests/zip/ZipStreamEntries.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include <unistd.h>

using ZipTest::add;
using ZipTest::extract;

namespace
{
int run(const QString& program, const QStringList& args, const QString& folder = {})
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, args);
    process.waitForFinished(60000);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QByteArray noise(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray out(size, '\0');
    for (char& c : out)
        c = char(random.bounded(256));
    return out;
}

QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
        QFile file(info.filePath());
        if (file.open(QIODevice::ReadOnly))
            files.insert(info.fileName(), file.readAll());
    }
    return files;
}

// One drive folder that stands for a slot: disks are swapped by moving the
// folder's files to a shelf and back, each disk keeping its label.
class DiskSlot
{
public:
    DiskSlot(const QString& drive, const QString& shelf)
        : m_drive(drive)
        , m_shelf(shelf)
    { }

    // Disk 0 asks for the last disk.
    void insert(int disk)
    {
        if (disk == 0)
            disk = m_labels.isEmpty() ? m_current : std::max(m_current, m_labels.lastKey());
        ++prompts;
        if (disk == m_current)
            return;
        move(m_drive, shelfOf(m_current));
        m_labels[m_current] = Drives::driveInfo(m_drive).label;
        move(shelfOf(disk), m_drive);
        Drives::setVolumeLabel(m_drive, m_labels.value(disk));
        m_current = disk;
    }

    // The file of that name on every disk, in disk order.
    QList<QByteArray> parts(const QString& name) const
    {
        QList<QByteArray> out;
        const int last = std::max(m_current, m_labels.isEmpty() ? 0 : m_labels.lastKey());
        for (int disk = 1; disk <= last; ++disk) {
            QFile file((disk == m_current ? m_drive : shelfOf(disk)) + QLatin1Char('/') + name);
            out << (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
        }
        return out;
    }

    int prompts = 0;

private:
    QString shelfOf(int disk) const { return m_shelf + QStringLiteral("/disk%1").arg(disk); }
    static void move(const QString& from, const QString& to)
    {
        QDir().mkpath(to);
        for (const QString& name : QDir(from).entryList(QDir::Files | QDir::Hidden))
            QFile::rename(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name);
    }

    QString m_drive;
    QString m_shelf;
    int m_current = 1;
    QMap<int, QString> m_labels;
};
} // namespace

class TestZipSpan : public QObject
{
    Q_OBJECT

public:
    // In a child process: adds to the set in the folder and kills itself while writing its second part.
    static int writeAndDie(const QString& folder)
    {
        auto zip = component(folder + QStringLiteral("/journal.zip"), { spCompatName });
        zip->SetOnProgress([&](QObject*, ProgressType type, const QString&, qint64) {
            if (type == ProgressType::ExtraUpdate && QFileInfo::exists(folder + QStringLiteral("/journal.z02.old~")))
                ::kill(::getpid(), SIGKILL);
        });
        add(*zip, QStringLiteral("b.bin"), noise(20000, 18));
        return 1;
    }

private:
    QTemporaryDir m_dir;
    int m_folders = 0;

    QString newFolder()
    {
        const QString folder = m_dir.filePath(QStringLiteral("f%1").arg(++m_folders));
        QDir().mkpath(folder);
        return folder;
    }

    static std::unique_ptr<TZipArchiver> component(const QString& archive, SpanOpts options)
    {
        auto zip = std::make_unique<TZipArchiver>();
        zip->SetDLLDirectory(QStringLiteral(VELLUMIX_BIN_DIR));
        zip->SetUnattended(true);
        zip->SetAddOptions({ AddDiskSpan });
        zip->SetSpanOptions(options);
        zip->SetMaxVolumeSize(8192);
        zip->SetMinFreeVolumeSize(1024);
        zip->SetZipFileName(archive);
        return zip;
    }

    // Joins the parts with Info-ZIP and has the result tested by unzip.
    static bool joinsCleanly(const QString& lastPart, const QString& joined)
    {
        return run(QStringLiteral("zip"),
                   { QStringLiteral("-s"), QStringLiteral("0"), lastPart, QStringLiteral("--out"), joined })
            == 0
            && run(QStringLiteral("unzip"), { QStringLiteral("-tq"), joined }) == 0;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void cleanup() { TZipDialogBox::setNextAnswer(TZipDialogBox::Answer()); }

    void testFixedDriveNumberedExtensions()
    {
        const QString folder = newFolder();
        const QString archive = folder + QStringLiteral("/journal.zip");
        auto zip = component(archive, { spCompatName });
        const QByteArray first = noise(20000, 1);
        QCOMPARE(add(*zip, QStringLiteral("a.bin"), first), 0);
        const int lastDisk = zip->Worker()->LastDiskNumber();
        QVERIFY(lastDisk >= 2);
        for (int n = 1; n <= lastDisk; ++n) {
            const QFileInfo part(folder + QStringLiteral("/journal.z%1").arg(n, 2, 10, QLatin1Char('0')));
            QVERIFY2(part.exists(), qPrintable(part.fileName()));
            QVERIFY(part.size() <= 8192);
        }
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/journal.z%1").arg(lastDisk + 1, 2, 10, QLatin1Char('0'))));
        QVERIFY(QFileInfo(archive).size() <= 8192);
        QVERIFY(joinsCleanly(archive, folder + QStringLiteral("/joined1.zip")));
        QCOMPARE(zip->Count(), 1);
        QCOMPARE(extract(*zip, QStringLiteral("a.bin")), first);

        // A second add joins the set, adds, and splits it again.
        const QByteArray second = noise(9000, 2);
        QCOMPARE(add(*zip, QStringLiteral("b.bin"), second), 0);
        QCOMPARE(zip->Count(), 2);
        QCOMPARE(extract(*zip, QStringLiteral("a.bin")), first);
        QCOMPARE(extract(*zip, QStringLiteral("b.bin")), second);
        QVERIFY(joinsCleanly(archive, folder + QStringLiteral("/joined2.zip")));
        QCOMPARE(run(QStringLiteral("7z"), { QStringLiteral("t"), folder + QStringLiteral("/joined2.zip") }), 0);
        QCOMPARE(zip->Worker()->LastDiskNumber(), zip->Worker()->Parts().DiskNumber());
    }

    void testFixedDriveNumberedNames()
    {
        const QString folder = newFolder();
        const QString archive = folder + QStringLiteral("/journal.zip");
        auto zip = component(archive, {});
        // A plain archive first: the multi-part add takes its entry along.
        zip->SetAddOptions({});
        const QByteArray first = noise(3000, 3);
        QCOMPARE(add(*zip, QStringLiteral("a.bin"), first), 0);
        zip->SetAddOptions({ AddDiskSpan });
        const QByteArray second = noise(16000, 4);
        QCOMPARE(add(*zip, QStringLiteral("b.bin"), second), 0);
        QVERIFY(!QFileInfo::exists(archive));
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/journal001.zip")));
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/journal003.zip")));
        QCOMPARE(zip->Count(), 2);
        QCOMPARE(extract(*zip, QStringLiteral("a.bin")), first);
        QCOMPARE(extract(*zip, QStringLiteral("b.bin")), second);
    }

    void testReservesAndCap()
    {
        const QString folder = newFolder();
        Drives::TestDrive drive(folder, Drives::DriveType::Fixed);
        drive.setSpace(30000, 1 << 20);
        auto zip = component(folder + QStringLiteral("/journal.zip"), { spCompatName });
        zip->SetMaxVolumeSize(0);
        zip->SetKeepFreeOnDisk1(16384);
        zip->SetKeepFreeOnAllDisks(1000); // a whole sector: 1024
        QCOMPARE(add(*zip, QStringLiteral("a.bin"), noise(40000, 5)), 0);
        const qint64 firstSize = QFileInfo(folder + QStringLiteral("/journal.z01")).size();
        QVERIFY(firstSize <= 30000 - 1024 - 16384);
        QVERIFY(firstSize > 30000 - 1024 - 16384 - 200);
        QVERIFY(QFileInfo(folder + QStringLiteral("/journal.z02")).size() <= 30000 - 1024);
        QVERIFY(joinsCleanly(folder + QStringLiteral("/journal.zip"), folder + QStringLiteral("/joined.zip")));
    }

    void testFailuresLeaveTheSet()
    {
        const QString folder = newFolder();
        const QString archive = folder + QStringLiteral("/journal.zip");
        auto zip = component(archive, { spCompatName });
        QCOMPARE(add(*zip, QStringLiteral("a.bin"), noise(20000, 6)), 0);
        const auto before = snapshot(folder);

        // Refused on the second part, after the first was rewritten.
        int asked = 0;
        zip->SetOnStatusDisk([&](QObject*, int, const QString&, TZipDiskStatus status, TZipDiskAction& action) {
            QVERIFY(status.contains(zdsSameFileName));
            action = ++asked == 2 ? TZipDiskAction::zdaCancel : TZipDiskAction::zdaOk;
        });
        QCOMPARE(add(*zip, QStringLiteral("b.bin"), noise(20000, 7)), 11007);
        QCOMPARE(asked, 2);
        QCOMPARE(snapshot(folder), before);
        QCOMPARE(zip->Count(), 1);

        // Cancelled while the set is joined.
        zip->SetOnStatusDisk(nullptr);
        zip->SetOnCheckTerminate([](QObject*, bool& abort) { abort = true; });
        QCOMPARE(add(*zip, QStringLiteral("b.bin"), noise(20000, 7)), 11007);
        QCOMPARE(snapshot(folder), before);
        QCOMPARE(zip->Count(), 1);
        zip->SetOnCheckTerminate(nullptr);

        // Too little room for any part on a fixed drive ends the add instead of asking forever.
        zip->SetOnStatusDisk(nullptr);
        zip->SetMinFreeVolumeSize(65536);
        QCOMPARE(add(*zip, QStringLiteral("b.bin"), noise(20000, 7)), 11032);
        QCOMPARE(snapshot(folder), before);

        // A new set that fails leaves nothing behind.
        const QString other = newFolder();
        auto fresh = component(other + QStringLiteral("/new.zip"), { spCompatName });
        fresh->SetMinFreeVolumeSize(65536);
        QCOMPARE(add(*fresh, QStringLiteral("a.bin"), noise(20000, 8)), 11032);
        QVERIFY(snapshot(other).isEmpty());
    }

    // Writing numbered extensions over a plain archive, the user keeps the plain one.
    void testDeclinedReplaceKeepsPlainArchive()
    {
        const QString folder = newFolder();
        const QString archive = folder + QStringLiteral("/journal.zip");
        auto zip = component(archive, { spCompatName });
        zip->SetAddOptions({});
        QCOMPARE(add(*zip, QStringLiteral("a.bin"), noise(3000, 15)), 0);
        QFile plain(archive);
        QVERIFY(plain.open(QIODevice::ReadOnly));
        const QByteArray before = plain.readAll();
        plain.close();

        zip->SetAddOptions({ AddDiskSpan });
        QStringList asked;
        zip->SetOnStatusDisk([&](QObject*, int, const QString& file, TZipDiskStatus status, TZipDiskAction& action) {
            asked << QFileInfo(file).fileName();
            action = status.contains(zdsSameFileName) ? TZipDiskAction::zdaReject : TZipDiskAction::zdaOk;
        });
        QCOMPARE(add(*zip, QStringLiteral("b.bin"), noise(20000, 16)), 0);
        QCOMPARE(asked.last(), QStringLiteral("journal.zip"));
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/journal.z01")));
        QVERIFY(plain.open(QIODevice::ReadOnly));
        QCOMPARE(plain.readAll(), before);
    }

    // A kill while parts are written leaves some renamed aside; the next operation puts them back.
    void testKilledWhileWritingParts()
    {
        const QString folder = newFolder();
        const QString archive = folder + QStringLiteral("/journal.zip");
        auto writer = component(archive, { spCompatName });
        const QByteArray first = noise(20000, 17);
        QCOMPARE(add(*writer, QStringLiteral("a.bin"), first), 0);
        writer.reset();
        const auto before = snapshot(folder);

        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VELLUMIX_TEST_KILLED_WRITE"), folder);
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/journal.z02.old~")));

        auto zip = component(archive, { spCompatName });
        QCOMPARE(snapshot(folder), before);
        QCOMPARE(zip->Count(), 1);
        QCOMPARE(extract(*zip, QStringLiteral("a.bin")), first);
    }

    // The archive name is missing, and what its numbered names lead to is not a set.
    void testAddToSetNotFound_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::newRow("journal001.zip is a plain archive") << QStringList { "journal001.zip" };
        QTest::newRow("journal001.z01 beside it") << QStringList { "journal001.zip", "journal001.z01" };
    }

    void testAddToSetNotFound()
    {
        QFETCH(QStringList, present);
        const QString folder = newFolder();
        const QString plain = folder + QStringLiteral("/plain.zip");
        auto writer = component(plain, {});
        writer->SetAddOptions({});
        QCOMPARE(add(*writer, QStringLiteral("a.bin"), noise(100, 13)), 0);
        for (const QString& name : present)
            QVERIFY(QFile::copy(plain, folder + QLatin1Char('/') + name));
        QFile::remove(plain);
        const auto before = snapshot(folder);

        auto zip = component(folder + QStringLiteral("/journal.zip"), {});
        QCOMPARE(add(*zip, QStringLiteral("b.bin"), noise(100, 14)), 11002);
        QCOMPARE(zip->ErrorCode(), 11002);
        QCOMPARE(snapshot(folder), before);
    }

    // Sets whose central directory spans parts: one written by Info-ZIP, one by the component.
    void testSetWithDirectoryOverParts_data()
    {
        QTest::addColumn<bool>("byInfoZip");
        QTest::newRow("zip -s") << true;
        QTest::newRow("component") << false;
    }

    void testSetWithDirectoryOverParts()
    {
        QFETCH(bool, byInfoZip);
        const QString folder = newFolder();
        const QString work = newFolder();
        QDir().mkpath(work + QStringLiteral("/many"));
        const int files = 700;
        for (int i = 1; i <= files; ++i) {
            QFile file(work + QStringLiteral("/many/file_with_a_rather_long_name_for_the_directory_%1.txt").arg(i));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray::number(i));
        }
        const QString archive = folder + QStringLiteral("/set.zip");
        auto zip = component(archive, {});
        if (byInfoZip) {
            QCOMPARE(run(QStringLiteral("zip"), { "-q", "-X", "-r", "-s", "64k", archive, "many" }, work), 0);
            QVERIFY(QFileInfo::exists(folder + QStringLiteral("/set.z02")));
            zip->SetZipFileName(archive);
        } else {
            QCOMPARE(run(QStringLiteral("zip"), { "-q", "-X", "-r", archive, "many" }, work), 0);
            zip->SetZipFileName(archive);
            QCOMPARE(add(*zip, QStringLiteral("first.bin"), noise(3000, 11)), 0);
            QVERIFY(QFileInfo::exists(folder + QStringLiteral("/set003.zip")));
        }
        const int entries = byInfoZip ? files : files + 1;
        const QString sample = QStringLiteral("many\\file_with_a_rather_long_name_for_the_directory_7.txt");

        // Listed, joined into one archive every tool reads, extracted from and extended.
        QCOMPARE(zip->Count(), entries);
        QString joined = newFolder() + QStringLiteral("/joined.zip");
        QCOMPARE(zip->Worker()->ReadSpan(zip->ZipFileName(), joined, true), 0);
        QFile joinedFile(joined);
        QVERIFY(joinedFile.open(QIODevice::ReadOnly));
        const QByteArray tail = joinedFile.readAll().right(ZipEndOfCentral::Size);
        ZipEndOfCentral end;
        QVERIFY(end.Parse(tail.constData(), tail.size()));
        QCOMPARE(end.CentralEntries, end.TotalEntries);
        QCOMPARE(run(QStringLiteral("unzip"), { "-tq", joined }), 0);
        QCOMPARE(extract(*zip, sample), QByteArray("7"));
        const QByteArray added = noise(5000, 12);
        QCOMPARE(add(*zip, QStringLiteral("added.bin"), added), 0);
        QCOMPARE(zip->Count(), entries + 1);
        QCOMPARE(extract(*zip, QStringLiteral("added.bin")), added);
        QCOMPARE(extract(*zip, sample), QByteArray("7"));
    }

    void testRemovableDrive()
    {
        const QString folder = newFolder();
        const QString shelf = newFolder();
        Drives::TestDrive drive(folder, Drives::DriveType::Removable);
        drive.setSpace(1 << 20, 1 << 20);
        DiskSlot slot(folder, shelf);
        auto zip = component(folder + QStringLiteral("/journal.zip"), {});
        QCOMPARE(add(*zip, QStringLiteral("a.bin"), "x"), 11025); // no prompts unattended

        zip->SetUnattended(false);
        QList<int> sequence;
        zip->SetOnGetNextDisk([&](QObject*, int disk, int, const QString&, bool& abort) {
            sequence << disk;
            slot.insert(disk);
            abort = false;
        });
        QList<TZipDiskStatus> statuses;
        zip->SetOnStatusDisk([&](QObject*, int, const QString&, TZipDiskStatus status, TZipDiskAction& action) {
            statuses << status;
            action = TZipDiskAction::zdaOk;
        });
        const QByteArray data = noise(20000, 9);
        QCOMPARE(add(*zip, QStringLiteral("a.bin"), data), 0);
        const int lastDisk = zip->Worker()->LastDiskNumber();
        QVERIFY(lastDisk >= 2);
        QCOMPARE(sequence.first(), 1);
        QCOMPARE(sequence.value(lastDisk), lastDisk + 1);
        QVERIFY(statuses.value(0).contains(zdsEmpty));
        QCOMPARE(drive.label(), QStringLiteral("PKBACK# %1").arg(lastDisk + 1, 3, 10, QLatin1Char('0')));

        // Each disk holds a part of the same name; Info-ZIP wants them numbered.
        const QList<QByteArray> parts = slot.parts(QStringLiteral("journal.zip"));
        QCOMPARE(parts.size(), lastDisk + 1);
        const QString join = newFolder();
        for (int n = 0; n < parts.size(); ++n) {
            QVERIFY(!parts.at(n).isEmpty() && parts.at(n).size() <= 8192);
            const QString name = n == lastDisk ? QStringLiteral("/set.zip")
                                               : QStringLiteral("/set.z%1").arg(n + 1, 2, 10, QLatin1Char('0'));
            QFile file(join + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(parts.at(n));
        }
        QVERIFY(joinsCleanly(join + QStringLiteral("/set.zip"), join + QStringLiteral("/joined.zip")));

        // Read back through the drive, the disks asked for in turn.
        QCOMPARE(zip->Count(), 1);
        QCOMPARE(extract(*zip, QStringLiteral("a.bin")), data);
    }

    void testRemovableThroughDialogsAndErase()
    {
        const QString folder = newFolder();
        const QString shelf = newFolder();
        Drives::TestDrive drive(folder, Drives::DriveType::Removable);
        drive.setSpace(1 << 20, 1 << 20);
        QFile junk(folder + QStringLiteral("/old.txt"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("left from before");
        junk.close();
        DiskSlot slot(folder, shelf);
        auto zip = component(folder + QStringLiteral("/journal.zip"), {});
        zip->SetUnattended(false);
        zip->SetAddOptions({ AddDiskSpanErase });

        // Prompts are answered by inserting the next disk, the erase is confirmed and
        // error boxes are closed, all through the dialog hook.
        QStringList asked;
        int disk = 0;
        std::function<int(TZipDialogBox&)> answer = [&](TZipDialogBox& box) -> int {
            asked << box.windowTitle();
            TZipDialogBox::setNextAnswer(answer);
            if (box.windowTitle() == LoadMessageText(11102))
                return mrYes;
            bool prompt = false;
            for (const QLabel* label : box.findChildren<QLabel*>())
                prompt = prompt || label->text().startsWith(QStringLiteral("Please insert disk volume"));
            if (prompt)
                slot.insert(++disk);
            return mrOk;
        };

        // Formatting is not available: the add fails and the disk stays as it was.
        zip->SetSpanOptions({ spTryFormat });
        TZipDialogBox::setNextAnswer(answer);
        QCOMPARE(add(*zip, QStringLiteral("a.bin"), "x"), 11007);
        QVERIFY(QFileInfo::exists(junk.fileName()));
        QVERIFY(!asked.contains(LoadMessageText(11102)));

        zip->SetSpanOptions({});
        disk = 0;
        TZipDialogBox::setNextAnswer(answer);
        const QByteArray data = noise(20000, 10);
        QCOMPARE(add(*zip, QStringLiteral("a.bin"), data), 0);
        TZipDialogBox::setNextAnswer(TZipDialogBox::Answer());
        QVERIFY(asked.contains(LoadMessageText(11102)));
        QCOMPARE(slot.parts(QStringLiteral("old.txt")).value(0), QByteArray());
        QCOMPARE(slot.parts(QStringLiteral("journal.zip")).size(), zip->Worker()->LastDiskNumber() + 1);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString killedWrite = qEnvironmentVariable("VELLUMIX_TEST_KILLED_WRITE");
    if (!killedWrite.isEmpty())
        return TestZipSpan::writeAndDie(killedWrite);
    TestZipSpan test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestZipSpan.moc"
