#pragma once

#include <QApplication>

#include <exception>
#include <functional>

// The application object. It owns the standard error report: an error that a
// handler raises is shown in a message box with its own text and the program
// goes on.
class VellumixApplication : public QApplication
{
    Q_OBJECT

public:
    VellumixApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Where the standard error report goes: a message box unless something else is set.
    void setErrorReport(std::function<void(const QString& text)> report);

    static void reportException(const std::exception& error);
    static void reportUnknownException();

    // Runs a handler and turns what it raises into the standard error report,
    // so nothing is thrown through Qt's event loop.
    static void guarded(const std::function<void()>& handler);

private:
    static void show(const QString& text);

    std::function<void(const QString&)> m_report;
};
