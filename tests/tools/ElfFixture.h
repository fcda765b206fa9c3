#pragma once

#include <QByteArray>
#include <QList>

// Builds a minimal ELF file whose sections are named and filled by the test:
// the file header, the section contents, then the section header table.
struct ElfFixture
{
    struct Section
    {
        QByteArray name;
        QByteArray data;
        quint32 type = 1; // program bits
    };

    bool wide = true;
    bool bigEndian = false;
    QList<Section> sections;

    // Offsets of fields the hostile tests overwrite.
    qsizetype tableOffsetField() const { return wide ? 0x28 : 0x20; }
    qsizetype entrySizeField() const { return wide ? 0x3a : 0x2e; }
    qsizetype countField() const { return wide ? 0x3c : 0x30; }
    qsizetype namesIndexField() const { return wide ? 0x3e : 0x32; }
    qsizetype entrySize() const { return wide ? 64 : 40; }
    // Offset of a field inside section header `index`, once build() has run.
    qsizetype sectionField(int index, const char* field) const
    {
        const QByteArray f(field);
        const qsizetype base = tableOffset + index * entrySize();
        if (f == "name") {
            return base;
        }
        if (f == "type") {
            return base + 4;
        }
        if (f == "offset") {
            return base + (wide ? 0x18 : 0x10);
        }
        return base + (wide ? 0x20 : 0x14); // size
    }

    qsizetype tableOffset = 0;

    QByteArray build()
    {
        QList<Section> all = sections;
        QByteArray names(1, '\0');
        QList<qsizetype> nameOffsets;
        all.append({ ".shstrtab", {}, 3 });
        for (const Section& s : all) {
            nameOffsets.append(names.size());
            names += s.name + '\0';
        }
        all.last().data = names;

        QByteArray file(wide ? 64 : 52, '\0');
        QList<qsizetype> offsets;
        for (const Section& s : all) {
            offsets.append(file.size());
            file += s.data;
        }
        while (file.size() % 8 != 0) {
            file += '\0';
        }
        tableOffset = file.size();
        file += QByteArray((all.size() + 1) * entrySize(), '\0'); // entry 0 stays the null section
        for (qsizetype i = 0; i < all.size(); ++i) {
            const qsizetype base = tableOffset + (i + 1) * entrySize();
            put(file, base, 4, quint64(nameOffsets[i]));
            put(file, base + 4, 4, all[i].type);
            put(file, base + (wide ? 0x18 : 0x10), wide ? 8 : 4, quint64(offsets[i]));
            put(file, base + (wide ? 0x20 : 0x14), wide ? 8 : 4, quint64(all[i].data.size()));
        }
        file.replace(0, 7,
            QByteArray("\x7f"
                       "ELF")
                + char(wide ? 2 : 1) + char(bigEndian ? 2 : 1) + char(1));
        put(file, tableOffsetField(), wide ? 8 : 4, quint64(tableOffset));
        put(file, entrySizeField(), 2, quint64(entrySize()));
        put(file, countField(), 2, quint64(all.size() + 1));
        put(file, namesIndexField(), 2, quint64(all.size()));
        return file;
    }

    void put(QByteArray& file, qsizetype at, int width, quint64 value) const
    {
        for (int i = 0; i < width; ++i) {
            const int index = bigEndian ? width - 1 - i : i;
            file[at + index] = char((value >> (8 * i)) & 0xff);
        }
    }
};
