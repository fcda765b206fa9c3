#include "platform/Exception.h"
#include "session/SessionStore.h"
#include "tests/FullDisk.h"
#include "tests/app/SessionTools.h"
#include "textview/MemoText.h"
#include "zip/ZipArchiver.h"

#include <QDir>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <optional>

#include <sys/resource.h>

using namespace SessionTools;

class TestSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testFirstStartIsQuiet();
    void testStoredAndRestored();
    void testArchiveMadeByZipLoads();
    void testLargeJournalRoundTrip();
    void testSaveTwiceKeepsTwoEntries();
    void testSaveDuringStoreIsRefused();
    void testStoredInTheBackground();
    void testFailingBackgroundStoreIsToldOnce();
    void testOnlyChangedEntriesAreWritten();
    void testRenamedExecutable();
    void testUnreadableArchiveIsKept();
    void testBrokenArchive_data();
    void testBrokenArchive();
    void testSameDamageKeepsOneCopy();
    void testFailedStoreKeepsTheWindowAndEverythingInIt();
    void testEveryEditComesBackAfterAKill();
    void testStoreOnTheWayOut_data();
    void testStoreOnTheWayOut();
    void testLinkedArchiveStaysALink();
    void testCrashedCapturesSurviveAnEntryReadOnlyOnce_data();
    void testCrashedCapturesSurviveAnEntryReadOnlyOnce();
    void testEntryDamagedOnDiskIsWrittenAgain();
    void testOutOfMemoryWhileLoadingIsTold();
};

void TestSession::testFirstStartIsQuiet()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    QCOMPARE(memo(window, "log")->toPlainText(), QString());
    QCOMPARE(memo(window, "jot")->toPlainText(), QString());
    QVERIFY(fixture.messages.isEmpty());
}

void TestSession::testStoredAndRestored()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    fixture.clipboard->copy(QStringLiteral("one"));
    fixture.clipboard->copy(QStringLiteral("two"));
    fixture.clipboard->copy(QStringLiteral("three"));
    const QByteArray journal = MemoText::toBytes(memo(window, "log"));
    fixture.destroy();

    const QString archive = fixture.path(QStringLiteral("vellumix.vma"));
    QCOMPARE(entryNames(archive), QStringList({ "vellumix.clips", "vellumix.notes" }));
    QCOMPARE(entry(archive, QStringLiteral("vellumix.clips")), journal);
    QCOMPARE(entry(archive, QStringLiteral("vellumix.notes")), QByteArray());
    const QByteArray listing = run(QStringLiteral("7z"), { QStringLiteral("l"), QStringLiteral("-slt"), archive });
    QCOMPARE(listing.count("Encrypted = +"), 2);
    QCOMPARE(QFile::permissions(archive) & 0x0077, QFileDevice::Permissions());

    // The journal comes back byte for byte; the notes' bare CR and LF come back as CR LF.
    window = fixture.create();
    QCOMPARE(MemoText::toBytes(memo(window, "log")), journal);
    memo(window, "jot")->setPlainText(QStringLiteral("a\rb\nc"));
    QVERIFY(fixture.messages.isEmpty());
    fixture.destroy();
    window = fixture.create();
    QCOMPARE(MemoText::toBytes(memo(window, "jot")), QByteArray("a\r\nb\r\nc"));
}

void TestSession::testArchiveMadeByZipLoads()
{
    WindowFixture fixture;
    fixture.writeFile(QStringLiteral("vellumix.clips"), "journal line\r\nsecond line\r\n");
    fixture.writeFile(QStringLiteral("vellumix.notes"), "a note");
    run(QStringLiteral("zip"),
        { QStringLiteral("-q"), QStringLiteral("-P"), Password, QStringLiteral("vellumix.vma"),
            QStringLiteral("vellumix.clips"), QStringLiteral("vellumix.notes") },
        fixture.dir.path());
    TFMain* window = fixture.create();
    QCOMPARE(MemoText::toBytes(memo(window, "log")), QByteArray("journal line\r\nsecond line\r\n"));
    QCOMPARE(MemoText::toBytes(memo(window, "jot")), QByteArray("a note"));
    QVERIFY(fixture.messages.isEmpty());
}

