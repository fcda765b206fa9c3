#include "LocFixture.h"
#include "loc/LocModules.h"

#include <QtTest>

using namespace LocFixture;
using Resources = QMap<QString, QByteArray>;

class TestLocSettings : public QObject
{
    Q_OBJECT

private slots:
    void testExecutableRecords();
    void testRecordLayout_data();
    void testRecordLayout();
    void testInvalidFormat_data();
    void testInvalidFormat();
    void testVersionCompatible_data();
    void testVersionCompatible();
    void testBrokenLibraryFiles_data();
    void testBrokenLibraryFiles();

private:
    HMODULE load(const QByteArray& libRecord)
    {
        const QString path = FDir.filePath(QStringLiteral("lib%1").arg(++FCount));
        if (!makeLibrary(path, { { QStringLiteral("LOC_LIBSETTINGS_"), libRecord } })) {
            return 0;
        }
        return LocModules::loadAsData(path);
    }

    QTemporaryDir FDir;
    int FCount = 0;
};

void TestLocSettings::testExecutableRecords()
{
    TLocUtils utils;
    const QByteArray exe = LocModules::findResource(utils.AppInstance, QStringLiteral("LOC_EXESETTINGS_")).value();
    const QByteArray lib = LocModules::findResource(utils.AppInstance, QStringLiteral("loc_libsettings_")).value();
    QCOMPARE(exe.size(), 44);
    QCOMPARE(lib.size(), 44);
    QCOMPARE(exe.mid(4), lib.mid(4));
    QCOMPARE(exe.mid(35, 4), QByteArray("\x06\x00\xBA\xAB", 4));

    for (const bool library : { false, true }) {
        TDLLInfoItem item;
        item.LibraryFile = QStringLiteral("kept");
        utils.ReadSettingsRecord(utils.AppInstance, library, item);
        QCOMPARE(item.Version, 9u);
        QCOMPARE(item.LangId, 9u);
        QCOMPARE(item.Name, QStringLiteral("English"));
        QCOMPARE(item.WideName, QStringLiteral("English"));
        QCOMPARE(item.Extra, 0u);
        QCOMPARE(item.LibraryFile, QStringLiteral("kept"));
    }
}

void TestLocSettings::testRecordLayout_data()
{
    QTest::addColumn<QByteArray>("libRecord");
    QTest::addColumn<QString>("name");
    QTest::addColumn<quint32>("extra");
    QTest::addColumn<QString>("error");

    const QString readError = QStringLiteral("Stream read error");
    QTest::newRow("ends after wide name") << record("LDLL", 9, 1031, "Deutsch", 0) << "Deutsch" << 0u << "";
    QTest::newRow("exactly 4 bytes after") << record("LDLL", 9, 1031, "Deutsch", 4) << "Deutsch" << 0u << "";
    QTest::newRow("5 bytes after") << record("LDLL", 9, 1031, "Deutsch", 5) << "" << 0u << readError;
    QTest::newRow("7 bytes after") << record("LDLL", 9, 1031, "Deutsch", 7) << "" << 0u << readError;
    QTest::newRow("8 bytes after") << record("LDLL", 9, 1031, "Deutsch", 8) << "Deutsch" << 0xC0FFEEu << "";
    QTest::newRow("long tail") << record("LDLL", 9, 1031, "Deutsch", 40) << "Deutsch" << 0xC0FFEEu << "";
    QTest::newRow("empty name") << record("LDLL", 9, 1031, "", 9) << "" << 0xC0FFEEu << "";
    QTest::newRow("zero inside name") << record("LDLL", 9, 1031, QByteArray("De\0tsch", 7), 9) << "De" << 0xC0FFEEu
                                      << "";
    QTest::newRow("utf-8 name") << record("LDLL", 9, 1055, "Türkçe", 9) << "Türkçe" << 0xC0FFEEu << "";
    QTest::newRow("cut in name") << record("LDLL", 9, 1031, "Deutsch", 0).left(15) << "" << 0u << readError;
    QTest::newRow("cut in wide name") << record("LDLL", 9, 1031, "Deutsch", 0).left(30) << "" << 0u << readError;
    QTest::newRow("only the magic") << QByteArray("LDLL") << "" << 0u << readError;
}

void TestLocSettings::testRecordLayout()
{
    QFETCH(QByteArray, libRecord);
    QFETCH(QString, name);
    QFETCH(quint32, extra);
    QFETCH(QString, error);

    TLocUtils utils;
    const HMODULE library = load(libRecord);
    QVERIFY(library != 0);
    TDLLInfoItem item;
    try {
        utils.ReadSettingsRecord(library, true, item);
        QVERIFY2(error.isEmpty(), "a short record was read without error");
        QCOMPARE(item.Version, 9u);
        QCOMPARE(item.Name, name);
        QCOMPARE(item.WideName.isEmpty(), name.isEmpty());
        QCOMPARE(item.Extra, extra);
    } catch (const ELocUtilsError& e) {
        QFAIL(qPrintable(QStringLiteral("a stream error became a localization error: ") + e.message()));
    } catch (const EReadError& e) {
        QCOMPARE(e.message(), error);
    }
    LocModules::freeModule(library);
}

