#include "tools/FileVersionApi.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace
{
constexpr quint16 TextValue = 1;
constexpr qint64 MaxBlockSize = 0xffff;

quint16 word(const QByteArray& data, qsizetype at)
{
    return quint16(quint8(data[at]) | quint8(data[at + 1]) << 8);
}

qsizetype aligned(qsizetype offset)
{
    return (offset + 3) & ~qsizetype(3);
}

struct Node
{
    QString key;
    quint16 type = 0;
    qsizetype valueStart = 0;
    qsizetype valueEnd = 0;
    qsizetype childrenStart = 0;
    qsizetype end = 0;
};

std::optional<Node> readNode(const QByteArray& block, qsizetype start, qsizetype limit)
{
    if (start + 6 > limit) {
        return std::nullopt;
    }
    const qsizetype length = word(block, start);
    if (length < 6 || start + length > limit) {
        return std::nullopt;
    }
    Node node;
    node.end = start + length;
    node.type = word(block, start + 4);
    qsizetype at = start + 6;
    for (;; at += 2) {
        if (at + 2 > node.end) {
            return std::nullopt;
        }
        const quint16 c = word(block, at);
        if (c == 0) {
            break;
        }
        node.key.append(QChar(c));
    }
    const qsizetype valueLength = word(block, start + 2);
    node.valueStart = std::min(aligned(at + 2), node.end);
    node.valueEnd = std::min(node.valueStart + (node.type == TextValue ? 2 * valueLength : valueLength), node.end);
    node.childrenStart = aligned(node.valueEnd);
    return node;
}

bool sameFile(const QString& a, const QString& b)
{
    const auto normal = [](const QString& path) {
        const QFileInfo info(path);
        const QString canonical = info.canonicalFilePath();
        return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
    };
    return !a.isEmpty() && !b.isEmpty() && normal(a) == normal(b);
}

bool isRunningExecutable(const QString& fileName)
{
    return sameFile(fileName, QStringLiteral("/proc/self/exe")) || sameFile(fileName, AppPaths::executablePath());
}

QByteArray ownBlock()
{
    QFile resource(QString::fromLatin1(FileVersionApi::ResourcePath));
    return resource.open(QIODevice::ReadOnly) ? resource.read(MaxBlockSize) : QByteArray();
}

QByteArray blockOf(const QString& fileName)
{
    if (fileName.isEmpty()) {
        return {};
    }
    return isRunningExecutable(fileName) ? ownBlock() : FileVersionApi::elfSection(fileName);
}

// Refuses any range outside the file, however the headers lie.
class ElfReader
{
public:
    explicit ElfReader(QFile& file)
        : m_file(file)
        , m_size(file.size())
    { }

    bool bigEndian = false;

    qint64 size() const { return m_size; }

    QByteArray bytes(quint64 offset, quint64 length)
    {
        if (offset > quint64(m_size) || length > quint64(m_size) - offset || !m_file.seek(qint64(offset))) {
            return {};
        }
        QByteArray data = m_file.read(qint64(length));
        return data.size() == qint64(length) ? data : QByteArray();
    }

    quint64 number(const QByteArray& data, qsizetype at, int width) const
    {
        quint64 value = 0;
        for (int i = 0; i < width; ++i) {
            const int index = bigEndian ? i : width - 1 - i;
            value = value << 8 | quint8(data[at + index]);
        }
        return value;
    }

private:
    QFile& m_file;
    qint64 m_size;
};
} // namespace

