#include "EngineHarness.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <csignal>
#include <iterator>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace
{

const QByteArray Password = "730582";

QByteArray journalText(int lines)
{
    QByteArray text;
    for (int i = 0; i < lines; ++i)
        text += "2024-05-17 10:20:" + QByteArray::number(i % 60) + " copied line " + QByteArray::number(i) + "\r\n";
    return text;
}

// Time stamp lines, addresses, paths and prose, so it deflates like a real journal.
QByteArray mixedJournal(qsizetype bytes)
{
    static const char* const words[] = { "clipboard", "meeting", "server", "release", "error", "customer", "invoice",
        "ticket", "review", "deploy", "morning", "report", "version", "window", "archive", "search", "address" };
    QRandomGenerator random(17);
    auto word = [&random] { return QByteArray(words[random.bounded(int(std::size(words)))]); };
    QByteArray text;
    while (text.size() < bytes) {
        text += "[2024-05-17 " + QByteArray::number(random.bounded(10, 24)) + ':'
            + QByteArray::number(random.bounded(10, 60)) + "]-----\r\n";
        switch (random.bounded(3)) {
        case 0:
            text += "https://example.org/" + word() + "?id=" + QByteArray::number(random.generate(), 16) + "\r\n";
            break;
        case 1:
            text += "/home/user/" + word() + '/' + word() + '_' + QByteArray::number(random.bounded(9999)) + ".txt\r\n";
            break;
        default:
            for (int i = 0, n = random.bounded(4, 16); i < n; ++i)
                text += word() + (i + 1 < n ? " " : ".\r\n");
        }
    }
    text.truncate(bytes);
    return text;
}

QByteArray randomBytes(qsizetype bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    QRandomGenerator(5).fillRange(reinterpret_cast<quint32*>(data.data()), bytes / 4);
    return data;
}

// zlib's raw deflate size at a level, the yardstick Info-ZIP's zip is close to.
qsizetype zlibDeflatedSize(const QByteArray& data, int level)
{
    z_stream stream {};
    if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return -1;
    QByteArray output(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(output.data());
    stream.avail_out = uInt(output.size());
    const int result = deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? qsizetype(stream.total_out) : -1;
}

quint32 crcOf(const QByteArray& data)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
}

QByteArray tool(const QString& program, const QStringList& arguments, const QString& workDir = {})
{
    QByteArray output;
    int code = runTool(program, arguments, &output, workDir);
    return code == 0 ? output : QByteArray("exit ") + QByteArray::number(code);
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class TestZipEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void testEntryPoints();
    void testAddReplaceRoundTrip();
    void testProgressIncrements();
    void testAddKeepsOtherEntriesAndComment();
    void testEmptyEntry();
    void testDeflatedReadBack_data();
    void testDeflatedReadBack();
    void testCompressionChoice_data();
    void testCompressionChoice();
    void testAddAsksForPassword();
    void testTempDirOnOtherFileSystem();
    void testExtractForeignArchive_data();
    void testExtractForeignArchive();
    void testUnsupportedMethod();
    void testPasswordRequests_data();
    void testPasswordRequests();
    void testCrcDamage();
    void testDeflatedDamage_data();
    void testDeflatedDamage();
    void testStopAdd_data();
    void testStopAdd();
    void testStopExtract();
    void testAddCannotWrite_data();
    void testAddCannotWrite();
    void testBrokenRecords_data();
    void testBrokenRecords();
    void testBrokenArchives_data();
    void testBrokenArchives();

private:
    QString path(const QString& name) const { return FDir->filePath(name); }
    AddRequest addRequest(const QByteArray& name, const QByteArray& data) const;

    EngineLib FEngine;
    std::unique_ptr<QTemporaryDir> FDir;
};

void TestZipEngine::initTestCase()
{
    QString error;
    QVERIFY2(FEngine.load(&error), qPrintable(error));
    for (const char* program : { "zip", "unzip", "7z", "bsdtar" })
        QVERIFY2(!QStandardPaths::findExecutable(program).isEmpty(), program);
}

void TestZipEngine::cleanupTestCase()
{
    FEngine.unload();
}

void TestZipEngine::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
}

AddRequest TestZipEngine::addRequest(const QByteArray& name, const QByteArray& data) const
{
    AddRequest request;
    request.archive = path("session.vma");
    request.name = name;
    request.data = data;
    request.password = Password;
    return request;
}

void TestZipEngine::testEntryPoints()
{
    QCOMPARE(FEngine.version(), 179);
    QVERIFY(FEngine.privVersion() >= 1790000);
    QCOMPARE(QString::fromLocal8Bit(FEngine.path()), QFileInfo(EngineLib::file()).canonicalFilePath());
    FEngine.abort(0);
    FEngine.abort(123456);
}

