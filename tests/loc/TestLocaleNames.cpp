#include "loc/LocaleNames.h"

#include <QtTest>

#include <cstring>

namespace
{
// A platform whose English name carries a bracketed part, as older systems answered.
int bracketedSource(quint32, quint32 infoType, char* buffer, int size)
{
    const char* text = infoType == LOCALE_SENGLANGUAGE ? "  Norwegian  (Nynorsk) (x)" : "NON";
    const int needed = int(std::strlen(text)) + 1;
    if (size == 0) {
        return needed;
    }
    std::memcpy(buffer, text, size_t(needed));
    return needed;
}

// A platform that answers the size question and then writes less.
int disagreeingSource(quint32, quint32, char* buffer, int size)
{
    if (size == 0) {
        return 8;
    }
    std::memcpy(buffer, "abc", 4);
    return 4;
}
} // namespace

class TestLocaleNames : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SetLocaleInfoSourceForTesting(nullptr); }
    void testLanguageName_data();
    void testLanguageName();
    void testTableDoesNotAskThePlatform();
    void testComposition();
    void testLocaleInfoDisagreement();
};

void TestLocaleNames::testLanguageName_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<QString>("name");

    QTest::newRow("1033 from the table") << 1033u << "English (United States)";
    QTest::newRow("3082 from the table") << 3082u << "Spanish (International Sort)";
    QTest::newRow("last row") << 20490u << "Spanish (Puerto Rico)";
    QTest::newRow("9: primary language alone") << 9u << "English";
    QTest::newRow("7: primary language alone") << 7u << "German";
    QTest::newRow("Spanish (United States), not in the table") << 0x540Au << "Spanish (EST)";
    QTest::newRow("English (India), not in the table") << 0x4009u << "English (ENN)";
    QTest::newRow("German sublanguage 6, not in the table") << 0x1807u << "German (DEU)";
    QTest::newRow("unknown primary language") << 0x047Fu << " ()";
}

void TestLocaleNames::testLanguageName()
{
    QFETCH(quint32, id);
    QFETCH(QString, name);
    QCOMPARE(LanguageName(id), name);
}

void TestLocaleNames::testTableDoesNotAskThePlatform()
{
    SetLocaleInfoSourceForTesting(&disagreeingSource);
    QCOMPARE(LanguageName(1033), QStringLiteral("English (United States)"));
    QCOMPARE(LanguageName(1078), QStringLiteral("Afrikaans"));
}

void TestLocaleNames::testComposition()
{
    SetLocaleInfoSourceForTesting(&bracketedSource);
    // Cut before the first " (", trimmed, then the abbreviation; a primary language keeps the name whole.
    QCOMPARE(LanguageName(0x0C14), QStringLiteral("Norwegian (NON)"));
    QCOMPARE(LanguageName(0x14), QStringLiteral("  Norwegian  (Nynorsk) (x)"));
}

void TestLocaleNames::testLocaleInfoDisagreement()
{
    SetLocaleInfoSourceForTesting(&disagreeingSource);
    try {
        GetLocaleString(0x0C14, LOCALE_SENGLANGUAGE);
        QFAIL("no error");
    } catch (const ELocalesError& e) {
        QCOMPARE(e.message(), QStringLiteral("Can not get locale info"));
    }
    QVERIFY_THROWS_EXCEPTION(ELocalesError, LanguageName(0x0C14));
}

QTEST_GUILESS_MAIN(TestLocaleNames)
#include "TestLocaleNames.moc"
