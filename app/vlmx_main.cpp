#include "app/vlmx_main.h"

#include "app/BitmapFile.h"
#include "app/ClockText.h"
#include "app/DocumentText.h"
#include "app/FileDialog.h"
#include "app/ImageList.h"
#include "app/MemoText.h"
#include "app/MessageBox.h"
#include "app/ShellOpen.h"
#include "app/TextPos.h"
#include "app/VellumixApplication.h"
#include "loc/LocStrings.h"
#include "platform/AppPaths.h"
#include "platform/ClipboardViewer.h"
#include "platform/Exception.h"
#include "platform/FileAccess.h"
#include "platform/IniFile.h"
#include "tools/VMXFileVersionInfo.h"

#include "ui_vlmx_main.h"

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QSaveFile>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <algorithm>

const QString TFMain::SettingsSection = QStringLiteral("vellumix_main");

namespace
{
// Re-reads of a change whose text could not be read while it is still on the clipboard.
constexpr int MaxClipboardRetries = 3;

const QColor Black(0, 0, 0);
const QColor Lime(0, 255, 0);

void setColours(QWidget* widget, const QColor& background, const QColor& text)
{
    QPalette palette = widget->palette();
    for (auto role : { QPalette::Base, QPalette::Window }) {
        palette.setColor(role, background);
    }
    for (auto role : { QPalette::Text, QPalette::WindowText }) {
        palette.setColor(role, text);
    }
    widget->setPalette(palette);
}

// The memos keep their selection visible while another control has the focus.
void keepSelectionVisible(QWidget* widget)
{
    QPalette palette = widget->palette();
    for (auto role : { QPalette::Highlight, QPalette::HighlightedText }) {
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    }
    widget->setPalette(palette);
}

void preferFixedPitch(QWidget* widget)
{
    QFont font = widget->font();
    font.setStyleHint(QFont::TypeWriter);
    widget->setFont(font);
}

QString stampTime()
{
    const QDateTime now = ClockText::now();
    return ClockText::shortDate(now.date()) + QLatin1Char('-') + ClockText::longTime(now.time());
}

void writeFile(const QString& fileName, const QByteArray& bytes)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        throw Exception(QStringLiteral("Cannot write %1: %2").arg(fileName, file.errorString()));
    }
}

void scrollCaretTo(QPlainTextEdit* memo, QTextCursor::MoveOperation where)
{
    QTextCursor cursor = memo->textCursor();
    cursor.movePosition(where);
    memo->setTextCursor(cursor);
    memo->ensureCursorVisible();
}
} // namespace

TFMain::TFMain(TFMainServices services, QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::TFMain)
    , m_clipboard(services.clipboard ? std::move(services.clipboard) : ClipboardViewer::create())
    , m_windows(services.windows ? std::move(services.windows) : WindowList::create())
{
    ui->setupUi(this);
    setUpControls();
    connectHandlers();
    FormCreate();
}

TFMain::~TFMain()
{
    VellumixApplication::guarded([this] { FormDestroy(); });
}

void TFMain::setUpControls()
{
    m_images = new ImageList(this);
    // The session archive's component with its designed properties.
    zip = new TZipArchiver(this, csLoading);
    zip->setObjectName(QStringLiteral("zip"));
    zip->SetPassword(QStringLiteral("730582"));
    zip->SetPasswordReqCount(1);
    zip->SetUnattended(false);
    zip->SetDll_Load(false);
    zip->SetVerbose(false);
    zip->SetTrace(false);
    zip->Loaded();
    setWindowIcon(ImageList::programIcon());

    // The tool bar shows its action buttons left of the check boxes.
    const QList<QAction*> toolBarActions
        = { ui->ActionSave, ui->ActionSaveAs, ui->ActionGotoTop, ui->ActionGotoBottom };
    QAction* firstWidget = ui->toolBarMain->actions().value(0);
    for (QAction* action : toolBarActions) {
        ui->toolBarMain->insertAction(firstWidget, action);
    }
    const QList<std::pair<QAction*, const char*>> buttonNames
        = { { ui->ActionSave, "toolbarSave" }, { ui->ActionSaveAs, "toolbarSaveAs" },
              { ui->ActionGotoTop, "toolbarGotoTop" }, { ui->ActionGotoBottom, "toolbarGotoBottom" } };
    for (const auto& [action, name] : buttonNames) {
        QWidget* button = ui->toolBarMain->widgetForAction(action);
        button->setObjectName(QString::fromLatin1(name));
        button->setMinimumSize(53, 36);
    }

    for (QAction* action : findChildren<QAction*>()) {
        const QVariant index = action->property("imageIndex");
        if (index.isValid()) {
            action->setIcon(m_images->icon(index.toInt()));
        }
    }
    for (int i = 0; i < ui->pageMain->count(); ++i) {
        ui->pageMain->setTabIcon(i, m_images->icon(ui->pageMain->widget(i)->property("imageIndex").toInt()));
    }

    // The menu's entries are hidden; an empty bar would only take room.
    for (QMenu* menu : { ui->mnuMainSession, ui->mnuMainEdit, ui->mnuMainHelp }) {
        menu->menuAction()->setVisible(false);
    }
    ui->menuMain->hide();

    m_logText = new DocumentText(this);
    m_jotText = new DocumentText(this);
    for (QPlainTextEdit* memo : { ui->log, ui->jot }) {
        setColours(memo, Black, Lime);
        keepSelectionVisible(memo);
        preferFixedPitch(memo);
        memo->installEventFilter(this);
        memo->viewport()->installEventFilter(this);
    }
    ui->txtFindText->installEventFilter(this);
    ui->txtSysApplicationsFilter->installEventFilter(this);
    ui->imageCurrent->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    ui->lvSysApplications->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setColours(ui->txtFindText, Black, Lime);
    preferFixedPitch(ui->txtFindText);
    setColours(ui->panelAbout, Black, Lime);
    setColours(ui->lblAbout, Black, Lime);
    preferFixedPitch(ui->lblAbout);
    setColours(ui->memoAbout, Black, Lime);
    preferFixedPitch(ui->memoAbout);
    ui->imageHarborlight->setPixmap(ImageList::harborlight());

    RefreshLayout();
}

