#pragma once

#include <QtGlobal>

class QIODevice;

// Unpacks the LZ77 format of the message tables and the carried engine copy:
// a 4-byte little-endian unpacked size, then groups of a flag byte and eight
// items (literal byte or 12-bit window position plus 4-bit length).
// sourceLength < 0 means "up to the end of the source".
// Returns 0 on success, -2 when the source was used up but the size differs,
// -1 when the source ended early.
int LzExtract(QIODevice& dest, QIODevice& source, qint64 sourceLength);
