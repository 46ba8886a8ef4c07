#include "ImportStream.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace ImportStream {

namespace {

const QString malformed = QStringLiteral("поток данных чтения повреждён");

void appendNumber(QByteArray &bytes, quint64 value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.append(char((value >> (8 * i)) & 0xFF));
}

quint64 numberFrom(const QByteArray &bytes)
{
    quint64 value = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        value |= static_cast<quint64>(static_cast<quint8>(bytes[i])) << (8 * i);
    return value;
}

// Reads exactly `size` bytes; false at a clean end before the first byte.
bool readExactly(int fd, char *into, size_t size, bool endAllowed)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, into + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Error(QStringLiteral("чтение прервано: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno))));
        if (n == 0) {
            if (done == 0 && endAllowed)
                return false;
            throw Error(malformed);
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

void Writer::text(const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    appendNumber(m_bytes, static_cast<quint64>(utf8.size()), 4);
    m_bytes.append(utf8);
}

void Writer::number(qint64 value)
{
    appendNumber(m_bytes, static_cast<quint64>(value), 8);
}

void Writer::value(const SqlValue &value)
{
    if (auto integer = std::get_if<qint64>(&value)) {
        m_bytes.append('I');
        number(*integer);
    } else if (auto real = std::get_if<double>(&value)) {
        m_bytes.append('D');
        quint64 bits = 0;
        std::memcpy(&bits, real, sizeof bits);
        appendNumber(m_bytes, bits, 8);
    } else if (auto string = std::get_if<QString>(&value)) {
        m_bytes.append('S');
        text(*string);
    } else {
        m_bytes.append('N');
    }
}

void Writer::blob(const QByteArray &bytes)
{
    m_bytes.append('B');
    appendNumber(m_bytes, static_cast<quint64>(bytes.size()), 4);
    m_bytes.append(bytes);
}

QByteArray Reader::take(qsizetype size)
{
    if (size < 0 || size > m_bytes.size() - m_at)
        throw Error(malformed);
    const QByteArray part = m_bytes.mid(m_at, size);
    m_at += size;
    return part;
}

QString Reader::text()
{
    const qsizetype size = static_cast<qsizetype>(numberFrom(take(4)));
    const QByteArray utf8 = take(size);
    return QString::fromUtf8(utf8);
}

qint64 Reader::number()
{
    return static_cast<qint64>(numberFrom(take(8)));
}

SqlValue Reader::value()
{
    switch (take(1).front()) {
    case 'N':
        return std::monostate{};
    case 'I':
        return number();
    case 'D': {
        const quint64 bits = numberFrom(take(8));
        double real = 0;
        std::memcpy(&real, &bits, sizeof real);
        return real;
    }
    case 'S':
        return text();
    default:
        throw Error(malformed);
    }
}

Cell Reader::cell()
{
    if (m_at < m_bytes.size() && m_bytes[m_at] == 'B') {
        take(1);
        const qsizetype size = static_cast<qsizetype>(numberFrom(take(4)));
        return {std::monostate{}, take(size)};
    }
    return {value(), std::nullopt};
}

bool writeFrame(int fd, Kind kind, const QByteArray &payload)
{
    QByteArray frame;
    frame.reserve(payload.size() + 5);
    frame.append(char(kind));
    appendNumber(frame, static_cast<quint64>(payload.size()), 4);
    frame.append(payload);
    qsizetype done = 0;
    while (done < frame.size()) {
        const ssize_t n =
            ::write(fd, frame.constData() + done, static_cast<size_t>(frame.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool readFrame(int fd, Kind &kind, QByteArray &payload)
{
    char header[5];
    if (!readExactly(fd, header, sizeof header, true))
        return false;
    kind = Kind(header[0]);
    const quint64 size = numberFrom(QByteArray(header + 1, 4));
    if (size > maxFrame)
        throw Error(malformed);
    payload.resize(static_cast<qsizetype>(size));
    readExactly(fd, payload.data(), static_cast<size_t>(size), false);
    return true;
}

} // namespace ImportStream