// Action 2 carries the bytes done since the last report, so the reports add up to the item's size.
void TestZipEngine::testProgressIncrements()
{
    QByteArray data;
    for (int i = 0; data.size() < 3 * 1024 * 1024; ++i)
        data += QByteArray::number(quint32(i) * 2654435761u, 36);
    auto sum = [](const Recorder& recorder) {
        quint64 total = 0;
        for (const CallbackEvent& event : recorder.ofAction(ZA_Progress))
            total += event.size;
        return total;
    };

    Recorder adder;
    QCOMPARE(runAdd(FEngine, adder, addRequest("big.txt", data)), 1);
    QVERIFY(adder.count(ZA_Progress) > 1);
    QCOMPARE(sum(adder), quint64(data.size()));

    ExtractRequest request { path("session.vma"), "big.txt", Password };
    QByteArray output;
    Recorder extractor;
    QCOMPARE(runExtract(FEngine, extractor, request, output, quint32(data.size())), 1);
    QVERIFY(extractor.count(ZA_Progress) > 1);
    QCOMPARE(sum(extractor), quint64(data.size()));
}

void TestZipEngine::testAddReplaceRoundTrip()
{
    const QString archive = path("session.vma");
    const QByteArray clips = journalText(400);
    const QByteArray notes = "notes\r\nsecond line\r\n";

    Recorder first;
    QCOMPARE(runAdd(FEngine, first, addRequest("vellumix.clips", clips)), 1);
    QCOMPARE(first.events.first().action, int(ZA_OperationKey));
    QVERIFY(first.events.first().arg1 != 0);
    QCOMPARE(first.ofAction(ZA_TotalFiles).first().arg1, 1);
    QCOMPARE(first.ofAction(ZA_TotalSize).first().size, quint64(clips.size()));
    QCOMPARE(first.ofAction(ZA_NewItem).first().text, QByteArray("vellumix.clips"));
    QCOMPARE(first.count(ZA_EndOfBatch), 1);
    QCOMPARE(first.count(ZA_Message), 0);

    Recorder second;
    QCOMPARE(runAdd(FEngine, second, addRequest("sub\\vellumix.notes", notes)), 1);
    const QByteArray notesRaw = rawEntryData(archive, "sub/vellumix.notes");
    QVERIFY(!notesRaw.isEmpty());

    const QByteArray newClips = clips + "one more line\r\n";
    Recorder third;
    QCOMPARE(runAdd(FEngine, third, addRequest("VELLUMIX.Clips", newClips)), 1);

    const QByteArray listing = tool("unzip", { "-Z", "-T", archive });
    QVERIFY2(listing.contains("20240517.102030 VELLUMIX.Clips"), listing.constData());
    QVERIFY2(listing.contains("sub/vellumix.notes"), listing.constData());
    QVERIFY2(!listing.contains("vellumix.clips"), listing.constData());
    QVERIFY2(listing.contains("2 files"), listing.constData());
    QVERIFY(tool("unzip", { "-l", archive }).contains("VELLUMIX.Clips"));
    QCOMPARE(tool("unzip", { "-P", Password, "-p", archive, "VELLUMIX.Clips" }), newClips);
    QCOMPARE(tool("unzip", { "-P", Password, "-p", archive, "sub/vellumix.notes" }), notes);
    QCOMPARE(rawEntryData(archive, "sub/vellumix.notes"), notesRaw);

    const QByteArray details = tool("7z", { "l", "-slt", "-p" + QString(Password), archive });
    QCOMPARE(details.count("Encrypted = +"), 2);
    QVERIFY2(details.contains("Method = ZipCrypto Deflate"), details.constData());
    QVERIFY2(details.contains("Attributes = A"), details.constData());
    QVERIFY2(details.contains("Modified = 2024-05-17 10:20:30"), details.constData());

    // The replaced entry keeps its place, under the name it was stored with now.
    const QByteArray tarList = tool("bsdtar", { "-tf", archive });
    QCOMPARE(tarList, QByteArray("VELLUMIX.Clips\nsub/vellumix.notes\n"));

    QByteArray output;
    Recorder reader;
    ExtractRequest request { archive, "vellumix.clips", Password };
    QCOMPARE(runExtract(FEngine, reader, request, output, quint32(newClips.size())), 1);
    QCOMPARE(output, newClips);
}

void TestZipEngine::testAddKeepsOtherEntriesAndComment()
{
    writeFile(path("other.txt"), journalText(50));
    writeFile(path("comment.txt"), "kept comment\n");
    const QString archive = path("session.vma");
    QCOMPARE(runTool("sh", { "-c", "zip -q -P secret session.vma other.txt && zip -q -z session.vma < comment.txt" },
                 nullptr, FDir->path()),
        0);
    const QByteArray otherRaw = rawEntryData(archive, "other.txt");

    Recorder recorder;
    QCOMPARE(runAdd(FEngine, recorder, addRequest("vellumix.clips", "journal")), 1);
    QCOMPARE(rawEntryData(archive, "other.txt"), otherRaw);
    QVERIFY(tool("unzip", { "-z", archive }).contains("kept comment"));
    QCOMPARE(tool("unzip", { "-P", "secret", "-p", archive, "other.txt" }), journalText(50));
    QCOMPARE(runTool("unzip", { "-q", "-t", "-P", "secret", archive, "other.txt" }), 0);
    QCOMPARE(tool("unzip", { "-P", Password, "-p", archive, "vellumix.clips" }), QByteArray("journal"));
}

