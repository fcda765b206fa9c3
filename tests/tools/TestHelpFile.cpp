#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTest>

namespace
{
const QString HelpFile = QStringLiteral(VELLUMIX_BIN_DIR "/vellumix.chm");
const QString SourceDir = QStringLiteral(VELLUMIX_HELP_SOURCE_DIR);

quint64 littleEndian(const QByteArray& data, qsizetype at, int width)
{
    quint64 value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = value << 8 | quint8(data[at + i]);
    }
    return value;
}

QStringList sourcePages()
{
    return QDir(SourceDir).entryList({ QStringLiteral("*.html") }, QDir::Files, QDir::Name);
}

QByteArray readSource(const QString& name)
{
    QFile file(QDir(SourceDir).filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Local pages a help source refers to, anchors cut off.
QSet<QString> linkedPages(const QByteArray& text)
{
    static const QRegularExpression link(
        QStringLiteral("(?:href|value)=\"([^\"#:]+\\.html)(?:#[^\"]*)?\""), QRegularExpression::CaseInsensitiveOption);
    QSet<QString> pages;
    for (const auto& match : link.globalMatch(QString::fromUtf8(text))) {
        pages.insert(match.captured(1));
    }
    return pages;
}
} // namespace

class TestHelpFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testCompiledHeader();
    void testReaderListsEveryPage();
    void testContentsAndLinks();
};

void TestHelpFile::testCompiledHeader()
{
    QFile file(HelpFile);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(HelpFile + QStringLiteral(" was not built")));
    const QByteArray header = file.read(0x60);
    QCOMPARE(header.size(), 0x60);
    QCOMPARE(header.left(4), QByteArray("ITSF"));
    QCOMPARE(littleEndian(header, 4, 4), quint64(3));
    QCOMPARE(littleEndian(header, 8, 4), quint64(0x60));
    // The second header section is the directory, which opens with its own signature.
    const quint64 directory = littleEndian(header, 0x48, 8);
    QVERIFY(directory + 4 <= quint64(file.size()));
    QVERIFY(file.seek(qint64(directory)));
    QCOMPARE(file.read(4), QByteArray("ITSP"));
}

void TestHelpFile::testReaderListsEveryPage()
{
    const QString sevenZip = QStandardPaths::findExecutable(QStringLiteral("7z"));
    QVERIFY2(!sevenZip.isEmpty(), "7z (p7zip-full) is needed to read the help file");
    QProcess reader;
    reader.start(sevenZip, { QStringLiteral("l"), QStringLiteral("-slt"), HelpFile });
    QVERIFY(reader.waitForFinished(60000));
    QCOMPARE(reader.exitCode(), 0);
    QSet<QString> listed;
    for (const QByteArray& line : reader.readAllStandardOutput().split('\n')) {
        if (line.startsWith("Path = ")) {
            listed.insert(QString::fromUtf8(line.mid(7).trimmed()));
        }
    }
    const QStringList pages = sourcePages();
    QVERIFY(pages.size() >= 8);
    for (const QString& page : pages) {
        QVERIFY2(listed.contains(page), qPrintable(page + QStringLiteral(" is missing from the help file")));
    }
}

void TestHelpFile::testContentsAndLinks()
{
    const QStringList pages = sourcePages();
    const QSet<QString> existing(pages.begin(), pages.end());
    const QSet<QString> contents = linkedPages(readSource(QStringLiteral("toc.hhc")));
    for (const QString& page : pages) {
        QVERIFY2(contents.contains(page), qPrintable(page + QStringLiteral(" has no entry in the contents")));
    }
    for (const QString& source : pages + QStringList { QStringLiteral("toc.hhc"), QStringLiteral("index.hhk") }) {
        for (const QString& target : linkedPages(readSource(source))) {
            QVERIFY2(existing.contains(target), qPrintable(source + QStringLiteral(" links to missing ") + target));
        }
    }
}

QTEST_GUILESS_MAIN(TestHelpFile)
#include "TestHelpFile.moc"
