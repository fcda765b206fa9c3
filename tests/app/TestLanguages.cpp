#include "app/AboutPage.h"
#include "platform/Exception.h"
#include "tests/app/WindowFixture.h"
#include "textview/MemoText.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QKeySequence>
#include <QMap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

namespace
{
const QStringList Libraries = { "vellumix.DEU", "vellumix.FRA", "vellumix.ESP", "vellumix.TRK", "vellumix.AFK" };

void copyLibraries(const WindowFixture& fixture)
{
    for (const QString& name : Libraries) {
        QFile::copy(QStringLiteral(VELLUMIX_BIN_DIR "/") + name, fixture.path(name));
    }
}

QString aboutButton(TFMain* window)
{
    return window->findChild<QPushButton*>(QStringLiteral("cmdAboutCopyToClipboard"))->text();
}
} // namespace

class TestLanguages : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testOnlyEnglishWithoutLibraries();
    void testSwitchingTheRunningWindow();
    void testSavedLanguageAppliedAtStart();
    void testMissingSavedLibraryIsReportedOnce();
    void testTextsOfQtAndOfTheCodeFollowTheLanguage();
    void testAcceleratorsOfVisibleControlsDiffer_data();
    void testAcceleratorsOfVisibleControlsDiffer();
};

void TestLanguages::testOnlyEnglishWithoutLibraries()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    auto* combo = window->findChild<QComboBox*>(QStringLiteral("cbLanguages"));
    QCOMPARE(combo->count(), 1);
    QCOMPARE(combo->itemText(0), QStringLiteral("English"));
    QCOMPARE(combo->currentIndex(), 0);
    QVERIFY(fixture.messages.isEmpty());
}

void TestLanguages::testSwitchingTheRunningWindow()
{
    WindowFixture fixture;
    copyLibraries(fixture);
    TFMain* window = fixture.create();
    auto* combo = window->findChild<QComboBox*>(QStringLiteral("cbLanguages"));
    QCOMPARE(combo->count(), 6);
    QCOMPARE(combo->currentIndex(), 0);
    const int objects = window->findChildren<QObject*>().size();
    const QByteArray about = MemoText::toBytes(window->findChild<QPlainTextEdit*>(QStringLiteral("memoAbout")));
    auto* pages = window->findChild<QTabWidget*>(QStringLiteral("pageMain"));
    pages->setCurrentIndex(5);

    const int german = combo->findText(QStringLiteral("Deutsch"), Qt::MatchStartsWith);
    QVERIFY(german > 0);
    combo->setCurrentIndex(german);
    Q_EMIT combo->activated(german);
    QVERIFY(fixture.messages.isEmpty());
    QCOMPARE(window->about().languageFile(), window->about().languages()[german].LibraryFile);
    QVERIFY(aboutButton(window) != QStringLiteral("Copy To Clipboard"));
    QVERIFY(pages->tabText(0) != QStringLiteral("&Clipboard Journal"));
    // Screen readers hear the journal named as its page is.
    QCOMPARE(window->findChild<QWidget*>(QStringLiteral("log"))->accessibleName(),
        QString(pages->tabText(0)).remove(QLatin1Char('&')));
    // Re-reading resets sizes that the layout refresh puts back; nothing is created, destroyed or refilled.
    auto* drops = window->findChild<QTreeWidget*>(QStringLiteral("lvDropLog"));
    QCOMPARE(drops->columnWidth(0), 333);
    QCOMPARE(drops->columnWidth(1), 666);
    QCOMPARE(window->findChild<QPushButton*>(QStringLiteral("cmdAboutCopyToClipboard"))->size(), QSize(162, 24));
    QCOMPARE(
        window->findChild<QPushButton*>(QStringLiteral("cmdSysApplicationsCopyToClipboard"))->size(), QSize(162, 24));
    QCOMPARE(window->findChildren<QObject*>().size(), objects);
    QCOMPARE(MemoText::toBytes(window->findChild<QPlainTextEdit*>(QStringLiteral("memoAbout"))), about);
    QCOMPARE(pages->currentIndex(), 5);

    combo->setCurrentIndex(0);
    Q_EMIT combo->activated(0);
    QCOMPARE(aboutButton(window), QStringLiteral("Copy To Clipboard"));
    QCOMPARE(pages->tabText(0), QStringLiteral("&Clipboard Journal"));
    QCOMPARE(window->about().languageFile(), QString());
}