void TFMain::connectHandlers()
{
    connect(m_clipboard.get(), &ClipboardViewer::changed, this, [this](const ClipboardContent& content) {
        VellumixApplication::guarded([this, &content] { WMDrawClipboard(content); });
    });
    connect(ui->chkClipAsleep, &QCheckBox::clicked, this, guardedHandler([this] { chkClipAsleepClick(); }));
    connect(ui->chkClipTimeStamp, &QCheckBox::clicked, this, guardedHandler([this] { chkClipTimeStampClick(); }));
    connect(ui->ActionExit, &QAction::triggered, this, guardedHandler([this] { ActionExitExecute(); }));
    connect(ui->ActionGotoTop, &QAction::triggered, this, guardedHandler([this] { ActionGotoTopExecute(); }));
    connect(ui->ActionGotoBottom, &QAction::triggered, this, guardedHandler([this] { ActionGotoBottomExecute(); }));
    connect(ui->ActionOpenClipboardJournal, &QAction::triggered, this,
        guardedHandler([this] { ActionOpenClipboardJournalExecute(); }));
    connect(
        ui->ActionOpenNoteJotter, &QAction::triggered, this, guardedHandler([this] { ActionOpenNoteJotterExecute(); }));
    connect(ui->ActionSave, &QAction::triggered, this, guardedHandler([this] { ActionSaveExecute(); }));
    connect(ui->ActionSaveAs, &QAction::triggered, this, guardedHandler([this] { ActionSaveAsExecute(); }));
    connect(ui->cmdFindText, &QPushButton::clicked, this, guardedHandler([this] { cmdFindTextClick(); }));
    connect(
        ui->cmdOpenText, &QPushButton::clicked, this, guardedHandler([this] { ActionShellOpenSelectedTextExecute(); }));
    connect(ui->ActionShellOpenSelectedText, &QAction::triggered, this,
        guardedHandler([this] { ActionShellOpenSelectedTextExecute(); }));
    connect(ui->chkImageStretch, &QCheckBox::clicked, this, guardedHandler([this] { chkImageStretchClick(); }));
    connect(ui->cmdImageCurrentSaveToFile, &QPushButton::clicked, this,
        guardedHandler([this] { cmdImageCurrentSaveToFileClick(); }));
    connect(ui->cmdSysApplicationsFilter, &QPushButton::clicked, this,
        guardedHandler([this] { ActionGetSysApplicationsExecute(); }));
    connect(ui->ActionGetSysApplications, &QAction::triggered, this,
        guardedHandler([this] { ActionGetSysApplicationsExecute(); }));
    connect(ui->cmdSysApplicationsCopyToClipboard, &QPushButton::clicked, this,
        guardedHandler([this] { ActionCopySysApplicationsToClipboardExecute(); }));
    connect(ui->ActionCopySysApplicationsToClipboard, &QAction::triggered, this,
        guardedHandler([this] { ActionCopySysApplicationsToClipboardExecute(); }));
    connect(ui->lvSysApplications, &QTreeWidget::itemDoubleClicked, this,
        guardedHandler([this] { lvSysApplicationsDblClick(); }));
    connect(ui->chkStayOnTop, &QCheckBox::clicked, this, guardedHandler([this] { chkStayOnTopClick(); }));
    connect(ui->chkScreenSnap, &QCheckBox::clicked, this, guardedHandler([this] { chkScreenSnapClick(); }));
    connect(ui->chkVellumix, &QCheckBox::clicked, this, guardedHandler([this] { chkVellumixClick(); }));
    connect(ui->cmdAboutCopyToClipboard, &QPushButton::clicked, this,
        guardedHandler([this] { cmdAboutCopyToClipboardClick(); }));
    connect(ui->cmdDocs, &QPushButton::clicked, this, guardedHandler([this] { cmdDocsClick(); }));
    connect(ui->cbLanguages, &QComboBox::activated, this,
        [this](int index) { VellumixApplication::guarded([this, index] { cbLanguagesClick(index); }); });
}