void TestZipEngine::testEmptyEntry()
{
    Recorder writer;
    QCOMPARE(runAdd(FEngine, writer, addRequest("vellumix.notes", {})), 1);
    QCOMPARE(runTool("unzip", { "-q", "-t", "-P", Password, path("session.vma") }), 0);
    QByteArray output = "stale";
    Recorder reader;
    ExtractRequest request { path("session.vma"), "vellumix.notes", Password };
    QCOMPARE(runExtract(FEngine, reader, request, output, 0), 1);
    QVERIFY(output.isEmpty());
}

void TestZipEngine::testDeflatedReadBack_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("level");
    QTest::addColumn<QByteArray>("method");

    const QByteArray journal = mixedJournal(3 * 1024 * 1024);
    QTest::newRow("journal") << journal << 9 << QByteArray("ZipCrypto Deflate");
    QTest::newRow("journal, fastest level") << journal << 1 << QByteArray("ZipCrypto Deflate");
    QTest::newRow("incompressible") << randomBytes(1024 * 1024) << 9 << QByteArray("ZipCrypto Store");
    QTest::newRow("one byte") << QByteArray("x") << 9 << QByteArray("ZipCrypto Store");
    QTest::newRow("empty") << QByteArray() << 9 << QByteArray("ZipCrypto Store");
}

// Data deflated by the engine and only encrypted by libzip reads back everywhere, with the CRC of
// the content, at no more than zlib's size at the same level.
void TestZipEngine::testDeflatedReadBack()
{
    QFETCH(QByteArray, data);
    QFETCH(int, level);
    QFETCH(QByteArray, method);

    const QString archive = path("session.vma");
    Recorder notes;
    QCOMPARE(runAdd(FEngine, notes, addRequest("vellumix.notes", "a note")), 1);
    AddRequest request = addRequest("vellumix.clips", data);
    request.level = level;
    Recorder writer;
    QCOMPARE(runAdd(FEngine, writer, request), 1);

    QByteArray output;
    Recorder reader;
    QCOMPARE(runExtract(FEngine, reader, { archive, "vellumix.clips", Password }, output, quint32(data.size())), 1);
    QCOMPARE(output, data);
    QCOMPARE(runTool("unzip", { "-q", "-t", "-P", Password, archive }), 0);
    QCOMPARE(tool("unzip", { "-P", Password, "-p", archive, "vellumix.clips" }), data);
    QCOMPARE(tool("7z", { "x", "-so", "-p" + QString(Password), archive, "vellumix.clips" }), data);
    QCOMPARE(tool("bsdtar", { "-xOf", archive, "--passphrase", Password, "vellumix.clips" }), data);
    const QByteArray details = tool("7z", { "l", "-slt", "-p" + QString(Password), archive, "vellumix.clips" });
    QVERIFY2(details.contains("Method = " + method), details.constData());
    QVERIFY2(details.contains("CRC = " + QByteArray::number(crcOf(data), 16).toUpper().rightJustified(8, '0')),
        details.constData());

    const qsizetype stored = rawEntryData(archive, "vellumix.clips").size() - 12;
    if (method.endsWith("Deflate"))
        QVERIFY2(stored <= zlibDeflatedSize(data, level) * 102 / 100, qPrintable(QString::number(stored)));
    else
        QCOMPARE(stored, data.size());
}

void TestZipEngine::testCompressionChoice_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("level");
    QTest::addColumn<QByteArray>("suffixes");
    QTest::addColumn<QByteArray>("method");

    const QByteArray standard = AddRequest().storeSuffixes;
    QTest::newRow("text deflated") << QByteArray("a.clips") << 9 << standard << QByteArray("ZipCrypto Deflate");
    QTest::newRow("suffix in any case") << QByteArray("shot.PNG") << 9 << standard << QByteArray("ZipCrypto Store");
    QTest::newRow("suffix with dash") << QByteArray("d\\tv.dvr-ms") << 6 << standard << QByteArray("ZipCrypto Store");
    QTest::newRow("level 0 stores") << QByteArray("a.clips") << 0 << standard << QByteArray("ZipCrypto Store");
    QTest::newRow("no list") << QByteArray("shot.png") << 1 << QByteArray() << QByteArray("ZipCrypto Deflate");
    QTest::newRow("user item") << QByteArray("a.abc") << 9 << QByteArray(".abc:.def") << QByteArray("ZipCrypto Store");
    QTest::newRow("only a prefix") << QByteArray("a.pngx") << 9 << standard << QByteArray("ZipCrypto Deflate");
}

