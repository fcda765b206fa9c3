#pragma once

#include "loc/LocUtils.h"
#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace LocFixture
{
// A settings record with tailLength bytes after the wide name; the extra value, if
// the tail reaches it, is 0xC0FFEE.
inline QByteArray record(const char* magic, quint32 version, quint16 langId, const QByteArray& name, int tailLength = 9)
{
    QByteArray r(magic, 4);
    const auto put = [&r](auto value) {
        uchar bytes[sizeof(value)];
        qToLittleEndian(value, bytes);
        r.append(reinterpret_cast<const char*>(bytes), sizeof(value));
    };
    put(version);
    put(langId);
    put(quint16(name.size()));
    r.append(name);
    const QString wide = QString::fromUtf8(name);
    put(quint16(wide.size()));
    for (const QChar c : wide) {
        put(quint16(c.unicode()));
    }
    QByteArray tail("\x06\x00\xBA\xAB", 4);
    const uchar extra[4] = { 0xEE, 0xFF, 0xC0, 0x00 };
    tail.append(reinterpret_cast<const char*>(extra), 4);
    tail.append('\0');
    while (tail.size() < tailLength) {
        tail.append('\0');
    }
    return r + tail.left(tailLength);
}

// A language library holding the given named resources, made by Qt's own rcc.
inline bool makeLibrary(const QString& path, const QMap<QString, QByteArray>& resources)
{
    QTemporaryDir work;
    QByteArray qrc("<RCC><qresource prefix=\"/\">");
    for (auto it = resources.begin(); it != resources.end(); ++it) {
        QFile file(work.filePath(it.key()));
        if (!file.open(QIODevice::WriteOnly) || file.write(it.value()) != it.value().size()) {
            return false;
        }
        qrc += "<file>" + it.key().toUtf8() + "</file>";
    }
    qrc += "</qresource></RCC>";
    QFile qrcFile(work.filePath(QStringLiteral("lib.qrc")));
    if (!qrcFile.open(QIODevice::WriteOnly) || qrcFile.write(qrc) != qrc.size()) {
        return false;
    }
    qrcFile.close();
    QProcess rcc;
    rcc.start(
        QStringLiteral(VELLUMIX_RCC), { QStringLiteral("--binary"), QStringLiteral("-o"), path, qrcFile.fileName() });
    return rcc.waitForFinished() && rcc.exitCode() == 0;
}

inline bool makeLibrary(const QString& path, quint32 version, quint16 langId, const QByteArray& name)
{
    return makeLibrary(path, { { QStringLiteral("LOC_LIBSETTINGS_"), record("LDLL", version, langId, name) } });
}

inline QString builtLibrary(const QString& language)
{
    return QStringLiteral(VELLUMIX_BIN_DIR "/vellumix.") + language;
}

// A folder standing in for the executable's: a TLocUtils made here looks there.
class ExeFolder
{
public:
    ExeFolder()
    {
        AppPaths::setExecutablePathForTesting(FDir.filePath(QStringLiteral("vellumix")));
        Utils.SetAppFileName(AppPaths::executablePath());
    }
    ~ExeFolder()
    {
        Utils.ResetResourceModules();
        AppPaths::setExecutablePathForTesting(QString());
    }
    QString path(const QString& name) const { return FDir.filePath(name); }
    bool copyLibrary(const QString& language)
    {
        return QFile::copy(builtLibrary(language), path(QStringLiteral("vellumix.") + language));
    }

    TLocUtils Utils;

private:
    QTemporaryDir FDir;
};
} // namespace LocFixture
