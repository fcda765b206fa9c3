#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

// The bytes of a file read once from start to end. Mapped where the file system allows (read
// otherwise), so that the pages a reader has walked past can be given back: a file of many MiB
// then costs little memory beside what is made of it.
class MappedFile
{
public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Takes the open descriptor; false, with the reason, when its bytes cannot be had.
    bool open(int fd, QString* reason);
    QByteArrayView bytes() const { return m_bytes; }
    // The bytes before offset are not needed again soon; they stay readable.
    void release(qsizetype offset);

private:
    QFile m_file;
    QByteArray m_read;
    QByteArrayView m_bytes;
    qsizetype m_released = 0;
    bool m_mapped = false;
};
