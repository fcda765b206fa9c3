#pragma once

#include "engine/ZipEngineRecords.h"
#include "zip/ZipTypes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <deque>
#include <vector>

// The longest password handed to the engine with a command, and in a reply.
constexpr int MaxCommandPassword = 81;
constexpr int MaxReplyPassword = 80;

// ".gif:.png:…" for the suffixes stored without compression; assEXT stands for
// the already normalised extra text.
QString StoreSuffixList(AddStoreExts suffixes, const QString& extraSuffixes);
// Items separated by ",", ";" or ":" each get a leading "." and a ":" after
// them, lower-cased: "abc,.DEF" gives ".abc:.def:".
QString NormaliseStoreSuffixes(const QString& text);
// A date-time counted in days from 1899-12-30 as an MS-DOS date-time (date
// high, time low); 0 outside the years 1980 to 2107.
quint32 DateTimeToDos(double value);
quint32 DosNow();

// One file spec as the engine takes it: ">" or "|" in front switch recursion
// on or off, "<" ends the name and starts a password of its own.
struct ZipFileSpec
{
    QString Name;
    QString Password;
    qint32 Encrypt = 0;
    qint32 Recurse = 0;
};
ZipFileSpec ParseFileSpec(const QString& item, bool recurse, bool encrypt, const QString& password);

// Texts live as long as the block that handed them to a record.
class TEngineTexts
{
public:
    const char* Add(const QByteArray& text);
    // Null for an empty text.
    const char* AddOrNull(const QByteArray& text) { return text.isEmpty() ? nullptr : Add(text); }
    void Clear() { m_texts.clear(); }

private:
    std::deque<QByteArray> m_texts;
};

// A zip command record with everything it points at; all of it goes at once.
struct TZipCommandBlock
{
    ZipCommandRecord Record {};
    // The entry's bytes, held for the engine: a handler that writes into or clears the
    // entry stream meanwhile makes the stream let go of them, not the engine.
    QByteArray Input;
    std::vector<FileSpecRecord> Specs;
    std::vector<const char*> Excludes;
    TEngineTexts Texts;
};

struct TUnzipCommandBlock
{
    UnzipCommandRecord Record {};
    std::vector<ExtractSpecRecord> Specs;
    TEngineTexts Texts;
};

inline qint32 EngineFlag(bool value)
{
    return value ? ZE_TRUE : ZE_FALSE;
}

// A text as UTF-8: at most maxChars characters and maxChars bytes,
// never cut inside a character.
QByteArray EngineBytes(const QString& password, int maxChars);
