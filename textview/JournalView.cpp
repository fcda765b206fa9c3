#include "textview/JournalView.h"

#include "textview/JournalViewAccessible.h"
#include "textview/MemoText.h"

#include <QAccessible>
#include <QApplication>
#include <QDrag>
#include <QInputMethod>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTextCharFormat>
#include <QtMath>

#include <array>

namespace
{
// Space around the text, and the caret's width, as in Qt's plain text editor.
constexpr int Margin = 4;
constexpr int CaretWidth = 1;

// Characters that make a word of their own when a double click selects a word.
bool isWordSeparator(QChar c)
{
    static constexpr QStringView separators = u".,?!@#$:;-<>[](){}=/+%&^*'\"`~|\\";
    return separators.contains(c);
}

// CR LF, CR and U+2029 become LF, the one line break the buffer knows.
QString lineFeedsOnly(QString text)
{
    text = MemoText::normalizeLineBreaks(std::move(text));
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

struct KeyMove
{
    QKeySequence::StandardKey key;
    JournalView::Move move;
    TextCursor::MoveMode mode;
};

constexpr std::array KeyMoves {
    KeyMove { QKeySequence::MoveToNextChar, JournalView::NextCharacter, TextCursor::MoveAnchor },
    KeyMove { QKeySequence::MoveToPreviousChar, JournalView::PreviousCharacter, TextCursor::MoveAnchor },
    KeyMove { QKeySequence::SelectNextChar, JournalView::NextCharacter, TextCursor::KeepAnchor },
    KeyMove { QKeySequence::SelectPreviousChar, JournalView::PreviousCharacter, TextCursor::KeepAnchor },
    KeyMove { QKeySequence::MoveToNextWord, JournalView::NextWord, TextCursor::MoveAnchor },
    KeyMove { QKeySequence::MoveToPreviousWord, JournalView::PreviousWord, TextCursor::MoveAnchor },
    KeyMove { QKeySequence::SelectNextWord, JournalView::NextWord, TextCursor::KeepAnchor },
    KeyMove { QKeySequence::SelectPreviousWord, JournalView::PreviousWord, TextCursor::KeepAnchor },
    KeyMove { QKeySequence::MoveToNextLine, JournalView::Down, TextCursor::MoveAnchor },
    KeyMove { QKeySequence::MoveToPreviousLine, JournalView::Up, TextCursor::MoveAnchor },
    KeyMove { QKeySequence::SelectNextLine, JournalView::Down, TextCursor::KeepAnchor },
    KeyMove { QKeySequence::SelectPreviousLine, JournalView::Up, TextCursor::KeepAnchor },
    KeyMove { QKeySequence::MoveToStartOfLine, JournalView::StartOfRow, TextCursor::MoveAnchor },
    KeyMove { QKeySequence::MoveToEndOfLine, JournalView::EndOfRow, TextCursor::MoveAnchor },
    KeyMove { QKeySequence::SelectStartOfLine, JournalView::StartOfRow, TextCursor::KeepAnchor },
    KeyMove { QKeySequence::SelectEndOfLine, JournalView::EndOfRow, TextCursor::KeepAnchor },
    KeyMove { QKeySequence::MoveToStartOfBlock, JournalView::StartOfLine, TextCursor::MoveAnchor },
    KeyMove { QKeySequence::MoveToEndOfBlock, JournalView::EndOfLine, TextCursor::MoveAnchor },
    KeyMove { QKeySequence::SelectStartOfBlock, JournalView::StartOfLine, TextCursor::KeepAnchor },
    KeyMove { QKeySequence::SelectEndOfBlock, JournalView::EndOfLine, TextCursor::KeepAnchor },
    KeyMove { QKeySequence::MoveToStartOfDocument, JournalView::Start, TextCursor::MoveAnchor },
    KeyMove { QKeySequence::MoveToEndOfDocument, JournalView::End, TextCursor::MoveAnchor },
    KeyMove { QKeySequence::SelectStartOfDocument, JournalView::Start, TextCursor::KeepAnchor },
    KeyMove { QKeySequence::SelectEndOfDocument, JournalView::End, TextCursor::KeepAnchor },
};

constexpr std::array EditingKeys { QKeySequence::SelectAll, QKeySequence::Copy, QKeySequence::Paste, QKeySequence::Cut,
    QKeySequence::Undo, QKeySequence::Redo, QKeySequence::Delete, QKeySequence::Backspace,
    QKeySequence::DeleteEndOfWord, QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfLine,
    QKeySequence::InsertParagraphSeparator, QKeySequence::InsertLineSeparator, QKeySequence::MoveToNextPage,
    QKeySequence::MoveToPreviousPage, QKeySequence::SelectNextPage, QKeySequence::SelectPreviousPage };

bool isAcceptableInput(const QKeyEvent* event)
{
    const QString text = event->text();
    if (text.isEmpty()) {
        return false;
    }
    const QChar first = text.front();
    if (first.category() == QChar::Other_Format) {
        return true;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers == Qt::ControlModifier || modifiers == (Qt::ShiftModifier | Qt::ControlModifier)) {
        return false;
    }
    return first.isPrint() || first == QLatin1Char('\t') || first.category() == QChar::Other_PrivateUse
        || first.isHighSurrogate();
}
} // namespace

JournalView::JournalView(QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_buffer(new TextBuffer(this))
    , m_layouts(*m_buffer)
{
    connect(m_buffer, &TextBuffer::linesChanged, this, &JournalView::onLinesChanged);
    connect(m_buffer, &TextBuffer::changed, this, &JournalView::onChanged);
    connect(m_buffer, &TextBuffer::reset, this, &JournalView::onReset);
    connect(m_buffer, &TextBuffer::undoAvailable, this, &JournalView::undoAvailable);
    connect(m_buffer, &TextBuffer::redoAvailable, this, &JournalView::redoAvailable);
    connect(verticalScrollBar(), &QScrollBar::sliderReleased, this, &JournalView::syncScrollBar);

    static const bool accessible = (QAccessible::installFactory(journalViewAccessible), true);
    Q_UNUSED(accessible);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setCursor(Qt::IBeamCursor);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setInputMethodHints(Qt::ImhMultiLine);
    relayout();
}

JournalView::~JournalView() = default;

// ---- Text

void JournalView::setPlainText(QString text)
{
    m_buffer->setText(lineFeedsOnly(std::move(text)));
}

QString JournalView::selectedText() const
{
    return m_buffer->mid(m_cursor.selectionStart(), m_cursor.selectionEnd() - m_cursor.selectionStart());
}

void JournalView::insertPlainText(const QString& text)
{
    replaceSelection(lineFeedsOnly(text), EditKind::Other);
}

void JournalView::appendLine(const QString& text)
{
    const QString line = lineFeedsOnly(text);
    const qsizetype end = m_buffer->size();
    const bool atLineStart = end == 0 || m_buffer->at(end - 1) == QLatin1Char('\n');
    m_buffer->replace(end, 0, atLineStart ? line + QLatin1Char('\n') : QLatin1Char('\n') + line);
    setCaret(m_buffer->size(), m_buffer->size());
    ensureCursorVisible();
}

void JournalView::replaceSelection(const QString& text, EditKind kind)
{
    const qsizetype start = m_cursor.selectionStart();
    m_buffer->replace(start, m_cursor.selectionEnd() - start, text, kind);
    setCaret(start + text.size(), start + text.size());
}

void JournalView::removeRange(qsizetype from, qsizetype to, EditKind kind)
{
    if (to > from) {
        m_buffer->replace(from, to - from, QString(), kind);
    }
    setCaret(from, from);
}

void JournalView::selectAll()
{
    setCaret(0, m_buffer->size());
}

void JournalView::undo()
{
    const qsizetype caret = m_buffer->undo();
    if (caret >= 0) {
        setCaret(caret, caret);
        ensureCursorVisible();
    }
}

void JournalView::redo()
{
    const qsizetype caret = m_buffer->redo();
    if (caret >= 0) {
        setCaret(caret, caret);
        ensureCursorVisible();
    }
}

void JournalView::copy()
{
    if (m_cursor.hasSelection()) {
        QGuiApplication::clipboard()->setMimeData(createMimeDataFromSelection());
    }
}

void JournalView::cut()
{
    if (m_cursor.hasSelection()) {
        copy();
        removeRange(m_cursor.selectionStart(), m_cursor.selectionEnd(), EditKind::Other);
        ensureCursorVisible();
    }
}

void JournalView::paste()
{
    pasteFrom(QClipboard::Clipboard);
}

void JournalView::pasteFrom(QClipboard::Mode mode)
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(mode);
    if (data != nullptr && canInsertFromMimeData(data)) {
        insertFromMimeData(data);
        ensureCursorVisible();
    }
}

bool JournalView::canInsertFromMimeData(const QMimeData* source) const
{
    return source->hasText() && !source->text().isEmpty();
}

void JournalView::insertFromMimeData(const QMimeData* source)
{
    insertPlainText(source->text());
}

QMimeData* JournalView::createMimeDataFromSelection() const
{
    auto* data = new QMimeData;
    data->setText(selectedText());
    return data;
}

void JournalView::setClipboardSelection()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (m_cursor.hasSelection() && clipboard->supportsSelection()) {
        clipboard->setMimeData(createMimeDataFromSelection(), QClipboard::Selection);
    }
}