void TFMain::FormCreate()
{
    try {
        FIniFileName = AppPaths::besideExecutable(QStringLiteral(".ini"));
        ReadSettings();
    } catch (...) {
        MessageBox::show(this, LoadStr(sIniLoadFailed));
    }
    try {
        QGuiApplication::setApplicationDisplayName(QStringLiteral("vellumix"));
        setWindowTitle(QStringLiteral("vellumix"));
        FArchiveFileName = AppPaths::besideExecutable(QStringLiteral(".vma"));
        FJournalEntryName = AppPaths::executableNameWith(QStringLiteral(".clips"));
        FNotesEntryName = AppPaths::executableNameWith(QStringLiteral(".notes"));
        LoadSession();
        setAcceptDrops(true);
        if (!ui->chkClipAsleep->isChecked()) {
            JoinClipboardChain();
        }
        FillAboutPage();
        ui->txtSysApplicationsFilter->setText(QStringLiteral("\\"));
        ActionGetSysApplicationsExecute();
        FLanguages.Clear();
        LocUtils.PopulateMenu(ui->mnuMainSession, 1, 0);
        FillLanguageCombo(ui->cbLanguages);
        LocUtils.SwitchTo(FLanguageFile);
        afterLanguageSwitch();
        ReadWindowPlacement();
        ui->pageMain->setCurrentWidget(ui->tabClipboardJournal);
    } catch (const std::exception& error) {
        VellumixApplication::reportException(error);
    }
}

void TFMain::FormDestroy()
{
    if (m_destroyed) {
        return;
    }
    m_destroyed = true;
    bool stored = false;
    try {
        StoreSession();
        stored = true;
    } catch (const std::exception& error) {
        VellumixApplication::reportException(error);
    }
    LeaveClipboardChain();
    if (!stored) {
        return;
    }
    try {
        WriteSettings();
    } catch (...) {
        MessageBox::show(this, LoadStr(sIniSaveFailed));
    }
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
        VellumixApplication::guarded([this] { FormActivate(); });
    }
    return QMainWindow::event(event);
}

bool TFMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyRelease
        && (watched == ui->txtFindText || watched == ui->txtSysApplicationsFilter)) {
        VellumixApplication::guarded([this] { txtFindTextKeyUp(); });
    }
    if (event->type() == QEvent::MouseButtonDblClick
        && (watched == ui->log->viewport() || watched == ui->jot->viewport())) {
        // The memo selects the word under the pointer first; its selection is read afterwards.
        QPlainTextEdit* memo = watched == ui->log->viewport() ? ui->log : ui->jot;
        QTimer::singleShot(0, this, guardedHandler([this, memo] { ActionOnDblClickGetSelectedExecute(memo); }));
    }
    if (event->type() == QEvent::KeyPress && (watched == ui->log || watched == ui->jot)) {
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
    // A move that comes with a resize (dragging the left or top edge) must not snap.
    m_resizing = true;
    QTimer::singleShot(0, this, [this] { m_resizing = false; });
    VellumixApplication::guarded([this] { FormResize(); });
}

void TFMain::RefreshLayout()
{
    ui->lvDropLog->setColumnWidth(0, 333);
    ui->lvDropLog->setColumnWidth(1, 666);
    ui->cmdAboutCopyToClipboard->setFixedSize(162, 24);
    ui->cmdSysApplicationsCopyToClipboard->setFixedSize(162, 24);
}

QPlainTextEdit* TFMain::activeMemo() const
{
    const QWidget* page = ui->pageMain->currentWidget();
    if (page == ui->tabClipboardJournal) {
        return ui->log;
    }
    if (page == ui->tabNoteJotter) {
        return ui->jot;
    }
    return nullptr;
}

// ---- Actions

void TFMain::ActionExitExecute()
{
    close();
}

void TFMain::ActionGotoTopExecute()
{
    if (QPlainTextEdit* memo = activeMemo()) {
        scrollCaretTo(memo, QTextCursor::Start);
    }
}

void TFMain::ActionGotoBottomExecute()
{
    if (QPlainTextEdit* memo = activeMemo()) {
        scrollCaretTo(memo, QTextCursor::End);
    }
}

void TFMain::ActionOpenClipboardJournalExecute()
{
    ui->pageMain->setCurrentWidget(ui->tabClipboardJournal);
}

void TFMain::ActionOpenNoteJotterExecute()
{
    ui->pageMain->setCurrentWidget(ui->tabNoteJotter);
}

