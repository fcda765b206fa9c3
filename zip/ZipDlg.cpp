#include "zip/ZipDlg.h"

#include "zip/ZipMsgStr.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <array>
#include <vector>

namespace
{
constexpr int kIconSize = 32;
constexpr int kPasswordKind = 4;
constexpr int kMaxPassword = 80;

constexpr std::array<int, 10> kResults { mrYes, mrNo, mrOk, mrCancel, mrAbort, mrRetry, mrIgnore, mrAll, mrNoToAll,
    mrYesToAll };

int mulDiv(int value, int numerator, int denominator)
{
    return (value * numerator + denominator / 2) / denominator;
}

TZipDialogBox::Answer& nextAnswer()
{
    static TZipDialogBox::Answer answer;
    return answer;
}

// Password characters show as '*' whatever the platform style prefers.
class StarPasswordStyle : public QProxyStyle
{
public:
    int styleHint(
        StyleHint hint, const QStyleOption* option, const QWidget* widget, QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};
} // namespace

QString ZipApplicationTitle()
{
    return QGuiApplication::applicationDisplayName();
}

TZipDialogBox::TZipDialogBox(QWidget* owner, int context)
    : QDialog(owner)
{
    if ((context & 0x1F0000) == 0)
        context |= 0x100000;
    m_kind = std::min((context >> 16) & 0x7, kPasswordKind);

    setFont(QApplication::font("QMessageBox"));
    const QFontMetrics metrics(font());
    const QString sample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz 0123456789");
    m_avgWidth = metrics.horizontalAdvance(sample) / int(sample.size());
    m_lineHeight = metrics.height();
}

void TZipDialogBox::setup(const QString& title, const QString& message, TMsgDlgButtons buttons)
{
    setWindowTitle(title.isEmpty() ? ZipApplicationTitle() : title);
    setLayoutDirection(QApplication::layoutDirection());
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);

    const int hMargin = mulDiv(8, m_avgWidth, 4);
    const int vMargin = mulDiv(8, m_lineHeight, 8);
    const int hSpacing = mulDiv(10, m_avgWidth, 4);
    const int vSpacing = mulDiv(10, m_lineHeight, 8);
    int buttonWidth = mulDiv(50, m_avgWidth, 4);
    const int buttonHeight = mulDiv(14, m_lineHeight, 8);
    const int buttonSpacing = mulDiv(4, m_avgWidth, 4);
    const QFontMetrics metrics(font());

    const TMsgDlgBtn defaultKind = buttons.contains(mbOK) ? mbOK : buttons.contains(mbYes) ? mbYes : mbRetry;
    const TMsgDlgBtn cancelKind = buttons.contains(mbCancel) ? mbCancel : buttons.contains(mbNo) ? mbNo : mbOK;

    std::vector<QPushButton*> created;
    for (int i = 0; i < int(kResults.size()); ++i) {
        const auto kind = TMsgDlgBtn(i);
        if (!buttons.contains(kind))
            continue;
        const QString caption = LoadMessageText(ZipMsg::ButtonYes + i);
        auto* button = new QPushButton(caption, this);
        button->setObjectName(QStringLiteral("zipdlg%1").arg(created.size() + 1));
        const int result = kResults[size_t(i)];
        connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
        button->setAutoDefault(false);
        if (kind == defaultKind) {
            button->setDefault(true);
            m_defaultButton = button;
        }
        if (kind == cancelKind)
            m_cancelButton = button;
        button->setProperty("modalResult", result);
        QString plain = caption;
        plain.remove(QLatin1Char('&'));
        buttonWidth = std::max(buttonWidth, metrics.horizontalAdvance(plain) + 8);
        created.push_back(button);
    }

