#include "engine/EngineCommands.h"
#include "engine/EngineNames.h"

#include <libdeflate.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace ZipEngine
{

namespace
{

constexpr int MaxPasswordRequests = 15;
constexpr size_t ChunkSize = 1 << 20;
constexpr uint64_t PkwareHeaderSize = 12;
// Deflate cannot expand data by more than about 1032 to 1.
constexpr uint64_t MaxDeflateRatio = 1032;

struct ArchiveCloser
{
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

struct EntryCloser
{
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

enum class ReadResult { Ok, WrongPassword, CrcMismatch, DataError, Stopped };

struct EntryReader
{
    zip_t* archive;
    zip_uint64_t index;
    const zip_stat_t& stat;
    EngineChannel& channel;
    char* output;
    uint32_t foundCrc = 0;
    std::string errorText;

    ReadResult read(const char* password)
    {
        // A whole deflated entry into memory: libdeflate inflates it in one call at a good deal more
        // than zlib's speed; libzip still decrypts it.
        const bool whole = output && stat.size > 0 && stat.comp_method == ZIP_CM_DEFLATE;
        const zip_flags_t flags = whole ? ZIP_FL_COMPRESSED : 0;
        std::unique_ptr<zip_file_t, EntryCloser> file(password
                ? zip_fopen_index_encrypted(archive, index, flags, password)
                : zip_fopen_index(archive, index, flags));
        if (!file) {
            int code = zip_error_code_zip(zip_get_error(archive));
            if (code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_NOPASSWD)
                return ReadResult::WrongPassword;
            errorText = zip_strerror(archive);
            return ReadResult::DataError;
        }
        if (whole)
            return inflateWhole(file.get());
        const uint64_t size = stat.size;
        std::vector<char> scratch;
        uint32_t crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
        uint64_t done = 0;
        for (;;) {
            char* target;
            size_t want;
            if (output && done < size) {
                target = output + done;
                want = static_cast<size_t>(std::min<uint64_t>(size - done, ChunkSize));
            } else {
                scratch.resize(output ? 1 : ChunkSize);
                target = scratch.data();
                want = scratch.size();
            }
            zip_int64_t got = zip_fread(file.get(), target, want);
            if (got < 0) {
                foundCrc = crc;
                int code = zip_error_code_zip(zip_file_get_error(file.get()));
                if (code == ZIP_ER_CRC && done == size)
                    return ReadResult::CrcMismatch;
                errorText = zip_file_strerror(file.get());
                return code == ZIP_ER_WRONGPASSWD ? ReadResult::WrongPassword : ReadResult::DataError;
            }
            if (got == 0)
                break;
            if (done + static_cast<uint64_t>(got) > size) {
                errorText = "The data is longer than the directory says";
                return ReadResult::DataError;
            }
            crc = static_cast<uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(target), static_cast<uInt>(got)));
            done += static_cast<uint64_t>(got);
            if (!channel.progress(static_cast<uint64_t>(got), 0))
                return ReadResult::Stopped;
        }
        foundCrc = crc;
        if (done != size) {
            errorText = "The data is shorter than the directory says";
            return ReadResult::DataError;
        }
        return crc == stat.crc ? ReadResult::Ok : ReadResult::CrcMismatch;
    }

    ReadResult inflateWhole(zip_file_t* file)
    {
        // The deflated bytes, decrypted; the directory's compressed size bounds them.
        std::vector<char> packed(static_cast<size_t>(std::min<uint64_t>(stat.comp_size, UINT32_MAX)) + 1);
        const auto size = static_cast<size_t>(stat.size);
        size_t have = 0;
        // Progress while reading is told as the share of the entry it stands for, the rest once inflated.
        uint64_t reported = 0;
        for (;;) {
            zip_int64_t got = zip_fread(file, packed.data() + have, std::min(packed.size() - have, ChunkSize));
            if (got < 0) {
                errorText = zip_file_strerror(file);
                int code = zip_error_code_zip(zip_file_get_error(file));
                return code == ZIP_ER_WRONGPASSWD ? ReadResult::WrongPassword : ReadResult::DataError;
            }
            if (got == 0)
                break;
            have += static_cast<size_t>(got);
            if (have == packed.size()) {
                errorText = "The data is longer than the directory says";
                return ReadResult::DataError;
            }
            const uint64_t share = std::min<uint64_t>(size - 1, uint64_t(have) * size / (packed.size() - 1));
            if (share > reported && !channel.progress(share - reported, 0))
                return ReadResult::Stopped;
            reported = std::max(reported, share);
        }
        std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater(
            libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
        if (!inflater) {
            errorText = "No memory to inflate the entry";
            return ReadResult::DataError;
        }
        size_t produced = 0;
        switch (libdeflate_deflate_decompress(inflater.get(), packed.data(), have, output, size, &produced)) {
        case LIBDEFLATE_SUCCESS:
            break;
        case LIBDEFLATE_INSUFFICIENT_SPACE:
            errorText = "The data is longer than the directory says";
            return ReadResult::DataError;
        default:
            errorText = "The deflated data is damaged";
            return ReadResult::DataError;
        }
        foundCrc = libdeflate_crc32(0, output, produced);
        if (produced != size) {
            errorText = "The data is shorter than the directory says";
            return ReadResult::DataError;
        }
        if (!channel.progress(size - reported, 0))
            return ReadResult::Stopped;
        return foundCrc == stat.crc ? ReadResult::Ok : ReadResult::CrcMismatch;
    }
};

bool plausibleSize(const zip_stat_t& stat)
{
    if (stat.size > UINT32_MAX)
        return false;
    uint64_t packed = stat.comp_size;
    if (stat.encryption_method == ZIP_EM_TRAD_PKWARE)
        packed = packed >= PkwareHeaderSize ? packed - PkwareHeaderSize : 0;
    if (stat.comp_method == ZIP_CM_STORE && stat.encryption_method <= ZIP_EM_TRAD_PKWARE)
        return stat.size == packed;
    if (stat.comp_method == ZIP_CM_DEFLATE)
        return stat.size <= packed * MaxDeflateRatio + 1024;
    return true;
}

zip_int64_t findEntry(zip_t* archive, const std::string& wanted)
{
    zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        auto index = static_cast<zip_uint64_t>(i);
        const char* raw = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
        const char* decoded = zip_get_name(archive, index, 0);
        if ((raw && sameEntryName(raw, wanted)) || (decoded && sameEntryName(decoded, wanted)))
            return i;
    }
    return -1;
}

} // namespace

int32_t extractToMemory(const UnzipCommandRecord& record, EngineChannel& channel)
{
    const std::string archiveName = record.ArchiveName;
    const std::string wanted = record.ExtractSpecs[0].Spec;
    if (!channel.sendKey())
        return channel.stopStatus();
    auto stopOr = [&channel](int32_t status) { return channel.stopped() ? channel.stopStatus() : status; };

    int openError = 0;
    std::unique_ptr<zip_t, ArchiveCloser> archive(zip_open(archiveName.c_str(), ZIP_RDONLY, &openError));
    if (!archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, openError);
        channel.message(openError == ZIP_ER_NOENT || openError == ZIP_ER_OPEN ? ZEC_Open : ZEC_Format,
            archiveName + ": " + zip_error_strerror(&error));
        zip_error_fini(&error);
        return stopOr(ZS_Aborted);
    }
    zip_int64_t found = findEntry(archive.get(), wanted);
    if (found < 0) {
        channel.message(ZEC_NoMatch, "No entry " + wanted + " in " + archiveName);
        return stopOr(0);
    }
    const auto index = static_cast<zip_uint64_t>(found);
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.get(), index, ZIP_FL_ENC_RAW, &stat) != 0) {
        channel.message(ZEC_Format, archiveName + ": " + zip_strerror(archive.get()));
        return stopOr(ZS_Aborted);
    }
    const std::string name = stat.name ? stat.name : wanted;
    if (!channel.totals(1, stat.size) || !channel.newItem(name, stat.size))
        return channel.stopStatus();

    if (!plausibleSize(stat)) {
        channel.skipped(name, ZEC_Size, ZK_ZipFileFormatWrong);
        return stopOr(0);
    }
    if (!zip_compression_method_supported(stat.comp_method, 0)) {
        channel.skipped(name, ZEC_Method, ZK_CompressionUnknown);
        return stopOr(0);
    }
    const bool encrypted = stat.encryption_method != ZIP_EM_NONE;
    if (encrypted && !zip_encryption_method_supported(stat.encryption_method, 0)) {
        channel.skipped(name, ZEC_Method, ZK_NoEncryption);
        return stopOr(0);
    }

    const auto size = static_cast<uint32_t>(stat.size);
    char* output = nullptr;
    if (record.Test == 0 && size > 0) {
        if (record.OutputMemory && record.OutputSize == size)
            output = static_cast<char*>(record.OutputMemory);
        else
            output = static_cast<char*>(channel.askOutputMemory(name, size));
        if (!output) {
            channel.message(ZEC_Size, "No memory for " + name);
            return stopOr(ZS_NoMemory);
        }
    }

    EntryReader reader { archive.get(), index, stat, channel, output, 0, {} };
    std::string password = record.Password ? record.Password : "";
    int32_t requests = std::clamp(record.PasswordRequests, 0, MaxPasswordRequests);
    ReadResult result = ReadResult::WrongPassword;
    ReadResult lastFailure = ReadResult::WrongPassword;
    // A wrong password passes the one-byte check about once in 256 tries and then fails to inflate: once any
    // password failed the check, the entry is reported as wanting another password, not as damaged.
    bool checkFailed = false;
    for (;;) {
        if (encrypted && password.empty()) {
            if (requests <= 0) {
                result = lastFailure;
                break;
            }
            int32_t count = requests;
            auto reply = channel.askPassword(name, count, password);
            if (reply == EngineChannel::PasswordReply::Stop)
                return channel.stopStatus();
            if (reply != EngineChannel::PasswordReply::Given) {
                result = lastFailure;
                break;
            }
            requests = std::min(requests - 1, count);
        }
        result = reader.read(encrypted ? password.c_str() : nullptr);
        // A wrong password passes the one-byte check now and then; the stream then fails to inflate.
        bool retry = encrypted && (result == ReadResult::WrongPassword || result == ReadResult::DataError);
        if (!retry)
            break;
        checkFailed = checkFailed || result == ReadResult::WrongPassword;
        lastFailure = checkFailed ? ReadResult::WrongPassword : result;
        password.clear();
    }

    int32_t extracted = 0;
    switch (result) {
    case ReadResult::Ok:
        extracted = 1;
        break;
    case ReadResult::Stopped:
        return channel.stopStatus();
    case ReadResult::CrcMismatch:
        if (channel.acceptCrcError(name, reader.foundCrc, stat.crc))
            extracted = 1;
        else
            channel.message(ZEC_Crc, "CRC error in " + name);
        break;
    case ReadResult::WrongPassword:
        channel.skipped(name, ZEC_BadPassword, ZK_BadPassword);
        break;
    case ReadResult::DataError:
        channel.skipped(name, ZEC_Read, ZK_GeneralExtractError);
        break;
    }
    if (channel.stopped())
        return channel.stopStatus();
    channel.endOfBatch(0);
    return extracted;
}

} // namespace ZipEngine