// ---- Caret and selection

void JournalView::setTextCursor(const TextCursor& cursor)
{
    setCaret(cursor.anchor(), cursor.position());
    ensureCursorVisible();
}

void JournalView::setCaret(qsizetype anchor, qsizetype position, bool keepGoalX)
{
    const qsizetype size = m_buffer->size();
    TextCursor cursor(std::clamp<qsizetype>(anchor, 0, size));
    cursor.setPosition(std::clamp<qsizetype>(position, 0, size), TextCursor::KeepAnchor);
    if (!keepGoalX) {
        m_goalX = -1;
    }
    const TextCursor before = m_cursor;
    m_cursor = cursor;
    restartBlinking();
    if (before == cursor) {
        return;
    }
    viewport()->update();
    const bool selectionMoved = before.hasSelection() || cursor.hasSelection();
    if (before.position() != cursor.position()) {
        Q_EMIT cursorPositionChanged();
    }
    if (selectionMoved
        && (before.selectionStart() != cursor.selectionStart() || before.selectionEnd() != cursor.selectionEnd())) {
        Q_EMIT selectionChanged();
    }
    if (before.hasSelection() != cursor.hasSelection()) {
        Q_EMIT copyAvailable(cursor.hasSelection());
    }
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent moved(this, int(cursor.position()));
        QAccessible::updateAccessibility(&moved);
        if (selectionMoved) {
            QAccessibleTextSelectionEvent selected(this, int(cursor.selectionStart()), int(cursor.selectionEnd()));
            QAccessible::updateAccessibility(&selected);
        }
    }
    updateMicroFocus();
}

void JournalView::moveCursor(Move move, TextCursor::MoveMode mode)
{
    const bool vertical = move == Up || move == Down;
    const qsizetype from = m_cursor.position();
    if (vertical && m_goalX < 0) {
        m_goalX = xOfPosition(from);
    }
    const qsizetype to = movedPosition(move, from);
    setCaret(mode == TextCursor::KeepAnchor ? m_cursor.anchor() : to, to, vertical);
    ensureCursorVisible();
}

