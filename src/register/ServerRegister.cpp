#include "ServerRegister.h"

#include "DatabaseTool.h"
#include "platform/Error.h"
#include "engines/postgres/PostgresEngine.h"
#include "register/RegisterSchema.h"

namespace DatabaseTool {

namespace {

// The month search compares an integer column with a text by LIKE, as the file allows: the
// operator for that is part of the register on a server.
const char integerLikeSql[] = R"sql(
CREATE FUNCTION reestr_integer_like(integer, text) RETURNS boolean
    LANGUAGE sql IMMUTABLE STRICT AS $$SELECT $1::text LIKE $2$$;
CREATE OPERATOR ~~ (LEFTARG = integer, RIGHTARG = text, FUNCTION = reestr_integer_like);
)sql";

} // namespace

void refuseExistingRegister(PgConnection &db)
{
    const PgResult existing = db.exec(QStringLiteral(
        "SELECT count(*) FROM (VALUES ('main'), ('god'), ('mesyats'), ('chislo')) AS t(name) "
        "WHERE to_regclass(name) IS NOT NULL"));
    if (existing.text(0, 0) != QLatin1String("0"))
        throw Error(QStringLiteral("В базе данных уже есть реестр (%1)").arg(db.where()));
}

namespace {

// Two roles per register, named after its database: one that may read it and one that may also
// change it. An office worker's own login role is made a member of one of them.
constexpr char serverRolesSql[] = R"sql(
DO $$
DECLARE
    reader text := current_database() || '_reader';
    editor text := current_database() || '_editor';
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = reader) THEN
        EXECUTE format('CREATE ROLE %I NOLOGIN', reader);
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = editor) THEN
        EXECUTE format('CREATE ROLE %I NOLOGIN', editor);
    END IF;
    EXECUTE format('GRANT %I TO %I', reader, editor);
    EXECUTE format('GRANT CONNECT ON DATABASE %I TO %I', current_database(), reader);
    EXECUTE format('GRANT USAGE ON SCHEMA public TO %I', reader);
    EXECUTE format('GRANT SELECT ON Main, God, Mesyats, Chislo TO %I', reader);
    EXECUTE format('GRANT INSERT, UPDATE, DELETE ON Main, God, Mesyats, Chislo TO %I', editor);
    EXECUTE format('GRANT USAGE ON SEQUENCE %s TO %I', pg_get_serial_sequence('main', 'Код'),
                   editor);
END $$;
)sql";

// The year of the ages is read by every role and written by those that change the register; the
// change log is read by all and written only through its triggers.
constexpr char liveRolesSql[] = R"sql(
DO $$
BEGIN
    EXECUTE format('GRANT SELECT ON Raschet, Izmeneniya TO %I', current_database() || '_reader');
    EXECUTE format('GRANT INSERT, UPDATE, DELETE ON Raschet TO %I',
                   current_database() || '_editor');
END $$;
)sql";

} // namespace

void createServerTables(PgConnection &db)
{
    db.execScript(RegisterSchema::serverSql() + QString::fromUtf8(integerLikeSql));
    db.execScript(QString::fromUtf8(serverRolesSql));
}

bool addServerLiveRegister(PgConnection &db)
{
    const bool had = db.exec(QStringLiteral("SELECT to_regclass('izmeneniya') IS NOT NULL AND "
                                            "to_regprocedure('reestr_whole_table_changed(text)') "
                                            "IS NOT NULL"))
                         .text(0, 0) == QLatin1String("t");
    db.execScript(RegisterSchema::serverLiveSql());
    db.execScript(QString::fromUtf8(serverRolesSql) + QString::fromUtf8(liveRolesSql));
    return !had;
}

QString upgradeServerRegister(const QString &conninfo, const PasswordPrompt &prompt)
{
    PgConnection db(conninfo, prompt);
    const PgResult bounded = db.exec(QStringLiteral(
        "SELECT attname, atttypmod - 4 FROM pg_attribute WHERE attrelid = to_regclass('main') "
        "AND atttypid = 'varchar'::regtype AND atttypmod > 4 ORDER BY attnum"));
    if (db.exec(QStringLiteral("SELECT to_regclass('main') IS NULL")).text(0, 0) ==
        QLatin1String("t"))
        throw Error(QStringLiteral("В базе данных нет реестра (%1)").arg(db.where()));
    Transaction transaction(db);
    // Changing varchar to text keeps every row as it is: nothing is rewritten.
    for (int row = 0; row < bounded.rows(); ++row) {
        const QString column = QLatin1Char('"') + bounded.text(row, 0) + QLatin1Char('"');
        db.exec(QStringLiteral("ALTER TABLE Main ALTER COLUMN %1 TYPE text").arg(column));
        db.exec(QStringLiteral("COMMENT ON COLUMN Main.%1 IS 'знаков: %2'")
                    .arg(column, bounded.text(row, 1)));
    }
    const bool logAdded = addServerLiveRegister(db);
    transaction.commit();
    QStringList done;
    if (bounded.rows() > 0)
        done << QStringLiteral("столбцов с текстом %1").arg(bounded.rows());
    if (logAdded)
        done << QStringLiteral("добавлен журнал изменений");
    return done.isEmpty() ? QStringLiteral("Реестр уже обновлён (%1)").arg(db.where())
                          : QStringLiteral("Реестр обновлён: %1 (%2)")
                                .arg(done.join(QStringLiteral(", ")), db.where());
}

QString createServerRegister(const QString &conninfo, bool withDemo, int lastYear,
                             const PasswordPrompt &prompt)
{
    PgConnection db(conninfo, prompt);
    refuseExistingRegister(db);
    Transaction transaction(db);
    createServerTables(db);
    db.exec(QStringLiteral("INSERT INTO God SELECT generate_series(1930, $1::int)"),
            {Value(static_cast<qint64>(lastYear))});
    db.exec(QStringLiteral("INSERT INTO Mesyats SELECT generate_series(1, 12)"));
    db.exec(QStringLiteral("INSERT INTO Chislo SELECT generate_series(1, 31)"));
    if (withDemo) {
        for (const DemoPerson &person : demoPeople()) {
            db.exec(QStringLiteral("INSERT INTO Main (ФИО, Дата_рождения, Год, Месяц, Число) "
                                   "VALUES ($1, $2, $3, $4, $5)"),
                    {Value(person.fullName),
                     Value(composeBirthDate(person.day, person.month, person.year)),
                     person.year ? Value(static_cast<qint64>(person.year)) : Value(),
                     Value(static_cast<qint64>(person.month)),
                     Value(static_cast<qint64>(person.day))});
        }
    }
    addServerLiveRegister(db);
    transaction.commit();
    return db.where();
}

} // namespace DatabaseTool
