// Build tool: turns the window description, the string table and a translation
// table into the resources of one language (settings record, TFMAIN, STRINGS).
//   vellumix_locgen english --version V --strings strings.tsv --out DIR
//   vellumix_locgen library --version V --ui main.ui --strings strings.tsv --table DEU.tsv --out DIR
// A text of the description or the string table that the table does not translate
// fails the build, each one named with its place.

#include "loc/TableText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QSaveFile>
#include <QStringList>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtEndian>

#include <cstdio>

namespace
{
QStringList errors;

void fail(const QString& message)
{
    errors << message;
}

QString escape(const QString& text)
{
    QString result = text;
    result.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    result.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    result.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return result;
}

struct Table
{
    QString path;
    QMap<QString, QString> meta;
    QHash<QString, QString> rows;
    QList<QPair<QString, QString>> ordered;
};

// Lines "first<TAB>second"; '#' starts a comment line, '@key' a setting.
bool readTable(const QString& path, Table& table)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1: error: cannot read the table").arg(path));
        return false;
    }
    table.path = path;
    int lineNumber = 0;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        ++lineNumber;
        QString line = QString::fromUtf8(raw);
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab <= 0) {
            fail(QStringLiteral("%1:%2: error: expected two columns separated by a tab").arg(path).arg(lineNumber));
            continue;
        }
        const QString key = unescapeTableField(line.left(tab));
        const QString value = unescapeTableField(line.mid(tab + 1));
        if (key.startsWith(QLatin1Char('@'))) {
            table.meta.insert(key.mid(1), value);
        } else if (table.rows.contains(key)) {
            fail(QStringLiteral("%1:%2: error: \"%3\" is translated twice").arg(path).arg(lineNumber).arg(key));
        } else {
            table.rows.insert(key, value);
            table.ordered.append({ key, value });
        }
    }
    return true;
}

int accelerators(const QString& text)
{
    int count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
                ++i;
            } else {
                ++count;
            }
        }
    }
    return count;
}

// The translation of english, checked for what the program relies on.
QString translate(const Table& table, const QString& english, const QString& where)
{
    const auto it = table.rows.constFind(english);
    if (it == table.rows.constEnd()) {
        fail(QStringLiteral("%1: error: no translation for \"%2\" (%3)").arg(table.path, english, where));
        return english;
    }
    if (accelerators(english) != accelerators(*it)) {
        fail(QStringLiteral("%1: error: \"%2\" and its translation \"%3\" differ in accelerator keys (%4)")
                 .arg(table.path, english, *it, where));
    }
    for (const QString& placeholder : { QStringLiteral("%1"), QStringLiteral("%2") }) {
        if (english.contains(placeholder) != it->contains(placeholder)) {
            fail(QStringLiteral("%1: error: the translation of \"%2\" must keep %3 (%4)")
                     .arg(table.path, english, placeholder, where));
        }
    }
    return *it;
}

QByteArray settingsRecord(const char* magic, quint32 version, quint16 langId, const QString& name)
{
    QByteArray record(magic, 4);
    const auto put16 = [&record](quint16 v) {
        uchar b[2];
        qToLittleEndian(v, b);
        record.append(reinterpret_cast<const char*>(b), 2);
    };
    const auto put32 = [&record](quint32 v) {
        uchar b[4];
        qToLittleEndian(v, b);
        record.append(reinterpret_cast<const char*>(b), 4);
    };
    put32(version);
    put16(langId);
    const QByteArray narrow = name.toUtf8();
    put16(static_cast<quint16>(narrow.size()));
    record.append(narrow);
    put16(static_cast<quint16>(name.size()));
    for (const QChar c : name) {
        put16(c.unicode());
    }
    // The tail the executable's own records carry: four uninterpreted bytes, a zero extra value, one zero byte.
    record.append("\x06\x00\xBA\xAB", 4);
    put32(0);
    record.append('\0');
    return record;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        fail(QStringLiteral("%1: error: cannot write").arg(path));
        return false;
    }
    return true;
}

