#include "LocFixture.h"
#include "loc/LocStrings.h"

#include <QAction>
#include <QMenu>
#include <QtTest>

using namespace LocFixture;

namespace
{
QStringList names(const TDLLInfoList& list)
{
    QStringList result;
    for (int i = 0; i < list.Count(); ++i) {
        result << list[i].Name;
    }
    return result;
}

template <typename E, typename F> QString errorOf(F&& call)
{
    try {
        call();
    } catch (const E& e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}
} // namespace

class TestLocUtils : public QObject
{
    Q_OBJECT

private slots:
    void testGlobalUtility();
    void testNoLibraries();
    void testShippedLibraries();
    void testListingSkipsWhatIsNoLibrary();
    void testOutOfVersion();
    void testLoadErrors();
    void testSwitchingClosesThePreviousLibrary();
    void testExeNameMeansBuiltInLanguage_data();
    void testExeNameMeansBuiltInLanguage();
    void testValidatingSwitch();
    void testStartupCheck_data();
    void testStartupCheck();
    void testMenu();
    void testMenuSameLanguageTwice();
    void testMenuWithoutFolder();
    void testStringTable();
    void testShowLocError();
};

// Made before main() runs, when Qt cannot yet tell the executable's path.
void TestLocUtils::testGlobalUtility()
{
    QCOMPARE(LocUtils.AppFileName, QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
    QCOMPARE(LocUtils.DllsPath, QFileInfo(LocUtils.AppFileName).path() + QLatin1Char('/'));
    QCOMPARE(LocUtils.SwitchMode, quint8(1));
    QCOMPARE(LocUtils.AppInstance, LocModules::appModule());
}

void TestLocUtils::testNoLibraries()
{
    ExeFolder exe;
    TDLLInfoList list;
    QVERIFY(exe.Utils.GetDllsInfo(&list));
    QCOMPARE(names(list), QStringList { QStringLiteral("English") });
    QVERIFY(list[0].LibraryFile.isEmpty());
    QCOMPARE(exe.Utils.GetCurrentInfo().LangId, 9u);
    QVERIFY(!exe.Utils.GetDllsInfo(nullptr));
}

void TestLocUtils::testShippedLibraries()
{
    ExeFolder exe;
    const QMap<QString, QPair<QString, quint32>> expected { { QStringLiteral("DEU"),
                                                                { QStringLiteral("Deutsch"), 1031 } },
        { QStringLiteral("FRA"), { QStringLiteral("Français"), 1036 } },
        { QStringLiteral("ESP"), { QStringLiteral("Español"), 1034 } },
        { QStringLiteral("TRK"), { QStringLiteral("Türkçe"), 1055 } },
        { QStringLiteral("AFK"), { QStringLiteral("Afrikaans"), 1078 } } };
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        QVERIFY(exe.copyLibrary(it.key()));
    }
    TDLLInfoList list;
    QVERIFY(exe.Utils.GetDllsInfo(&list));
    QCOMPARE(list.Count(), 6);
    QCOMPARE(list[0].Name, QStringLiteral("English"));
    for (int i = 1; i < list.Count(); ++i) {
        const QString language = list[i].LibraryFile.section(QLatin1Char('.'), -1);
        QCOMPARE(list[i].LibraryFile, exe.path(QStringLiteral("vellumix.") + language));
        QCOMPARE(list[i].Name, expected.value(language).first);
        QCOMPARE(list[i].WideName, expected.value(language).first);
        QCOMPARE(list[i].LangId, expected.value(language).second);
        QCOMPARE(list[i].Version, 9u);
    }
    QVERIFY(LocModules::openLibraries().isEmpty());
}

void TestLocUtils::testListingSkipsWhatIsNoLibrary()
{
    ExeFolder exe;
    QVERIFY(exe.copyLibrary(QStringLiteral("FRA")));
    // Good libraries under names that are never opened.
    for (const char* skipped : { "vellumix.ntv", "vellumix.EXE", "vellumix.~ex", "vellumix.bak" }) {
        QVERIFY(QFile::copy(builtLibrary(QStringLiteral("DEU")), exe.path(QLatin1String(skipped))));
    }
    const QMap<QString, QByteArray> files { { QStringLiteral("vellumix.ini"), "[vellumix_main]\nleft=1\n" },
        { QStringLiteral("vellumix.vma"), QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0') },
        { QStringLiteral("vellumix.chm"), "ITSF" }, { QStringLiteral("vellumix.qres"), "qres" },
        { QStringLiteral("vellumix"),
            "\x7F"
            "ELF" } };
    for (auto it = files.begin(); it != files.end(); ++it) {
        QFile file(exe.path(it.key()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(it.value());
    }
    QVERIFY(QDir().mkdir(exe.path(QStringLiteral("vellumix.dir"))));
    QVERIFY(makeLibrary(
        exe.path(QStringLiteral("vellumix.NOR")), { { QStringLiteral("STRINGS"), QByteArray("65001\tx\n") } }));
    QVERIFY(makeLibrary(exe.path(QStringLiteral("vellumix.BAD")),
        { { QStringLiteral("LOC_LIBSETTINGS_"), record("LEXE", 9, 1031, "Falsch") } }));
    QVERIFY(makeLibrary(exe.path(QStringLiteral("vellumix.CUT")),
        { { QStringLiteral("LOC_LIBSETTINGS_"), record("LDLL", 9, 1031, "Kurz", 6) } }));
    QVERIFY(makeLibrary(exe.path(QStringLiteral("other.DEU")), 9, 1031, "Andere"));

    TDLLInfoList list;
    QVERIFY(exe.Utils.GetDllsInfo(&list));
    QCOMPARE(names(list), (QStringList { QStringLiteral("English"), QStringLiteral("Français") }));
    QVERIFY(LocModules::openLibraries().isEmpty());
}

void TestLocUtils::testOutOfVersion()
{
    ExeFolder exe;
    const QString old = exe.path(QStringLiteral("vellumix.OLD"));
    QVERIFY(makeLibrary(old, 8, 1031, "Alt"));
    TDLLInfoList list;
    QVERIFY(exe.Utils.GetDllsInfo(&list));
    QCOMPARE(names(list), (QStringList { QStringLiteral("English"), QStringLiteral("Alt") }));

    exe.Utils.SwitchMode = 0;
    QCOMPARE(errorOf<ELUOutOfVersion>([&] { exe.Utils.SwitchTo(old); }),
        QStringLiteral("Resource file ") + old
            + QStringLiteral(" is not synhronized with executable.\r\nPlease, update the file and try again"));
    QCOMPARE(LocModules::currentResourceModule(exe.Utils.AppInstance), exe.Utils.AppInstance);
    QVERIFY(LocModules::openLibraries().isEmpty());
}

void TestLocUtils::testLoadErrors()
{
    ExeFolder exe;
    exe.Utils.SwitchMode = 0;
    const QString missing = QStringLiteral("no/such/vellumix.DEU");
    QCOMPARE(errorOf<ELULoadResLibError>([&] { exe.Utils.SwitchTo(missing); }),
        QStringLiteral("Error loading resource file \"no/such/vellumix.DEU\""));
    const QString text = exe.path(QStringLiteral("vellumix.TXT"));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a library");
    file.close();
    QCOMPARE(errorOf<ELULoadResLibError>([&] { exe.Utils.LoadResLibrary(text); }),
        QStringLiteral("Error loading resource file \"") + text + QLatin1Char('"'));
    const QString noRecord = exe.path(QStringLiteral("vellumix.NOR"));
    QVERIFY(makeLibrary(noRecord, { { QStringLiteral("STRINGS"), QByteArray() } }));
    QCOMPARE(errorOf<ELUInvalidResLibrary>([&] { exe.Utils.SwitchTo(noRecord); }),
        QStringLiteral("Invalid resource file format \"") + noRecord + QLatin1Char('"'));
    QVERIFY(LocModules::openLibraries().isEmpty());
    QCOMPARE(LocModules::currentResourceModule(exe.Utils.AppInstance), exe.Utils.AppInstance);
}

void TestLocUtils::testSwitchingClosesThePreviousLibrary()
{
    ExeFolder exe;
    exe.Utils.SwitchMode = 0;
    exe.Utils.SwitchTo(builtLibrary(QStringLiteral("DEU")));
    QCOMPARE(LocModules::openLibraries().size(), 1);
    QCOMPARE(exe.Utils.GetCurrentInfo().Name, QStringLiteral("Deutsch"));

    exe.Utils.SwitchTo(builtLibrary(QStringLiteral("TRK")));
    QCOMPARE(LocModules::openLibraries(), QList<HMODULE> { LocModules::currentResourceModule(exe.Utils.AppInstance) });
    QCOMPARE(exe.Utils.GetCurrentInfo().Name, QStringLiteral("Türkçe"));

    // A failed switch keeps the library in use open and current.
    QVERIFY_THROWS_EXCEPTION(ELULoadResLibError, exe.Utils.SwitchTo(exe.path(QStringLiteral("vellumix.XXX"))));
    QCOMPARE(exe.Utils.GetCurrentInfo().Name, QStringLiteral("Türkçe"));
    QCOMPARE(LocModules::openLibraries().size(), 1);

    exe.Utils.SwitchTo(QString());
    QVERIFY(LocModules::openLibraries().isEmpty());
    QCOMPARE(exe.Utils.GetCurrentInfo().Name, QStringLiteral("English"));
}

void TestLocUtils::testExeNameMeansBuiltInLanguage_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("lower case") << "/nowhere/vellumix.exe";
    QTest::newRow("upper case") << "/nowhere/VELLUMIX.EXE";
    QTest::newRow("mixed case") << "vellumix.eXe";
}

void TestLocUtils::testExeNameMeansBuiltInLanguage()
{
    QFETCH(QString, name);
    ExeFolder exe;
    exe.Utils.SwitchMode = 0;
    exe.Utils.SwitchTo(builtLibrary(QStringLiteral("ESP")));
    exe.Utils.SwitchTo(name);
    QCOMPARE(LocModules::currentResourceModule(exe.Utils.AppInstance), exe.Utils.AppInstance);
    QVERIFY(LocModules::openLibraries().isEmpty());
}

void TestLocUtils::testValidatingSwitch()
{
    ExeFolder exe;
    QCOMPARE(exe.Utils.SwitchMode, quint8(1));
    exe.Utils.SwitchTo(builtLibrary(QStringLiteral("AFK")));
    QCOMPARE(LocModules::currentResourceModule(exe.Utils.AppInstance), exe.Utils.AppInstance);
    QVERIFY(LocModules::openLibraries().isEmpty());
    const QString old = exe.path(QStringLiteral("vellumix.OLD"));
    QVERIFY(makeLibrary(old, 10, 1031, "Neu"));
    QVERIFY_THROWS_EXCEPTION(ELUOutOfVersion, exe.Utils.SwitchTo(old));
    QVERIFY(LocModules::openLibraries().isEmpty());
}

void TestLocUtils::testStartupCheck_data()
{
    QTest::addColumn<QByteArray>("libRecord");
    QTest::addColumn<bool>("keeps");
    QTest::newRow("built-in language") << QByteArray() << true;
    QTest::newRow("library of this version") << record("LDLL", 9, 1031, "Deutsch") << true;
    QTest::newRow("library out of version") << record("LDLL", 7, 1031, "Deutsch") << false;
    QTest::newRow("library with the wrong magic") << record("LEXE", 9, 1031, "Deutsch") << false;
}

// The runtime may have chosen a library before the check; a misfit one is dropped silently.
void TestLocUtils::testStartupCheck()
{
    QFETCH(QByteArray, libRecord);
    QFETCH(bool, keeps);
    ExeFolder exe;
    HMODULE library = 0;
    if (!libRecord.isEmpty()) {
        QVERIFY(makeLibrary(
            exe.path(QStringLiteral("vellumix.LOC")), { { QStringLiteral("LOC_LIBSETTINGS_"), libRecord } }));
        library = LocModules::loadAsData(exe.path(QStringLiteral("vellumix.LOC")));
        QVERIFY(library != 0);
        LocModules::setCurrentResourceModule(exe.Utils.AppInstance, library);
    }
    QCOMPARE(exe.Utils.CheckStartupResources(), keeps);
    if (!keeps) {
        QCOMPARE(LocModules::currentResourceModule(exe.Utils.AppInstance), exe.Utils.AppInstance);
        QVERIFY(!LocModules::isLoaded(library));
    }
}

void TestLocUtils::testMenu()
{
    ExeFolder exe;
    QVERIFY(exe.copyLibrary(QStringLiteral("DEU")));
    QVERIFY(makeLibrary(exe.path(QStringLiteral("vellumix.OLD")), 8, 1036, "Alt"));
    QVERIFY(makeLibrary(exe.path(QStringLiteral("vellumix.NN")), 9, 1031, ""));
    QMenu session;
    session.addAction(QStringLiteral("&New"));
    exe.Utils.PopulateMenu(&session, 1, 0);
    QCOMPARE(exe.Utils.SwitchMode, quint8(0));

    const QList<QAction*> actions = session.actions();
    QCOMPARE(actions.size(), 5);
    QStringList captions;
    for (QAction* action : actions.mid(1)) {
        QVERIFY(action->isCheckable());
        captions << action->text();
    }
    captions.sort();
    QCOMPARE(captions,
        (QStringList { QStringLiteral("Alt"), QStringLiteral("Deutsch"), QStringLiteral("English"),
            QStringLiteral("German (Germany)") }));
    const auto byCaption = [&](const QString& caption) {
        for (QAction* action : actions) {
            if (action->text() == caption) {
                return action;
            }
        }
        return static_cast<QAction*>(nullptr);
    };
    QAction* english = byCaption(QStringLiteral("English"));
    QAction* german = byCaption(QStringLiteral("Deutsch"));
    QAction* old = byCaption(QStringLiteral("Alt"));
    QVERIFY(english && german && old);
    QCOMPARE(english->data().toInt(), 0);
    QVERIFY(english->isChecked());

    german->trigger();
    QVERIFY(german->isChecked());
    QVERIFY(!english->isChecked());
    QCOMPARE(exe.Utils.GetCurrentInfo().LangId, 1031u);

    german->trigger(); // already checked: nothing happens
    QVERIFY(german->isChecked());
    QCOMPARE(LocModules::openLibraries().size(), 1);

    // The error reaches the report instead of unwinding through the menu's signal code.
    bool outOfVersion = false;
    exe.Utils.MenuClickErrorReport = [&](const std::exception& error) {
        outOfVersion = dynamic_cast<const ELUOutOfVersion*>(&error) != nullptr;
    };
    old->trigger();
    QVERIFY(outOfVersion);
    QVERIFY(!old->isChecked());
    QVERIFY(german->isChecked());

    english->trigger();
    QVERIFY(english->isChecked());
    QVERIFY(LocModules::openLibraries().isEmpty());
}

void TestLocUtils::testMenuSameLanguageTwice()
{
    ExeFolder exe;
    QVERIFY(makeLibrary(exe.path(QStringLiteral("vellumix.EN1")), 9, 9, "English one"));
    QVERIFY(makeLibrary(exe.path(QStringLiteral("vellumix.EN2")), 9, 9, "English two"));
    QMenu session;
    exe.Utils.PopulateMenu(&session, 1, 0);
    QCOMPARE(session.actions().size(), 3);
    int checked = 0;
    for (QAction* action : session.actions()) {
        checked += action->isChecked() ? 1 : 0;
    }
    QCOMPARE(checked, 1);
    QVERIFY(session.actions().last()->isChecked());
}

void TestLocUtils::testMenuWithoutFolder()
{
    ExeFolder exe;
    exe.Utils.SetAppFileName(QStringLiteral("/no/such/folder/vellumix"));
    QMenu session;
    QCOMPARE(errorOf<ELocUtilsError>([&] { exe.Utils.PopulateMenu(&session, 1, 0); }),
        QStringLiteral("Error populating menu"));
    QVERIFY(session.actions().isEmpty());
}

void TestLocUtils::testStringTable()
{
    ExeFolder exe;
    for (int id = sIniLoadFailed; id <= sTextExceedsMemoCapacity; ++id) {
        QVERIFY2(!exe.Utils.LoadStr(id).isEmpty(), qPrintable(QString::number(id)));
    }
    QCOMPARE(exe.Utils.LoadStr(sIniLoadFailed),
        QStringLiteral("Configuration INI file failed to load. Will try to continue without it."));
    QCOMPARE(exe.Utils.LoadStr(sItemCannotBeOpenedAfter), QStringLiteral(" cannot be opened."));

    exe.Utils.SwitchMode = 0;
    exe.Utils.SwitchTo(builtLibrary(QStringLiteral("DEU")));
    QCOMPARE(exe.Utils.LoadStr(sIniSaveFailed),
        QStringLiteral("Die INI-Konfigurationsdatei konnte nicht gespeichert "
                       "werden. Das Programm wird ohne Speichern beendet."));
    QCOMPARE(exe.Utils.LoadStr(sUnableToWrite).arg(QStringLiteral("/x.ini")),
        QStringLiteral("In /x.ini kann nicht geschrieben werden"));

    // A library without a string table, or without an entry, falls back to English.
    const QString bare = exe.path(QStringLiteral("vellumix.BAR"));
    QVERIFY(makeLibrary(bare,
        { { QStringLiteral("LOC_LIBSETTINGS_"), record("LDLL", 9, 1031, "Bar") },
            { QStringLiteral("STRINGS"), QByteArray("65002\tnur das\n") } }));
    exe.Utils.SwitchTo(bare);
    QCOMPARE(exe.Utils.LoadStr(sIniSaveFailed), QStringLiteral("nur das"));
    QCOMPARE(exe.Utils.LoadStr(sUnknownError), QStringLiteral("An unknown error occurred."));
    QVERIFY(exe.Utils.LoadStr(1).isEmpty());
}

void TestLocUtils::testShowLocError()
{
    QString caption;
    QString text;
    TLocUtils::SetLocErrorHandlerForTesting([&](const QString& c, const QString& t) {
        caption = c;
        text = t;
    });
    TLocUtils::ShowLocError(ELULoadResLibError(QStringLiteral("x.DEU")));
    TLocUtils::SetLocErrorHandlerForTesting(nullptr);
    QCOMPARE(caption, QStringLiteral("Localization error"));
    QCOMPARE(text, QStringLiteral("Error loading resource file \"x.DEU\""));
}

QTEST_MAIN(TestLocUtils)
#include "TestLocUtils.moc"
