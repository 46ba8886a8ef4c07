#include "Connection.h"

#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/Sqlite.h"
#include "platform/SqliteEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>

namespace {

// A function of the server engine's module, which lies beside the program and is loaded once, on
// the first use of a server. Fails with a message naming the module when it cannot be loaded.
template <typename Function> Function serverModuleFunction(const char *name)
{
    static QLibrary module(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                           QLatin1String(serverModuleName));
    if (!module.isLoaded() && !module.load()) {
        throw Error(QStringLiteral("Не удается загрузить модуль работы с сервером баз данных: %1")
                        .arg(module.errorString()));
    }
    const auto function = reinterpret_cast<Function>(module.resolve(name));
    if (!function)
        throw Error(QStringLiteral("Модуль работы с сервером баз данных не годится: %1")
                        .arg(module.errorString()));
    return function;
}

} // namespace

Connection::Connection(QString fileName, QString server)
    : m_fileName(std::move(fileName)), m_server(std::move(server))
{}

Connection::~Connection() = default;

void Connection::open()
{
    if (m_engine)
        return;
    if (m_server.isEmpty()) {
        m_engine = std::make_unique<SqliteEngine>(m_fileName);
        return;
    }
    // A password the server asks for is asked of the person, never stored.
    const auto open = serverModuleFunction<OpenServerEngine>(openServerEngineName);
    m_engine.reset(open(m_server, [](const QString &question) {
        return Dialogs::current().askPassword(question);
    }));
}

void Connection::close()
{
    m_engine.reset();
}

bool Connection::serverNamesAPassword(const QString &server)
{
    return !server.isEmpty() &&
           serverModuleFunction<ServerNamesAPassword>(serverNamesAPasswordName)(server);
}

void Connection::initializeEngine()
{
    ::initializeEngine();
}

QString Connection::where() const
{
    if (m_engine)
        return m_engine->where();
    return m_server.isEmpty() ? shownPath(m_fileName) : QStringLiteral("сервер баз данных");
}

bool Connection::isReadOnly() const
{
    return m_engine && m_engine->isReadOnly();
}

QString Connection::networkShare() const
{
    return m_engine ? m_engine->networkShare() : QString();
}

bool Connection::logInUseOnShare() const
{
    return m_engine && m_engine->logInUseOnShare();
}

bool Connection::checkpointUnlessBusy()
{
    return !m_engine || m_engine->checkpointUnlessBusy();
}

Engine &Connection::engine()
{
    open();
    return *m_engine;
}

void Connection::snapshot(const QString &file)
{
    Engine &source = engine();
    // Every table as of one moment: a person another computer adds while the snapshot is written
    // is in all of it or in none of it.
    source.beginSnapshot();
    const struct EndSnapshot
    {
        Engine &source;
        ~EndSnapshot()
        {
            try {
                source.rollbackTransaction(); // it only read
            } catch (const Error &) {
            }
        }
    } endSnapshot{source};
    try {
        SqliteConnection target(file, SqliteConnection::Mode::CreateNew);
        Transaction transaction(target, Transaction::Ending::AllOrNothing);
        createRegisterTables(target);
        for (const char *table : {"Main", "God", "Mesyats", "Chislo"}) {
            const std::unique_ptr<RowSource> rows = source.table(QString::fromUtf8(table));
            QStringList names;
            QStringList marks;
            for (const SourceColumn &column : rows->columns()) {
                names << quoteIdentifier(column.name);
                marks << QStringLiteral("?");
            }
            SqliteStatement insert =
                target.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                   .arg(QString::fromUtf8(table), names.join(QStringLiteral(", ")),
                                        marks.join(QStringLiteral(", "))));
            const int columns = static_cast<int>(rows->columns().size());
            rows->readAll([&](const RowCells &row, const RowId &) {
                for (int column = 0; column < columns; ++column) {
                    switch (row.kind(column)) {
                    case RowCells::Kind::Null:
                        insert.bind(column + 1, Value());
                        break;
                    case RowCells::Kind::Integer:
                        insert.bind(column + 1, Value(row.integer(column)));
                        break;
                    case RowCells::Kind::Real:
                        insert.bind(column + 1, Value(row.real(column)));
                        break;
                    case RowCells::Kind::Text: {
                        const std::string_view text = row.utf8(column);
                        insert.bind(column + 1,
                                    Value(QString::fromUtf8(text.data(), qsizetype(text.size()))));
                        break;
                    }
                    }
                }
                insert.run();
            });
        }
        transaction.commit();
        target.checkpoint();
    } catch (const Error &) {
        removeDatabaseFiles(file);
        throw;
    }
}
