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
    sArchiveNotLoaded = 65013, // %1: the archive; followed by one line per problem
    sArchiveUnreadable = 65014, // %1: the reason
    sEntryTooLarge = 65015, // %1: the entry, %2: the limit in MiB
    sEntryUnreadable = 65016, // %1: the entry, %2: the reason
    sEntryCutAtZero = 65017, // %1: the entry
    sEntryWindows1252 = 65018, // %1: the entry
    sEntryLineBreaks = 65019, // %1: the entry
    sArchiveCopyKept = 65020, // %1: the copy
    sArchiveCopyNotKept = 65021, // %1: the copy that could not be made
    sArchiveNotAFile = 65022, // %1: the archive
    sSessionNotStored = 65023, // %1: the archive, %2: the reason
    sQuitAnywayKept = 65024, // %1: the recovery file
    sQuitAnywayLost = 65025,
    sRecoveryNotWritten = 65026, // %1: the reason
    sRecoveryKeptAside = 65027, // %1: the file, %2: the name it was kept as
    sCannotKeepCopy = 65028, // %1: the archive, %2: the copy
    sCannotWrite = 65029, // %1: the file, %2: the reason
    sNotABitmap = 65030, // the reason a picture could not be written
    sClipboardTooLarge = 65031, // %1: the limit in MiB
    sRecoveryDamaged = 65032, // %1: the recovery file, %2: the name it was kept as
    sRecoveryUnreadable = 65033, // %1: the recovery file, %2: the reason, %3: the name it was kept as
    sRecoveryUnreadableLeft = 65034, // %1: the recovery file, %2: the reason
    sRecoveryLeftInPlace = 65035, // the reason changes are not recorded
    sNotARegularFile = 65036, // the reason a file is not read
    sArchiveInUse = 65037, // %1: the archive
    sArchiveLockUnknown = 65038, // %1: the archive, %2: the lock file, %3: the reason
    sReplaceUnloaded = 65039, // %1: the archive, %2: its copy, %3: the recovery file
};

// The text of id in the current language.
QString LoadStr(int id);
