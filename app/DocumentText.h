#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QPlainTextEdit;
class QTextDocument;

// A copy of a memo's text, one LF per line break, kept current from the
// document's change notices: a search or a store need not copy a large journal
// again, and every change is told as the replacement it made.
class DocumentText : public QObject
{
    Q_OBJECT

public:
    explicit DocumentText(QPlainTextEdit* memo);

    // Follows the memo's document from now on; its text is the one given (as a load has just set it).
    void follow(const QString& text);
    // A document that was replaced behind the copy's back is taken anew.
    const QString& text();

Q_SIGNALS:
    // The characters [position, position + removed) were replaced by added.
    void changed(qsizetype position, qsizetype removed, const QString& added);
    // A change could not be followed exactly; the copy was taken anew from the document.
    void retaken(const QString& text);

private:
    void onContentsChange(int position, int removed, int added);
    QString documentText() const;

    QPlainTextEdit* m_memo;
    QPointer<QTextDocument> m_document;
    QMetaObject::Connection m_connection;
    QString m_text;
};
