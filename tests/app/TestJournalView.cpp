#include "app/TextPos.h"
#include "textview/JournalView.h"
#include "textview/LineLayouts.h"
#include "textview/MemoText.h"
#include "textview/TextBuffer.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QVBoxLayout>

namespace
{
const QString Words = QStringLiteral("one two, three.four  five\nsix (seven) eight-nine");

QString wrapped()
{
    QString text;
    for (int i = 0; i < 30; ++i) {
        text += QStringLiteral("word%1 ").arg(i);
    }
    return text + QStringLiteral("\nshort\n") + text;
}

// The old memo and the new view side by side, same font and size, fed the same events.
struct Pair
{
    Pair()
    {
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPointSize(9);
        for (QAbstractScrollArea* widget :
            { static_cast<QAbstractScrollArea*>(&plain), static_cast<QAbstractScrollArea*>(&view) }) {
            widget->setFont(font);
            widget->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            widget->resize(300, 200);
            widget->show();
        }
        QVERIFY(QTest::qWaitForWindowExposed(&plain));
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }

    void setText(const QString& text)
    {
        plain.setPlainText(text);
        view.setPlainText(text);
    }
    // Runs one step ("op argument") on both.
    void run(const QString& step)
    {
        const QString op = step.section(QLatin1Char(' '), 0, 0);
        const QString argument = step.section(QLatin1Char(' '), 1);
        const QStringList numbers = argument.split(QLatin1Char(' '));
        for (QAbstractScrollArea* widget :
            { static_cast<QAbstractScrollArea*>(&plain), static_cast<QAbstractScrollArea*>(&view) }) {
            widget->setFocus();
            if (op == QLatin1String("type")) {
                QTest::keyClicks(widget, argument);
            } else if (op == QLatin1String("key")) {
                const QKeyCombination key = QKeySequence::fromString(argument)[0];
                QTest::keyClick(widget, key.key(), key.keyboardModifiers());
            } else if (op == QLatin1String("click") || op == QLatin1String("shiftclick")) {
                QTest::mouseClick(widget->viewport(), Qt::LeftButton,
                    op == QLatin1String("click") ? Qt::NoModifier : Qt::ShiftModifier, pointOf(numbers[0].toInt()));
            } else if (op == QLatin1String("dclick")) {
                QTest::mouseDClick(widget->viewport(), Qt::LeftButton, Qt::NoModifier, pointOf(numbers[0].toInt()));
            } else if (op == QLatin1String("drag")) {
                QTest::mousePress(widget->viewport(), Qt::LeftButton, Qt::NoModifier, pointOf(numbers[0].toInt()));
                QTest::mouseMove(widget->viewport(), pointOf(numbers[1].toInt()));
                QTest::mouseRelease(widget->viewport(), Qt::LeftButton, Qt::NoModifier, pointOf(numbers[1].toInt()));
            }
        }
        if (op == QLatin1String("select")) {
            QTextCursor cursor = plain.textCursor();
            cursor.setPosition(numbers[0].toInt());
            cursor.setPosition(numbers.value(1, numbers[0]).toInt(), QTextCursor::KeepAnchor);
            plain.setTextCursor(cursor);
            TextCursor mine(numbers[0].toInt());
            mine.setPosition(numbers.value(1, numbers[0]).toInt(), TextCursor::KeepAnchor);
            view.setTextCursor(mine);
        } else if (op == QLatin1String("insert")) {
            plain.insertPlainText(argument);
            view.insertPlainText(argument);
        } else if (op == QLatin1String("undo")) {
            plain.undo();
            view.undo();
        } else if (op == QLatin1String("redo")) {
            plain.redo();
            view.redo();
        } else if (op == QLatin1String("end")) {
            plain.moveCursor(QTextCursor::End);
            view.moveCursor(JournalView::End);
        } else if (op == QLatin1String("resize")) {
            plain.resize(numbers[0].toInt(), 200);
            view.resize(numbers[0].toInt(), 200);
        } else if (op == QLatin1String("font")) {
            QFont font = view.font();
            font.setPointSize(numbers[0].toInt());
            plain.setFont(font);
            view.setFont(font);
        } else if (op == QLatin1String("outside")) {
            // A change made past the widget, as another part of the program makes it.
            const int position = numbers[0].toInt();
            const int removed = numbers[1].toInt();
            const QString added = argument.section(QLatin1Char(' '), 2);
            QTextCursor cursor(plain.document());
            cursor.setPosition(position);
            cursor.setPosition(position + removed, QTextCursor::KeepAnchor);
            cursor.insertText(added);
            view.buffer()->replace(position, removed, added);
        }
    }
    // Where the old memo shows a character: just right of its left edge, mid-row.
    QPoint pointOf(int position) const
    {
        QTextCursor cursor = plain.textCursor();
        cursor.setPosition(position);
        const QRect caret = plain.cursorRect(cursor);
        return QPoint(caret.left() + 2, caret.center().y());
    }
    QString plainText() const { return plain.document()->toRawText().replace(QChar::ParagraphSeparator, u'\n'); }

