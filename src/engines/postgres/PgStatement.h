#pragma once

#include <QString>

struct pg_result;

// The result of one statement on the server; owns it.
class PgResult
{
public:
    explicit PgResult(pg_result *result = nullptr) : m_result(result) {}
    PgResult(PgResult &&other) noexcept;
    PgResult &operator=(PgResult &&other) noexcept;
    ~PgResult();

    pg_result *get() const { return m_result; }
    int rows() const;
    int columns() const;
    bool isNull(int row, int column) const;
    QString text(int row, int column) const;

private:
    pg_result *m_result;
};

// libpq's or the server's own words for a failure, on one line: without the severity word
// ("FATAL:  ", "ВАЖНО:  ") and tabs.
QString libpqDetail(const char *text);
