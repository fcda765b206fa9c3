#pragma once

#include "tests/app/WindowFixture.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

// What the clipboard tests read off a journal, whichever clipboard filled it.

// The captured texts of a journal that stamps every entry with WindowFixture's clock, line
// breaks as LF; a text that does not stand under a stamp line of its own shows up marked.
inline QByteArrayList journalEntries(QByteArray journal)
{
    QByteArray text = journal.replace("\r\n", "\n");
    if (text.endsWith('\n')) {
        text.chop(1);
    }
    QByteArrayList found;
    bool open = false;
    for (const QByteArray& line : text.split('\n')) {
        if (line == StampLine) {
            found << QByteArray();
            open = false;
        } else if (found.isEmpty()) {
            found << "<unstamped> " + line;
        } else {
            found.last() += (open ? "\n" : "") + line;
            open = true;
        }
    }
    return text.isEmpty() ? QByteArrayList() : found;
}

// A text of numbered lines, at least that many bytes long, without a line break at its end.
inline QByteArray largeText(qsizetype bytes)
{
    QByteArray text;
    text.reserve(bytes + 100);
    for (int i = 0; text.size() < bytes; ++i) {
        text += "line " + QByteArray::number(i) + " of a large copied text, with a few more words on it\n";
    }
    text.chop(1);
    return text;
}

// Keeps the longest pause between two turns of the event loop.
class LoopProbe
{
public:
    LoopProbe()
    {
        m_clock.start();
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_longest = std::max(m_longest, m_clock.restart()); });
        m_timer.start();
    }
    qint64 longestPauseMs() const { return std::max(m_longest, m_clock.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};
