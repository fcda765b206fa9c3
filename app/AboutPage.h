#pragma once

#include "app/QtTranslations.h"
#include "loc/LocUtils.h"

#include <QObject>
#include <QString>

class QComboBox;
class QWidget;
struct TFMainServices;

namespace Ui
{
class TFMain;
}

// The About page: the program's version block and credits, copying them, the
// help file, and the box that switches the running window to another language.
class AboutPage : public QObject
{
    Q_OBJECT

public:
    AboutPage(Ui::TFMain& ui, TFMainServices& services, QWidget* window);

    void FillAboutPage();
    void cmdAboutCopyToClipboardClick();
    void cmdDocsClick();

    void FillLanguageCombo(QComboBox* comboBox);
    void cbLanguagesClick(int index);
    // The language the settings name, once at start. One that cannot be used is reported, and the
    // built-in language stays and is saved instead.
    void switchToSavedLanguage();
    const TDLLInfoList& languages() const { return FLanguages; }
    // The language library chosen, empty for the built-in language.
    const QString& languageFile() const { return FLanguageFile; }
    void setLanguageFile(const QString& fileName) { FLanguageFile = fileName; }

Q_SIGNALS:
    // The window was re-read from another language library.
    void languageSwitched();

private:
    // The box shows the language the window is in, and Qt's own texts follow it.
    void showLanguageInUse();

    Ui::TFMain& m_ui;
    TFMainServices& m_services;
    QWidget* m_window;
    TDLLInfoList FLanguages;
    QString FLanguageFile;
    QtTranslations m_qtTexts;
};
