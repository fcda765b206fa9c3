#pragma once

#include "platform/Exception.h"
#include "zip/ZipDefMsgs.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <concepts>
#include <optional>
#include <type_traits>

// Message ids 10000..11999 name every text of the zip component. Texts come
// from the selected language table, else from the built-in US table.

// Never empty: an unknown id gives "Resource missing for <id>".
QString LoadMessageText(int id);

// Printf-like formatting as the component's texts expect it: %s, %d, %u, %x
// with optional "index:", "-", width and ".precision"; %% for a percent sign.
QString ZipFormat(const QString& format, const QVariantList& args);

QString FormatMessageText(int id, const QVariantList& args);
template <typename T> QVariant ZipArg(const T& value)
{
    if constexpr (std::is_convertible_v<const T&, QString>)
        return QString(value);
    else
        return QVariant::fromValue(value);
}
template <typename... Args> QString FormatMessageText(int id, const Args&... args)
{
    return FormatMessageText(id, QVariantList { ZipArg(args)... });
}

// The language blocks the program carries (raw-data resource 11610), if any.
std::optional<QByteArray> MessageLanguageBlocks();

// Selects a message table by language tag, Windows language id, or "*" for
// the user's default. Returns the selected name, empty when the built-in
// table stays in use.
QString SetMessageLanguage(const QString& name);
QString SetMessageLanguage(const QString& name, const std::optional<QByteArray>& blocks);

// index 0: the selected language; index > 0: the carried block of that
// number. item 0 gives "$" + the language id in hex, item -1 the name, any
// other item the locale information of that number for the language.
QString MessageLanguageInfo(int index, int item);
QString MessageLanguageInfo(int index, int item, const std::optional<QByteArray>& blocks);

// Windows language ids of the user's locale and the locale items asked of them.
int UserDefaultLcid();
QString LocaleInfoText(int lcid, int item);

class EZipArchiver : public Exception
{
public:
    EZipArchiver(const QString& text, bool display);
    EZipArchiver(int id, bool display);
    EZipArchiver(int id, const QVariantList& args);
    EZipArchiver(int id, const QString& text);
    EZipArchiver(int id, const char* text)
        : EZipArchiver(id, QString::fromUtf8(text))
    { }
    template <std::integral T>
    requires(!std::same_as<T, bool>) EZipArchiver(int id, T number)
        : EZipArchiver(id, static_cast<qint8>(number), NumberTag {})
    { }

    bool DisplayFlag() const { return m_displayFlag; }
    int MessageId() const { return m_messageId; }

private:
    struct NumberTag
    {
    };
    EZipArchiver(int id, qint8 number, NumberTag);

    bool m_displayFlag = true;
    int m_messageId = 0;
};
