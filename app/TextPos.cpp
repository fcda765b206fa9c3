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
    const qsizetype last = text.size() - length;
    auto matchesAt = [&](qsizetype i) {
        for (qsizetype k = 1; k < length; ++k) {
            if (foldAscii(hay[i + k]) != foldAscii(needle[k])) {
                return false;
            }
        }
        return true;
    };
    // Candidates come from Qt's vectorised single-character search, once for each case of the first letter.
    const QChar lower(foldAscii(needle[0]));
    const QChar upper = (lower >= u'a' && lower <= u'z') ? QChar(char16_t(lower.unicode() - (u'a' - u'A'))) : lower;
    qsizetype nextLower = -2;
    qsizetype from = start - 1;
    while (from <= last) {
        if (nextLower != -1 && nextLower < from) {
            nextLower = text.indexOf(lower, from);
        }
        // The other case matters only before the next lower-case candidate.
        qsizetype candidate = nextLower;
        if (upper != lower) {
            const qsizetype limit = nextLower == -1 ? text.size() : nextLower;
            const qsizetype found = text.first(limit).indexOf(upper, from);
            if (found != -1) {
                candidate = found;
            }
        }
        if (candidate == -1 || candidate > last) {
            return 0;
        }
        if (matchesAt(candidate)) {
            return candidate + 1;
        }
        from = candidate + 1;
    }
    return 0;
}