    QPlainTextEdit plain;
    JournalView view;
};
} // namespace

class TestJournalView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testStoredBytes_data();
    void testStoredBytes();
    void testStoredBytesAreTakenOverInPlace();
    void testSnapshotKeepsItsTextWhileTheBufferChanges();
    void testPositionsAcrossEncodings();
    void testFindMatchesTextPosFrom_data();
    void testFindMatchesTextPosFrom();
    void testTextPositions_data();
    void testTextPositions();
    void testUndoLimitKeepsNewestSteps();
    void testEditsMatchPlainTextEdit_data();
    void testEditsMatchPlainTextEdit();
    void testLongLines_data();
    void testLongLines();
    void testRowCountsFollowLayouts_data();
    void testRowCountsFollowLayouts();
    void testChangeNoticesReplayOnCopy();
    void testAppendLine_data();
    void testAppendLine();
    void testScrollingReachesBothEnds();
    void testLooksAndSelectionWithoutFocus();
    void testInputMethodComposesOutsideText();
    void testDropInsertsAtPoint();
    void testAccessibleText();
    void testContextMenuMatchesPlainTextEdit();
};

void TestJournalView::testStoredBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("CR LF lines") << QByteArray("one\r\ntwo\r\n");
    QTest::newRow("bare LF and CR") << QByteArray("a\nb\rc\r\nd\r");
    QTest::newRow("CR at the end of a CR LF text") << QByteArray("a\r\nb\r");
    QTest::newRow("paragraph separator") << QByteArray("a\xE2\x80\xA9"
                                                       "b\r\n");
    QTest::newRow("no-break space and line separator stay") << QByteArray("a\xC2\xA0"
                                                                          "b\xE2\x80\xA8"
                                                                          "c\r\n");
    QTest::newRow("characters of two, three and four bytes")
        << QByteArray("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\r\nx");
    QTest::newRow("zero byte ends the text") << QByteArray("kept\r\n\0lost", 12);
    QTest::newRow("Windows-1252") << QByteArray("\x93quoted\x94\r\n\x80\n");
}

void TestJournalView::testStoredBytes()
{
    // The buffer reads stored bytes in place as MemoText reads them into a string.
    QFETCH(QByteArray, bytes);
    const MemoText::Decoded expected = MemoText::decode(bytes);
    TextBuffer buffer;
    const TextBuffer::Loaded loaded = buffer.setStoredBytes(bytes);
    QCOMPARE(buffer.toString(), QString(expected.text).replace(QChar::ParagraphSeparator, u'\n'));
    QCOMPARE(loaded.cutAtZero, expected.cutAtZero);
    QCOMPARE(loaded.windows1252, expected.windows1252);
    QCOMPARE(loaded.lineBreaksChanged, expected.lineBreaksChanged);
    QCOMPARE(buffer.lineCount(), buffer.toString().count(u'\n') + 1);
    QCOMPARE(buffer.storedBytes(), MemoText::encode(buffer.toString()));
}

void TestJournalView::testStoredBytesAreTakenOverInPlace()
{
    QByteArray bytes = QByteArray("caf\xC3\xA9\r\n").repeated(1000);
    bytes.detach();
    const char* data = bytes.constData();
    TextBuffer buffer;
    buffer.setStoredBytes(std::move(bytes));
    QCOMPARE(buffer.utf8().constData(), data);
    QCOMPARE(buffer.size(), 5000);
}

