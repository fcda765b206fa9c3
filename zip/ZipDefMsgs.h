#pragma once

#include <span>

// The ids of the component's built-in messages by name, from the one table in
// ZipDefMsgs.inc that also gives their texts.
namespace ZipMsg
{
enum Id : int {
#define ZIP_MESSAGE(name, id, text) name = id,
#include "zip/ZipDefMsgs.inc"
#undef ZIP_MESSAGE
};

// The text of a progress item of kind k is the message ItemBase + k.
constexpr int ItemBase = 11400;
} // namespace ZipMsg

// The component's built-in (US English) message table. Line breaks are stored
// as a single line feed; the lookup turns them into CR LF.
struct ZipDefMsg
{
    int id;
    const char* text;
};

// Sorted by id.
std::span<const ZipDefMsg> ZipDefMsgs();
