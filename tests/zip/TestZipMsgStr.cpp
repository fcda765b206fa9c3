#include "zip/ZipDefMsgs.h"
#include "zip/ZipLz77.h"
#include "zip/ZipMsgStr.h"
#include "zip/ZipTestUtil.h"

#include <QBuffer>
#include <QFile>
#include <QtTest>

using namespace ZipTest;

class TestZipMsgStr : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SetMessageLanguage(QString(), std::nullopt); }

    void testBuiltInTable();
    void testMissingId_data();
    void testMissingId();
    void testFormat_data();
    void testFormat();
    void testException();
    void testLzExtract_data();
    void testLzExtract();
    void testLzRoundTrip();
    void testLanguageSelection_data();
    void testLanguageSelection();
    void testUserDefaultLanguage();
    void testLanguageInfo_data();
    void testLanguageInfo();

private:
    static QByteArray blockList();
};

void TestZipMsgStr::testBuiltInTable()
{
    QFile file(QStringLiteral(VELLUMIX_TEST_DATA_DIR "/zip/messages.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    int count = 0;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).chopped(1);
        if (line.startsWith(QLatin1Char('#')))
            continue;
        const int id = line.section(QLatin1Char('\t'), 0, 0).toInt();
        QString expected = line.section(QLatin1Char('\t'), 1);
        expected.replace(QLatin1String("\\n"), QLatin1String("\r\n"));
        QCOMPARE(LoadMessageText(id), expected);
        ++count;
    }
    QCOMPARE(count, 188);
    // The translator's name is ours to fill but must exist.
    QVERIFY(!LoadMessageText(10097).startsWith(QLatin1String("Resource missing")));
    QCOMPARE(int(ZipDefMsgs().size()), 189);
    QCOMPARE(LoadMessageText(10104), QStringLiteral("Error - passwords do NOT match\r\nPassword ignored"));
}

void TestZipMsgStr::testMissingId_data()
{
    QTest::addColumn<int>("id");
    QTest::newRow("gap in the table") << 10100;
    QTest::newRow("below the first") << 10095;
    QTest::newRow("past the last") << 11604;
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -5;
}

void TestZipMsgStr::testMissingId()
{
    QFETCH(int, id);
    QCOMPARE(LoadMessageText(id), QStringLiteral("Resource missing for ") + QString::number(id));
}

void TestZipMsgStr::testFormat_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<QString>("expected");
    QTest::newRow("string") << LoadMessageText(10650) << QVariantList { QStringLiteral("C:\\x.dll") }
                            << QStringLiteral("Failed to load C:\\x.dll");
    QTest::newRow("two numbers") << LoadMessageText(10110) << QVariantList { 3, 7 }
                                 << QStringLiteral("Index (3) outside range 1..7");
    QTest::newRow("minimum digits") << LoadMessageText(11034) << QVariantList { 2, 5 }
                                    << QStringLiteral("Please insert disk volume 2 of 5");
    QTest::newRow("zero padding keeps the sign")
        << QStringLiteral("%.3d") << QVariantList { -7 } << QStringLiteral("-007");
    QTest::newRow("width and left alignment")
        << QStringLiteral("[%4d|%-3s]") << QVariantList { 42, QStringLiteral("a") } << QStringLiteral("[  42|a  ]");
    QTest::newRow("argument index") << QStringLiteral("%1:s %0:s %s")
                                    << QVariantList { QStringLiteral("a"), QStringLiteral("b") }
                                    << QStringLiteral("b a b");
    QTest::newRow("hex and percent") << QStringLiteral("%x%%") << QVariantList { 255 } << QStringLiteral("FF%");
    QTest::newRow("missing argument") << QStringLiteral("a%sb%d") << QVariantList {} << QStringLiteral("ab0");
    QTest::newRow("trailing percent") << QStringLiteral("50%") << QVariantList {} << QStringLiteral("50%");
}

void TestZipMsgStr::testFormat()
{
    QFETCH(QString, format);
    QFETCH(QVariantList, args);
    QFETCH(QString, expected);
    QCOMPARE(ZipFormat(format, args), expected);
}

void TestZipMsgStr::testException()
{
    const EZipArchiver number(10124, -6);
    QCOMPARE(number.message(), QStringLiteral("critical DLL Error -6"));
    QCOMPARE(number.MessageId(), 10124);
    QVERIFY(number.DisplayFlag());

    const EZipArchiver text(QStringLiteral("plain"), false);
    QCOMPARE(text.message(), QStringLiteral("plain"));
    QCOMPARE(text.MessageId(), 0);
    QVERIFY(!text.DisplayFlag());

    const EZipArchiver quiet(11007, false);
    QCOMPARE(quiet.message(), QStringLiteral("User canceled operation"));
    QCOMPARE(quiet.MessageId(), 11007);
    QVERIFY(!quiet.DisplayFlag());

    const EZipArchiver withString(11051, "/media/stick");
    QCOMPARE(withString.message(), QStringLiteral("Cannot write to /media/stick"));
    QVERIFY(withString.DisplayFlag());

    const EZipArchiver withArgs(10110, QVariantList { 0, 2 });
    QCOMPARE(withArgs.message(), QStringLiteral("Index (0) outside range 1..2"));
    QCOMPARE(QString::fromUtf8(withArgs.what()), withArgs.message());

    const Exception& base = withArgs;
    QCOMPARE(base.message(), withArgs.message());
}