// A store's worker reads a snapshot while the window edits on: writes into the snapshot's gap
// share its array, every other write must leave what it reads as it was.
void TestJournalView::testSnapshotKeepsItsTextWhileTheBufferChanges()
{
    TextBuffer buffer;
    buffer.setText(QStringLiteral("first line\nsecond \u00e9"));
    buffer.replace(buffer.size(), 0, QStringLiteral("\nthird")); // leaves a gap at the end
    const QByteArray stored = buffer.storedBytes();
    const TextBuffer::Snapshot snapshot = buffer.snapshot();
    QString expected = buffer.toString();
    const auto edit = [&](qsizetype position, qsizetype removed, const QString& added) {
        buffer.replace(position, removed, added);
        expected.replace(position, removed, added);
        QCOMPARE(TextBuffer::storedBytes(snapshot), stored);
        QCOMPARE(buffer.toString(), expected);
    };
    edit(buffer.size(), 0, QStringLiteral("\na capture"));
    edit(buffer.size() - 3, 3, QString()); // removes bytes the snapshot reads, then writes over them
    edit(buffer.size(), 0, QStringLiteral("ure, again"));
    edit(0, 5, QStringLiteral("FIRST"));
    edit(buffer.size(), 0, QString(100000, QLatin1Char('x'))); // grows the array
    edit(6, 0, QStringLiteral("\n"));
}

void TestJournalView::testPositionsAcrossEncodings()
{
    // Lines of ASCII, of two- to four-byte characters, and long ones that need checkpoints,
    // edited at random; every position must map as it does in a QString.
    const QString pieces[] = { QStringLiteral("ascii "), QStringLiteral("caf\u00e9 "), QStringLiteral("\u20ac\u65e5 "),
        QStringLiteral("\U0001F600"), QStringLiteral("\n") };
    QRandomGenerator random(19);
    QString reference;
    for (int i = 0; i < 3000; ++i) {
        reference += pieces[random.bounded(i < 2000 ? 4 : 5)];
    }
    TextBuffer buffer;
    buffer.setText(reference);
    QString replayed = reference;
    connect(&buffer, &TextBuffer::changed, this, [&](qsizetype position, qsizetype removed, const QString& added) {
        replayed.replace(position, removed, added);
    });
    const auto boundary = [&](qsizetype at) {
        return at > 0 && at < reference.size() && reference.at(at).isLowSurrogate() ? at - 1 : at;
    };
    for (int round = 0; round < 200; ++round) {
        const qsizetype position = boundary(random.bounded(reference.size() + 1));
        const qsizetype removed
            = boundary(std::min<qsizetype>(reference.size(), position + random.bounded(40))) - position;
        const QString added = pieces[random.bounded(5)].repeated(random.bounded(3));
        buffer.replace(position, removed, added);
        reference.replace(position, removed, added);
        for (int probe = 0; probe < 20; ++probe) {
            const qsizetype at = boundary(random.bounded(reference.size() + 1));
            const qsizetype length = boundary(std::min<qsizetype>(reference.size(), at + random.bounded(50))) - at;
            QCOMPARE(buffer.mid(at, length), reference.mid(at, length));
            const qsizetype line = buffer.lineAt(at);
            QCOMPARE(line, reference.left(at).count(u'\n'));
            QCOMPARE(buffer.lineStart(line), at == 0 ? 0 : reference.lastIndexOf(u'\n', at - 1) + 1);
            if (at < reference.size()) {
                QCOMPARE(buffer.at(at), reference.at(at));
            }
        }
    }
    QCOMPARE(buffer.toString(), reference);
    QCOMPARE(buffer.storedBytes(), MemoText::encode(reference));
    QCOMPARE(replayed, reference);
}

void TestJournalView::testFindMatchesTextPosFrom_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("needle");
    QTest::newRow("case folded") << "xxAByyab"
                                 << "ab";
    QTest::newRow("repeats do not overlap") << "aaaa"
                                            << "aa";
    QTest::newRow("only ASCII folds") << "\u00c9t\u00e9 \u00e9T\u00e9"
                                      << "\u00e9t\u00e9";
    QTest::newRow("after characters of every length") << "\u00e9\u20ac\U0001F600 Needle, needle"
                                                      << "NEEDLE";
    QTest::newRow("across lines") << "one\ntwo\nthree"
                                  << "o\nt";
    QTest::newRow("capital first letter only later") << "bbbb Bbbx"
                                                     << "bbx";
    QTest::newRow("missing") << "nothing here"
                             << "absent";
    QTest::newRow("longer than the text") << "ab"
                                          << "abc";
    // The search starts from the needle's rarest byte; matches must still begin where they begin.
    QTest::newRow("rare letter late in the needle") << "the quiz, The Quiz, quiz"
                                                    << "the quiz";
    QTest::newRow("rare letter at the text's end") << "aazaaz"
                                                   << "aaz";
    QTest::newRow("digits and punctuation") << "v1.2 and V1.2."
                                            << "v1.2";
}

