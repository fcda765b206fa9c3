#include "app/FindBar.h"
#include "app/ShellOpen.h"
#include "app/TextPos.h"
#include "platform/Exception.h"
#include "tests/app/WindowFixture.h"
#include "textview/JournalView.h"
#include "textview/MemoText.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

namespace
{
enum Page { Journal = 0, Notes = 1, Applications = 2 };

struct Tools
{
    explicit Tools(WindowFixture& fixture)
        : window(fixture.create())
        , log(window->findChild<JournalView*>(QStringLiteral("log")))
        , jot(window->findChild<JournalView*>(QStringLiteral("jot")))
        , find(window->findChild<QLineEdit*>(QStringLiteral("txtFindText")))
        , pages(window->findChild<QTabWidget*>(QStringLiteral("pageMain")))
    { }
    void type(const QString& text)
    {
        find->setText(text);
        QTest::keyRelease(find, Qt::Key_End);
    }
    void next() { window->findChild<QPushButton*>(QStringLiteral("cmdFindText"))->click(); }
    // The selection in text positions (line breaks counted as CR LF), or -1 when nothing is selected.
    qsizetype selectedAt(JournalView* memo) const
    {
        const TextCursor cursor = memo->textCursor();
        return cursor.hasSelection() ? memo->buffer()->toTextPosition(cursor.selectionStart()) : -1;
    }

    TFMain* window;
    JournalView* log;
    JournalView* jot;
    QLineEdit* find;
    QTabWidget* pages;
};
} // namespace

class TestTextTools : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testTextPos_data();
    void testTextPos();
    void testFind_data();
    void testFind();
    void testFindStateIsSharedAndPagesWithoutMemoDoNothing();
    void testFindFollowsEditsAndReloads();
    void testDoubleClickFillsFindBoxOnly();
    void testOpen();
    void testSaveCaption_data();
    void testSaveCaption();
    void testSaveAs();
    void testSaveAsProposesAUsableName();
};

void TestTextTools::testTextPos_data()
{
    QTest::addColumn<QString>("sub");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<int>("expected");
    QTest::newRow("first") << "ab"
                           << "xxAByyab" << 1 << false << 3;
    QTest::newRow("case sensitive") << "ab"
                                    << "xxAByyab" << 1 << true << 7;
    QTest::newRow("from start") << "ab"
                                << "xxAByyab" << 4 << false << 7;
    QTest::newRow("at start exactly") << "ab"
                                      << "xxAByyab" << 7 << false << 7;
    QTest::newRow("too few left") << "ab"
                                  << "xxAByyab" << 8 << false << 0;
    QTest::newRow("start zero") << "a"
                                << "a" << 0 << false << 0;
    QTest::newRow("empty sub") << ""
                               << "abc" << 1 << false << 0;
    QTest::newRow("empty text") << "a"
                                << "" << 1 << false << 0;
    QTest::newRow("longer than text") << "abcd"
                                      << "abc" << 1 << false << 0;
    QTest::newRow("only ascii folds") << QString::fromUtf8("\xc3\xa9") << QString::fromUtf8("\xc3\x89t\xc3\xa9") << 1
                                      << false << 3;
    QTest::newRow("edit in Text editor") << "EDIT"
                                         << "Text editor" << 1 << false << 6;
    QTest::newRow("blank kept") << " ed"
                                << "Text editor" << 1 << false << 5;
    QTest::newRow("no overlap from") << "aa"
                                     << "aaaa" << 2 << false << 2;
    QTest::newRow("lower candidate fails, upper matches") << "ab"
                                                          << "acxAB" << 1 << false << 4;
    QTest::newRow("upper candidate fails, lower matches") << "ab"
                                                          << "AcxaB" << 1 << false << 4;
    QTest::newRow("first character no letter") << "-x"
                                               << "a--X" << 1 << false << 3;
    QTest::newRow("match at the very end") << "Z"
                                           << "aaaaz" << 1 << false << 5;
}

void TestTextTools::testTextPos()
{
    QFETCH(QString, sub);
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(bool, caseSensitive);
    QFETCH(int, expected);
    QCOMPARE(TextPosFrom(sub, text, start, caseSensitive), expected);
    if (start == 1) {
        QCOMPARE(TextPos(sub, text, caseSensitive), expected);
    }
}

