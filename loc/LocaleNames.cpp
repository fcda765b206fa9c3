#include "loc/LocaleNames.h"

#include <QLocale>

#include <algorithm>
#include <cstring>
#include <vector>

namespace
{
struct NamedLanguage
{
    quint16 id;
    const char* name;
};

// Looked up by exact identifier before the platform is asked.
constexpr NamedLanguage NameTable[] = { { 1025, "Arabic (Saudi Arabia)" }, { 1026, "Bulgarian" }, { 1027, "Catalan" },
    { 1028, "Chinese (Taiwan)" }, { 1029, "Czech" }, { 1030, "Danish" }, { 1031, "German (Germany)" },
    { 1032, "Greek" }, { 1033, "English (United States)" }, { 1034, "Spanish (Traditional Sort)" }, { 1035, "Finnish" },
    { 1036, "French (France)" }, { 1037, "Hebrew" }, { 1038, "Hungarian" }, { 1039, "Icelandic" },
    { 1040, "Italian (Italy)" }, { 1041, "Japanese" }, { 1042, "Korean" }, { 1043, "Dutch (Netherlands)" },
    { 1044, "Norwegian (Bokmal)" }, { 1045, "Polish" }, { 1046, "Portuguese (Brazil)" }, { 1048, "Romanian" },
    { 1049, "Russian" }, { 1050, "Croatian" }, { 1051, "Slovak" }, { 1052, "Albanian" }, { 1053, "Swedish" },
    { 1054, "Thai" }, { 1055, "Turkish" }, { 1056, "Urdu" }, { 1057, "Indonesian" }, { 1058, "Ukrainian" },
    { 1059, "Belarusian" }, { 1060, "Slovenian" }, { 1061, "Estonian" }, { 1062, "Latvian" }, { 1063, "Lithuanian" },
    { 1065, "Farsi" }, { 1066, "Vietnamese" }, { 1067, "Armenian" }, { 1068, "Azeri (Latin)" }, { 1069, "Basque" },
    { 1071, "Macedonian (FYROM)" }, { 1078, "Afrikaans" }, { 1079, "Georgian" }, { 1080, "Faeroese" },
    { 1081, "Hindi" }, { 1086, "Malay (Malaysia)" }, { 1087, "Kazakh" }, { 1088, "Kyrgyz (Cyrillic)" },
    { 1089, "Swahili" }, { 1091, "Uzbek (Latin)" }, { 1092, "Tatar" }, { 1094, "Punjabi" }, { 1095, "Gujarati" },
    { 1097, "Tamil" }, { 1098, "Telugu" }, { 1099, "Kannada" }, { 1102, "Marathi" }, { 1103, "Sanskrit" },
    { 1104, "Mongolian (Cyrillic)" }, { 1110, "Galician" }, { 1111, "Konkani" }, { 1114, "Syriac" }, { 1125, "Divehi" },
    { 2049, "Arabic (Iraq)" }, { 2052, "Chinese (PRC)" }, { 2055, "German (Switzerland)" },
    { 2057, "English (United Kingdom)" }, { 2058, "Spanish (Mexico)" }, { 2060, "French (Belgium)" },
    { 2064, "Italian (Switzerland)" }, { 2067, "Dutch (Belgium)" }, { 2068, "Norwegian (Nynorsk)" },
    { 2070, "Portuguese (Portugal)" }, { 2074, "Serbian (Latin)" }, { 2077, "Swedish (Finland)" },
    { 2092, "Azeri (Cyrillic)" }, { 2110, "Malay (Brunei Darussalam)" }, { 2115, "Uzbek (Cyrillic)" },
    { 3073, "Arabic (Egypt)" }, { 3076, "Chinese (Hong Kong)" }, { 3079, "German (Austria)" },
    { 3081, "English (Australia)" }, { 3082, "Spanish (International Sort)" }, { 3084, "French (Canada)" },
    { 3098, "Serbian (Cyrillic)" }, { 4097, "Arabic (Libya)" }, { 4100, "Chinese (Singapore)" },
    { 4103, "German (Luxembourg)" }, { 4105, "English (Canada)" }, { 4106, "Spanish (Guatemala)" },
    { 4108, "French (Switzerland)" }, { 5121, "Arabic (Algeria)" }, { 5124, "Chinese (Macau)" },
    { 5127, "German (Liechtenstein)" }, { 5129, "English (New Zealand)" }, { 5130, "Spanish (Costa Rica)" },
    { 5132, "French (Luxembourg)" }, { 6145, "Arabic (Morocco)" }, { 6153, "English (Ireland)" },
    { 6154, "Spanish (Panama)" }, { 6156, "French (Monaco)" }, { 7169, "Arabic (Tunisia)" },
    { 7177, "English (South Africa)" }, { 7178, "Spanish (Dominican Republic)" }, { 8193, "Arabic (Oman)" },
    { 8201, "English (Jamaica)" }, { 8202, "Spanish (Venezuela)" }, { 9217, "Arabic (Yemen)" },
    { 9225, "English (Caribbean)" }, { 9226, "Spanish (Colombia)" }, { 10241, "Arabic (Syria)" },
    { 10249, "English (Belize)" }, { 10250, "Spanish (Peru)" }, { 11265, "Arabic (Jordan)" },
    { 11273, "English (Trinidad)" }, { 11274, "Spanish (Argentina)" }, { 12289, "Arabic (Lebanon)" },
    { 12297, "English (Zimbabwe)" }, { 12298, "Spanish (Ecuador)" }, { 13313, "Arabic (Kuwait)" },
    { 13321, "English (Philippines)" }, { 13322, "Spanish (Chile)" }, { 14337, "Arabic (U.A.E.)" },
    { 14346, "Spanish (Uruguay)" }, { 15361, "Arabic (Bahrain)" }, { 15370, "Spanish (Paraguay)" },
    { 16385, "Arabic (Qatar)" }, { 16394, "Spanish (Bolivia)" }, { 17418, "Spanish (El Salvador)" },
    { 18442, "Spanish (Honduras)" }, { 19466, "Spanish (Nicaragua)" }, { 20490, "Spanish (Puerto Rico)" } };

// Windows primary languages as Qt locales, with the abbreviation of their main sublanguage.
struct PrimaryLanguage
{
    quint16 primary;
    QLocale::Language language;
    const char* abbreviation;
};

constexpr PrimaryLanguage PrimaryLanguages[] = { { 0x01, QLocale::Arabic, "ARA" }, { 0x02, QLocale::Bulgarian, "BGR" },
    { 0x03, QLocale::Catalan, "CAT" }, { 0x04, QLocale::Chinese, "CHT" }, { 0x05, QLocale::Czech, "CSY" },
    { 0x06, QLocale::Danish, "DAN" }, { 0x07, QLocale::German, "DEU" }, { 0x08, QLocale::Greek, "ELL" },
    { 0x09, QLocale::English, "ENU" }, { 0x0A, QLocale::Spanish, "ESP" }, { 0x0B, QLocale::Finnish, "FIN" },
    { 0x0C, QLocale::French, "FRA" }, { 0x0D, QLocale::Hebrew, "HEB" }, { 0x0E, QLocale::Hungarian, "HUN" },
    { 0x0F, QLocale::Icelandic, "ISL" }, { 0x10, QLocale::Italian, "ITA" }, { 0x11, QLocale::Japanese, "JPN" },
    { 0x12, QLocale::Korean, "KOR" }, { 0x13, QLocale::Dutch, "NLD" }, { 0x14, QLocale::NorwegianBokmal, "NOR" },
    { 0x15, QLocale::Polish, "PLK" }, { 0x16, QLocale::Portuguese, "PTB" }, { 0x18, QLocale::Romanian, "ROM" },
    { 0x19, QLocale::Russian, "RUS" }, { 0x1A, QLocale::Croatian, "HRV" }, { 0x1B, QLocale::Slovak, "SKY" },
    { 0x1C, QLocale::Albanian, "SQI" }, { 0x1D, QLocale::Swedish, "SVE" }, { 0x1E, QLocale::Thai, "THA" },
    { 0x1F, QLocale::Turkish, "TRK" }, { 0x20, QLocale::Urdu, "URD" }, { 0x21, QLocale::Indonesian, "IND" },
    { 0x22, QLocale::Ukrainian, "UKR" }, { 0x23, QLocale::Belarusian, "BEL" }, { 0x24, QLocale::Slovenian, "SLV" },
    { 0x25, QLocale::Estonian, "ETI" }, { 0x26, QLocale::Latvian, "LVI" }, { 0x27, QLocale::Lithuanian, "LTH" },
    { 0x29, QLocale::Persian, "FAR" }, { 0x2A, QLocale::Vietnamese, "VIT" }, { 0x2B, QLocale::Armenian, "HYE" },
    { 0x2C, QLocale::Azerbaijani, "AZE" }, { 0x2D, QLocale::Basque, "EUQ" }, { 0x2F, QLocale::Macedonian, "MKI" },
    { 0x36, QLocale::Afrikaans, "AFK" }, { 0x37, QLocale::Georgian, "KAT" }, { 0x38, QLocale::Faroese, "FOS" },
    { 0x39, QLocale::Hindi, "HIN" }, { 0x3E, QLocale::Malay, "MSL" }, { 0x3F, QLocale::Kazakh, "KKZ" },
    { 0x40, QLocale::Kyrgyz, "KYR" }, { 0x41, QLocale::Swahili, "SWK" }, { 0x43, QLocale::Uzbek, "UZB" },
    { 0x44, QLocale::Tatar, "TTT" }, { 0x46, QLocale::Punjabi, "PAN" }, { 0x47, QLocale::Gujarati, "GUJ" },
    { 0x49, QLocale::Tamil, "TAM" }, { 0x4A, QLocale::Telugu, "TEL" }, { 0x4B, QLocale::Kannada, "KAN" },
    { 0x4E, QLocale::Marathi, "MAR" }, { 0x4F, QLocale::Sanskrit, "SAN" }, { 0x50, QLocale::Mongolian, "MON" },
    { 0x56, QLocale::Galician, "GLC" }, { 0x57, QLocale::Konkani, "KNK" }, { 0x5A, QLocale::Syriac, "SYR" },
    { 0x65, QLocale::Divehi, "DIV" } };

// Sublanguages whose abbreviation differs from their primary language's.
constexpr NamedLanguage AbbreviationExceptions[] = { { 0x0804, "CHS" }, { 0x0C04, "ZHH" }, { 0x1004, "ZHI" },
    { 0x1404, "ZHM" }, { 0x0807, "DES" }, { 0x0C07, "DEA" }, { 0x1007, "DEL" }, { 0x1407, "DEC" }, { 0x0809, "ENG" },
    { 0x0C09, "ENA" }, { 0x1009, "ENC" }, { 0x1409, "ENZ" }, { 0x1809, "ENI" }, { 0x1C09, "ENS" }, { 0x2009, "ENJ" },
    { 0x2409, "ENB" }, { 0x2809, "ENL" }, { 0x2C09, "ENT" }, { 0x3009, "ENW" }, { 0x3409, "ENP" }, { 0x4009, "ENN" },
    { 0x080A, "ESM" }, { 0x0C0A, "ESN" }, { 0x540A, "EST" }, { 0x080C, "FRB" }, { 0x0C0C, "FRC" }, { 0x100C, "FRS" },
    { 0x140C, "FRL" }, { 0x180C, "FRM" }, { 0x0810, "ITS" }, { 0x0813, "NLB" }, { 0x0814, "NON" }, { 0x0816, "PTG" },
    { 0x081D, "SVF" } };

LocaleInfoSource& localeInfoSource()
{
    static LocaleInfoSource source = &SystemLocaleInfo;
    return source;
}

const PrimaryLanguage* primaryLanguage(quint32 localeId)
{
    const quint16 primary = localeId & 0x3FF;
    const auto language = std::find_if(std::begin(PrimaryLanguages), std::end(PrimaryLanguages),
        [primary](const PrimaryLanguage& entry) { return entry.primary == primary; });
    return language == std::end(PrimaryLanguages) ? nullptr : language;
}

QByteArray localeInfoText(quint32 localeId, quint32 infoType)
{
    const quint16 langId = localeId & 0xFFFF;
    const PrimaryLanguage* language = primaryLanguage(localeId);
    if (language == nullptr) {
        return QByteArray();
    }
    if (infoType == LOCALE_SENGLANGUAGE) {
        return QLocale::languageToString(language->language).toLatin1();
    }
    if (infoType == LOCALE_SABBREVLANGNAME) {
        const auto exception = std::find_if(std::begin(AbbreviationExceptions), std::end(AbbreviationExceptions),
            [langId](const NamedLanguage& entry) { return entry.id == langId; });
        return exception != std::end(AbbreviationExceptions) ? QByteArray(exception->name)
                                                             : QByteArray(language->abbreviation);
    }
    return QByteArray();
}
} // namespace

