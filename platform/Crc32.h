#pragma once

#include <QByteArrayView>

// The CRC-32 that zip archives keep for every entry (polynomial 0xEDB88320).
quint32 crc32(QByteArrayView bytes, quint32 crc = 0);
