#include "app/vlmx_main.h"

#include "app/AboutPage.h"
#include "app/ApplicationsPage.h"
#include "app/DropZonePage.h"
#include "app/FindBar.h"
#include "app/ImageList.h"
#include "app/ImagesPage.h"
#include "app/JournalPage.h"
#include "app/VellumixApplication.h"
#include "app/WindowLook.h"
#include "app/WindowPlacement.h"
#include "app/WindowSettings.h"
#include "loc/LocStrings.h"
#include "loc/LocUtils.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "session/SessionStore.h"
#include "textview/MemoText.h"

#include "ui_vlmx_main.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QTimer>

TFMain::TFMain(TFMainServices services, QWidget* parent)
    : QMainWindow(parent)
    , m_services(std::move(services))
    , m_ui(new Ui::TFMain)
{
    m_services.completeWithDefaults();
    m_ui->setupUi(this);
    setUpControls();
    connectHandlers();
    FormCreate();
}

TFMain::~TFMain()
{
    LocUtils.MenuClickErrorReport = nullptr;
    guarded([this] { FormDestroy(false); });
}

void TFMain::storeAtExit()
{
    m_desktopGone = true;
    try {
        FormDestroy(false);
    } catch (const std::exception& error) {
        qWarning("%s", error.what());
    }
}

void TFMain::closeUnattended()
{
    m_unattended = true;
    close();
    m_unattended = false;
}

void TFMain::tell(const QString& text)
{
    if (m_desktopGone) {
        qWarning("%s", qPrintable(text));
    } else {
        m_services.dialogs->message(this, text);
    }
}

void TFMain::report(const std::exception& error)
{
    const auto* own = dynamic_cast<const Exception*>(&error);
    m_services.dialogs->message(this, own ? own->message() : QString::fromUtf8(error.what()));
}

void TFMain::guarded(const std::function<void()>& run)
{
    try {
        run();
    } catch (const std::exception& error) {
        report(error);
    } catch (...) {
        m_services.dialogs->message(this, LoadStr(sUnknownError));
    }
}

void TFMain::setUpControls()
{
    m_imageList = new ImageList(this);
    m_look = std::make_unique<WindowLook>(*m_ui);
    m_placement = new WindowPlacement(this);
    m_images = new ImagesPage(*m_ui, m_services, this);
    m_journal = new JournalPage(*m_ui, m_services, *m_images, this);
    m_findBar = new FindBar(*m_ui, m_services, *m_journal, this);
    m_applications = new ApplicationsPage(*m_ui, m_services, *m_journal, this);
    m_dropZone = new DropZonePage(*m_ui, *m_journal, this);
    m_about = new AboutPage(*m_ui, m_services, this);
    SessionStore::Prompts prompts;
    prompts.tell = [this](const QString& text) { m_services.dialogs->message(this, text); };
    prompts.ask = [this](const QString& text) {
        return !m_desktopGone && !m_unattended && m_services.dialogs->ask(this, text);
    };
    prompts.zipQuestion = [this](const QString& title, QString& text, int kind, TMsgDlgButtons buttons) {
        return m_services.dialogs->zipDialog(this, title, text, kind, buttons);
    };
    m_session = new SessionStore(m_journal->memo(JournalPage::Journal)->buffer(),
        m_journal->memo(JournalPage::Notes)->buffer(), std::move(prompts), this);
    setWindowIcon(ImageList::programIcon());

    // The tool bar shows its action buttons left of the check boxes.
    const QList<QAction*> toolBarActions
        = { m_ui->ActionSave, m_ui->ActionSaveAs, m_ui->ActionGotoTop, m_ui->ActionGotoBottom };
    QAction* firstWidget = m_ui->toolBarMain->actions().value(0);
    for (QAction* action : toolBarActions) {
        m_ui->toolBarMain->insertAction(firstWidget, action);
    }
    const QList<std::pair<QAction*, const char*>> buttonNames
        = { { m_ui->ActionSave, "toolbarSave" }, { m_ui->ActionSaveAs, "toolbarSaveAs" },
              { m_ui->ActionGotoTop, "toolbarGotoTop" }, { m_ui->ActionGotoBottom, "toolbarGotoBottom" } };
    for (const auto& [action, name] : buttonNames) {
        QWidget* button = m_ui->toolBarMain->widgetForAction(action);
        button->setObjectName(QString::fromLatin1(name));
        button->setMinimumSize(53, 36);
    }

    for (QAction* action : findChildren<QAction*>()) {
        const QVariant index = action->property("imageIndex");
        if (index.isValid()) {
            action->setIcon(m_imageList->icon(index.toInt()));
        }
    }
    for (int i = 0; i < m_ui->pageMain->count(); ++i) {
        m_ui->pageMain->setTabIcon(i, m_imageList->icon(m_ui->pageMain->widget(i)->property("imageIndex").toInt()));
    }

    // The menu's entries are hidden; an empty bar would only take room.
    for (QMenu* menu : { m_ui->mnuMainSession, m_ui->mnuMainEdit, m_ui->mnuMainHelp }) {
        menu->menuAction()->setVisible(false);
    }
    m_ui->menuMain->hide();

    m_look->applyDesigned();
    for (JournalView* memo : { m_ui->log, m_ui->jot }) {
        memo->installEventFilter(this);
        memo->viewport()->installEventFilter(this);
    }
    m_ui->txtFindText->installEventFilter(this);
    m_ui->txtSysApplicationsFilter->installEventFilter(this);

    RefreshLayout();
}

