#include "zip/ZipMsgStr.h"

#include "zip/ZipDefMsgs.h"
#include "zip/ZipLz77.h"

#include <QBuffer>
#include <QFile>
#include <QLocale>

#include <algorithm>
#include <vector>

namespace
{
constexpr int kUsLanguageId = 1033;
constexpr int kMaxUnpackedTable = 50000;
constexpr quint16 kStringTableType = 6;

// An unpacked language table: the image of a resource file of string tables,
// as 16-bit words with a closing 0xFFFF.
using MessageTable = std::vector<quint16>;

struct LanguageState
{
    MessageTable selected;
    int selectedId = 0;
    QString selectedName;
};

LanguageState& languageState()
{
    static LanguageState state;
    return state;
}

QString withCrLf(QString text)
{
    return text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
}

QString findInTable(const MessageTable& table, int id)
{
    if (table.size() < 2 || id < 0)
        return {};
    const size_t last = table.size() - 1;
    const quint16 block = quint16(id / 16 + 1);
    const int index = id % 16;
    auto dword = [&](size_t at) { return quint32(table[at]) | (quint32(table[at + 1]) << 16); };

    size_t pos = 0;
    while (pos + 9 < last) {
        if (pos & 1)
            ++pos;
        if (pos + 9 >= last)
            break;
        const quint64 dataSize = dword(pos);
        const quint64 headerSize = dword(pos + 2);
        if (dataSize + headerSize < 8)
            return {};
        if (table[pos + 4] == 0xFFFF && table[pos + 5] == kStringTableType && table[pos + 6] == 0xFFFF
            && table[pos + 7] == block) {
            if (headerSize < 8)
                return {};
            quint64 at = pos + 2 + (headerSize - 8) / 2 + 2;
            for (int skip = 0; skip < index; ++skip) {
                if (at >= last)
                    return {};
                at += quint64(table[at]) + 1;
            }
            if (at >= last)
                return {};
            const quint16 length = table[at];
            if (length == 0 || at + length >= last)
                return {};
            return withCrLf(QString::fromUtf16(reinterpret_cast<const char16_t*>(&table[at + 1]), length));
        }
        pos += (dataSize + headerSize - 8) / 2 + 4;
    }
    return {};
}

QString findBuiltIn(int id)
{
    const auto messages = ZipDefMsgs();
    const auto it = std::lower_bound(
        messages.begin(), messages.end(), id, [](const ZipDefMsg& message, int wanted) { return message.id < wanted; });
    if (it == messages.end() || it->id != id)
        return {};
    return withCrLf(QString::fromUtf8(it->text));
}

// Letters, digits and '_' after leading blanks, not starting with a digit.
QString leadingIdentifier(const QString& name)
{
    int i = 0;
    while (i < name.size() && name[i] == QLatin1Char(' '))
        ++i;
    const int start = i;
    while (i < name.size()) {
        const QChar c = name[i];
        const bool letter = c.isLetter() || c == QLatin1Char('_');
        if (!letter && !(c.isDigit() && i > start))
            break;
        ++i;
    }
    return name.mid(start, i - start).toUpper();
}

struct LanguageBlock
{
    int id = 0;
    QString name;
    QByteArray packed;
};

std::vector<LanguageBlock> parseBlocks(const QByteArray& data)
{
    std::vector<LanguageBlock> blocks;
    auto word = [&](qsizetype at) { return int(quint8(data[at])) | (int(quint8(data[at + 1])) << 8); };
    qsizetype pos = 0;
    while (pos + 8 < data.size()) {
        const int id = word(pos);
        const int packedSize = word(pos + 2);
        const int nameLength = word(pos + 4);
        const qsizetype packedAt = pos + 6 + nameLength;
        if (packedAt + packedSize > data.size())
            break;
        blocks.push_back({ id, QString::fromLatin1(data.mid(pos + 6, nameLength)), data.mid(packedAt, packedSize) });
        pos = packedAt + packedSize;
    }
    return blocks;
}

bool unpackTable(const QByteArray& packed, MessageTable& table)
{
    if (packed.size() < 4)
        return false;
    const quint32 unpackedSize = quint32(quint8(packed[0])) | (quint32(quint8(packed[1])) << 8)
        | (quint32(quint8(packed[2])) << 16) | (quint32(quint8(packed[3])) << 24);
    if (unpackedSize >= kMaxUnpackedTable)
        return false;
    QByteArray source = packed;
    QBuffer in(&source);
    QBuffer out;
    in.open(QIODevice::ReadOnly);
    out.open(QIODevice::WriteOnly);
    if (LzExtract(out, in, packed.size()) != 0)
        return false;
    const QByteArray& bytes = out.data();
    table.assign((unpackedSize + 1) / 2 + 1, 0);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        table[size_t(i / 2)] |= quint16(quint8(bytes[i])) << (8 * (i % 2));
    table.back() = 0xFFFF;
    return true;
}

struct LcidName
{
    int lcid;
    const char* locale;
};

// The user default is found by the first entry of its locale, then of its language.
const LcidName kLcids[] = {
    { 1033, "en_US" },
    { 2057, "en_GB" },
    { 3081, "en_AU" },
    { 4105, "en_CA" },
    { 5129, "en_NZ" },
    { 6153, "en_IE" },
    { 1031, "de_DE" },
    { 2055, "de_CH" },
    { 3079, "de_AT" },
    { 3082, "es_ES" },
    { 1034, "es_ES" },
    { 2058, "es_MX" },
    { 1036, "fr_FR" },
    { 2060, "fr_BE" },
    { 3084, "fr_CA" },
    { 1040, "it_IT" },
    { 1043, "nl_NL" },
    { 2067, "nl_BE" },
    { 1046, "pt_BR" },
    { 2070, "pt_PT" },
    { 1025, "ar_SA" },
    { 1026, "bg_BG" },
    { 1027, "ca_ES" },
    { 1028, "zh_TW" },
    { 2052, "zh_CN" },
    { 1029, "cs_CZ" },
    { 1030, "da_DK" },
    { 1032, "el_GR" },
    { 1035, "fi_FI" },
    { 1037, "he_IL" },
    { 1038, "hu_HU" },
    { 1039, "is_IS" },
    { 1041, "ja_JP" },
    { 1042, "ko_KR" },
    { 1044, "nb_NO" },
    { 1045, "pl_PL" },
    { 1048, "ro_RO" },
    { 1049, "ru_RU" },
    { 1050, "hr_HR" },
    { 1051, "sk_SK" },
    { 1052, "sq_AL" },
    { 1053, "sv_SE" },
    { 1054, "th_TH" },
    { 1055, "tr_TR" },
    { 1057, "id_ID" },
    { 1058, "uk_UA" },
    { 1059, "be_BY" },
    { 1060, "sl_SI" },
    { 1061, "et_EE" },
    { 1062, "lv_LV" },
    { 1063, "lt_LT" },
    { 1065, "fa_IR" },
    { 1066, "vi_VN" },
    { 1081, "hi_IN" },
};

const char* localeOfLcid(int lcid)
{
    for (const auto& entry : kLcids) {
        if (entry.lcid == lcid)
            return entry.locale;
    }
    return nullptr;
}
} // namespace

