#pragma once

#include <QString>

#include <memory>

// Reads one file's version block: the About page creates one for the
// executable, runs ReadInfo, takes the values and frees it. Every value is
// empty until read, and empty for a key the block does not have.
class VMXFileVersionInfo
{
public:
    explicit VMXFileVersionInfo(const QString& fileName);
    static std::unique_ptr<VMXFileVersionInfo> Create(const QString& fileName);

    void ReadInfo();

    const QString& InfoFileName() const { return FInfoFileName; }
    const QString& CompanyName() const { return FCompanyName; }
    const QString& FileDescription() const { return FFileDescription; }
    const QString& FileVersion() const { return FFileVersion; }
    const QString& LegalCopyright() const { return FLegalCopyright; }
    const QString& LegalTrademarks() const { return FLegalTrademarks; }
    const QString& ProductName() const { return FProductName; }
    const QString& ProductVersion() const { return FProductVersion; }
    const QString& Comments() const { return FComments; }
    const QString& Documentation() const { return FDocumentation; }
    const QString& Translation() const { return FTranslation; }
    const QString& OpenSourceCredits() const { return FOpenSourceCredits; }

private:
    QString FInfoFileName;
    QString FCompanyName;
    QString FFileDescription;
    QString FFileVersion;
    QString FLegalCopyright;
    QString FLegalTrademarks;
    QString FProductName;
    QString FProductVersion;
    QString FComments;
    QString FDocumentation;
    QString FTranslation;
    QString FOpenSourceCredits;
};