void TestJournalView::testFindMatchesTextPosFrom()
{
    // Each occurrence in turn, as the find bar's Next goes on after the match.
    QFETCH(QString, text);
    QFETCH(QString, needle);
    TextBuffer buffer;
    buffer.setText(text);
    for (const bool caseSensitive : { false, true }) {
        for (qsizetype from = 0; from <= text.size(); ++from) {
            QCOMPARE(buffer.find(needle, from, caseSensitive), TextPosFrom(needle, text, from + 1, caseSensitive) - 1);
        }
    }
}

void TestJournalView::testTextPositions_data()
{
    QTest::addColumn<qsizetype>("position");
    QTest::addColumn<qsizetype>("textPosition");
    // In "ab\ncd\n\ne", as stored "ab\r\ncd\r\n\r\ne".
    QTest::newRow("start") << qsizetype(0) << qsizetype(0);
    QTest::newRow("before the first break") << qsizetype(2) << qsizetype(2);
    QTest::newRow("second line") << qsizetype(3) << qsizetype(4);
    QTest::newRow("empty line") << qsizetype(6) << qsizetype(8);
    QTest::newRow("end") << qsizetype(8) << qsizetype(11);
}

void TestJournalView::testTextPositions()
{
    QFETCH(qsizetype, position);
    QFETCH(qsizetype, textPosition);
    TextBuffer buffer;
    buffer.setText(QStringLiteral("ab\ncd\n\ne"));
    QCOMPARE(buffer.toTextPosition(position), textPosition);
    QCOMPARE(buffer.fromTextPosition(textPosition), position);
    // Between CR and LF is the end of the line.
    QCOMPARE(buffer.fromTextPosition(3), 2);
}

void TestJournalView::testUndoLimitKeepsNewestSteps()
{
    TextBuffer buffer;
    buffer.setText(QString(100000, u'x'));
    buffer.setUndoLimit(1000);
    // A deletion far larger than the limit can still be taken back while it is the newest step.
    buffer.replace(0, 100000, QString());
    QCOMPARE(buffer.undo(), 100000);
    QCOMPARE(buffer.size(), 100000);
    // Older steps go once the steps hold more than the limit, however few they are.
    buffer.replace(0, 100000, QString());
    for (int i = 0; i < 150; ++i) {
        buffer.replace(0, 0, QStringLiteral("0123456789"));
        buffer.closeUndoStep();
    }
    qsizetype steps = 0;
    while (buffer.undo() >= 0) {
        ++steps;
    }
    QCOMPARE(steps, 100);
    QCOMPARE(buffer.size(), 500);
}