QString LoadMessageText(int id)
{
    QString text = findInTable(languageState().selected, id);
    if (text.isEmpty())
        text = findBuiltIn(id);
    if (text.isEmpty())
        text = QStringLiteral("Resource missing for ") + QString::number(id);
    return text;
}

QString ZipFormat(const QString& format, const QVariantList& args)
{
    QString out;
    int nextArg = 0;
    const int n = format.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = format[i];
        if (c != QLatin1Char('%') || i + 1 >= n) {
            out += c;
            continue;
        }
        int j = i + 1;
        if (format[j] == QLatin1Char('%')) {
            out += c;
            i = j;
            continue;
        }
        auto readNumber = [&](int& value) {
            bool any = false;
            value = 0;
            while (j < n && format[j].isDigit()) {
                value = value * 10 + format[j].digitValue();
                ++j;
                any = true;
            }
            return any;
        };
        int number = 0;
        const int specStart = j;
        if (readNumber(number) && j < n && format[j] == QLatin1Char(':')) {
            nextArg = number;
            ++j;
        } else {
            j = specStart;
        }
        bool leftAlign = false;
        if (j < n && format[j] == QLatin1Char('-')) {
            leftAlign = true;
            ++j;
        }
        int width = 0;
        readNumber(width);
        int precision = -1;
        if (j < n && format[j] == QLatin1Char('.')) {
            ++j;
            readNumber(precision);
        }
        if (j >= n) {
            out += format.mid(i);
            break;
        }
        const QChar type = format[j].toLower();
        const QVariant arg = nextArg < args.size() ? args[nextArg] : QVariant();
        ++nextArg;
        QString piece;
        if (type == QLatin1Char('d') || type == QLatin1Char('u') || type == QLatin1Char('x')) {
            const qlonglong value = arg.toLongLong();
            QString digits;
            if (type == QLatin1Char('x'))
                digits = QString::number(quint32(value), 16).toUpper();
            else if (type == QLatin1Char('u'))
                digits = QString::number(quint32(value));
            else
                digits = QString::number(value < 0 ? -value : value);
            if (precision > digits.size())
                digits = QString(precision - digits.size(), QLatin1Char('0')) + digits;
            piece = (type == QLatin1Char('d') && value < 0) ? QLatin1Char('-') + digits : digits;
        } else if (type == QLatin1Char('s')) {
            piece = arg.toString();
            if (precision >= 0)
                piece.truncate(precision);
        } else if (type == QLatin1Char('f')) {
            piece = QString::number(arg.toDouble(), 'f', precision < 0 ? 2 : precision);
        } else {
            out += format.mid(i, j - i + 1);
            i = j;
            continue;
        }
        if (piece.size() < width) {
            const QString pad(width - piece.size(), QLatin1Char(' '));
            piece = leftAlign ? piece + pad : pad + piece;
        }
        out += piece;
        i = j;
    }
    return out;
}

