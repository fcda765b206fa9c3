#include "textview/JournalViewAccessible.h"

#include "textview/JournalView.h"

#include <QAccessibleWidget>
#include <QTextBoundaryFinder>

namespace
{
// Text around an offset that boundaries are looked for in, so that a long line is not read whole.
constexpr qsizetype Reach = 4096;

class JournalViewAccessibleInterface : public QAccessibleWidget,
                                       public QAccessibleTextInterface,
                                       public QAccessibleEditableTextInterface
{
public:
    explicit JournalViewAccessibleInterface(JournalView* view)
        : QAccessibleWidget(view, QAccessible::EditableText)
    { }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        if (type == QAccessible::EditableTextInterface) {
            return static_cast<QAccessibleEditableTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }

    // A journal's whole text is too large to be its value; readers take it through the text interface.
    QString text(QAccessible::Text type) const override
    {
        return type == QAccessible::Value ? QString() : QAccessibleWidget::text(type);
    }

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        const TextCursor cursor = view()->textCursor();
        const bool selected = selectionIndex == 0 && cursor.hasSelection();
        *startOffset = selected ? int(cursor.selectionStart()) : 0;
        *endOffset = selected ? int(cursor.selectionEnd()) : 0;
    }
    int selectionCount() const override { return view()->textCursor().hasSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
    void removeSelection(int) override { setCursorPosition(cursorPosition()); }
    void setSelection(int, int startOffset, int endOffset) override
    {
        TextCursor cursor(startOffset);
        cursor.setPosition(endOffset, TextCursor::KeepAnchor);
        view()->setTextCursor(cursor);
    }
    int cursorPosition() const override { return int(view()->textCursor().position()); }
    void setCursorPosition(int position) override { view()->setTextCursor(TextCursor(position)); }

    QString text(int startOffset, int endOffset) const override
    {
        return view()->buffer()->mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(view()->buffer()->size()); }

    QString textAtOffset(
        int offset, QAccessible::TextBoundaryType boundary, int* startOffset, int* endOffset) const override
    {
        const TextBuffer* buffer = view()->buffer();
        qsizetype start = 0;
        qsizetype end = buffer->size();
        if (boundary != QAccessible::NoBoundary) {
            const qsizetype line = buffer->lineAt(offset);
            start = buffer->lineStart(line);
            end = buffer->lineEnd(line);
            if (offset >= end && end < buffer->size()) {
                start = end; // the line break
                end += 1;
            } else if (boundary != QAccessible::LineBoundary && boundary != QAccessible::ParagraphBoundary) {
                const qsizetype windowStart = std::max<qsizetype>(start, offset - Reach);
                const QString window = buffer->mid(windowStart, std::min<qsizetype>(end, offset + Reach) - windowStart);
                QTextBoundaryFinder finder(boundary == QAccessible::CharBoundary ? QTextBoundaryFinder::Grapheme
                        : boundary == QAccessible::WordBoundary                  ? QTextBoundaryFinder::Word
                                                                                 : QTextBoundaryFinder::Sentence,
                    window);
                finder.setPosition(offset - windowStart);
                const qsizetype before = finder.isAtBoundary() ? finder.position() : finder.toPreviousBoundary();
                const qsizetype after = finder.toNextBoundary();
                start = windowStart + std::max<qsizetype>(before, 0);
                end = after < 0 ? windowStart + window.size() : windowStart + after;
            }
        }
        *startOffset = int(start);
        *endOffset = int(end);
        return buffer->mid(start, end - start);
    }
    QString textBeforeOffset(
        int offset, QAccessible::TextBoundaryType boundary, int* startOffset, int* endOffset) const override
    {
        textAtOffset(offset, boundary, startOffset, endOffset);
        if (*startOffset == 0) {
            *endOffset = 0;
            return {};
        }
        return textAtOffset(*startOffset - 1, boundary, startOffset, endOffset);
    }
    QString textAfterOffset(
        int offset, QAccessible::TextBoundaryType boundary, int* startOffset, int* endOffset) const override
    {
        textAtOffset(offset, boundary, startOffset, endOffset);
        if (*endOffset >= characterCount()) {
            *startOffset = *endOffset = characterCount();
            return {};
        }
        return textAtOffset(*endOffset, boundary, startOffset, endOffset);
    }

    QRect characterRect(int offset) const override
    {
        const QRect caret = view()->cursorRect(offset);
        if (!caret.isValid()) {
            return {};
        }
        const QRect next = view()->cursorRect(offset + 1);
        const int width = next.isValid() && next.top() == caret.top() && next.left() > caret.left()
            ? next.left() - caret.left()
            : view()->fontMetrics().averageCharWidth();
        return QRect(view()->viewport()->mapToGlobal(caret.topLeft()), QSize(width, caret.height()));
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        return int(view()->positionAt(view()->viewport()->mapFromGlobal(point)));
    }
    void scrollToSubstring(int startIndex, int) override { view()->ensureVisible(startIndex); }
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

    void deleteText(int startOffset, int endOffset) override { replaceText(startOffset, endOffset, QString()); }
    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
    void replaceText(int startOffset, int endOffset, const QString& text) override
    {
        setSelection(0, startOffset, endOffset);
        view()->insertPlainText(text);
    }

private:
    JournalView* view() const { return static_cast<JournalView*>(widget()); }
};
} // namespace

QAccessibleInterface* journalViewAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("JournalView") && object != nullptr && object->isWidgetType()) {
        return new JournalViewAccessibleInterface(static_cast<JournalView*>(object));
    }
    return nullptr;
}
