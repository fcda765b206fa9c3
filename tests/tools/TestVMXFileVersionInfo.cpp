#include "ElfFixture.h"

#include "platform/AppPaths.h"
#include "tools/FileVersionApi.h"
#include "tools/VMXFileVersionInfo.h"
#include "tools/VersionBlockWriter.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace
{
using Strings = QList<QPair<QString, QString>>;

const Strings AllKeys = {
    { "CompanyName", "company" },
    { "FileDescription", "description" },
    { "FileVersion", "1.2.3.4" },
    { "LegalCopyright", "copyright" },
    { "LegalTrademarks", "trademarks" },
    { "ProductName", "product" },
    { "ProductVersion", "1.2" },
    { "Comments", "comments" },
    { "Documentation", "docs" },
    { "Translation", "translator" },
    { "Open Source Credits -QUENMAROL", "credits" },
};

VersionBlockContent contentWith(
    const QString& table, const Strings& strings, QList<QPair<quint16, quint16>> translations)
{
    VersionBlockContent content;
    content.fileVersion = { 1, 2, 3, 4 };
    content.productVersion = { 1, 2, 0, 0 };
    content.stringTables.append({ table, strings });
    content.translations = translations;
    return content;
}

QStringList valuesOf(const VMXFileVersionInfo& info)
{
    return { info.CompanyName(), info.FileDescription(), info.FileVersion(), info.LegalCopyright(),
        info.LegalTrademarks(), info.ProductName(), info.ProductVersion(), info.Comments(), info.Documentation(),
        info.Translation(), info.OpenSourceCredits() };
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        qFatal("cannot write test file");
    }
    return path;
}

QByteArray elfWithBlock(const QByteArray& block, bool wide = true, bool bigEndian = false)
{
    ElfFixture elf;
    elf.wide = wide;
    elf.bigEndian = bigEndian;
    elf.sections = { { ".text", QByteArray(40, '\x90') }, { FileVersionApi::SectionName, block } };
    return elf.build();
}

quint32 dword(const QByteArray& data, qsizetype at)
{
    return quint32(quint8(data[at])) | quint32(quint8(data[at + 1])) << 8 | quint32(quint8(data[at + 2])) << 16
        | quint32(quint8(data[at + 3])) << 24;
}
} // namespace

class TestVMXFileVersionInfo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { AppPaths::setExecutablePathForTesting(QString()); }
    void testOwnExecutable_data();
    void testOwnExecutable();
    void testOwnFixedPart();
    void testFileWithoutBlock_data();
    void testFileWithoutBlock();
    void testElfSection_data();
    void testElfSection();
    void testSectionAddedByObjcopy();
    void testRereadForgetsOldValues();
    void testQueryPaths_data();
    void testQueryPaths();
    void testHostileElf_data();
    void testHostileElf();
    void testHostileBlocks_data();
    void testHostileBlocks();
    void testCorruptedBlocksNeverCrash();
    void testDescriptionErrors_data();
    void testDescriptionErrors();
};

void TestVMXFileVersionInfo::testOwnExecutable_data()
{
    QTest::addColumn<bool>("throughAppPaths");
    QTest::newRow("process image") << false;
    QTest::newRow("path the program reports") << true;
}

void TestVMXFileVersionInfo::testOwnExecutable()
{
    QFETCH(bool, throughAppPaths);
    QString path = QCoreApplication::applicationFilePath();
    if (throughAppPaths) {
        // Tests of the window point the program at a folder of their own.
        path = QStringLiteral("/nonexistent/folder/vellumix");
        AppPaths::setExecutablePathForTesting(path);
    }
    const auto info = VMXFileVersionInfo::Create(path);
    QVERIFY(info->ProductName().isEmpty());
    info->ReadInfo();
    QCOMPARE(info->InfoFileName(), path);
    QCOMPARE(info->ProductName(), QStringLiteral("vellumix"));
    QCOMPARE(info->FileDescription(), QStringLiteral("vellumix"));
    QCOMPARE(info->FileVersion(), QStringLiteral("0.6.7.0"));
    QCOMPARE(info->ProductVersion(), QStringLiteral("0.6.7"));
    for (const QString& value : valuesOf(*info)) {
        QVERIFY2(!value.isEmpty(), "every key of the executable's block has a text");
    }
}

