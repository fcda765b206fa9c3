#include "app/SingleInstance.h"
#include "app/VellumixApplication.h"
#include "app/vlmx_main.h"
#include "loc/LocUtils.h"
#include "platform/AppPaths.h"
#include "platform/TerminationSignals.h"

#include <memory>

int main(int argc, char* argv[])
{
    // The language resources in use must fit this program; otherwise the built-in language stays.
    LocUtils.CheckStartupResources();
    VellumixApplication app(argc, argv);
    // Provisional; the window sets the real title while it is created.
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Vellumix"));

    // A second start with the same archive shows the running window instead.
    SingleInstance instance(AppPaths::besideExecutable(QStringLiteral(".vma")));
    if (!instance.claim()) {
        return 0;
    }

    auto window = std::make_unique<TFMain>();
    QObject::connect(&instance, &SingleInstance::raiseRequested, window.get(), [shown = window.get()] {
        shown->setWindowState(shown->windowState() & ~Qt::WindowMinimized);
        shown->show();
        shown->raise();
        shown->activateWindow();
    });

    // Logout, kill and Ctrl-C close the window as its close button does, so the session is stored.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, window.get(), &QWidget::close);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, window.get(), &QWidget::close);

    window->show();
    const int status = app.exec();
    window.reset();
    return status;
}
