#include "platform/WindowList.h"

namespace
{
class DummyWindowList final : public WindowList
{
public:
    QList<TopLevelWindow> topLevelWindows() override { return {}; }
};
} // namespace

std::unique_ptr<WindowList> WindowList::create()
{
    return std::make_unique<DummyWindowList>();
}
