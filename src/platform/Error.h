#pragma once

#include <QString>

#include <exception>
#include <string>

// The one exception type of the program. It carries the message text that the error box shows;
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

// A change an engine took ahead of its answer (a server's pipelined post) and refused when the
// answer came: names the row by its key, since the program has moved on since.
class RefusedPost : public Error
{
public:
    RefusedPost(QString message, qint64 key) : Error(std::move(message)), m_key(key) {}

    qint64 key() const noexcept { return m_key; }

private:
    qint64 m_key;
};
