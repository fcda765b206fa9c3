#pragma once

#include <QStringView>

// 1-based position of the first occurrence of subStr in text, 0 for none.
// Without caseSensitive only the ASCII letters A to Z are folded.
qsizetype TextPos(QStringView subStr, QStringView text, bool caseSensitive);
// The same, for occurrences that begin at the 1-based start or later. 0 when
// start < 1, either string is empty, or fewer characters than subStr has remain.
qsizetype TextPosFrom(QStringView subStr, QStringView text, qsizetype start, bool caseSensitive);
