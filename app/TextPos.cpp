#include "app/TextPos.h"

namespace
{
inline char16_t foldAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c;
}
} // namespace

qsizetype TextPos(QStringView subStr, QStringView text, bool caseSensitive)
{
    return TextPosFrom(subStr, text, 1, caseSensitive);
}

qsizetype TextPosFrom(QStringView subStr, QStringView text, qsizetype start, bool caseSensitive)
{
    if (start < 1 || subStr.isEmpty() || text.isEmpty() || text.size() - (start - 1) < subStr.size()) {
        return 0;
    }
    if (caseSensitive) {
        const qsizetype found = text.indexOf(subStr, start - 1, Qt::CaseSensitive);
        return found < 0 ? 0 : found + 1;
    }
    const char16_t* hay = text.utf16();
    const char16_t* needle = subStr.utf16();
    const qsizetype length = subStr.size();
    const char16_t first = foldAscii(needle[0]);
    const qsizetype last = text.size() - length;
    for (qsizetype i = start - 1; i <= last; ++i) {
        if (foldAscii(hay[i]) != first) {
            continue;
        }
        qsizetype k = 1;
        while (k < length && foldAscii(hay[i + k]) == foldAscii(needle[k])) {
            ++k;
        }
        if (k == length) {
            return i + 1;
        }
    }
    return 0;
}