    QString shown = message;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 800, 600);
    QRect textRect = metrics.boundingRect(
        QRect(0, 0, screenRect.width() / 2, 0), Qt::TextWordWrap | Qt::TextExpandTabs | Qt::AlignLeft, shown);
    int textLeft = 0;
    int textHeight = textRect.height();
    if (m_kind != kPasswordKind) {
        textLeft = kIconSize + hSpacing;
        textHeight = std::max(textHeight, kIconSize);
    }
    const int count = int(created.size());
    const int buttonGroupWidth = count * buttonWidth + std::max(count - 1, 0) * buttonSpacing;
    int contentWidth = std::max(textLeft + textRect.width(), buttonGroupWidth);
    int editWidth = 0;
    int editHeight = 0;
    if (m_kind == kPasswordKind) {
        contentWidth = std::max(contentWidth, kMaxPassword * m_avgWidth);
        m_edit = new QLineEdit(this);
        m_edit->setObjectName(QStringLiteral("zipdEdit"));
        auto* style = new StarPasswordStyle;
        style->setParent(this);
        m_edit->setStyle(style);
        m_edit->setEchoMode(QLineEdit::Password);
        m_edit->setMaxLength(kMaxPassword);
        editWidth = std::max(kMaxPassword * m_avgWidth, textRect.width());
        editHeight = m_edit->sizeHint().height();
    }

    const int clientWidth = contentWidth + 2 * hMargin;
    int clientHeight = textHeight + buttonHeight + 2 * vMargin + vSpacing;
    if (m_edit)
        clientHeight += editHeight + vMargin;
    setFixedSize(clientWidth, clientHeight);

    const bool mirrored = layoutDirection() == Qt::RightToLeft;
    auto place = [&](QWidget* widget, int x, int y, int w, int h) {
        widget->setGeometry(mirrored ? clientWidth - x - w : x, y, w, h);
    };
    if (m_kind != kPasswordKind) {
        static constexpr std::array<QStyle::StandardPixmap, 4> icons { QStyle::SP_MessageBoxWarning,
            QStyle::SP_MessageBoxCritical, QStyle::SP_MessageBoxInformation, QStyle::SP_MessageBoxQuestion };
        m_image = new QLabel(this);
        m_image->setObjectName(QStringLiteral("Image"));
        m_image->setPixmap(style()->standardIcon(icons[size_t(m_kind)]).pixmap(kIconSize, kIconSize));
        m_image->setGeometry(hMargin, vMargin, kIconSize, kIconSize);
    }
    m_text = new QLabel(shown, this);
    m_text->setObjectName(QStringLiteral("zipdText"));
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(m_text, hMargin + textLeft, vMargin, textRect.width() + 1, textRect.height());

    int buttonTop = textHeight + vMargin + vSpacing;
    if (m_edit) {
        place(m_edit, hMargin, vMargin + textHeight + vMargin, editWidth, editHeight);
        buttonTop += editHeight + vMargin;
    }
    int x = (clientWidth - buttonGroupWidth) / 2;
    for (QPushButton* button : created) {
        button->setGeometry(x, buttonTop, buttonWidth, buttonHeight);
        x += buttonWidth + buttonSpacing;
    }

    QWidget* previous = m_edit;
    for (QPushButton* button : created) {
        if (previous)
            setTabOrder(previous, button);
        previous = button;
    }
    if (m_edit)
        m_edit->setFocus();
    else if (m_defaultButton)
        m_defaultButton->setFocus();

    move(screenRect.center() - QPoint(clientWidth / 2, clientHeight / 2));
}

int TZipDialogBox::showModal()
{
    if (m_kind != kPasswordKind)
        QApplication::beep();
    if (nextAnswer()) {
        const Answer answer = std::exchange(nextAnswer(), nullptr);
        return answer(*this);
    }
    return exec();
}

QString TZipDialogBox::inputText() const
{
    return m_edit ? m_edit->text() : QString();
}

void TZipDialogBox::setNextAnswer(Answer answer)
{
    nextAnswer() = std::move(answer);
}

void TZipDialogBox::setNextAnswer(int result, const QString& text)
{
    nextAnswer() = [result, text](TZipDialogBox& box) {
        if (box.m_edit)
            box.m_edit->setText(text);
        return result;
    };
}

bool TZipDialogBox::hasNextAnswer()
{
    return bool(nextAnswer());
}

void TZipDialogBox::reject()
{
    done(m_cancelButton ? m_cancelButton->property("modalResult").toInt() : int(mrCancel));
}