void TestZipEngine::testCompressionChoice()
{
    QFETCH(QByteArray, name);
    QFETCH(int, level);
    QFETCH(QByteArray, suffixes);
    QFETCH(QByteArray, method);

    AddRequest request = addRequest(name, journalText(30));
    request.level = level;
    request.storeSuffixes = suffixes;
    Recorder recorder;
    QCOMPARE(runAdd(FEngine, recorder, request), 1);
    const QByteArray details = tool("7z", { "l", "-slt", "-p" + QString(Password), request.archive });
    QVERIFY2(details.contains("Method = " + method), details.constData());
    QCOMPARE(runTool("unzip", { "-q", "-t", "-P", Password, request.archive }), 0);
}

void TestZipEngine::testAddAsksForPassword()
{
    AddRequest request = addRequest("vellumix.notes", "my notes");
    request.password.clear();

    Recorder refusing;
    QCOMPARE(runAdd(FEngine, refusing, request), 0);
    QCOMPARE(refusing.count(ZA_Password), 1);
    QCOMPARE(refusing.ofAction(ZA_Message).first().arg1, int(ZEC_NoPassword));
    QVERIFY(!QFileInfo::exists(request.archive));

    Recorder answering;
    answering.passwords = { "typed pw" };
    QCOMPARE(runAdd(FEngine, answering, request), 1);
    QCOMPARE(answering.ofAction(ZA_Password).first().text, QByteArray("vellumix.notes"));
    QCOMPARE(tool("unzip", { "-P", "typed pw", "-p", request.archive, "vellumix.notes" }), QByteArray("my notes"));

    // A file spec's own password wins over the record's.
    request.tweak = [](ZipCommandRecord& record) { record.FileSpecs[0].Password = "spec pw"; };
    request.password = "record pw";
    Recorder bySpec;
    QCOMPARE(runAdd(FEngine, bySpec, request), 1);
    QCOMPARE(tool("unzip", { "-P", "spec pw", "-p", request.archive, "vellumix.notes" }), QByteArray("my notes"));
}

void TestZipEngine::testTempDirOnOtherFileSystem()
{
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/vellumix-XXXXXX"));
    struct stat here, there;
    if (!elsewhere.isValid() || stat(QFile::encodeName(FDir->path()).constData(), &here) != 0
        || stat(QFile::encodeName(elsewhere.path()).constData(), &there) != 0 || here.st_dev == there.st_dev)
        QSKIP("no second file system for a temporary folder");

    AddRequest request = addRequest("vellumix.clips", journalText(300));
    request.tempDir = QFile::encodeName(elsewhere.path()) + "/";
    Recorder recorder;
    QCOMPARE(runAdd(FEngine, recorder, request), 1);
    QCOMPARE(tool("unzip", { "-P", Password, "-p", request.archive }), journalText(300));
    QCOMPARE(folderEntries(FDir->path()), QStringList { "session.vma" });
    QVERIFY(folderEntries(elsewhere.path()).isEmpty());
}

void TestZipEngine::testExtractForeignArchive_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("askMemory");

    QTest::newRow("Info-ZIP encrypted") << "zip -q -P 730582 a.zip data.txt" << QByteArray("DATA.TXT") << Password
                                        << false;
    QTest::newRow("Info-ZIP encrypted stored")
        << "zip -q -0 -P 730582 a.zip data.txt" << QByteArray("data.txt") << Password << false;
    QTest::newRow("Info-ZIP plain") << "zip -q a.zip data.txt" << QByteArray("data.txt") << QByteArray() << true;
    QTest::newRow("7-Zip ZipCrypto") << "7z a -tzip -mem=ZipCrypto -p730582 a.zip data.txt >/dev/null"
                                     << QByteArray("data.txt") << Password << false;
    QTest::newRow("backslash name") << "mkdir -p d && cp data.txt d/x.txt && zip -q -r -P 730582 a.zip d"
                                    << QByteArray("D\\X.txt") << Password << true;
}

void TestZipEngine::testExtractForeignArchive()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, password);
    QFETCH(bool, askMemory);

    const QByteArray data = journalText(2000);
    writeFile(path("data.txt"), data);
    QCOMPARE(runTool("sh", { "-c", command }, nullptr, FDir->path()), 0);

    ExtractRequest request { path("a.zip"), name, password };
    request.askMemory = askMemory;
    QByteArray output;
    Recorder recorder;
    QCOMPARE(runExtract(FEngine, recorder, request, output, quint32(data.size())), 1);
    QCOMPARE(output, data);
    QCOMPARE(recorder.count(ZA_OutputMemory), askMemory ? 1 : 0);
    QCOMPARE(recorder.count(ZA_Password), 0);
    QVERIFY(recorder.count(ZA_Progress) >= 1);

    // Test mode reads and checks everything but writes nothing.
    request.test = true;
    request.askMemory = false;
    Recorder tester;
    QByteArray untouched;
    QCOMPARE(runExtract(FEngine, tester, request, untouched, 16), 1);
    QCOMPARE(untouched, QByteArray(16, '\xEE'));
}