// ---- Clipboard journal

void TFMain::AppendToJournal(const QString& text)
{
    if (ui->chkClipTimeStamp->isChecked()) {
        MemoText::appendLine(ui->log, QLatin1Char('[') + stampTime() + QStringLiteral("]-----------------"));
    }
    MemoText::appendLine(ui->log, text);
}

bool TFMain::isInClipboardChain() const
{
    return m_clipboard->isActive();
}

void TFMain::JoinClipboardChain()
{
    if (!m_clipboard->isActive()) {
        m_clipboardRetries = 0;
        m_clipboard->start();
    }
}

void TFMain::LeaveClipboardChain()
{
    if (m_clipboard->isActive()) {
        m_clipboard->stop();
    }
}

void TFMain::RejoinClipboardChain()
{
    m_clipboard->stop();
    m_clipboard->start();
}

void TFMain::WMDrawClipboard(const ClipboardContent& content)
{
    bool done = !content.failed;
    try {
        // Text a password manager marks as secret never goes into the journal.
        if (done && content.hasText && !content.secret) {
            AppendToJournal(content.text);
        }
    } catch (const std::exception&) {
        done = false;
    }
    if (!done) {
        // Joining again brings a fresh notice, and with it another read; past the bound the change is dropped.
        if (m_clipboardRetries < MaxClipboardRetries) {
            ++m_clipboardRetries;
            RejoinClipboardChain();
        } else {
            m_clipboardRetries = 0;
        }
        return;
    }
    m_clipboardRetries = 0;
    if (content.hasImage) {
        ClipboardBitmapStep(content.image);
    }
}

void TFMain::chkClipAsleepClick()
{
    if (ui->chkClipAsleep->isChecked()) {
        LeaveClipboardChain();
    } else {
        JoinClipboardChain();
    }
}

// ---- Settings file

void TFMain::ReadSettings()
{
    IniFile ini(FIniFileName);
    QString error;
    if (!ini.load(&error)) {
        throw Exception(error);
    }
    FLanguageFile = ini.readString(SettingsSection, QStringLiteral("languagefile"), QString());
    // A box's click behaviour runs only when the stored state differs from the box's.
    auto apply = [this](QCheckBox* box, bool checked, void (TFMain::*click)()) {
        if (box->isChecked() == checked) {
            return;
        }
        {
            const QSignalBlocker blocker(box);
            box->setChecked(checked);
        }
        if (click) {
            (this->*click)();
        }
    };
    apply(ui->chkVellumix, ini.readBool(SettingsSection, QStringLiteral("vellulook"), true), &TFMain::chkVellumixClick);
    apply(ui->chkStayOnTop, ini.readBool(SettingsSection, QStringLiteral("stayontop"), false),
        &TFMain::chkStayOnTopClick);
    apply(ui->chkScreenSnap, ini.readBool(SettingsSection, QStringLiteral("screensnap"), true),
        &TFMain::chkScreenSnapClick);
    apply(ui->chkClipTimeStamp, ini.readBool(SettingsSection, QStringLiteral("timestamp"), true),
        &TFMain::chkClipTimeStampClick);
    apply(ui->chkClipAsleep, ini.readBool(SettingsSection, QStringLiteral("clipsleep"), false),
        &TFMain::chkClipAsleepClick);
}

void TFMain::ReadWindowPlacement()
{
    // A file that could not be read was reported while the options were read; the defaults apply.
    IniFile ini(FIniFileName);
    ini.load();
    QRect outer(ini.readInteger(SettingsSection, QStringLiteral("left"), 100),
        ini.readInteger(SettingsSection, QStringLiteral("top"), 100),
        ini.readInteger(SettingsSection, QStringLiteral("width"), 720),
        ini.readInteger(SettingsSection, QStringLiteral("height"), 480));
    outer.setSize(outer.size().expandedTo(QSize(1, 1)).boundedTo(QSize(16384, 16384)));

    // A window placed wholly off every screen (a monitor since unplugged) would open where nobody sees it.
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
        onScreen = onScreen || screen->geometry().intersects(outer);
    }
    if (!onScreen && QGuiApplication::primaryScreen()) {
        outer.moveTopLeft(QGuiApplication::primaryScreen()->availableGeometry().topLeft());
    }
    setOuterGeometry(outer);
}

