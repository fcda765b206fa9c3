#include "textview/MemoText.h"
#include "session/RecoveryLog.h"
#include "platform/Crc32.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace
{
SessionFingerprint::Entry fingerprint(const QString& text)
{
    const QByteArray bytes = MemoText::encode(text);
    return { quint64(bytes.size()), crc32(bytes) };
}

SessionFingerprint fingerprints(const QString& journal, const QString& notes)
{
    SessionFingerprint both;
    both.memo[RecoveryLog::Journal] = fingerprint(journal);
    both.memo[RecoveryLog::Notes] = fingerprint(notes);
    return both;
}

struct Opened
{
    QString journal;
    QString notes;
    RecoveryLog::Replay replay;
};

Opened reopen(const QString& path, const QString& journal, const QString& notes)
{
    RecoveryLog log;
    QString texts[2] = { journal, notes };
    const RecoveryLog::Replay replay = log.open(path, fingerprints(journal, notes), texts);
    return { texts[0], texts[1], replay };
}
} // namespace

// The recovery file on its own: what a kill leaves behind is applied on top of the right stored texts.
class TestRecoveryLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testReplayStartsAtTheStoreTheArchiveHolds_data();
    void testReplayStartsAtTheStoreTheArchiveHolds();
    void testRecordCutShortByAKill();
    void testSuccessfulStoreLeavesOnlyWhatCameAfter();
};

void TestRecoveryLog::testReplayStartsAtTheStoreTheArchiveHolds_data()
{
    QTest::addColumn<QString>("storedJournal");
    QTest::addColumn<QString>("storedNotes");
    QTest::addColumn<bool>("fits");
    QTest::newRow("killed before any store") << "a\n"
                                             << "" << true;
    QTest::newRow("killed after the store replaced the archive") << "a\nb\n"
                                                                 << "note" << true;
    QTest::newRow("killed between the two entries of a store") << "a\nb\n"
                                                               << "" << true;
    QTest::newRow("an archive from elsewhere") << "other\n"
                                               << "" << false;
}

void TestRecoveryLog::testReplayStartsAtTheStoreTheArchiveHolds()
{
    QFETCH(QString, storedJournal);
    QFETCH(QString, storedNotes);
    QFETCH(bool, fits);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vellumix.vma.recovery"));
    {
        RecoveryLog log;
        QString texts[2] = { QStringLiteral("a\n"), QString() };
        log.open(path, fingerprints(texts[0], texts[1]), texts);
        log.recordChange(RecoveryLog::Journal, 2, 0, QStringLiteral("b\n"));
        log.recordText(RecoveryLog::Notes, QStringLiteral("note"));
        log.storeBegins(fingerprints(QStringLiteral("a\nb\n"), QStringLiteral("note")));
        log.recordChange(RecoveryLog::Journal, 0, 1, QStringLiteral("A"));
    }
    const Opened opened = reopen(path, storedJournal, storedNotes);
    if (fits) {
        QCOMPARE(opened.journal, QStringLiteral("A\nb\n"));
        QCOMPARE(opened.notes, QStringLiteral("note"));
        QVERIFY(opened.replay.keptAside.isEmpty());
    } else {
        QCOMPARE(opened.journal, storedJournal);
        QCOMPARE(opened.replay.changes, 0);
        QVERIFY(QFile::exists(opened.replay.keptAside));
        QVERIFY(!QFile::exists(path));
    }
}

void TestRecoveryLog::testRecordCutShortByAKill()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vellumix.vma.recovery"));
    {
        RecoveryLog log;
        QString texts[2];
        log.open(path, fingerprints({}, {}), texts);
        log.recordChange(RecoveryLog::Journal, 0, 0, QStringLiteral("kept"));
        log.recordChange(RecoveryLog::Journal, 4, 0, QStringLiteral(" cut short"));
    }
    QVERIFY(QFile::resize(path, QFile(path).size() - 3));
    {
        RecoveryLog log;
        QString texts[2];
        log.open(path, fingerprints({}, {}), texts);
        QCOMPARE(texts[0], QStringLiteral("kept"));
        // What comes after the cut record is found again.
        log.recordChange(RecoveryLog::Journal, 4, 0, QStringLiteral(" and more"));
    }
    QCOMPARE(reopen(path, {}, {}).journal, QStringLiteral("kept and more"));
}

void TestRecoveryLog::testSuccessfulStoreLeavesOnlyWhatCameAfter()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vellumix.vma.recovery"));
    RecoveryLog log;
    QString texts[2];
    log.open(path, fingerprints({}, {}), texts);
    log.recordChange(RecoveryLog::Notes, 0, 0, QStringLiteral("stored"));
    log.storeBegins(fingerprints({}, QStringLiteral("stored")));
    log.recordChange(RecoveryLog::Notes, 6, 0, QStringLiteral(" later"));
    log.storeSucceeded();
    log.flush();
    QCOMPARE(reopen(path, {}, QStringLiteral("stored")).notes, QStringLiteral("stored later"));

    log.storeBegins(fingerprints({}, QStringLiteral("stored later")));
    log.storeSucceeded();
    log.flush();
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestRecoveryLog)
#include "TestRecoveryLog.moc"
