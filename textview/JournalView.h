#pragma once

#include "textview/LineLayouts.h"
#include "textview/TextBuffer.h"
#include "textview/TextCursor.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QClipboard>
#include <QPoint>

class QMenu;
class QMimeData;

// A plain text box for texts of many megabytes, such as a clipboard journal that grows all
// day. The text is held once, in a TextBuffer; only the rows in view are laid out, word-wrapped
// at the view's width. It keeps what users expect of a text box: typing and input methods,
// selecting by mouse and keys, the context menu, undo, the clipboard and dragging text. Colours
// are the palette's Base and Text, the selection its Highlight (Inactive without the focus),
// and the font is the widget's.
class JournalView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // Where moveCursor() takes the caret. A row is a line on screen; a line ends at a line break.
    enum Move {
        Start,
        End,
        StartOfRow,
        EndOfRow,
        StartOfLine,
        EndOfLine,
        PreviousCharacter,
        NextCharacter,
        PreviousWord,
        NextWord,
        Up,
        Down,
    };

    explicit JournalView(QWidget* parent = nullptr);
    ~JournalView() override;

    TextBuffer* buffer() const { return m_buffer; }

    // Replaces the whole text and forgets undo; CR LF, CR and U+2029 become LF, other
    // characters stay as they are. Passed moved, a large text is not copied.
    void setPlainText(QString text);
    // The whole text, LF line breaks; no-break spaces and U+2028 come out as they are.
    QString toPlainText() const { return m_buffer->toString(); }
    void clear() { setPlainText(QString()); }

    TextCursor textCursor() const { return m_cursor; }
    // Takes the caret and selection over (clamped to the text) and scrolls the caret into view.
    void setTextCursor(const TextCursor& cursor);
    void moveCursor(Move move, TextCursor::MoveMode mode = TextCursor::MoveAnchor);
    QString selectedText() const;
    // Selects the word at the caret, as a double click does.
    void selectWordUnderCursor();
    void ensureCursorVisible() { ensureVisible(m_cursor.position()); }
    void ensureVisible(qsizetype position);
    // Where the caret is drawn, in viewport coordinates; empty while its row is out of view.
    QRect cursorRect() const { return cursorRect(m_cursor.position()); }
    QRect cursorRect(qsizetype position) const;
    // The position under a point of the viewport.
    qsizetype positionAt(const QPoint& point) const;

    // Replaces the selection with text, as one undo step, and leaves the caret after it.
    void insertPlainText(const QString& text);
    // Appends text as a new last line: after the text when it is empty or ends with a line
    // break, otherwise after a new line break. Leaves the caret after it, nothing selected, in view.
    void appendLine(const QString& text);

    QMenu* createStandardContextMenu();
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

public Q_SLOTS:
    void selectAll();
    void undo();
    void redo();
    void cut();
    void copy();
    void paste();

Q_SIGNALS:
    void textChanged();
    void cursorPositionChanged();
    void selectionChanged();
    void copyAvailable(bool available);
    void undoAvailable(bool available);
    void redoAvailable(bool available);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool focusNextPrevChild(bool next) override;

    virtual bool canInsertFromMimeData(const QMimeData* source) const;
    virtual void insertFromMimeData(const QMimeData* source);
    virtual QMimeData* createMimeDataFromSelection() const;

private:
    // Key handling
    bool moveByKey(QKeyEvent* event);
    bool editByKey(QKeyEvent* event);
    static bool isEditingKey(QKeyEvent* event);

    // Caret and selection
    void setCaret(qsizetype anchor, qsizetype position, bool keepGoalX = false);
    void replaceSelection(const QString& text, EditKind kind);
    void removeRange(qsizetype from, qsizetype to, EditKind kind);
    qsizetype movedPosition(Move move, qsizetype position);
    qsizetype nextCursorPosition(qsizetype position, QTextLayout::CursorMode mode);
    qsizetype previousCursorPosition(qsizetype position, QTextLayout::CursorMode mode);
    qsizetype rowMove(qsizetype position, bool down);
    std::pair<qsizetype, qsizetype> wordAt(qsizetype position);
    void pageUpDown(bool down, TextCursor::MoveMode mode);
    void setClipboardSelection();
    void pasteFrom(QClipboard::Mode mode);
    void restartBlinking();

    // Rows and scrolling
    void onLinesChanged(qsizetype firstLine, qsizetype removedBreaks, qsizetype addedBreaks);
    void onChanged(qsizetype position, qsizetype removed, const QString& added);
    void onReset();
    void relayout();
    qreal textWidth() const;
    int topMargin() const;
    RowRef lastRow() const;
    RowRef bottomTop() const;
    void clampTop() const;
    void setTop(const RowRef& top);
    void syncScrollBar();
    qreal rowHeight(const RowRef& row) const;
    // Position and layout offset helpers
    qsizetype rowStartPosition(const RowRef& row) const;
    qsizetype positionInRow(const RowRef& row, qreal x) const;
    qreal xOfPosition(qsizetype position) const;
    struct Placed
    {
        RowRef row;
        int y = 0;
        bool visible = false;
    };
    Placed place(const RowRef& row) const;
    QList<QTextLayout::FormatRange> selectionIn(const RowRef& piece) const;
    void autoScroll();
    void extendSelection(qsizetype position, int x);
    void startDrag();

    TextBuffer* m_buffer;
    mutable LineLayouts m_layouts;
    TextCursor m_cursor;
    qreal m_goalX = -1;
    mutable RowRef m_top;
    bool m_syncingScrollBar = false;

    QString m_preedit;
    QList<QTextLayout::FormatRange> m_preeditFormats;
    int m_preeditCursor = 0;
    bool m_preeditCursorVisible = true;

    QBasicTimer m_blinkTimer;
    bool m_caretShown = false;
    QBasicTimer m_autoScrollTimer;
    QBasicTimer m_tripleClickTimer;
    QPoint m_tripleClickPoint;
    QPoint m_lastMousePoint;
    QPoint m_pressPoint;
    bool m_mousePressed = false;
    bool m_mightDrag = false;
    // After a double click, dragging extends the selection by whole words from this one.
    qsizetype m_wordStart = -1;
    qsizetype m_wordEnd = -1;
    qsizetype m_dropPosition = -1;
    bool m_droppedHere = false;
    qsizetype m_syncedRows = -1;
};