void TestZipEngine::testUnsupportedMethod()
{
    writeFile(path("data.txt"), journalText(100));
    QCOMPARE(runTool("sh", { "-c", "7z a -tzip -mm=PPMd a.zip data.txt >/dev/null" }, nullptr, FDir->path()), 0);
    ExtractRequest request { path("a.zip"), "data.txt" };
    Recorder recorder;
    QByteArray output;
    QCOMPARE(runExtract(FEngine, recorder, request, output, quint32(journalText(100).size())), 0);
    const QList<CallbackEvent> skipped = recorder.ofAction(ZA_Skipped);
    QCOMPARE(skipped.size(), 1);
    QCOMPARE(skipped.first().arg3 & 0xFF, ZK_CompressionUnknown + 1);
    QCOMPARE(skipped.first().text, QByteArray("data.txt"));
}

void TestZipEngine::testPasswordRequests_data()
{
    QTest::addColumn<QByteArray>("recordPassword");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("extracted");
    QTest::addColumn<int>("asked");

    QTest::newRow("record password") << Password << 3 << QStringList() << 1 << 0;
    QTest::newRow("asked right") << QByteArray() << 3 << QStringList { "730582" } << 1 << 1;
    QTest::newRow("record wrong, asked right") << QByteArray("nope") << 3 << QStringList { "730582" } << 1 << 1;
    QTest::newRow("wrong then right") << QByteArray() << 3 << QStringList { "a", "b", "730582" } << 1 << 3;
    QTest::newRow("wrong until the count runs out")
        << QByteArray() << 3 << QStringList { "a", "b", "c", "730582" } << 0 << 3;
    QTest::newRow("refused") << QByteArray() << 5 << QStringList { "" } << 0 << 1;
    QTest::newRow("no requests allowed") << QByteArray("nope") << 0 << QStringList { "730582" } << 0 << 0;
    QStringList wrong;
    for (int i = 0; i < 16; ++i)
        wrong << QStringLiteral("x%1").arg(i);
    QTest::newRow("count above 15") << QByteArray() << 40 << wrong << 0 << 15;
}

void TestZipEngine::testPasswordRequests()
{
    QFETCH(QByteArray, recordPassword);
    QFETCH(int, requests);
    QFETCH(QStringList, answers);
    QFETCH(int, extracted);
    QFETCH(int, asked);

    const QByteArray data = journalText(100);
    Recorder writer;
    QCOMPARE(runAdd(FEngine, writer, addRequest("vellumix.clips", data)), 1);

    ExtractRequest request { path("session.vma"), "vellumix.clips", recordPassword, requests };
    Recorder recorder;
    recorder.passwords = answers;
    QByteArray output;
    QCOMPARE(runExtract(FEngine, recorder, request, output, quint32(data.size())), extracted);
    QCOMPARE(recorder.count(ZA_Password), asked);
    if (extracted) {
        QCOMPARE(output, data);
        QCOMPARE(recorder.count(ZA_Skipped), 0);
    } else {
        const QList<CallbackEvent> skipped = recorder.ofAction(ZA_Skipped);
        QCOMPARE(skipped.size(), 1);
        // One wrong password that passed the one-byte check cannot be told from damaged data.
        if (skipped.first().arg1 == int(ZEC_Read) && asked + (recordPassword.isEmpty() ? 0 : 1) == 1)
            return;
        QCOMPARE(skipped.first().arg1, int(ZEC_BadPassword));
        QCOMPARE(skipped.first().arg3 & 0xFF, ZK_BadPassword + 1);
    }
    // Each request tells how many attempts are left.
    const QList<CallbackEvent> asks = recorder.ofAction(ZA_Password);
    for (int i = 0; i < asks.size(); ++i)
        QCOMPARE(asks[i].arg1, qMin(requests, 15) - i);
}