void TFMain::connectHandlers()
{
    connect(m_services.clipboard.get(), &ClipboardViewer::changed, this,
        [this](const ClipboardContent& content) { guarded([this, &content] { WMDrawClipboard(content); }); });
    connect(m_services.clipboard.get(), &ClipboardViewer::desktopEnded, this, [this] {
        m_desktopGone = true;
        Q_EMIT desktopEnded();
    });
    connect(m_dropZone, &DropZonePage::filesDropped, this,
        [this](const QStringList& paths) { guarded([this, &paths] { WMDropFiles(paths); }); });
    connect(m_about, &AboutPage::languageSwitched, this, [this] {
        RefreshLayout();
        m_look->reapplyChosen();
    });
    connect(m_ui->chkClipAsleep, &QCheckBox::clicked, this, handler([this] { chkClipAsleepClick(); }));
    connect(m_ui->chkClipTimeStamp, &QCheckBox::clicked, this, handler([this] { chkClipTimeStampClick(); }));
    connect(m_ui->ActionExit, &QAction::triggered, this, handler([this] { ActionExitExecute(); }));
    connect(m_ui->ActionGotoTop, &QAction::triggered, this, handler([this] { ActionGotoTopExecute(); }));
    connect(m_ui->ActionGotoBottom, &QAction::triggered, this, handler([this] { ActionGotoBottomExecute(); }));
    connect(m_ui->ActionOpenClipboardJournal, &QAction::triggered, this,
        handler([this] { ActionOpenClipboardJournalExecute(); }));
    connect(m_ui->ActionOpenNoteJotter, &QAction::triggered, this, handler([this] { ActionOpenNoteJotterExecute(); }));
    connect(m_ui->ActionSave, &QAction::triggered, this, handler([this] { ActionSaveExecute(); }));
    connect(m_ui->ActionSaveAs, &QAction::triggered, this, handler([this] { ActionSaveAsExecute(); }));
    connect(m_ui->cmdFindText, &QPushButton::clicked, this, handler([this] { cmdFindTextClick(); }));
    connect(m_ui->cmdOpenText, &QPushButton::clicked, this, handler([this] { ActionShellOpenSelectedTextExecute(); }));
    connect(m_ui->ActionShellOpenSelectedText, &QAction::triggered, this,
        handler([this] { ActionShellOpenSelectedTextExecute(); }));
    connect(m_ui->chkImageStretch, &QCheckBox::clicked, this, handler([this] { chkImageStretchClick(); }));
    connect(m_ui->cmdImageCurrentSaveToFile, &QPushButton::clicked, this,
        handler([this] { cmdImageCurrentSaveToFileClick(); }));
    connect(m_ui->cmdSysApplicationsFilter, &QPushButton::clicked, this,
        handler([this] { ActionGetSysApplicationsExecute(); }));
    connect(m_ui->ActionGetSysApplications, &QAction::triggered, this,
        handler([this] { ActionGetSysApplicationsExecute(); }));
    connect(m_ui->cmdSysApplicationsCopyToClipboard, &QPushButton::clicked, this,
        handler([this] { ActionCopySysApplicationsToClipboardExecute(); }));
    connect(m_ui->ActionCopySysApplicationsToClipboard, &QAction::triggered, this,
        handler([this] { ActionCopySysApplicationsToClipboardExecute(); }));
    connect(m_ui->lvSysApplications, &QTreeWidget::itemDoubleClicked, this,
        handler([this] { lvSysApplicationsDblClick(); }));
    connect(m_ui->chkStayOnTop, &QCheckBox::clicked, this, handler([this] { chkStayOnTopClick(); }));
    connect(m_ui->chkScreenSnap, &QCheckBox::clicked, this, handler([this] { chkScreenSnapClick(); }));
    connect(m_ui->chkVellumix, &QCheckBox::clicked, this, handler([this] { chkVellumixClick(); }));
    connect(m_ui->cmdAboutCopyToClipboard, &QPushButton::clicked, this,
        handler([this] { cmdAboutCopyToClipboardClick(); }));
    connect(m_ui->cmdDocs, &QPushButton::clicked, this, handler([this] { cmdDocsClick(); }));
    connect(m_ui->cbLanguages, &QComboBox::activated, this,
        [this](int index) { guarded([this, index] { cbLanguagesClick(index); }); });
}

