#pragma once

#include <QString>
#include <QStringView>

// A field of the translation and string tables: "\t", "\n" and "\\" stand for
// a tab, a line break and a backslash. Shared by the program and the build's
// library generator, so both read the tables alike.
inline QString unescapeTableField(QStringView text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar next = text[++i];
            result += next == QLatin1Char('t') ? QChar(u'\t') : next == QLatin1Char('n') ? QChar(u'\n') : next;
        } else {
            result += text[i];
        }
    }
    return result;
}
