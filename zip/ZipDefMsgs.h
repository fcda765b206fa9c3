#pragma once

#include <span>

// The component's built-in (US English) message table. Line breaks are stored
// as a single line feed; the lookup turns them into CR LF.
struct ZipDefMsg
{
    int id;
    const char* text;
};

// Sorted by id.
std::span<const ZipDefMsg> ZipDefMsgs();
