#include "platform/IniFile.h"

#include "platform/AtomicFile.h"
#include "platform/FileAccess.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <limits>

namespace
{
QString sectionName(const QByteArray& line)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.size() < 2 || !trimmed.startsWith('[')) {
        return {};
    }
    const qsizetype close = trimmed.indexOf(']');
    if (close < 0) {
        return {};
    }
    return QString::fromUtf8(trimmed.mid(1, close - 1)).trimmed();
}

bool isSectionLine(const QByteArray& line)
{
    const QByteArray trimmed = line.trimmed();
    return trimmed.startsWith('[') && trimmed.contains(']');
}

bool keyMatches(const QByteArray& line, const QString& key)
{
    const qsizetype eq = line.indexOf('=');
    if (eq < 0) {
        return false;
    }
    return QString::fromUtf8(line.left(eq)).trimmed().compare(key, Qt::CaseInsensitive) == 0;
}

bool parseHex(QStringView digits, quint32* value)
{
    if (digits.isEmpty() || digits.size() > 8) {
        return false;
    }
    bool ok = false;
    *value = digits.toUInt(&ok, 16);
    return ok;
}
} // namespace

IniFile::IniFile(const QString& fileName)
    : m_fileName(fileName)
{ }

bool IniFile::load(QString* error)
{
    m_lines.clear();
    // A link whose target is not there yet reads as a missing file; the first save creates the target.
    QFile file(AtomicFile::resolveLinks(m_fileName));
    if (!QFileInfo::exists(file.fileName())) {
        return true;
    }
    if (QFileInfo(m_fileName).isDir() || !file.open(QIODevice::ReadOnly) || file.size() > MaxFileSize) {
        if (error) {
            *error = QStringLiteral("Unable to read %1").arg(m_fileName);
        }
        return false;
    }
    QByteArray data = file.readAll();
    m_encoding = Encoding::Utf8;
    if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF")) {
        // Editors on other systems save settings as UTF-16; they are read as text and written back the same way.
        m_encoding = data.startsWith("\xFF\xFE") ? Encoding::Utf16LE : Encoding::Utf16BE;
        auto decode
            = QStringDecoder(m_encoding == Encoding::Utf16LE ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        data = QString(decode(QByteArrayView(data).sliced(2))).toUtf8();
    } else if (data.startsWith("\xEF\xBB\xBF")) {
        m_encoding = Encoding::Utf8WithBom;
        data.remove(0, 3);
    }
    // Lines end in CR LF, LF or (as old Mac files do) CR alone; the file's own ending is kept.
    m_newline = data.contains("\r\n") ? QByteArray("\r\n")
        : data.contains('\n')         ? QByteArray("\n")
        : data.contains('\r')         ? QByteArray("\r")
                                      : QByteArray("\n");
    m_endsWithNewline = data.isEmpty() || data.endsWith('\n') || data.endsWith('\r');
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data.at(i) == '\r' || data.at(i) == '\n') {
            m_lines.append(data.mid(start, i - start));
            if (data.at(i) == '\r' && i + 1 < data.size() && data.at(i + 1) == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < data.size()) {
        m_lines.append(data.mid(start));
    }
    return true;
}

bool IniFile::save(QString* error)
{
    const QString target = AtomicFile::resolveLinks(m_fileName);
    const bool existed = QFileInfo::exists(target);
    if ((existed && !FileAccess::isWritableFile(target))
        || !FileAccess::isWritableFolder(QFileInfo(target).absolutePath())) {
        if (error) {
            *error = QStringLiteral("Unable to write to %1").arg(m_fileName);
        }
        return false;
    }
    QByteArray text;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        text += m_lines.at(i);
        if (i + 1 < m_lines.size() || m_endsWithNewline) {
            text += m_newline;
        }
    }
    QByteArray bytes;
    switch (m_encoding) {
    case Encoding::Utf8:
        bytes = text;
        break;
    case Encoding::Utf8WithBom:
        bytes = "\xEF\xBB\xBF" + text;
        break;
    case Encoding::Utf16LE:
    case Encoding::Utf16BE: {
        auto encode
            = QStringEncoder(m_encoding == Encoding::Utf16LE ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
                QStringConverter::Flag::WriteBom);
        bytes = encode(QString::fromUtf8(text));
        break;
    }
    }
    if (!AtomicFile::write(m_fileName, bytes)) {
        if (error) {
            *error = QStringLiteral("Unable to write to %1").arg(m_fileName);
        }
        return false;
    }
    return true;
}

IniFile::Location IniFile::locate(const QString& section, const QString& key) const
{
    Location where;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const QByteArray& line = m_lines.at(i);
        if (where.sectionLine < 0) {
            if (isSectionLine(line) && sectionName(line).compare(section, Qt::CaseInsensitive) == 0) {
                where.sectionLine = i;
                where.lastLine = i;
            }
            continue;
        }
        if (isSectionLine(line)) {
            break;
        }
        if (!line.trimmed().isEmpty()) {
            where.lastLine = i;
        }
        if (where.keyLine < 0 && keyMatches(line, key)) {
            where.keyLine = i;
        }
    }
    return where;
}

bool IniFile::hasKey(const QString& section, const QString& key) const
{
    return locate(section, key).keyLine >= 0;
}

QString IniFile::readString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const Location where = locate(section, key);
    if (where.keyLine < 0) {
        return defaultValue;
    }
    const QByteArray& line = m_lines.at(where.keyLine);
    const QString value = QString::fromUtf8(line.mid(line.indexOf('=') + 1)).trimmed();
    return value.left(MaxValueLength);
}

bool IniFile::parseInteger(const QString& text, int* value)
{
    quint32 hex = 0;
    if (text.size() >= 3 && (text.startsWith(QLatin1String("0x")) || text.startsWith(QLatin1String("0X")))) {
        if (!parseHex(QStringView(text).mid(2), &hex)) {
            return false;
        }
        *value = static_cast<int>(hex);
        return true;
    }
    QStringView rest(text);
    bool negative = false;
    if (rest.startsWith(QLatin1Char('-')) || rest.startsWith(QLatin1Char('+'))) {
        negative = rest.front() == QLatin1Char('-');
        rest = rest.mid(1);
    }
    if (rest.startsWith(QLatin1Char('$'))) {
        if (!parseHex(rest.mid(1), &hex)) {
            return false;
        }
        *value = static_cast<int>(negative ? 0u - hex : hex);
        return true;
    }
    if (rest.isEmpty()) {
        return false;
    }
    for (QChar c : rest) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
    }
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok, 10);
    if (!ok || number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
        return false;
    }
    *value = static_cast<int>(number);
    return true;
}

int IniFile::readInteger(const QString& section, const QString& key, int defaultValue) const
{
    int value = 0;
    return parseInteger(readString(section, key, QString()), &value) ? value : defaultValue;
}

bool IniFile::readBool(const QString& section, const QString& key, bool defaultValue) const
{
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value)
{
    const QByteArray line = key.toUtf8() + '=' + value.toUtf8();
    const Location where = locate(section, key);
    if (where.keyLine >= 0) {
        m_lines[where.keyLine] = line;
    } else if (where.sectionLine >= 0) {
        m_lines.insert(where.lastLine + 1, line);
    } else {
        m_endsWithNewline = true;
        m_lines.append('[' + section.toUtf8() + ']');
        m_lines.append(line);
    }
}

void IniFile::writeInteger(const QString& section, const QString& key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString& section, const QString& key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}
