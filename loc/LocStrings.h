#pragma once

#include <QString>

// Identifiers of the string table; loc/translations/strings.tsv holds their English texts.
enum LocStringId : int {
    sIniLoadFailed = 65001,
    sIniSaveFailed = 65002,
    sUnableToWrite = 65003, // %1: the file
    sItemCannotBeOpenedBefore = 65004,
    sItemCannotBeOpenedAfter = 65005,
    sDocumentationNotOpened = 65006,
    sUnknownError = 65007,
    sNamelessWindow = 65008, // %1: the window handle
    sFilterBitmaps = 65009,
    sFilterAllFiles = 65010,
    sTextExceedsMemoCapacity = 65011,
    sArchiveKept = 65012, // %1: the archive, %2: the copy kept
};

// The text of id in the current language.
QString LoadStr(int id);