void TestZipMsgStr::testLzExtract_data()
{
    QTest::addColumn<QByteArray>("packed");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("unpacked");

    const QByteArray literals = lzStream(5, { lit('h'), lit('e'), lit('l'), lit('l'), lit('o') });
    QTest::newRow("literals only") << literals << qint64(literals.size()) << 0 << QByteArray("hello");
    QTest::newRow("no limit") << literals << qint64(-1) << 0 << QByteArray("hello");

    const QByteArray nine = lzStream(9, { lit('a'), lit('b'), lit('c'), ref(4080, 3), ref(4082, 3) });
    QTest::newRow("reference of length 3") << nine << qint64(nine.size()) << 0 << QByteArray("abcabccab");

    const QByteArray run = lzStream(19, { lit('x'), ref(4080, 18) });
    QTest::newRow("overlapping reference of length 18") << run << qint64(run.size()) << 0 << QByteArray(19, 'x');

    const QByteArray zeros = lzStream(4, { ref(17, 3), lit('z') });
    QTest::newRow("reference into the initial window")
        << zeros << qint64(zeros.size()) << 0 << QByteArray("\0\0\0z", 4);

    // 20 literals fill 4080..4095 and wrap to 0..3; the reference spans the wrap.
    std::vector<LzItem> wrap;
    QByteArray wrapped;
    for (char c = 'A'; c < 'A' + 20; ++c) {
        wrap.push_back(lit(c));
        wrapped.append(c);
    }
    wrap.push_back(ref(4094, 6));
    wrapped += "OPQRST";
    const QByteArray across = lzStream(26, wrap);
    QTest::newRow("reference across the window start") << across << qint64(across.size()) << 0 << wrapped;

    QTest::newRow("source cut short") << literals << qint64(literals.size() + 3) << -1 << QByteArray("hello");
    QTest::newRow("cut inside the size") << QByteArray("\5\0", 2) << qint64(2) << -1 << QByteArray();
    const QByteArray wrongSize = lzStream(7, { lit('h'), lit('i') });
    QTest::newRow("wrong declared size") << wrongSize << qint64(wrongSize.size()) << -2 << QByteArray("hi");
    QTest::newRow("limit shorter than the source")
        << literals << qint64(literals.size() - 2) << -2 << QByteArray("hel");
}

void TestZipMsgStr::testLzExtract()
{
    QFETCH(QByteArray, packed);
    QFETCH(qint64, length);
    QFETCH(int, result);
    QFETCH(QByteArray, unpacked);

    QBuffer in(&packed);
    QBuffer out;
    QVERIFY(in.open(QIODevice::ReadOnly));
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(LzExtract(out, in, length), result);
    QCOMPARE(out.data(), unpacked);
}

void TestZipMsgStr::testLzRoundTrip()
{
    // Long enough to wrap the window more than once.
    QByteArray data;
    for (int i = 0; data.size() < 10000; ++i)
        data += QByteArray::number(i * 7919 % 1000) + (i % 5 ? " abcabc " : "\n");
    QByteArray packed = lzPack(data);
    QVERIFY(packed.size() < data.size());
    QBuffer in(&packed);
    QBuffer out;
    QVERIFY(in.open(QIODevice::ReadOnly));
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(LzExtract(out, in, packed.size()), 0);
    QCOMPARE(out.data(), data);
}

QByteArray TestZipMsgStr::blockList()
{
    const QMap<int, QString> german {
        { 10154, QStringLiteral("Kennwort") },
        { 10104, QStringLiteral("Kennwörter verschieden\nKennwort ignoriert") },
        { 10111, QStringLiteral("Temporäre Datei: %s") },
    };
    const QMap<int, QString> canadian { { 10154, QStringLiteral("Mot de passe (CA)") } };
    const QMap<int, QString> french { { 10154, QStringLiteral("Mot de passe") } };
    QByteArray garbage;
    for (int i = 0; i < 600; ++i)
        garbage.append(char(i * 37 % 251));
    QByteArray truncated = lzPack(stringTableImage(french));
    truncated.chop(5);

    return languageBlock(1031, "DE: Deutsch", lzPack(stringTableImage(german)))
        + languageBlock(3084, "FRC: Canadien", lzPack(stringTableImage(canadian)))
        + languageBlock(1036, "FR: Francais", lzPack(stringTableImage(french)))
        + languageBlock(1049, "RU: broken", truncated) + languageBlock(1043, "NL: garbage", lzPack(garbage));
}

