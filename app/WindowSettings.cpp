#include "app/WindowSettings.h"

#include "platform/IniFile.h"

#include <variant>

const QString WindowSettings::Section = QStringLiteral("vellumix_main");

namespace
{
using Field = std::variant<int WindowSettings::*, bool WindowSettings::*, QString WindowSettings::*>;

struct Key
{
    const char* name;
    Field field;
};

const Key Keys[] = {
    { "left", &WindowSettings::left },
    { "top", &WindowSettings::top },
    { "width", &WindowSettings::width },
    { "height", &WindowSettings::height },
    { "languagefile", &WindowSettings::languageFile },
    { "vellulook", &WindowSettings::vellulook },
    { "stayontop", &WindowSettings::stayontop },
    { "screensnap", &WindowSettings::screensnap },
    { "timestamp", &WindowSettings::timestamp },
    { "clipsleep", &WindowSettings::clipsleep },
};

template <class... F> struct Overloaded : F...
{
    using F::operator()...;
};
template <class... F> Overloaded(F...) -> Overloaded<F...>;
} // namespace

WindowSettings WindowSettings::read(const IniFile& ini)
{
    WindowSettings settings;
    for (const Key& key : Keys) {
        const QString name = QString::fromLatin1(key.name);
        std::visit(
            Overloaded {
                [&](int WindowSettings::*field) { settings.*field = ini.readInteger(Section, name, settings.*field); },
                [&](bool WindowSettings::*field) { settings.*field = ini.readBool(Section, name, settings.*field); },
                [&](QString WindowSettings::*field) {
                    settings.*field = ini.readString(Section, name, settings.*field);
                },
            },
            key.field);
    }
    return settings;
}

void WindowSettings::write(IniFile& ini) const
{
    for (const Key& key : Keys) {
        const QString name = QString::fromLatin1(key.name);
        std::visit(Overloaded {
                       [&](int WindowSettings::*field) { ini.writeInteger(Section, name, this->*field); },
                       [&](bool WindowSettings::*field) { ini.writeBool(Section, name, this->*field); },
                       [&](QString WindowSettings::*field) { ini.writeString(Section, name, this->*field); },
                   },
            key.field);
    }
}

void WindowSettings::setOuter(const QRect& outer)
{
    left = outer.left();
    top = outer.top();
    width = outer.width();
    height = outer.height();
}
