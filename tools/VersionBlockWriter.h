#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <array>

// Builds a block laid out like a Windows VS_VERSIONINFO resource in its UTF-16 form.
struct VersionBlockContent
{
    struct StringTable
    {
        QString name; // language and code page as eight hex digits, e.g. "040904E4"
        QList<QPair<QString, QString>> strings;
    };

    std::array<quint16, 4> fileVersion {};
    std::array<quint16, 4> productVersion {};
    QList<StringTable> stringTables;
    // Pairs of language and code page; the block has no VarFileInfo at all when empty.
    QList<QPair<quint16, quint16>> translations;
};

namespace VersionBlockWriter
{
// Empty when the block would not fit its 16-bit length fields.
QByteArray build(const VersionBlockContent& content);

// Reads a description of the form
//   [fixed]                  FileVersion=0.6.7.0  ProductVersion=0.6.7.0
//   [StringFileInfo 040904E4] Key=Value, one a line, in block order
//   [VarFileInfo]            Translation=0409 04E4 (more pairs may follow)
// with '#' comment lines. Returns false with a message naming the line on error.
bool parse(const QByteArray& text, VersionBlockContent* content, QString* error);
} // namespace VersionBlockWriter