void TestVMXFileVersionInfo::testOwnFixedPart()
{
    const QString self = QCoreApplication::applicationFilePath();
    const quint32 size = FileVersionApi::GetFileVersionInfoSize(self);
    QVERIFY(size > 0);
    QByteArray block(qsizetype(size), '\0');
    QVERIFY(FileVersionApi::GetFileVersionInfo(self, size, block.data()));

    QByteArray fixed;
    QVERIFY(FileVersionApi::VerQueryValue(block, "\\", &fixed));
    QCOMPARE(fixed.size(), 52);
    QCOMPARE(dword(fixed, 0), 0xFEEF04BDu);
    QCOMPARE(dword(fixed, 8), 0x00000006u); // file version 0.6 . 7.0
    QCOMPARE(dword(fixed, 12), 0x00070000u);
    QCOMPARE(dword(fixed, 16), 0x00000006u); // product version
    QCOMPARE(dword(fixed, 20), 0x00070000u);

    QByteArray translation;
    QVERIFY(FileVersionApi::VerQueryValue(block, "\\VarFileInfo\\Translation", &translation));
    QCOMPARE(translation, QByteArray("\x09\x04\xE4\x04", 4));
    for (const char* key : { "InternalName", "OriginalFilename" }) {
        QByteArray value;
        QVERIFY(FileVersionApi::VerQueryValue(block, QByteArray("\\StringFileInfo\\040904E4\\") + key, &value));
        QCOMPARE(value, QByteArray("vlmx"));
    }
}

void TestVMXFileVersionInfo::testFileWithoutBlock_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("missing file") << QString() << QByteArray();
    QTest::newRow("empty file") << "empty" << QByteArray();
    QTest::newRow("text file") << "notes.txt" << QByteArray("just some text\r\n");
    QTest::newRow("ELF without the section") << "plain" << ElfFixture { true, false, { { ".text", "code" } } }.build();
    QTest::newRow("block without translation table")
        << "notrans" << elfWithBlock(VersionBlockWriter::build(contentWith("040904E4", AllKeys, {})));
    QByteArray emptyTable = VersionBlockWriter::build(contentWith("040904E4", {}, { { 0x0409, 0x04E4 } }));
    const qsizetype var = emptyTable.lastIndexOf(QByteArray("T\0r\0a\0n\0s", 9)) - 6;
    emptyTable[var + 2] = 0; // the table's value length: no pairs
    QTest::newRow("empty translation table") << "emptytrans" << elfWithBlock(emptyTable);
    QTest::newRow("translation pair without its table")
        << "othertable"
        << elfWithBlock(VersionBlockWriter::build(contentWith("040704B0", AllKeys, { { 0x0409, 0x04E4 } })));
}

void TestVMXFileVersionInfo::testFileWithoutBlock()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = name.isEmpty() ? dir.filePath(QStringLiteral("absent")) : writeFile(dir, name, content);
    VMXFileVersionInfo info(path);
    info.ReadInfo();
    QCOMPARE(info.InfoFileName(), path);
    QCOMPARE(valuesOf(info), QStringList(11, QString()));
}

void TestVMXFileVersionInfo::testElfSection_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("expected");

    QStringList all;
    for (const auto& pair : AllKeys) {
        all.append(pair.second);
    }
    QTest::newRow("German, Unicode code page, 64-bit")
        << elfWithBlock(VersionBlockWriter::build(contentWith("040704B0", AllKeys, { { 0x0407, 0x04B0 } }))) << all;
    QTest::newRow("hex letters in language and code page, 32-bit big-endian") << elfWithBlock(
        VersionBlockWriter::build(contentWith("0C0A04E4", AllKeys, { { 0x0C0A, 0x04E4 } })), false, true)
                                                                              << all;

    Strings noComments = AllKeys;
    noComments.removeAt(7);
    QStringList withoutComments = all;
    withoutComments[7].clear();
    QTest::newRow("no Comments key") << elfWithBlock(
        VersionBlockWriter::build(contentWith("040904E4", noComments, { { 0x0409, 0x04E4 } })))
                                     << withoutComments;

    Strings unicode = { { "ProductName", QString::fromUtf8("v\u00e9llumix \u2713") } };
    QStringList unicodeValues(11);
    unicodeValues[5] = QString::fromUtf8("v\u00e9llumix \u2713");
    QTest::newRow("non-ASCII value") << elfWithBlock(
        VersionBlockWriter::build(contentWith("040904E4", unicode, { { 0x0409, 0x04E4 } })))
                                     << unicodeValues;

    // Only the first pair of the translation table counts.
    VersionBlockContent two
        = contentWith("040704B0", { { "ProductName", "zweite" } }, { { 0x0409, 0x04E4 }, { 0x0407, 0x04B0 } });
    two.stringTables.append({ "040904E4", { { "ProductName", "first" } } });
    QStringList firstOnly(11);
    firstOnly[5] = QStringLiteral("first");
    QTest::newRow("first translation pair wins") << elfWithBlock(VersionBlockWriter::build(two)) << firstOnly;
}

