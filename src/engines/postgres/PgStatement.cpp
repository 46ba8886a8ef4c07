// A statement's result, and the server's words for a failure.
#include "engines/postgres/PgStatement.h"

#include <QRegularExpression>
#include <QStringList>

#include <libpq-fe.h>

#include <utility>

PgResult::PgResult(PgResult &&other) noexcept : m_result(std::exchange(other.m_result, nullptr)) {}

PgResult &PgResult::operator=(PgResult &&other) noexcept
{
    if (this != &other) {
        PQclear(m_result);
        m_result = std::exchange(other.m_result, nullptr);
    }
    return *this;
}

PgResult::~PgResult()
{
    PQclear(m_result);
}

int PgResult::rows() const
{
    return m_result ? PQntuples(m_result) : 0;
}

int PgResult::columns() const
{
    return m_result ? PQnfields(m_result) : 0;
}

bool PgResult::isNull(int row, int column) const
{
    return PQgetisnull(m_result, row, column) != 0;
}

QString PgResult::text(int row, int column) const
{
    return QString::fromUtf8(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
}

QString libpqDetail(const char *text)
{
    static const QRegularExpression severity(QStringLiteral("\\b\\p{Lu}+:\\s\\s+"));
    QString detail = QString::fromUtf8(text).replace(severity, QString());
    detail.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return detail.split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QLatin1Char(' ')).simplified();
}
