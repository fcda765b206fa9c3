#include "app/ShellOpen.h"
#include "tests/app/WindowFixture.h"
#include "textview/JournalView.h"
#include "textview/MemoText.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class TestAboutPage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testPageShowsVersionBlockAndCredits();
    void testCopyToClipboardIsJournalled();
    void testHelpOpensTheHelpFile();
};

void TestAboutPage::testPageShowsVersionBlockAndCredits()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    QCOMPARE(
        window->findChild<QLabel*>(QStringLiteral("lblAbout"))->text(), QStringLiteral("harborlight [2007.04.13]"));
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("imageHarborlight"))->pixmap().size(), QSize(34, 37));
    const QStringList lines
        = QString::fromUtf8(MemoText::toBytes(window->findChild<QPlainTextEdit*>(QStringLiteral("memoAbout"))))
              .split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 12 + 1 + 5 + 1);
    const QStringList labels = { "product name", "file path & name", "description", "company name", "file version",
        "product version", "legal copyright", "legal trademarks", "documentation", "translation manager",
        "credits - quenmarol", "comments" };
    for (int i = 0; i < 12; ++i) {
        QCOMPARE(lines.at(i).left(23), labels.at(i).leftJustified(21) + QStringLiteral(": "));
    }
    QCOMPARE(lines.at(0).mid(23), QStringLiteral("vellumix"));
    QCOMPARE(lines.at(1).mid(23), fixture.path(QStringLiteral("vellumix")));
    QCOMPARE(lines.at(4).mid(23), QStringLiteral("0.6.7.0"));
    QCOMPARE(lines.at(5).mid(23), QStringLiteral("0.6.7"));
    QCOMPARE(lines.at(12), QStringLiteral("credits - translation ") + QString(43, QLatin1Char('-')));
    QCOMPARE(lines.at(12).size(), 65);
    const QStringList languages = { "AFRIKAANS", "SPANISH", "TURKISH", "GERMAN", "FRENCH" };
    for (int i = 0; i < 5; ++i) {
        const QString& line = lines.at(13 + i);
        QCOMPARE(line.left(11), languages.at(i).leftJustified(9) + QStringLiteral(": "));
        // The first three pad the name to 25 and add an address; the last two end after the name.
        QCOMPARE(line.size() > 11 + 25 + 3, i < 3);
        QCOMPARE(line.mid(11 + 25, 3) == QStringLiteral(" - "), i < 3);
    }
    QCOMPARE(lines.last(), QString());
}

void TestAboutPage::testCopyToClipboardIsJournalled()
{
    WindowFixture fixture;
    fixture.writeFile(QStringLiteral("vellumix.ini"), "[vellumix_main]\ntimestamp=0\n");
    // The system clipboard of the offscreen platform, so the copy comes back to the journal.
    TFMain* window = fixture.create(std::make_unique<SystemClipboardViewer>());
    auto* memo = window->findChild<QPlainTextEdit*>(QStringLiteral("memoAbout"));
    auto* log = window->findChild<JournalView*>(QStringLiteral("log"));
    log->clear();
    window->findChild<QPushButton*>(QStringLiteral("cmdAboutCopyToClipboard"))->click();
    const QByteArray text = MemoText::toBytes(memo);
    QVERIFY(text.contains("\r\nfile version         : 0.6.7.0\r\n"));
    QCOMPARE(QGuiApplication::clipboard()->text().toUtf8(), text);
    QVERIFY(!memo->textCursor().hasSelection());
    QCOMPARE(memo->textCursor().position(), 0);
    QCOMPARE(MemoText::toBytes(log), text + "\r\n");
}

void TestAboutPage::testHelpOpensTheHelpFile()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    const QStringList& requests = fixture.opened;
    // Started from another folder, as a desktop launcher does.
    QTemporaryDir elsewhere;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(elsewhere.path());
    window->cmdDocsClick();
    QCOMPARE(fixture.messages,
        QStringList { QStringLiteral("The Documentation could not be opened - we apologize for this.\"") });
    QVERIFY(requests.isEmpty());

    fixture.writeFile(QStringLiteral("vellumix.chm"), "ITSF");
    window->cmdDocsClick();
    QCOMPARE(requests, QStringList { fixture.path(QStringLiteral("vellumix.chm")) });
    QCOMPARE(fixture.messages.size(), 1);
    QDir::setCurrent(previous);
}

QTEST_MAIN(TestAboutPage)
#include "TestAboutPage.moc"
