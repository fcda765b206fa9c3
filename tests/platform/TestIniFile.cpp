#include "platform/AtomicFile.h"
#include "platform/Crc32.h"
#include "platform/IniFile.h"
#include "tests/FullDisk.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

namespace
{
const QString Section = QStringLiteral("vellumix_main");

QString writeFile(const QTemporaryDir& dir, const QByteArray& content)
{
    const QString path = dir.filePath(QStringLiteral("settings.ini"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        qFatal("cannot write test file");
    }
    return path;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}
} // namespace

class TestIniFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testParseInteger_data();
    void testParseInteger();
    void testReadRules_data();
    void testReadRules();
    void testLongValueIsCut();
    void testWriteKeepsOtherLines();
    void testWriteCreatesPrivateFile();
    void testWriteFailsOnReadOnlyFileOrFolder_data();
    void testWriteFailsOnReadOnlyFileOrFolder();
    void testUnreadableFileIsReported();
    void testOtherFileForms_data();
    void testOtherFileForms();
    void testFullDiskKeepsTheOldFile();
    void testLinkStaysALink();
    void testLeftoversOfKilledWrites();
    void testCrc32();
};

void TestIniFile::testParseInteger_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("decimal") << "720" << true << 720;
    QTest::newRow("negative") << "-12" << true << -12;
    QTest::newRow("plus sign") << "+7" << true << 7;
    QTest::newRow("0x hex") << "0x2D0" << true << 720;
    QTest::newRow("0X hex") << "0X2d0" << true << 720;
    QTest::newRow("dollar hex") << "$2D0" << true << 720;
    QTest::newRow("negative dollar hex") << "-$10" << true << -16;
    QTest::newRow("full 32-bit hex wraps") << "$FFFFFFFF" << true << -1;
    QTest::newRow("0x alone") << "0x" << false << 0;
    QTest::newRow("0x bad digit") << "0x2G" << false << 0;
    QTest::newRow("letters") << "abc" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("trailing text") << "12px" << false << 0;
    QTest::newRow("too large") << "4294967296" << false << 0;
    QTest::newRow("hex too long") << "$123456789" << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
}

void TestIniFile::testParseInteger()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    int parsed = 0;
    QCOMPARE(IniFile::parseInteger(text, &parsed), ok);
    if (ok) {
        QCOMPARE(parsed, value);
    }
}

void TestIniFile::testReadRules_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("language");

    QTest::newRow("missing file content") << QByteArray() << 720 << "";
    QTest::newRow("plain") << QByteArray("[vellumix_main]\nwidth=800\nlanguagefile=x.DEU\n") << 800 << "x.DEU";
    QTest::newRow("key and section case") << QByteArray("[VELLUMIX_MAIN]\nWIDTH=640\nLanguageFile=a\n") << 640 << "a";
    QTest::newRow("blanks trimmed") << QByteArray("[vellumix_main]\n  width =  0x2D0  \nlanguagefile=  b c  \n") << 720
                                    << "b c";
    QTest::newRow("crlf lines") << QByteArray("[vellumix_main]\r\nwidth=$2D0\r\n") << 720 << "";
    QTest::newRow("bad number gives default") << QByteArray("[vellumix_main]\nwidth=abc\n") << 720 << "";
    QTest::newRow("empty value gives default") << QByteArray("[vellumix_main]\nwidth=\n") << 720 << "";
    QTest::newRow("other section ignored")
        << QByteArray("[other]\nwidth=1\n[vellumix_main]\nlanguagefile=z\n[more]\nwidth=2\n") << 720 << "z";
    QTest::newRow("comment line is no key") << QByteArray("[vellumix_main]\n;width=5\n") << 720 << "";
    QTest::newRow("first of duplicate keys") << QByteArray("[vellumix_main]\nwidth=10\nwidth=20\n") << 10 << "";
    QTest::newRow("binary junk") << QByteArray("\xff\xfe\0[\x01]\n[vellumix_main\nwidth=5\n", 24) << 720 << "";
}