void TestJournalView::testEditsMatchPlainTextEdit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("typing merges into one undo step")
        << QString()
        << QStringList { "type hello world", "undo", "undo", "redo", "key Backspace", "key Backspace", "undo",
               "type  again", "key Return", "type x", "undo", "undo", "undo" };
    QTest::newRow("words and row ends") << Words
                                        << QStringList { "select 0", "key Ctrl+Right", "key Ctrl+Right",
                                               "key Ctrl+Right", "key Ctrl+Right", "key Ctrl+Right", "key Ctrl+Right",
                                               "key Ctrl+Right", "key Ctrl+Shift+Right", "key Ctrl+Left",
                                               "key Ctrl+Left", "key End", "key Home", "key Shift+End", "key Left",
                                               "key Shift+Home", "key Right", "key Down", "key Up", "key Up",
                                               "key Ctrl+End", "key Ctrl+Shift+Home", "key Shift+Up" };
    QTest::newRow("wrapped rows") << wrapped()
                                  << QStringList { "select 5", "key Down", "key Down", "key Down", "key Down",
                                         "key Down", "key Up", "key End", "key Home", "key End", "key End",
                                         "key Shift+Down", "key Backspace", "undo", "key Ctrl+Home", "key Ctrl+End",
                                         "key Up", "key Up" };
    QTest::newRow("line breaks") << QStringLiteral("ab\ncd\nef")
                                 << QStringList { "select 3", "key Backspace", "undo", "key Return", "key Shift+Return",
                                        "type z", "undo", "select 5", "key Del", "key Del", "undo",
                                        "key Ctrl+Backspace", "key Ctrl+End", "key Right", "key Left",
                                        "key Ctrl+Left" };
    QTest::newRow("surrogates and combining marks")
        << (QStringLiteral("a") + QChar(0xD83D) + QChar(0xDE00) + QStringLiteral("e\u0301b\nx"))
        << QStringList { "select 0", "key Right", "key Right", "key Right", "key Right", "key Left", "key Backspace",
               "key Del", "undo", "undo", "select 5", "key Backspace", "key Backspace", "undo" };
    QTest::newRow("typing over a selection")
        << QStringLiteral("one two three")
        << QStringList { "select 0 3", "type XY", "undo", "redo", "key Shift+Left", "key Shift+Left", "type Z",
               "select 8 4", "key Del", "undo", "select 4 8", "key Backspace", "key Backspace", "undo", "undo" };
    QTest::newRow("deleting words") << Words
                                    << QStringList { "select 20", "key Ctrl+Backspace", "key Ctrl+Backspace", "undo",
                                           "key Ctrl+Del", "key Ctrl+Del", "undo", "undo" };
    QTest::newRow("clipboard") << QStringLiteral("one two\nthree")
                               << QStringList { "select 4 7", "key Ctrl+C", "end", "key Ctrl+V", "key Ctrl+V", "undo",
                                      "key Ctrl+A", "key Ctrl+X", "key Ctrl+V", "undo", "undo", "select 8 13",
                                      "key Shift+Del", "key Shift+Ins" };
    QTest::newRow("empty text") << QString()
                                << QStringList { "key Left", "key Right", "key Up", "key Down", "key Backspace",
                                       "key Del", "key End", "key Ctrl+End", "key PgDown", "key PgUp", "undo",
                                       "key Ctrl+A", "type a" };
    QTest::newRow("tabs and programmatic inserts") << QStringLiteral("a\tb\tc\nd")
                                                   << QStringList { "select 2", "key End", "key Home", "key Tab",
                                                          "insert x\r\ny", "undo", "end", "insert z", "key Ctrl+Z" };
    QTest::newRow("wide characters wrap")
        << QStringLiteral(
               "日本語のテキストは幅が広いのでこの行は早めに折り返されます。日本語のテキストは幅が広いです。\nnext")
        << QStringList { "select 3", "key Down", "key Down", "key End", "key Up", "key Home" };
    QTest::newRow("line separator inside a line")
        << QStringLiteral("ab\u2028cd\nef")
        << QStringList { "select 1", "key Down", "key Down", "key Up", "key End", "key Right", "key Right" };
    QTest::newRow("mouse") << Words
                           << QStringList { "click 5", "shiftclick 12", "click 30", "dclick 10", "dclick 7",
                                  "dclick 20", "dclick 31", "drag 2 30", "drag 40 4", "click 44" };
    QTest::newRow("mouse on wrapped rows")
        << wrapped() << QStringList { "click 50", "dclick 60", "shiftclick 120", "drag 10 200", "click 210" };
}

void TestJournalView::testEditsMatchPlainTextEdit()
{
    QFETCH(QString, text);
    QFETCH(QStringList, steps);
    QGuiApplication::clipboard()->clear();
    Pair pair;
    pair.setText(text);
    for (const QString& step : steps) {
        pair.run(step);
        const QTextCursor expected = pair.plain.textCursor();
        const TextCursor actual = pair.view.textCursor();
        const QByteArray where = "after \"" + step.toUtf8() + '"';
        QVERIFY2(pair.view.toPlainText() == pair.plainText(),
            where + ": text [" + pair.view.toPlainText().toUtf8() + "], expected [" + pair.plainText().toUtf8() + ']');
        QVERIFY2(actual.position() == expected.position() && actual.anchor() == expected.anchor(),
            where + ": caret " + QByteArray::number(actual.anchor()) + "->" + QByteArray::number(actual.position())
                + ", expected " + QByteArray::number(expected.anchor()) + "->"
                + QByteArray::number(expected.position()));
    }
}

void TestJournalView::testLongLines_data()
{
    QTest::addColumn<QString>("line");
    QString words;
    for (int i = 0; words.size() < 20000; ++i) {
        words += QStringLiteral("word%1 ").arg(i);
    }
    QTest::newRow("words") << words;
    QTest::newRow("no blanks") << QString(15000, u'x');
    QTest::newRow("surrogate pairs, no blanks") << QStringLiteral("\U0001F600").repeated(6000);
    QTest::newRow("combining marks, no blanks") << QStringLiteral("e\u0301").repeated(6000);
}

