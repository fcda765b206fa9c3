#pragma once

#include <QImage>
#include <QObject>

class QWidget;
struct TFMainServices;

namespace Ui
{
class TFMain;
}

// The Images page: the last picture copied to the clipboard, stretched or not, saved on request.
class ImagesPage : public QObject
{
    Q_OBJECT

public:
    ImagesPage(Ui::TFMain& ui, TFMainServices& services, QWidget* window);

    // The picture the clipboard offered for one change; a null image keeps the last one.
    void ClipboardBitmapStep(const QImage& image);
    void chkImageStretchClick();
    void cmdImageCurrentSaveToFileClick();
    const QImage& lastPicture() const { return FLastPicture; }

private:
    void showPicture();

    Ui::TFMain& m_ui;
    TFMainServices& m_services;
    QWidget* m_window;
    QImage FLastPicture;
};
