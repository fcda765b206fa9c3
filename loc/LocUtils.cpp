#include "loc/LocUtils.h"

#include "loc/TableText.h"

#include "loc/LocForms.h"
#include "loc/LocStrings.h"
#include "loc/LocaleNames.h"
#include "platform/AppPaths.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QtEndian>

TLocUtils LocUtils;

namespace
{
const QString LibSettingsName = QStringLiteral("LOC_LIBSETTINGS_");
const QString ExeSettingsName = QStringLiteral("LOC_EXESETTINGS_");
const QString StringTableName = QStringLiteral("STRINGS");
const char* const GroupIndexProperty = "vellumixGroupIndex";

std::function<void(const QString&, const QString&)>& locErrorHandler()
{
    static std::function<void(const QString&, const QString&)> handler;
    return handler;
}

QString joinPath(const QString& first, const QString& second)
{
    if (first.isEmpty() || second.isEmpty() || first.endsWith(QLatin1Char('/'))
        || second.startsWith(QLatin1Char('/'))) {
        return first + second;
    }
    return first + QLatin1Char('/') + second;
}

QString extensionOf(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > name.lastIndexOf(QLatin1Char('/')) ? name.mid(dot) : QString();
}

bool isExeExtension(const QString& name)
{
    const QString extension = extensionOf(name);
    if (extension.size() != 4) {
        return false;
    }
    for (qsizetype i = 0; i < 4; ++i) {
        const char16_t c = extension.at(i).unicode();
        const char16_t lower = (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c;
        if (lower != u".exe"[i]) {
            return false;
        }
    }
    return true;
}

template <typename T> T readLittleEndian(TResourceStream& stream)
{
    uchar bytes[sizeof(T)];
    stream.ReadBuffer(bytes, sizeof(T));
    return qFromLittleEndian<T>(bytes);
}

std::optional<QString> stringFromTable(HMODULE module, int id)
{
    const std::optional<QByteArray> table = LocModules::findResource(module, StringTableName);
    if (!table) {
        return std::nullopt;
    }
    const QString text = QString::fromUtf8(*table);
    for (QStringView line : QStringView(text).split(u'\n')) {
        const qsizetype tab = line.indexOf(u'\t');
        bool ok = false;
        if (tab > 0 && line.left(tab).toInt(&ok) == id && ok) {
            return unescapeTableField(line.mid(tab + 1));
        }
    }
    return std::nullopt;
}

void checkInGroup(QAction* item)
{
    const QVariant group = item->property(GroupIndexProperty);
    for (QObject* object : item->associatedObjects()) {
        const auto* parentMenu = qobject_cast<QMenu*>(object);
        if (parentMenu == nullptr) {
            continue;
        }
        for (QAction* sibling : parentMenu->actions()) {
            if (sibling != item && sibling->property(GroupIndexProperty) == group) {
                sibling->setChecked(false);
            }
        }
    }
    item->setChecked(true);
}
} // namespace

ELULoadResLibError::ELULoadResLibError(const QString& fileName)
    : ELocUtilsError(QStringLiteral("Error loading resource file \"%1\"").arg(fileName))
{ }

ELUInvalidResLibrary::ELUInvalidResLibrary(const QString& fileName)
    : ELocUtilsError(QStringLiteral("Invalid resource file format \"%1\"").arg(fileName))
{ }

ELUOutOfVersion::ELUOutOfVersion(const QString& fileName)
    : ELocUtilsError(
        QStringLiteral("Resource file %1 is not synhronized with executable.\r\nPlease, update the file and try again")
            .arg(fileName))
{ }

TLocUtils::TLocUtils()
{
    AppInstance = LocModules::appModule();
    // Before the application object exists Qt cannot tell the executable's path.
    SetAppFileName(QCoreApplication::instance() != nullptr ? AppPaths::executablePath()
                                                           : QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
}

// The current library stays registered: Qt's resource list may already be gone
// when this runs, and the process ends right after.
TLocUtils::~TLocUtils() = default;

void TLocUtils::SetAppFileName(const QString& appFileName)
{
    AppFileName = appFileName;
    DllsPath = AppFileName.left(AppFileName.lastIndexOf(QLatin1Char('/')) + 1);
}

QString TLocUtils::ModuleFileName(HMODULE module) const
{
    return module == AppInstance ? AppFileName : LocModules::libraryPath(module);
}

std::unique_ptr<TResourceStream> TLocUtils::OpenSettings(HMODULE module, bool library)
{
    const std::optional<QByteArray> record
        = LocModules::findResource(module, library ? LibSettingsName : ExeSettingsName);
    if (!record) {
        throw ELUInvalidResLibrary(ModuleFileName(module));
    }
    if (!record->startsWith(library ? "LDLL" : "LEXE")) {
        throw ELUInvalidResLibrary(ModuleFileName(module));
    }
    auto stream = std::make_unique<TResourceStream>(*record);
    stream->Seek(4);
    return stream;
}

void TLocUtils::ReadSettingsRecord(HMODULE module, bool library, TDLLInfoItem& item)
{
    const std::unique_ptr<TResourceStream> stream = OpenSettings(module, library);
    stream->Seek(0);
    stream->Skip(4);
    item.Version = readLittleEndian<quint32>(*stream);
    item.LangId = readLittleEndian<quint16>(*stream);

    const quint16 nameLength = readLittleEndian<quint16>(*stream);
    QByteArray name(nameLength + 1, '\0');
    stream->ReadBuffer(name.data(), nameLength);
    item.Name = QString::fromUtf8(name.constData());

    const quint16 wideLength = readLittleEndian<quint16>(*stream);
    QByteArray wideBytes(2 * wideLength, '\0');
    stream->ReadBuffer(wideBytes.data(), wideBytes.size());
    QString wideName;
    for (qsizetype i = 0; i < wideLength; ++i) {
        const char16_t unit = qFromLittleEndian<quint16>(wideBytes.constData() + 2 * i);
        if (unit == 0) {
            break;
        }
        wideName += QChar(unit);
    }
    item.WideName = wideName;

    // Strict: with exactly four bytes left there is no extra value.
    if (stream->Position() + 4 < stream->Size()) {
        stream->Skip(4);
        item.Extra = readLittleEndian<quint32>(*stream);
    } else {
        item.Extra = 0;
    }
}

bool TLocUtils::IsVersionCompatible(HMODULE first, HMODULE second)
{
    if (first == 0) {
        first = AppInstance;
    }
    TDLLInfoItem firstInfo;
    TDLLInfoItem secondInfo;
    ReadSettingsRecord(first, first != AppInstance, firstInfo);
    ReadSettingsRecord(second, true, secondInfo);
    return firstInfo.Version == secondInfo.Version;
}

bool TLocUtils::CheckStartupResources()
{
    const HMODULE current = LocModules::currentResourceModule(AppInstance);
    try {
        if (IsVersionCompatible(AppInstance, current)) {
            return true;
        }
    } catch (const ELocUtilsError&) { }
    ResetResourceModules();
    return false;
}

bool TLocUtils::GetDllsInfo(TDLLInfoList* list)
{
    if (list == nullptr || DllsPath.isEmpty() || !QFileInfo(DllsPath).isDir()) {
        return false;
    }
    list->Clear();
    const QString mask = AppPaths::changeExtension(QFileInfo(AppFileName).fileName(), QStringLiteral(".*"));

    auto own = std::make_unique<TDLLInfoItem>();
    ReadSettingsRecord(AppInstance, false, *own);
    list->Add(std::move(own));

    static const QStringList skipped { QStringLiteral(".ntv"), QStringLiteral(".exe"), QStringLiteral(".~ex"),
        QStringLiteral(".bak") };
    const QStringList names = QDir(DllsPath).entryList(
        { mask }, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& name : names) {
        if (skipped.contains(extensionOf(name).toLower())) {
            continue;
        }
        const QString path = joinPath(DllsPath, name);
        const HMODULE library = LocModules::loadAsData(path);
        if (library == 0) {
            continue;
        }
        try {
            auto item = std::make_unique<TDLLInfoItem>();
            item->LibraryFile = path;
            ReadSettingsRecord(library, true, *item);
            list->Add(std::move(item));
        } catch (const std::exception&) { }
        LocModules::freeModule(library);
    }
    return true;
}

HMODULE TLocUtils::LoadResLibrary(const QString& fileName)
{
    if (fileName.isEmpty()) {
        return AppInstance;
    }
    const HMODULE library = LocModules::loadAsData(fileName);
    if (library == 0) {
        throw ELULoadResLibError(fileName);
    }
    bool compatible = false;
    try {
        compatible = IsVersionCompatible(AppInstance, library);
    } catch (...) {
        LocModules::freeModule(library);
        throw;
    }
    if (compatible) {
        return library;
    }
    LocModules::freeModule(library);
    throw ELUOutOfVersion(fileName);
}

void TLocUtils::SetResourceModule(HMODULE module, HMODULE resourceModule)
{
    if (module == 0) {
        module = AppInstance;
    }
    if (resourceModule == 0) {
        resourceModule = AppInstance;
    }
    const HMODULE previous = LocModules::currentResourceModule(module);
    if (previous != 0 && previous != module && previous != resourceModule) {
        LocModules::freeModule(previous);
    }
    LocModules::setCurrentResourceModule(module, resourceModule);
}

void TLocUtils::ResetResourceModules()
{
    SetResourceModule(AppInstance, AppInstance);
    for (const HMODULE module : LocModules::moduleList()) {
        SetResourceModule(module, module);
    }
}

namespace
{
// Every description a library holds for the open windows, with its window: our own classes
// only, ancestors first; Qt's classes carry none.
template <typename Visit> void forEachDescription(HMODULE module, Visit visit)
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        QList<const QMetaObject*> chain;
        for (const QMetaObject* meta = window->metaObject(); meta != nullptr && meta->className()[0] != 'Q';
             meta = meta->superClass()) {
            chain.prepend(meta);
        }
        for (const QMetaObject* meta : chain) {
            const QString className = QString::fromLatin1(meta->className()).section(QStringLiteral("::"), -1);
            if (const std::optional<QByteArray> description = LocModules::findResource(module, className)) {
                visit(window, *description, className);
            }
        }
    }
}
} // namespace

