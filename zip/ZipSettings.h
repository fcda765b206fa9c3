#pragma once

#include "zip/ZipTypes.h"

#include <QString>

// The component's settings, kept by the façade and handed to the worker as one
// snapshot before every operation.
struct TZipSettings
{
    static constexpr quint32 MaxPasswordReqCount = 15;

    int AddCompLevel = 9;
    double AddFrom = 0;
    AddOpts AddOptions;
    AddStoreExts AddStoreSuffixes = AddStoreExts::fromBits(0x7FBFFFF);
    CodePageOpts CodePage = CodePageOpts::cpAuto;
    bool ConfirmErase = true;
    QString DLLDirectory;
    // Normalised: ".abc:.def:".
    QString ExtAddStoreSuffixes;
    QString ExtrBaseDir;
    ExtrOpts ExtrOptions;
    TDeleteOpts HowToDelete = TDeleteOpts::htdAllowUndo;
    quint32 KeepFreeOnAllDisks = 0;
    quint32 KeepFreeOnDisk1 = 0;
    int MaxVolumeSize = 0;
    int MinFreeVolumeSize = 65536;
    // At most MaxPasswordReqCount.
    quint32 PasswordReqCount = 1;
    QString RootDir;
    SpanOpts SpanOptions;
    QString TempDir;
    bool Trace = false;
    bool Unattended = false;
    bool UseDirOnlyEntries = false;
    bool Verbose = false;
};
