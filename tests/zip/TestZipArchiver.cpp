#include "zip/ZipArchiver.h"
#include "zip/ZipMsgStr.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
// An archive of one stored entry, enough to give an operation something to list.
QByteArray tinyArchive()
{
    QByteArray zip;
    auto le = [&](quint32 v, int n) {
        for (int i = 0; i < n; ++i)
            zip.append(char((v >> (8 * i)) & 0xFF));
    };
    le(0x04034B50, 4), le(10, 2), le(0, 2), le(0, 2), le(0, 4), le(0, 4), le(0, 4), le(0, 4), le(1, 2), le(0, 2);
    zip += "a";
    const int central = int(zip.size());
    le(0x02014B50, 4), le(20, 2), le(10, 2), le(0, 2), le(0, 2), le(0, 4), le(0, 4), le(0, 4), le(0, 4);
    le(1, 2), le(0, 2), le(0, 2), le(0, 2), le(0, 2), le(0, 4), le(0, 4);
    zip += "a";
    const int size = int(zip.size()) - central;
    le(0x06054B50, 4), le(0, 2), le(0, 2), le(1, 2), le(1, 2), le(quint32(size), 4), le(quint32(central), 4), le(0, 2);
    return zip;
}
} // namespace

class TestZipArchiver : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_archive;

