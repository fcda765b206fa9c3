#include "app/DocumentText.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

namespace
{
QString withLineFeeds(QString text)
{
    return text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
}
} // namespace

DocumentText::DocumentText(QPlainTextEdit* memo)
    : QObject(memo)
    , m_memo(memo)
{
    follow(documentText());
}

void DocumentText::follow(const QString& text)
{
    disconnect(m_connection);
    m_document = m_memo->document();
    m_connection = connect(m_document, &QTextDocument::contentsChange, this, &DocumentText::onContentsChange);
    m_text = text;
}

const QString& DocumentText::text()
{
    if (m_memo->document() != m_document) {
        follow(documentText());
        Q_EMIT retaken(m_text);
    }
    return m_text;
}

QString DocumentText::documentText() const
{
    return withLineFeeds(m_memo->document()->toRawText());
}

void DocumentText::onContentsChange(int position, int removed, int added)
{
    const int end = m_document->characterCount() - 1;
    // Some changes are reported wider than they were, past the document's end; those are taken whole.
    if (position < 0 || position + removed > m_text.size() || position + added > end
        || m_text.size() - removed + added != end) {
        m_text = documentText();
        Q_EMIT retaken(m_text);
        return;
    }
    QTextCursor cursor(m_document);
    cursor.setPosition(position);
    cursor.setPosition(position + added, QTextCursor::KeepAnchor);
    const QString inserted = withLineFeeds(cursor.selectedText());
    if (QStringView(m_text).sliced(position, removed) == inserted) {
        return;
    }
    m_text.replace(position, removed, inserted);
    Q_EMIT changed(position, removed, inserted);
}
