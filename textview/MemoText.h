#pragma once

#include <QByteArray>
#include <QString>

class JournalView;
class QPlainTextEdit;

// The text operations that the journal, the notes, the session archive and
// "Save As" share. A memo's text leaves the program as UTF-8 without BOM, lines
// joined by CR LF, whatever the widget keeps inside.
namespace MemoText
{
QByteArray toBytes(const QPlainTextEdit* memo);
QByteArray toBytes(const JournalView* memo);

// Stored bytes as the memo holds them, and what did not come through unchanged.
struct Decoded
{
    QString text; // one LF per line break
    bool cutAtZero = false; // the bytes held a zero, where the text ends
    bool windows1252 = false; // the bytes were no UTF-8 and were read as Windows-1252 text
    bool lineBreaksChanged = false; // a bare CR or LF became a line break that is written as CR LF
    bool changed() const { return cutAtZero || windows1252 || lineBreaksChanged; }
};
// A zero byte ends the text; every CR LF, bare CR and bare LF becomes one line break. Bytes that are
// no UTF-8 are read as Windows-1252, where every byte stands for a character.
Decoded decode(QByteArrayView bytes);
// The bytes a text with LF line breaks is stored as: UTF-8, lines joined by CR LF.
QByteArray encode(QStringView text);

// Replaces the memo's text (LF line breaks) in one step.
void setText(QPlainTextEdit* memo, const QString& text);
// Replaces the memo's text with decoded bytes.
void setFromBytes(QPlainTextEdit* memo, const QByteArray& bytes);
// Takes stored bytes over as the view's text, in place where they are UTF-8.
void setFromBytes(JournalView* memo, QByteArray bytes);

// Every CR LF and bare CR becomes LF.
QString normalizeLineBreaks(QString text);

// Appends text as a new last line: after the text when it is empty or ends with
// a line break, otherwise after a new line break. Leaves the caret after the
// appended characters, nothing selected, scrolled into view.
void appendLine(QPlainTextEdit* memo, const QString& text);

// Selects length characters from a text position (line breaks counted as CR LF) and scrolls the
// caret into view.
void selectText(JournalView* memo, qsizetype textPosition, qsizetype length);
} // namespace MemoText
