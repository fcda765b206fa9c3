#pragma once

#include <QRect>
#include <QString>

class IniFile;

// The ten values of the settings file with their defaults. One table of keys
// serves reading and writing, in the order the file lists them.
struct WindowSettings
{
    static const QString Section;

    int left = 100;
    int top = 100;
    int width = 720;
    int height = 480;
    QString languageFile;
    bool vellulook = true;
    bool stayontop = false;
    bool screensnap = true;
    bool timestamp = true;
    bool clipsleep = false;

    // Every key from the file; a missing or unreadable value keeps its default.
    static WindowSettings read(const IniFile& ini);
    // Every key into the file, in the table's order.
    void write(IniFile& ini) const;

    void setOuter(const QRect& outer);
};