void TestTextTools::testFind_data()
{
    QTest::addColumn<QByteArray>("journal");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QList<qsizetype>>("selections"); // after the key release, then after each "Next"
    QTest::newRow("xxAByyab") << QByteArray("xxAByyab") << "ab" << QList<qsizetype> { 2, 6, -1 };
    QTest::newRow("aaa") << QByteArray("aaa") << "a" << QList<qsizetype> { 0, 1, 2, -1 };
    QTest::newRow("no overlap") << QByteArray("aaaa") << "aa" << QList<qsizetype> { 0, 2, -1 };
    QTest::newRow("after line breaks") << QByteArray("one\r\ntwo\r\nfind me\r\nfind") << "find"
                                       << QList<qsizetype> { 10, 19, -1 };
    QTest::newRow("not found, then near the top") << QByteArray("abcabc") << "zz" << QList<qsizetype> { -1, -1 };
}

void TestTextTools::testFind()
{
    QFETCH(QByteArray, journal);
    QFETCH(QString, typed);
    QFETCH(QList<qsizetype>, selections);
    WindowFixture fixture;
    Tools tools(fixture);
    MemoText::setFromBytes(tools.log, journal);
    tools.type(typed);
    QCOMPARE(tools.window->findBar().findPos(), selections.at(0));
    QCOMPARE(tools.selectedAt(tools.log), selections.at(0));
    for (qsizetype i = 1; i < selections.size(); ++i) {
        tools.next();
        QCOMPARE(tools.window->findBar().findPos(), selections.at(i));
        QCOMPARE(tools.selectedAt(tools.log), selections.at(i));
        if (selections.at(i) >= 0) {
            QCOMPARE(tools.log->selectedText(), journal.mid(selections.at(i), typed.size()));
        }
    }
    // Nothing found leaves "Next" to start again just before the search text's length.
    QCOMPARE(tools.window->findBar().findNext(), typed.size() - 1);
}

void TestTextTools::testFindStateIsSharedAndPagesWithoutMemoDoNothing()
{
    WindowFixture fixture;
    Tools tools(fixture);
    tools.next();
    QCOMPARE(tools.window->findBar().findPos(), -1);

    tools.log->setPlainText(QStringLiteral("x word y word"));
    tools.jot->setPlainText(QStringLiteral("word word word"));
    tools.type(QStringLiteral("word"));
    QCOMPARE(tools.window->findBar().findPos(), 2);
    // "Next" on the notes goes on from the same position number.
    tools.pages->setCurrentIndex(Notes);
    tools.next();
    QCOMPARE(tools.window->findBar().findPos(), 10);
    QCOMPARE(tools.selectedAt(tools.jot), 10);

    tools.pages->setCurrentIndex(Applications);
    tools.type(QStringLiteral("y"));
    QCOMPARE(tools.window->findBar().findText(), QStringLiteral("y"));
    QCOMPARE(tools.window->findBar().findPos(), 10);
    tools.next();
    QCOMPARE(tools.window->findBar().findPos(), 10);
    tools.window->ActionGotoTopExecute();
    QCOMPARE(tools.selectedAt(tools.jot), 10);
}

void TestTextTools::testFindFollowsEditsAndReloads()
{
    WindowFixture fixture;
    Tools tools(fixture);
    MemoText::setFromBytes(tools.log, "alpha\r\nbeta\r\n");
    tools.type(QStringLiteral("gamma"));
    QCOMPARE(tools.window->findBar().findPos(), -1);
    tools.window->AppendToJournal(QStringLiteral("gamma"));
    tools.type(QStringLiteral("gamma"));
    QCOMPARE(tools.window->findBar().findPos(), 13 + 40);
    tools.log->buffer()->replace(0, 0, QStringLiteral("gamma "));
    tools.type(QStringLiteral("gamma"));
    QCOMPARE(tools.window->findBar().findPos(), 0);
    MemoText::setFromBytes(tools.log, "x\r\ny gamma");
    tools.type(QStringLiteral("GAMMA"));
    QCOMPARE(tools.window->findBar().findPos(), 5);
}

void TestTextTools::testDoubleClickFillsFindBoxOnly()
{
    WindowFixture fixture;
    Tools tools(fixture);
    tools.log->setPlainText(QStringLiteral("first second third second"));
    tools.type(QStringLiteral("second"));
    tools.log->setTextCursor(TextCursor(14));
    tools.log->selectWordUnderCursor();
    tools.window->ActionOnDblClickGetSelectedExecute(tools.log);
    QCOMPARE(tools.find->text(), QStringLiteral("third"));
    QCOMPARE(tools.window->findBar().findText(), QStringLiteral("second"));
    tools.next();
    QCOMPARE(tools.window->findBar().findPos(), 19);
    // Anything but a memo leaves the find box alone.
    tools.window->ActionOnDblClickGetSelectedExecute(tools.find);
    QCOMPARE(tools.find->text(), QStringLiteral("third"));
}