int SystemLocaleInfo(quint32 localeId, quint32 infoType, char* buffer, int size)
{
    const QByteArray text = localeInfoText(localeId, infoType);
    if (text.isEmpty()) {
        return 0;
    }
    const int needed = static_cast<int>(text.size()) + 1;
    if (size == 0) {
        return needed;
    }
    if (buffer == nullptr || size < needed) {
        return 0;
    }
    std::memcpy(buffer, text.constData(), static_cast<size_t>(needed));
    return needed;
}

void SetLocaleInfoSourceForTesting(LocaleInfoSource source)
{
    localeInfoSource() = source ? source : &SystemLocaleInfo;
}

QString GetLocaleString(quint32 localeId, quint32 infoType)
{
    const int size = localeInfoSource()(localeId, infoType, nullptr, 0);
    std::vector<char> buffer(static_cast<size_t>(std::max(size, 0)) + 1, '\0');
    if (localeInfoSource()(localeId, infoType, buffer.data(), size) != size) {
        throw ELocalesError(QStringLiteral("Can not get locale info"));
    }
    return QString::fromLatin1(buffer.data());
}

QString LanguageName(quint32 languageId)
{
    const auto row = std::find_if(std::begin(NameTable), std::end(NameTable),
        [languageId](const NamedLanguage& entry) { return entry.id == languageId; });
    if (row != std::end(NameTable)) {
        return QString::fromLatin1(row->name);
    }
    QString name = GetLocaleString(languageId, LOCALE_SENGLANGUAGE);
    if (languageId == (languageId & 0x3FF)) {
        return name;
    }
    const qsizetype bracket = name.indexOf(QLatin1String(" ("));
    if (bracket >= 0) {
        name = name.left(bracket).trimmed();
    }
    return name + QLatin1String(" (") + GetLocaleString(languageId, LOCALE_SABBREVLANGNAME) + QLatin1Char(')');
}

QLocale::Language LocaleLanguage(quint32 localeId)
{
    const PrimaryLanguage* language = primaryLanguage(localeId);
    return language == nullptr ? QLocale::AnyLanguage : language->language;
}
