#pragma once

#include <QByteArray>
#include <QString>

class QPlainTextEdit;
class QTextDocument;

// The text operations that the journal, the notes, the session archive and
// "Save As" share. A memo's text leaves the program as UTF-8 without BOM, lines
// joined by CR LF, whatever the widget keeps inside.
namespace MemoText
{
QByteArray toBytes(const QPlainTextEdit* memo);

// Replaces the memo's text. A zero byte ends the text; every CR LF, bare CR and
// bare LF becomes one line break.
void setFromBytes(QPlainTextEdit* memo, const QByteArray& bytes);

// Every CR LF and bare CR becomes LF.
QString normalizeLineBreaks(QString text);

// Appends text as a new last line: after the text when it is empty or ends with
// a line break, otherwise after a new line break. Leaves the caret after the
// appended characters, nothing selected, scrolled into view.
void appendLine(QPlainTextEdit* memo, const QString& text);

// Positions in the text as it leaves the memo (each line break two characters, CR and LF)
// and in the widget's document (each line break one character).
qsizetype toTextPosition(const QTextDocument* document, int documentPosition);
int toDocumentPosition(const QTextDocument* document, qsizetype textPosition);

// Selects length characters from a text position and scrolls the caret into view.
void selectText(QPlainTextEdit* memo, qsizetype textPosition, qsizetype length);
} // namespace MemoText