void TFMain::FormCreate()
{
    try {
        FIniFileName = m_services.settingsFile;
        AtomicFile::removeLeftovers(FIniFileName);
        ReadSettings();
    } catch (...) {
        m_services.dialogs->message(this, LoadStr(sIniLoadFailed));
    }
    try {
        // The application's title, which message boxes show. Qt would append a display name to every
        // window caption, so the title is the application's name instead.
        QCoreApplication::setApplicationName(QStringLiteral("vellumix"));
        setWindowTitle(QStringLiteral("vellumix"));
        m_session->nameFiles(m_services.archiveFile, m_services.executablePath);
        m_session->setStoreDelays(m_services.storeIdleDelay, m_services.storeLatestDelay);
        LoadSession();
        setAcceptDrops(true);
        if (!m_ui->chkClipAsleep->isChecked()) {
            JoinClipboardChain();
        }
        FillAboutPage();
        m_ui->txtSysApplicationsFilter->setText(QStringLiteral("\\"));
        ActionGetSysApplicationsExecute();
        LocUtils.MenuClickErrorReport = [this](const std::exception& error) { report(error); };
        LocUtils.PopulateMenu(m_ui->mnuMainSession, 1, 0);
        m_about->FillLanguageCombo(m_ui->cbLanguages);
        // A saved language that cannot be used is reported; the window is still placed as saved.
        guarded([this] { m_about->switchToSavedLanguage(); });
        m_look->reapplyChosen();
        ReadWindowPlacement();
        m_ui->pageMain->setCurrentWidget(m_ui->tabClipboardJournal);
    } catch (const std::exception& error) {
        report(error);
    }
}

TFMain::Closing TFMain::FormDestroy(bool mayStayOpen)
{
    if (m_destroyed) {
        return Closing::Done;
    }
    SessionStore::Result result;
    try {
        result = m_session->StoreSession(!m_desktopGone);
    } catch (const std::exception& error) {
        const auto* own = dynamic_cast<const Exception*>(&error);
        result = { SessionStore::Outcome::Failed, own ? own->message() : QString::fromUtf8(error.what()) };
    }
    if (result.outcome == SessionStore::Outcome::Busy && mayStayOpen) {
        return Closing::Later;
    }
    if (result.outcome == SessionStore::Outcome::Failed) {
        // The window stays open unless the user decides otherwise: what it holds was not stored.
        const QString failure = m_session->notStoredText(result);
        const QString consequence = m_session->changesKeptSafe()
            ? LoadStr(sQuitAnywayKept).arg(m_session->recoveryFileName())
            : LoadStr(sQuitAnywayLost);
        if (m_desktopGone) {
            tell(failure + QStringLiteral("\n") + consequence);
        } else if (!mayStayOpen) {
            tell(failure);
        } else if (!m_services.dialogs->ask(this, failure + QStringLiteral("\n\n") + consequence)) {
            return Closing::Stay;
        }
    }
    m_destroyed = true;
    LeaveClipboardChain();
    if (result.outcome != SessionStore::Outcome::Stored && result.outcome != SessionStore::Outcome::Kept) {
        return Closing::Done;
    }
    try {
        WriteSettings();
    } catch (...) {
        tell(LoadStr(sIniSaveFailed));
    }
    return Closing::Done;
}

void TFMain::closeEvent(QCloseEvent* event)
{
    // A store pumps events; a second close arriving meanwhile waits for the first.
    if (m_closing) {
        event->ignore();
        return;
    }
    m_closing = true;
    Closing closing = Closing::Done;
    guarded([this, &closing] { closing = FormDestroy(true); });
    m_closing = false;
    if (closing == Closing::Later) {
        QTimer::singleShot(100, this, &QWidget::close);
    }
    if (closing != Closing::Done) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TFMain::FormActivate()
{
    ActionGotoBottomExecute();
}

void TFMain::FormKeyDown(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        close();
    }
}

void TFMain::FormResize()
{
    RefreshLayout();
}

