#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

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
    JournalPage(Ui::TFMain& ui, TFMainServices& services, ImagesPage& images, QWidget* window);

    void AppendToJournal(const QString& text);
    // Lines written straight into the journal under a stamp line ending in the given tail.
    void appendUnderStamp(const QString& tail, const QStringList& lines);
    // "[date-time]" followed by the tail.
    QString stampLine(const QString& tail) const;

    void JoinClipboardChain();
    void LeaveClipboardChain();
    void RejoinClipboardChain();
    void WMDrawClipboard();
    bool isInClipboardChain() const;
    void chkClipAsleepClick();

    // The memo of the shown page, or null when the page holds none.
    QPlainTextEdit* activeMemo() const;
    void ActionGotoTopExecute();
    void ActionGotoBottomExecute();
    void ActionSaveAsExecute();

    // Replaces a memo's text with stored bytes.
    void setMemoText(QPlainTextEdit* memo, const QByteArray& bytes);

Q_SIGNALS:
    // A memo's whole text was replaced; anything that follows its document must look again.
    void memoReplaced(QPlainTextEdit* memo);

private:
    void saveMemoAs(QPlainTextEdit* memo, const QString& prefix);

    Ui::TFMain& ui;
    TFMainServices& m_services;
    ImagesPage& m_images;
    QWidget* m_window;
    int m_clipboardRetries = 0;
};
