#include "app/MemoText.h"

#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace MemoText
{
QByteArray toBytes(const QPlainTextEdit* memo)
{
    // The raw text keeps no-break spaces and line separators that toPlainText() would change.
    const QString raw = memo->document()->toRawText();
    QString text;
    text.reserve(raw.size() + raw.size() / 16);
    qsizetype start = 0;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw.at(i) == QChar::ParagraphSeparator) {
            text.append(QStringView(raw).sliced(start, i - start));
            text.append(QLatin1String("\r\n"));
            start = i + 1;
        }
    }
    text.append(QStringView(raw).sliced(start));
    return text.toUtf8();
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

void setFromBytes(QPlainTextEdit* memo, const QByteArray& bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    const QByteArrayView text = end < 0 ? QByteArrayView(bytes) : QByteArrayView(bytes).first(end);
    // Building a detached document and handing it over spares the widget an update per line.
    auto* document = new QTextDocument(memo);
    document->setDocumentLayout(new QPlainTextDocumentLayout(document));
    document->setDefaultFont(memo->document()->defaultFont());
    document->setUndoRedoEnabled(false);
    document->setPlainText(normalizeLineBreaks(QString::fromUtf8(text)));
    document->setUndoRedoEnabled(true);
    // The widget deletes only the document it made itself; one made here goes with the next load.
    QTextDocument* old = memo->document();
    const bool ours = old->parent() == memo;
    memo->setDocument(document);
    if (ours) {
        delete old;
    }
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

qsizetype toTextPosition(const QTextDocument* document, int documentPosition)
{
    return documentPosition + document->findBlock(documentPosition).blockNumber();
}

int toDocumentPosition(const QTextDocument* document, qsizetype textPosition)
{
    // The last block whose first character lies at or before the text position.
    int low = 0;
    int high = document->blockCount() - 1;
    while (low < high) {
        const int middle = (low + high + 1) / 2;
        if (document->findBlockByNumber(middle).position() + middle <= textPosition) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    const qsizetype position = textPosition - low;
    return int(std::clamp<qsizetype>(position, 0, document->characterCount() - 1));
}

void selectText(QPlainTextEdit* memo, qsizetype textPosition, qsizetype length)
{
    const QTextDocument* document = memo->document();
    QTextCursor cursor = memo->textCursor();
    cursor.setPosition(toDocumentPosition(document, textPosition));
    cursor.setPosition(toDocumentPosition(document, textPosition + length), QTextCursor::KeepAnchor);
    memo->setTextCursor(cursor);
    memo->ensureCursorVisible();
}
} // namespace MemoText