QString FormatMessageText(int id, const QVariantList& args)
{
    return ZipFormat(LoadMessageText(id), args);
}

std::optional<QByteArray> MessageLanguageBlocks()
{
    QFile resource(QStringLiteral(":/11610"));
    if (!resource.open(QIODevice::ReadOnly))
        return std::nullopt;
    return resource.readAll();
}

QString SetMessageLanguage(const QString& name)
{
    return SetMessageLanguage(name, MessageLanguageBlocks());
}

QString SetMessageLanguage(const QString& name, const std::optional<QByteArray>& blocks)
{
    LanguageState& state = languageState();
    state.selected.clear();
    state.selectedId = 0;
    state.selectedName.clear();

    const QString tag = leadingIdentifier(name);
    int languageId = 0;
    if (tag.size() < 2) {
        if (name == QLatin1String("*")) {
            languageId = UserDefaultLcid();
        } else {
            bool ok = false;
            languageId = name.trimmed().toInt(&ok);
            if (!ok || languageId < 1 || languageId > 65535)
                return {};
        }
    }
    if (tag == QLatin1String("US") || languageId == kUsLanguageId || !blocks)
        return {};

    for (const LanguageBlock& block : parseBlocks(*blocks)) {
        const bool matches = tag.size() >= 2
            ? leadingIdentifier(block.name) == tag
            : block.id == languageId || (languageId < 1024 && (block.id & 0x3FF) == languageId);
        if (!matches)
            continue;
        MessageTable table;
        if (!unpackTable(block.packed, table))
            return {};
        state.selected = std::move(table);
        state.selectedId = block.id;
        state.selectedName = block.name;
        return block.name;
    }
    return {};
}