// A journal of a heavy user's year: every kind of line the view holds in its own way (pure
// ASCII, accented and wide characters, characters outside the BMP, line separators inside a
// line, a line of a mebibyte) must leave the archive, come back and go in again byte for byte.
void TestSession::testLargeJournalRoundTrip()
{
    const QByteArray kinds[] = { "[2026-12-07-14:05:09]-----------------\r\n",
        "https://example.org/path?id=42&q=journal\r\n", "caf\xc3\xa9 na\xc3\xafve \xe6\x97\xa5\xe6\x9c\xac\r\n",
        "\xf0\x9f\x98\x80 smile\xc2\xa0"
        "and\xe2\x80\xa8"
        "separator\r\n",
        "\tindented\ttext\r\n", "\r\n" };
    QByteArray journal;
    journal.reserve(64 << 20);
    for (quint32 i = 0; journal.size() < (64 << 20); ++i) {
        journal += kinds[(i * 2654435761u >> 7) % std::size(kinds)];
        if (i == 100000) {
            journal += QByteArray(1 << 20, 'x') + "\r\n";
        }
    }
    WindowFixture fixture;
    zipSession(fixture, journal);
    TFMain* window = fixture.create();
    QVERIFY2(fixture.messages.isEmpty(), qPrintable(fixture.messages.join(QLatin1Char('\n'))));
    JournalView* log = memo(window, "log");
    QVERIFY(MemoText::toBytes(log) == journal);

    // An edit in the middle and a capture at the end; both must be in the stored entry.
    log->setTextCursor(TextCursor(log->buffer()->fromTextPosition(journal.size() / 2)));
    log->insertPlainText(QStringLiteral("typed \u00e9\U0001F600"));
    fixture.clipboard->copy(QStringLiteral("the last capture"));
    const QByteArray edited = MemoText::toBytes(log);
    QVERIFY(edited.startsWith(journal.left(journal.size() / 2 - 1024)));
    QVERIFY(edited.indexOf("typed \xc3\xa9\xf0\x9f\x98\x80") >= journal.size() / 2 - 1024);
    QVERIFY(edited.endsWith("the last capture\r\n"));
    fixture.destroy();
    const QString archive = fixture.path(QStringLiteral("vellumix.vma"));
    QVERIFY(soundArchive(archive));
    QVERIFY(entry(archive, QStringLiteral("vellumix.clips")) == edited);

    window = fixture.create();
    QVERIFY(fixture.messages.isEmpty());
    QVERIFY(MemoText::toBytes(memo(window, "log")) == edited);
}

void TestSession::testSaveTwiceKeepsTwoEntries()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    const QString archive = fixture.path(QStringLiteral("vellumix.vma"));
    memo(window, "jot")->setPlainText(QStringLiteral("first notes"));
    window->ActionSaveExecute();
    QCOMPARE(window->windowTitle(), QStringLiteral("vellumix [2026-12-07 14:05:09]"));
    memo(window, "jot")->setPlainText(QStringLiteral("second notes"));
    window->ActionSaveExecute();
    QCOMPARE(entryNames(archive), QStringList({ "vellumix.clips", "vellumix.notes" }));
    QCOMPARE(entry(archive, QStringLiteral("vellumix.notes")), QByteArray("second notes"));
    QVERIFY(fixture.messages.isEmpty());
}

void TestSession::testSaveDuringStoreIsRefused()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    memo(window, "log")->setPlainText(QStringLiteral("the journal being stored"));
    // Posted before the store begins, this runs while the window waits for the worker: typing and
    // a second click on "Save" arrive inside the store.
    bool typed = false;
    QTimer::singleShot(0, window, [&] {
        typed = true;
        memo(window, "log")->setPlainText(QStringLiteral("typed meanwhile"));
        window->ActionSaveExecute();
    });
    window->ActionSaveExecute();
    QVERIFY(typed);
    // What was typed while the first store ran is stored by a second round of the same "Save".
    const QString archive = fixture.path(QStringLiteral("vellumix.vma"));
    QCOMPARE(entryNames(archive), QStringList({ "vellumix.clips", "vellumix.notes" }));
    QCOMPARE(entry(archive, QStringLiteral("vellumix.clips")), QByteArray("typed meanwhile"));
    QVERIFY(window->session().flushRecovery());
    QVERIFY(!QFile::exists(window->session().recoveryFileName()));
    QVERIFY(fixture.messages.isEmpty());
}

