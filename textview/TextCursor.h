#pragma once

#include <QtGlobal>

#include <algorithm>

// A caret and the other end of its selection, as positions of a JournalView's text
// (each line break one character). A value: a view takes it with setTextCursor().
class TextCursor
{
public:
    enum MoveMode { MoveAnchor, KeepAnchor };

    TextCursor() = default;
    explicit TextCursor(qsizetype position)
        : m_anchor(position)
        , m_position(position)
    { }

    qsizetype position() const { return m_position; }
    qsizetype anchor() const { return m_anchor; }
    void setPosition(qsizetype position, MoveMode mode = MoveAnchor)
    {
        m_position = position;
        if (mode == MoveAnchor) {
            m_anchor = position;
        }
    }
    bool hasSelection() const { return m_anchor != m_position; }
    qsizetype selectionStart() const { return std::min(m_anchor, m_position); }
    qsizetype selectionEnd() const { return std::max(m_anchor, m_position); }
    void clearSelection() { m_anchor = m_position; }

    bool operator==(const TextCursor&) const = default;

private:
    qsizetype m_anchor = 0;
    qsizetype m_position = 0;
};
