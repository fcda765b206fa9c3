#pragma once

#include "loc/LocModules.h"
#include "platform/Exception.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenu;

class ELocUtilsError : public Exception
{
public:
    using Exception::Exception;
};

class ELULoadResLibError : public ELocUtilsError
{
public:
    explicit ELULoadResLibError(const QString& fileName);
};

class ELUInvalidResLibrary : public ELocUtilsError
{
public:
    explicit ELUInvalidResLibrary(const QString& fileName);
};

class ELUOutOfVersion : public ELocUtilsError
{
public:
    explicit ELUOutOfVersion(const QString& fileName);
};

// One language set: the executable's built-in language or one library.
struct TDLLInfoItem
{
    QString LibraryFile;
    quint32 LangId = 0;
    quint32 Version = 0;
    QString Name; // the 8-bit name, UTF-8 being the system code page here
    QString WideName;
    quint32 Extra = 0;
};

// Owns its entries.
class TDLLInfoList
{
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    TDLLInfoItem& operator[](int index) { return *FItems.at(static_cast<size_t>(index)); }
    const TDLLInfoItem& operator[](int index) const { return *FItems.at(static_cast<size_t>(index)); }
    void Add(std::unique_ptr<TDLLInfoItem> item) { FItems.push_back(std::move(item)); }
    void Delete(int index) { FItems.erase(FItems.begin() + index); }
    void Clear() { FItems.clear(); }

private:
    std::vector<std::unique_ptr<TDLLInfoItem>> FItems;
};

class TLocUtils
{
public:
    TLocUtils();
    ~TLocUtils();
    TLocUtils(const TLocUtils&) = delete;
    TLocUtils& operator=(const TLocUtils&) = delete;

    TDLLInfoList DllsInfo;
    TDLLInfoItem CurrentInfo;
    QString DllsPath; // ends with a separator
    quint8 SwitchMode = 1;
    QString AppFileName;
    HMODULE AppInstance = 0;

    // Start-up check, before the application object exists; false when it fell back
    // to the built-in language.
    bool CheckStartupResources();
    bool GetDllsInfo(TDLLInfoList* list);
    HMODULE LoadResLibrary(const QString& fileName);
    void SetResourceModule(HMODULE module = 0, HMODULE resourceModule = 0);
    // Re-applies the current window description of every open top-level window.
    void ReloadForms();
    void SwitchTo(const QString& fileName);
    const TDLLInfoItem& GetCurrentInfo();
    void PopulateMenu(QMenu* parent, int groupIndex, quint8 switchMode);
    void MenuItemClick(QAction* item);
    // Where an error of a menu item's click goes (the application's error report); without one,
    // a localization error is shown by ShowLocError. Nothing unwinds through Qt's signal code.
    std::function<void(const std::exception&)> MenuClickErrorReport;
    void ResetResourceModules();
    static void ShowLocError(const ELocUtilsError& error);

    std::unique_ptr<TResourceStream> OpenSettings(HMODULE module, bool library);
    void ReadSettingsRecord(HMODULE module, bool library, TDLLInfoItem& item);
    bool IsVersionCompatible(HMODULE first, HMODULE second);

    // A text of the string table of the current resource module, the built-in
    // English one when the library lacks it.
    QString LoadStr(int id);

    // Points the utility at another executable path; for tests.
    void SetAppFileName(const QString& appFileName);
    // Replaces the message box of ShowLocError (caption, text); for tests.
    static void SetLocErrorHandlerForTesting(std::function<void(const QString&, const QString&)> handler);

private:
    QString ModuleFileName(HMODULE module) const;
};

// Created before main() runs and destroyed after it returns.
extern TLocUtils LocUtils;