void TestTextTools::testOpen()
{
    WindowFixture fixture;
    Tools tools(fixture);
    const QStringList& requests = fixture.opened;
    tools.find->setText(fixture.dir.path() + QStringLiteral("/"));
    tools.window->ActionShellOpenSelectedTextExecute();
    tools.find->setText(QStringLiteral("https://example.org/a b"));
    tools.window->ActionShellOpenSelectedTextExecute();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.at(0), fixture.dir.path());
    QVERIFY(requests.at(1).startsWith(QStringLiteral("https://example.org/a")));
    QVERIFY(fixture.messages.isEmpty());

    // A word that names nothing is refused before the desktop sees it; the text is kept as typed.
    tools.find->setText(QStringLiteral(" no such thing "));
    tools.window->ActionShellOpenSelectedTextExecute();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(fixture.messages, QStringList { QStringLiteral("Item \" no such thing \" cannot be opened.") });
}

void TestTextTools::testSaveCaption_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("caption");
    QTest::newRow("afternoon") << QTime(14, 5, 9) << "vellumix [2026-12-07 14:05:09]";
    QTest::newRow("midnight") << QTime(0, 0) << "vellumix [2026-12-07]";
    QTest::newRow("just after midnight") << QTime(0, 0, 1) << "vellumix [2026-12-07 00:00:01]";
}

void TestTextTools::testSaveCaption()
{
    QFETCH(QTime, time);
    QFETCH(QString, caption);
    WindowFixture fixture;
    fixture.moment = QDateTime(QDate(2026, 12, 7), time);
    Tools tools(fixture);
    tools.pages->setCurrentIndex(Applications);
    tools.window->ActionSaveExecute();
    QCOMPARE(tools.window->windowTitle(), caption);
}

void TestTextTools::testSaveAs()
{
    WindowFixture fixture;
    Tools tools(fixture);
    MemoText::setFromBytes(tools.log, "caf\xc3\xa9\r\nline two\r\n");
    const QString journalFile = fixture.path(QStringLiteral("journal.txt"));
    fixture.dialogs->nextFileName = journalFile;
    tools.window->ActionSaveAsExecute();
    QCOMPARE(fixture.readFile(QStringLiteral("journal.txt")), QByteArray("caf\xc3\xa9\r\nline two\r\n"));

    // An empty memo writes an empty file, over an existing one.
    tools.pages->setCurrentIndex(Notes);
    fixture.dialogs->nextFileName = journalFile;
    tools.window->ActionSaveAsExecute();
    QVERIFY(QFile::exists(journalFile));
    QCOMPARE(QFileInfo(journalFile).size(), 0);

    // Cancelled, or on a page without a memo: nothing is written and the dialog is not even asked.
    fixture.dialogs->nextFileName = QString();
    tools.window->ActionSaveAsExecute();
    tools.pages->setCurrentIndex(Applications);
    fixture.dialogs->nextFileName = fixture.path(QStringLiteral("other.txt"));
    tools.window->ActionSaveAsExecute();
    QVERIFY(!QFile::exists(fixture.path(QStringLiteral("other.txt"))));
    fixture.dialogs->nextFileName = std::nullopt;

    // A file that cannot be written is reported by the standard error report.
    tools.pages->setCurrentIndex(Journal);
    fixture.dialogs->nextFileName = fixture.path(QStringLiteral("missing/folder/x.txt"));
    QVERIFY_THROWS_EXCEPTION(Exception, tools.window->ActionSaveAsExecute());
}

void TestTextTools::testSaveAsProposesAUsableName()
{
    WindowFixture fixture;
    fixture.dateFormat = QStringLiteral("M/d/yy");
    Tools tools(fixture);
    fixture.dialogs->nextFileName = QString();
    tools.window->ActionSaveAsExecute();
    QCOMPARE(fixture.dialogs->lastProposedName, QStringLiteral("vellumix-journal-12-7-26.txt"));
    QVERIFY(fixture.dialogs->lastAskedBeforeOverwriting);
}

QTEST_MAIN(TestTextTools)
#include "TestTextTools.moc"