void TLocUtils::ReloadForms()
{
    try {
        forEachDescription(LocModules::currentResourceModule(AppInstance),
            [](QWidget* window, const QByteArray& description, const QString& className) {
                ApplyWindowDescription(window, description, className);
            });
    } catch (const ELocUtilsError& error) {
        ShowLocError(error);
    }
}

void TLocUtils::SwitchTo(const QString& fileName)
{
    const QString name = isExeExtension(fileName) ? QString() : fileName;
    if (SwitchMode == 0) {
        const HMODULE module = LoadResLibrary(name);
        // A library whose window descriptions cannot be used as they stand is refused before it is switched to.
        try {
            forEachDescription(module, [](QWidget*, const QByteArray& description, const QString& className) {
                CheckWindowDescription(description, className);
            });
        } catch (const std::exception&) {
            if (module != AppInstance) {
                LocModules::freeModule(module);
            }
            throw ELULoadResLibError(name);
        }
        SetResourceModule(AppInstance, module);
        ReloadForms();
    } else if (SwitchMode == 1) {
        const HMODULE module = LoadResLibrary(name);
        try {
            TDLLInfoItem check;
            ReadSettingsRecord(module, true, check);
        } catch (...) {
            if (module != AppInstance) {
                LocModules::freeModule(module);
            }
            throw;
        }
        if (module != AppInstance) {
            LocModules::freeModule(module);
        }
    }
}

