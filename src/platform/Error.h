#pragma once

#include <QString>

#include <exception>
#include <string>

// The program's exception type. It carries the message text that the error box shows;
// every layer raises it and every entry point from Qt catches it.
class Error : public std::exception
{
public:
    explicit Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toStdString())
    {}

    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_message;
    std::string m_utf8;
};