// A session left running is stored a moment after its changes, without a "Save"; its recovery
// file then holds only what came after the store's snapshot.
void TestSession::testStoredInTheBackground()
{
    WindowFixture fixture;
    fixture.storeDelay = 20;
    TFMain* window = fixture.create();
    SessionStore& session = window->session();
    const QString archive = fixture.path(QStringLiteral("vellumix.vma"));
    const QString recovery = session.recoveryFileName();
    fixture.clipboard->copy(QStringLiteral("one"));
    QTRY_VERIFY_WITH_TIMEOUT(entry(archive, QStringLiteral("vellumix.clips")).endsWith("one\r\n"), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!session.storeRunning() && !QFile::exists(recovery), 60000);

    // A capture made while a store runs waits in the recovery file for the next one.
    fixture.clipboard->copy(QStringLiteral("two"));
    QVERIFY(session.storeInBackground());
    fixture.clipboard->copy(QStringLiteral("three"));
    QVERIFY(session.flushRecovery());
    QVERIFY(QFileInfo(recovery).size() > 0);
    QTRY_VERIFY_WITH_TIMEOUT(entry(archive, QStringLiteral("vellumix.clips")).endsWith("three\r\n"), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!session.storeRunning() && !QFile::exists(recovery), 60000);

    // "Save" during a store in the background waits for it and then stores what came after.
    fixture.clipboard->copy(QStringLiteral("four"));
    QVERIFY(session.storeInBackground());
    fixture.clipboard->copy(QStringLiteral("five"));
    window->ActionSaveExecute();
    const QByteArray stored = entry(archive, QStringLiteral("vellumix.clips"));
    QVERIFY(stored.contains("four\r\n") && stored.endsWith("five\r\n"));
    QVERIFY(soundArchive(archive));
    QVERIFY(fixture.messages.isEmpty());
}

// A store in the background that keeps failing says so once, not at every change; the changes
// stay in the recovery file until a store succeeds again.
void TestSession::testFailingBackgroundStoreIsToldOnce()
{
    WindowFixture fixture;
    fixture.storeDelay = 20;
    TFMain* window = fixture.create();
    SessionStore& session = window->session();
    const QString archive = fixture.path(QStringLiteral("vellumix.vma"));
    QVERIFY(QDir(fixture.dir.path()).mkdir(QStringLiteral("vellumix.vma")));
    for (const QString& text : { QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three") }) {
        fixture.clipboard->copy(text);
        QVERIFY(!session.storeInBackground());
        QVERIFY(!session.storeInBackground());
    }
    QCOMPARE(fixture.messages.size(), 1);
    QVERIFY2(fixture.messages.first().contains(archive), qPrintable(fixture.messages.first()));
    QVERIFY(session.flushRecovery());
    QVERIFY(fixture.readFile(QStringLiteral("vellumix.vma.recovery"))
                .contains(QByteArray(reinterpret_cast<const char*>(u"three"), 10)));

    QVERIFY(QDir(fixture.dir.path()).rmdir(QStringLiteral("vellumix.vma")));
    fixture.clipboard->copy(QStringLiteral("four"));
    QVERIFY(session.storeInBackground());
    QTRY_VERIFY_WITH_TIMEOUT(!session.storeRunning(), 60000);
    QVERIFY(entry(archive, QStringLiteral("vellumix.clips")).endsWith("four\r\n"));
    QCOMPARE(fixture.messages.size(), 1);
}

// Every add rewrites the whole archive, so a store writes only the entries whose memo changed;
// the others must still be there, whole, afterwards, and a change must never be skipped.
void TestSession::testOnlyChangedEntriesAreWritten()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    const QString archive = fixture.path(QStringLiteral("vellumix.vma"));
    auto save = [&] {
        const SessionStore::Result result = window->session().StoreSession();
        return result.outcome == SessionStore::Outcome::Stored ? result.written : QStringList { "failed" };
    };
    fixture.clipboard->copy(QStringLiteral("one"));
    memo(window, "jot")->setPlainText(QStringLiteral("a note"));
    QCOMPARE(save(), QStringList({ "vellumix.clips", "vellumix.notes" }));
    fixture.clipboard->copy(QStringLiteral("two"));
    QCOMPARE(save(), QStringList({ "vellumix.clips" }));
    QCOMPARE(entry(archive, QStringLiteral("vellumix.notes")), QByteArray("a note"));
    QVERIFY(entry(archive, QStringLiteral("vellumix.clips")).endsWith("two\r\n"));
    QCOMPARE(save(), QStringList());

    // A memo changed and changed back is written again: a matching CRC alone never skips an entry.
    memo(window, "jot")->setPlainText(QStringLiteral("a nOte"));
    memo(window, "jot")->setPlainText(QStringLiteral("a note"));
    QCOMPARE(save(), QStringList({ "vellumix.notes" }));
    fixture.destroy();

    window = fixture.create();
    fixture.clipboard->copy(QStringLiteral("three"));
    QCOMPARE(save(), QStringList({ "vellumix.clips" }));
    QVERIFY(soundArchive(archive));
    QCOMPARE(entryNames(archive).size(), 2);
    QVERIFY(fixture.messages.isEmpty());
}

