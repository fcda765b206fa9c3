#include "app/MemoText.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace MemoText
{
QByteArray toBytes(const QPlainTextEdit* memo)
{
    // The raw text keeps no-break spaces and line separators that toPlainText() would change.
    QString text = memo->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
    return text.toUtf8();
}

QString normalizeLineBreaks(QString text)
{
    if (text.contains(QLatin1Char('\r'))) {
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    }
    return text;
}

void setFromBytes(QPlainTextEdit* memo, const QByteArray& bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    const QByteArrayView text = end < 0 ? QByteArrayView(bytes) : QByteArrayView(bytes).first(end);
    memo->setPlainText(normalizeLineBreaks(QString::fromUtf8(text)));
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
} // namespace MemoText
