#include "app/vlmx_main.h"

#include "app/ImageList.h"
#include "app/MemoText.h"
#include "app/ClockText.h"
#include "app/MessageBox.h"
#include "app/VellumixApplication.h"
#include "platform/AppPaths.h"
#include "platform/ClipboardViewer.h"
#include "platform/Exception.h"
#include "platform/IniFile.h"

#include "ui_vlmx_main.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>

const QString TFMain::SettingsSection = QStringLiteral("vellumix_main");

namespace
{
// Nested re-reads while another program keeps the clipboard busy.
constexpr int MaxClipboardRetries = 3;

const QColor Black(0, 0, 0);
const QColor Lime(0, 255, 0);

void setColours(QWidget* widget, const QColor& background, const QColor& text)
{
    QPalette palette = widget->palette();
    for (auto role : {QPalette::Base, QPalette::Window}) {
        palette.setColor(role, background);
    }
    for (auto role : {QPalette::Text, QPalette::WindowText}) {
        palette.setColor(role, text);
    }
    widget->setPalette(palette);
}

// The memos keep their selection visible while another control has the focus.
void keepSelectionVisible(QWidget* widget)
{
    QPalette palette = widget->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
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

void scrollCaretTo(QPlainTextEdit* memo, QTextCursor::MoveOperation where)
{
    QTextCursor cursor = memo->textCursor();
    cursor.movePosition(where);
    memo->setTextCursor(cursor);
    memo->ensureCursorVisible();
}
} // namespace

TFMain::TFMain(std::unique_ptr<ClipboardViewer> clipboard, QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::TFMain)
    , m_clipboard(clipboard ? std::move(clipboard) : std::make_unique<SystemClipboardViewer>())
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
    setWindowIcon(ImageList::programIcon());

    // The tool bar shows its action buttons left of the check boxes.
    const QList<QAction*> toolBarActions = {ui->ActionSave, ui->ActionSaveAs, ui->ActionGotoTop, ui->ActionGotoBottom};
    QAction* firstWidget = ui->toolBarMain->actions().value(0);
    for (QAction* action : toolBarActions) {
        ui->toolBarMain->insertAction(firstWidget, action);
    }
    const QList<std::pair<QAction*, const char*>> buttonNames = {{ui->ActionSave, "toolbarSave"},
        {ui->ActionSaveAs, "toolbarSaveAs"}, {ui->ActionGotoTop, "toolbarGotoTop"},
        {ui->ActionGotoBottom, "toolbarGotoBottom"}};
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
    for (QMenu* menu : {ui->mnuMainSession, ui->mnuMainEdit, ui->mnuMainHelp}) {
        menu->menuAction()->setVisible(false);
    }
    ui->menuMain->hide();

    for (QPlainTextEdit* memo : {ui->log, ui->jot}) {
        setColours(memo, Black, Lime);
        keepSelectionVisible(memo);
        preferFixedPitch(memo);
        memo->installEventFilter(this);
    }
    setColours(ui->txtFindText, Black, Lime);
    preferFixedPitch(ui->txtFindText);
    setColours(ui->panelAbout, Black, Lime);
    setColours(ui->lblAbout, Black, Lime);
    preferFixedPitch(ui->lblAbout);
    setColours(ui->memoAbout, Black, Lime);
    preferFixedPitch(ui->memoAbout);

    RefreshLayout();
}

