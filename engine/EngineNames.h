#pragma once

#include <string>
#include <string_view>

namespace ZipEngine
{

// The name an entry is stored under: "\" becomes "/", leading separators go. Empty when the
// file spec cannot name an entry safely (empty, or a ".." step that would leave the extract folder).
std::string storedEntryName(std::string_view spec);

// Entry names compared as the worker's directory compares them: UTF-8 names without regard to
// case, by Qt's case folding, which reaches beyond ASCII; "\" and "/" alike. Names that are not
// UTF-8 (code page 437) fold their ASCII letters only.
bool sameEntryName(std::string_view a, std::string_view b);

// True when the name's extension is one of the ".ext:.ext" items of the list.
bool hasStoreSuffix(std::string_view name, std::string_view suffixList);

} // namespace ZipEngine
