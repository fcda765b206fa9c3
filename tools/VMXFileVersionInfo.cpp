#include "tools/VMXFileVersionInfo.h"

#include "tools/FileVersionApi.h"

#include <QByteArray>

#include <utility>

VMXFileVersionInfo::VMXFileVersionInfo(const QString& fileName)
    : FInfoFileName(fileName)
{ }

std::unique_ptr<VMXFileVersionInfo> VMXFileVersionInfo::Create(const QString& fileName)
{
    return std::make_unique<VMXFileVersionInfo>(fileName);
}

void VMXFileVersionInfo::ReadInfo()
{
    // Queried in this order; the paths keep their doubled backslashes, which
    // the lookup reads as single separators.
    const std::pair<const char*, QString*> keys[] = {
        { "CompanyName", &FCompanyName },
        { "FileDescription", &FFileDescription },
        { "FileVersion", &FFileVersion },
        { "LegalCopyright", &FLegalCopyright },
        { "LegalTrademarks", &FLegalTrademarks },
        { "ProductName", &FProductName },
        { "ProductVersion", &FProductVersion },
        { "Comments", &FComments },
        { "Documentation", &FDocumentation },
        { "Translation", &FTranslation },
        { "Open Source Credits -QUENMAROL", &FOpenSourceCredits },
    };
    for (const auto& key : keys) {
        key.second->clear();
    }

    const quint32 size = FileVersionApi::GetFileVersionInfoSize(FInfoFileName);
    if (size == 0) {
        return;
    }
    QByteArray buffer(qsizetype(size), '\0');
    if (!FileVersionApi::GetFileVersionInfo(FInfoFileName, size, buffer.data())) {
        return;
    }
    QByteArray translation;
    if (!FileVersionApi::VerQueryValue(buffer, QByteArrayLiteral("\\\\VarFileInfo\\\\Translation"), &translation)
        || translation.size() < 4) {
        return;
    }
    const quint32 pair = quint32(quint8(translation[0])) | quint32(quint8(translation[1])) << 8
        | quint32(quint8(translation[2])) << 16 | quint32(quint8(translation[3])) << 24;
    const QByteArray prefix = QByteArrayLiteral("\\\\StringFileInfo\\\\")
        + QByteArray::number(pair & 0xffff, 16).rightJustified(4, '0').toUpper()
        + QByteArray::number(pair >> 16, 16).rightJustified(4, '0').toUpper() + QByteArrayLiteral("\\\\");
    for (const auto& [name, field] : keys) {
        QByteArray value;
        if (FileVersionApi::VerQueryValue(buffer, prefix + name, &value)) {
            const qsizetype end = value.indexOf('\0');
            *field = QString::fromUtf8(end < 0 ? value : value.left(end));
        }
    }
}