namespace FileVersionApi
{
quint32 GetFileVersionInfoSize(const QString& fileName)
{
    const QByteArray block = blockOf(fileName);
    return block.size() >= 6 ? quint32(block.size()) : 0;
}

bool GetFileVersionInfo(const QString& fileName, quint32 size, char* data)
{
    const QByteArray block = blockOf(fileName);
    if (block.size() < 6 || data == nullptr) {
        return false;
    }
    const qsizetype count = std::min(qsizetype(size), block.size());
    std::copy_n(block.constData(), count, data);
    return true;
}

bool VerQueryValue(const QByteArray& block, const QByteArray& subBlock, QByteArray* value)
{
    std::optional<Node> node = readNode(block, 0, block.size());
    for (const QByteArray& part : subBlock.split('\\')) {
        if (!node) {
            return false;
        }
        if (part.isEmpty()) {
            continue;
        }
        const QString wanted = QString::fromUtf8(part);
        std::optional<Node> found;
        // Every node is at least 8 bytes once aligned, so this walk ends.
        for (qsizetype at = node->childrenStart; at < node->end;) {
            const std::optional<Node> child = readNode(block, at, node->end);
            if (!child) {
                break;
            }
            if (child->key.compare(wanted, Qt::CaseInsensitive) == 0) {
                found = child;
                break;
            }
            at = aligned(child->end);
        }
        node = found;
    }
    if (!node) {
        return false;
    }
    if (value != nullptr) {
        if (node->type == TextValue) {
            QString text;
            for (qsizetype at = node->valueStart; at + 2 <= node->valueEnd && word(block, at) != 0; at += 2) {
                text.append(QChar(word(block, at)));
            }
            *value = text.toUtf8();
        } else {
            *value = block.mid(node->valueStart, node->valueEnd - node->valueStart);
        }
    }
    return true;
}

QByteArray elfSection(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    ElfReader elf(file);
    const QByteArray ident = elf.bytes(0, quint64(std::min<qint64>(elf.size(), 64)));
    if (ident.size() < 52
        || !ident.startsWith("\x7f"
                             "ELF")) {
        return {};
    }
    const bool wide = ident[4] == 2;
    if ((ident[4] != 1 && !wide) || (ident[5] != 1 && ident[5] != 2) || (wide && ident.size() < 64)) {
        return {};
    }
    elf.bigEndian = ident[5] == 2;
    const int addr = wide ? 8 : 4;
    const quint64 tableOffset = elf.number(ident, wide ? 0x28 : 0x20, addr);
    const quint64 entrySize = elf.number(ident, wide ? 0x3a : 0x2e, 2);
    const quint64 count = elf.number(ident, wide ? 0x3c : 0x30, 2);
    const quint64 namesIndex = elf.number(ident, wide ? 0x3e : 0x32, 2);
    const quint64 minimumEntry = wide ? 64 : 40;
    if (entrySize < minimumEntry || namesIndex >= count) {
        return {};
    }
    // count and entrySize are 16-bit, so the table is at most 4 GiB and cannot overflow.
    const QByteArray table = elf.bytes(tableOffset, count * entrySize);
    if (table.isEmpty()) {
        return {};
    }
    struct Section
    {
        quint64 name, type, offset, size;
    };
    const auto section = [&](quint64 index) {
        const qsizetype at = qsizetype(index * entrySize);
        return Section { elf.number(table, at, 4), elf.number(table, at + 4, 4),
            elf.number(table, at + (wide ? 0x18 : 0x10), addr), elf.number(table, at + (wide ? 0x20 : 0x14), addr) };
    };
    constexpr quint64 NoBits = 8;
    const Section names = section(namesIndex);
    const QByteArray nameTable = names.type == NoBits ? QByteArray() : elf.bytes(names.offset, names.size);
    const QByteArray wanted = QByteArray(SectionName) + '\0';
    for (quint64 i = 0; i < count; ++i) {
        const Section candidate = section(i);
        if (candidate.name >= quint64(nameTable.size())
            || nameTable.mid(qsizetype(candidate.name), wanted.size()) != wanted) {
            continue;
        }
        if (candidate.type == NoBits || candidate.size > quint64(MaxBlockSize)) {
            return {};
        }
        return elf.bytes(candidate.offset, candidate.size);
    }
    return {};
}
} // namespace FileVersionApi