void TFMain::WriteSettings()
{
    IniFile ini(FIniFileName);
    QString error;
    if (!ini.load(&error)) {
        // Writing over a file we could not read would lose its other lines.
        throw Exception(QStringLiteral("Unable to write to %1").arg(FIniFileName));
    }
    QRect outer = frameGeometry();
    if (m_pendingOuterSize.isValid()) {
        outer.setSize(m_pendingOuterSize);
    }
    ini.writeInteger(SettingsSection, QStringLiteral("left"), outer.left());
    ini.writeInteger(SettingsSection, QStringLiteral("top"), outer.top());
    ini.writeInteger(SettingsSection, QStringLiteral("width"), outer.width());
    ini.writeInteger(SettingsSection, QStringLiteral("height"), outer.height());
    ini.writeString(SettingsSection, QStringLiteral("languagefile"), FLanguageFile);
    ini.writeBool(SettingsSection, QStringLiteral("vellulook"), ui->chkVellumix->isChecked());
    ini.writeBool(SettingsSection, QStringLiteral("stayontop"), ui->chkStayOnTop->isChecked());
    ini.writeBool(SettingsSection, QStringLiteral("screensnap"), ui->chkScreenSnap->isChecked());
    ini.writeBool(SettingsSection, QStringLiteral("timestamp"), ui->chkClipTimeStamp->isChecked());
    ini.writeBool(SettingsSection, QStringLiteral("clipsleep"), ui->chkClipAsleep->isChecked());
    if (!ini.save(&error)) {
        throw Exception(error);
    }
}

// ---- Outer window geometry
// The settings hold the frame's size, but the window manager tells the frame's
// extent only after the window is mapped; until then the size waits.

QSize TFMain::frameExtra() const
{
    return frameGeometry().size() - geometry().size();
}

void TFMain::setOuterGeometry(const QRect& outer)
{
    const QSize extra = frameExtra();
    move(outer.topLeft());
    m_placedAt = outer.topLeft();
    resize(outer.size() - extra);
    const bool frameKnown = isVisible() && (extra.width() > 0 || extra.height() > 0);
    m_pendingOuterSize = frameKnown ? QSize() : outer.size();
}

void TFMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_pendingOuterSize.isValid() || m_frameWatch) {
        m_placementSettled = true;
        return;
    }
    m_frameWatch = new QTimer(this);
    m_frameWatch->setInterval(50);
    connect(m_frameWatch, &QTimer::timeout, this, [this, ticks = 0]() mutable {
        ++ticks;
        const QSize extra = frameExtra();
        if (extra.width() > 0 || extra.height() > 0) {
            applyPendingOuterSize();
        } else if (ticks >= 40) {
            // No frame after two seconds: none will come, and the outer size is the inner one.
            m_frameWatch->stop();
            m_pendingOuterSize = QSize();
            m_placementSettled = true;
        }
    });
    m_frameWatch->start();
}

void TFMain::applyPendingOuterSize()
{
    m_frameWatch->stop();
    m_placementSettled = true;
    if (m_pendingOuterSize.isValid()) {
        resize(m_pendingOuterSize - frameExtra());
        m_pendingOuterSize = QSize();
    }
}

// ---- Text tools

void TFMain::SetMemoText(QPlainTextEdit* memo, const QByteArray& bytes)
{
    MemoText::setFromBytes(memo, bytes);
    DocumentText* copy = memo == ui->log ? m_logText : m_jotText;
    QTimer::singleShot(0, copy, [copy, memo] { copy->text(memo->document()); });
}

qsizetype TFMain::findInMemo(QPlainTextEdit* memo, qsizetype start)
{
    if (FFindText.contains(QLatin1Char('\r')) || FFindText.contains(QLatin1Char('\n'))) {
        // A search text with line breaks: rare enough to search the text as it leaves the memo.
        return TextPosFrom(FFindText, QString::fromUtf8(MemoText::toBytes(memo)), start, false);
    }
    if (start < 1) {
        return 0;
    }
    // Without line breaks in the search text a match lies within one line, where both counts agree.
    QTextDocument* document = memo->document();
    const QString& text = (memo == ui->log ? m_logText : m_jotText)->text(document);
    const qsizetype found = TextPosFrom(FFindText, text, MemoText::toDocumentPosition(document, start - 1) + 1, false);
    return found == 0 ? 0 : MemoText::toTextPosition(document, int(found - 1)) + 1;
}

void TFMain::selectMatch(QPlainTextEdit* memo)
{
    if (FFindPos >= 0) {
        MemoText::selectText(memo, FFindPos, FFindLength);
        return;
    }
    QTextCursor cursor = memo->textCursor();
    cursor.clearSelection();
    memo->setTextCursor(cursor);
}

void TFMain::txtFindTextKeyUp()
{
    FFindText = ui->txtFindText->text();
    FFindLength = FFindText.size();
    if (QPlainTextEdit* memo = activeMemo()) {
        FFindPos = findInMemo(memo, 1) - 1;
        FFindNext = FFindPos + FFindLength;
        selectMatch(memo);
    }
}

void TFMain::cmdFindTextClick()
{
    if (QPlainTextEdit* memo = activeMemo()) {
        FFindPos = findInMemo(memo, FFindNext + 1) - 1;
        FFindNext = FFindPos + FFindLength;
        selectMatch(memo);
    }
}

void TFMain::ActionOnDblClickGetSelectedExecute(QObject* sender)
{
    if (sender != ui->log && sender != ui->jot) {
        return;
    }
    QString selected = static_cast<QPlainTextEdit*>(sender)->textCursor().selectedText();
    selected.replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
    ui->txtFindText->setText(selected);
}