void TestSession::testRenamedExecutable()
{
    WindowFixture fixture(QStringLiteral("notes"));
    fixture.writeFile(QStringLiteral("vellumix.vma"), "not even an archive");
    TFMain* window = fixture.create();
    memo(window, "jot")->setPlainText(QStringLiteral("renamed"));
    fixture.destroy();
    QCOMPARE(entryNames(fixture.path(QStringLiteral("notes.vma"))), QStringList({ "notes.clips", "notes.notes" }));
    QCOMPARE(fixture.readFile(QStringLiteral("vellumix.vma")), QByteArray("not even an archive"));
}

void TestSession::testUnreadableArchiveIsKept()
{
    WindowFixture fixture;
    // An archive whose journal was encrypted with another password.
    fixture.writeFile(QStringLiteral("vellumix.clips"), "journal of another password\r\n");
    run(QStringLiteral("zip"),
        { QStringLiteral("-q"), QStringLiteral("-P"), QStringLiteral("other"), QStringLiteral("vellumix.vma"),
            QStringLiteral("vellumix.clips") },
        fixture.dir.path());
    QFile::remove(fixture.path(QStringLiteral("vellumix.clips")));
    const QByteArray before = fixture.readFile(QStringLiteral("vellumix.vma"));
    QVERIFY(!before.isEmpty());

    // The component asks for the password once; the user cancels. The copy is kept and the user told at once.
    fixture.dialogs->zipAnswers << mrCancel;
    TFMain* window = fixture.create();
    QCOMPARE(memo(window, "log")->toPlainText(), QString());
    const QString copy = fixture.path(QStringLiteral("vellumix.vma.bak"));
    QCOMPARE(fixture.readFile(QStringLiteral("vellumix.vma.bak")), before);
    QCOMPARE(fixture.messages.size(), 1);
    QVERIFY(fixture.messages.at(0).contains(copy));
    // Changes alone do not replace it: no store begins by itself.
    memo(window, "jot")->setPlainText(QStringLiteral("typed"));
    QVERIFY(!window->session().storeInBackground());
    QCOMPARE(fixture.readFile(QStringLiteral("vellumix.vma")), before);

    // Nor does the close unless the user agrees; what was typed then comes back at the next start.
    fixture.dialogs->answers << false;
    fixture.destroy();
    QCOMPARE(fixture.dialogs->questions.size(), 2);
    QVERIFY(fixture.dialogs->questions.last().contains(copy));
    QCOMPARE(fixture.readFile(QStringLiteral("vellumix.vma")), before);
    fixture.dialogs->zipAnswers << mrCancel;
    window = fixture.create();
    QCOMPARE(memo(window, "jot")->toPlainText(), QStringLiteral("typed"));
    fixture.dialogs->answers << true;
    fixture.destroy();
    QCOMPARE(fixture.messages.size(), 2);
    QVERIFY(!QFile::exists(fixture.path(QStringLiteral("vellumix.vma.bak.1"))));
    QCOMPARE(
        entry(fixture.path(QStringLiteral("vellumix.vma")), QStringLiteral("vellumix.notes")), QByteArray("typed"));
}

namespace
{
// Sets the sizes an entry's headers claim, as a zip bomb's would.
void claimSize(const QString& archive, quint32 size)
{
    QFile file(archive);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const qsizetype central = bytes.indexOf("PK\x01\x02");
    QVERIFY(central > 0);
    qToLittleEndian(size, bytes.data() + 22);
    qToLittleEndian(size, bytes.data() + central + 24);
    file.seek(0);
    file.write(bytes);
}

// A journal that does not compress, larger than FullDisk(100000) lets the store write.
QByteArray incompressibleJournal()
{
    QByteArray stored;
    for (int i = 0; stored.size() < 300000; ++i) {
        stored += QByteArray::number(quint64(i) * 2654435761u % 1000003, 36) + ' ';
    }
    return stored;
}
} // namespace

void TestSession::testBrokenArchive_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("journal"); // what the journal shows after the load
    QTest::addColumn<bool>("copyKept"); // the archive as it was is kept as .bak and the user told once
    QTest::addColumn<bool>("storable"); // closing stores the session
    QTest::newRow("random bytes") << "random" << QByteArray() << true << true;
    QTest::newRow("truncated") << "truncated" << QByteArray() << true << true;
    QTest::newRow("one part of a split set") << "split" << QByteArray() << true << true;
    QTest::newRow("a folder") << "folder" << QByteArray() << false << false;
    QTest::newRow("a FIFO") << "fifo" << QByteArray() << false << false;
    QTest::newRow("a link to /dev/zero") << "zero device" << QByteArray() << false << false;
    QTest::newRow("entry with a zero byte") << "zero byte" << QByteArray("before") << true << true;
    QTest::newRow("Windows-1252 entry") << "1252" << QByteArray("caf\xc3\xa9 \xe2\x82\xac") << true << true;
    QTest::newRow("mixed line ends") << "line ends" << QByteArray("a\r\nb\r\nc\r\nd") << true << true;
    QTest::newRow("entry past the limit") << "huge" << QByteArray() << true << true;
    QTest::newRow("AES-encrypted entry") << "aes" << QByteArray() << true << true;
}

