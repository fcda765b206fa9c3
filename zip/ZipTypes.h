#pragma once

#include <QtGlobal>

#include <initializer_list>

// Argument types of the component's events and dialogs. They sit below the
// façade so that the core, which holds the event slots, can use them.

enum class ProgressType : quint8 {
    NewFile,
    ProgressUpdate,
    EndOfBatch,
    TotalFiles2Process,
    TotalSize2Process,
    NewExtra,
    ExtraUpdate,
};

enum class UnZipSkipTypes : quint8 {
    stOnFreshen,
    stNoOverwrite,
    stFileExists,
    stBadPassword,
    stNoEncryptionDLL,
    stCompressionUnknown,
    stUnknownZipHost,
    stZipFileFormatWrong,
    stGeneralExtractError,
};

enum ZipDiskStatusEnum : quint8 { zdsEmpty, zdsHasFiles, zdsPreviousDisk, zdsSameFileName, zdsNotEnoughSpace };
enum class TZipDiskAction : quint8 { zdaYesToAll, zdaOk, zdaErase, zdaReject, zdaCancel };

// The standard dialog buttons; the set keeps button i in bit i.
enum TMsgDlgBtn : quint8 {
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp
};

// Modal results of the dialog buttons.
enum TModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
    mrNoToAll = 9,
    mrYesToAll = 10,
};

template <typename Enum> class TSmallSet
{
public:
    constexpr TSmallSet() = default;
    constexpr TSmallSet(std::initializer_list<Enum> members)
    {
        for (Enum member : members)
            m_bits |= bit(member);
    }
    static constexpr TSmallSet fromBits(quint32 bits)
    {
        TSmallSet set;
        set.m_bits = bits;
        return set;
    }

    constexpr bool contains(Enum member) const { return (m_bits & bit(member)) != 0; }
    constexpr void insert(Enum member) { m_bits |= bit(member); }
    constexpr void remove(Enum member) { m_bits &= ~bit(member); }
    constexpr quint32 bits() const { return m_bits; }
    constexpr bool operator==(const TSmallSet&) const = default;

private:
    static constexpr quint32 bit(Enum member) { return quint32(1) << quint32(member); }
    quint32 m_bits = 0;
};

using TMsgDlgButtons = TSmallSet<TMsgDlgBtn>;
using TZipDiskStatus = TSmallSet<ZipDiskStatusEnum>;

// The component's option sets; member order gives the bit number.
enum AddOptsEnum : quint8 {
    AddDirNames,
    AddRecurseDirs,
    AddMove,
    AddFreshen,
    AddUpdate,
    AddZipTime,
    AddForceDOS,
    AddHiddenFiles,
    AddArchiveOnly,
    AddResetArchive,
    AddEncrypt,
    AddSeparateDirs,
    AddVolume,
    AddFromDate,
    AddSafe,
    AddForceDest,
    AddDiskSpan,
    AddDiskSpanErase
};
using AddOpts = TSmallSet<AddOptsEnum>;

enum AddStoreSuffixEnum : quint8 {
    assGIF,
    assPNG,
    assZ,
    assZIP,
    assZOO,
    assARC,
    assLZH,
    assARJ,
    assTAZ,
    assTGZ,
    assLHA,
    assRAR,
    assACE,
    assCAB,
    assGZ,
    assGZIP,
    assJAR,
    assEXE,
    assEXT,
    assJPG,
    assJPEG,
    ass7Zp,
    assMP3,
    assWMV,
    assWMA,
    assDVR,
    assAVI
};
using AddStoreExts = TSmallSet<AddStoreSuffixEnum>;

enum ExtrOptsEnum : quint8 { ExtrDirNames, ExtrOverWrite, ExtrFreshen, ExtrUpdate, ExtrTest, ExtrForceDirs };
using ExtrOpts = TSmallSet<ExtrOptsEnum>;

enum SpanOptsEnum : quint8 { spNoVolumeName, spCompatName, spWipeFiles, spTryFormat };
using SpanOpts = TSmallSet<SpanOptsEnum>;

enum TSFXOption : quint8 {
    soAskCmdLine,
    soAskFiles,
    soHideOverWriteBox,
    soAutoRun,
    soNoSuccessMsg,
    soExpandVariables,
    soInitiallyHideFiles,
    soForceHideFiles,
    soCheckAutoRunFileName,
    soCanBeCancelled,
    soDetached,
    soCreateEmptyDirs
};
using TSFXOptions = TSmallSet<TSFXOption>;

enum class CodePageOpts : quint8 { cpAuto, cpNone, cpOEM };
enum class TDeleteOpts : quint8 { htdFinal, htdAllowUndo };
enum class OvrOpts : quint8 { OvrAlways, OvrNever, OvrConfirm };