void TFMain::ActionShellOpenSelectedTextExecute()
{
    const QString target = ui->txtFindText->text();
    bool accepted = false;
    try {
        accepted = ShellOpen(target, this);
    } catch (...) { }
    // The desktop's opener shows nothing when it refuses, so the program says it.
    if (!accepted) {
        MessageBox::show(this,
            LoadStr(sItemCannotBeOpenedBefore) + QLatin1Char('"') + target + QLatin1Char('"')
                + LoadStr(sItemCannotBeOpenedAfter));
    }
}

void TFMain::ActionSaveExecute()
{
    if (!StoreSession()) {
        return;
    }
    const QDateTime now = ClockText::now();
    QString moment = ClockText::shortDate(now.date());
    if (now.time() != QTime(0, 0)) {
        moment += QLatin1Char(' ') + ClockText::longTime(now.time());
    }
    setWindowTitle(QStringLiteral("vellumix [") + moment + QLatin1Char(']'));
}

void TFMain::ActionSaveAsExecute()
{
    if (ui->pageMain->currentWidget() == ui->tabClipboardJournal) {
        saveMemoAs(ui->log, QStringLiteral("vellumix-journal-"));
    }
    if (ui->pageMain->currentWidget() == ui->tabNoteJotter) {
        saveMemoAs(ui->jot, QStringLiteral("vellumix-notes-"));
    }
}

void TFMain::saveMemoAs(QPlainTextEdit* memo, const QString& prefix)
{
    const QString proposed = prefix + ClockText::shortDate(ClockText::now().date()) + QStringLiteral(".txt");
    const QString fileName = FileDialog::getSaveFileName(this, proposed, QString(), false);
    if (!fileName.isEmpty()) {
        writeFile(fileName, MemoText::toBytes(memo));
    }
}

// ---- Clipboard images

void TFMain::ClipboardBitmapStep(const QImage& image)
{
    // An image that could not be fetched leaves the last one in view.
    if (!image.isNull()) {
        FLastPicture = image;
    }
    showPicture();
}

void TFMain::showPicture()
{
    ui->imageCurrent->setScaledContents(ui->chkImageStretch->isChecked());
    if (FLastPicture.isNull()) {
        ui->imageCurrent->clear();
    } else {
        ui->imageCurrent->setPixmap(QPixmap::fromImage(FLastPicture));
    }
}

void TFMain::chkImageStretchClick()
{
    showPicture();
}

void TFMain::cmdImageCurrentSaveToFileClick()
{
    const QString fileName = FileDialog::getSaveFileName(this, QString(),
        LoadStr(sFilterBitmaps) + QStringLiteral(" (*.bmp);;") + LoadStr(sFilterAllFiles) + QStringLiteral(" (*.*)"),
        true);
    if (fileName.isEmpty() || FLastPicture.isNull()) {
        return;
    }
    const QByteArray bytes = BitmapFile::encode(FLastPicture);
    if (bytes.isEmpty()) {
        throw Exception(QStringLiteral("Cannot write %1: the picture cannot be stored as a bitmap").arg(fileName));
    }
    writeFile(fileName, bytes);
}

// ---- Drop zone

void TFMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void TFMain::dropEvent(QDropEvent* event)
{
    // The drop is released in every case, also when the handler fails.
    const auto release = qScopeGuard([event] { event->acceptProposedAction(); });
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            paths << url.toLocalFile();
        }
    }
    VellumixApplication::guarded([this, &paths] { WMDropFiles(paths); });
}

void TFMain::WMDropFiles(const QStringList& paths)
{
    if (paths.isEmpty()) {
        return;
    }
    ui->lvDropLog->clear();
    for (QString path : paths) {
        path.truncate(2048);
        QStringView name(path);
        while (name.size() > 1 && name.endsWith(QLatin1Char('/'))) {
            name.chop(1);
        }
        name = name.sliced(name.lastIndexOf(QLatin1Char('/')) + 1);
        new QTreeWidgetItem(ui->lvDropLog, { name.toString(), path });
        AppendToJournal(path);
    }
}

// ---- Applications list

void TFMain::ActionGetSysApplicationsExecute()
{
    setCursor(Qt::BusyCursor);
    const auto restore = qScopeGuard([this] { unsetCursor(); });
    ui->lvSysApplications->clear();
    const QString filter = ui->txtSysApplicationsFilter->text();
    const bool showNameless = ui->chkSysApplicationsShowNameless->isChecked();
    QStringList rows;
    for (const TopLevelWindow& window : m_windows->topLevelWindows()) {
        const QString title = window.title.left(254);
        if (!title.isEmpty()) {
            if (filter.isEmpty() || TextPos(filter, title, false) > 0) {
                rows << title;
            }
        } else if (filter.isEmpty() && showNameless) {
            rows << LoadStr(sNamelessWindow).arg(qint32(window.handle));
        }
    }
    std::stable_sort(rows.begin(), rows.end(),
        [](const QString& a, const QString& b) { return QString::localeAwareCompare(a, b) < 0; });
    for (const QString& row : rows) {
        new QTreeWidgetItem(ui->lvSysApplications, { row });
    }
}

