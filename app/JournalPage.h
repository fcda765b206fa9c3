#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

struct ClipboardContent;
class DocumentText;
class ImagesPage;
class QPlainTextEdit;
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

    QPlainTextEdit* memo(Memo which) const;
    // The memo's text, kept current as it changes.
    DocumentText* textOf(Memo which) const { return m_texts[which]; }
    DocumentText* textOf(const QPlainTextEdit* memo) const { return m_texts[memo == this->memo(Journal) ? 0 : 1]; }

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
    QPlainTextEdit* activeMemo() const;
    void ActionGotoTopExecute();
    void ActionGotoBottomExecute();
    void ActionSaveAsExecute();

    // Replaces a memo's whole text (LF line breaks).
    void setMemoText(Memo which, const QString& text);

private:
    void saveMemoAs(QPlainTextEdit* memo, const QString& prefix);

    Ui::TFMain& m_ui;
    TFMainServices& m_services;
    ImagesPage& m_images;
    QWidget* m_window;
    DocumentText* m_texts[2];
    int m_clipboardRetries = 0;
};
