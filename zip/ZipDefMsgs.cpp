#include "zip/ZipDefMsgs.h"

#include <algorithm>

namespace
{
constexpr ZipDefMsg kMessages[] = {
#define ZIP_MESSAGE(name, id, text) { ZipMsg::name, text },
#include "zip/ZipDefMsgs.inc"
#undef ZIP_MESSAGE
};
static_assert(std::ranges::is_sorted(kMessages, {}, &ZipDefMsg::id), "the lookup needs the table sorted by id");
} // namespace

std::span<const ZipDefMsg> ZipDefMsgs()
{
    return kMessages;
}
