#include "app/ImagesPage.h"

#include "app/BitmapFile.h"
#include "app/WindowServices.h"
#include "app/WriteFile.h"
#include "loc/LocStrings.h"
#include "platform/Exception.h"

#include "ui_vlmx_main.h"

ImagesPage::ImagesPage(Ui::TFMain& ui, TFMainServices& services, QWidget* window)
    : QObject(window)
    , m_ui(ui)
    , m_services(services)
    , m_window(window)
{
    m_ui.imageCurrent->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
}

void ImagesPage::ClipboardBitmapStep(const QImage& image)
{
    // The view keeps its own copy: the clipboard's image goes with the next copy.
    if (!image.isNull()) {
        FLastPicture = image;
    }
    showPicture();
}

void ImagesPage::showPicture()
{
    m_ui.imageCurrent->setScaledContents(m_ui.chkImageStretch->isChecked());
    if (FLastPicture.isNull()) {
        m_ui.imageCurrent->clear();
    } else {
        m_ui.imageCurrent->setPixmap(QPixmap::fromImage(FLastPicture));
    }
}

void ImagesPage::chkImageStretchClick()
{
    showPicture();
}

void ImagesPage::cmdImageCurrentSaveToFileClick()
{
    const QString fileName = m_services.dialogs->saveFileName(m_window, QString(),
        LoadStr(sFilterBitmaps) + QStringLiteral(" (*.bmp);;") + LoadStr(sFilterAllFiles) + QStringLiteral(" (*.*)"),
        true);
    if (fileName.isEmpty() || FLastPicture.isNull()) {
        return;
    }
    const QByteArray bytes = BitmapFile::encode(FLastPicture);
    if (bytes.isEmpty()) {
        throw Exception(LoadStr(sCannotWrite).arg(fileName, LoadStr(sNotABitmap)));
    }
    writeWholeFile(fileName, bytes);
}