void TestIniFile::testReadRules()
{
    QFETCH(QByteArray, content);
    QFETCH(int, width);
    QFETCH(QString, language);
    QTemporaryDir dir;
    const QString path = content.isNull() ? dir.filePath(QStringLiteral("none.ini")) : writeFile(dir, content);
    IniFile ini(path);
    QVERIFY(ini.load());
    QCOMPARE(ini.readInteger(Section, QStringLiteral("width"), 720), width);
    QCOMPARE(ini.readString(Section, QStringLiteral("languagefile"), QString()), language);
}

void TestIniFile::testLongValueIsCut()
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "[vellumix_main]\nlanguagefile=" + QByteArray(3000, 'x') + "\n");
    IniFile ini(path);
    QVERIFY(ini.load());
    QCOMPARE(ini.readString(Section, QStringLiteral("languagefile"), QString()).size(), 2047);
}

void TestIniFile::testWriteKeepsOtherLines()
{
    QTemporaryDir dir;
    const QByteArray before = "; my comment\r\n[Other]\r\nkeep=me\r\n[VELLUMIX_MAIN]\r\nLEFT=5\r\nextra=1\r\n\r\n"
                              "[last]\r\nx=\xc3\xa9\r\n";
    const QString path = writeFile(dir, before);
    IniFile ini(path);
    QVERIFY(ini.load());
    ini.writeInteger(Section, QStringLiteral("left"), 50);
    ini.writeInteger(Section, QStringLiteral("top"), -3);
    ini.writeString(QStringLiteral("new"), QStringLiteral("k"), QStringLiteral("v"));
    QVERIFY(ini.save());
    QCOMPARE(readFile(path),
        QByteArray("; my comment\r\n[Other]\r\nkeep=me\r\n[VELLUMIX_MAIN]\r\nleft=50\r\nextra=1\r\ntop=-3\r\n\r\n"
                   "[last]\r\nx=\xc3\xa9\r\n[new]\r\nk=v\r\n"));
}

void TestIniFile::testWriteCreatesPrivateFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("new.ini"));
    IniFile ini(path);
    QVERIFY(ini.load());
    ini.writeBool(Section, QStringLiteral("vellulook"), true);
    QVERIFY(ini.save());
    QCOMPARE(readFile(path), QByteArray("[vellumix_main]\nvellulook=1\n"));
    QCOMPARE(QFile::permissions(path) & 0x0077, QFileDevice::Permissions());
}

void TestIniFile::testWriteFailsOnReadOnlyFileOrFolder_data()
{
    QTest::addColumn<bool>("readOnlyFolder");
    QTest::newRow("read-only file") << false;
    QTest::newRow("read-only folder") << true;
}

void TestIniFile::testWriteFailsOnReadOnlyFileOrFolder()
{
    QFETCH(bool, readOnlyFolder);
    QTemporaryDir dir;
    const QByteArray before = "[vellumix_main]\nleft=1\n";
    const QString path = writeFile(dir, before);
    const QString locked = readOnlyFolder ? dir.path() : path;
    QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    IniFile ini(path);
    QVERIFY(ini.load());
    ini.writeInteger(Section, QStringLiteral("left"), 2);
    QString error;
    QVERIFY(!ini.save(&error));
    QCOMPARE(error, QStringLiteral("Unable to write to %1").arg(path));
    QCOMPARE(readFile(path), before);
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestIniFile::testUnreadableFileIsReported()
{
    QTemporaryDir dir;
    IniFile ini(dir.path());
    QString error;
    QVERIFY(!ini.load(&error));
    QVERIFY(error.contains(dir.path()));
}

void TestIniFile::testOtherFileForms_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    const QString text = QStringLiteral("[vellumix_main]\rclipsleep=1\r[sch\u00f6n]\rx=\u00e9\r");
    const QString written = QStringLiteral("[vellumix_main]\rclipsleep=1\rleft=9\r[sch\u00f6n]\rx=\u00e9\r");
    QTest::newRow("CR alone") << text.toUtf8() << written.toUtf8();
    auto utf16 = [](const QString& s, QStringConverter::Encoding encoding) {
        auto encode = QStringEncoder(encoding, QStringConverter::Flag::WriteBom);
        return QByteArray(encode(s));
    };
    QString crlf = text;
    QString crlfWritten = written;
    crlf.replace(QLatin1Char('\r'), QLatin1String("\r\n"));
    crlfWritten.replace(QLatin1Char('\r'), QLatin1String("\r\n"));
    QTest::newRow("UTF-16 LE") << utf16(crlf, QStringConverter::Utf16LE)
                               << utf16(crlfWritten, QStringConverter::Utf16LE);
    QTest::newRow("UTF-16 BE") << utf16(crlf, QStringConverter::Utf16BE)
                               << utf16(crlfWritten, QStringConverter::Utf16BE);
    QTest::newRow("UTF-8 with BOM") << "\xEF\xBB\xBF" + crlf.toUtf8() << "\xEF\xBB\xBF" + crlfWritten.toUtf8();
}