void TFMain::ActionCopySysApplicationsToClipboardExecute()
{
    MemoText::appendLine(ui->log, QLatin1Char('[') + stampTime() + QStringLiteral("][SYSWINS]--------"));
    for (int i = 0; i < ui->lvSysApplications->topLevelItemCount(); ++i) {
        MemoText::appendLine(ui->log, ui->lvSysApplications->topLevelItem(i)->text(0));
    }
    ActionGotoBottomExecute();
}

void TFMain::lvSysApplicationsDblClick()
{
    const QList<QTreeWidgetItem*> selected = ui->lvSysApplications->selectedItems();
    if (!selected.isEmpty()) {
        ui->txtFindText->setText(selected.constFirst()->text(0));
    }
}

// ---- Window behaviour and look

void TFMain::chkStayOnTopClick()
{
    SetStayOnTop(ui->chkStayOnTop->isChecked());
}

void TFMain::SetStayOnTop(bool onTop)
{
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
    if (QWindow* window = windowHandle()) {
        // Telling the existing window spares the hide and show that setWindowFlags() does, so it keeps its place.
        overrideWindowFlags(flags);
        window->setFlags(flags);
    } else {
        setWindowFlags(flags);
    }
    show();
}

void TFMain::chkScreenSnapClick()
{
    m_screenSnap = ui->chkScreenSnap->isChecked();
}

void TFMain::chkVellumixClick()
{
    m_lookApplied = true;
    const bool alternative = ui->chkVellumix->isChecked();
    const QPalette system = QApplication::palette();
    for (QWidget* view : { static_cast<QWidget*>(ui->log), static_cast<QWidget*>(ui->jot),
             static_cast<QWidget*>(ui->lvDropLog), static_cast<QWidget*>(ui->lvSysApplications) }) {
        QPalette palette = view->palette();
        palette.setColor(QPalette::Base, alternative ? Black : system.color(QPalette::Base));
        palette.setColor(QPalette::Text, alternative ? Lime : system.color(QPalette::Text));
        view->setPalette(palette);
        QFont font = view->font();
        font.setFamily(alternative ? QStringLiteral("FixedSys") : QStringLiteral("Tahoma"));
        font.setStyleHint(alternative ? QFont::TypeWriter : QFont::SansSerif);
        view->setFont(font);
    }
}

QPoint TFMain::snappedPosition(const QPoint& pos, const QSize& frameSize, const QRect& workArea) const
{
    int x = pos.x();
    int y = pos.y();
    const int right = workArea.left() + workArea.width();
    const int bottom = workArea.top() + workArea.height();
    if (std::abs(x - workArea.left()) < SnapBuffer) {
        x = workArea.left();
    }
    if (std::abs(y - workArea.top()) < SnapBuffer) {
        y = workArea.top();
    }
    if (std::abs(x + frameSize.width() - right) < SnapBuffer) {
        x = right - frameSize.width();
    }
    if (std::abs(y + frameSize.height() - bottom) < SnapBuffer) {
        y = bottom - frameSize.height();
    }
    return { x, y };
}

void TFMain::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    // Only moves by the user snap: not the placement read from the settings while the window manager maps it.
    if (!m_screenSnap || m_resizing || !m_placementSettled || !isVisible() || !screen()) {
        return;
    }
    const QRect frame = frameGeometry();
    if (frame.topLeft() == m_placedAt) {
        return;
    }
    m_placedAt = QPoint(-1, -1);
    if (frame.topLeft() == QPoint(0, 0)) {
        return;
    }
    const QPoint snapped = snappedPosition(frame.topLeft(), frame.size(), screen()->availableGeometry());
    if (snapped != frame.topLeft()) {
        move(snapped);
    }
}

// ---- About page and help

void TFMain::FillAboutPage()
{
    const auto info = VMXFileVersionInfo::Create(AppPaths::executablePath());
    info->ReadInfo();
    ui->lblAbout->setText(QStringLiteral("harborlight [2007.04.13]"));
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
        MemoText::appendLine(ui->memoAbout, QString::fromLatin1(label) + value);
    }
    MemoText::appendLine(
        ui->memoAbout, QStringLiteral("credits - translation -------------------------------------------"));
    // The translations are the project's own work; no single person is named for them.
    const QString translators = QStringLiteral("the Vellumix team");
    const QString address = QStringLiteral("see the help file");
    const char* languages[] = { "AFRIKAANS", "SPANISH", "TURKISH", "GERMAN", "FRENCH" };
    for (int i = 0; i < 5; ++i) {
        QString line = QString::fromLatin1(languages[i]).leftJustified(9) + QStringLiteral(": ");
        line += i < 3 ? translators.leftJustified(25) + QStringLiteral(" - ") + address : translators;
        MemoText::appendLine(ui->memoAbout, line);
    }
    ui->memoAbout->moveCursor(QTextCursor::Start);
}

