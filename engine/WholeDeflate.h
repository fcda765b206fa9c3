#pragma once

#include <cstdint>
#include <memory>

namespace ZipEngine
{

// An entry's bytes deflated in one call with libdeflate, ready for libzip to store as they are.
struct WholeDeflate
{
    std::unique_ptr<char[]> data; // null when deflating does not make the input smaller
    uint64_t size = 0;
    uint32_t crc = 0; // of the input

    explicit operator bool() const { return data != nullptr; }
};

// libdeflate's level for the engine's level 1 to 9.
int libdeflateLevel(int level);

// Deflates the whole input; throws std::bad_alloc when there is no memory for it.
WholeDeflate deflateWhole(const char* input, uint64_t size, int level);

} // namespace ZipEngine