void TestLocSettings::testInvalidFormat_data()
{
    QTest::addColumn<Resources>("resources");
    QTest::addColumn<bool>("library");

    const QByteArray good = record("LDLL", 9, 1031, "Deutsch");
    QTest::newRow("library record with LEXE magic")
        << Resources { { QStringLiteral("LOC_LIBSETTINGS_"), record("LEXE", 9, 1031, "x") } } << true;
    QTest::newRow("no library record") << Resources { { QStringLiteral("STRINGS"), QByteArray("1\tx\n") } } << true;
    QTest::newRow("no executable record in a library")
        << Resources { { QStringLiteral("LOC_LIBSETTINGS_"), good } } << false;
    QTest::newRow("record shorter than its magic")
        << Resources { { QStringLiteral("LOC_LIBSETTINGS_"), QByteArray("LD") } } << true;
}

void TestLocSettings::testInvalidFormat()
{
    QFETCH(Resources, resources);
    QFETCH(bool, library);

    TLocUtils utils;
    const QString path = FDir.filePath(QStringLiteral("invalid%1.DEU").arg(++FCount));
    QVERIFY(makeLibrary(path, resources));
    const HMODULE module = LocModules::loadAsData(path);
    QVERIFY(module != 0);
    TDLLInfoItem item;
    try {
        utils.ReadSettingsRecord(module, library, item);
        QFAIL("an invalid record was accepted");
    } catch (const ELUInvalidResLibrary& e) {
        QCOMPARE(e.message(), QStringLiteral("Invalid resource file format \"") + path + QLatin1Char('"'));
    }
    LocModules::freeModule(module);
}

void TestLocSettings::testVersionCompatible_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<bool>("compatible");

    QTest::newRow("same version, other language and name")
        << record("LDLL", 9, 1031, "Deutsch") << record("LDLL", 9, 1036, "Français", 0) << true;
    QTest::newRow("only the version differs")
        << record("LDLL", 9, 1031, "Deutsch") << record("LDLL", 10, 1031, "Deutsch") << false;
    QTest::newRow("executable against version 8") << QByteArray() << record("LDLL", 8, 9, "English") << false;
    QTest::newRow("executable against version 9") << QByteArray() << record("LDLL", 9, 1078, "Afrikaans") << true;
}

void TestLocSettings::testVersionCompatible()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(bool, compatible);

    TLocUtils utils;
    const HMODULE firstModule = first.isEmpty() ? 0 : load(first);
    const HMODULE secondModule = load(second);
    QCOMPARE(utils.IsVersionCompatible(firstModule, secondModule), compatible);
    LocModules::freeModule(firstModule);
    LocModules::freeModule(secondModule);
}

void TestLocSettings::testBrokenLibraryFiles_data()
{
    QTest::addColumn<int>("cut");
    QTest::addColumn<int>("flip");

    // Truncations and single corrupted bytes across the header, data, names and tree.
    for (const int cut : { 4, 19, 23, 30, 100, 400, 2000, 24000 }) {
        QTest::addRow("cut at %d", cut) << cut << -1;
    }
    for (const int flip : { 5, 9, 13, 17, 21, 25, 40, 200, -2, -10, -14, -20, -30, -44 }) {
        QTest::addRow("byte %d flipped", flip) << 0 << flip;
    }
}

// A broken or hostile file named like a library is refused or read safely, never trusted.
void TestLocSettings::testBrokenLibraryFiles()
{
    QFETCH(int, cut);
    QFETCH(int, flip);

    QFile source(builtLibrary(QStringLiteral("DEU")));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray data = source.readAll();
    if (cut > 0) {
        data.truncate(cut);
    }
    if (flip != -1) {
        const qsizetype at = flip >= 0 ? flip : data.size() + flip;
        data[at] = char(data[at] ^ 0x7F);
    }
    const QString path = FDir.filePath(QStringLiteral("broken%1").arg(++FCount));
    QFile target(path);
    QVERIFY(target.open(QIODevice::WriteOnly));
    target.write(data);
    target.close();

    TLocUtils utils;
    const HMODULE module = LocModules::loadAsData(path);
    if (cut > 0) {
        QCOMPARE(module, HMODULE(0));
    }
    if (module != 0) {
        TDLLInfoItem item;
        try {
            utils.ReadSettingsRecord(module, true, item);
            LocModules::findResource(module, QStringLiteral("TFMAIN"));
        } catch (const Exception&) { }
        LocModules::freeModule(module);
    }
}

QTEST_GUILESS_MAIN(TestLocSettings)
#include "TestLocSettings.moc"