void TestJournalView::testLongLines()
{
    // A line far longer than one layout piece: Down from its start visits every row start in
    // order, none splits a surrogate pair, each is where the mouse finds it, and Down goes on
    // to the next line at the end.
    QFETCH(QString, line);
    JournalView view;
    view.resize(300, 200);
    view.show();
    view.setPlainText(QStringLiteral("before\n") + line + QStringLiteral("\nafter"));
    const qsizetype start = 7;
    view.setTextCursor(TextCursor(start));
    qsizetype rows = 0;
    for (qsizetype rowStart = start; view.buffer()->lineAt(rowStart) == 1; ++rows) {
        QVERIFY(!line.at(rowStart - start).isLowSurrogate());
        view.moveCursor(JournalView::StartOfRow);
        QCOMPARE(view.textCursor().position(), rowStart);
        QVERIFY(view.viewport()->rect().contains(view.cursorRect()));
        QCOMPARE(view.positionAt(view.cursorRect().center() + QPoint(1, 0)), rowStart);
        view.moveCursor(JournalView::Down);
        QVERIFY(view.textCursor().position() > rowStart);
        rowStart = view.textCursor().position();
    }
    QVERIFY2(rows > line.size() / 100, qPrintable(QString::number(rows)));
    QCOMPARE(view.textCursor().position(), start + line.size() + 1);
    view.moveCursor(JournalView::Up);
    view.moveCursor(JournalView::EndOfLine);
    QCOMPARE(view.textCursor().position(), start + line.size());
    QCOMPARE(view.toPlainText().mid(start, line.size()), line);
}

void TestJournalView::testRowCountsFollowLayouts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("estimateExact");
    QString ascii;
    for (int i = 0; i < 300; ++i) {
        ascii += QStringLiteral("[2026-12-07-14:05:%1]-----------------\ncopied text %1\n").arg(i);
    }
    QTest::newRow("short ASCII lines") << ascii << true;
    QTest::newRow("combining marks") << QStringLiteral("e\u0301").repeated(60).append(u'\n').repeated(50) << false;
    QTest::newRow("tabs") << QStringLiteral("a\tb\tc\td\te\tf\tg\th\ti\n").repeated(50) << false;
}

void TestJournalView::testRowCountsFollowLayouts()
{
    // With a monospaced font a short ASCII line's row count follows from its length; elsewhere the
    // estimate is corrected as lines are laid out, until the total is what the layouts hold.
    QFETCH(QString, text);
    QFETCH(bool, estimateExact);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPointSize(9);
    TextBuffer buffer;
    buffer.setText(text);
    LineLayouts layouts(buffer);
    layouts.setFormat(font, 200);
    const qsizetype estimated = layouts.totalRows();
    qsizetype laidOut = 0;
    for (qsizetype line = 0; line < buffer.lineCount(); ++line) {
        for (int segment = 0; segment < layouts.segmentCount(line); ++segment) {
            laidOut += layouts.layout(line, segment).lineCount();
        }
        layouts.trim();
    }
    QCOMPARE(layouts.totalRows(), laidOut);
    QCOMPARE(estimated == laidOut, estimateExact);
    RowRef row = layouts.rowAt(laidOut - 1);
    QCOMPARE(layouts.rowNumber(row), laidOut - 1);
    QVERIFY(!layouts.nextRow(row));
}

void TestJournalView::testChangeNoticesReplayOnCopy()
{
    // Whatever the user does, the notices rebuild the text exactly on a copy.
    JournalView view;
    view.resize(300, 200);
    view.show();
    view.setFocus();
    view.setPlainText(wrapped());
    QString copy = view.toPlainText();
    connect(view.buffer(), &TextBuffer::changed, this,
        [&](qsizetype position, qsizetype removed, const QString& added) { copy.replace(position, removed, added); });
    QGuiApplication::clipboard()->setText(QStringLiteral("pasted\r\ntwo lines"));
    const QList<QKeyCombination> keys = { Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Return, Qt::Key_Left, Qt::Key_Down,
        Qt::ControlModifier | Qt::Key_Backspace, Qt::ControlModifier | Qt::Key_Z, Qt::ControlModifier | Qt::Key_Y,
        Qt::ControlModifier | Qt::Key_V, Qt::ShiftModifier | Qt::Key_Up, Qt::ControlModifier | Qt::Key_X,
        Qt::ShiftModifier | Qt::Key_Return, Qt::Key_A, Qt::Key_Space };
    QRandomGenerator random(7);
    for (int step = 0; step < 400; ++step) {
        const int choice = random.bounded(int(keys.size()) + 2);
        if (choice == keys.size()) {
            view.appendLine(QStringLiteral("capture %1").arg(step));
        } else if (choice == keys.size() + 1) {
            view.setTextCursor(TextCursor(random.bounded(view.buffer()->size() + 1)));
        } else {
            QTest::keyClick(&view, keys[choice].key(), keys[choice].keyboardModifiers());
        }
        QCOMPARE(copy, view.toPlainText());
    }
    QCOMPARE(view.buffer()->storedBytes(), MemoText::encode(copy));
}

