#include "app/VellumixApplication.h"

#include "app/MessageBox.h"
#include "loc/LocStrings.h"
#include "platform/Exception.h"

VellumixApplication::VellumixApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{ }

bool VellumixApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        reportException(error);
    } catch (...) {
        reportUnknownException();
    }
    return false;
}

void VellumixApplication::setErrorReport(std::function<void(const QString&)> report)
{
    m_report = std::move(report);
}

void VellumixApplication::show(const QString& text)
{
    const auto* app = qobject_cast<VellumixApplication*>(QCoreApplication::instance());
    if (app && app->m_report) {
        app->m_report(text);
    } else {
        MessageBox::show(QApplication::activeWindow(), text);
    }
}

void VellumixApplication::reportException(const std::exception& error)
{
    const auto* own = dynamic_cast<const Exception*>(&error);
    show(own ? own->message() : QString::fromUtf8(error.what()));
}

void VellumixApplication::reportUnknownException()
{
    show(LoadStr(sUnknownError));
}

void VellumixApplication::guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& error) {
        reportException(error);
    } catch (...) {
        reportUnknownException();
    }
}
