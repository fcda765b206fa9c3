#include "tests/zip/ZipStreamEntries.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipDlg.h"
#include "zip/ZipMsgStr.h"
#include "zip/ZipWorkerRecords.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/mman.h>

using ZipTest::add;
using ZipTest::extract;

namespace
{
const QString kPassword = QStringLiteral("730582");

struct ToolRun
{
    int exitCode = -1;
    QByteArray out;
};

ToolRun tool(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(60000);
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput() };
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Answers every dialog from a script and records what was asked; an unscripted dialog is
// cancelled and counted, so a test never blocks.
class DialogScript
{
public:
    struct Answer
    {
        int result;
        QString text;
    };
    explicit DialogScript(QList<Answer> answers = {})
        : m_answers(std::move(answers))
    {
        arm();
    }
    ~DialogScript() { TZipDialogBox::setNextAnswer(TZipDialogBox::Answer()); }
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    QStringList titles;
    int unexpected = 0;

private:
    void arm()
    {
        TZipDialogBox::setNextAnswer([this](TZipDialogBox& box) {
            titles << box.windowTitle();
            Answer answer { mrCancel, {} };
            if (m_answers.isEmpty())
                ++unexpected;
            else
                answer = m_answers.takeFirst();
            if (auto* edit = box.findChild<QLineEdit*>())
                edit->setText(answer.text);
            arm();
            return answer.result;
        });
    }
    QList<Answer> m_answers;
};
} // namespace

