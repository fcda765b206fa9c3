#include "textview/MemoText.h"

#include "textview/JournalView.h"

#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace
{
// Windows-1252 where it differs from Latin-1; its five unassigned bytes stay the C1 controls.
constexpr char16_t Windows1252High[32] = { 0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6,
    0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013,
    0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178 };

QString fromWindows1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *out++ = QChar(byte >= 0x80 && byte < 0xA0 ? Windows1252High[byte - 0x80] : char16_t(byte));
    }
    return text;
}
} // namespace

namespace MemoText
{
QByteArray toBytes(const QPlainTextEdit* memo)
{
    // The raw text keeps no-break spaces and line separators that toPlainText() would change.
    return encode(memo->document()->toRawText());
}

QByteArray toBytes(const JournalView* memo)
{
    return memo->buffer()->storedBytes();
}

QString normalizeLineBreaks(QString text)
{
    const qsizetype firstCr = text.indexOf(QLatin1Char('\r'));
    if (firstCr < 0) {
        return text;
    }
    // One pass: QString::replace() is slow when most lines end in CR LF.
    QChar* out = text.data() + firstCr;
    const QChar* in = out;
    const QChar* end = text.constData() + text.size();
    while (in < end) {
        if (*in == QLatin1Char('\r')) {
            *out++ = QLatin1Char('\n');
            in += (in + 1 < end && in[1] == QLatin1Char('\n')) ? 2 : 1;
        } else {
            *out++ = *in++;
        }
    }
    text.truncate(out - text.constData());
    return text;
}

Decoded decode(QByteArrayView bytes)
{
    Decoded result;
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0) {
        result.cutAtZero = true;
        bytes = bytes.first(zero);
    }
    QString text;
    if (bytes.isValidUtf8()) {
        text = QString::fromUtf8(bytes);
    } else {
        result.windows1252 = true;
        text = fromWindows1252(bytes);
    }
    qsizetype crlf = 0;
    qsizetype breaks = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            ++crlf;
            ++breaks;
            ++i;
        } else if (bytes[i] == '\r' || bytes[i] == '\n') {
            ++breaks;
        }
    }
    // A paragraph separator in the text would leave the memo as a line break.
    result.lineBreaksChanged = crlf != breaks || text.contains(QChar::ParagraphSeparator);
    result.text = normalizeLineBreaks(std::move(text));
    return result;
}

QByteArray encode(QStringView text)
{
    QString withCrLf;
    withCrLf.reserve(text.size() + text.size() / 16);
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\n') || text[i] == QChar::ParagraphSeparator) {
            withCrLf.append(text.sliced(start, i - start));
            withCrLf.append(QLatin1String("\r\n"));
            start = i + 1;
        }
    }
    withCrLf.append(text.sliced(start));
    return withCrLf.toUtf8();
}

void setText(QPlainTextEdit* memo, const QString& text)
{
    // Building a detached document and handing it over spares the widget an update per line.
    auto* document = new QTextDocument(memo);
    document->setDocumentLayout(new QPlainTextDocumentLayout(document));
    document->setDefaultFont(memo->document()->defaultFont());
    document->setUndoRedoEnabled(false);
    document->setPlainText(text);
    document->setUndoRedoEnabled(true);
    // The widget deletes only the document it made itself; one made here goes with the next load.
    QTextDocument* old = memo->document();
    const bool ours = old->parent() == memo;
    memo->setDocument(document);
    if (ours) {
        delete old;
    }
}

void setFromBytes(QPlainTextEdit* memo, const QByteArray& bytes)
{
    setText(memo, decode(bytes).text);
}

void setFromBytes(JournalView* memo, QByteArray bytes)
{
    memo->buffer()->setStoredBytes(std::move(bytes));
}

void appendLine(QPlainTextEdit* memo, const QString& text)
{
    QTextDocument* document = memo->document();
    // An empty text and one that ends with a line break both end in an empty block.
    const bool atLineStart = document->lastBlock().length() <= 1;
    const QString line = normalizeLineBreaks(text);
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(atLineStart ? line + QLatin1Char('\n') : QLatin1Char('\n') + line);
    memo->setTextCursor(cursor);
    memo->ensureCursorVisible();
}

void selectText(JournalView* memo, qsizetype textPosition, qsizetype length)
{
    const TextBuffer* buffer = memo->buffer();
    TextCursor cursor(buffer->fromTextPosition(textPosition));
    cursor.setPosition(buffer->fromTextPosition(textPosition + length), TextCursor::KeepAnchor);
    memo->setTextCursor(cursor);
}
} // namespace MemoText
