#include "app/WriteFile.h"

#include "loc/LocStrings.h"
#include "platform/Exception.h"

#include <QSaveFile>

void writeWholeFile(const QString& fileName, const QByteArray& bytes)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        throw Exception(LoadStr(sCannotWrite).arg(fileName, file.errorString()));
    }
}
