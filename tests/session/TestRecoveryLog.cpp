#include "platform/Crc32.h"
#include "session/RecoveryLog.h"
#include "textview/MemoText.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// fdatasync of this test process, failing while asked to as on NFS or a disk with bad sectors.
static std::atomic<bool> syncFails { false };
extern "C" int fdatasync(int fd)
{
    if (syncFails) {
        errno = EIO;
        return -1;
    }
    return int(::syscall(SYS_fdatasync, fd));
}

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
    void testBrokenFileIsKeptAsideWhole_data();
    void testBrokenFileIsKeptAsideWhole();
    void testFailedWritesWaitForTheNextOne();
    void testFailedSyncIsNotSafeUntilAStore();
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
        log.snapshotTaken();
        // Made while the store's worker was still reckoning the snapshot's fingerprint.
        log.recordChange(RecoveryLog::Journal, 0, 1, QStringLiteral("A"));
        log.storeBegins(fingerprints(QStringLiteral("a\nb\n"), QStringLiteral("note")));
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
        QVERIFY(!log.open(path, fingerprints({}, {}), texts).keptAside.isEmpty());
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
    log.snapshotTaken();
    log.recordChange(RecoveryLog::Notes, 6, 0, QStringLiteral(" later"));
    log.storeBegins(fingerprints({}, QStringLiteral("stored")));
    log.storeSucceeded(fingerprints({}, QStringLiteral("stored")));
    log.flush();
    QCOMPARE(reopen(path, {}, QStringLiteral("stored")).notes, QStringLiteral("stored later"));

    log.snapshotTaken();
    log.storeBegins(fingerprints({}, QStringLiteral("stored later")));
    log.storeSucceeded(fingerprints({}, QStringLiteral("stored later")));
    log.flush();
    QVERIFY(!QFile::exists(path));
}

namespace
{
// A record as the log writes it, with a valid CRC whatever its fields say.
QByteArray rawRecord(quint8 type, const QByteArray& payload)
{
    QByteArray bytes(5, 0);
    qToLittleEndian(quint32(payload.size()), bytes.data());
    bytes[4] = char(type);
    bytes += payload;
    QByteArray check(4, 0);
    qToLittleEndian(crc32(QByteArrayView(bytes).sliced(4)), check.data());
    return bytes + check;
}

QByteArray changePayload(quint8 memo, quint64 position, const QByteArray& text)
{
    QByteArray payload(17, 0);
    payload[0] = char(memo);
    qToLittleEndian(position, payload.data() + 1);
    return payload + text;
}

QByteArray utf16le(const char* text)
{
    QByteArray bytes;
    for (const char* c = text; *c; ++c) {
        bytes += *c;
        bytes += '\0';
    }
    return bytes;
}

// One, two and three appended to an empty journal; the second record starts at 70.
constexpr qsizetype SecondRecord = 36 + 34;
constexpr qsizetype ThirdRecord = SecondRecord + 34;

QByteArray threeRecords(const QString& path)
{
    {
        RecoveryLog log;
        QString texts[2];
        log.open(path, fingerprints({}, {}), texts);
        log.recordChange(RecoveryLog::Journal, 0, 0, QStringLiteral("one\n"));
        log.recordChange(RecoveryLog::Journal, 4, 0, QStringLiteral("two\n"));
        log.recordChange(RecoveryLog::Journal, 8, 0, QStringLiteral("three\n"));
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray withSecond(const QByteArray& bytes, const QByteArray& record)
{
    return bytes.first(SecondRecord) + record + bytes.sliced(ThirdRecord);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}
} // namespace

// Whatever is wrong with the file, what could be applied is, the whole file is kept where the user
// is told, later stores never delete it, and new changes are recorded after what was applied.
void TestRecoveryLog::testBrokenFileIsKeptAsideWhole_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("applied");
    QTest::newRow("bad CRC in the middle") << "crc" << "one\n";
    QTest::newRow("short payload with a valid CRC") << "short" << "one\n";
    QTest::newRow("unknown type") << "type" << "one\n";
    QTest::newRow("bad memo byte") << "memo" << "one\n";
    QTest::newRow("odd UTF-16 length") << "odd" << "one\n";
    QTest::newRow("position past the end") << "past" << "one\n";
    QTest::newRow("position 2^64-1") << "max" << "one\n";
    QTest::newRow("a record missing") << "gap" << "one\n";
    QTest::newRow("length past the end") << "length" << "one\n";
    QTest::newRow("last record cut short") << "cut" << "one\ntwo\n";
    QTest::newRow("header of another archive") << "foreign" << "";
    QTest::newRow("a FIFO") << "fifo" << "";
    QTest::newRow("unreadable") << "unreadable" << "";
}

void TestRecoveryLog::testBrokenFileIsKeptAsideWhole()
{
    QFETCH(QString, damage);
    QFETCH(QString, applied);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vellumix.vma.recovery"));
    const QByteArray good = threeRecords(path);
    QCOMPARE(good.size(), ThirdRecord + 38);
    QByteArray bytes = good;
    if (damage == "crc") {
        bytes[SecondRecord + 30] = 'X';
    } else if (damage == "short") {
        bytes = withSecond(good, rawRecord(1, QByteArray(3, 0)));
    } else if (damage == "type") {
        bytes = withSecond(good, rawRecord(9, changePayload(0, 4, utf16le("two\n"))));
    } else if (damage == "memo") {
        bytes = withSecond(good, rawRecord(1, changePayload(7, 4, utf16le("two\n"))));
    } else if (damage == "odd") {
        bytes = withSecond(good, rawRecord(1, changePayload(0, 4, utf16le("two\n") + 'x')));
    } else if (damage == "past") {
        bytes = withSecond(good, rawRecord(1, changePayload(0, 1000, utf16le("two\n"))));
    } else if (damage == "max") {
        bytes = withSecond(good, rawRecord(1, changePayload(0, ~quint64(0), utf16le("two\n"))));
    } else if (damage == "gap") {
        bytes = good.first(SecondRecord) + good.sliced(ThirdRecord);
    } else if (damage == "length") {
        bytes[SecondRecord + 2] = '\x7f';
    } else if (damage == "cut") {
        bytes.chop(3);
    } else if (damage == "foreign") {
        bytes[8] = '\x01';
        qToLittleEndian(crc32(QByteArrayView(bytes).first(32)), bytes.data() + 32);
    }
    if (damage == "fifo") {
        QFile::remove(path);
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else {
        QVERIFY(writeFile(path, bytes));
    }
    if (damage == "unreadable") {
        if (::geteuid() == 0) {
            QSKIP("the superuser reads every file");
        }
        QVERIFY(QFile::setPermissions(path, {}));
    }

    QString keptAside;
    {
        RecoveryLog log;
        QString texts[2];
        const RecoveryLog::Replay replay = log.open(path, fingerprints({}, {}), texts);
        QCOMPARE(texts[0], applied);
        QVERIFY(replay.trouble != RecoveryLog::Replay::Trouble::None);
        keptAside = replay.keptAside;
        QVERIFY(QFileInfo(keptAside).absolutePath() == dir.path());
        log.recordChange(RecoveryLog::Journal, applied.size(), 0, QStringLiteral("new\n"));
    }
    // A crash now: what was applied and what came after it come back.
    RecoveryLog log;
    QString texts[2];
    const RecoveryLog::Replay again = log.open(path, fingerprints({}, {}), texts);
    QCOMPARE(texts[0], applied + QStringLiteral("new\n"));
    QVERIFY(again.keptAside.isEmpty());
    log.snapshotTaken();
    log.storeBegins(fingerprints(texts[0], {}));
    log.storeSucceeded(fingerprints(texts[0], {}));
    QVERIFY(log.flush());
    if (damage == "fifo") {
        QVERIFY(QFileInfo(keptAside).exists() && !QFileInfo(keptAside).isFile());
    } else {
        QFile kept(keptAside);
        QVERIFY(kept.setPermissions(QFileDevice::ReadOwner) && kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), bytes);
    }
}

// A write that fails (here a file size limit) is reported; what it held waits and goes with the
// next write, even when a store's rewrite failed meanwhile, so no change is missing after a crash.
void TestRecoveryLog::testFailedWritesWaitForTheNextOne()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vellumix.vma.recovery"));
    const QString stored = QStringLiteral("stored\n");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit unlimited = limit;
    {
        RecoveryLog log;
        QSignalSpy failed(&log, &RecoveryLog::writeFailed);
        QSignalSpy recovered(&log, &RecoveryLog::writeRecovered);
        QString texts[2];
        log.open(path, fingerprints({}, {}), texts);
        log.recordChange(RecoveryLog::Journal, 0, 0, stored);
        log.snapshotTaken();
        log.storeBegins(fingerprints(stored, {}));
        QVERIFY(log.flush());

        limit.rlim_cur = rlim_t(QFileInfo(path).size());
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        log.recordChange(RecoveryLog::Journal, 7, 0, QString(60, QLatin1Char('b')) + QLatin1Char('\n'));
        log.storeSucceeded(fingerprints(stored, {}));
        const bool safeWhileFailing = log.flush();
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);
        QVERIFY(!safeWhileFailing);
        QTRY_COMPARE(failed.size(), 1);
        QVERIFY(recovered.isEmpty());