void TFMain::cmdAboutCopyToClipboardClick()
{
    ui->memoAbout->selectAll();
    QGuiApplication::clipboard()->setText(QString::fromUtf8(MemoText::toBytes(ui->memoAbout)));
    ui->memoAbout->moveCursor(QTextCursor::Start);
}

void TFMain::cmdDocsClick()
{
    bool accepted = false;
    try {
        accepted = ShellOpen(QStringLiteral("vellumix.chm"), this);
    } catch (...) { }
    // The desktop's opener shows nothing when it refuses, so the program says it.
    if (!accepted) {
        MessageBox::show(this, LoadStr(sDocumentationNotOpened));
    }
}

// ---- Languages

void TFMain::FillLanguageCombo(QComboBox* comboBox)
{
    if (!LocUtils.GetDllsInfo(&FLanguages)) {
        return;
    }
    const TDLLInfoItem& current = LocUtils.GetCurrentInfo();
    for (int i = 0; i < FLanguages.Count(); ++i) {
        comboBox->addItem(FLanguages[i].Name);
        if (FLanguages[i].LangId == current.LangId) {
            comboBox->setCurrentIndex(i);
        }
    }
}

void TFMain::cbLanguagesClick(int index)
{
    if (index < 0 || index >= FLanguages.Count()) {
        return;
    }
    // Remembered before the switch is tried, so a failing choice is still saved and reported at the next start.
    FLanguageFile = FLanguages[index].LibraryFile;
    LocUtils.SwitchTo(FLanguageFile);
    RefreshLayout();
    afterLanguageSwitch();
}

void TFMain::afterLanguageSwitch()
{
    // Re-reading the window puts back the designed fonts; a look chosen since is applied again.
    if (m_lookApplied) {
        chkVellumixClick();
    }
}

// ---- Session archive

void TFMain::LoadSession()
{
    try {
        // Nothing stored yet is no error, so the component is not asked to report one.
        if (!QFileInfo::exists(FArchiveFileName)) {
            return;
        }
        zip->SetZipFileName(FArchiveFileName);
        zip->SetAddOptions(AddOpts { AddEncrypt });
        loadEntry(ui->log, FJournalEntryName);
        loadEntry(ui->jot, FNotesEntryName);
    } catch (...) { }
}

void TFMain::loadEntry(QPlainTextEdit* memo, const QString& entryName)
{
    TZipStream* stream = zip->EntryStream();
    stream->Clear();
    zip->ExtractEntryToStream(entryName);
    const QByteArray bytes = stream->data().mid(stream->pos());
    if (bytes.isEmpty()) {
        for (int i = 0; i < zip->Count(); ++i) {
            const ZipDirEntry& entry = zip->DirEntry(i);
            if (entry.FileName.compare(entryName, Qt::CaseInsensitive) == 0 && entry.UncompressedSize > 0) {
                m_keepArchive = true;
            }
        }
    }
    SetMemoText(memo, bytes);
}

void TFMain::keepUnreadArchive()
{
    if (!m_keepArchive || !QFileInfo::exists(FArchiveFileName)) {
        return;
    }
    const QString copy = FileAccess::freeBackupName(FArchiveFileName);
    if (!QFile::copy(FArchiveFileName, copy)) {
        throw Exception(
            QStringLiteral("Cannot keep a copy of %1 as %2; the session was not stored.").arg(FArchiveFileName, copy));
    }
    QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    m_keepArchive = false;
    MessageBox::show(this, LoadStr(sArchiveKept).arg(FArchiveFileName, copy));
}

bool TFMain::StoreSession()
{
    // The component pumps events while it works, so a second "Save" can arrive meanwhile. It is refused
    // here, before it could refill the stream whose bytes the running store is still writing.
    if (zip->Busy()) {
        return false;
    }
    // What could not be read at start is kept aside before it is replaced.
    keepUnreadArchive();
    // A new archive holds whatever the user copied: only its owner may read it.
    const FileAccess::PrivateFileCreation privateFiles;
    zip->SetZipFileName(FArchiveFileName);
    zip->SetAddOptions(AddOpts { AddEncrypt });
    storeEntry(ui->log, FJournalEntryName);
    storeEntry(ui->jot, FNotesEntryName);
    return true;
}

void TFMain::storeEntry(QPlainTextEdit* memo, const QString& entryName)
{
    TZipStream* stream = zip->EntryStream();
    stream->Clear();
    stream->write(MemoText::toBytes(memo));
    zip->AddStreamEntry(entryName, 0, 0x20);
}
