#include "app/QtTranslations.h"

#include "loc/LocaleNames.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

QtTranslations::~QtTranslations()
{
    if (m_installed) {
        QCoreApplication::removeTranslator(&m_translator);
    }
}

void QtTranslations::use(quint32 localeId)
{
    if (m_installed) {
        QCoreApplication::removeTranslator(&m_translator);
        m_installed = false;
    }
    const QLocale::Language language = LocaleLanguage(localeId);
    if (language == QLocale::AnyLanguage || language == QLocale::English) {
        return;
    }
    if (m_translator.load(QLocale(language), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        m_installed = QCoreApplication::installTranslator(&m_translator);
    }
}
