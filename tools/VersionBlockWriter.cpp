#include "tools/VersionBlockWriter.h"

#include <QRegularExpression>

namespace
{
constexpr quint16 BinaryValue = 0;
constexpr quint16 TextValue = 1;

class BlockStream
{
public:
    QByteArray bytes;

    void word(quint16 value)
    {
        bytes.append(char(value & 0xff));
        bytes.append(char(value >> 8));
    }

    void dword(quint32 value)
    {
        word(quint16(value & 0xffff));
        word(quint16(value >> 16));
    }

    void text(const QString& value)
    {
        for (const QChar c : value) {
            word(c.unicode());
        }
        word(0);
    }

    void align()
    {
        while (bytes.size() % 4 != 0) {
            bytes.append('\0');
        }
    }

    qsizetype open(const QString& key, quint16 valueLength, quint16 type)
    {
        align();
        const qsizetype start = bytes.size();
        word(0);
        word(valueLength);
        word(type);
        text(key);
        align();
        return start;
    }

    void close(qsizetype start)
    {
        const qsizetype length = bytes.size() - start;
        bytes[start] = char(length & 0xff);
        bytes[start + 1] = char((length >> 8) & 0xff);
    }
};

quint32 high(const std::array<quint16, 4>& v)
{
    return quint32(v[0]) << 16 | v[1];
}
quint32 low(const std::array<quint16, 4>& v)
{
    return quint32(v[2]) << 16 | v[3];
}

bool parseVersion(const QString& text, std::array<quint16, 4>* version)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.isEmpty() || parts.size() > 4) {
        return false;
    }
    *version = {};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        bool ok = false;
        const uint part = parts[i].toUInt(&ok);
        if (!ok || part > 0xffff) {
            return false;
        }
        (*version)[size_t(i)] = quint16(part);
    }
    return true;
}
} // namespace

namespace VersionBlockWriter
{
QByteArray build(const VersionBlockContent& content)
{
    BlockStream out;
    const qsizetype root = out.open(QStringLiteral("VS_VERSION_INFO"), 52, BinaryValue);
    // The fixed part: signature, structure 1.0, versions, flags mask, no flags, no
    // operating system of the Windows family, an application, no subtype, no date.
    out.dword(0xFEEF04BD);
    out.dword(0x00010000);
    out.dword(high(content.fileVersion));
    out.dword(low(content.fileVersion));
    out.dword(high(content.productVersion));
    out.dword(low(content.productVersion));
    out.dword(0x3F);
    out.dword(0);
    out.dword(0);
    out.dword(1);
    out.dword(0);
    out.dword(0);
    out.dword(0);

    if (!content.stringTables.isEmpty()) {
        const qsizetype info = out.open(QStringLiteral("StringFileInfo"), 0, TextValue);
        for (const auto& table : content.stringTables) {
            const qsizetype tableStart = out.open(table.name, 0, TextValue);
            for (const auto& [key, value] : table.strings) {
                // A text value's length counts UTF-16 units, terminator included.
                const qsizetype entry = out.open(key, quint16(value.size() + 1), TextValue);
                out.text(value);
                out.close(entry);
            }
            out.close(tableStart);
        }
        out.close(info);
    }

    if (!content.translations.isEmpty()) {
        const qsizetype info = out.open(QStringLiteral("VarFileInfo"), 0, TextValue);
        const qsizetype var
            = out.open(QStringLiteral("Translation"), quint16(4 * content.translations.size()), BinaryValue);
        for (const auto& [language, codePage] : content.translations) {
            out.word(language);
            out.word(codePage);
        }
        out.close(var);
        out.close(info);
    }
    out.close(root);
    // Every length field is 16 bits wide; a larger block cannot be described.
    if (out.bytes.size() > 0xffff) {
        return {};
    }
    return out.bytes;
}

bool parse(const QByteArray& text, VersionBlockContent* content, QString* error)
{
    static const QRegularExpression tableHeader(QStringLiteral("^\\[StringFileInfo ([0-9A-Fa-f]{8})\\]$"));
    static const QRegularExpression hex4(QStringLiteral("^[0-9A-Fa-f]{4}$"));
    enum class Section { None, Fixed, Strings, Var } section = Section::None;
    *content = {};
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = QString::fromUtf8(lines[n]).trimmed();
        const auto fail = [&](const QString& why) {
            *error = QStringLiteral("line %1: %2").arg(n + 1).arg(why);
            return false;
        };
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('['))) {
            if (line == QLatin1String("[fixed]")) {
                section = Section::Fixed;
            } else if (line == QLatin1String("[VarFileInfo]")) {
                section = Section::Var;
            } else if (const auto match = tableHeader.match(line); match.hasMatch()) {
                section = Section::Strings;
                content->stringTables.append({ match.captured(1).toUpper(), {} });
            } else {
                return fail(QStringLiteral("unknown section ") + line);
            }
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            return fail(QStringLiteral("expected Key=Value"));
        }
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        switch (section) {
        case Section::None:
            return fail(QStringLiteral("value outside a section"));
        case Section::Fixed:
            if (key == QLatin1String("FileVersion")) {
                if (!parseVersion(value, &content->fileVersion)) {
                    return fail(QStringLiteral("bad version ") + value);
                }
            } else if (key == QLatin1String("ProductVersion")) {
                if (!parseVersion(value, &content->productVersion)) {
                    return fail(QStringLiteral("bad version ") + value);
                }
            } else {
                return fail(QStringLiteral("unknown fixed key ") + key);
            }
            break;
        case Section::Strings:
            if (value.size() >= 0x7fff) {
                return fail(QStringLiteral("value too long"));
            }
            content->stringTables.last().strings.append({ key, value });
            break;
        case Section::Var: {
            const QStringList codes = value.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
            if (key != QLatin1String("Translation") || codes.isEmpty() || codes.size() % 2 != 0) {
                return fail(QStringLiteral("expected Translation=LLLL CCCC"));
            }
            for (qsizetype i = 0; i < codes.size(); i += 2) {
                if (!hex4.match(codes[i]).hasMatch() || !hex4.match(codes[i + 1]).hasMatch()) {
                    return fail(QStringLiteral("expected four hex digits"));
                }
                content->translations.append(
                    { quint16(codes[i].toUInt(nullptr, 16)), quint16(codes[i + 1].toUInt(nullptr, 16)) });
            }
            break;
        }
        }
    }
    return true;
}
} // namespace VersionBlockWriter