void TestVMXFileVersionInfo::testElfSection()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    VMXFileVersionInfo info(writeFile(dir, QStringLiteral("lib.so"), file));
    info.ReadInfo();
    QCOMPARE(valuesOf(info), expected);
}

void TestVMXFileVersionInfo::testSectionAddedByObjcopy()
{
    const QString objcopy = QStandardPaths::findExecutable(QStringLiteral("objcopy"));
    if (objcopy.isEmpty()) {
        QSKIP("objcopy (binutils) is not installed");
    }
    QTemporaryDir dir;
    const QString blockFile = writeFile(dir, QStringLiteral("block.bin"),
        VersionBlockWriter::build(contentWith("040904E4", AllKeys, { { 0x0409, 0x04E4 } })));
    const QString target = dir.filePath(QStringLiteral("tagged"));
    QProcess process;
    process.start(objcopy,
        { QStringLiteral("--add-section"), QStringLiteral(".vmxversion=") + blockFile,
            QCoreApplication::applicationFilePath(), target });
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);

    VMXFileVersionInfo info(target);
    info.ReadInfo();
    QCOMPARE(info.ProductName(), QStringLiteral("product"));
    QCOMPARE(info.OpenSourceCredits(), QStringLiteral("credits"));
}

void TestVMXFileVersionInfo::testRereadForgetsOldValues()
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("lib.so"),
        elfWithBlock(VersionBlockWriter::build(contentWith("040904E4", AllKeys, { { 0x0409, 0x04E4 } }))));
    VMXFileVersionInfo info(path);
    info.ReadInfo();
    QCOMPARE(info.Comments(), QStringLiteral("comments"));
    QVERIFY(QFile::remove(path));
    info.ReadInfo();
    QCOMPARE(valuesOf(info), QStringList(11, QString()));
}

void TestVMXFileVersionInfo::testQueryPaths_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("value");
    const QByteArray translation("\x09\x04\xE4\x04", 4);
    QTest::newRow("doubled backslashes") << QByteArray("\\\\VarFileInfo\\\\Translation") << true << translation;
    QTest::newRow("single backslashes") << QByteArray("\\VarFileInfo\\Translation") << true << translation;
    QTest::newRow("no leading backslash") << QByteArray("VarFileInfo\\Translation") << true << translation;
    QTest::newRow("trailing backslash") << QByteArray("\\VarFileInfo\\Translation\\") << true << translation;
    QTest::newRow("keys ignore case") << QByteArray("\\varfileinfo\\TRANSLATION") << true << translation;
    QTest::newRow("string key with blanks")
        << QByteArray("\\\\StringFileInfo\\\\040904E4\\\\Open Source Credits -QUENMAROL") << true
        << QByteArray("credits");
    QTest::newRow("string key named Translation")
        << QByteArray("\\StringFileInfo\\040904E4\\Translation") << true << QByteArray("translator");
    QTest::newRow("lower-case table name")
        << QByteArray("\\StringFileInfo\\040904e4\\Comments") << true << QByteArray("comments");
    QTest::newRow("start of a key is no match")
        << QByteArray("\\StringFileInfo\\040904E4\\Comment") << false << QByteArray();
    QTest::newRow("longer than a key") << QByteArray("\\StringFileInfo\\040904E4\\CommentsX") << false << QByteArray();
    QTest::newRow("key of another level") << QByteArray("\\Comments") << false << QByteArray();
    QTest::newRow("below a leaf") << QByteArray("\\VarFileInfo\\Translation\\More") << false << QByteArray();
}