void TestZipEngine::testCrcDamage()
{
    const QByteArray data = journalText(20);
    AddRequest add = addRequest("vellumix.clips", data);
    add.encrypt = false;
    add.level = 0;
    Recorder writer;
    QCOMPARE(runAdd(FEngine, writer, add), 1);
    QByteArray zip = readFile(add.archive);
    const qsizetype at = zip.indexOf(data.left(40));
    QVERIFY(at > 0);
    zip[at + 5] = char(zip[at + 5] ^ 0x20);
    writeFile(add.archive, zip);

    ExtractRequest request { add.archive, "vellumix.clips" };
    QByteArray output;
    Recorder refusing;
    QCOMPARE(runExtract(FEngine, refusing, request, output, quint32(data.size())), 0);
    const QList<CallbackEvent> crc = refusing.ofAction(ZA_CrcError);
    QCOMPARE(crc.size(), 1);
    QCOMPARE(quint32(crc.first().arg3), crcOf(data));
    QVERIFY(quint32(crc.first().arg1) != crcOf(data));
    QCOMPARE(refusing.ofAction(ZA_Message).first().arg1, int(ZEC_Crc));

    Recorder accepting;
    accepting.acceptCrc = true;
    QCOMPARE(runExtract(FEngine, accepting, request, output, quint32(data.size())), 1);
    QCOMPARE(quint32(accepting.ofAction(ZA_CrcError).first().arg1), crcOf(output));
    QCOMPARE(output.size(), data.size());
    QVERIFY(output != data);
}

void TestZipEngine::testStopAdd_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("abort");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("passing");
    QTest::addColumn<int>("level");

    // The first progress report follows deflating; later ones come from libzip writing.
    QTest::newRow("ZE_Abort at new item") << int(ZA_NewItem) << true << 0 << int(ZS_Cancelled) << 0 << 9;
    QTest::newRow("ZE_Abort after deflating") << int(ZA_Progress) << true << 0 << int(ZS_Cancelled) << 0 << 9;
    QTest::newRow("ZE_Abort while writing") << int(ZA_Progress) << true << 0 << int(ZS_Cancelled) << 1 << 9;
    QTest::newRow("cancel at password") << int(ZA_Password) << false << 1 << int(ZS_Cancelled) << 0 << 9;
    QTest::newRow("cancel after deflating") << int(ZA_Progress) << false << 1 << int(ZS_Cancelled) << 0 << 9;
    QTest::newRow("cancel while writing") << int(ZA_Progress) << false << 1 << int(ZS_Cancelled) << 1 << 9;
    QTest::newRow("cancel while storing") << int(ZA_Progress) << false << 1 << int(ZS_Cancelled) << 0 << 0;
    QTest::newRow("handler failed") << int(ZA_TotalSize) << false << 10106 << int(ZS_HandlerException) << 0 << 9;
    QTest::newRow("other stop") << int(ZA_Progress) << false << 7 << int(ZS_Aborted) << 0 << 9;
}

void TestZipEngine::testStopAdd()
{
    QFETCH(int, action);
    QFETCH(bool, abort);
    QFETCH(int, result);
    QFETCH(int, status);
    QFETCH(int, passing);
    QFETCH(int, level);

    Recorder writer;
    QCOMPARE(runAdd(FEngine, writer, addRequest("vellumix.clips", journalText(100))), 1);
    const QString archive = path("session.vma");
    const QByteArray before = readFile(archive);
    const QStringList files = folderEntries(FDir->path());

    AddRequest request = addRequest("vellumix.notes", journalText(20000));
    request.level = level;
    if (action == ZA_Password)
        request.password.clear();
    Recorder recorder;
    recorder.stopAction = action;
    recorder.stopPassing = passing;
    recorder.abortThere = abort;
    recorder.stopResult = result;
    QCOMPARE(runAdd(FEngine, recorder, request), status);
    QCOMPARE(readFile(archive), before);
    QCOMPARE(folderEntries(FDir->path()), files);
    QCOMPARE(recorder.count(ZA_EndOfBatch), 0);

    // An exception from the caller's callback ends the command with a status after the clean-up.
    Recorder throwing;
    throwing.stopAction = action;
    throwing.stopPassing = passing;
    throwing.throwThere = true;
    QCOMPARE(runAdd(FEngine, throwing, request), int(ZS_Exception));
    QCOMPARE(readFile(archive), before);
    QCOMPARE(folderEntries(FDir->path()), files);
}

void TestZipEngine::testStopExtract()
{
    const QByteArray data = journalText(5000);
    Recorder writer;
    QCOMPARE(runAdd(FEngine, writer, addRequest("vellumix.clips", data)), 1);
    ExtractRequest request { path("session.vma"), "vellumix.clips", Password };
    QByteArray output;

    Recorder aborting;
    aborting.stopAction = ZA_Progress;
    aborting.abortThere = true;
    QCOMPARE(runExtract(FEngine, aborting, request, output, quint32(data.size())), int(ZS_Cancelled));

    Recorder cancelling;
    cancelling.stopAction = ZA_NewItem;
    cancelling.stopResult = 1;
    QCOMPARE(runExtract(FEngine, cancelling, request, output, quint32(data.size())), int(ZS_Cancelled));
    QCOMPARE(cancelling.count(ZA_Progress), 0);

    Recorder throwing;
    throwing.stopAction = ZA_Progress;
    throwing.throwThere = true;
    QCOMPARE(runExtract(FEngine, throwing, request, output, quint32(data.size())), int(ZS_Exception));

    // A key is only good for its own command.
    Recorder next;
    QCOMPARE(runExtract(FEngine, next, request, output, quint32(data.size())), 1);
    FEngine.abort(aborting.operationKey);
    QVERIFY(next.operationKey != aborting.operationKey);
}

