#include "engine/ArchiveSource.h"
#include "engine/EngineCommands.h"
#include "engine/EngineNames.h"
#include "engine/WholeDeflate.h"

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>

namespace ZipEngine
{

namespace
{

constexpr int DefaultLevel = 9;

struct ArchiveCloser
{
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ArchivePtr = std::unique_ptr<zip_t, ArchiveCloser>;

const char* textOrEmpty(const char* text)
{
    return text ? text : "";
}

time_t fromDos(uint32_t dosDateTime)
{
    if (dosDateTime == 0)
        return std::time(nullptr);
    const uint32_t date = dosDateTime >> 16;
    const uint32_t time = dosDateTime & 0xFFFF;
    struct tm local = {};
    local.tm_year = static_cast<int>((date >> 9) & 0x7F) + 80;
    local.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
    local.tm_mday = static_cast<int>(date & 0x1F);
    local.tm_hour = static_cast<int>(time >> 11);
    local.tm_min = static_cast<int>((time >> 5) & 0x3F);
    local.tm_sec = static_cast<int>(time & 0x1F) * 2;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// The entry's bytes as libzip reads them: the input itself, or its deflated form, which libzip
// takes as is when the stat names method, sizes and CRC, and then only encrypts. The time stamp
// travels with the data rather than through zip_file_set_dostime: libzip 1.7 derives the
// encryption check byte from the data's time and would otherwise write an entry that no one can
// decrypt.
struct MemorySource
{
    const char* data;
    uint64_t dataSize;
    uint64_t size; // of the entry's content
    time_t modified;
    const WholeDeflate* deflated = nullptr;
    uint64_t position = 0;
    zip_error_t error = {};

    static zip_int64_t dispatch(void* self, void* buffer, zip_uint64_t length, zip_source_cmd_t command)
    {
        return static_cast<MemorySource*>(self)->handle(buffer, length, command);
    }

    zip_int64_t handle(void* buffer, zip_uint64_t length, zip_source_cmd_t command)
    {
        switch (command) {
        case ZIP_SOURCE_OPEN:
            position = 0;
            return 0;
        case ZIP_SOURCE_READ: {
            uint64_t count = std::min<uint64_t>(length, dataSize - position);
            if (count > 0)
                std::memcpy(buffer, data + position, count);
            position += count;
            return static_cast<zip_int64_t>(count);
        }
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_SEEK: {
            zip_int64_t to = zip_source_seek_compute_offset(position, dataSize, buffer, length, &error);
            if (to < 0)
                return -1;
            position = static_cast<uint64_t>(to);
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return static_cast<zip_int64_t>(position);
        case ZIP_SOURCE_STAT: {
            auto* st = static_cast<zip_stat_t*>(buffer);
            zip_stat_init(st);
            st->size = size;
            st->mtime = modified;
            st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
            if (deflated) {
                st->comp_size = deflated->size;
                st->comp_method = ZIP_CM_DEFLATE;
                st->crc = deflated->crc;
                st->valid |= ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
            }
            return sizeof *st;
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error, buffer, length);
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_SEEK,
                ZIP_SOURCE_TELL, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SUPPORTS, -1);
        default:
            zip_error_set(&error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }
};

struct AddProgress
{
    EngineChannel& channel;
    const ArchiveSource& file;
    uint64_t size;
    uint64_t reported = 0;
    uint64_t writeStart = 0; // the share of size that libzip's fractions cover begins here
};

// libzip tells the fraction done; the caller wants the bytes since the last report.
void reportProgress(zip_t*, double fraction, void* state)
{
    auto* progress = static_cast<AddProgress*>(state);
    const uint64_t share = progress->size - progress->writeStart;
    const auto done
        = std::min(progress->size, progress->writeStart + static_cast<uint64_t>(fraction * static_cast<double>(share)));
    if (done <= progress->reported)
        return;
    progress->channel.progress(done - progress->reported, progress->file.written());
    progress->reported = done;
}

int checkCancel(zip_t*, void* state)
{
    return static_cast<AddProgress*>(state)->channel.stopped() ? 1 : 0;
}

// Puts the data in the archive under name. The first entry it replaces keeps its place, as the
// standard zip tools keep an updated entry's; any other of the same name (letter case aside) goes,
// so that a lookup can only ever find the new data. The index, or -1 with data not taken over.
zip_int64_t putEntry(zip_t* archive, const std::string& name, zip_source_t* data, zip_flags_t encoding)
{
    zip_int64_t kept = -1;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        auto index = static_cast<zip_uint64_t>(i);
        const char* raw = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
        const char* decoded = zip_get_name(archive, index, 0);
        if ((raw && sameEntryName(raw, name)) || (decoded && sameEntryName(decoded, name))) {
            if (kept < 0)
                kept = i;
            else if (zip_delete(archive, index) != 0)
                return -1;
        }
    }
    if (kept < 0)
        return zip_file_add(archive, name.c_str(), data, encoding | ZIP_FL_OVERWRITE);
    auto index = static_cast<zip_uint64_t>(kept);
    const char* current = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
    if ((!current || name != current) && zip_file_rename(archive, index, name.c_str(), encoding) != 0)
        return -1;
    return zip_file_replace(archive, index, data, 0) == 0 ? kept : -1;
}

std::string archiveError(zip_t* archive, const ArchiveSource& file)
{
    if (!file.errorText().empty())
        return file.errorText();
    return zip_strerror(archive);
}

} // namespace

int32_t addFromMemory(const ZipCommandRecord& record, EngineChannel& channel)
{
    const FileSpecRecord& spec = record.FileSpecs[0];
    const std::string archiveName = record.ArchiveName;
    const std::string name = storedEntryName(textOrEmpty(spec.Spec));
    const uint64_t size = record.InputSize;
    if (!channel.sendKey())
        return channel.stopStatus();
    if (name.empty()) {
        channel.message(ZEC_Name, std::string("Invalid entry name: ") + textOrEmpty(spec.Spec));
        return channel.stopped() ? channel.stopStatus() : ZS_InvalidRecord;
    }
    if (!channel.totals(1, size) || !channel.newItem(name, size))
        return channel.stopStatus();

    std::string password;
    const bool encrypt = spec.Encrypt != 0 || record.Encrypt != 0;
    if (encrypt) {
        password = spec.Password && *spec.Password ? spec.Password : textOrEmpty(record.Password);
        if (password.empty()) {
            int32_t count = 1;
            switch (channel.askPassword(name, count, password)) {
            case EngineChannel::PasswordReply::Given:
                break;
            case EngineChannel::PasswordReply::Stop:
                return channel.stopStatus();
            default:
                // Storing the entry in the clear instead would give away what was meant to be hidden.
                channel.message(ZEC_NoPassword, "No password given for " + name + "; not added");
                return channel.stopped() ? channel.stopStatus() : 0;
            }
        }
    }

    // The data and both sources must outlive the archive, which refers to them until it is closed
    // or discarded.
    WholeDeflate deflated;
    MemorySource input { static_cast<const char*>(record.InputMemory), size, size, fromDos(record.DosDateTime) };
    ArchiveSource file(archiveName, textOrEmpty(record.TempDir));
    if (!file.open()) {
        channel.message(ZEC_Open, file.errorText());
        return channel.stopped() ? channel.stopStatus() : ZS_Aborted;
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = file.source(&error);
    ArchivePtr archive(source ? zip_open_from_source(source, ZIP_CREATE, &error) : nullptr);
    if (!archive) {
        if (source)
            zip_source_free(source);
        channel.message(ZEC_Format, archiveName + ": " + zip_error_strerror(&error));
        zip_error_fini(&error);
        return channel.stopped() ? channel.stopStatus() : ZS_Aborted;
    }
    zip_error_fini(&error);

    if (channel.stopped())
        return channel.stopStatus();
    if (record.Level != 0 && !hasStoreSuffix(name, textOrEmpty(record.StoreSuffixes))) {
        const int level = record.Level >= 1 && record.Level <= 9 ? record.Level : DefaultLevel;
        // One call that cannot be interrupted; a stop asked for meanwhile is seen right after it.
        deflated = deflateWhole(input.data, size, level);
        if (channel.stopped())
            return channel.stopStatus();
    }
    AddProgress progress { channel, file, size };
    if (deflated) {
        input = MemorySource { deflated.data.get(), deflated.size, size, input.modified, &deflated };
        // Deflating and writing each report in proportion to the bytes they go through.
        const double share = static_cast<double>(size) / static_cast<double>(size + deflated.size);
        progress.writeStart = static_cast<uint64_t>(share * static_cast<double>(size));
        if (!channel.progress(progress.writeStart, file.written()))
            return channel.stopStatus();
        progress.reported = progress.writeStart;
    }
    const zip_flags_t nameEncoding = record.CodePage == 2 ? ZIP_FL_ENC_CP437 : ZIP_FL_ENC_GUESS;
    zip_source_t* data = zip_source_function(archive.get(), &MemorySource::dispatch, &input);
    zip_int64_t index = -1;
    if (data) {
        index = putEntry(archive.get(), name, data, nameEncoding);
        if (index < 0)
            zip_source_free(data);
    }
    bool ready = index >= 0;
    auto entry = static_cast<zip_uint64_t>(index);
    // Data already deflated keeps the default method, which takes the method of the source.
    if (!deflated)
        ready = ready && zip_set_file_compression(archive.get(), entry, ZIP_CM_STORE, 0) == 0;
    ready = ready && zip_file_set_external_attributes(archive.get(), entry, 0, ZIP_OPSYS_DOS, record.Attributes) == 0;
    if (encrypt)
        ready = ready && zip_file_set_encryption(archive.get(), entry, ZIP_EM_TRAD_PKWARE, password.c_str()) == 0;
    if (ready && !file.existed() && record.Comment && *record.Comment)
        ready = zip_set_archive_comment(archive.get(), record.Comment,
                    static_cast<zip_uint16_t>(std::min<size_t>(strlen(record.Comment), 0xFFFF)))
            == 0;
    if (!ready) {
        channel.message(ZEC_Write, archiveName + ": " + zip_strerror(archive.get()));
        return channel.stopped() ? channel.stopStatus() : ZS_Aborted;
    }

    zip_register_progress_callback_with_state(archive.get(), 0.01, reportProgress, nullptr, &progress);
    zip_register_cancel_callback_with_state(archive.get(), checkCancel, nullptr, &progress);
    if (channel.stopped())
        return channel.stopStatus();
    if (zip_close(archive.get()) != 0) {
        if (channel.stopped())
            return channel.stopStatus();
        channel.message(ZEC_Write, archiveName + ": " + archiveError(archive.get(), file));
        return channel.stopped() ? channel.stopStatus() : ZS_Aborted;
    }
    archive.release();
    // The new archive is in place; a stop asked for from here on comes too late to undo it.
    channel.endOfBatch(file.written());
    return 1;
}

} // namespace ZipEngine
