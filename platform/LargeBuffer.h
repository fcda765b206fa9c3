#pragma once

#include <QByteArray>

#include <cstddef>

// Memory for texts of many megabytes. The kernel maps fresh memory a 4 KiB page at a time, one
// fault each, which on virtual machines costs more than filling the page; a range advised for
// transparent huge pages is mapped 2 MiB at a time.
namespace LargeBuffer
{
// A byte array of the given size, its bytes not set yet, mapped in huge pages where the kernel can.
QByteArray uninitialized(qsizetype size);
// Advises huge pages for the whole 2 MiB pieces of a range that nothing has touched yet.
void preferHugePages(void* data, std::size_t size);
} // namespace LargeBuffer