qsizetype JournalView::movedPosition(Move move, qsizetype position)
{
    switch (move) {
    case Start:
        return 0;
    case End:
        return m_buffer->size();
    case StartOfLine:
        return m_buffer->lineStart(m_buffer->lineAt(position));
    case EndOfLine:
        return m_buffer->lineEnd(m_buffer->lineAt(position));
    case StartOfRow:
        return rowStartPosition(m_layouts.rowOf(position));
    case EndOfRow: {
        const RowRef row = m_layouts.rowOf(position);
        const QTextLine line = m_layouts.textLine(row);
        const qsizetype pieceStart = m_buffer->lineStart(row.line) + m_layouts.segmentStart(row.line, row.segment);
        const qsizetype end
            = pieceStart + m_layouts.fromLayoutOffset(row.line, row.segment, line.textStart() + line.textLength());
        RowRef next = row;
        // A wrapped row ends before the blank it was wrapped at, so the caret stays on it.
        if (m_layouts.nextRow(next) && next.line == row.line && end > rowStartPosition(row)
            && (next.segment != row.segment || m_buffer->at(end - 1).isSpace())) {
            return end - 1;
        }
        return end;
    }
    case PreviousCharacter:
        return previousCursorPosition(position, QTextLayout::SkipCharacters);
    case NextCharacter:
        return nextCursorPosition(position, QTextLayout::SkipCharacters);
    case PreviousWord:
        return previousCursorPosition(position, QTextLayout::SkipWords);
    case NextWord:
        return nextCursorPosition(position, QTextLayout::SkipWords);
    case Up:
    case Down:
        return rowMove(position, move == Down);
    }
    return position;
}

qsizetype JournalView::nextCursorPosition(qsizetype position, QTextLayout::CursorMode mode)
{
    const qsizetype line = m_buffer->lineAt(position);
    const qsizetype lineStart = m_buffer->lineStart(line);
    const qsizetype offset = position - lineStart;
    if (offset >= m_buffer->lineLength(line)) {
        return std::min(position + 1, m_buffer->size());
    }
    const int segment = m_layouts.segmentAt(line, offset);
    const qsizetype pieceStart = m_layouts.segmentStart(line, segment);
    const int next = m_layouts.layout(line, segment)
                         .nextCursorPosition(m_layouts.toLayoutOffset(line, segment, offset - pieceStart), mode);
    return lineStart + pieceStart + m_layouts.fromLayoutOffset(line, segment, next);
}

qsizetype JournalView::previousCursorPosition(qsizetype position, QTextLayout::CursorMode mode)
{
    const qsizetype line = m_buffer->lineAt(position);
    const qsizetype lineStart = m_buffer->lineStart(line);
    const qsizetype offset = position - lineStart;
    if (offset == 0) {
        return std::max<qsizetype>(position - 1, 0);
    }
    int segment = m_layouts.segmentAt(line, offset);
    if (segment > 0 && offset == m_layouts.segmentStart(line, segment)) {
        --segment;
    }
    const qsizetype pieceStart = m_layouts.segmentStart(line, segment);
    const int previous
        = m_layouts.layout(line, segment)
              .previousCursorPosition(m_layouts.toLayoutOffset(line, segment, offset - pieceStart), mode);
    return lineStart + pieceStart + m_layouts.fromLayoutOffset(line, segment, previous);
}

qsizetype JournalView::rowMove(qsizetype position, bool down)
{
    RowRef row = m_layouts.rowOf(position);
    if (!(down ? m_layouts.nextRow(row) : m_layouts.previousRow(row))) {
        return position;
    }
    return positionInRow(row, m_goalX);
}

std::pair<qsizetype, qsizetype> JournalView::wordAt(qsizetype position)
{
    const qsizetype line = m_buffer->lineAt(position);
    const qsizetype offset = position - m_buffer->lineStart(line);
    const int segment = m_layouts.segmentAt(line, offset);
    const qsizetype pieceStart = m_buffer->lineStart(line) + m_layouts.segmentStart(line, segment);
    const QTextLayout& layout = m_layouts.layout(line, segment);
    const QString text = layout.text();
    const qsizetype at = position - pieceStart;
    const qsizetype length = text.size();

    // Back to the start of the word, unless the position ends the text after a blank or a separator.
    qsizetype start = at;
    if (at > 0 && !(at == length && (text.at(at - 1).isSpace() || isWordSeparator(text.at(at - 1))))) {
        start = layout.previousCursorPosition(int(at < length ? at + 1 : at), QTextLayout::SkipWords);
    }
    // A run of separators is a word; so is a run of anything but blanks and separators.
    qsizetype end = start;
    if (end < length && isWordSeparator(text.at(end))) {
        while (end < length && isWordSeparator(text.at(end))) {
            ++end;
        }
    } else {
        while (end < length && !text.at(end).isSpace() && !isWordSeparator(text.at(end))) {
            ++end;
        }
    }
    return { pieceStart + start, pieceStart + end };
}

void JournalView::selectWordUnderCursor()
{
    const auto [start, end] = wordAt(m_cursor.position());
    setCaret(start, end);
}

void JournalView::pageUpDown(bool down, TextCursor::MoveMode mode)
{
    ensureCursorVisible();
    const qsizetype from = m_cursor.position();
    if (m_goalX < 0) {
        m_goalX = xOfPosition(from);
    }
    const Placed caret = place(m_layouts.rowOf(from));
    const int caretY = caret.visible ? caret.y : 0;
    const int height = viewport()->height();
    const RowRef oldTop = m_top;

    RowRef row = m_top;
    if (down) {
        // The first row that does not fit whole becomes the top.
        int y = topMargin();
        for (RowRef next = row; y + rowHeight(row) <= height && m_layouts.nextRow(next); row = next) {
            y += int(rowHeight(row));
        }
    } else {
        qreal above = 0;
        for (RowRef previous = row; m_layouts.previousRow(previous); row = previous) {
            above += rowHeight(previous);
            if (above > height) {
                break;
            }
        }
    }
    setTop(row);
    clampTop();

    RowRef target;
    if (m_top == oldTop) {
        target = down ? lastRow() : RowRef {};
    } else {
        // The caret keeps its place on screen.
        int y = topMargin();
        target = m_top;
        for (RowRef next = target; y + rowHeight(target) <= caretY && m_layouts.nextRow(next); target = next) {
            y += int(rowHeight(target));
        }
    }
    const qsizetype to = positionInRow(target, m_goalX);
    setCaret(mode == TextCursor::KeepAnchor ? m_cursor.anchor() : to, to, true);
}