bool TFMain::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) {
        guarded([this] { FormActivate(); });
    }
    return QMainWindow::event(event);
}

bool TFMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyRelease
        && (watched == m_ui->txtFindText || watched == m_ui->txtSysApplicationsFilter)) {
        guarded([this] { txtFindTextKeyUp(); });
    }
    if (event->type() == QEvent::MouseButtonDblClick
        && (watched == m_ui->log->viewport() || watched == m_ui->jot->viewport())) {
        // The memo selects the word under the pointer first; its selection is read afterwards.
        JournalView* memo = watched == m_ui->log->viewport() ? m_ui->log : m_ui->jot;
        QTimer::singleShot(0, this, handler([this, memo] { ActionOnDblClickGetSelectedExecute(memo); }));
    }
    if (event->type() == QEvent::KeyPress && (watched == m_ui->log || watched == m_ui->jot)) {
        auto* key = static_cast<QKeyEvent*>(event);
        FormKeyDown(key);
        if (key->key() == Qt::Key_Escape) {
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFMain::keyPressEvent(QKeyEvent* event)
{
    // Keys that other controls did not take arrive here too; only the window's own count.
    QWidget* focus = QApplication::focusWidget();
    if (event->key() == Qt::Key_Escape && (focus == nullptr || focus == this)) {
        FormKeyDown(event);
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TFMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    m_placement->resized();
    guarded([this] { FormResize(); });
}

void TFMain::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    m_placement->moved();
}

void TFMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    m_placement->shown();
}

void TFMain::dragEnterEvent(QDragEnterEvent* event)
{
    m_dropZone->takeFileDrag(event);
}

void TFMain::dropEvent(QDropEvent* event)
{
    m_dropZone->takeFileDrag(event);
}

void TFMain::RefreshLayout()
{
    m_ui->lvDropLog->setColumnWidth(0, 333);
    m_ui->lvDropLog->setColumnWidth(1, 666);
    m_ui->cmdAboutCopyToClipboard->setFixedSize(162, 24);
    m_ui->cmdSysApplicationsCopyToClipboard->setFixedSize(162, 24);
    // Screen readers name the memos after their pages, in the language shown.
    for (JournalView* memo : { m_ui->log, m_ui->jot }) {
        const int page = m_ui->pageMain->indexOf(memo->parentWidget());
        memo->setAccessibleName(m_ui->pageMain->tabText(page).remove(QLatin1Char('&')));
    }
}

QMenu* TFMain::createPopupMenu()
{
    // The window offers no menu to hide its tool bar: there would be no way to bring it back.
    return nullptr;
}

TZipArchiver* TFMain::zipComponent() const
{
    return m_session->zip();
}

// ---- Settings file

void TFMain::ReadSettings()
{
    IniFile ini(FIniFileName);
    QString error;
    if (!ini.load(&error)) {
        throw Exception(error);
    }
    applySettings(WindowSettings::read(ini));
}

void TFMain::applySettings(const WindowSettings& settings)
{
    m_about->setLanguageFile(settings.languageFile);
    // A box's click behaviour runs only when the stored state differs from the box's.
    auto apply = [this](QCheckBox* box, bool checked, void (TFMain::*click)()) {
        if (box->isChecked() == checked) {
            return;
        }
        {
            const QSignalBlocker blocker(box);
            box->setChecked(checked);
        }
        (this->*click)();
    };
    apply(m_ui->chkVellumix, settings.vellulook, &TFMain::chkVellumixClick);
    apply(m_ui->chkStayOnTop, settings.stayontop, &TFMain::chkStayOnTopClick);
    apply(m_ui->chkScreenSnap, settings.screensnap, &TFMain::chkScreenSnapClick);
    apply(m_ui->chkClipTimeStamp, settings.timestamp, &TFMain::chkClipTimeStampClick);
    apply(m_ui->chkClipAsleep, settings.clipsleep, &TFMain::chkClipAsleepClick);
}

void TFMain::ReadWindowPlacement()
{
    // A file that could not be read was reported while the options were read; the defaults apply.
    IniFile ini(FIniFileName);
    ini.load();
    const WindowSettings settings = WindowSettings::read(ini);
    m_placement->place(settings.left, settings.top, settings.width, settings.height);
}

void TFMain::WriteSettings()
{
    IniFile ini(FIniFileName);
    QString error;
    if (!ini.load(&error)) {
        // Writing over a file we could not read would lose its other lines.
        throw Exception(LoadStr(sUnableToWrite).arg(FIniFileName));
    }
    WindowSettings settings;
    settings.setOuter(m_placement->outerGeometry());
    settings.languageFile = m_about->languageFile();
    settings.vellulook = m_ui->chkVellumix->isChecked();
    settings.stayontop = m_ui->chkStayOnTop->isChecked();
    settings.screensnap = m_ui->chkScreenSnap->isChecked();
    settings.timestamp = m_ui->chkClipTimeStamp->isChecked();
    settings.clipsleep = m_ui->chkClipAsleep->isChecked();
    settings.write(ini);
    if (!ini.save(&error)) {
        throw Exception(error);
    }
}

// ---- Handlers, each handed on to the controller of its page

void TFMain::SetMemoText(JournalView* memo, const QByteArray& bytes)
{
    MemoText::setFromBytes(memo, bytes);
}

void TFMain::AppendToJournal(const QString& text)
{
    m_journal->AppendToJournal(text);
}
void TFMain::JoinClipboardChain()
{
    m_journal->JoinClipboardChain();
}
void TFMain::LeaveClipboardChain()
{
    m_journal->LeaveClipboardChain();
}
void TFMain::WMDrawClipboard(const ClipboardContent& content)
{
    m_journal->WMDrawClipboard(content);
}
bool TFMain::isInClipboardChain() const
{
    return m_journal->isInClipboardChain();
}
void TFMain::chkClipAsleepClick()
{
    m_journal->chkClipAsleepClick();
}
void TFMain::LoadSession()
{
    m_session->LoadSession();
}
bool TFMain::StoreSession()
{
    const SessionStore::Result result = m_session->StoreSession();
    if (result.outcome == SessionStore::Outcome::Failed) {
        throw Exception(m_session->notStoredText(result));
    }
    return result.outcome == SessionStore::Outcome::Stored;
}
void TFMain::txtFindTextKeyUp()
{
    m_findBar->txtFindTextKeyUp();
}
void TFMain::cmdFindTextClick()
{
    m_findBar->cmdFindTextClick();
}
void TFMain::ActionOnDblClickGetSelectedExecute(QObject* sender)
{
    m_findBar->ActionOnDblClickGetSelectedExecute(sender);
}
void TFMain::ActionShellOpenSelectedTextExecute()
{
    m_findBar->ActionShellOpenSelectedTextExecute();
}
void TFMain::ActionSaveAsExecute()
{
    m_journal->ActionSaveAsExecute();
}
void TFMain::ActionExitExecute()
{
    close();
}
void TFMain::ActionGotoTopExecute()
{
    m_journal->ActionGotoTopExecute();
}
void TFMain::ActionGotoBottomExecute()
{
    m_journal->ActionGotoBottomExecute();
}
void TFMain::ActionOpenClipboardJournalExecute()
{
    m_ui->pageMain->setCurrentWidget(m_ui->tabClipboardJournal);
}
void TFMain::ActionOpenNoteJotterExecute()
{
    m_ui->pageMain->setCurrentWidget(m_ui->tabNoteJotter);
}
void TFMain::chkImageStretchClick()
{
    m_images->chkImageStretchClick();
}
void TFMain::cmdImageCurrentSaveToFileClick()
{
    m_images->cmdImageCurrentSaveToFileClick();
}
void TFMain::WMDropFiles(const QStringList& paths)
{
    m_dropZone->WMDropFiles(paths);
}
void TFMain::ActionGetSysApplicationsExecute()
{
    m_applications->ActionGetSysApplicationsExecute();
}
void TFMain::ActionCopySysApplicationsToClipboardExecute()
{
    m_applications->ActionCopySysApplicationsToClipboardExecute();
}
void TFMain::lvSysApplicationsDblClick()
{
    m_applications->lvSysApplicationsDblClick();
}
void TFMain::cbLanguagesClick(int index)
{
    m_about->cbLanguagesClick(index);
}
void TFMain::FillAboutPage()
{
    m_about->FillAboutPage();
}
void TFMain::cmdAboutCopyToClipboardClick()
{
    m_about->cmdAboutCopyToClipboardClick();
}
void TFMain::cmdDocsClick()
{
    m_about->cmdDocsClick();
}
void TFMain::chkStayOnTopClick()
{
    m_placement->SetStayOnTop(m_ui->chkStayOnTop->isChecked());
}
void TFMain::chkScreenSnapClick()
{
    m_placement->setScreenSnap(m_ui->chkScreenSnap->isChecked());
}
void TFMain::chkVellumixClick()
{
    m_look->chkVellumixClick();
}

void TFMain::ActionSaveExecute()
{
    if (!StoreSession()) {
        return;
    }
    setWindowTitle(QStringLiteral("vellumix [") + m_services.clock.captionText() + QLatin1Char(']'));
}
