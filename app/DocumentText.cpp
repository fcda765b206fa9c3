#include "app/DocumentText.h"

#include <QTextCursor>
#include <QTextDocument>

DocumentText::DocumentText(QObject* parent)
    : QObject(parent)
{ }

const QString& DocumentText::text(QTextDocument* document)
{
    if (document != m_document) {
        disconnect(m_connection);
        m_document = document;
        m_connection = connect(document, &QTextDocument::contentsChange, this, &DocumentText::onContentsChange);
        m_valid = false;
    }
    if (!m_valid || m_text.size() != document->characterCount() - 1) {
        m_text = document->toRawText();
        m_valid = true;
    }
    return m_text;
}

void DocumentText::onContentsChange(int position, int removed, int added)
{
    if (!m_valid) {
        return;
    }
    const int end = m_document->characterCount() - 1;
    if (position < 0 || position + removed > m_text.size() || position > end) {
        m_valid = false;
        return;
    }
    QTextCursor cursor(m_document);
    cursor.setPosition(position);
    cursor.setPosition(qMin(position + added, end), QTextCursor::KeepAnchor);
    m_text.remove(position, removed);
    m_text.insert(position, cursor.selectedText());
    // Some changes are reported wider than they were; a copy that went astray is rebuilt on demand.
    m_valid = m_text.size() == end;
}