void JournalView::restartBlinking()
{
    m_caretShown = true;
    const int flashTime = QApplication::cursorFlashTime();
    if (hasFocus() && flashTime >= 2) {
        m_blinkTimer.start(flashTime / 2, this);
    } else {
        m_blinkTimer.stop();
    }
}

// ---- Keys and input methods

bool JournalView::event(QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride && isEditingKey(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QAbstractScrollArea::event(event);
}

bool JournalView::isEditingKey(QKeyEvent* event)
{
    for (const KeyMove& move : KeyMoves) {
        if (event->matches(move.key)) {
            return true;
        }
    }
    for (const QKeySequence::StandardKey key : EditingKeys) {
        if (event->matches(key)) {
            return true;
        }
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers != Qt::NoModifier && modifiers != Qt::ShiftModifier && modifiers != Qt::KeypadModifier) {
        return false;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Delete:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Backspace:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Tab:
        return true;
    default:
        return event->key() < Qt::Key_Escape;
    }
}

void JournalView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (moveByKey(event) || editByKey(event)) {
        ensureCursorVisible();
    } else {
        event->ignore();
        return;
    }
    event->accept();
    setClipboardSelection();
}

bool JournalView::moveByKey(QKeyEvent* event)
{
    if (event->matches(QKeySequence::MoveToNextPage) || event->matches(QKeySequence::MoveToPreviousPage)
        || event->matches(QKeySequence::SelectNextPage) || event->matches(QKeySequence::SelectPreviousPage)) {
        const bool down = event->matches(QKeySequence::MoveToNextPage) || event->matches(QKeySequence::SelectNextPage);
        const bool select
            = event->matches(QKeySequence::SelectNextPage) || event->matches(QKeySequence::SelectPreviousPage);
        pageUpDown(down, select ? TextCursor::KeepAnchor : TextCursor::MoveAnchor);
        return true;
    }
    for (const KeyMove& move : KeyMoves) {
        if (!event->matches(move.key)) {
            continue;
        }
        // An arrow without Shift closes a selection at its start or end.
        if (move.mode == TextCursor::MoveAnchor && m_cursor.hasSelection()
            && (move.move == PreviousCharacter || move.move == NextCharacter)) {
            const qsizetype end = move.move == NextCharacter ? m_cursor.selectionEnd() : m_cursor.selectionStart();
            setCaret(end, end);
        } else {
            moveCursor(move.move, move.mode);
        }
        return true;
    }
    return false;
}

bool JournalView::editByKey(QKeyEvent* event)
{
    const qsizetype caret = m_cursor.position();
    const bool selected = m_cursor.hasSelection();
    const auto removeOrSelection = [&](qsizetype from, qsizetype to, EditKind kind) {
        if (selected) {
            removeRange(m_cursor.selectionStart(), m_cursor.selectionEnd(), EditKind::Other);
        } else {
            removeRange(std::min(from, to), std::max(from, to), kind);
        }
    };
    if ((event->key() == Qt::Key_Backspace && !(event->modifiers() & ~Qt::ShiftModifier))
        || event->matches(QKeySequence::Backspace)) {
        // One character back, both halves of a surrogate pair; a combining mark goes alone.
        qsizetype from = caret - 1;
        if (from > 0 && m_buffer->at(from).isLowSurrogate() && m_buffer->at(from - 1).isHighSurrogate()) {
            --from;
        }
        removeOrSelection(std::max<qsizetype>(from, 0), caret, EditKind::Removal);
    } else if (event->matches(QKeySequence::InsertParagraphSeparator)) {
        replaceSelection(QStringLiteral("\n"), EditKind::Other);
    } else if (event->matches(QKeySequence::InsertLineSeparator)) {
        replaceSelection(QString(QChar::LineSeparator), EditKind::Typing);
    } else if (event->matches(QKeySequence::Undo)) {
        undo();
    } else if (event->matches(QKeySequence::Redo)) {
        redo();
    } else if (event->matches(QKeySequence::Cut)) {
        cut();
    } else if (event->matches(QKeySequence::Paste)) {
        const bool selection = QGuiApplication::clipboard()->supportsSelection()
            && event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier) && event->key() == Qt::Key_Insert;
        pasteFrom(selection ? QClipboard::Selection : QClipboard::Clipboard);
    } else if (event->matches(QKeySequence::Delete)) {
        removeOrSelection(caret, nextCursorPosition(caret, QTextLayout::SkipCharacters), EditKind::Removal);
    } else if (event->matches(QKeySequence::DeleteEndOfWord)) {
        removeOrSelection(caret, nextCursorPosition(caret, QTextLayout::SkipWords), EditKind::Other);
    } else if (event->matches(QKeySequence::DeleteStartOfWord)) {
        removeOrSelection(previousCursorPosition(caret, QTextLayout::SkipWords), caret, EditKind::Other);
    } else if (event->matches(QKeySequence::DeleteEndOfLine)) {
        const qsizetype end = m_buffer->lineEnd(m_buffer->lineAt(caret));
        removeOrSelection(
            caret, end == caret + 1 || end == caret ? std::min(caret + 1, m_buffer->size()) : end, EditKind::Other);
    } else if (isAcceptableInput(event)) {
        replaceSelection(lineFeedsOnly(event->text()), EditKind::Typing);
    } else {
        return false;
    }
    return true;
}

