/* Records exchanged between the zip worker and the zip engine library (libZipEngine179.so).
 *
 * Fields that hold an address are pointer-sized; every other field is 32 bits wide. Flags are
 * -1 for true and 0 for false. Texts are zero-terminated 8-bit strings owned by the caller and
 * valid for the length of one call. A 32-bit build has the classic offsets of the engine
 * interface (asserted below); the 64-bit offsets of the fields the engine reads are:
 *
 * ZipCommandRecord, 296 bytes            UnzipCommandRecord, 200 bytes
 *     0 Handle          8 Caller             0 Handle          8 Caller
 *    16 Version        24 Callback          16 Version        24 Callback
 *    40 Password       48 StoreSuffixes     48 Password       56 Test
 *    56 Encrypt        88 Level             92 SpecCount      96 ArchiveName
 *   148 FileSpecCount 152 ArchiveName      104 ExtractSpecs  116 OutputToMemory
 *   160 TempDir       168 Comment          120 OutputMemory  128 OutputSize
 *   184 FileSpecs     228 InputFromMemory  148 PasswordRequests
 *   232 InputMemory   240 InputSize        192 Check
 *   244 Attributes    248 DosDateTime
 *   256 CodePage      288 Check
 *
 * FileSpecRecord, 72 bytes: 0 Spec, 16 Password, 24 Encrypt, 28 Recurse.
 * ExtractSpecRecord, 40 bytes: 0 Spec.
 * CallbackRecord, 560 bytes: 16 IsZipOperation, 20 Action, 24 Arg1, 32 Text, 40 Item.SizeLow
 * (and the reply area), 48 Item.WrittenLow, 56 Item.Text2, 64 Item.Arg3, 68 Item.Arg4.
 */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZE_RECORD_VERSION 179
#define ZE_RECORD_CHECK 7
#define ZE_TRUE (-1)
#define ZE_FALSE 0
#define ZE_REPLY_SIZE 513

/* Results a callback writes to CallbackRecord.Action. */
#define ZE_CB_ACCEPT (-1)
#define ZE_CB_SKIP (-2)
#define ZE_CB_SKIP_ALL (-3)

/* Callback actions (low 6 bits of CallbackRecord.Action). */
enum ZE_Action {
    ZA_Tick = 0,
    ZA_NewItem = 1,
    ZA_Progress = 2,
    ZA_EndOfBatch = 3,
    ZA_Message = 4,
    ZA_TotalFiles = 5,
    ZA_TotalSize = 6,
    ZA_NewName = 7,
    ZA_Password = 8,
    ZA_CrcError = 9,
    ZA_Overwrite = 10,
    ZA_Skipped = 11,
    ZA_Comment = 12,
    ZA_OutputMemory = 13,
    ZA_ExtraData = 14,
    ZA_NewSecondaryItem = 15,
    ZA_SecondaryProgress = 16,
    ZA_ExtractName = 17,
    ZA_OperationKey = 18
};

/* Negative statuses of ZE_ZipExec and ZE_UnzExec. */
enum ZE_Status {
    ZS_Cancelled = -1,
    ZS_Aborted = -2,
    ZS_HandlerException = -3,
    ZS_NoMemory = -4,
    ZS_InvalidRecord = -5,
    /* An exception reached the entry point, the caller's callback's included. */
    ZS_Exception = -7
};

/* Skip kinds reported through action 11 (offset Item.Arg3 holds kind + 1). */
enum ZE_SkipKind {
    ZK_OnFreshen = 0,
    ZK_NoOverwrite = 1,
    ZK_FileExists = 2,
    ZK_BadPassword = 3,
    ZK_NoEncryption = 4,
    ZK_CompressionUnknown = 5,
    ZK_UnknownZipHost = 6,
    ZK_ZipFileFormatWrong = 7,
    ZK_GeneralExtractError = 8
};

/* Error codes the engine reports with action 4 (message) and action 11 (skipped). */
enum ZE_ErrorCode {
    ZEC_None = 0,
    ZEC_Open = 11,
    ZEC_Format = 12,
    ZEC_Read = 13,
    ZEC_Write = 14,
    ZEC_TempFile = 15,
    ZEC_NoPassword = 16,
    ZEC_BadPassword = 17,
    ZEC_Crc = 18,
    ZEC_Method = 19,
    ZEC_NoMatch = 20,
    ZEC_Name = 21,
    ZEC_Size = 22
};

typedef struct CallbackRecord CallbackRecord;

/* The engine calls back with the caller reference of the command record. A result of 0 goes on;
 * any other result stops the command (1 = cancelled by the user). */
typedef int32_t (*ZE_Callback)(void* caller, CallbackRecord* record);

typedef struct FileSpecRecord
{
    const char* Spec;
    int32_t Reserved4;
    int32_t Reserved8;
    const char* Password;
    int32_t Encrypt;
    int32_t Recurse;
    int32_t Reserved24[10];
} FileSpecRecord;

typedef struct ExtractSpecRecord
{
    const char* Spec;
    int32_t Reserved4[7];
} ExtractSpecRecord;

