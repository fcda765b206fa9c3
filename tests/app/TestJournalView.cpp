#include "app/JournalView.h"
#include "app/LineLayouts.h"
#include "app/TextBuffer.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
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
    void testEditsMatchPlainTextEdit_data();
    void testEditsMatchPlainTextEdit();
};

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

QTEST_MAIN(TestJournalView)
#include "TestJournalView.moc"