void TestJournalView::testAppendLine_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("after");
    QTest::newRow("empty") << QString() << "abc"
                           << "abc\n";
    QTest::newRow("ends with a line break") << "x\n"
                                            << "abc"
                                            << "x\nabc\n";
    QTest::newRow("typed after the last break") << "x\ntyped"
                                                << "abc"
                                                << "x\ntyped\nabc";
    QTest::newRow("line breaks of every kind") << "x\n"
                                               << "a\r\nb\nc\rd"
                                               << "x\na\nb\nc\nd\n";
    QTest::newRow("empty capture") << "x\n"
                                   << ""
                                   << "x\n\n";
}

void TestJournalView::testAppendLine()
{
    QFETCH(QString, before);
    QFETCH(QString, text);
    QFETCH(QString, after);
    JournalView view;
    view.resize(300, 200);
    view.show();
    // A long text and a selection at its top: the capture still ends up under the caret, in view.
    const QString filler = QStringLiteral("line\n").repeated(500);
    view.setPlainText(filler + before);
    TextCursor selection(0);
    selection.setPosition(3, TextCursor::KeepAnchor);
    view.setTextCursor(selection);
    view.appendLine(text);
    QCOMPARE(view.toPlainText(), filler + after);
    QCOMPARE(view.textCursor(), TextCursor(view.buffer()->size()));
    QVERIFY(view.cursorRect().isValid());
    QVERIFY(view.viewport()->rect().contains(view.cursorRect()));
    QCOMPARE(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
}

void TestJournalView::testScrollingReachesBothEnds()
{
    JournalView view;
    view.resize(300, 200);
    view.show();
    view.setFocus();
    QString text;
    for (int i = 0; i < 2000; ++i) {
        text += QStringLiteral("line %1\n").arg(i);
    }
    view.setPlainText(text + wrapped());
    QScrollBar* bar = view.verticalScrollBar();
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(view.cursorRect().isValid());
    // The scroll bar's ends show the text's ends.
    bar->setValue(0);
    QCOMPARE(view.positionAt(QPoint(5, 5)), 0);
    bar->setValue(bar->maximum());
    const QPoint bottom(view.viewport()->width() - 5, view.viewport()->height() - 5);
    QCOMPARE(view.buffer()->lineAt(view.positionAt(bottom)), view.buffer()->lineCount() - 1);
    // Page Down from the top walks the whole text in order, the caret always in view.
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    qsizetype pages = 0;
    for (qsizetype before = -1; view.textCursor().position() != before && pages < 1000; ++pages) {
        before = view.textCursor().position();
        QTest::keyClick(&view, Qt::Key_PageDown);
        QVERIFY(view.textCursor().position() >= before);
        QVERIFY(view.viewport()->rect().contains(view.cursorRect()));
    }
    QVERIFY(pages > 50);
    QCOMPARE(view.buffer()->lineAt(view.textCursor().position()), view.buffer()->lineCount() - 1);
    QTest::keyClick(&view, Qt::Key_PageUp);
    QVERIFY(view.buffer()->lineAt(view.textCursor().position()) < view.buffer()->lineCount() - 1);
}

void TestJournalView::testLooksAndSelectionWithoutFocus()
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* view = new JournalView;
    auto* other = new QLineEdit;
    layout->addWidget(view);
    layout->addWidget(other);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, Qt::black);
    palette.setColor(QPalette::Text, Qt::green);
    palette.setColor(QPalette::Active, QPalette::Highlight, Qt::blue);
    palette.setColor(QPalette::Inactive, QPalette::Highlight, Qt::red);
    view->setPalette(palette);
    window.resize(300, 300);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    view->setPlainText(QStringLiteral("selected text"));
    view->selectAll();
    const auto colours = [view] {
        QSet<QRgb> seen;
        const QImage image = view->viewport()->grab().toImage();
        for (int y = 0; y < image.height(); y += 2) {
            for (int x = 0; x < image.width(); x += 2) {
                seen.insert(image.pixel(x, y));
            }
        }
        return seen;
    };
    view->setFocus();
    QTRY_VERIFY(view->hasFocus());
    QSet<QRgb> seen = colours();
    QVERIFY(seen.contains(QColor(Qt::black).rgb()));
    QVERIFY(seen.contains(QColor(Qt::blue).rgb()));
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());
    seen = colours();
    QVERIFY(seen.contains(QColor(Qt::red).rgb()));
    QVERIFY(!seen.contains(QColor(Qt::blue).rgb()));
}