void TestLanguages::testSavedLanguageAppliedAtStart()
{
    WindowFixture fixture;
    copyLibraries(fixture);
    TFMain* window = fixture.create();
    auto* combo = window->findChild<QComboBox*>(QStringLiteral("cbLanguages"));
    const int french = combo->findText(QStringLiteral("Fran"), Qt::MatchStartsWith);
    QVERIFY(french > 0);
    Q_EMIT combo->activated(french);
    const QString frenchButton = aboutButton(window);
    fixture.destroy();
    QVERIFY(fixture.readFile(QStringLiteral("vellumix.ini")).contains("languagefile="));

    window = fixture.create();
    combo = window->findChild<QComboBox*>(QStringLiteral("cbLanguages"));
    QCOMPARE(combo->currentIndex(), french);
    QCOMPARE(aboutButton(window), frenchButton);
    QVERIFY(fixture.messages.isEmpty());
}

// A saved language that is gone is reported at that start only; the window still opens where it was,
// and the built-in language it falls back to is what is saved.
void TestLanguages::testMissingSavedLibraryIsReportedOnce()
{
    WindowFixture fixture;
    fixture.writeFile(QStringLiteral("vellumix.ini"),
        "[vellumix_main]\nleft=150\ntop=120\nlanguagefile=" + fixture.path(QStringLiteral("vellumix.XYZ")).toUtf8()
            + "\n");
    TFMain* window = fixture.create();
    QCOMPARE(fixture.messages.size(), 1);
    QVERIFY(fixture.messages.at(0).contains(QStringLiteral("vellumix.XYZ")));
    QCOMPARE(aboutButton(window), QStringLiteral("Copy To Clipboard"));
    QCOMPARE(window->frameGeometry().topLeft(), QPoint(150, 120));
    fixture.destroy();
    QVERIFY(fixture.readFile(QStringLiteral("vellumix.ini")).contains("\nlanguagefile=\n"));
    fixture.create();
    QCOMPARE(fixture.messages.size(), 1);
}

void TestLanguages::testTextsOfQtAndOfTheCodeFollowTheLanguage()
{
    WindowFixture fixture;
    copyLibraries(fixture);
    TFMain* window = fixture.create();
    auto* combo = window->findChild<QComboBox*>(QStringLiteral("cbLanguages"));
    const int german = combo->findText(QStringLiteral("Deutsch"), Qt::MatchStartsWith);
    Q_EMIT combo->activated(german);
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
    fixture.dialogs->nextFileName = fixture.path(QStringLiteral("missing/folder/x.txt"));
    try {
        window->ActionSaveAsExecute();
        QFAIL("the file could be written");
    } catch (const Exception& error) {
        QVERIFY2(
            error.message().contains(QStringLiteral("kann nicht geschrieben werden")), qPrintable(error.message()));
    }

    Q_EMIT combo->activated(0);
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

void TestLanguages::testAcceleratorsOfVisibleControlsDiffer_data()
{
    QTest::addColumn<QString>("library");
    QTest::newRow("English") << QString();
    for (const QString& library : Libraries) {
        QTest::newRow(qPrintable(library)) << library;
    }
}

// Alt and a letter reaches one control: among the controls shown together no two share an accelerator.
void TestLanguages::testAcceleratorsOfVisibleControlsDiffer()
{
    QFETCH(QString, library);
    WindowFixture fixture;
    copyLibraries(fixture);
    if (!library.isEmpty()) {
        fixture.writeFile(
            QStringLiteral("vellumix.ini"), "[vellumix_main]\nlanguagefile=" + fixture.path(library).toUtf8() + "\n");
    }
    TFMain* window = fixture.create();
    window->show();
    QVERIFY(fixture.messages.isEmpty());
    auto* pages = window->findChild<QTabWidget*>(QStringLiteral("pageMain"));
    for (int page = 0; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        QMap<QKeySequence, QString> seen;
        auto take = [&](const QString& text) {
            const QKeySequence key = QKeySequence::mnemonic(text);
            if (key.isEmpty()) {
                return;
            }
            QVERIFY2(!seen.contains(key),
                qPrintable(QStringLiteral("\"%1\" and \"%2\" on page %3").arg(seen.value(key), text).arg(page)));
            seen.insert(key, text);
        };
        for (const QTabWidget* tabs : window->findChildren<QTabWidget*>()) {
            for (int i = 0; i < tabs->count(); ++i) {
                take(tabs->tabText(i));
            }
        }
        for (const QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
            if (button->isVisibleTo(window)) {
                take(button->text());
            }
        }
    }
}

QTEST_MAIN(TestLanguages)
#include "TestLanguages.moc"