typedef struct ZipCommandRecord
{
    void* Handle;
    void* Caller;
    int32_t Version;
    ZE_Callback Callback;
    int32_t Trace;
    const char* Password;
    const char* StoreSuffixes;
    int32_t Encrypt;
    int32_t HiddenFiles;
    int32_t Volume;
    int32_t Reserved40;
    int32_t NoSeparateDirs;
    int32_t FromDate;
    int32_t Verbose;
    int32_t Reserved56;
    int32_t Level;
    int32_t Reserved64;
    int32_t Reserved68;
    int32_t NoDirNames;
    int32_t RecurseDirs;
    int32_t Reserved80;
    int32_t NotSafe;
    int32_t ForceDos;
    int32_t Move;
    int32_t Reserved96;
    int32_t Update;
    int32_t Freshen;
    int32_t Reserved108;
    int32_t ZipTime;
    uint32_t FromDateValue;
    int32_t FileSpecCount;
    const char* ArchiveName;
    const char* TempDir;
    const char* Comment;
    int32_t ArchiveOnly;
    int32_t ResetArchive;
    FileSpecRecord* FileSpecs;
    int32_t Reserved148;
    int32_t ExcludeCount;
    const char** ExcludeSpecs;
    int32_t OutputToMemory;
    void* OutputMemory;
    uint32_t OutputSize;
    int32_t InputFromMemory;
    const void* InputMemory;
    uint32_t InputSize;
    uint32_t Attributes;
    uint32_t DosDateTime;
    int32_t HowToDelete;
    int32_t CodePage;
    int32_t Reserved200;
    int32_t Version2;
    const char* RootDir;
    int32_t Reserved212;
    int32_t Reserved216;
    int32_t Check;
} ZipCommandRecord;

typedef struct UnzipCommandRecord
{
    void* Handle;
    void* Caller;
    int32_t Version;
    ZE_Callback Callback;
    int32_t Trace;
    int32_t Reserved20;
    int32_t Reserved24;
    const char* Password;
    int32_t Test;
    int32_t Reserved36;
    int32_t Reserved40;
    int32_t Reserved44;
    int32_t Verbose;
    int32_t Update;
    int32_t Freshen;
    int32_t DirNames;
    int32_t OverWrite;
    int32_t SpecCount;
    const char* ArchiveName;
    ExtractSpecRecord* ExtractSpecs;
    int32_t Reserved80;
    int32_t OutputToMemory;
    void* OutputMemory;
    uint32_t OutputSize;
    int32_t InputFromMemory;
    const void* InputMemory;
    uint32_t InputSize;
    int32_t PasswordRequests;
    const char* ExtractDir;
    int32_t Reserved116[8];
    int32_t Check;
} UnzipCommandRecord;

/* What the engine tells about the current item. The reply area overlays it: a callback that
 * answers with a text or data writes it to Reply, except for action 13, whose memory address
 * goes to Item.Text2. */
typedef struct CallbackItem
{
    uint32_t SizeLow;
    uint32_t SizeHigh;
    uint32_t WrittenLow;
    uint32_t WrittenHigh;
    const void* Text2;
    int32_t Arg3;
    int32_t Arg4;
} CallbackItem;

struct CallbackRecord
{
    void* Handle;
    void* Caller;
    int32_t IsZipOperation;
    int32_t Action;
    int32_t Arg1;
    const char* Text;
    union {
        CallbackItem Item;
        char Reply[ZE_REPLY_SIZE];
    } Data;
};

/* Entry points, plain C calling convention. */
typedef int32_t (*ZE_ZipExecFunc)(ZipCommandRecord* record);
typedef int32_t (*ZE_UnzExecFunc)(UnzipCommandRecord* record);
typedef int32_t (*ZE_VersionFunc)(void);
typedef int32_t (*ZE_PrivVersionFunc)(void);
typedef int32_t (*ZE_AbortFunc)(int32_t operationKey);
typedef const char* (*ZE_PathFunc)(void);

#ifdef __cplusplus
}
#define ZE_STATIC_ASSERT(cond) static_assert(cond, #cond)
#else
#define ZE_STATIC_ASSERT(cond) _Static_assert(cond, #cond)
#endif

#define ZE_AT(type, field, p32, p64) ZE_STATIC_ASSERT(offsetof(type, field) == (sizeof(void*) == 8 ? (p64) : (p32)))

ZE_STATIC_ASSERT(sizeof(void*) == 4 || sizeof(void*) == 8);
ZE_STATIC_ASSERT(sizeof(ZipCommandRecord) == (sizeof(void*) == 8 ? 296 : 224));
ZE_STATIC_ASSERT(sizeof(UnzipCommandRecord) == (sizeof(void*) == 8 ? 200 : 152));
ZE_STATIC_ASSERT(sizeof(FileSpecRecord) == (sizeof(void*) == 8 ? 72 : 64));
ZE_STATIC_ASSERT(sizeof(ExtractSpecRecord) == (sizeof(void*) == 8 ? 40 : 32));
ZE_STATIC_ASSERT(sizeof(CallbackRecord) == (sizeof(void*) == 8 ? 560 : 540));

