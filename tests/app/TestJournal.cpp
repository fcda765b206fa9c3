#include "tests/app/WindowFixture.h"
#include "textview/JournalView.h"
#include "textview/MemoText.h"

#include <QCheckBox>
#include <QRegularExpression>
#include <QTest>

class TestJournal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testAppendLine_data();
    void testAppendLine();
    void testAppendLeavesCaretAfterText();
    void testBytesRoundTrip_data();
    void testBytesRoundTrip();
    void testCapturesUnderStampLines();
    void testStampUncheckedAndRepeats();
    void testSleepNeverSubscribesTwice();
    void testSleepSavedAsCheckedCapturesNothing();
    void testSecretTextIsNotRecorded();
    void testFailedReadIsRetriedWithinBound();
    void testNoTextAppendsNothing();
    void testStampsInEveryLocale();
};

void TestJournal::testAppendLine_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("empty journal") << QByteArray() << "abc" << QByteArray("abc\r\n");
    QTest::newRow("ends with line break") << QByteArray("x\r\n") << "abc" << QByteArray("x\r\nabc\r\n");
    QTest::newRow("typed after last break") << QByteArray("x\r\ntyped") << "abc" << QByteArray("x\r\ntyped\r\nabc");
    QTest::newRow("multi-line capture") << QByteArray("x\r\n") << "a\r\nb\nc\rd"
                                        << QByteArray("x\r\na\r\nb\r\nc\r\nd\r\n");
    QTest::newRow("empty capture") << QByteArray("x\r\n") << "" << QByteArray("x\r\n\r\n");
    QTest::newRow("capture ending in break") << QByteArray() << "a\r\n" << QByteArray("a\r\n\r\n");
}

void TestJournal::testAppendLine()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, text);
    QFETCH(QByteArray, after);
    JournalView memo;
    MemoText::setFromBytes(&memo, before);
    memo.appendLine(text);
    QCOMPARE(MemoText::toBytes(&memo), after);
}

void TestJournal::testAppendLeavesCaretAfterText()
{
    JournalView memo;
    MemoText::setFromBytes(&memo, "one\r\ntwo\r\n");
    TextCursor selection(0);
    selection.setPosition(3, TextCursor::KeepAnchor);
    memo.setTextCursor(selection);
    memo.appendLine(QStringLiteral("three"));
    QVERIFY(!memo.textCursor().hasSelection());
    QCOMPARE(memo.textCursor().position(), memo.buffer()->size());
}

void TestJournal::testBytesRoundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("crlf kept") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\n");
    QTest::newRow("bare breaks become crlf") << QByteArray("a\nb\rc") << QByteArray("a\r\nb\r\nc");
    QTest::newRow("zero byte ends the text") << QByteArray("ab\0cd", 5) << QByteArray("ab");
    QTest::newRow("utf8 and no-break space kept")
        << QByteArray("\xc3\xa9\xc2\xa0x\xe2\x80\xa8y") << QByteArray("\xc3\xa9\xc2\xa0x\xe2\x80\xa8y");
    QTest::newRow("tabs kept") << QByteArray("\ta\t") << QByteArray("\ta\t");
}

void TestJournal::testBytesRoundTrip()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, stored);
    JournalView memo;
    MemoText::setFromBytes(&memo, bytes);
    QCOMPARE(MemoText::toBytes(&memo), stored);
}

void TestJournal::testCapturesUnderStampLines()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    // The empty clipboard at start offers no text.
    auto* log = window->findChild<JournalView*>(QStringLiteral("log"));
    QCOMPARE(MemoText::toBytes(log), QByteArray());
    fixture.clipboard->copy(QStringLiteral("first"));
    fixture.clipboard->copy(QStringLiteral("second\r\nline"));
    QCOMPARE(MemoText::toBytes(log), StampLine + "\r\nfirst\r\n" + StampLine + "\r\nsecond\r\nline\r\n");
}

void TestJournal::testStampUncheckedAndRepeats()
{
    WindowFixture fixture;
    fixture.writeFile(QStringLiteral("vellumix.ini"), "[vellumix_main]\ntimestamp=0\n");
    TFMain* window = fixture.create();
    auto* log = window->findChild<JournalView*>(QStringLiteral("log"));
    fixture.clipboard->copy(QStringLiteral("same"));
    fixture.clipboard->copy(QStringLiteral("same"));
    QCOMPARE(MemoText::toBytes(log), QByteArray("same\r\nsame\r\n"));
}

