#pragma once

#include "app/WindowServices.h"

#include <QMainWindow>
#include <QString>

#include <memory>

class AboutPage;
class ApplicationsPage;
class DropZonePage;
class FindBar;
class ImageList;
class ImagesPage;
class JournalPage;
class JournalView;
class SessionStore;
class TZipArchiver;
class WindowLook;
class WindowPlacement;
struct WindowSettings;

namespace Ui
{
class TFMain;
}

// The main window: the clipboard journal, the notes and the desktop tools. Each
// page's work sits in its own controller; the handlers here hand on to them.
class TFMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TFMain(TFMainServices services = {}, QWidget* parent = nullptr);
    // Runs FormDestroy unless closing the window did: the session and the settings are stored.
    ~TFMain() override;
    // The program ends without a close, its display gone: stores the session and the settings as
    // a close would, without asking anything and without turning the event loop.
    void storeAtExit();
    // Closes the window for a signal or the session manager: no one may be there to answer, so an
    // archive that could not be loaded is left as it is.
    void closeUnattended();

    // Clipboard journal
    void AppendToJournal(const QString& text);
    void JoinClipboardChain();
    void LeaveClipboardChain();
    // One change of the clipboard, with what was read of it.
    void WMDrawClipboard(const ClipboardContent& content);
    bool isInClipboardChain() const;
    void chkClipAsleepClick();
    void chkClipTimeStampClick() { }

    // Session archive
    void LoadSession();
    // False when refused because another archive operation is running; a failure raises its report.
    bool StoreSession();

    // Settings file
    void ReadSettings();
    void ReadWindowPlacement();
    void WriteSettings();

    void RefreshLayout();
    // Replaces a memo's text with stored bytes.
    void SetMemoText(JournalView* memo, const QByteArray& bytes);

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
    void chkImageStretchClick();
    void cmdImageCurrentSaveToFileClick();

    // Drop zone: the dropped paths in order
    void WMDropFiles(const QStringList& paths);

    // Applications list
    void ActionGetSysApplicationsExecute();
    void ActionCopySysApplicationsToClipboardExecute();
    void lvSysApplicationsDblClick();

    // Languages, About page and help
    void cbLanguagesClick(int index);
    void FillAboutPage();
    void cmdAboutCopyToClipboardClick();
    void cmdDocsClick();

    // Window behaviour and look
    void chkStayOnTopClick();
    void chkScreenSnapClick();
    void chkVellumixClick();

    // The controllers, for what the pages show beyond their controls.
    const JournalPage& journal() const { return *m_journal; }
    const FindBar& findBar() const { return *m_findBar; }
    const ImagesPage& images() const { return *m_images; }
    const AboutPage& about() const { return *m_about; }
    const SessionStore& session() const { return *m_session; }
    SessionStore& session() { return *m_session; }
    const WindowPlacement& placement() const { return *m_placement; }
    TZipArchiver* zipComponent() const;
    QMenu* createPopupMenu() override;
    const QString& settingsFileName() const { return FIniFileName; }

Q_SIGNALS:
    // The desktop the clipboard belongs to went away, as it does when the session ends.
    void desktopEnded();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    enum class Closing { Done, Stay, Later };
    // Stores the session and the settings. With mayStayOpen a failed store asks whether to close
    // all the same (Stay when not) and a store already running makes the close wait (Later).
    Closing FormDestroy(bool mayStayOpen);
    // A message box, or the log once the desktop is gone and nobody could answer one.
    void tell(const QString& text);
    void FormActivate();
    void FormKeyDown(QKeyEvent* event);
    void FormResize();

    void setUpControls();
    void connectHandlers();
    void applySettings(const WindowSettings& settings);
    // The standard error report: a message box with the error's own text.
    void report(const std::exception& error);
    // Runs a handler; what it raises is shown as the standard error report.
    void guarded(const std::function<void()>& handler);
    template <typename F> auto handler(F run)
    {
        return [this, run](auto&&...) { guarded(run); };
    }

    TFMainServices m_services;
    std::unique_ptr<Ui::TFMain> m_ui;
    ImageList* m_imageList = nullptr;
    std::unique_ptr<WindowLook> m_look;
    WindowPlacement* m_placement = nullptr;
    ImagesPage* m_images = nullptr;
    JournalPage* m_journal = nullptr;
    FindBar* m_findBar = nullptr;
    ApplicationsPage* m_applications = nullptr;
    DropZonePage* m_dropZone = nullptr;
    AboutPage* m_about = nullptr;
    SessionStore* m_session = nullptr;
    QString FIniFileName;
    bool m_destroyed = false;
    bool m_closing = false;
    // No one is left to answer a question, and the display may end the program at any moment.
    bool m_desktopGone = false;
    bool m_unattended = false;
};
