#include "zip/ZipMsgStr.h"
#include "zip/ZipWorker.h"

#include <QFileInfo>

int TZipWorker::SpanAdd(quint32 dosDate, quint32 attributes)
{
    const QString archive = QFileInfo(FZipFileName).absoluteFilePath();
    QString temp = MakeTempName();
    if (temp.isEmpty()) {
        ReportException(EZipArchiver(ZipMsg::NoTemporaryFile, true));
        return 0;
    }
    if (Verbose())
        Report(zacMessage, 0, FormatMessageText(ZipMsg::TemporaryZipFile, temp), 0);

    // An existing archive or set is joined first, so the add extends it.
    const QString source = ProbeArchiveFile(archive) == pbCompanionExecutable
        ? ZipWithExtension(archive, QStringLiteral(".zip"))
        : archive;
    ZipEndOfCentral eoc;
    const int found = LocateLastPart(source, eoc, true);
    if (found == lpFailed) {
        // A quiet search reports only some of its failures; the add must not end as if it had succeeded.
        if (ErrorCode() == 0)
            ReportException(EZipArchiver(ZipMsg::CannotOpenZip, true));
        return 0;
    }
    QString plainSource;
    if (found == lpFound) {
        const bool multiPart = m_multiPart || eoc.ThisDiskNo != 0;
        const QString part = m_parts.Path();
        m_parts.Close();
        if (multiPart) {
            if (ReadSpan(source, temp, true) != srOk)
                return 0;
        } else if (!QFile::copy(part, temp)) {
            ReportException(EZipArchiver(ZipMsg::CreateOutputFailed, true));
            return 0;
        } else {
            plainSource = part;
        }
    }

    int success = RunAddCommand(temp, dosDate, attributes);
    if (success > 0 && WriteSpan(temp, archive) != srOk)
        success = 0;
    QFile::remove(temp);
    if (success > 0 && !plainSource.isEmpty() && !m_zipNameKept) {
        // The single-file archive now lives on in the parts; left beside them it would be listed instead.
        // One the user chose to keep when the last part would have taken its name stays.
        ZipEndOfCentral check;
        m_parts.SetPath(plainSource);
        const bool stillPlain = FindEndRecord(check, false) && check.ThisDiskNo == 0 && !m_multiPart;
        m_parts.Close();
        if (stillPlain)
            QFile::remove(plainSource);
    }
    if (success == 0) {
        // The directory was read from the temporary archive; read the set again but keep the error.
        const int code = ErrorCode();
        const QString message = ErrorMessage();
        List();
        SetErrorCode(code);
        SetErrorMessage(message);
    }
    return success;
}