void TestZipEngine::testAddCannotWrite_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("read-only folder") << "readonly";
    QTest::newRow("file size limit") << "fsize";
    QTest::newRow("temporary folder missing") << "tempdir";
}

void TestZipEngine::testAddCannotWrite()
{
    QFETCH(QString, how);

    Recorder writer;
    QCOMPARE(runAdd(FEngine, writer, addRequest("vellumix.clips", journalText(100))), 1);
    const QString archive = path("session.vma");
    const QByteArray before = readFile(archive);
    const QStringList files = folderEntries(FDir->path());
    AddRequest request = addRequest("vellumix.notes", journalText(20000));

    int32_t status = 0;
    if (how == "tempdir") {
        request.tempDir = path("missing").toLocal8Bit();
        Recorder recorder;
        status = runAdd(FEngine, recorder, request);
        QCOMPARE(recorder.ofAction(ZA_Message).first().arg1, int(ZEC_Write));
    } else {
        QVERIFY(chmod(QFile::encodeName(FDir->path()).constData(), how == "readonly" ? 0555 : 0777) == 0);
        status = runInChild([&] {
            if (how == "readonly" && geteuid() == 0 && setuid(65534) != 0)
                return 99;
            if (how == "fsize") {
                signal(SIGXFSZ, SIG_IGN);
                rlimit limit { quint64(before.size()) + 2000, quint64(before.size()) + 2000 };
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            Recorder recorder;
            return runAdd(FEngine, recorder, request);
        });
        chmod(QFile::encodeName(FDir->path()).constData(), 0700);
    }
    QCOMPARE(status, int(ZS_Aborted));
    QCOMPARE(readFile(archive), before);
    QCOMPARE(folderEntries(FDir->path()), files);

    // Nothing is left in a bad state: the next add works.
    request.tempDir.clear();
    Recorder again;
    QCOMPARE(runAdd(FEngine, again, request), 1);
}

void TestZipEngine::testBrokenRecords_data()
{
    QTest::addColumn<bool>("add");
    QTest::addColumn<int>("breakage");

    const char* names[] = { "check value", "version", "no archive name", "empty archive name", "no specs",
        "no spec text", "no input memory", "not from memory", "zero spec count" };
    for (int add = 1; add >= 0; --add) {
        for (int breakage = 0; breakage < int(std::size(names)); ++breakage) {
            if (!add && breakage == 6)
                continue;
            QTest::addRow("%s %s", add ? "add" : "extract", names[breakage]) << bool(add) << breakage;
        }
    }
}

void TestZipEngine::testBrokenRecords()
{
    QFETCH(bool, add);
    QFETCH(int, breakage);

    const QByteArray data = "some bytes";
    Recorder writer;
    QCOMPARE(runAdd(FEngine, writer, addRequest("vellumix.clips", data)), 1);
    const QByteArray before = readFile(path("session.vma"));

    Recorder recorder;
    int32_t status;
    if (add) {
        AddRequest request = addRequest("vellumix.notes", data);
        request.tweak = [breakage](ZipCommandRecord& r) {
            r.Check = breakage == 0 ? 6 : 7;
            r.Version = breakage == 1 ? 178 : 179;
            if (breakage == 2)
                r.ArchiveName = nullptr;
            if (breakage == 3)
                r.ArchiveName = "";
            if (breakage == 4)
                r.FileSpecs = nullptr;
            if (breakage == 5)
                r.FileSpecs[0].Spec = nullptr;
            if (breakage == 6)
                r.InputMemory = nullptr;
            if (breakage == 7)
                r.InputFromMemory = 0;
            if (breakage == 8)
                r.FileSpecCount = 0;
        };
        status = runAdd(FEngine, recorder, request);
    } else {
        ExtractRequest request { path("session.vma"), "vellumix.clips", Password };
        request.tweak = [breakage](UnzipCommandRecord& r) {
            r.Check = breakage == 0 ? 0 : 7;
            r.Version = breakage == 1 ? 301 : 179;
            if (breakage == 2)
                r.ArchiveName = nullptr;
            if (breakage == 3)
                r.ArchiveName = "";
            if (breakage == 4)
                r.ExtractSpecs = nullptr;
            if (breakage == 5)
                r.ExtractSpecs[0].Spec = nullptr;
            if (breakage == 7)
                r.OutputToMemory = 0;
            if (breakage == 8)
                r.SpecCount = 0;
        };
        QByteArray output;
        status = runExtract(FEngine, recorder, request, output, quint32(data.size()));
    }
    QCOMPARE(status, int(ZS_InvalidRecord));
    QVERIFY(recorder.events.size() <= 1);
    QCOMPARE(readFile(path("session.vma")), before);
    QCOMPARE(FEngine.zipExec(nullptr), int(ZS_InvalidRecord));
    QCOMPARE(FEngine.unzExec(nullptr), int(ZS_InvalidRecord));
}

// Deflated data read into memory is inflated in one piece into a buffer of the size the directory
// tells: damaged data or a size that does not fit must be refused, never written past the buffer.
void TestZipEngine::testDeflatedDamage_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("a flipped byte in the data") << "flip";
    QTest::newRow("directory size one too small") << "smaller";
    QTest::newRow("directory size one too large") << "larger";
}