void JournalView::inputMethodEvent(QInputMethodEvent* event)
{
    const QString commit = lineFeedsOnly(event->commitString());
    if (!commit.isEmpty() || event->replacementLength() > 0) {
        qsizetype from = m_cursor.selectionStart();
        qsizetype to = m_cursor.selectionEnd();
        if (!m_cursor.hasSelection()) {
            from = std::clamp<qsizetype>(from + event->replacementStart(), 0, m_buffer->size());
            to = std::clamp<qsizetype>(from + event->replacementLength(), from, m_buffer->size());
        }
        m_buffer->replace(from, to - from, commit, EditKind::Typing);
        setCaret(from + commit.size(), from + commit.size());
    } else if (m_cursor.hasSelection() && !event->preeditString().isEmpty()) {
        removeRange(m_cursor.selectionStart(), m_cursor.selectionEnd(), EditKind::Other);
    }

    QList<QTextLayout::FormatRange> formats;
    m_preeditCursor = int(event->preeditString().size());
    m_preeditCursorVisible = true;
    for (const QInputMethodEvent::Attribute& attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor) {
            m_preeditCursor = attribute.start;
            m_preeditCursorVisible = attribute.length != 0;
        } else if (attribute.type == QInputMethodEvent::TextFormat) {
            const QTextCharFormat format = qvariant_cast<QTextFormat>(attribute.value).toCharFormat();
            if (format.isValid()) {
                formats.append(QTextLayout::FormatRange { attribute.start, attribute.length, format });
            }
        } else if (attribute.type == QInputMethodEvent::Selection) {
            const qsizetype lineStart = m_buffer->lineStart(m_buffer->lineAt(m_cursor.position()));
            setCaret(lineStart + attribute.start, lineStart + attribute.start + attribute.length);
        }
    }
    m_preedit = event->preeditString();
    m_preeditFormats = formats;
    m_layouts.setPreedit(m_cursor.position(), m_preedit, formats);
    event->accept();
    ensureCursorVisible();
    viewport()->update();
    updateMicroFocus();
}

QVariant JournalView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    const qsizetype caret = m_cursor.position();
    const qsizetype line = m_buffer->lineAt(caret);
    const qsizetype lineStart = m_buffer->lineStart(line);
    const int segment = m_layouts.segmentAt(line, caret - lineStart);
    const qsizetype pieceStart = lineStart + m_layouts.segmentStart(line, segment);
    const qsizetype pieceLength = m_layouts.segmentLength(line, segment);
    const auto inPiece
        = [&](qsizetype position) { return std::clamp<qsizetype>(position - pieceStart, 0, pieceLength); };
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImHints:
        return int(inputMethodHints());
    case Qt::ImFont:
        return font();
    case Qt::ImCursorRectangle: {
        QRect caretRect = cursorRect(caret);
        if (!m_preedit.isEmpty() && caretRect.isValid()) {
            const QTextLine row = m_layouts.textLine(m_layouts.rowOf(caret));
            caretRect.moveLeft(Margin + qRound(row.cursorToX(int(caret - pieceStart) + m_preeditCursor)));
        }
        return QRectF(caretRect.translated(viewport()->pos()));
    }
    case Qt::ImAnchorRectangle:
        return QRectF(cursorRect(m_cursor.anchor()).translated(viewport()->pos()));
    case Qt::ImCursorPosition:
        return int(inPiece(caret));
    case Qt::ImAnchorPosition:
        return int(inPiece(m_cursor.anchor()));
    case Qt::ImAbsolutePosition:
        return caret;
    case Qt::ImSurroundingText:
        return m_buffer->mid(pieceStart, pieceLength);
    case Qt::ImTextBeforeCursor:
        return m_buffer->mid(pieceStart, caret - pieceStart);
    case Qt::ImTextAfterCursor:
        return m_buffer->mid(caret, pieceStart + pieceLength - caret);
    case Qt::ImCurrentSelection:
        return selectedText();
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ---- Mouse, drag and drop

void JournalView::mousePressEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    if (!m_preedit.isEmpty()) {
        QGuiApplication::inputMethod()->commit();
    }
    if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        const qsizetype position = positionAt(point);
        setCaret(position, position);
        pasteFrom(QClipboard::Selection);
        return;
    }
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_pressPoint = m_lastMousePoint = point;
    m_mousePressed = true;
    m_mightDrag = false;
    if (m_tripleClickTimer.isActive()
        && (point - m_tripleClickPoint).manhattanLength() < QApplication::startDragDistance()) {
        // A third click selects the line with its line break.
        m_tripleClickTimer.stop();
        const qsizetype line = m_buffer->lineAt(m_cursor.position());
        setCaret(m_buffer->lineStart(line), std::min(m_buffer->lineEnd(line) + 1, m_buffer->size()));
        return;
    }
    const qsizetype position = positionAt(point);
    if (event->modifiers() & Qt::ShiftModifier) {
        extendSelection(position, point.x());
    } else if (m_cursor.hasSelection() && position >= m_cursor.selectionStart()
        && position <= m_cursor.selectionEnd()) {
        // Pressed on the selection: it may be dragged away; a release without a drag puts the caret there.
        m_mightDrag = true;
    } else {
        m_wordStart = m_wordEnd = -1;
        setCaret(position, position);
    }
}

void JournalView::extendSelection(qsizetype position, int x)
{
    if (m_wordStart < 0) {
        setCaret(m_cursor.anchor(), position);
        return;
    }
    // After a double click the selection grows by whole words, to the edge of the word nearer the pointer.
    if (position >= m_wordStart && position <= m_wordEnd) {
        setCaret(m_wordStart, m_wordEnd);
        return;
    }
    const auto [start, end] = wordAt(position);
    if (start == end || m_layouts.rowOf(start) != m_layouts.rowOf(end)) {
        return;
    }
    const qreal startX = Margin + xOfPosition(start);
    const qreal endX = Margin + xOfPosition(end);
    if (x < startX || x > endX) {
        return;
    }
    setCaret(position < m_wordStart ? m_wordEnd : m_wordStart, x - startX < endX - x ? start : end);
}

void JournalView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_mousePressed || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    m_lastMousePoint = event->position().toPoint();
    if (m_mightDrag) {
        if ((m_lastMousePoint - m_pressPoint).manhattanLength() >= QApplication::startDragDistance()) {
            startDrag();
        }
        return;
    }
    autoScroll();
    if (viewport()->rect().contains(m_lastMousePoint)) {
        m_autoScrollTimer.stop();
    } else if (!m_autoScrollTimer.isActive()) {
        m_autoScrollTimer.start(100, this);
    }
}