void TestJournal::testSleepNeverSubscribesTwice()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    auto* log = window->findChild<JournalView*>(QStringLiteral("log"));
    auto* sleep = window->findChild<QCheckBox*>(QStringLiteral("chkClipAsleep"));
    fixture.clipboard->copy(QStringLiteral("now"));
    QCOMPARE(fixture.clipboard->starts, 1);

    sleep->click();
    QVERIFY(!window->isInClipboardChain());
    fixture.clipboard->copy(QStringLiteral("while asleep"));
    window->LeaveClipboardChain();
    QCOMPARE(fixture.clipboard->stops, 1);

    // Waking appends the text on the clipboard at that moment, once.
    sleep->click();
    QVERIFY(window->isInClipboardChain());
    window->JoinClipboardChain();
    QCOMPARE(fixture.clipboard->starts, 2);
    QCOMPARE(MemoText::toBytes(log), StampLine + "\r\nnow\r\n" + StampLine + "\r\nwhile asleep\r\n");

    for (int i = 0; i < 3; ++i) {
        sleep->click();
        sleep->click();
    }
    QCOMPARE(fixture.clipboard->starts, 5);
    QCOMPARE(fixture.clipboard->stops, 4);
}

void TestJournal::testSleepSavedAsCheckedCapturesNothing()
{
    WindowFixture fixture;
    fixture.writeFile(QStringLiteral("vellumix.ini"), "[vellumix_main]\nclipsleep=1\n");
    TFMain* window = fixture.create();
    auto* log = window->findChild<JournalView*>(QStringLiteral("log"));
    QCOMPARE(fixture.clipboard->starts, 0);
    fixture.clipboard->copy(QStringLiteral("ignored"));
    QCOMPARE(log->toPlainText(), QString());
    window->findChild<QCheckBox*>(QStringLiteral("chkClipAsleep"))->click();
    QCOMPARE(MemoText::toBytes(log), StampLine + "\r\nignored\r\n");
}

void TestJournal::testSecretTextIsNotRecorded()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    auto* log = window->findChild<JournalView*>(QStringLiteral("log"));
    fixture.clipboard->copy(QStringLiteral("hunter2"), true);
    fixture.clipboard->copy(QStringLiteral("public"));
    QCOMPARE(MemoText::toBytes(log), StampLine + "\r\npublic\r\n");
}

void TestJournal::testFailedReadIsRetriedWithinBound()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    auto* log = window->findChild<JournalView*>(QStringLiteral("log"));

    // Two failures: the third read, inside the nested re-joins, succeeds.
    fixture.clipboard->failingReads = 2;
    fixture.clipboard->copy(QStringLiteral("busy then free"));
    QCOMPARE(MemoText::toBytes(log), StampLine + "\r\nbusy then free\r\n");
    QVERIFY(window->isInClipboardChain());

    // A clipboard that never answers is given up after a bounded number of tries.
    const int readsBefore = fixture.clipboard->reads;
    fixture.clipboard->failingReads = 1000;
    fixture.clipboard->copy(QStringLiteral("never read"));
    QCOMPARE(fixture.clipboard->reads - readsBefore, 4);
    QVERIFY(window->isInClipboardChain());
    QCOMPARE(MemoText::toBytes(log), StampLine + "\r\nbusy then free\r\n");
    QVERIFY(fixture.messages.isEmpty());
}

void TestJournal::testNoTextAppendsNothing()
{
    WindowFixture fixture;
    TFMain* window = fixture.create();
    auto* log = window->findChild<JournalView*>(QStringLiteral("log"));
    fixture.clipboard->content = {};
    fixture.clipboard->content.hasImage = true;
    fixture.clipboard->announce();
    QCOMPARE(log->toPlainText(), QString());
}

// Stamp lines and the caption after "Save" show date and time without the time zone: no zone name, no
// brackets left empty where it stood, no blank at the end, whatever the locale's long time format.
void TestJournal::testStampsInEveryLocale()
{
    const QDateTime moment(QDate(2026, 12, 7), QTime(14, 5, 9));
    const QString zone = moment.timeZoneAbbreviation();
    static const QRegularExpression emptyBrackets(QStringLiteral("[\\(\\[\\{]\\s*[\\)\\]\\}]"));
    const QList<QLocale> locales
        = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    QVERIFY(locales.size() > 100);
    for (const QLocale& locale : locales) {
        const ClockText clock = ClockText::fixed(moment, locale);
        for (const QString& text : { clock.stampText(), clock.captionText() }) {
            const QByteArray where = (locale.name() + QStringLiteral(": ") + text).toUtf8();
            QVERIFY2(!text.contains(emptyBrackets), where.constData());
            QVERIFY2(!text.contains(zone), where.constData());
            QVERIFY2(text == text.trimmed() && !text.endsWith(QLatin1Char(',')), where.constData());
        }
    }
}

QTEST_MAIN(TestJournal)
#include "TestJournal.moc"