void TestVMXFileVersionInfo::testQueryPaths()
{
    QFETCH(QByteArray, path);
    QFETCH(bool, found);
    QFETCH(QByteArray, value);
    const QByteArray block = VersionBlockWriter::build(contentWith("040904E4", AllKeys, { { 0x0409, 0x04E4 } }));
    QByteArray answer = "untouched";
    QCOMPARE(FileVersionApi::VerQueryValue(block, path, &answer), found);
    if (found) {
        QCOMPARE(answer, value);
    }
}

void TestVMXFileVersionInfo::testHostileElf_data()
{
    QTest::addColumn<int>("wide");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("sectionIndex");
    QTest::addColumn<quint64>("value");
    // Section 2 is the version block, section 3 the section names.
    for (int wide : { 1, 0 }) {
        const char* tag = wide ? "64" : "32";
        const quint64 huge = wide ? ~quint64(0) : 0xffffffffu;
        QTest::addRow("%s: table past the end", tag) << wide << "table" << 0 << (quint64(1) << 20);
        QTest::addRow("%s: table offset wraps", tag) << wide << "table" << 0 << huge;
        QTest::addRow("%s: entries too small", tag) << wide << "entrysize" << 0 << quint64(16);
        QTest::addRow("%s: no sections", tag) << wide << "count" << 0 << quint64(0);
        QTest::addRow("%s: more sections than the file", tag) << wide << "count" << 0 << quint64(0xffff);
        QTest::addRow("%s: name table index out of range", tag) << wide << "names" << 0 << quint64(9);
        QTest::addRow("%s: block offset past the end", tag) << wide << "offset" << 2 << (quint64(1) << 30);
        QTest::addRow("%s: block offset wraps", tag) << wide << "offset" << 2 << huge;
        QTest::addRow("%s: block size past the end", tag) << wide << "size" << 2 << (quint64(1) << 24);
        QTest::addRow("%s: block size wraps", tag) << wide << "size" << 2 << huge;
        QTest::addRow("%s: block has no bits", tag) << wide << "type" << 2 << quint64(8);
        QTest::addRow("%s: name outside the name table", tag) << wide << "name" << 2 << quint64(5000);
        QTest::addRow("%s: name table past the end", tag) << wide << "offset" << 3 << (quint64(1) << 30);
        QTest::addRow("%s: truncated header", tag) << wide << "truncate" << 0 << quint64(40);
    }
}

void TestVMXFileVersionInfo::testHostileElf()
{
    QFETCH(int, wide);
    QFETCH(QString, field);
    QFETCH(int, sectionIndex);
    QFETCH(quint64, value);
    ElfFixture elf;
    elf.wide = wide != 0;
    elf.sections = { { ".text", "code" },
        { FileVersionApi::SectionName,
            VersionBlockWriter::build(contentWith("040904E4", AllKeys, { { 0x0409, 0x04E4 } })) } };
    QByteArray file = elf.build();
    const int addr = elf.wide ? 8 : 4;
    if (field == QLatin1String("table")) {
        elf.put(file, elf.tableOffsetField(), addr, value);
    } else if (field == QLatin1String("entrysize")) {
        elf.put(file, elf.entrySizeField(), 2, value);
    } else if (field == QLatin1String("count")) {
        elf.put(file, elf.countField(), 2, value);
    } else if (field == QLatin1String("names")) {
        elf.put(file, elf.namesIndexField(), 2, value);
    } else if (field == QLatin1String("truncate")) {
        file.truncate(qsizetype(value));
    } else {
        const int width = (field == QLatin1String("name") || field == QLatin1String("type")) ? 4 : addr;
        elf.put(file, elf.sectionField(sectionIndex, field.toLatin1().constData()), width, value);
    }
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("hostile"), file);
    QCOMPARE(FileVersionApi::GetFileVersionInfoSize(path), 0u);
    VMXFileVersionInfo info(path);
    info.ReadInfo();
    QCOMPARE(valuesOf(info), QStringList(11, QString()));
}