void TestZipMsgStr::testLanguageSelection_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("withBlocks");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("password");

    const QString de = QStringLiteral("DE: Deutsch");
    const QString us = QStringLiteral("Password");
    QTest::newRow("tag") << "de" << true << de << "Kennwort";
    QTest::newRow("tag after blanks, before punctuation") << "  De-at" << true << de << "Kennwort";
    QTest::newRow("id") << "1031" << true << de << "Kennwort";
    QTest::newRow("primary language picks the first match") << "12" << true << "FRC: Canadien"
                                                            << "Mot de passe (CA)";
    QTest::newRow("full id") << "1036" << true << "FR: Francais"
                             << "Mot de passe";
    QTest::newRow("US tag") << "us" << true << "" << us;
    QTest::newRow("US id") << "1033" << true << "" << us;
    QTest::newRow("empty") << "" << true << "" << us;
    QTest::newRow("unknown tag") << "xx" << true << "" << us;
    QTest::newRow("unknown id") << "2049" << true << "" << us;
    QTest::newRow("one letter") << "d" << true << "" << us;
    QTest::newRow("number out of range") << "70000" << true << "" << us;
    QTest::newRow("zero") << "0" << true << "" << us;
    QTest::newRow("block that does not unpack") << "ru" << true << "" << us;
    QTest::newRow("table of garbage falls back") << "nl" << true << "NL: garbage" << us;
    QTest::newRow("no blocks carried") << "de" << false << "" << us;
}

void TestZipMsgStr::testLanguageSelection()
{
    QFETCH(QString, name);
    QFETCH(bool, withBlocks);
    QFETCH(QString, selected);
    QFETCH(QString, password);

    SetMessageLanguage(QStringLiteral("de"), blockList());
    QCOMPARE(SetMessageLanguage(name, withBlocks ? std::optional(blockList()) : std::nullopt), selected);
    QCOMPARE(LoadMessageText(10154), password);
    // Ids the selected table lacks come from the built-in one.
    QCOMPARE(LoadMessageText(10222), QStringLiteral("&OK"));
    QCOMPARE(LoadMessageText(10100), QStringLiteral("Resource missing for 10100"));
}

void TestZipMsgStr::testUserDefaultLanguage()
{
    const int lcid = UserDefaultLcid();
    QVERIFY(lcid > 0);
    const QByteArray blocks
        = languageBlock(quint16(lcid), "ZZ: mine", lzPack(stringTableImage({ { 10154, QStringLiteral("mine") } })));
    QCOMPARE(SetMessageLanguage(QStringLiteral("*"), blocks), lcid == 1033 ? QString() : QStringLiteral("ZZ: mine"));

    SetMessageLanguage(QStringLiteral("de"), blockList());
    QCOMPARE(LoadMessageText(10104), QStringLiteral("Kennwörter verschieden\r\nKennwort ignoriert"));
    QCOMPARE(FormatMessageText(10111, QStringLiteral("/tmp/a")), QStringLiteral("Temporäre Datei: /tmp/a"));
}

void TestZipMsgStr::testLanguageInfo_data()
{
    QTest::addColumn<QString>("select");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("expected");

    QTest::newRow("default name") << "" << -1 << -1 << "US: default";
    QTest::newRow("default id") << "" << 0 << 0 << "$0409";
    QTest::newRow("selected name") << "de" << 0 << -1 << "DE: Deutsch";
    QTest::newRow("selected id") << "de" << 0 << 0 << "$0407";
    QTest::newRow("selected language in English") << "de" << 0 << 0x1001 << "German";
    QTest::newRow("selected ISO name") << "de" << 0 << 0x59 << "de";
    QTest::newRow("US when index -1 despite a selection") << "de" << -1 << -1 << "US: default";
    QTest::newRow("carried block by number") << "" << 2 << -1 << "FRC: Canadien";
    QTest::newRow("carried block id in hex") << "" << 2 << 0 << "$0C0C";
    QTest::newRow("number from the low 8 bits") << "" << 257 << -1 << "DE: Deutsch";
    QTest::newRow("no such block") << "" << 9 << 0 << "><";
}

void TestZipMsgStr::testLanguageInfo()
{
    QFETCH(QString, select);
    QFETCH(int, index);
    QFETCH(int, item);
    QFETCH(QString, expected);

    SetMessageLanguage(select, blockList());
    QCOMPARE(MessageLanguageInfo(index, item, blockList()), expected);
}

QTEST_GUILESS_MAIN(TestZipMsgStr)
#include "TestZipMsgStr.moc"
