#include "app/MemoText.h"
#include "tests/app/WindowFixture.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipDlg.h"

#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>

namespace
{
const QString Password = QStringLiteral("730582");

QByteArray run(const QString& program, const QStringList& arguments, const QString& folder = {})
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(1000);
        return "<timed out>";
    }
    return process.readAllStandardOutput();
}

// An entry as another program sees it.
QByteArray entry(const QString& archive, const QString& name)
{
    return run(QStringLiteral("unzip"), { QStringLiteral("-P"), Password, QStringLiteral("-p"), archive, name });
}

QStringList entryNames(const QString& archive)
{
    return QString::fromUtf8(run(QStringLiteral("unzip"), { QStringLiteral("-Z1"), archive }))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QPlainTextEdit* memo(TFMain* window, const char* name)
{
    return window->findChild<QPlainTextEdit*>(QString::fromLatin1(name));
}
} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testFirstStartIsQuiet();
    void testStoredAndRestored();
    void testArchiveMadeByZipLoads();
    void testSaveTwiceKeepsTwoEntries();
    void testSaveDuringStoreIsRefused();
    void testRenamedExecutable();
    void testUnreadableArchiveIsKept();
};

void TestSession::testFirstStartIsQuiet()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    QCOMPARE(memo(window, "log")->toPlainText(), QString());
    QCOMPARE(memo(window, "jot")->toPlainText(), QString());
    QVERIFY(fixture.messages.isEmpty());
    QVERIFY(!TZipDialogBox::hasNextAnswer());
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
    int nested = 0;
    // The component reports progress while the engine runs; a click on "Save" then arrives inside the store.
    window->zipComponent()->SetOnProgress([&](QObject*, ProgressType, const QString&, qint64) {
        if (nested++ == 0) {
            memo(window, "log")->setPlainText(QStringLiteral("typed meanwhile"));
            window->ActionSaveExecute();
        }
    });
    window->ActionSaveExecute();
    QVERIFY(nested > 0);
    const QString archive = fixture.path(QStringLiteral("vellumix.vma"));
    QCOMPARE(entryNames(archive), QStringList({ "vellumix.clips", "vellumix.notes" }));
    QCOMPARE(entry(archive, QStringLiteral("vellumix.clips")), QByteArray("the journal being stored"));
    window->zipComponent()->SetOnProgress({});
    window->ActionSaveExecute();
    QCOMPARE(entry(archive, QStringLiteral("vellumix.clips")), QByteArray("typed meanwhile"));
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
    fixture.destroy();
    QCOMPARE(fixture.messages.size(), 1);
    QCOMPARE(entry(fixture.path(QStringLiteral("vellumix.vma")), QStringLiteral("vellumix.notes")), QByteArray());
}

QTEST_MAIN(TestSession)
#include "TestSession.moc"
