#include "app/WindowLook.h"

#include "ui_vlmx_main.h"

#include <QApplication>

namespace
{
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
} // namespace

WindowLook::WindowLook(Ui::TFMain& ui)
    : m_ui(ui)
{ }

void WindowLook::applyDesigned()
{
    for (QWidget* memo : { m_ui.log, m_ui.jot }) {
        setColours(memo, Black, Lime);
        keepSelectionVisible(memo);
        preferFixedPitch(memo);
    }
    for (QWidget* widget : { static_cast<QWidget*>(m_ui.txtFindText), static_cast<QWidget*>(m_ui.lblAbout),
             static_cast<QWidget*>(m_ui.memoAbout) }) {
        setColours(widget, Black, Lime);
        preferFixedPitch(widget);
    }
    setColours(m_ui.panelAbout, Black, Lime);
}

void WindowLook::chkVellumixClick()
{
    m_chosen = true;
    const bool alternative = m_ui.chkVellumix->isChecked();
    const QPalette system = QApplication::palette();
    for (QWidget* view : { static_cast<QWidget*>(m_ui.log), static_cast<QWidget*>(m_ui.jot),
             static_cast<QWidget*>(m_ui.lvDropLog), static_cast<QWidget*>(m_ui.lvSysApplications) }) {
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

void WindowLook::reapplyChosen()
{
    if (m_chosen) {
        chkVellumixClick();
    }
}
