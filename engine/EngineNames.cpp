#include "engine/EngineNames.h"

#include <QString>
#include <QUtf8StringView>

namespace ZipEngine
{

namespace
{

char folded(char c)
{
    if (c == '\\')
        return '/';
    if (c >= 'A' && c <= 'Z')
        return static_cast<char>(c - 'A' + 'a');
    return c;
}

bool sameFolded(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (folded(a[i]) != folded(b[i]))
            return false;
    }
    return true;
}

} // namespace

std::string storedEntryName(std::string_view spec)
{
    std::string name(spec);
    for (char& c : name) {
        if (c == '\\')
            c = '/';
    }
    size_t start = name.find_first_not_of('/');
    if (start == std::string::npos)
        return {};
    name.erase(0, start);
    size_t pos = 0;
    while (pos <= name.size()) {
        size_t end = name.find('/', pos);
        if (end == std::string::npos)
            end = name.size();
        if (name.compare(pos, end - pos, "..") == 0)
            return {};
        pos = end + 1;
    }
    return name;
}

bool sameEntryName(std::string_view a, std::string_view b)
{
    const QUtf8StringView first(a.data(), qsizetype(a.size()));
    const QUtf8StringView second(b.data(), qsizetype(b.size()));
    if (!first.isValidUtf8() || !second.isValidUtf8())
        return sameFolded(a, b);
    auto text = [](QUtf8StringView name) { return name.toString().replace(QLatin1Char('\\'), QLatin1Char('/')); };
    return text(first).compare(text(second), Qt::CaseInsensitive) == 0;
}

bool hasStoreSuffix(std::string_view name, std::string_view suffixList)
{
    size_t slash = name.find_last_of("/\\");
    std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
    size_t dot = base.find_last_of('.');
    if (dot == std::string_view::npos || dot + 1 == base.size())
        return false;
    std::string_view extension = base.substr(dot);
    while (!suffixList.empty()) {
        size_t colon = suffixList.find(':');
        std::string_view item = suffixList.substr(0, colon);
        if (!item.empty() && item[0] != '.' && sameFolded(extension.substr(1), item))
            return true;
        if (sameFolded(extension, item))
            return true;
        if (colon == std::string_view::npos)
            break;
        suffixList.remove_prefix(colon + 1);
    }
    return false;
}

} // namespace ZipEngine
