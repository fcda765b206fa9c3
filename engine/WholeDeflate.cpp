#include "engine/WholeDeflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <new>

namespace ZipEngine
{

namespace
{

struct CompressorFree
{
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

} // namespace

int libdeflateLevel(int level)
{
    // libdeflate's 7 already matches the size of zlib's 9 on journal text at about half its time;
    // its 8 and 9 buy a few tenths of a percent for twice that, so the top three levels share it.
    return std::clamp(level, 1, 7);
}

WholeDeflate deflateWhole(const char* input, uint64_t size, int level)
{
    WholeDeflate result;
    if (size == 0)
        return result;
    std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
        libdeflate_alloc_compressor(libdeflateLevel(level)));
    if (!compressor)
        throw std::bad_alloc();
    // Only the pages the compressed data fills get written, so the bound costs address space rather
    // than memory.
    const size_t capacity = libdeflate_deflate_compress_bound(compressor.get(), size);
    auto output = std::make_unique_for_overwrite<char[]>(capacity);
    const size_t written = libdeflate_deflate_compress(compressor.get(), input, size, output.get(), capacity);
    if (written == 0 || written >= size)
        return result;
    result.data = std::move(output);
    result.size = written;
    result.crc = libdeflate_crc32(0, input, size);
    return result;
}

} // namespace ZipEngine