void TestJournalView::testInputMethodComposesOutsideText()
{
    JournalView view;
    view.resize(300, 200);
    view.show();
    view.setPlainText(QStringLiteral("ab"));
    view.setTextCursor(TextCursor(1));
    QSignalSpy changes(view.buffer(), &TextBuffer::changed);
    QInputMethodEvent compose(QStringLiteral("にほ"), {});
    QApplication::sendEvent(&view, &compose);
    QCOMPARE(view.toPlainText(), QStringLiteral("ab"));
    QCOMPARE(changes.size(), 0);
    QCOMPARE(view.inputMethodQuery(Qt::ImSurroundingText).toString(), QStringLiteral("ab"));
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("日本"));
    QApplication::sendEvent(&view, &commit);
    QCOMPARE(view.toPlainText(), QStringLiteral("a日本b"));
    QCOMPARE(view.textCursor(), TextCursor(3));
    QCOMPARE(changes.size(), 1);
    view.undo();
    QCOMPARE(view.toPlainText(), QStringLiteral("ab"));
}

void TestJournalView::testDropInsertsAtPoint()
{
    Pair pair;
    pair.setText(Words);
    QMimeData data;
    data.setText(QStringLiteral("dropped "));
    const QPoint point = pair.pointOf(4);
    for (QAbstractScrollArea* widget :
        { static_cast<QAbstractScrollArea*>(&pair.plain), static_cast<QAbstractScrollArea*>(&pair.view) }) {
        QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDragMoveEvent move(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget->viewport(), &move);
        QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget->viewport(), &drop);
        QVERIFY(drop.isAccepted());
    }
    QCOMPARE(pair.view.toPlainText(), pair.plainText());
    QCOMPARE(pair.view.textCursor().position(), pair.plain.textCursor().position());
}

void TestJournalView::testAccessibleText()
{
    JournalView view;
    view.resize(300, 200);
    view.show();
    view.setAccessibleName(QStringLiteral("Clipboard Journal"));
    view.setPlainText(Words);
    view.setTextCursor(TextCursor(9));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&view);
    QVERIFY(accessible != nullptr);
    QCOMPARE(accessible->role(), QAccessible::EditableText);
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Clipboard Journal"));
    QAccessibleTextInterface* text = accessible->textInterface();
    QVERIFY(text != nullptr);
    QCOMPARE(text->characterCount(), Words.size());
    QCOMPARE(text->cursorPosition(), 9);
    int start = 0;
    int end = 0;
    QCOMPARE(text->textAtOffset(10, QAccessible::WordBoundary, &start, &end), QStringLiteral("three"));
    QCOMPARE(text->textAtOffset(30, QAccessible::LineBoundary, &start, &end), QStringLiteral("six (seven) eight-nine"));
    QCOMPARE(text->textBeforeOffset(30, QAccessible::LineBoundary, &start, &end), QStringLiteral("\n"));
    QCOMPARE(text->textAfterOffset(3, QAccessible::CharBoundary, &start, &end), QStringLiteral("t"));
    QCOMPARE(text->offsetAtPoint(text->characterRect(4).center()), 4);
    accessible->editableTextInterface()->replaceText(0, 3, QStringLiteral("ONE"));
    QVERIFY(view.toPlainText().startsWith(QStringLiteral("ONE two")));
}

void TestJournalView::testContextMenuMatchesPlainTextEdit()
{
    Pair pair;
    const auto entries = [](QMenu* menu) {
        QStringList names;
        for (const QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                names << action->objectName() + (action->isEnabled() ? QStringLiteral("+") : QStringLiteral("-"));
            }
        }
        delete menu;
        return names;
    };
    QGuiApplication::clipboard()->clear();
    pair.setText(QString());
    QCOMPARE(entries(pair.view.createStandardContextMenu()), entries(pair.plain.createStandardContextMenu()));
    QGuiApplication::clipboard()->setText(QStringLiteral("clip"));
    pair.setText(Words);
    pair.run(QStringLiteral("select 4 7"));
    pair.run(QStringLiteral("type x"));
    pair.run(QStringLiteral("select 0 3"));
    QCOMPARE(entries(pair.view.createStandardContextMenu()), entries(pair.plain.createStandardContextMenu()));
    pair.run(QStringLiteral("undo"));
    QCOMPARE(entries(pair.view.createStandardContextMenu()), entries(pair.plain.createStandardContextMenu()));
    // Delete removes the selection.
    pair.run(QStringLiteral("select 0 3"));
    pair.view.createStandardContextMenu()->findChild<QAction*>(QStringLiteral("edit-delete"))->trigger();
    QCOMPARE(pair.view.toPlainText(), Words.mid(3));
}

QTEST_MAIN(TestJournalView)
#include "TestJournalView.moc"
