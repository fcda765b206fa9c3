#pragma once

#include <string>
#include <string_view>

namespace ZipEngine
{

// The name an entry is stored under: "\" becomes "/", leading separators go. Empty when the
// file spec cannot name an entry safely (empty, or a ".." step that would leave the extract folder).
std::string storedEntryName(std::string_view spec);

// Entry names compared as the worker's directory compares them: ASCII letters without regard
// to case, "\" and "/" alike.
bool sameEntryName(std::string_view a, std::string_view b);

// True when the name's extension is one of the ".ext:.ext" items of the list.
bool hasStoreSuffix(std::string_view name, std::string_view suffixList);

} // namespace ZipEngine
