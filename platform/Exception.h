#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The one base of every exception the program raises. It holds the text shown
// to the user by the application's standard error report.
class Exception : public std::exception
{
public:
    explicit Exception(const QString& message, int helpContext = 0)
        : m_message(message)
        , m_utf8(message.toUtf8())
        , m_helpContext(helpContext)
    { }

    const QString& message() const noexcept { return m_message; }
    int helpContext() const noexcept { return m_helpContext; }
    const char* what() const noexcept override { return m_utf8.constData(); }

protected:
    void setMessage(const QString& message)
    {
        m_message = message;
        m_utf8 = message.toUtf8();
    }

private:
    QString m_message;
    QByteArray m_utf8;
    int m_helpContext = 0;
};
