#pragma once

#include "zip/ZipTypes.h"

#include <QString>

class QWidget;

// The window's modal dialogs. DesktopDialogs shows the desktop's own; tests hand
// in answers of their own, so no test ever waits for a person.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // A plain message box captioned with the application title.
    virtual void message(QWidget* parent, const QString& text) = 0;
    // A question answered Yes (true) or No.
    virtual bool ask(QWidget* parent, const QString& text) = 0;
    // The chosen file name, or an empty string when the user cancelled.
    virtual QString saveFileName(
        QWidget* parent, const QString& proposedName, const QString& filter, bool confirmOverwrite)
        = 0;
    // A question of the zip component (a password, say): its modal result, or mrNone to let the
    // component show its own dialog.
    virtual int zipDialog(QWidget* parent, const QString& title, QString& text, int kind, TMsgDlgButtons buttons)
    {
        Q_UNUSED(parent);
        Q_UNUSED(title);
        Q_UNUSED(text);
        Q_UNUSED(kind);
        Q_UNUSED(buttons);
        return mrNone;
    }
};

class DesktopDialogs final : public Dialogs
{
public:
    void message(QWidget* parent, const QString& text) override;
    bool ask(QWidget* parent, const QString& text) override;
    QString saveFileName(
        QWidget* parent, const QString& proposedName, const QString& filter, bool confirmOverwrite) override;
};
