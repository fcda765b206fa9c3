#pragma once

#include "loc/LocUtils.h"
#include "platform/ClipboardViewer.h"
#include "platform/WindowList.h"
#include "zip/ZipArchiver.h"

#include <QImage>
#include <QMainWindow>
#include <QRect>
#include <QString>
#include <QStringList>

#include <memory>

class DocumentText;
class ImageList;
class QCheckBox;
class QComboBox;
class QPlainTextEdit;
class QTimer;
class QWidget;

namespace Ui
{
class TFMain;
}

// What the window uses of the desktop; tests hand in their own.
struct TFMainServices
{
    std::unique_ptr<ClipboardViewer> clipboard; // the desktop's clipboard when empty
    std::unique_ptr<WindowList> windows; // the desktop's window list when empty
};

// The main window: the clipboard journal, the notes and the desktop tools.
class TFMain : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int SnapBuffer = 111;
    static const QString SettingsSection;

    explicit TFMain(TFMainServices services = {}, QWidget* parent = nullptr);
    // Runs FormDestroy: the session and the settings are stored.
    ~TFMain() override;

    // Clipboard journal
    void AppendToJournal(const QString& text);
    void JoinClipboardChain();
    void LeaveClipboardChain();
    void RejoinClipboardChain();
    // One change of the clipboard, with what was read of it.
    void WMDrawClipboard(const ClipboardContent& content);
    bool isInClipboardChain() const;

    // Session archive
    void LoadSession();
    // False when refused because another archive operation is running.
    bool StoreSession();
    TZipArchiver* zipComponent() const { return zip; }

    // Settings file
    void ReadSettings();
    void ReadWindowPlacement();
    void WriteSettings();

    void RefreshLayout();
    QPlainTextEdit* activeMemo() const;
    // Replaces a memo's text with stored bytes; the find bar's copy of it is made when the program is idle.
    void SetMemoText(QPlainTextEdit* memo, const QByteArray& bytes);

    // Text tools
    void txtFindTextKeyUp();
    void cmdFindTextClick();
    void ActionOnDblClickGetSelectedExecute(QObject* sender);
    void ActionShellOpenSelectedTextExecute();
    void ActionSaveExecute();
    void ActionSaveAsExecute();

    // Actions
    void ActionExitExecute();
    void ActionGotoTopExecute();
    void ActionGotoBottomExecute();
    void ActionOpenClipboardJournalExecute();
    void ActionOpenNoteJotterExecute();

    // Clipboard images
    void ClipboardBitmapStep(const QImage& image);
    void chkImageStretchClick();
    void cmdImageCurrentSaveToFileClick();
    const QImage& lastPicture() const { return FLastPicture; }

    // Drop zone: the dropped paths in order
    void WMDropFiles(const QStringList& paths);

    // Applications list
    void ActionGetSysApplicationsExecute();
    void ActionCopySysApplicationsToClipboardExecute();
    void lvSysApplicationsDblClick();

    // Languages
    void FillLanguageCombo(QComboBox* comboBox);
    void cbLanguagesClick(int index);
    const TDLLInfoList& languages() const { return FLanguages; }

    // About page and help
    void FillAboutPage();
    void cmdAboutCopyToClipboardClick();
    void cmdDocsClick();

    // Window behaviour and look
    void chkStayOnTopClick();
    void SetStayOnTop(bool onTop);
    void chkScreenSnapClick();
    void chkVellumixClick();
    bool ScreenSnap() const { return m_screenSnap; }
    // The frame's top-left corner after the snapping rules, for a frame of the given size proposed at pos.
    QPoint snappedPosition(const QPoint& pos, const QSize& frameSize, const QRect& workArea) const;

    void chkClipAsleepClick();
    void chkClipTimeStampClick() { }

    QString FIniFileName;
    QString FLanguageFile;
    QString FArchiveFileName;
    QString FJournalEntryName;
    QString FNotesEntryName;

    QString FFindText;
    qsizetype FFindLength = 0;
    qsizetype FFindPos = 0;
    qsizetype FFindNext = 0;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    void FormActivate();
    void FormKeyDown(QKeyEvent* event);
    void FormResize();

    void setUpControls();
    void connectHandlers();
    void setOuterGeometry(const QRect& outer);
    void applyPendingOuterSize();
    QSize frameExtra() const;

    qsizetype findInMemo(QPlainTextEdit* memo, qsizetype start);
    void selectMatch(QPlainTextEdit* memo);
    void saveMemoAs(QPlainTextEdit* memo, const QString& prefix);
    void showPicture();
    void afterLanguageSwitch();
    void loadEntry(QPlainTextEdit* memo, const QString& entryName);
    void storeEntry(QPlainTextEdit* memo, const QString& entryName);
    void keepUnreadArchive();

    std::unique_ptr<Ui::TFMain> ui;
    std::unique_ptr<ClipboardViewer> m_clipboard;
    std::unique_ptr<WindowList> m_windows;
    ImageList* m_images = nullptr;
    TZipArchiver* zip = nullptr;
    DocumentText* m_logText = nullptr;
    DocumentText* m_jotText = nullptr;
    QTimer* m_frameWatch = nullptr;
    QSize m_pendingOuterSize;
    QPoint m_placedAt { -1, -1 };
    bool m_placementSettled = false;
    QImage FLastPicture;
    TDLLInfoList FLanguages;
    bool m_lookApplied = false;
    // An entry of the stored archive could not be read; the archive is copied aside before the first store.
    bool m_keepArchive = false;
    int m_clipboardRetries = 0;
    bool m_screenSnap = false;
    bool m_resizing = false;
    bool m_destroyed = false;
};