void JournalView::autoScroll()
{
    const QRect area = viewport()->rect();
    QPoint point = m_lastMousePoint;
    if (point.y() < 0 || point.y() >= area.height()) {
        RowRef top = m_top;
        if (point.y() < 0 ? m_layouts.previousRow(top) : m_layouts.nextRow(top)) {
            setTop(top);
        }
        point.setY(std::clamp(point.y(), 0, area.height() - 1));
    }
    extendSelection(positionAt(point), point.x());
}

void JournalView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        return;
    }
    if (m_mightDrag) {
        const qsizetype position = positionAt(event->position().toPoint());
        setCaret(position, position);
    }
    m_mightDrag = false;
    m_mousePressed = false;
    m_autoScrollTimer.stop();
    setClipboardSelection();
}

void JournalView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QPoint point = event->position().toPoint();
    const auto [start, end] = wordAt(positionAt(point));
    setCaret(start, end);
    m_wordStart = start;
    m_wordEnd = end;
    m_mousePressed = true;
    m_mightDrag = false;
    m_lastMousePoint = point;
    m_tripleClickPoint = point;
    m_tripleClickTimer.start(QApplication::doubleClickInterval(), this);
    setClipboardSelection();
}

void JournalView::startDrag()
{
    m_mightDrag = false;
    m_mousePressed = false;
    const TextCursor dragged = m_cursor;
    const QString text = selectedText();
    auto* drag = new QDrag(this);
    drag->setMimeData(createMimeDataFromSelection());
    m_droppedHere = false;
    const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
    // Moved into another window: the text leaves this one, if it is still where it was.
    if (action == Qt::MoveAction && !m_droppedHere && m_buffer->mid(dragged.selectionStart(), text.size()) == text) {
        removeRange(dragged.selectionStart(), dragged.selectionEnd(), EditKind::Other);
    }
}

void JournalView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!canInsertFromMimeData(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    m_dropPosition = positionAt(event->position().toPoint());
    viewport()->update();
}

void JournalView::dragMoveEvent(QDragMoveEvent* event)
{
    const qsizetype position = positionAt(event->position().toPoint());
    if (event->source() == this && m_cursor.hasSelection() && position > m_cursor.selectionStart()
        && position < m_cursor.selectionEnd()) {
        m_dropPosition = -1;
        event->ignore();
    } else {
        m_dropPosition = position;
        event->acceptProposedAction();
    }
    viewport()->update();
}

void JournalView::dragLeaveEvent(QDragLeaveEvent*)
{
    m_dropPosition = -1;
    viewport()->update();
}

void JournalView::dropEvent(QDropEvent* event)
{
    m_dropPosition = -1;
    qsizetype position = positionAt(event->position().toPoint());
    if (event->source() == this && event->dropAction() == Qt::MoveAction && m_cursor.hasSelection()) {
        const qsizetype start = m_cursor.selectionStart();
        const qsizetype end = m_cursor.selectionEnd();
        if (position >= start && position <= end) {
            event->ignore();
            return;
        }
        const QString text = selectedText();
        m_buffer->beginUndoGroup();
        removeRange(start, end, EditKind::Other);
        if (position > end) {
            position -= end - start;
        }
        setCaret(position, position);
        replaceSelection(text, EditKind::Other);
        m_buffer->endUndoGroup();
        m_droppedHere = true;
    } else {
        setCaret(position, position);
        insertFromMimeData(event->mimeData());
    }
    event->acceptProposedAction();
    ensureCursorVisible();
}

void JournalView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

QMenu* JournalView::createStandardContextMenu()
{
    auto* menu = new QMenu(this);
    const bool selected = m_cursor.hasSelection();
    const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
    const auto add = [&](const char* name, const char* text, QKeySequence::StandardKey key, bool enabled, auto slot) {
        QString caption = QCoreApplication::translate("QWidgetTextControl", text);
        const QString shortcut = QKeySequence(key).toString(QKeySequence::NativeText);
        if (!shortcut.isEmpty()) {
            caption += QLatin1Char('\t') + shortcut;
        }
        QAction* action = menu->addAction(caption, this, slot);
        action->setObjectName(QLatin1String(name));
        action->setEnabled(enabled);
    };
    add("edit-undo", "&Undo", QKeySequence::Undo, m_buffer->isUndoAvailable(), &JournalView::undo);
    add("edit-redo", "&Redo", QKeySequence::Redo, m_buffer->isRedoAvailable(), &JournalView::redo);
    menu->addSeparator();
    add("edit-cut", "Cu&t", QKeySequence::Cut, selected, &JournalView::cut);
    add("edit-copy", "&Copy", QKeySequence::Copy, selected, &JournalView::copy);
    add("edit-paste", "&Paste", QKeySequence::Paste, clipboard != nullptr && canInsertFromMimeData(clipboard),
        &JournalView::paste);
    add("edit-delete", "Delete", QKeySequence::UnknownKey, selected,
        [this] { removeRange(m_cursor.selectionStart(), m_cursor.selectionEnd(), EditKind::Other); });
    menu->addSeparator();
    add("select-all", "Select All", QKeySequence::SelectAll, !m_buffer->isEmpty(), &JournalView::selectAll);
    return menu;
}

// ---- Focus and timers

void JournalView::focusInEvent(QFocusEvent* event)
{
    restartBlinking();
    viewport()->update();
    QAbstractScrollArea::focusInEvent(event);
}

void JournalView::focusOutEvent(QFocusEvent* event)
{
    m_blinkTimer.stop();
    m_caretShown = false;
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(event);
}

bool JournalView::focusNextPrevChild(bool)
{
    // Tab is typed into the text.
    return false;
}

void JournalView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_blinkTimer.timerId()) {
        m_caretShown = !m_caretShown;
        viewport()->update(cursorRect().adjusted(-1, 0, 1, 0));
    } else if (event->timerId() == m_autoScrollTimer.timerId()) {
        autoScroll();
    } else if (event->timerId() == m_tripleClickTimer.timerId()) {
        m_tripleClickTimer.stop();
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}

// ---- Rows, scrolling and painting

