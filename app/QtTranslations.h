#pragma once

#include <QString>
#include <QTranslator>

// Qt's own texts (OK, Cancel, the file dialogs, the memos' context menu) in the language the
// window is in, from the catalogues of the Qt installation.
class QtTranslations
{
public:
    ~QtTranslations();

    // The language of a Windows locale id; English and languages without a catalogue use Qt's own texts.
    void use(quint32 localeId);

private:
    QTranslator m_translator;
    bool m_installed = false;
};