        log.recordChange(RecoveryLog::Journal, 68, 0, QStringLiteral("c\n"));
        QVERIFY(log.flush());
        QTRY_COMPARE(recovered.size(), 1);
    }
    const Opened opened = reopen(path, stored, {});
    QCOMPARE(opened.journal, stored + QString(60, QLatin1Char('b')) + QStringLiteral("\nc\n"));
    QVERIFY(opened.replay.keptAside.isEmpty());
}

// Records written before a sync that failed may never reach the disk: the file is not called safe
// again until a store has rewritten it, however many later syncs succeed.
void TestRecoveryLog::testFailedSyncIsNotSafeUntilAStore()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vellumix.vma.recovery"));
    RecoveryLog log;
    QSignalSpy failed(&log, &RecoveryLog::writeFailed);
    QSignalSpy recovered(&log, &RecoveryLog::writeRecovered);
    QString texts[2];
    log.open(path, fingerprints({}, {}), texts);
    log.recordChange(RecoveryLog::Journal, 0, 0, QStringLiteral("typed\n"));
    QVERIFY(log.flush());

    syncFails = true;
    log.recordChange(RecoveryLog::Journal, 6, 0, QStringLiteral("more\n"));
    const bool safeWhileFailing = log.flush();
    syncFails = false;
    QVERIFY(!safeWhileFailing);
    QTRY_COMPARE(failed.size(), 1);
    QCOMPARE(failed.first().first().toString(), QString::fromLocal8Bit(std::strerror(EIO)));
    log.recordChange(RecoveryLog::Journal, 11, 0, QStringLiteral("last\n"));
    QVERIFY(!log.flush());
    QVERIFY(recovered.isEmpty());

    const SessionFingerprint stored = fingerprints(QStringLiteral("typed\nmore\nlast\n"), {});
    log.snapshotTaken();
    log.storeBegins(stored);
    log.storeSucceeded(stored);
    QVERIFY(log.flush());
    QTRY_COMPARE(recovered.size(), 1);
    QVERIFY(!QFileInfo::exists(path));
}

QTEST_GUILESS_MAIN(TestRecoveryLog)
#include "TestRecoveryLog.moc"