// Whatever lies where the archive should be, the program starts, says once what it could not load,
// keeps what it could not hold, and either stores the session or says it did not.
void TestSession::testBrokenArchive()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, journal);
    QFETCH(bool, copyKept);
    QFETCH(bool, storable);
    WindowFixture fixture;
    const QString archive = fixture.path(QStringLiteral("vellumix.vma"));
    const QByteArray settings = "[vellumix_main]\ntimestamp=0\n";
    fixture.writeFile(QStringLiteral("vellumix.ini"), settings);
    if (kind == QLatin1String("random")) {
        fixture.writeFile(QStringLiteral("vellumix.vma"), QByteArray(4096, '\x5a') + "PK\x05\x06garbage");
    } else if (kind == QLatin1String("truncated")) {
        zipSession(fixture, QByteArray("a journal line\r\n").repeated(500));
        QVERIFY(QFile::resize(archive, QFileInfo(archive).size() / 2));
    } else if (kind == QLatin1String("split")) {
        fixture.writeFile(
            QStringLiteral("vellumix.clips"), QByteArray::number(Q_UINT64_C(0x123456789)).repeated(40000));
        run(QStringLiteral("zip"),
            { QStringLiteral("-q0"), QStringLiteral("-s"), QStringLiteral("64k"), QStringLiteral("-P"), Password,
                QStringLiteral("parts.zip"), QStringLiteral("vellumix.clips") },
            fixture.dir.path());
        QVERIFY(QFile::rename(fixture.path(QStringLiteral("parts.zip")), archive));
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir(fixture.dir.path()).mkdir(QStringLiteral("vellumix.vma")));
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(run(QStringLiteral("mkfifo"), { archive }), QByteArray());
    } else if (kind == QLatin1String("zero device")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), archive));
    } else if (kind == QLatin1String("zero byte")) {
        zipSession(fixture, QByteArray("before\0after", 12));
    } else if (kind == QLatin1String("1252")) {
        zipSession(fixture, "caf\xe9 \x80");
    } else if (kind == QLatin1String("line ends")) {
        zipSession(fixture, "a\nb\rc\r\nd");
    } else if (kind == QLatin1String("aes")) {
        fixture.writeFile(QStringLiteral("vellumix.clips"), "encrypted the modern way");
        run(QStringLiteral("7z"),
            { QStringLiteral("a"), QStringLiteral("-tzip"), QStringLiteral("-p") + Password,
                QStringLiteral("-mem=AES256"), QStringLiteral("vellumix.zip"), QStringLiteral("vellumix.clips") },
            fixture.dir.path());
        QVERIFY(QFile::rename(fixture.path(QStringLiteral("vellumix.zip")), archive));
        QFile::remove(fixture.path(QStringLiteral("vellumix.clips")));
    } else if (kind == QLatin1String("huge")) {
        zipSession(fixture, "small");
        claimSize(archive, quint32(SessionStore::MaxEntrySize + 1));
    }
    const QByteArray before = QFileInfo(archive).isFile() && !QFileInfo(archive).isSymLink()
        ? fixture.readFile(QStringLiteral("vellumix.vma"))
        : QByteArray();
    fixture.dialogs->zipAnswers << mrCancel; // a password, should the component ask

    TFMain* window = fixture.create();
    window->show();
    QCOMPARE(MemoText::toBytes(memo(window, "log")), journal);
    const QString copy = archive + QStringLiteral(".bak");
    QCOMPARE(fixture.messages.size(), 1);
    QCOMPARE(fixture.messages.value(0).contains(copy), copyKept);
    QCOMPARE(QFile::exists(copy), copyKept);
    if (copyKept) {
        QCOMPARE(fixture.readFile(QStringLiteral("vellumix.vma.bak")), before);
    }

    window->AppendToJournal(QStringLiteral("captured"));
    fixture.messages.clear();
    fixture.dialogs->answers << true; // quit anyway, should the store fail
    QVERIFY(window->close());
    QCOMPARE(fixture.dialogs->questions.filter(QStringLiteral("Quit anyway")).size(), storable ? 0 : 1);
    if (storable) {
        QVERIFY(soundArchive(archive));
        QVERIFY(entry(archive, QStringLiteral("vellumix.clips")).contains("captured"));
        QVERIFY(fixture.readFile(QStringLiteral("vellumix.ini")).contains("left="));
    } else {
        QVERIFY(fixture.dialogs->questions.last().contains(archive));
        // The settings are not written over a session that was not stored.
        QCOMPARE(fixture.readFile(QStringLiteral("vellumix.ini")), settings);
    }
    QVERIFY(fixture.messages.isEmpty());
}

