#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

struct ClipboardContent;
class ImagesPage;
class JournalView;
class QWidget;
struct TFMainServices;

namespace Ui
{
class TFMain;
}

// The clipboard journal and the notes: capturing the clipboard into the journal,
// appending to it, and what the tool bar does with whichever memo is shown.
class JournalPage : public QObject
{
    Q_OBJECT

public:
    enum Memo { Journal, Notes };

    JournalPage(Ui::TFMain& ui, TFMainServices& services, ImagesPage& images, QWidget* window);

    JournalView* memo(Memo which) const;

    void AppendToJournal(const QString& text);
    // Lines written straight into the journal under a stamp line ending in the given tail.
    void appendUnderStamp(const QString& tail, const QStringList& lines);
    // "[date-time]" followed by the tail.
    QString stampLine(const QString& tail) const;

    void JoinClipboardChain();
    void LeaveClipboardChain();
    void RejoinClipboardChain();
    // One change of the clipboard, with what was read of it.
    void WMDrawClipboard(const ClipboardContent& content);
    bool isInClipboardChain() const;
    void chkClipAsleepClick();

    // The memo of the shown page, or null when the page holds none.
    JournalView* activeMemo() const;
    void ActionGotoTopExecute();
    void ActionGotoBottomExecute();
    void ActionSaveAsExecute();


private:
    void saveMemoAs(JournalView* memo, const QString& prefix);

    Ui::TFMain& m_ui;
    TFMainServices& m_services;
    ImagesPage& m_images;
    QWidget* m_window;
    int m_clipboardRetries = 0;
};
