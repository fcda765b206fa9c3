#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Reader and writer of INI settings files. Sections and keys are matched
// without regard to case, values are read without the blanks around them and
// cut to 2047 characters. Writing changes only the lines of the keys written
// (or appends them) and keeps every other line byte for byte, the file's line
// ends and its encoding (UTF-8, or UTF-16 with a byte order mark); save()
// replaces the file atomically, through a symbolic link to its target.
class IniFile
{
public:
    static constexpr int MaxValueLength = 2047;
    static constexpr qint64 MaxFileSize = 16 * 1024 * 1024;

    explicit IniFile(const QString& fileName);

    const QString& fileName() const { return m_fileName; }

    // A missing file is no error: it reads as empty.
    bool load(QString* error = nullptr);
    bool save(QString* error = nullptr);

    bool hasKey(const QString& section, const QString& key) const;
    QString readString(const QString& section, const QString& key, const QString& defaultValue) const;
    int readInteger(const QString& section, const QString& key, int defaultValue) const;
    bool readBool(const QString& section, const QString& key, bool defaultValue) const;

    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int value);
    void writeBool(const QString& section, const QString& key, bool value);

    // "0x1F" (three characters or more), "$1F", "-12", "+7"; false for anything else.
    static bool parseInteger(const QString& text, int* value);

private:
    struct Location
    {
        qsizetype sectionLine = -1; // index of the "[section]" line, -1 when missing
        qsizetype keyLine = -1; // index of the key's line, -1 when missing
        qsizetype lastLine = -1; // last non-blank line of the section
    };
    Location locate(const QString& section, const QString& key) const;

    enum class Encoding { Utf8, Utf8WithBom, Utf16LE, Utf16BE };

    QString m_fileName;
    Encoding m_encoding = Encoding::Utf8;
    QList<QByteArray> m_lines;
    QByteArray m_newline = "\n";
    bool m_endsWithNewline = true;
};