void TFMain::connectHandlers()
{
    connect(m_clipboard.get(), &ClipboardViewer::changed, this, guardedHandler([this] { WMDrawClipboard(); }));
    connect(ui->chkClipAsleep, &QCheckBox::clicked, this, guardedHandler([this] { chkClipAsleepClick(); }));
    connect(ui->chkClipTimeStamp, &QCheckBox::clicked, this, guardedHandler([this] { chkClipTimeStampClick(); }));
    connect(ui->ActionExit, &QAction::triggered, this, guardedHandler([this] { ActionExitExecute(); }));
    connect(ui->ActionGotoTop, &QAction::triggered, this, guardedHandler([this] { ActionGotoTopExecute(); }));
    connect(ui->ActionGotoBottom, &QAction::triggered, this, guardedHandler([this] { ActionGotoBottomExecute(); }));
    connect(ui->ActionOpenClipboardJournal, &QAction::triggered, this,
        guardedHandler([this] { ActionOpenClipboardJournalExecute(); }));
    connect(ui->ActionOpenNoteJotter, &QAction::triggered, this,
        guardedHandler([this] { ActionOpenNoteJotterExecute(); }));
}

void TFMain::FormCreate()
{
    try {
        FIniFileName = AppPaths::besideExecutable(QStringLiteral(".ini"));
        ReadSettings();
    } catch (...) {
        MessageBox::show(this, QStringLiteral("Configuration INI file failed to load. Will try to continue without it."));
    }
    try {
        QGuiApplication::setApplicationDisplayName(QStringLiteral("vellumix"));
        setWindowTitle(QStringLiteral("vellumix"));
        FArchiveFileName = AppPaths::besideExecutable(QStringLiteral(".vma"));
        FJournalEntryName = AppPaths::executableNameWith(QStringLiteral(".clips"));
        FNotesEntryName = AppPaths::executableNameWith(QStringLiteral(".notes"));
        // The stored session is loaded here, before the clipboard is first read.
        if (!ui->chkClipAsleep->isChecked()) {
            JoinClipboardChain();
        }
        ui->txtSysApplicationsFilter->setText(QStringLiteral("\\"));
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
    LeaveClipboardChain();
    try {
        WriteSettings();
    } catch (...) {
        MessageBox::show(this, QStringLiteral("Configuration INI file failed to save. Will exit without saving."));
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
    if (focus == nullptr || focus == this) {
        FormKeyDown(event);
    }
    if (!event->isAccepted()) {
        QMainWindow::keyPressEvent(event);
    }
}

void TFMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
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
        const QDateTime now = ClockText::now();
        MemoText::appendLine(ui->log,
            QLatin1Char('[') + ClockText::shortDate(now.date()) + QLatin1Char('-') + ClockText::longTime(now.time())
                + QStringLiteral("]-----------------"));
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

void TFMain::WMDrawClipboard()
{
    ClipboardContent content;
    bool done = false;
    try {
        done = m_clipboard->read(&content);
        // Text a password manager marks as secret never goes into the journal.
        if (done && content.hasText && !content.secret) {
            AppendToJournal(content.text);
        }
    } catch (const std::exception&) {
        done = false;
    }
    if (!done && m_clipboardRetries < MaxClipboardRetries) {
        // Joining again brings a fresh notice, and with it another read; past the bound the change is dropped.
        ++m_clipboardRetries;
        RejoinClipboardChain();
        --m_clipboardRetries;
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
    apply(ui->chkVellumix, ini.readBool(SettingsSection, QStringLiteral("vellulook"), true), nullptr);
    apply(ui->chkStayOnTop, ini.readBool(SettingsSection, QStringLiteral("stayontop"), false), nullptr);
    apply(ui->chkScreenSnap, ini.readBool(SettingsSection, QStringLiteral("screensnap"), true), nullptr);
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
    resize(outer.size() - extra);
    const bool frameKnown = isVisible() && (extra.width() > 0 || extra.height() > 0);
    m_pendingOuterSize = frameKnown ? QSize() : outer.size();
}

void TFMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_pendingOuterSize.isValid() || m_frameWatch) {
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
        }
    });
    m_frameWatch->start();
}

void TFMain::applyPendingOuterSize()
{
    m_frameWatch->stop();
    if (m_pendingOuterSize.isValid()) {
        resize(m_pendingOuterSize - frameExtra());
        m_pendingOuterSize = QSize();
    }
}
