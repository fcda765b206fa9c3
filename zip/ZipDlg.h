#pragma once

#include "zip/ZipTypes.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

// Dialog kinds in bits 16-20 of a dialog context; the low 16 bits are a
// context number shown in verbose titles.
constexpr int ZipDlgError = 0x112711;
constexpr int ZipDlgInformation = 0x122710;
constexpr int ZipDlgPassword = 0x140000;
constexpr int ZipDlgConfirm = 0x132712;

// The title used when a caller passes none.
QString ZipApplicationTitle();

// The component's own modal message box: icon, wrapped message, an optional
// masked password edit and a row of buttons captioned from the message table.
class TZipDialogBox : public QDialog
{
    Q_OBJECT

public:
    TZipDialogBox(QWidget* owner, int context);

    void setup(const QString& title, const QString& message, TMsgDlgButtons buttons);
    // Beeps for the kind and runs modally; closing the window answers with the
    // cancel button.
    int showModal();
    // The password typed, for the password kind only.
    QString inputText() const;

    int kind() const { return m_kind; }
    QPushButton* defaultButton() const { return m_defaultButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

    // Tests answer the next dialog instead of showing it: the hook receives the
    // built dialog and returns its modal result.
    using Answer = std::function<int(TZipDialogBox&)>;
    static void setNextAnswer(Answer answer);
    static void setNextAnswer(int result, const QString& text = {});
    static bool hasNextAnswer();

protected:
    void reject() override;

private:
    int m_kind = 0;
    int m_avgWidth = 0;
    int m_lineHeight = 0;
    QLabel* m_image = nullptr;
    QLabel* m_text = nullptr;
    QLineEdit* m_edit = nullptr;
    QPushButton* m_defaultButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