ZE_AT(ZipCommandRecord, Caller, 4, 8);
ZE_AT(ZipCommandRecord, Version, 8, 16);
ZE_AT(ZipCommandRecord, Callback, 12, 24);
ZE_AT(ZipCommandRecord, Trace, 16, 32);
ZE_AT(ZipCommandRecord, Password, 20, 40);
ZE_AT(ZipCommandRecord, StoreSuffixes, 24, 48);
ZE_AT(ZipCommandRecord, Encrypt, 28, 56);
ZE_AT(ZipCommandRecord, Reserved56, 56, 84);
ZE_AT(ZipCommandRecord, Level, 60, 88);
ZE_AT(ZipCommandRecord, FromDateValue, 116, 144);
ZE_AT(ZipCommandRecord, FileSpecCount, 120, 148);
ZE_AT(ZipCommandRecord, ArchiveName, 124, 152);
ZE_AT(ZipCommandRecord, TempDir, 128, 160);
ZE_AT(ZipCommandRecord, Comment, 132, 168);
ZE_AT(ZipCommandRecord, ArchiveOnly, 136, 176);
ZE_AT(ZipCommandRecord, FileSpecs, 144, 184);
ZE_AT(ZipCommandRecord, ExcludeCount, 152, 196);
ZE_AT(ZipCommandRecord, ExcludeSpecs, 156, 200);
ZE_AT(ZipCommandRecord, OutputToMemory, 160, 208);
ZE_AT(ZipCommandRecord, OutputMemory, 164, 216);
ZE_AT(ZipCommandRecord, OutputSize, 168, 224);
ZE_AT(ZipCommandRecord, InputFromMemory, 172, 228);
ZE_AT(ZipCommandRecord, InputMemory, 176, 232);
ZE_AT(ZipCommandRecord, InputSize, 180, 240);
ZE_AT(ZipCommandRecord, Attributes, 184, 244);
ZE_AT(ZipCommandRecord, DosDateTime, 188, 248);
ZE_AT(ZipCommandRecord, HowToDelete, 192, 252);
ZE_AT(ZipCommandRecord, CodePage, 196, 256);
ZE_AT(ZipCommandRecord, Version2, 204, 264);
ZE_AT(ZipCommandRecord, RootDir, 208, 272);
ZE_AT(ZipCommandRecord, Check, 220, 288);

ZE_AT(FileSpecRecord, Password, 12, 16);
ZE_AT(FileSpecRecord, Encrypt, 16, 24);
ZE_AT(FileSpecRecord, Recurse, 20, 28);

ZE_AT(UnzipCommandRecord, Version, 8, 16);
ZE_AT(UnzipCommandRecord, Callback, 12, 24);
ZE_AT(UnzipCommandRecord, Trace, 16, 32);
ZE_AT(UnzipCommandRecord, Password, 28, 48);
ZE_AT(UnzipCommandRecord, Test, 32, 56);
ZE_AT(UnzipCommandRecord, Reserved44, 44, 68);
ZE_AT(UnzipCommandRecord, Verbose, 48, 72);
ZE_AT(UnzipCommandRecord, OverWrite, 64, 88);
ZE_AT(UnzipCommandRecord, SpecCount, 68, 92);
ZE_AT(UnzipCommandRecord, ArchiveName, 72, 96);
ZE_AT(UnzipCommandRecord, ExtractSpecs, 76, 104);
ZE_AT(UnzipCommandRecord, OutputToMemory, 84, 116);
ZE_AT(UnzipCommandRecord, OutputMemory, 88, 120);
ZE_AT(UnzipCommandRecord, OutputSize, 92, 128);
ZE_AT(UnzipCommandRecord, InputFromMemory, 96, 132);
ZE_AT(UnzipCommandRecord, InputMemory, 100, 136);
ZE_AT(UnzipCommandRecord, InputSize, 104, 144);
ZE_AT(UnzipCommandRecord, PasswordRequests, 108, 148);
ZE_AT(UnzipCommandRecord, ExtractDir, 112, 152);
ZE_AT(UnzipCommandRecord, Check, 148, 192);

ZE_AT(CallbackRecord, Caller, 4, 8);
ZE_AT(CallbackRecord, IsZipOperation, 8, 16);
ZE_AT(CallbackRecord, Action, 12, 20);
ZE_AT(CallbackRecord, Arg1, 16, 24);
ZE_AT(CallbackRecord, Text, 20, 32);
ZE_AT(CallbackRecord, Data.Item.SizeLow, 24, 40);
ZE_AT(CallbackRecord, Data.Reply, 24, 40);
ZE_AT(CallbackRecord, Data.Item.WrittenLow, 32, 48);
ZE_AT(CallbackRecord, Data.Item.Text2, 40, 56);
ZE_AT(CallbackRecord, Data.Item.Arg3, 44, 64);
ZE_AT(CallbackRecord, Data.Item.Arg4, 48, 68);

#undef ZE_AT
