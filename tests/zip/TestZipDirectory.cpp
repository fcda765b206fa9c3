#include "platform/Drives.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
struct Message
{
    int code;
    QString text;
};

// A component that lists unattended and keeps every message it reports.
struct Lister
{
    Lister()
    {
        zip.SetUnattended(true);
        zip.SetOnMessage([this](QObject*, int code, const QString& text) { messages.push_back({ code, text }); });
    }
    QList<int> codes() const
    {
        QList<int> result;
        for (const Message& m : messages)
            result << m.code;
        return result;
    }
    QStringList names() const
    {
        QStringList result;
        for (int i = 0; i < zip.Count(); ++i)
            result << zip.DirEntry(i).FileName;
        return result;
    }
    TZipArchiver zip;
    std::vector<Message> messages;
};

bool copyFile(const QString& from, const QString& to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}
} // namespace

class TestZipDirectory : public QObject
{
    Q_OBJECT

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QProcess script;
        script.start(QStringLiteral(VELLUMIX_TEST_DATA_DIR "/zip/make-archives.sh"), { m_dir.path() });
        QVERIFY(script.waitForFinished(120000));
        QVERIFY2(script.exitCode() == 0, script.readAllStandardError().constData());
    }

    void testList_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<qint64>("startOffset");
        QTest::addColumn<int>("dirOnly");
        QTest::addColumn<QString>("comment");
        QTest::addColumn<QList<int>>("messages");
        QTest::addColumn<bool>("nameKept");

        const QStringList ab { "a.txt", "b.txt" };
        const QString comment = QStringLiteral("An archive comment");
        QTest::newRow("zip plain") << "plain.zip" << 2 << ab << qint64(0) << 0 << "" << QList<int> {} << true;
        QTest::newRow("zip directories") << "dirs.zip" << 2 << QStringList { "sub\\c.txt", "sub\\deeper\\d.txt" }
                                         << qint64(0) << 2 << "" << QList<int> {} << true;
        QTest::newRow("zip comment") << "comment.zip" << 1 << QStringList { "a.txt" } << qint64(0) << 0 << comment
                                     << QList<int> {} << true;
        QTest::newRow("511 blanks after the comment") << "trail-harmless.zip" << 1 << QStringList { "a.txt" }
                                                      << qint64(0) << 0 << comment << QList<int> {} << true;
        QTest::newRow("one letter after the end")
            << "trail-char.zip" << 2 << ab << qint64(0) << 0 << "" << QList<int> { 10204 } << true;
        QTest::newRow("512 zero bytes after the end")
            << "trail-512.zip" << 2 << ab << qint64(0) << 0 << "" << QList<int> { 10204 } << true;
        QTest::newRow("stub in front") << "sfx-raw.exe" << 2 << ab << qint64(1000) << 0 << "" << QList<int> { 10203 }
                                       << true;
        QTest::newRow("stub with zip -A")
            << "sfx-fixed.exe" << 2 << ab << qint64(1000) << 0 << "" << QList<int> {} << true;
        QTest::newRow("companion of an executable")
            << "comp.exe" << 2 << ab << qint64(0) << 0 << "" << QList<int> {} << true;
        QTest::newRow("7z") << "seven.zip" << 2 << ab << qint64(0) << 0 << "" << QList<int> {} << true;
        QTest::newRow("bsdtar") << "bsdtar.zip" << 3 << QStringList { "a.txt", "sub\\c.txt", "sub\\deeper\\d.txt" }
                                << qint64(0) << 2 << "" << QList<int> {} << true;
        QTest::newRow("python host 0") << "python.zip" << 1 << QStringList { QStringLiteral("dir\\café.txt") }
                                       << qint64(0) << 0 << "" << QList<int> {} << true;
        QTest::newRow("22-byte empty archive")
            << "empty22.zip" << 0 << QStringList {} << qint64(0) << 0 << "" << QList<int> {} << true;
        QTest::newRow("split set, last part")
            << "split.zip" << 2 << QStringList { "big.bin", "a.txt" } << qint64(-1) << 0 << "" << QList<int> {} << true;
        QTest::newRow("split set, directory over three parts")
            << "many.zip" << 700 << QStringList {} << qint64(-1) << 1 << "" << QList<int> {} << true;
        QTest::newRow("numbered names") << "name.zip" << 2 << QStringList { "half.bin", "b.txt" } << qint64(-1) << 0
                                        << "" << QList<int> {} << true;
        QTest::newRow("missing file") << "missing.zip" << 0 << QStringList {} << qint64(0) << 0 << "" << QList<int> {}
                                      << true;
        QTest::newRow("no end record") << "noend.bin" << 0 << QStringList {} << qint64(0) << 0 << ""
                                       << QList<int> { 11036 } << true;
        QTest::newRow("cut inside the directory")
            << "truncated.zip" << 0 << QStringList {} << qint64(0) << 0 << "" << QList<int> { 11036 } << true;
        QTest::newRow("more entries claimed than held")
            << "lying-count.zip" << 0 << QStringList {} << qint64(0) << 0 << "" << QList<int> { 11013 } << false;
    }

    void testList()
    {
        QFETCH(QString, file);
        QFETCH(int, count);
        QFETCH(QStringList, names);
        QFETCH(qint64, startOffset);
        QFETCH(int, dirOnly);
        QFETCH(QString, comment);
        QFETCH(QList<int>, messages);
        QFETCH(bool, nameKept);

        Lister lister;
        int updates = 0;
        lister.zip.SetOnDirUpdate([&](QObject*) { ++updates; });
        lister.zip.SetZipFileName(path(file));
        TZipWorker& w = *lister.zip.Worker();

        QCOMPARE(lister.codes(), messages);
        for (const Message& m : lister.messages)
            QVERIFY(m.text.startsWith(LoadMessageText(m.code)));
        QCOMPARE(lister.zip.ErrorCode(), messages.isEmpty() ? 0 : messages.last());
        QCOMPARE(lister.zip.Count(), count);
        if (!names.isEmpty())
            QCOMPARE(lister.names(), names);
        if (startOffset >= 0)
            QCOMPARE(w.ZipStartOffset(), startOffset);
        QCOMPARE(w.DirOnlyCount(), dirOnly);
        QCOMPARE(w.ArchiveComment(), comment);
        QCOMPARE(lister.zip.ZipFileName(), nameKept ? path(file) : QString());
        QCOMPARE(updates, 1);
    }

    void testEntryFields()
    {
        Lister lister;
        QList<int> sequence;
        lister.zip.SetOnNewName([&](QObject*, int seq, const ZipDirEntry&) { sequence << seq; });
        lister.zip.SetZipFileName(path("python.zip"));
        QCOMPARE(lister.zip.Count(), 1);
        QCOMPARE(sequence, QList<int> { 1 });
        const ZipDirEntry& e = lister.zip.DirEntry(0);
        QCOMPARE(e.HostSystem, quint8(0));
        QCOMPARE(e.FileComment, QStringLiteral("entry comment é"));
        QCOMPARE(e.UncompressedSize, quint32(11));
        QCOMPARE(e.NameLength, quint16(12));
        QCOMPARE(e.DosDateTime, quint32((40 << 25) | (1 << 21) | (2 << 16) | (3 << 11) | (4 << 5) | 3));
        QVERIFY(!e.Encrypted);

        // Without conversion the code page 437 byte is not valid UTF-8.
        lister.zip.SetCodePage(CodePageOpts::cpNone);
        lister.zip.Worker()->TakeSettings(lister.zip.Settings());
        const TZipWorker& w = *lister.zip.Worker();
        QCOMPARE(w.ConvertEntryText("caf\x82", 0, 20), QString::fromUtf8("caf\x82"));
        QCOMPARE(w.ConvertEntryText("caf\x82", 6, 20), QStringLiteral("caf\u00e9"));
        QCOMPARE(w.ConvertEntryText("caf\x82", 11, 50), QStringLiteral("caf\u00e9"));
        QCOMPARE(w.ConvertEntryText("caf\x82", 11, 20), QString::fromUtf8("caf\x82"));
        QCOMPARE(w.ConvertEntryText("caf\xC3\xA9", 0, 20, true), QStringLiteral("caf\u00e9"));
        QCOMPARE(TZipWorker::TextToOem(QStringLiteral("café╬")), QByteArray("caf\x82\xCE"));
    }

    void testDirOnlyEntriesKept()
    {
        Lister lister;
        lister.zip.SetUseDirOnlyEntries(true);
        lister.zip.SetZipFileName(path("dirs.zip"));
        QCOMPARE(lister.zip.Count(), 4);
        QCOMPARE(lister.zip.Worker()->DirOnlyCount(), 0);
        QVERIFY(lister.names().contains(QStringLiteral("sub\\deeper\\")));
    }

    void testProbe_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("bits");
        QTest::newRow("plain") << "plain.zip" << 0xF2;
        QTest::newRow("comment") << "comment.zip" << 0xF2;
        QTest::newRow("garbage") << "trail-char.zip" << 0xE2;
        QTest::newRow("stub as found") << "sfx-raw.exe" << 0x91;
        QTest::newRow("stub with zip -A") << "sfx-fixed.exe" << 0xF1;
        QTest::newRow("companion") << "comp.exe" << 209;
        QTest::newRow("first part") << "split.z01" << 0x04;
        QTest::newRow("not an archive") << "noend.bin" << 0;
        QTest::newRow("missing") << "missing.zip" << -7;
    }

    void testProbe()
    {
        QFETCH(QString, file);
        QFETCH(int, bits);
        TZipWorker worker(nullptr);
        QCOMPARE(worker.ProbeArchiveFile(path(file)), bits);
    }

    void testFindEndRaising_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("text");
        QTest::newRow("no end record") << "noend.bin" << 11036 << LoadMessageText(11036);
        QTest::newRow("first file of a set") << "split.z01" << 11045 << LoadMessageText(11045);
        QTest::newRow("first disk by name") << "name001.zip" << 11037 << LoadMessageText(11037);
        QTest::newRow("fifth disk by name") << "name005.zip" << 11038 << FormatMessageText(11038, 5);
        QTest::newRow("missing") << "missing.zip" << 11001 << LoadMessageText(11001);
    }

    void testFindEndRaising()
    {
        QFETCH(QString, file);
        QFETCH(int, error);
        QFETCH(QString, text);
        QVERIFY(copyFile(path("split.z02"), path("name005.zip")));
        TZipWorker worker(nullptr);
        worker.SetUnattended(true);
        worker.Parts().SetPath(path(file));
        ZipEndOfCentral eoc;
        try {
            worker.FindEndRecord(eoc, true);
            QFAIL("no error");
        } catch (const EZipArchiver& e) {
            QCOMPARE(e.MessageId(), error);
            QCOMPARE(e.message(), text);
        }
        QVERIFY(!worker.FindEndRecord(eoc, false));
    }

    // A floppy whose disk is swapped when the component asks for one.
    void testRemovableLastDiskPrompt_data()
    {
        QTest::addColumn<bool>("byEvent");
        QTest::newRow("OnGetNextDisk") << true;
        QTest::newRow("dialog") << false;
    }

    void testRemovableLastDiskPrompt()
    {
        QFETCH(bool, byEvent);
        QTemporaryDir floppy;
        Drives::TestDrive drive(floppy.path(), Drives::DriveType::Removable);
        const QString set = floppy.filePath(QStringLiteral("set.zip"));
        QVERIFY(copyFile(path("split.z01"), floppy.filePath(QStringLiteral("set.z01"))));
        auto swap = [&] {
            QFile::remove(floppy.filePath(QStringLiteral("set.z01")));
            copyFile(path("split.zip"), set);
        };
        Lister lister;
        QList<QPair<int, int>> asked;
        if (byEvent) {
            lister.zip.SetOnGetNextDisk([&](QObject*, int seq, int total, const QString& root, bool& abort) {
                asked << qMakePair(seq, total);
                QVERIFY(root.startsWith(floppy.path()));
                abort = false;
                swap();
            });
        } else {
            lister.zip.SetUnattended(false);
            TZipDialogBox::setNextAnswer([&](TZipDialogBox&) {
                asked << qMakePair(0, 0);
                swap();
                return int(mrOk);
            });
        }
        lister.zip.SetZipFileName(set);
        QCOMPARE(asked, (QList<QPair<int, int>> { { 0, 0 } }));
        QCOMPARE(lister.names(), (QStringList { "big.bin", "a.txt" }));
        QCOMPARE(lister.codes(), QList<int> {});
        QCOMPARE(lister.zip.Worker()->LastDiskNumber(), 3);
    }

    void testRemovableRefusals_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("aborted by the event") << -1;
        QTest::newRow("cancelled dialog") << int(mrCancel);
        QTest::newRow("unattended") << 0;
    }

    void testRemovableRefusals()
    {
        QFETCH(int, answer);
        QTemporaryDir floppy;
        Drives::TestDrive drive(floppy.path(), Drives::DriveType::Removable);
        QVERIFY(copyFile(path("split.z01"), floppy.filePath(QStringLiteral("set.z01"))));
        Lister lister;
        if (answer < 0)
            lister.zip.SetOnGetNextDisk([](QObject*, int, int, const QString&, bool& abort) { abort = true; });
        if (answer > 0) {
            lister.zip.SetUnattended(false);
            TZipDialogBox::setNextAnswer(answer);
        }
        lister.zip.SetZipFileName(floppy.filePath(QStringLiteral("set.zip")));
        QCOMPARE(lister.zip.Count(), 0);
        QCOMPARE(lister.codes(), QList<int> {});
        QVERIFY(!TZipDialogBox::hasNextAnswer());
    }

    // Every part is called many.zip; the volume label tells the disks apart.
    void testRemovableLabelledDisks()
    {
        QTemporaryDir floppy;
        Drives::TestDrive drive(floppy.path(), Drives::DriveType::Removable, QStringLiteral("PKBACK# 003"));
        const QString name = floppy.filePath(QStringLiteral("many.zip"));
        const QStringList parts { "many.z01", "many.z02", "many.zip" };
        QVERIFY(copyFile(path("many.zip"), name));
        Lister lister;
        lister.zip.SetUnattended(false);
        QList<QPair<int, int>> asked;
        lister.zip.SetOnGetNextDisk([&](QObject*, int seq, int total, const QString&, bool&) {
            asked << qMakePair(seq, total);
            copyFile(path(parts.value(seq - 1)), name);
            Drives::setVolumeLabel(floppy.path(), QStringLiteral("PKBACK# %1").arg(seq, 3, 10, QLatin1Char('0')));
        });
        lister.zip.SetZipFileName(name);
        QCOMPARE(lister.codes(), QList<int> {});
        QCOMPARE(lister.zip.Count(), 700);
        QCOMPARE(asked, (QList<QPair<int, int>> { { 1, 3 }, { 2, 3 }, { 3, 3 } }));
        QCOMPARE(lister.zip.Worker()->Parts().Scheme(), 1);
    }

    void testReadSpan_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("count");
        QTest::newRow("zip -s set") << "split.zip" << 2;
        QTest::newRow("directory over parts") << "many.zip" << 701;
        QTest::newRow("numbered names") << "name.zip" << 2;
    }

    void testReadSpan()
    {
        QFETCH(QString, source);
        QFETCH(int, count);
        Lister lister;
        TZipWorker& w = *lister.zip.Worker();
        w.OnMessage = [&](QObject*, int code, const QString& text) {
            if (code != 0)
                lister.messages.push_back({ code, text });
        };
        QString target = path(QStringLiteral("joined.tmp"));
        QCOMPARE(w.ReadSpan(path(source), target, true), 0);
        QCOMPARE(target, path(QStringLiteral("joined.zip")));
        QCOMPARE(lister.codes(), QList<int> {});

        QProcess unzip;
        unzip.start(QStringLiteral("unzip"), { QStringLiteral("-tq"), target });
        QVERIFY(unzip.waitForFinished(60000));
        QVERIFY2(unzip.exitCode() == 0, unzip.readAllStandardOutput().constData());
        TZipSettings settings = lister.zip.Settings();
        settings.UseDirOnlyEntries = true;
        w.TakeSettings(settings);
        w.SetZipFileName(target);
        QCOMPARE(w.Count(), count);
        QCOMPARE(w.LastDiskNumber(), 0);
        QCOMPARE(w.ZipStartOffset(), qint64(0));
        QFile::remove(target);
    }

    void testReadSpanMissingPart()
    {
        QTemporaryDir folder;
        for (const char* part : { "split.z01", "split.z03", "split.zip" })
            QVERIFY(copyFile(path(QLatin1String(part)), folder.filePath(QLatin1String(part))));
        Lister lister;
        TZipWorker& w = *lister.zip.Worker();
        w.OnMessage = lister.zip.OnMessage();
        QString target;
        QCOMPARE(w.ReadSpan(folder.filePath(QStringLiteral("split.zip")), target, true), -7);
        QVERIFY(target.isEmpty());
        QCOMPARE(lister.codes().last(), 11001);
    }

    void testHugeFile()
    {
        QFile file(path("huge.zip"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (!file.resize(qint64(0x100000000) + 100))
            QSKIP("no sparse files here");
        file.close();
        TZipWorker worker(nullptr);
        worker.SetUnattended(true);
        ZipEndOfCentral eoc;
        QCOMPARE(worker.LocateLastPart(path("huge.zip"), eoc, true), -1);
        worker.Parts().SetPath(path("huge.zip"));
        try {
            worker.FindEndRecord(eoc, true);
            QFAIL("no error");
        } catch (const EZipArchiver& e) {
            QCOMPARE(e.MessageId(), 10205);
        }
        QFile::remove(path("huge.zip"));
    }
};

QTEST_MAIN(TestZipDirectory)
#include "TestZipDirectory.moc"
