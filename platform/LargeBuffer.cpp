#include "platform/LargeBuffer.h"

#include <sys/mman.h>

#include <cstdint>

namespace LargeBuffer
{
namespace
{
constexpr std::uintptr_t HugePage = std::uintptr_t(2) << 20;
} // namespace

QByteArray uninitialized(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    preferHugePages(bytes.data(), std::size_t(size));
    return bytes;
}

void preferHugePages(void* data, std::size_t size)
{
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + HugePage - 1) & ~(HugePage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(HugePage - 1);
    if (end > begin) {
        // Only advice: where the kernel has no huge pages to give, the range is mapped as before.
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
}
} // namespace LargeBuffer
