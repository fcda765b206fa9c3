#pragma once

#include "platform/Exception.h"

#include <QLocale>
#include <QString>

class ELocalesError : public Exception
{
public:
    using Exception::Exception;
};

constexpr quint32 LOCALE_SABBREVLANGNAME = 0x0003;
constexpr quint32 LOCALE_SENGLANGUAGE = 0x1001;

// The platform's locale information in the manner of GetLocaleInfoA: with size 0
// it returns the characters needed including the terminator, else the characters
// written (0 on failure).
using LocaleInfoSource = int (*)(quint32 localeId, quint32 infoType, char* buffer, int size);
int SystemLocaleInfo(quint32 localeId, quint32 infoType, char* buffer, int size);
void SetLocaleInfoSourceForTesting(LocaleInfoSource source);

QString GetLocaleString(quint32 localeId, quint32 infoType);
QString LanguageName(quint32 languageId);
// The language of a Windows locale id (its primary language), QLocale::AnyLanguage when unknown.
QLocale::Language LocaleLanguage(quint32 localeId);
