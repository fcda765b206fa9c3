#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QTextDocument;

// A copy of a document's raw text (one U+2029 per line break) kept current as
// the document changes, so that a search does not copy a large journal per key.
class DocumentText : public QObject
{
    Q_OBJECT

public:
    explicit DocumentText(QObject* parent = nullptr);

    // The text of the given document; the copy follows whichever document it was last asked for.
    const QString& text(QTextDocument* document);

private:
    void onContentsChange(int position, int removed, int added);

    QPointer<QTextDocument> m_document;
    QMetaObject::Connection m_connection;
    QString m_text;
    bool m_valid = false;
};
