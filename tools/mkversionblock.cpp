// Build-time generator: turns a version description into the binary version
// block that the executable carries as a compiled-in resource.
#include "tools/VersionBlockWriter.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DESCRIPTION OUTPUT\n", argv[0]);
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    VersionBlockContent content;
    QString error;
    if (!VersionBlockWriter::parse(in.readAll(), &content, &error)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(error));
        return 1;
    }
    const QByteArray block = VersionBlockWriter::build(content);
    if (block.isEmpty()) {
        std::fprintf(stderr, "%s: the version block is too large\n", argv[1]);
        return 1;
    }
    QSaveFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly) || out.write(block) != block.size() || !out.commit()) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