void TestSession::testSameDamageKeepsOneCopy()
{
    WindowFixture fixture;
    const QByteArray damaged = QByteArray(2048, '\x17');
    for (int start = 0; start < 2; ++start) {
        fixture.writeFile(QStringLiteral("vellumix.vma"), damaged);
        fixture.create();
        fixture.destroy();
    }
    QCOMPARE(fixture.messages.size(), 2);
    QCOMPARE(fixture.messages.at(0), fixture.messages.at(1));
    QVERIFY(!QFile::exists(fixture.path(QStringLiteral("vellumix.vma.bak.1"))));
    QCOMPARE(fixture.readFile(QStringLiteral("vellumix.vma.bak")), damaged);
}

void TestSession::testFailedStoreKeepsTheWindowAndEverythingInIt()
{
    WindowFixture fixture;
    const QString archive = fixture.path(QStringLiteral("vellumix.vma"));
    zipSession(fixture, incompressibleJournal());
    const QByteArray before = fixture.readFile(QStringLiteral("vellumix.vma"));
    TFMain* window = fixture.create();
    window->show();
    fixture.clipboard->copy(QStringLiteral("copied before the disk filled up"));
    const QByteArray journal = MemoText::toBytes(memo(window, "log"));
    {
        const FullDisk full(100000);
        fixture.dialogs->answers << false; // keep the window open
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QVERIFY_THROWS_EXCEPTION(Exception, window->ActionSaveExecute());
    }
    QCOMPARE(fixture.dialogs->questions.size(), 1);
    QVERIFY(fixture.dialogs->questions.at(0).startsWith(QStringLiteral("The session was not stored in ") + archive));
    QCOMPARE(MemoText::toBytes(memo(window, "log")), journal);
    QCOMPARE(fixture.readFile(QStringLiteral("vellumix.vma")), before);

    // Once there is room again the store succeeds.
    QVERIFY(window->close());
    QCOMPARE(entry(archive, QStringLiteral("vellumix.clips")), journal);
    QVERIFY(fixture.messages.isEmpty());
}

void TestSession::testStoreOnTheWayOut_data()
{
    QTest::addColumn<bool>("diskFull");
    QTest::newRow("stored") << false;
    QTest::newRow("the disk is full") << true;
}

// The display is gone and the program is ending: nobody can answer, and a turn of the event loop
// would end the program in the middle of the store.
void TestSession::testStoreOnTheWayOut()
{
    QFETCH(bool, diskFull);
    WindowFixture fixture;
    const QString archive = fixture.path(QStringLiteral("vellumix.vma"));
    zipSession(fixture, incompressibleJournal());
    const QByteArray before = fixture.readFile(QStringLiteral("vellumix.vma"));
    TFMain* window = fixture.create();
    window->show();
    fixture.clipboard->copy(QStringLiteral("copied before the display went"));
    window->session().flushRecovery();
    bool loopTurned = false;
    QTimer::singleShot(0, window, [&loopTurned] { loopTurned = true; });
    {
        std::optional<FullDisk> full;
        if (diskFull) {
            full.emplace(100000);
        }
        window->storeAtExit();
    }
    QVERIFY(!loopTurned);
    QVERIFY(fixture.dialogs->questions.isEmpty());
    QVERIFY(fixture.messages.isEmpty());
    if (diskFull) {
        QCOMPARE(fixture.readFile(QStringLiteral("vellumix.vma")), before);
        QVERIFY(fixture.readFile(QStringLiteral("vellumix.vma.recovery"))
                    .contains(QByteArray(reinterpret_cast<const char*>(u"copied before the display went"), 60)));
    } else {
        QVERIFY(entry(archive, QStringLiteral("vellumix.clips")).contains("copied before the display went"));
    }
}