void TestVMXFileVersionInfo::testHostileBlocks_data()
{
    QTest::addColumn<QByteArray>("block");
    const QByteArray good = VersionBlockWriter::build(contentWith("040904E4", AllKeys, { { 0x0409, 0x04E4 } }));
    const auto patched = [&](qsizetype at, quint16 value) {
        QByteArray block = good;
        block[at] = char(value & 0xff);
        block[at + 1] = char(value >> 8);
        return block;
    };
    // The root node's header starts at 0, the StringFileInfo node right after the fixed part.
    const qsizetype stringInfo = 92;
    QTest::newRow("root longer than the buffer") << patched(0, quint16(good.size() + 100));
    QTest::newRow("root length below a header") << patched(0, 4);
    QTest::newRow("child of length zero") << patched(stringInfo, 0);
    QTest::newRow("child past its parent") << patched(stringInfo, 0xfff0);
    QTest::newRow("value length past the node") << patched(2, 0xffff);
    QTest::newRow("only a header") << good.left(6);
    QTest::newRow("half a header") << good.left(3);
    QTest::newRow("empty") << QByteArray();
    QByteArray unterminated = good.left(6 + 30);
    unterminated[0] = char(unterminated.size());
    QTest::newRow("key without terminator") << unterminated;
}

void TestVMXFileVersionInfo::testHostileBlocks()
{
    QFETCH(QByteArray, block);
    QTemporaryDir dir;
    VMXFileVersionInfo info(writeFile(dir, QStringLiteral("hostile"), elfWithBlock(block)));
    info.ReadInfo();
    QCOMPARE(valuesOf(info), QStringList(11, QString()));
}

void TestVMXFileVersionInfo::testCorruptedBlocksNeverCrash()
{
    const QByteArray good = VersionBlockWriter::build(contentWith("040904E4", AllKeys, { { 0x0409, 0x04E4 } }));
    const QList<QByteArray> paths = { "\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904E4\\Comments",
        "\\\\StringFileInfo\\\\040904E4\\\\Open Source Credits -QUENMAROL" };
    for (qsizetype length = 0; length < good.size(); ++length) {
        for (const QByteArray& path : paths) {
            QByteArray value;
            FileVersionApi::VerQueryValue(good.left(length), path, &value);
        }
    }
    QRandomGenerator random(20070413);
    for (int round = 0; round < 3000; ++round) {
        QByteArray block = good;
        for (int flips = 1 + random.bounded(4); flips > 0; --flips) {
            block[random.bounded(block.size())] = char(random.bounded(256));
        }
        for (const QByteArray& path : paths) {
            QByteArray value;
            FileVersionApi::VerQueryValue(block, path, &value);
            QVERIFY(value.size() <= block.size() * 3);
        }
    }
}

void TestVMXFileVersionInfo::testDescriptionErrors_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("value outside a section") << QByteArray("A=b\n") << "line 1: value outside a section";
    QTest::newRow("bad version") << QByteArray("[fixed]\nFileVersion=1.2.70000\n") << "line 2: bad version 1.2.70000";
    QTest::newRow("five version parts") << QByteArray("[fixed]\nProductVersion=1.2.3.4.5\n")
                                        << "line 2: bad version 1.2.3.4.5";
    QTest::newRow("table name not hex") << QByteArray("# c\n[StringFileInfo 0409XXXX]\n")
                                        << "line 2: unknown section [StringFileInfo 0409XXXX]";
    QTest::newRow("odd translation") << QByteArray("[VarFileInfo]\nTranslation=0409\n")
                                     << "line 2: expected Translation=LLLL CCCC";
    QTest::newRow("short code") << QByteArray("[VarFileInfo]\nTranslation=409 4E4\n")
                                << "line 2: expected four hex digits";
    QTest::newRow("no equals sign") << QByteArray("[StringFileInfo 040904E4]\nComments\n")
                                    << "line 2: expected Key=Value";
}

void TestVMXFileVersionInfo::testDescriptionErrors()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    VersionBlockContent content;
    QString message;
    QVERIFY(!VersionBlockWriter::parse(text, &content, &message));
    QCOMPARE(message, error);
}

QTEST_GUILESS_MAIN(TestVMXFileVersionInfo)
#include "TestVMXFileVersionInfo.moc"
