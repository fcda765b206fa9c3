#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "app/VellumixApplication.h"
#include "app/vlmx_main.h"
#include "loc/LocUtils.h"
#include "platform/AppPaths.h"
#include "platform/TerminationSignals.h"

#include <QMessageBox>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const CommandLine commandLine(arguments);
    if (!commandLine.startsWindow()) {
        // No display is needed to print or to write the autostart entry.
        QCoreApplication core(argc, argv);
        QTextStream out(stdout);
        QTextStream err(stderr);
        return commandLine.run(out, err);
    }

    // The application object reads its own options from argv; a chosen platform is added to them.
    std::vector<QByteArray> added;
    for (const QString& argument : commandLine.platformArguments(QProcessEnvironment::systemEnvironment())) {
        added.push_back(argument.toLocal8Bit());
    }
    std::vector<char*> qtArgv(argv, argv + argc);
    for (QByteArray& argument : added) {
        qtArgv.push_back(argument.data());
    }
    qtArgv.push_back(nullptr);
    int qtArgc = int(qtArgv.size()) - 1;

    // The language resources in use must fit this program; otherwise the built-in language stays.
    LocUtils.CheckStartupResources();
    VellumixApplication app(qtArgc, qtArgv.data());
    // Provisional; the window sets the real title while it is created.
    QCoreApplication::setApplicationName(QStringLiteral("Vellumix"));
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELLUMIX_DESKTOP_ID));

    // A second start with the same archive shows the running window instead. The archive's folder
    // is made first, since the lock lives beside the archive.
    SingleInstance instance(AppPaths::archiveFile(AppPaths::Folder::Create));
    const SingleInstance::Claim claim = instance.claim();
    if (claim == SingleInstance::Claim::Raised) {
        return 0;
    }
    if (!instance.problem().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(instance.problem()));
        std::fflush(stderr);
        QMessageBox::warning(nullptr, QStringLiteral("Vellumix"), instance.problem());
    }
    if (claim == SingleInstance::Claim::Refused) {
        return 1;
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
    QObject::connect(&termination, &TerminationSignals::terminationRequested, window.get(), &TFMain::closeUnattended);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, window.get(), &TFMain::closeUnattended);
    // A compositor that goes away takes Xwayland and the window with it a moment later.
    QObject::connect(window.get(), &TFMain::desktopEnded, window.get(), &QWidget::close);

    // Qt's X11 platform ends the program with exit() once its display is gone (a Wayland compositor
    // that ends takes Xwayland along), often before the close above could run.
    static TFMain* exitingWindow = nullptr;
    exitingWindow = window.get();
    std::atexit([] {
        if (exitingWindow) {
            exitingWindow->storeAtExit();
        }
    });

    window->show();
    const int status = app.exec();
    exitingWindow = nullptr;
    window.reset();
    return status;
}
