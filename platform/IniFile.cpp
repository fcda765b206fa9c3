#include "platform/IniFile.h"

#include "platform/FileAccess.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
    QFile file(m_fileName);
    if (!file.exists()) {
        return true;
    }
    if (QFileInfo(m_fileName).isDir() || !file.open(QIODevice::ReadOnly) || file.size() > MaxFileSize) {
        if (error) {
            *error = QStringLiteral("Unable to read %1").arg(m_fileName);
        }
        return false;
    }
    const QByteArray data = file.readAll();
    if (data.contains("\r\n")) {
        m_newline = "\r\n";
    }
    m_endsWithNewline = data.isEmpty() || data.endsWith('\n');
    m_lines = data.split('\n');
    if (m_endsWithNewline) {
        m_lines.removeLast();
    }
    for (QByteArray& line : m_lines) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
    }
    return true;
}

bool IniFile::save(QString* error)
{
    auto fail = [&] {
        if (error) {
            *error = QStringLiteral("Unable to write to %1").arg(m_fileName);
        }
        return false;
    };
    const bool existed = QFileInfo::exists(m_fileName);
    if ((existed && !FileAccess::isWritableFile(m_fileName))
        || !FileAccess::isWritableFolder(QFileInfo(m_fileName).absolutePath())) {
        return fail();
    }
    QSaveFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        return fail();
    }
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        file.write(m_lines.at(i));
        if (i + 1 < m_lines.size() || m_endsWithNewline) {
            file.write(m_newline);
        }
    }
    if (!existed) {
        // The file may sit beside private data; only its owner reads it.
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    if (!file.commit()) {
        return fail();
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