QByteArray stringTable(const Table& strings, const Table* translation)
{
    QByteArray out;
    for (const auto& [id, english] : strings.ordered) {
        const QString text = translation
            ? translate(*translation, english, QStringLiteral("string %1 of %2").arg(id, strings.path))
            : english;
        out += (id + QLatin1Char('\t') + escape(text) + QLatin1Char('\n')).toUtf8();
    }
    return out;
}

QByteArray translatedDescription(const QString& uiPath, const Table& table)
{
    QFile file(uiPath);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1: error: cannot read the window description").arg(uiPath));
        return QByteArray();
    }
    QXmlStreamReader reader(&file);
    QByteArray out;
    QXmlStreamWriter writer(&out);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("string")
            && reader.attributes().value(QLatin1String("notr")) != QLatin1String("true")) {
            const qint64 line = reader.lineNumber();
            writer.writeCurrentToken(reader);
            const QString english = reader.readElementText();
            if (!english.isEmpty()) {
                writer.writeCharacters(translate(table, english, QStringLiteral("%1:%2").arg(uiPath).arg(line)));
            }
            writer.writeEndElement();
        } else if (!reader.hasError()) {
            writer.writeCurrentToken(reader);
        }
    }
    if (reader.hasError()) {
        fail(QStringLiteral("%1:%2: error: %3").arg(uiPath).arg(reader.lineNumber()).arg(reader.errorString()));
    }
    return out;
}

int finish()
{
    for (const QString& error : std::as_const(errors)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
    }
    return errors.isEmpty() ? 0 : 1;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QMap<QString, QString> options;
    for (qsizetype i = 2; i + 1 < args.size(); i += 2) {
        options.insert(args[i], args[i + 1]);
    }
    const QString mode = args.value(1);
    bool versionOk = false;
    const quint32 version = options.value(QStringLiteral("--version")).toUInt(&versionOk);
    const QDir out(options.value(QStringLiteral("--out")));
    if ((mode != QLatin1String("english") && mode != QLatin1String("library")) || !versionOk || out.path().isEmpty()) {
        std::fprintf(
            stderr, "usage: vellumix_locgen english|library --version V [--ui F --table F] --strings F --out DIR\n");
        return 2;
    }
    QDir().mkpath(out.path());
    Table strings;
    readTable(options.value(QStringLiteral("--strings")), strings);

    if (mode == QLatin1String("english")) {
        const QString english = QStringLiteral("English");
        writeFile(out.filePath(QStringLiteral("LOC_EXESETTINGS_")), settingsRecord("LEXE", version, 9, english));
        writeFile(out.filePath(QStringLiteral("LOC_LIBSETTINGS_")), settingsRecord("LDLL", version, 9, english));
        writeFile(out.filePath(QStringLiteral("STRINGS")), stringTable(strings, nullptr));
        return finish();
    }

    Table table;
    readTable(options.value(QStringLiteral("--table")), table);
    bool idOk = false;
    const uint langId = table.meta.value(QStringLiteral("langid")).toUInt(&idOk);
    const QString name = table.meta.value(QStringLiteral("name"));
    if (!idOk || langId > 0xFFFF || name.isEmpty()) {
        fail(QStringLiteral("%1: error: the table needs \"@langid\" and \"@name\" lines").arg(table.path));
    }
    const QByteArray description = translatedDescription(options.value(QStringLiteral("--ui")), table);
    const QByteArray texts = stringTable(strings, &table);
    if (!errors.isEmpty()) {
        return finish();
    }
    writeFile(out.filePath(QStringLiteral("LOC_LIBSETTINGS_")),
        settingsRecord("LDLL", version, static_cast<quint16>(langId), name));
    writeFile(out.filePath(QStringLiteral("TFMAIN")), description);
    writeFile(out.filePath(QStringLiteral("STRINGS")), texts);
    writeFile(out.filePath(QStringLiteral("library.qrc")),
        "<RCC>\n  <qresource prefix=\"/\">\n    <file>LOC_LIBSETTINGS_</file>\n    <file>TFMAIN</file>\n"
        "    <file>STRINGS</file>\n  </qresource>\n</RCC>\n");
    return finish();
}