const TDLLInfoItem& TLocUtils::GetCurrentInfo()
{
    try {
        TDLLInfoItem info;
        ReadSettingsRecord(LocModules::currentResourceModule(AppInstance), true, info);
        info.LibraryFile = CurrentInfo.LibraryFile;
        CurrentInfo = info;
    } catch (...) { }
    return CurrentInfo;
}

void TLocUtils::PopulateMenu(QMenu* parent, int groupIndex, quint8 switchMode)
{
    DllsInfo.Clear();
    if (!GetDllsInfo(&DllsInfo)) {
        throw ELocUtilsError(QStringLiteral("Error populating menu"));
    }
    SwitchMode = switchMode;
    const TDLLInfoItem current = GetCurrentInfo();
    for (int i = 0; i < DllsInfo.Count(); ++i) {
        const TDLLInfoItem& entry = DllsInfo[i];
        const QString caption = entry.Name.isEmpty() ? LanguageName(entry.LangId) : entry.Name;
        auto* item = new QAction(caption, parent != nullptr ? parent->window() : nullptr);
        item->setCheckable(true);
        item->setData(i);
        item->setProperty(GroupIndexProperty, groupIndex);
        // Qt toggles the item before it reports the click; the click handler decides.
        QObject::connect(item, &QAction::triggered, item, [this, item](bool checked) {
            item->setChecked(!checked);
            try {
                MenuItemClick(item);
            } catch (const std::exception& error) {
                if (MenuClickErrorReport) {
                    MenuClickErrorReport(error);
                } else if (const auto* locError = dynamic_cast<const ELocUtilsError*>(&error)) {
                    ShowLocError(*locError);
                } else {
                    qWarning("language menu: %s", error.what());
                }
            }
        });
        if (parent != nullptr) {
            parent->addAction(item);
        }
        if (entry.LangId == current.LangId) {
            checkInGroup(item);
        }
    }
}

void TLocUtils::MenuItemClick(QAction* item)
{
    if (item == nullptr || item->isChecked()) {
        return;
    }
    const int index = item->data().toInt();
    if (index < 0 || index >= DllsInfo.Count()) {
        return;
    }
    SwitchTo(DllsInfo[index].LibraryFile);
    if (SwitchMode == 0) {
        checkInGroup(item);
    }
}

void TLocUtils::ShowLocError(const ELocUtilsError& error)
{
    const QString caption = QStringLiteral("Localization error");
    if (locErrorHandler()) {
        locErrorHandler()(caption, error.message());
        return;
    }
    QMessageBox box(QMessageBox::Critical, caption, error.message(), QMessageBox::Ok);
    box.exec();
}

void TLocUtils::SetLocErrorHandlerForTesting(std::function<void(const QString&, const QString&)> handler)
{
    locErrorHandler() = std::move(handler);
}

QString TLocUtils::LoadStr(int id)
{
    if (auto text = stringFromTable(LocModules::currentResourceModule(AppInstance), id)) {
        return *text;
    }
    return stringFromTable(AppInstance, id).value_or(QString());
}

QString LoadStr(int id)
{
    return LocUtils.LoadStr(id);
}