void JournalView::onLinesChanged(qsizetype firstLine, qsizetype removedBreaks, qsizetype addedBreaks)
{
    m_layouts.linesChanged(firstLine, removedBreaks, addedBreaks);
    if (m_top.line > firstLine + removedBreaks) {
        m_top.line += addedBreaks - removedBreaks;
    } else if (m_top.line > firstLine) {
        m_top = RowRef { firstLine, 0, 0 };
    }
}

void JournalView::onChanged(qsizetype position, qsizetype removed, const QString& added)
{
    // Positions after the change move with the text; those inside what was removed go to where it was.
    const auto moved = [&](qsizetype at) {
        if (at >= position + removed) {
            return at + added.size() - removed;
        }
        return std::min(at, position);
    };
    const TextCursor before = m_cursor;
    m_cursor = TextCursor(moved(before.anchor()));
    m_cursor.setPosition(moved(before.position()), TextCursor::KeepAnchor);
    m_goalX = -1;
    if (!m_preedit.isEmpty()) {
        m_layouts.setPreedit(m_cursor.position(), m_preedit, m_preeditFormats);
    }
    syncScrollBar();
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent update(this, int(position), m_buffer->removedText(), added);
        QAccessible::updateAccessibility(&update);
    }
    Q_EMIT textChanged();
    if (before.position() != m_cursor.position()) {
        Q_EMIT cursorPositionChanged();
    }
}

void JournalView::onReset()
{
    m_layouts.clear();
    m_top = RowRef {};
    m_preedit.clear();
    setCaret(0, 0);
    syncScrollBar();
    viewport()->update();
    Q_EMIT textChanged();
}

qreal JournalView::textWidth() const
{
    return std::max(1, viewport()->width() - 2 * Margin);
}

void JournalView::relayout()
{
    m_layouts.setFormat(font(), textWidth());
    m_top = RowRef { m_top.line, 0, 0 };
    if (!m_preedit.isEmpty()) {
        m_layouts.setPreedit(m_cursor.position(), m_preedit, m_preeditFormats);
    }
    syncScrollBar();
    viewport()->update();
}

void JournalView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (m_layouts.width() != textWidth()) {
        relayout();
    } else {
        syncScrollBar();
    }
}

void JournalView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        relayout();
    }
}

int JournalView::topMargin() const
{
    // Like Qt's plain text editor: the margin above the text shows only at the very top.
    return m_top == RowRef {} ? Margin : 0;
}

qreal JournalView::rowHeight(const RowRef& row) const
{
    const QTextLine line = m_layouts.textLine(row);
    return line.height() + (line.leading() < 0 ? qCeil(line.leading()) : 0);
}

RowRef JournalView::lastRow() const
{
    const qsizetype line = m_buffer->lineCount() - 1;
    const int segment = m_layouts.segmentCount(line) - 1;
    return RowRef { line, segment, m_layouts.layout(line, segment).lineCount() - 1 };
}

RowRef JournalView::bottomTop() const
{
    // The highest top that still shows the last row whole.
    RowRef top = lastRow();
    qreal height = rowHeight(top);
    const int available = viewport()->height();
    for (RowRef previous = top; m_layouts.previousRow(previous); top = previous) {
        const qreal above = rowHeight(previous);
        if (height + above + (previous == RowRef {} ? Margin : 0) > available) {
            break;
        }
        height += above;
    }
    return top;
}

void JournalView::clampTop() const
{
    m_top.line = std::clamp<qsizetype>(m_top.line, 0, m_buffer->lineCount() - 1);
    m_top.segment = std::clamp(m_top.segment, 0, m_layouts.segmentCount(m_top.line) - 1);
    m_top = m_layouts.normalized(m_top);
    m_top = std::min(m_top, bottomTop());
}

void JournalView::setTop(const RowRef& top)
{
    m_top = top;
    syncScrollBar();
    viewport()->update();
}

void JournalView::syncScrollBar()
{
    clampTop();
    const RowRef bottom = bottomTop();
    const qsizetype maximum = m_layouts.rowNumber(bottom);
    const qsizetype value = m_top == bottom ? maximum : std::min(m_layouts.rowNumber(m_top), maximum);
    QScrollBar* bar = verticalScrollBar();
    m_syncingScrollBar = true;
    bar->setRange(0, int(std::min<qsizetype>(maximum, INT_MAX)));
    bar->setPageStep(std::max(1, int(viewport()->height() / std::max<qreal>(rowHeight(m_top), 1))));
    bar->setValue(int(std::min<qsizetype>(value, INT_MAX)));
    m_syncingScrollBar = false;
    m_syncedRows = m_layouts.totalRows();
}

void JournalView::scrollContentsBy(int, int)
{
    if (m_syncingScrollBar) {
        return;
    }
    const QScrollBar* bar = verticalScrollBar();
    m_top = bar->value() >= bar->maximum() ? bottomTop() : m_layouts.rowAt(bar->value());
    viewport()->update();
    updateMicroFocus();
}

JournalView::Placed JournalView::place(const RowRef& row) const
{
    clampTop();
    if (row < m_top) {
        return { row, 0, false };
    }
    const int height = viewport()->height();
    qreal y = topMargin();
    RowRef at = m_top;
    while (at != row) {
        y += rowHeight(at);
        if (y >= height || !m_layouts.nextRow(at)) {
            return { row, int(y), false };
        }
    }
    return { row, int(y), y < height };
}

void JournalView::ensureVisible(qsizetype position)
{
    const RowRef target = m_layouts.rowOf(std::clamp<qsizetype>(position, 0, m_buffer->size()));
    const Placed placed = place(target);
    if (target < m_top) {
        setTop(target);
        return;
    }
    if (placed.visible && placed.y + rowHeight(target) <= viewport()->height()) {
        return;
    }
    // Below the view: it becomes the bottom row.
    RowRef top = target;
    qreal height = rowHeight(target);
    for (RowRef previous = top; m_layouts.previousRow(previous); top = previous) {
        const qreal above = rowHeight(previous);
        if (height + above + (previous == RowRef {} ? Margin : 0) > viewport()->height()) {
            break;
        }
        height += above;
    }
    setTop(top);
}