class TestZipOps : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_fixtures;
    QTemporaryDir m_dir;

    QString fixture(const QString& name) const { return m_fixtures.filePath(name); }

    std::unique_ptr<TZipArchiver> component(const QString& archive, bool unattended = true) const
    {
        auto zip = std::make_unique<TZipArchiver>();
        zip->SetDLLDirectory(QStringLiteral(VELLUMIX_BIN_DIR));
        zip->SetUnattended(unattended);
        zip->SetPassword(kPassword);
        zip->SetAddOptions({ AddEncrypt });
        zip->SetZipFileName(archive);
        return zip;
    }

    QString copyFixture(const QString& name)
    {
        const QString target = m_dir.filePath(QTest::currentTestFunction() + QString::number(++m_copies) + name);
        QFile::copy(fixture(name), target);
        return target;
    }

    int m_copies = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(m_fixtures.isValid() && m_dir.isValid());
        const ToolRun made
            = tool(QStringLiteral(VELLUMIX_TEST_DATA_DIR "/zip/make-ops-archives.sh"), { m_fixtures.path() });
        QCOMPARE(made.exitCode, 0);
    }

    void testAddNewReplaceAndKeep()
    {
        const QString archive = m_dir.filePath(QStringLiteral("session.vma"));
        auto zip = component(archive, false);
        DialogScript dialogs;
        QCOMPARE(add(*zip, QStringLiteral("vellumix.clips"), "journal\r\nline two\r\n"), 0);
        QCOMPARE(add(*zip, QStringLiteral("vellumix.notes"), QByteArray()), 0);
        QCOMPARE(add(*zip, QStringLiteral("vellumix.clips"), "journal, stored again"), 0);
        QCOMPARE(dialogs.titles, QStringList());
        QCOMPARE(zip->Count(), 2);
        // The replaced entry keeps its place, as Info-ZIP's zip keeps an updated entry's.
        QCOMPARE(zip->DirEntry(0).FileName, QStringLiteral("vellumix.clips"));
        QCOMPARE(zip->Worker()->SuccessCount(), 1);
        QVERIFY(!zip->Worker()->AddBusy());
        QCOMPARE(zip->EntryStream()->data(), QByteArray("journal, stored again"));

        const ToolRun clips = tool(QStringLiteral("unzip"), { "-P", kPassword, "-p", archive, "vellumix.clips" });
        QCOMPARE(clips.out, QByteArray("journal, stored again"));
        QCOMPARE(tool(QStringLiteral("unzip"), { "-P", kPassword, "-tq", archive }).exitCode, 0);
        QCOMPARE(tool(QStringLiteral("7z"), { "t", "-p" + kPassword, archive }).exitCode, 0);
        QStringList listed = QString::fromUtf8(tool(QStringLiteral("bsdtar"), { "-tf", archive }).out).split('\n');
        listed.sort();
        QCOMPARE(listed, QStringList({ "", "vellumix.clips", "vellumix.notes" }));
        const ToolRun slt = tool(QStringLiteral("7z"), { "l", "-slt", archive });
        QCOMPARE(slt.out.count("Encrypted = +"), 2);
        QVERIFY(slt.out.contains("Size = 0"));

        // The date stamped for 0 is today's, and the archive attribute is kept.
        for (int i = 0; i < zip->Count(); ++i) {
            const ZipDirEntry& entry = zip->DirEntry(i);
            QCOMPARE(entry.ExternalAttributes & 0xFF, quint32(0x20));
            QVERIFY(entry.Encrypted);
            const quint32 date = entry.DosDateTime >> 16;
            const QDate stamped(int(date >> 9) + 1980, int((date >> 5) & 0xF), int(date & 0x1F));
            QVERIFY(qAbs(stamped.daysTo(QDate::currentDate())) <= 1);
        }
        QVERIFY(tool(QStringLiteral("zipinfo"), { archive }).out.contains(" fat "));

        // Read back through the component, in another letter case too.
        QCOMPARE(extract(*zip, QStringLiteral("VELLUMIX.CLIPS")), QByteArray("journal, stored again"));
        QCOMPARE(extract(*zip, QStringLiteral("vellumix.notes")), QByteArray());
        QCOMPARE(zip->ErrorCode(), 0);
    }

    void testAddBesideOtherEntries()
    {
        const QString archive = copyFixture(QStringLiteral("infozip-plain.zip"));
        auto zip = component(archive);
        QCOMPARE(zip->Count(), 2);
        QCOMPARE(add(*zip, QStringLiteral("new.txt"), "new data"), 0);
        QCOMPARE(zip->Count(), 3);
        QCOMPARE(tool(QStringLiteral("unzip"), { "-p", archive, "sub/c.txt" }).out, QByteArray("charlie\n"));
        QCOMPARE(tool(QStringLiteral("unzip"), { "-p", archive, "a.txt" }).out, QByteArray("alpha\r\nline two\r\n"));
        QCOMPARE(
            tool(QStringLiteral("unzip"), { "-P", kPassword, "-p", archive, "new.txt" }).out, QByteArray("new data"));
        QCOMPARE(tool(QStringLiteral("unzip"), { "-tq", "-P", kPassword, archive }).exitCode, 0);
    }

    void testAddRefused_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        QTest::newRow("no name") << ""
                                 << "" << 10301;
        QTest::newRow("wildcard") << ""
                                  << "a*b.txt" << 10307;
        QTest::newRow("question mark") << ""
                                       << "a?.txt" << 10307;
        QTest::newRow("no password unattended") << "nopassword"
                                                << "x.txt" << 10302;
        QTest::newRow("no archive name") << "noarchive"
                                         << "x.txt" << 10102;
        QTest::newRow("missing folder") << "missingfolder"
                                        << "x.txt" << 10308;
        QTest::newRow("read-only archive") << "readonly"
                                           << "x.txt" << 11051;
        QTest::newRow("read-only folder") << "readonlyfolder"
                                          << "x.txt" << 11051;
        QTest::newRow("self-extractor") << "exe"
                                        << "x.txt" << 10304;
        QTest::newRow("engine not loadable") << "noengine"
                                             << "x.txt" << 10650;
        QTest::newRow("4 GiB or more") << "huge"
                                       << "x.txt" << 11457;
    }

    void testAddRefused()
    {
        QFETCH(QString, setup);
        QFETCH(QString, name);
        QFETCH(int, code);
        const QString folder = m_dir.filePath(QStringLiteral("refused-") + setup + QString::number(++m_copies));
        QDir().mkpath(folder);
        QString archive = copyFixture(QStringLiteral("infozip-enc.zip"));
        if (setup == QLatin1String("missingfolder"))
            archive = folder + QStringLiteral("/not/there.zip");
        else if (setup == QLatin1String("exe"))
            archive = folder + QStringLiteral("/NEW.EXE");
        else if (setup == QLatin1String("readonlyfolder"))
            archive = folder + QStringLiteral("/new.zip");
        const QByteArray before = fileBytes(archive);
        auto zip = component(archive);
        QList<int> messages;
        zip->SetOnMessage([&](QObject*, int errorCode, const QString&) { messages << errorCode; });
        if (setup == QLatin1String("nopassword"))
            zip->SetPassword(QString());
        if (setup == QLatin1String("noarchive"))
            zip->SetZipFileName(QString());
        if (setup == QLatin1String("readonly"))
            QFile::setPermissions(archive, QFileDevice::ReadOwner);
        if (setup == QLatin1String("readonlyfolder"))
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        if (setup == QLatin1String("noengine")) {
            QFile fake(folder + QStringLiteral("/libZipEngine179.so"));
            QVERIFY(fake.open(QIODevice::WriteOnly));
            fake.write("not a library");
            fake.close();
            zip->SetDLLDirectory(folder);
        }

        if (setup == QLatin1String("huge")) {
            // A mapping never touched takes no memory: only the size is looked at before the refusal.
            constexpr qsizetype Huge = (qsizetype(1) << 32) + 1;
            void* bytes = ::mmap(nullptr, size_t(Huge), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
            QVERIFY(bytes != MAP_FAILED);
            zip->EntryStream()->Clear();
            zip->EntryStream()->buffer() = QByteArray::fromRawData(static_cast<const char*>(bytes), Huge);
            QCOMPARE(zip->AddStreamEntry(name, 0, 0x20), code);
            zip->EntryStream()->Clear();
            ::munmap(bytes, size_t(Huge));
        } else {
            QCOMPARE(add(*zip, name, "data"), code);
        }
        QCOMPARE(zip->ErrorCode(), code);
        QCOMPARE(messages.value(0), code);
        QCOMPARE(fileBytes(archive), before);
        QVERIFY(!zip->Worker()->AddBusy());
        QVERIFY(!zip->Worker()->IsLoaded());
        QVERIFY(zip->FSpecArgs().isEmpty());
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        if (setup == QLatin1String("missingfolder")) {
            QVERIFY(zip->ErrorMessage().contains(folder + QStringLiteral("/not")));
            // Told to, the component makes the folder.
            zip->SetAddOptions({ AddEncrypt, AddForceDest });
            QCOMPARE(add(*zip, name, "data"), 0);
            QVERIFY(QFileInfo::exists(archive));
        }
    }

    void testExtract_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray a("alpha\r\nline two\r\n");
        QTest::newRow("zip -P") << "infozip-enc.zip"
                                << "a.txt" << a;
        QTest::newRow("zip -P, other case") << "infozip-enc.zip"
                                            << "B.TXT" << QByteArray("bravo bravo\n");
        QTest::newRow("7z ZipCrypto") << "seven-enc.zip"
                                      << "a.txt" << a;
        QTest::newRow("python zipfile") << "python.zip"
                                        << "b.txt" << QByteArray("bravo bravo\n");
        QTest::newRow("name with backslash") << "infozip-plain.zip"
                                             << "sub\\c.txt" << QByteArray("charlie\n");
        QTest::newRow("name with slash") << "infozip-plain.zip"
                                         << "sub/c.txt" << QByteArray("<none>");
        QTest::newRow("not in the archive") << "infozip-enc.zip"
                                            << "c.txt" << QByteArray("<none>");
        QTest::newRow("parts joined") << "split.zip"
                                      << "a.txt" << a;
    }

    void testExtract()
    {
        QFETCH(QString, file);
        QFETCH(QString, name);
        QFETCH(QByteArray, expected);
        QTemporaryDir temp;
        auto zip = component(fixture(file));
        zip->SetTempDir(temp.path());
        QList<int> messages;
        zip->SetOnMessage([&](QObject*, int errorCode, const QString&) { messages << errorCode; });
        QCOMPARE(extract(*zip, name), expected);
        QCOMPARE(zip->ErrorCode(), 0);
        QCOMPARE(zip->EntryStream()->Size(), expected == "<none>" ? 0 : expected.size());
        QCOMPARE(zip->EntryStream()->pos(), qint64(0));
        QCOMPARE(QDir(temp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
        QVERIFY(!zip->Worker()->ExtractBusy());
        QVERIFY(!zip->Worker()->IsLoaded());
    }

    void testExtractLargePartEntry()
    {
        auto zip = component(fixture(QStringLiteral("split.zip")));
        QCOMPARE(zip->Worker()->LastDiskNumber(), 2);
        QCOMPARE(extract(*zip, QStringLiteral("big.bin")), fileBytes(fixture(QStringLiteral("big.bin"))));
    }

    void testExtractFailures()
    {
        // No archive at all: the listing finds nothing to open.
        auto missing = component(m_dir.filePath(QStringLiteral("missing.vma")));
        QCOMPARE(extract(*missing, QStringLiteral("vellumix.clips")), QByteArray("<none>"));
        QCOMPARE(missing->ErrorCode(), 11002);

        auto garbage = component(fixture(QStringLiteral("garbage.zip")));
        QCOMPARE(extract(*garbage, QStringLiteral("a.txt")), QByteArray("<none>"));
        QVERIFY(garbage->ErrorCode() != 0);

        auto none = component(fixture(QStringLiteral("python.zip")));
        QCOMPARE(extract(*none, QString()), QByteArray("<none>"));
        QCOMPARE(none->ErrorCode(), 10301);
    }

    void testWrongPasswordUnattended()
    {
        auto zip = component(fixture(QStringLiteral("infozip-enc.zip")));
        zip->SetPassword(QString());
        QStringList messages;
        zip->SetOnMessage([&](QObject*, int, const QString& text) { messages << text; });
        QCOMPARE(extract(*zip, QStringLiteral("a.txt")), QByteArray("<none>"));
        QVERIFY(messages.contains(LoadMessageText(10502)));
        QCOMPARE(zip->PasswordReqCount(), quint32(1));

        zip->SetPassword(QStringLiteral("wrong"));
        QCOMPARE(extract(*zip, QStringLiteral("a.txt")), QByteArray("<none>"));
        QCOMPARE(zip->EntryStream()->Size(), 0);
        QCOMPARE(zip->ErrorCode(), 17);
    }

    void testPasswordRepeatCount()
    {
        auto zip = component(fixture(QStringLiteral("infozip-enc.zip")));
        zip->SetPassword(QString());
        zip->SetPasswordReqCount(20);
        int asked = 0;
        zip->SetOnPasswordError(
            [&](QObject*, bool isZip, QString& password, const QString& item, quint32&, TMsgDlgBtn&) {
                QVERIFY(!isZip);
                QCOMPARE(item, QStringLiteral("a.txt"));
                password = ++asked == 15 ? kPassword : QStringLiteral("wrong");
            });
        QCOMPARE(extract(*zip, QStringLiteral("a.txt")), QByteArray("alpha\r\nline two\r\n"));
        QCOMPARE(asked, 15);
    }

    void testExtractPasswordDialog_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("dialogs");
        QTest::newRow("OK") << int(mrOk) << kPassword << true << 1;
        QTest::newRow("Cancel") << int(mrCancel) << kPassword << false << 1;
        QTest::newRow("All") << int(mrAll) << kPassword << false << 1;
        QTest::newRow("OK, wrong") << int(mrOk) << "nope" << false << 1;
    }

    void testExtractPasswordDialog()
    {
        QFETCH(int, result);
        QFETCH(QString, typed);
        QFETCH(bool, found);
        QFETCH(int, dialogs);
        auto zip = component(fixture(QStringLiteral("seven-enc.zip")), false);
        zip->SetPassword(QString());
        DialogScript script({ { result, typed } });
        QCOMPARE(extract(*zip, QStringLiteral("b.txt")), found ? QByteArray("bravo bravo\n") : QByteArray("<none>"));
        QCOMPARE(script.titles.size(), dialogs);
        QCOMPARE(script.titles.value(0), LoadMessageText(10154));
        QCOMPARE(script.unexpected, 0);
    }

    void testAddPasswordDialog_data()
    {
        QTest::addColumn<QList<int>>("results");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("added");
        QTest::newRow("match") << QList<int> { mrOk, mrOk } << QStringList { "typed", "typed" } << 0 << true;
        QTest::newRow("mismatch") << QList<int> { mrOk, mrOk, mrOk } << QStringList { "typed", "Typed", "" } << 16
                                  << false;
        QTest::newRow("cancel") << QList<int> { mrCancel } << QStringList { "" } << 16 << false;
        QTest::newRow("cancel confirmation")
            << QList<int> { mrOk, mrCancel } << QStringList { "typed", "" } << 16 << false;
    }

    void testAddPasswordDialog()
    {
        QFETCH(QList<int>, results);
        QFETCH(QStringList, typed);
        QFETCH(int, code);
        QFETCH(bool, added);
        const QString archive = copyFixture(QStringLiteral("python.zip"));
        const QByteArray before = fileBytes(archive);
        auto zip = component(archive, false);
        zip->SetPassword(QString());
        QList<DialogScript::Answer> answers;
        for (qsizetype i = 0; i < results.size(); ++i)
            answers.append({ results.at(i), typed.at(i) });
        DialogScript script(answers);
        QList<int> codes;
        zip->SetOnMessage([&](QObject*, int errorCode, const QString&) { codes << errorCode; });
        QCOMPARE(add(*zip, QStringLiteral("secret.txt"), "hidden"), code);
        QCOMPARE(script.unexpected, 0);
        QCOMPARE(script.titles.value(0), LoadMessageText(10154));
        QCOMPARE(codes.contains(10104), QTest::currentDataTag() == QLatin1String("mismatch"));
        if (added) {
            QCOMPARE(tool(QStringLiteral("unzip"), { "-P", "typed", "-p", archive, "secret.txt" }).out,
                QByteArray("hidden"));
        } else {
            QCOMPARE(fileBytes(archive), before);
        }
    }

    void testPasswordCut()
    {
        const QString archive = m_dir.filePath(QStringLiteral("long.zip"));
        auto zip = component(archive);
        const QString longPassword = QString(100, QLatin1Char('p')) + QStringLiteral("tail");
        zip->SetPassword(longPassword);
        QCOMPARE(add(*zip, QStringLiteral("x.txt"), "cut"), 0);
        QCOMPARE(tool(QStringLiteral("unzip"), { "-P", longPassword.left(81), "-p", archive, "x.txt" }).out,
            QByteArray("cut"));

        // A password given through the callback goes back cut to 80 characters.
        auto reader = component(archive);
        reader->SetPassword(QString());
        reader->SetOnPasswordError([&](QObject*, bool, QString& password, const QString&, quint32&, TMsgDlgBtn&) {
            password = longPassword.left(81);
        });
        QCOMPARE(extract(*reader, QStringLiteral("x.txt")), QByteArray("<none>"));
        reader->SetPassword(longPassword);
        QCOMPARE(extract(*reader, QStringLiteral("x.txt")), QByteArray("<none>"));
        reader->SetPassword(longPassword.left(81));
        QCOMPARE(extract(*reader, QStringLiteral("x.txt")), QByteArray("cut"));
    }

    void testHandlerExceptionEndsAdd()
    {
        // The engine refuses a name that climbs out of the archive with a message (action 4).
        const QString archive = copyFixture(QStringLiteral("infozip-plain.zip"));
        const QByteArray before = fileBytes(archive);
        auto zip = component(archive);
        int calls = 0;
        zip->SetOnMessage([&](QObject*, int, const QString&) {
            if (++calls == 1)
                throw Exception(QStringLiteral("handler broke"));
        });
        QCOMPARE(add(*zip, QStringLiteral("..\\x.txt"), "data"), 10123);
        QVERIFY2(
            zip->ErrorMessage().endsWith(QStringLiteral(" #4 \"handler broke\"")), qPrintable(zip->ErrorMessage()));
        QCOMPARE(calls, 2);
        QCOMPARE(fileBytes(archive), before);
        QVERIFY(!zip->Worker()->Cancel());
        QVERIFY(!zip->Worker()->AddBusy());

        // The next add starts afresh.
        zip->SetOnMessage(nullptr);
        QCOMPARE(add(*zip, QStringLiteral("x.txt"), "data"), 0);
    }

    void testCancelledAddKeepsArchive()
    {
        const QString archive = copyFixture(QStringLiteral("infozip-enc.zip"));
        const QByteArray before = fileBytes(archive);
        auto zip = component(archive);
        zip->SetOnCheckTerminate([](QObject*, bool& abort) { abort = true; });
        QCOMPARE(add(*zip, QStringLiteral("a.txt"), "replacement"), 10120);
        QCOMPARE(fileBytes(archive), before);
        QVERIFY(!zip->Worker()->Cancel());
        QCOMPARE(zip->Count(), 2);
    }

    // A handler that writes into or clears the entry stream while the engine works on it.
    void testEntryStreamChangedMeanwhile_data()
    {
        QTest::addColumn<bool>("adding");
        QTest::addColumn<int>("when");
        QTest::addColumn<bool>("clear");
        QTest::newRow("add, written over") << true << int(ProgressType::NewFile) << false;
        QTest::newRow("add, cleared") << true << int(ProgressType::NewFile) << true;
        QTest::newRow("extract, cleared") << false << int(ProgressType::NewFile) << true;
        QTest::newRow("extract, written over") << false << int(ProgressType::EndOfBatch) << false;
    }

    void testEntryStreamChangedMeanwhile()
    {
        QFETCH(bool, adding);
        QFETCH(int, when);
        QFETCH(bool, clear);
        const QString archive = m_dir.filePath(QStringLiteral("meanwhile%1.zip").arg(++m_copies));
        auto zip = component(archive);
        QByteArray data;
        for (int i = 0; i < 20000; ++i)
            data += QByteArray::number(i) + '\n';
        if (!adding)
            QCOMPARE(add(*zip, QStringLiteral("a.txt"), data), 0);
        zip->SetOnProgress([&](QObject*, ProgressType type, const QString&, qint64) {
            if (int(type) != when)
                return;
            if (clear) {
                zip->EntryStream()->Clear();
            } else {
                zip->EntryStream()->seek(0);
                zip->EntryStream()->write(QByteArray(data.size(), 'X'));
            }
        });
        if (adding) {
            QCOMPARE(add(*zip, QStringLiteral("a.txt"), data), 0);
            QCOMPARE(tool(QStringLiteral("unzip"), { "-P", kPassword, "-p", archive, "a.txt" }).out, data);
        } else {
            QCOMPARE(extract(*zip, QStringLiteral("a.txt")), data);
        }
    }

    // Every percentage an add or extract reports stays within 0 to 100; 101 ends a batch.
    void testProgressStaysInRange_data()
    {
        QTest::addColumn<bool>("adding");
        QTest::newRow("add") << true;
        QTest::newRow("extract") << false;
    }

    void testProgressStaysInRange()
    {
        QFETCH(bool, adding);
        const QString archive = m_dir.filePath(QStringLiteral("progress%1.zip").arg(++m_copies));
        auto zip = component(archive);
        QByteArray data;
        for (int i = 0; data.size() < 3 * 1024 * 1024; ++i)
            data += QByteArray::number(quint32(i) * 2654435761u, 36);
        if (!adding)
            QCOMPARE(add(*zip, QStringLiteral("big.txt"), data), 0);
        QList<int> item;
        QList<int> total;
        zip->SetOnItemProgress([&](QObject*, const QString&, quint32, int perCent) { item << perCent; });
        zip->SetOnTotalProgress([&](QObject*, qint64, int perCent) { total << perCent; });
        if (adding)
            QCOMPARE(add(*zip, QStringLiteral("big.txt"), data), 0);
        else
            QCOMPARE(extract(*zip, QStringLiteral("big.txt")), data);
        for (const QList<int>* percents : { &item, &total }) {
            QVERIFY(percents->contains(100));
            for (int perCent : *percents)
                QVERIFY2((perCent >= 0 && perCent <= 100) || perCent == 101, qPrintable(QString::number(perCent)));
        }
    }

    // A cancel asked for during an extract or a listing ends with it.
    void testCancelEndsWithTheOperation_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("extract cancelled") << "extract";
        QTest::newRow("extract failed in a handler") << "handler";
        QTest::newRow("listing cancelled") << "listing";
    }

    void testCancelEndsWithTheOperation()
    {
        QFETCH(QString, how);
        auto zip = component(fixture(QStringLiteral("infozip-enc.zip")));
        QCOMPARE(zip->Count(), 2);
        if (how == QLatin1String("handler"))
            zip->SetOnItemProgress(
                [](QObject*, const QString&, quint32, int) { throw Exception(QStringLiteral("no")); });
        else
            zip->SetOnCheckTerminate([](QObject*, bool& abort) { abort = true; });
        if (how == QLatin1String("listing")) {
            zip->SetZipFileName(fixture(QStringLiteral("python.zip")));
            QCOMPARE(zip->ErrorCode(), 11007);
        } else {
            QCOMPARE(extract(*zip, QStringLiteral("a.txt")), QByteArray("<none>"));
        }
        zip->SetOnCheckTerminate(nullptr);
        zip->SetOnItemProgress(nullptr);

        zip->SetZipFileName(fixture(QStringLiteral("python.zip")));
        QCOMPARE(zip->ZipFileName(), fixture(QStringLiteral("python.zip")));
        QCOMPARE(zip->Count(), 2);
        QCOMPARE(extract(*zip, QStringLiteral("b.txt")), QByteArray("bravo bravo\n"));
    }

    // The engine finds and replaces entries by the worker's rule: case folded beyond ASCII.
    void testNamesDifferingInNonAsciiCase()
    {
        const QString archive = m_dir.filePath(QStringLiteral("umlaut.zip"));
        auto zip = component(archive);
        QCOMPARE(add(*zip, QStringLiteral("Ärger.txt"), "first"), 0);
        QCOMPARE(extract(*zip, QStringLiteral("ärger.txt")), QByteArray("first"));
        QCOMPARE(zip->ErrorCode(), 0);
        QCOMPARE(add(*zip, QStringLiteral("ärger.txt"), "second"), 0);
        QCOMPARE(zip->Count(), 1);
        QCOMPARE(zip->DirEntry(0).FileName, QStringLiteral("ärger.txt"));
        QCOMPARE(extract(*zip, QStringLiteral("ÄRGER.TXT")), QByteArray("second"));
    }

    void testStoreSuffixes()
    {
        QCOMPARE(NormaliseStoreSuffixes(QStringLiteral("abc,.DEF")), QStringLiteral(".abc:.def:"));
        QCOMPARE(NormaliseStoreSuffixes(QStringLiteral(".abc:.def:")), QStringLiteral(".abc:.def:"));
        QCOMPARE(StoreSuffixList(AddStoreExts { assGIF, assAVI }, QString()), QStringLiteral(".gif:.avi"));
        QCOMPARE(
            StoreSuffixList(AddStoreExts { assPNG, assEXT }, QStringLiteral(".abc:")), QStringLiteral(".png:.abc"));
        QCOMPARE(StoreSuffixList(AddStoreExts {}, QString()), QString());
        QVERIFY(StoreSuffixList(AddStoreExts::fromBits(0x7FBFFFF), QString()).endsWith(QLatin1String(".dvr-ms:.avi")));

        TZipArchiver zip;
        zip.SetExtAddStoreSuffixes(QStringLiteral("abc;.DEF"));
        QCOMPARE(zip.ExtAddStoreSuffixes(), QStringLiteral(".abc:.def:"));
        QVERIFY(zip.AddStoreSuffixes().contains(assEXT));
        zip.SetExtAddStoreSuffixes(QString());
        QVERIFY(!zip.AddStoreSuffixes().contains(assEXT));

        // An entry named with a listed suffix is stored, others are compressed.
        const QString archive = m_dir.filePath(QStringLiteral("suffixes.zip"));
        auto adder = component(archive);
        adder->SetExtAddStoreSuffixes(QStringLiteral("ABC"));
        const QByteArray text(4000, 'x');
        QCOMPARE(add(*adder, QStringLiteral("kept.abc"), text), 0);
        QCOMPARE(add(*adder, QStringLiteral("packed.txt"), text), 0);
        QCOMPARE(add(*adder, QStringLiteral("image.png"), text), 0);
        QCOMPARE(adder->Count(), 3);
        for (int i = 0; i < adder->Count(); ++i) {
            const ZipDirEntry& entry = adder->DirEntry(i);
            QCOMPARE(entry.Method, quint16(entry.FileName == QLatin1String("packed.txt") ? 8 : 0));
        }
    }

    void testFileSpecs_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("encrypt");
        QTest::addColumn<int>("recurse");
        QTest::newRow("plain") << " a.txt "
                               << "a.txt"
                               << "pw" << -1 << 0;
        QTest::newRow("recurse on") << ">a.txt"
                                    << "a.txt"
                                    << "pw" << -1 << 0xFFFF;
        QTest::newRow("recurse off") << "|a.txt"
                                     << "a.txt"
                                     << "pw" << -1 << 0;
        QTest::newRow("own password") << "a.txt<own"
                                      << "a.txt"
                                      << "own" << 0xFFFF << 0;
        QTest::newRow("no encryption") << "a.txt< "
                                       << "a.txt"
                                       << "" << 0 << 0;
        QTest::newRow("empty after <") << "a.txt<"
                                       << "a.txt"
                                       << "" << 0 << 0;
    }

    void testFileSpecs()
    {
        QFETCH(QString, item);
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(int, encrypt);
        QFETCH(int, recurse);
        const ZipFileSpec spec = ParseFileSpec(item, false, true, QStringLiteral("pw"));
        QCOMPARE(spec.Name, name);
        QCOMPARE(spec.Password, password);
        QCOMPARE(spec.Encrypt, encrypt);
        QCOMPARE(spec.Recurse, recurse);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestZipOps test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestZipOps.moc"