QString MessageLanguageInfo(int index, int item)
{
    return MessageLanguageInfo(index, item, MessageLanguageBlocks());
}

QString MessageLanguageInfo(int index, int item, const std::optional<QByteArray>& blocks)
{
    const LanguageState& state = languageState();
    QString result = QStringLiteral("US: default");
    int languageId = kUsLanguageId;
    if (index == 0 && !state.selected.empty()) {
        result = state.selectedName;
        languageId = state.selectedId;
    } else if (index > 0) {
        result = QStringLiteral("><");
        if (blocks) {
            const auto parsed = parseBlocks(*blocks);
            const size_t number = size_t(index & 0xFF);
            if (number >= 1 && number <= parsed.size()) {
                result = parsed[number - 1].name;
                languageId = parsed[number - 1].id;
            }
        }
    }
    if (result == QLatin1String("><"))
        return result;
    if (item == 0)
        return QLatin1Char('$') + QStringLiteral("%1").arg(languageId, 4, 16, QLatin1Char('0')).toUpper();
    if (item != -1)
        return LocaleInfoText(languageId, item);
    return result;
}

int UserDefaultLcid()
{
    const QLocale locale = QLocale::system();
    const QString name = locale.name();
    const QString language = name.section(QLatin1Char('_'), 0, 0);
    for (const auto& entry : kLcids) {
        if (name == QLatin1String(entry.locale))
            return entry.lcid;
    }
    for (const auto& entry : kLcids) {
        if (language == QString::fromLatin1(entry.locale).section(QLatin1Char('_'), 0, 0))
            return entry.lcid;
    }
    return kUsLanguageId;
}

QString LocaleInfoText(int lcid, int item)
{
    if (lcid < 1 || lcid == 1024)
        lcid = UserDefaultLcid();
    const char* name = localeOfLcid(lcid);
    if (!name)
        return {};
    const QLocale locale { QLatin1String(name) };
    switch (item) {
    case 0x0001: // LOCALE_ILANGUAGE
        return QStringLiteral("%1").arg(lcid, 4, 16, QLatin1Char('0'));
    case 0x0002: // LOCALE_SLANGUAGE
        return QLocale::languageToString(locale.language()) + QStringLiteral(" (")
            + QLocale::territoryToString(locale.territory()) + QLatin1Char(')');
    case 0x0004: // LOCALE_SNATIVELANGNAME
        return locale.nativeLanguageName();
    case 0x0006: // LOCALE_SCOUNTRY
    case 0x1002: // LOCALE_SENGCOUNTRY
        return QLocale::territoryToString(locale.territory());
    case 0x0008: // LOCALE_SNATIVECTRYNAME
        return locale.nativeTerritoryName();
    case 0x1001: // LOCALE_SENGLANGUAGE
        return QLocale::languageToString(locale.language());
    case 0x0059: // LOCALE_SISO639LANGNAME
        return QString::fromLatin1(name).section(QLatin1Char('_'), 0, 0);
    case 0x005A: // LOCALE_SISO3166CTRYNAME
        return QString::fromLatin1(name).section(QLatin1Char('_'), 1, 1);
    default:
        return {};
    }
}

EZipArchiver::EZipArchiver(const QString& text, bool display)
    : Exception(text)
    , m_displayFlag(display)
    , m_messageId(0)
{ }

EZipArchiver::EZipArchiver(int id, bool display)
    : Exception(LoadMessageText(id))
    , m_displayFlag(display)
    , m_messageId(id)
{ }

EZipArchiver::EZipArchiver(int id, const QVariantList& args)
    : Exception(FormatMessageText(id, args))
    , m_messageId(id)
{ }

EZipArchiver::EZipArchiver(int id, const QString& text)
    : Exception(FormatMessageText(id, QVariantList { text }))
    , m_messageId(id)
{ }

EZipArchiver::EZipArchiver(int id, qint8 number, NumberTag)
    : Exception(FormatMessageText(id, QVariantList { int(number) }))
    , m_messageId(id)
{ }
