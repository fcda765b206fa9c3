#include "platform/Crc32.h"
#include "session/RecoveryFormat.h"
#include "session/RecoveryLog.h"
#include "textview/MemoText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cstddef>
#include <cstdint>

namespace
{
const QString& folder()
{
    static const QString path = [] {
        const QString dir
            = QDir::tempPath() + QStringLiteral("/vellumix-fuzz-recovery-%1").arg(QCoreApplication::applicationPid());
        QDir().mkpath(dir);
        return dir;
    }();
    return path;
}

SessionFingerprint fingerprintOf(const QString texts[2])
{
    SessionFingerprint fingerprint;
    for (int memo = 0; memo < 2; ++memo) {
        const QByteArray bytes = MemoText::encode(texts[memo]);
        fingerprint.memo[memo] = { quint64(bytes.size()), crc32(bytes) };
    }
    return fingerprint;
}

QByteArray little(quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 4);
}

// Random bytes seldom carry a valid CRC: after the first byte, the input is read as record bodies
// (a length byte, then type and payload) framed here with their lengths and CRCs behind a header
// that fits the stored texts, so that replay itself is reached.
QByteArray framed(QByteArrayView input, const SessionFingerprint& stored)
{
    QByteArray file = RecoveryFormat::header(stored);
    qsizetype at = 0;
    while (at < input.size()) {
        const qsizetype length = qMin<qsizetype>(quint8(input[at]), input.size() - at - 1);
        const QByteArrayView body = input.sliced(at + 1, length);
        at += 1 + length;
        if (body.isEmpty()) {
            file += input.sliced(at); // the rest as it is, a tail cut short or damaged
            break;
        }
        file += little(quint32(body.size() - 1)) + body.toByteArray() + little(crc32(body));
    }
    return file;
}
} // namespace

// The recovery writer's thread runs an event loop, as in the program.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    return 0;
}

// Parses one input as a recovery file, strips its store marks, and opens it over two stored texts,
// which replays it or keeps it aside.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    QString texts[2] = { QStringLiteral("stored journal\nsecond line\n"), QStringLiteral("notes") };
    const SessionFingerprint stored = fingerprintOf(texts);
    const QByteArray bytes
        = !input.isEmpty() && input[0] == 'F' ? framed(input.sliced(1), stored) : input.toByteArray();

    const RecoveryFormat::Parsed parsed = RecoveryFormat::parse(bytes);
    RecoveryFormat::Records records(bytes, parsed);
    RecoveryFormat::Record record;
    while (records.next(record)) {
        (void)RecoveryFormat::text(record.text).size();
    }
    if (bytes.size() > RecoveryFormat::HeaderSize) {
        (void)RecoveryFormat::withoutStoreMarks(QByteArrayView(bytes).sliced(RecoveryFormat::HeaderSize));
    }

    const QString path = folder() + QStringLiteral("/vellumix.vma.recovery");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return 0;
        }
        file.write(bytes);
    }
    {
        RecoveryLog log;
        (void)log.open(path, stored, texts);
    }
    // Files kept aside would pile up over the run.
    QDir dir(folder());
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        dir.remove(name);
    }
    return 0;
}