qsizetype JournalView::rowStartPosition(const RowRef& row) const
{
    const QTextLine line = m_layouts.textLine(row);
    return m_buffer->lineStart(row.line) + m_layouts.segmentStart(row.line, row.segment)
        + m_layouts.fromLayoutOffset(row.line, row.segment, line.textStart());
}

qsizetype JournalView::positionInRow(const RowRef& row, qreal x) const
{
    const QTextLine line = m_layouts.textLine(row);
    return m_buffer->lineStart(row.line) + m_layouts.segmentStart(row.line, row.segment)
        + m_layouts.fromLayoutOffset(row.line, row.segment, line.xToCursor(x));
}

qreal JournalView::xOfPosition(qsizetype position) const
{
    const RowRef row = m_layouts.rowOf(position);
    const qsizetype offset = position - m_buffer->lineStart(row.line) - m_layouts.segmentStart(row.line, row.segment);
    return m_layouts.textLine(row).cursorToX(m_layouts.toLayoutOffset(row.line, row.segment, offset));
}

qsizetype JournalView::positionAt(const QPoint& point) const
{
    clampTop();
    qreal y = topMargin();
    RowRef row = m_top;
    for (RowRef next = row; y + rowHeight(row) <= point.y() && m_layouts.nextRow(next); row = next) {
        y += rowHeight(row);
    }
    return positionInRow(row, point.x() - Margin);
}

QRect JournalView::cursorRect(qsizetype position) const
{
    const RowRef row = m_layouts.rowOf(position);
    const Placed placed = place(row);
    if (!placed.visible) {
        return {};
    }
    const qsizetype offset = position - m_buffer->lineStart(row.line) - m_layouts.segmentStart(row.line, row.segment);
    const QTextLine line = m_layouts.textLine(row);
    const qreal x = line.cursorToX(m_layouts.toLayoutOffset(row.line, row.segment, offset));
    return QRect(Margin + qFloor(x), placed.y, CaretWidth, qCeil(line.height()));
}

QList<QTextLayout::FormatRange> JournalView::selectionIn(const RowRef& piece) const
{
    if (!m_cursor.hasSelection()) {
        return {};
    }
    const qsizetype pieceStart = m_buffer->lineStart(piece.line) + m_layouts.segmentStart(piece.line, piece.segment);
    qsizetype pieceEnd = pieceStart + m_layouts.segmentLength(piece.line, piece.segment);
    if (piece.segment + 1 == m_layouts.segmentCount(piece.line)) {
        ++pieceEnd; // a selected line break shows as a selected blank
    }
    const qsizetype start = std::max(m_cursor.selectionStart(), pieceStart) - pieceStart;
    const qsizetype end = std::min(m_cursor.selectionEnd(), pieceEnd) - pieceStart;
    if (end <= start) {
        return {};
    }
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    QTextLayout::FormatRange range;
    range.start = m_layouts.toLayoutOffset(piece.line, piece.segment, start);
    range.length = m_layouts.toLayoutOffset(piece.line, piece.segment, end) - range.start;
    range.format.setBackground(palette().brush(group, QPalette::Highlight));
    range.format.setForeground(palette().brush(group, QPalette::HighlightedText));
    return { range };
}

void JournalView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    clampTop();
    const QRect region = event->rect();
    const int height = viewport()->height();
    painter.setPen(palette().color(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::Text));

    // Where a caret is drawn: the text cursor while focused and shown, or where a drop would go.
    qsizetype caret = -1;
    if (m_dropPosition >= 0) {
        caret = m_dropPosition;
    } else if (hasFocus() && m_caretShown && (m_preedit.isEmpty() || m_preeditCursorVisible)) {
        caret = m_cursor.position();
    }
    RowRef caretPiece { -1, 0, 0 };
    int caretOffset = 0;
    if (caret >= 0) {
        caretPiece.line = m_buffer->lineAt(caret);
        const qsizetype offset = caret - m_buffer->lineStart(caretPiece.line);
        caretPiece.segment = m_layouts.segmentAt(caretPiece.line, offset);
        caretOffset = m_layouts.toLayoutOffset(
            caretPiece.line, caretPiece.segment, offset - m_layouts.segmentStart(caretPiece.line, caretPiece.segment));
        if (!m_preedit.isEmpty() && caret == m_cursor.position()) {
            caretOffset += m_preeditCursor;
        }
    }

    qreal y = topMargin();
    RowRef row = m_top;
    for (;;) {
        QTextLayout& layout = m_layouts.layout(row.line, row.segment);
        const QTextLine first = layout.lineAt(row.row);
        const QPointF origin(Margin, y - first.y());
        const QRectF clip = QRectF(0, y, viewport()->width(), height - y).intersected(region);
        if (!clip.isEmpty()) {
            layout.draw(&painter, origin, selectionIn(row), clip);
            if (caretPiece.line == row.line && caretPiece.segment == row.segment
                && layout.lineForTextPosition(caretOffset).lineNumber() >= row.row) {
                layout.drawCursor(&painter, origin, caretOffset, CaretWidth);
            }
        }
        const QTextLine last = layout.lineAt(layout.lineCount() - 1);
        y = origin.y() + last.y() + rowHeight(RowRef { row.line, row.segment, layout.lineCount() - 1 });
        if (y >= height) {
            break;
        }
        if (row.segment + 1 < m_layouts.segmentCount(row.line)) {
            row = RowRef { row.line, row.segment + 1, 0 };
        } else if (row.line + 1 < m_buffer->lineCount()) {
            row = RowRef { row.line + 1, 0, 0 };
        } else {
            break;
        }
    }
    m_layouts.trim();
    // Laying out rows in view may have corrected their estimated counts.
    if (m_layouts.totalRows() != m_syncedRows && !verticalScrollBar()->isSliderDown()) {
        QMetaObject::invokeMethod(this, &JournalView::syncScrollBar, Qt::QueuedConnection);
    }
}
