#pragma once

#include <QMainWindow>
#include <QRect>
#include <QString>

#include <memory>

#include "platform/ClipboardViewer.h"
class ImageList;
class QPlainTextEdit;
class QTimer;

namespace Ui
{
class TFMain;
}

// The main window: the clipboard journal, the notes and the desktop tools.
class TFMain : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int SnapBuffer = 111;
    static const QString SettingsSection;

    // The clipboard viewer defaults to the system clipboard; tests hand in their own.
    explicit TFMain(std::unique_ptr<ClipboardViewer> clipboard = {}, QWidget* parent = nullptr);
    // Runs FormDestroy: the session and the settings are stored.
    ~TFMain() override;

    // Clipboard journal
    void AppendToJournal(const QString& text);
    void JoinClipboardChain();
    void LeaveClipboardChain();
    void RejoinClipboardChain();
    void WMDrawClipboard();
    bool isInClipboardChain() const;

    // Settings file
    void ReadSettings();
    void ReadWindowPlacement();
    void WriteSettings();

    void RefreshLayout();
    QPlainTextEdit* activeMemo() const;

    // Actions
    void ActionExitExecute();
    void ActionGotoTopExecute();
    void ActionGotoBottomExecute();
    void ActionOpenClipboardJournalExecute();
    void ActionOpenNoteJotterExecute();

    void chkClipAsleepClick();
    void chkClipTimeStampClick() {}

    QString FIniFileName;
    QString FLanguageFile;
    QString FArchiveFileName;
    QString FJournalEntryName;
    QString FNotesEntryName;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

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

    std::unique_ptr<Ui::TFMain> ui;
    std::unique_ptr<ClipboardViewer> m_clipboard;
    ImageList* m_images = nullptr;
    QTimer* m_frameWatch = nullptr;
    QSize m_pendingOuterSize;
    int m_clipboardRetries = 0;
    bool m_destroyed = false;
};