void TestIniFile::testOtherFileForms()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString path = writeFile(dir, before);
    IniFile ini(path);
    QVERIFY(ini.load());
    QCOMPARE(ini.readBool(Section, QStringLiteral("clipsleep"), false), true);
    QCOMPARE(ini.readString(QStringLiteral("SCH\u00d6N"), QStringLiteral("x"), QString()), QStringLiteral("\u00e9"));
    ini.writeInteger(Section, QStringLiteral("left"), 9);
    QVERIFY(ini.save());
    QCOMPARE(readFile(path), after);
}

void TestIniFile::testFullDiskKeepsTheOldFile()
{
    QTemporaryDir dir;
    const QByteArray before = "[vellumix_main]\nclipsleep=1\n";
    const QString path = writeFile(dir, before);
    IniFile ini(path);
    QVERIFY(ini.load());
    ini.writeString(Section, QStringLiteral("languagefile"), QString(200, QLatin1Char('x')));
    QString error;
    {
        const FullDisk full(64);
        QVERIFY(!ini.save(&error));
    }
    QCOMPARE(error, QStringLiteral("Unable to write to %1").arg(path));
    QCOMPARE(readFile(path), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("settings.ini") });
}

void TestIniFile::testLinkStaysALink()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("synced")));
    const QString target = dir.filePath(QStringLiteral("synced/real.ini"));
    const QString link = dir.filePath(QStringLiteral("settings.ini"));
    QVERIFY(QFile::link(QStringLiteral("synced/real.ini"), link));
    for (int round = 1; round <= 2; ++round) {
        IniFile ini(link);
        QVERIFY(ini.load());
        ini.writeInteger(Section, QStringLiteral("left"), round);
        QVERIFY(ini.save());
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readFile(target), "[vellumix_main]\nleft=" + QByteArray::number(round) + "\n");
    }
}

void TestIniFile::testLeftoversOfKilledWrites()
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "[vellumix_main]\n");
    // The id of a process that has ended, and of one that runs.
    QProcess ended;
    ended.start(QStringLiteral("true"), {});
    QVERIFY(ended.waitForStarted(10000));
    const QString gone = QString::number(ended.processId());
    QVERIFY(ended.waitForFinished(10000));
    const QString running = QString::number(QCoreApplication::applicationPid());
    const QStringList leftovers
        = { "settings.ini.~vellumix-" + gone + "-a1b2c3", "settings.ini.~vellumix-" + gone + "-zzzzzz" };
    // A user's own files, a file a running store may be writing, and other names.
    const QStringList kept = { "settings.ini.backup", "settings.ini.~backup", "settings.ini.~a1b2c3",
        "settings.ini.~vellumix-" + running + "-a1b2c3", "settings.ini.~vellumix-" + gone + "-A1B2C3",
        "settings.ini.~vellumix-" + gone + "-a1b2c", "settings.ini.~vellumix--a1b2c3",
        "other.ini.~vellumix-" + gone + "-a1b2c3" };
    for (const QString& name : leftovers + kept) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QCOMPARE(AtomicFile::removeLeftovers(path), 2);
    QStringList expected = kept;
    expected << QStringLiteral("settings.ini");
    expected.sort();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), expected);
}

void TestIniFile::testCrc32()
{
    QCOMPARE(crc32("123456789"), 0xCBF43926u);
    QCOMPARE(crc32(""), 0u);
    const QByteArray text = QByteArray("a journal line\r\n").repeated(1000);
    QCOMPARE(crc32(QByteArrayView(text).sliced(7), crc32(QByteArrayView(text).first(7))), crc32(text));
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "TestIniFile.moc"