void TestZipEngine::testDeflatedDamage()
{
    QFETCH(QString, damage);
    const QByteArray data = journalText(400);
    AddRequest add = addRequest("vellumix.clips", data);
    add.encrypt = false;
    Recorder writer;
    QCOMPARE(runAdd(FEngine, writer, add), 1);
    QByteArray zip = readFile(add.archive);
    const qsizetype central = zip.indexOf(QByteArray("PK\x01\x02", 4));
    QVERIFY(central > 0);
    const auto size = qFromLittleEndian<quint32>(zip.constData() + central + 24);
    QCOMPARE(size, quint32(data.size()));
    if (damage == "flip") {
        zip[central / 2] = char(zip[central / 2] ^ 0x5A);
    } else {
        qToLittleEndian<quint32>(damage == "smaller" ? size - 1 : size + 1, zip.data() + central + 24);
    }
    writeFile(add.archive, zip);

    ExtractRequest request { add.archive, "vellumix.clips" };
    QByteArray output;
    Recorder recorder;
    const quint32 told = damage == "smaller" ? size - 1 : damage == "larger" ? size + 1 : size;
    QCOMPARE(runExtract(FEngine, recorder, request, output, told), 0);
    QCOMPARE(recorder.count(ZA_CrcError) + recorder.count(ZA_Skipped), 1);
}

void TestZipEngine::testBrokenArchives_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("addStatus");
    QTest::addColumn<int>("extractStatus");

    QTest::newRow("truncated") << "truncate" << int(ZS_Aborted) << int(ZS_Aborted);
    QTest::newRow("garbage") << "garbage" << int(ZS_Aborted) << int(ZS_Aborted);
    QTest::newRow("a folder") << "folder" << int(ZS_Aborted) << int(ZS_Aborted);
    QTest::newRow("absurd entry size") << "size" << 1 << 0;
    QTest::newRow("entry name with ..") << "dotdot" << int(ZS_InvalidRecord) << 1;
}

void TestZipEngine::testBrokenArchives()
{
    QFETCH(QString, damage);
    QFETCH(int, addStatus);
    QFETCH(int, extractStatus);

    const QString archive = path("session.vma");
    const QByteArray data = journalText(40);
    AddRequest add = addRequest("vellumix.clips", data);
    add.level = 0;
    add.encrypt = false;
    Recorder writer;
    QCOMPARE(runAdd(FEngine, writer, add), 1);
    QByteArray zip = readFile(archive);
    if (damage == "truncate") {
        zip.chop(30);
    } else if (damage == "garbage") {
        zip = QByteArray(5000, 'x');
        zip.replace(100, 4, "PK\x05\x06");
    } else if (damage == "size") {
        const qsizetype central = zip.indexOf(QByteArray("PK\x01\x02", 4));
        qToLittleEndian<quint32>(0xFFFFFF00u, zip.data() + central + 24);
    }
    if (damage == "folder")
        QVERIFY(QFile::remove(archive) && QDir().mkdir(archive));
    else
        writeFile(archive, zip);
    const QStringList files = folderEntries(FDir->path());

    Recorder adder;
    AddRequest second = addRequest(damage == "dotdot" ? "../evil.txt" : "vellumix.notes", "notes");
    QCOMPARE(runAdd(FEngine, adder, second), addStatus);
    if (addStatus < 0) {
        QVERIFY(adder.count(ZA_Message) == 1);
        QVERIFY(adder.ofAction(ZA_Message).first().arg1 != 0);
        QCOMPARE(readFile(archive), damage == "folder" ? QByteArray() : zip);
        QCOMPARE(folderEntries(FDir->path()), files);
    }

    Recorder extractor;
    extractor.passwords = QStringList(5, QString(Password));
    ExtractRequest request { archive, "vellumix.clips", {}, 5 };
    request.askMemory = true;
    QByteArray output;
    QCOMPARE(runExtract(FEngine, extractor, request, output, 0), extractStatus);
    if (damage == "size") {
        QCOMPARE(extractor.count(ZA_OutputMemory), 0);
        QCOMPARE(extractor.ofAction(ZA_Skipped).first().arg1, int(ZEC_Size));
    }
}

QTEST_GUILESS_MAIN(TestZipEngine)

#include "TestZipEngine.moc"
