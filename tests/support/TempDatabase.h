#pragma once

#include <QString>
#include <QTemporaryDir>

#include <ostream>

#include <initializer_list>
#include <memory>
#include <utility>

class SqliteConnection;

// A temporary folder of one test, removed with it.
class TempFolder
{
public:
    TempFolder();
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

// A fresh Base.mdb of one test, with the program's tables and reference rows.
class TempDatabase : public TempFolder
{
public:
    explicit TempDatabase(bool withDemo = false);
    QString path() const { return file(QStringLiteral("Base.mdb")); }

    // A separate connection, as another process would have.
    std::unique_ptr<SqliteConnection> connect() const;
    // Runs one statement on a separate connection.
    void exec(const QString &sql) const;
    // The first column of the first row of a query, as text ("" for null).
    QString scalar(const QString &sql) const;
    // Adds people through a separate connection: a name and a year of birth (0 for none), born on
    // the first of January; the birth-date text is left empty unless given.
    void addPeople(std::initializer_list<std::pair<const char *, int>> people,
                   const char *birthDate = nullptr) const;
};

// Lets GoogleTest print texts readably in its failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
