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

void VellumixApplication::reportException(const std::exception& error)
{
    const auto* own = dynamic_cast<const Exception*>(&error);
    MessageBox::show(QApplication::activeWindow(), own ? own->message() : QString::fromUtf8(error.what()));
}

void VellumixApplication::reportUnknownException()
{
    MessageBox::show(QApplication::activeWindow(), LoadStr(sUnknownError));
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