void TestSession::testEveryEditComesBackAfterAKill()
{
    WindowFixture fixture;
    zipSession(fixture, "stored line\r\n", "stored note");
    TFMain* window = fixture.create();
    JournalView* log = memo(window, "log");
    JournalView* jot = memo(window, "jot");
    fixture.clipboard->copy(QStringLiteral("first capture"));
    window->WMDropFiles({ QStringLiteral("/tmp/dropped file") });
    TextCursor cursor(3);
    cursor.setPosition(9, TextCursor::KeepAnchor);
    log->setTextCursor(cursor);
    log->insertPlainText(QStringLiteral("typed\nover two lines"));
    log->undo();
    log->redo();
    jot->moveCursor(JournalView::End);
    QTest::keyClicks(jot, QStringLiteral(" and more"));
    jot->selectAll();
    jot->cut();
    jot->paste();
    jot->paste();
    fixture.clipboard->copy(QStringLiteral("last capture"));
    const QByteArray journal = MemoText::toBytes(log);
    const QByteArray notes = MemoText::toBytes(jot);
    window->session().flushRecovery();
    QVERIFY(QFile::exists(fixture.path(QStringLiteral("vellumix.vma.recovery"))));

    // A kill leaves the files as they are now: the archive of the last store and the recovery file.
    WindowFixture restarted;
    for (const char* name : { "vellumix.vma", "vellumix.vma.recovery" }) {
        QVERIFY(QFile::copy(fixture.path(QString::fromLatin1(name)), restarted.path(QString::fromLatin1(name))));
    }
    window = restarted.create();
    QCOMPARE(MemoText::toBytes(memo(window, "log")), journal);
    QCOMPARE(MemoText::toBytes(memo(window, "jot")), notes);
    QVERIFY(restarted.messages.isEmpty());

    // A store makes the recovery file obsolete; nothing is applied twice.
    restarted.destroy();
    QVERIFY(!QFile::exists(restarted.path(QStringLiteral("vellumix.vma.recovery"))));
    window = restarted.create();
    QCOMPARE(MemoText::toBytes(memo(window, "log")), journal);
    QCOMPARE(MemoText::toBytes(memo(window, "jot")), notes);
}

void TestSession::testLinkedArchiveStaysALink()
{
    WindowFixture fixture;
    QVERIFY(QDir(fixture.dir.path()).mkdir(QStringLiteral("synced")));
    const QString link = fixture.path(QStringLiteral("vellumix.vma"));
    QVERIFY(QFile::link(QStringLiteral("synced/session.vma"), link));
    for (const QString& text : { QStringLiteral("first run"), QStringLiteral("second run") }) {
        TFMain* window = fixture.create();
        fixture.clipboard->copy(text);
        fixture.destroy();
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(entry(fixture.path(QStringLiteral("synced/session.vma")), QStringLiteral("vellumix.clips"))
                    .endsWith(text.toUtf8() + "\r\n"));
        Q_UNUSED(window);
    }
    QCOMPARE(QDir(fixture.path(QStringLiteral("synced"))).entryList(QDir::Files),
        QStringList { QStringLiteral("session.vma") });
}

namespace
{
// The archive with one byte of the journal's data changed; the directory keeps its size and CRC.
QByteArray damagedJournal(QByteArray archive)
{
    const qsizetype header = archive.indexOf("PK\x03\x04vellumix.clips") >= 0 ? 0 : archive.indexOf("PK\x03\x04");
    const qsizetype data = header + 30 + qFromLittleEndian<quint16>(archive.constData() + header + 26)
        + qFromLittleEndian<quint16>(archive.constData() + header + 28);
    archive[data + 20] = char(archive[data + 20] ^ 0x55);
    return archive;
}
} // namespace

// A capture recorded after the last store is never dropped or applied to the wrong text when the
// journal entry reads differently at the next start: damaged since the crash, or unreadable only
// in the session that crashed.
void TestSession::testCrashedCapturesSurviveAnEntryReadOnlyOnce_data()
{
    QTest::addColumn<bool>("damagedAfterTheCrash");
    QTest::newRow("damaged after the crash") << true;
    QTest::newRow("unreadable in the crashed session") << false;
}

