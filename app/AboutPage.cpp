#include "app/AboutPage.h"

#include "app/ImageList.h"
#include "app/ShellOpen.h"
#include "app/WindowServices.h"
#include "loc/LocStrings.h"
#include "textview/MemoText.h"
#include "tools/VMXFileVersionInfo.h"

#include "ui_vlmx_main.h"

#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

AboutPage::AboutPage(Ui::TFMain& ui, TFMainServices& services, QWidget* window)
    : QObject(window)
    , m_ui(ui)
    , m_services(services)
    , m_window(window)
{
    m_ui.imageHarborlight->setPixmap(ImageList::harborlight());
}

void AboutPage::FillAboutPage()
{
    const auto info = VMXFileVersionInfo::Create(m_services.executablePath);
    info->ReadInfo();
    m_ui.lblAbout->setText(QStringLiteral("harborlight [2007.04.13]"));
    const std::pair<const char*, QString> lines[] = {
        { "product name         : ", info->ProductName() },
        { "file path & name     : ", info->InfoFileName() },
        { "description          : ", info->FileDescription() },
        { "company name         : ", info->CompanyName() },
        { "file version         : ", info->FileVersion() },
        { "product version      : ", info->ProductVersion() },
        { "legal copyright      : ", info->LegalCopyright() },
        { "legal trademarks     : ", info->LegalTrademarks() },
        { "documentation        : ", info->Documentation() },
        { "translation manager  : ", info->Translation() },
        { "credits - quenmarol  : ", info->OpenSourceCredits() },
        { "comments             : ", info->Comments() },
    };
    for (const auto& [label, value] : lines) {
        MemoText::appendLine(m_ui.memoAbout, QString::fromLatin1(label) + value);
    }
    MemoText::appendLine(
        m_ui.memoAbout, QStringLiteral("credits - translation -------------------------------------------"));
    // The translations are the project's own work; no single person is named for them.
    const QString translators = QStringLiteral("the Vellumix team");
    const QString address = QStringLiteral("see the help file");
    const char* languages[] = { "AFRIKAANS", "SPANISH", "TURKISH", "GERMAN", "FRENCH" };
    for (int i = 0; i < 5; ++i) {
        QString line = QString::fromLatin1(languages[i]).leftJustified(9) + QStringLiteral(": ");
        line += i < 3 ? translators.leftJustified(25) + QStringLiteral(" - ") + address : translators;
        MemoText::appendLine(m_ui.memoAbout, line);
    }
    m_ui.memoAbout->moveCursor(QTextCursor::Start);
}

void AboutPage::cmdAboutCopyToClipboardClick()
{
    m_ui.memoAbout->selectAll();
    QGuiApplication::clipboard()->setText(QString::fromUtf8(MemoText::toBytes(m_ui.memoAbout)));
    m_ui.memoAbout->moveCursor(QTextCursor::Start);
}

void AboutPage::cmdDocsClick()
{
    bool accepted = false;
    try {
        // Beside the program, wherever it was started from (a desktop launcher's folder is the user's home).
        const QString help
            = QFileInfo(m_services.executablePath).absoluteDir().filePath(QStringLiteral("vellumix.chm"));
        accepted = ShellOpen(help, m_window, m_services.opener);
    } catch (...) { }
    // The desktop's opener shows nothing when it refuses, so the program says it.
    if (!accepted) {
        m_services.dialogs->message(m_window, LoadStr(sDocumentationNotOpened));
    }
}

void AboutPage::FillLanguageCombo(QComboBox* comboBox)
{
    if (!LocUtils.GetDllsInfo(&FLanguages)) {
        return;
    }
    for (int i = 0; i < FLanguages.Count(); ++i) {
        comboBox->addItem(FLanguages[i].Name);
    }
    showLanguageInUse();
}

void AboutPage::showLanguageInUse()
{
    const TDLLInfoItem& current = LocUtils.GetCurrentInfo();
    m_qtTexts.use(current.LangId);
    for (int i = 0; i < FLanguages.Count(); ++i) {
        if (FLanguages[i].LangId == current.LangId) {
            m_ui.cbLanguages->setCurrentIndex(i);
        }
    }
}

void AboutPage::switchToSavedLanguage()
{
    try {
        LocUtils.SwitchTo(FLanguageFile);
    } catch (...) {
        FLanguageFile.clear();
        showLanguageInUse();
        throw;
    }
    showLanguageInUse();
}

void AboutPage::cbLanguagesClick(int index)
{
    if (index < 0 || index >= FLanguages.Count()) {
        return;
    }
    // A choice that cannot be used leaves the window in its language, which stays the one saved.
    try {
        LocUtils.SwitchTo(FLanguages[index].LibraryFile);
    } catch (...) {
        showLanguageInUse();
        throw;
    }
    FLanguageFile = FLanguages[index].LibraryFile;
    showLanguageInUse();
    Q_EMIT languageSwitched();
}