private slots:
    void initTestCase()
    {
        m_archive = m_dir.filePath(QStringLiteral("tiny.zip"));
        QFile file(m_archive);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(tinyArchive());
    }

    void testInitialValues()
    {
        TZipArchiver zip;
        QCOMPARE(zip.ActiveState(), 1);
        QVERIFY(zip.Active());
        QVERIFY(zip.Worker()->Active());
        QCOMPARE(zip.AddStoreSuffixes().bits(), quint32(0x7FBFFFF));
        QVERIFY(!zip.AddStoreSuffixes().contains(assEXT));
        QCOMPARE(AddOpts { AddEncrypt }.bits(), quint32(1024));
        QCOMPARE(zip.AddCompLevel(), 9);
        QCOMPARE(zip.MinFreeVolumeSize(), 65536);
        QCOMPARE(zip.PasswordReqCount(), quint32(1));
        QCOMPARE(zip.HowToDelete(), TDeleteOpts::htdAllowUndo);
        QVERIFY(zip.ConfirmErase());
        QVERIFY(!zip.Dll_Load());
        QCOMPARE(zip.Language(), QStringLiteral("US: default"));
        QVERIFY(zip.EntryStream() && zip.EntryStream()->Size() == 0);
    }

    void testPropertyRules()
    {
        TZipArchiver zip;
        zip.SetPasswordReqCount(20);
        QCOMPARE(zip.PasswordReqCount(), quint32(15));
        zip.SetVersion(QStringLiteral("9.9"));
        zip.SetVersionInfo(QStringLiteral("9.9"));
        QCOMPARE(zip.Version(), QStringLiteral("1.79.03.01"));
        QCOMPARE(zip.VersionInfo(), QStringLiteral("1.79.03.01"));
        zip.SetPassword(QStringLiteral("secret"));
        QCOMPARE(zip.Worker()->Password(), QStringLiteral("secret"));

        const struct
        {
            QString in;
            QString text;
            quint8 flags;
        } cases[] = { { QStringLiteral("\001Hello"), QStringLiteral("Hello"), 65 },
            { QStringLiteral("\002Hello"), QStringLiteral("Hello"), 36 },
            { QStringLiteral("Hello"), QStringLiteral("Hello"), 0 } };
        for (const auto& c : cases) {
            zip.SetSFXMessage(c.in);
            QCOMPARE(zip.SFXMessage(), c.text);
            QCOMPARE(zip.SFXMessageFlags(), c.flags);
        }

        bool called = false;
        zip.SetOnTick([&](QObject*) { called = true; });
        QVERIFY(zip.Worker()->OnTick);
        zip.OnTick()(&zip);
        QVERIFY(called);
    }

    void testGuardStatuses()
    {
        TZipArchiver loading(nullptr, csLoading);
        QCOMPARE(loading.ActiveState(), 2);
        QCOMPARE(loading.StartOperation(), -256);
        loading.SetZipFileName(m_archive);
        QCOMPARE(loading.Count(), 0);
        loading.Loaded();
        QVERIFY(loading.Active());
        QCOMPARE(loading.Count(), 1);

        TZipArchiver designing(nullptr, csDesigning);
        QCOMPARE(designing.ActiveState(), 3);
        designing.SetLanguage(QStringLiteral("xx"));
        QCOMPARE(designing.Language(), QStringLiteral("xx"));

        TZipArchiver inactive;
        inactive.SetActive(false);
        QCOMPARE(inactive.StartOperation(), -255);
        QCOMPARE(inactive.AddStreamEntry(QStringLiteral("a"), 0, 32), -255);
        inactive.SetZipFileName(m_archive);
        QCOMPARE(inactive.ZipFileName(), m_archive);
        inactive.SetActive(true);
        QCOMPARE(inactive.Count(), 1);
    }

    // A second operation from an event handler is refused while one runs.
    void testReentry()
    {
        TZipArchiver zip;
        zip.SetUnattended(true);
        int nested = 0;
        bool activeWhileBusy = false;
        zip.SetOnDirUpdate([&](QObject*) {
            nested = zip.AddStreamEntry(QStringLiteral("x"), 0, 32);
            zip.SetZipFileName(QStringLiteral("/nonexistent/other.zip"));
            zip.SetActive(false);
            activeWhileBusy = zip.Active() && zip.ActiveState() == -1;
        });
        zip.SetZipFileName(m_archive);
        QCOMPARE(nested, -255);
        QVERIFY(zip.Reentry());
        QVERIFY(activeWhileBusy);
        QVERIFY(!zip.Active());
        QVERIFY(!zip.Busy());
        QCOMPARE(zip.ZipFileName(), m_archive);

        zip.SetOnDirUpdate({});
        zip.SetActive(true);
        QVERIFY(zip.Active());
        QCOMPARE(zip.StartOperation(), 0);
        QVERIFY(!zip.Reentry());
        zip.EndOperation();
    }

    void testEngineLoadFailureLeavesIdle()
    {
        TZipArchiver zip;
        zip.SetUnattended(true);
        QList<int> codes;
        zip.SetOnMessage([&](QObject*, int code, const QString&) { codes << code; });
        zip.SetDLLDirectory(QStringLiteral(VELLUMIX_TEST_ENGINES_DIR "/178"));
        zip.SetDll_Load(true);
        QVERIFY(!zip.Busy());
        QVERIFY(!zip.Dll_Load());
        QCOMPARE(codes, QList<int> { 10651 });
        QCOMPARE(zip.AddStreamEntry(QStringLiteral("a"), 0, 32), 10102);
        QVERIFY(!zip.Busy());
        QCOMPARE(zip.StartOperation(), 0);
        zip.EndOperation();
    }

    void testStreamOperations_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("status");
        QTest::newRow("wildcard *") << "a*b" << 10307;
        QTest::newRow("wildcard ?") << "a?b" << 10307;
        QTest::newRow("no archive named") << "entry.txt" << 10102;
    }

    void testStreamOperations()
    {
        QFETCH(QString, name);
        QFETCH(int, status);
        TZipArchiver zip;
        zip.SetUnattended(true);
        QCOMPARE(zip.AddStreamEntry(name, 0, 32), status);
        QCOMPARE(zip.ErrorCode(), status);
        QVERIFY(zip.FSpecArgs().isEmpty());
        if (status == 10307)
            QCOMPARE(zip.ErrorMessage(), LoadMessageText(10307));

        zip.EntryStream()->write("stale");
        QVERIFY(!zip.ExtractEntryToStream(name));
        QCOMPARE(zip.EntryStream()->Size(), qint64(0));
        QVERIFY(zip.FSpecArgs().isEmpty());
        QVERIFY(!zip.Busy());
    }

    void testNoFileSpec()
    {
        TZipArchiver zip;
        zip.SetUnattended(true);
        QCOMPARE(zip.AddStreamEntry(QString(), 0, 32), 10301);
        QVERIFY(!zip.ExtractEntryToStream(QString()));
        QCOMPARE(zip.ErrorCode(), 10301);
    }
};

QTEST_MAIN(TestZipArchiver)
#include "TestZipArchiver.moc"