void TestSession::testCrashedCapturesSurviveAnEntryReadOnlyOnce()
{
    QFETCH(bool, damagedAfterTheCrash);
    QByteArray stored;
    for (int line = 0; line < 200; ++line) {
        stored += "stored line " + QByteArray::number(line * 7919 % 1000) + "\r\n";
    }
    WindowFixture crashed;
    zipSession(crashed, stored, "stored note");
    const QByteArray archive = crashed.readFile(QStringLiteral("vellumix.vma"));
    if (!damagedAfterTheCrash) {
        crashed.writeFile(QStringLiteral("vellumix.vma"), damagedJournal(archive));
        crashed.dialogs->zipAnswers << mrCancel << mrCancel; // a password, should the component ask
        crashed.dialogs->answers << false; // the archive it could not load is not replaced when it ends
    }
    TFMain* window = crashed.create();
    crashed.clipboard->copy(QStringLiteral("first capture"));
    QVERIFY(window->session().flushRecovery());

    WindowFixture restarted;
    restarted.writeFile(QStringLiteral("vellumix.vma"), damagedAfterTheCrash ? damagedJournal(archive) : archive);
    restarted.writeFile(
        QStringLiteral("vellumix.vma.recovery"), crashed.readFile(QStringLiteral("vellumix.vma.recovery")));
    restarted.dialogs->zipAnswers << mrCancel << mrCancel;
    window = restarted.create();
    if (!damagedAfterTheCrash) {
        QCOMPARE(MemoText::toBytes(memo(window, "log")), stored);
    }
    QVERIFY(!MemoText::toBytes(memo(window, "log")).startsWith("first capture"));
    const QStringList told = restarted.messages.filter(QStringLiteral("vellumix.vma.recovery."));
    QCOMPARE(told.size(), 1);
    restarted.dialogs->answers << true; // quit anyway, should the store fail
    QVERIFY(window->close());

    const QByteArray capture(reinterpret_cast<const char*>(u"first capture"), 26);
    QStringList keptAside = QDir(restarted.dir.path()).entryList({ QStringLiteral("vellumix.vma.recovery.*") });
    QCOMPARE(keptAside.size(), 1);
    QVERIFY(told.first().contains(keptAside.first()));
    QVERIFY(restarted.readFile(keptAside.first()).contains(capture));
}

// An entry whose bytes were damaged on the disk after the load is written again at the next store,
// though its memo did not change.
void TestSession::testEntryDamagedOnDiskIsWrittenAgain()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    const QString archive = fixture.path(QStringLiteral("vellumix.vma"));
    fixture.clipboard->copy(QStringLiteral("a capture long enough to be damaged in its middle"));
    QCOMPARE(window->session().StoreSession().outcome, SessionStore::Outcome::Stored);
    fixture.writeFile(QStringLiteral("vellumix.vma"), damagedJournal(fixture.readFile(QStringLiteral("vellumix.vma"))));
    QVERIFY(!soundArchive(archive));
    memo(window, "jot")->setPlainText(QStringLiteral("a note"));
    QCOMPARE(window->session().StoreSession().written, QStringList({ "vellumix.clips", "vellumix.notes" }));
    QVERIFY(soundArchive(archive));
    QVERIFY(entry(archive, QStringLiteral("vellumix.clips")).endsWith("in its middle\r\n"));
    QVERIFY(fixture.messages.isEmpty());
}

// Memory running out while the journal is decoded: the user is told, the archive is kept as it
// was, and what could not be loaded is never stored over without a copy.
void TestSession::testOutOfMemoryWhileLoadingIsTold()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the sanitizer's own reservations do not live under an address space limit");
#else
    WindowFixture fixture;
    const QString archive = fixture.path(QStringLiteral("vellumix.vma"));
    zipSession(fixture, QByteArray("a journal line that repeats\r\n").repeated(8 << 20)); // 224 MiB
    const QByteArray stored = fixture.readFile(QStringLiteral("vellumix.vma"));
    QFile status(QStringLiteral("/proc/self/status"));
    QVERIFY(status.open(QIODevice::ReadOnly));
    const QByteArray statusText = status.readAll();
    const qsizetype at = statusText.indexOf("VmSize:");
    const rlim_t used = rlim_t(statusText.mid(at + 7, 20).trimmed().split(' ').value(0).toLongLong()) * 1024;
    QVERIFY(used > 0);
    rlimit unlimited {};
    QCOMPARE(::getrlimit(RLIMIT_AS, &unlimited), 0);
    rlimit limited = unlimited;
    limited.rlim_cur = used + (128 << 20);
    QCOMPARE(::setrlimit(RLIMIT_AS, &limited), 0);
    TFMain* window = fixture.create();
    QCOMPARE(::setrlimit(RLIMIT_AS, &unlimited), 0);

    QCOMPARE(fixture.messages.size(), 1);
    QVERIFY2(fixture.messages.first().contains(archive), qPrintable(fixture.messages.first()));
    QCOMPARE(fixture.readFile(QStringLiteral("vellumix.vma.bak")), stored);
    QVERIFY(memo(window, "log")->toPlainText().isEmpty());
    fixture.destroy();
    QCOMPARE(fixture.readFile(QStringLiteral("vellumix.vma.bak")), stored);
#endif
}

QTEST_MAIN(TestSession)
#include "TestSession.moc"
