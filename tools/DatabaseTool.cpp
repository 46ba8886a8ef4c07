#include "DatabaseTool.h"

#include "JetImport.h"
#include "platform/FileSystems.h"
#include "platform/Sqlite.h"

#include <QDate>
#include <QFileInfo>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

namespace DatabaseTool {

namespace {

// Text sizes are in characters; the record-set layer cuts longer texts to them.
const char schemaSql[] = R"sql(
CREATE TABLE Main (
    Код INTEGER PRIMARY KEY AUTOINCREMENT,
    ФИО VARCHAR(60),
    Дата_рождения VARCHAR(20),
    Год INTEGER,
    Месяц INTEGER,
    Число INTEGER,
    Возраст INTEGER,
    Юбилей VARCHAR(10)
);
CREATE TABLE God (Год INTEGER);
CREATE TABLE Mesyats (Месяц INTEGER);
CREATE TABLE Chislo (Число INTEGER);
)sql";

const char usage[] =
    "Usage:\n"
    "  reestr-db --version                           print the version and stop\n"
    "  reestr-db init [--demo] [FILE]                create a new database (default: Base.mdb)\n"
    "  reestr-db import [--codepage CP] [--verbose] OLD [NEW]\n"
    "                                                copy an old Access file into a new database\n"
    "                                                (default NEW: Base.mdb; Jet 3 text: CP1251).\n"
    "                                                With OLD the old Base.mdb itself and no NEW,\n"
    "                                                the old file is kept as Base.access.mdb.\n";

int runImport(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    JetImport::Options options;
    QStringList files;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--codepage") && i + 1 < arguments.size()) {
            options.codepage = arguments[++i];
        } else if (argument.startsWith(QLatin1String("--codepage="))) {
            options.codepage = argument.mid(11);
        } else if (argument == QLatin1String("--verbose")) {
            options.verbose = true;
        } else if (!argument.startsWith(QLatin1Char('-')) && files.size() < 2) {
            files << argument;
        } else {
            err << usage;
            return 2;
        }
    }
    if (files.isEmpty() || options.codepage.isEmpty()) {
        err << usage;
        return 2;
    }
    options.source = files[0];
    options.target = files.value(1, QStringLiteral("Base.mdb"));
    // The old program's Base.mdb converted where it lies: it is kept under another name.
    const QFileInfo source(options.source);
    const QFileInfo target(options.target);
    if (files.size() == 1 && source.isFile() && target.exists() &&
        source.canonicalFilePath() == target.canonicalFilePath())
        options.keepOldAs = JetImport::keptName(options.target);

    // Progress only where somebody watches it.
    const bool terminal = isatty(fileno(stderr));
    const auto progress = [&](const QString &table, qint64 done, qint64 total) {
        if (terminal && total >= 10000) {
            err << '\r' << table << ": " << done << " / " << total;
            err.flush();
            if (done == total)
                err << '\n';
        }
    };
    options.notice = [&](const QString &text) {
        err << text << '\n';
        err.flush();
    };
    try {
        const QList<JetImport::TableSummary> tables = JetImport::importDatabase(options, progress);
        if (!options.keepOldAs.isEmpty()) {
            out << "Старая база Access сохранена как " << QFileInfo(options.keepOldAs).fileName()
                << "\n";
        }
        out << "Импортировано в " << options.target << ":\n";
        for (const JetImport::TableSummary &table : tables)
            out << "  " << table.name << ": " << table.rows << " строк\n";
    } catch (const Error &e) {
        err << "reestr-db: " << e.message() << '\n';
        return 1;
    }
    return 0;
}

void fillRange(SqliteConnection &db, const QString &table, const QString &column, int from, int to)
{
    SqliteStatement insert = db.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (?)")
                                            .arg(quoteIdentifier(table), quoteIdentifier(column)));
    for (int value = from; value <= to; ++value) {
        insert.bindInt64(1, value);
        insert.run();
    }
}

} // namespace

const QList<DemoPerson> &demoPeople()
{
    static const QList<DemoPerson> people = {
        {QStringLiteral("Иванов Сергей Петрович"), 12, 1, 1965},
        {QStringLiteral("Смирнова Ольга Викторовна"), 3, 2, 1978},
        {QStringLiteral("Кузнецов Алексей Николаевич"), 25, 3, 1990},
        {QStringLiteral("Попова Наталья Сергеевна"), 8, 4, 1985},
        {QStringLiteral("Васильев Дмитрий Андреевич"), 17, 5, 1972},
        {QStringLiteral("Петрова Елена Александровна"), 30, 6, 1960},
        {QStringLiteral("Соколов Михаил Юрьевич"), 14, 7, 1995},
        {QStringLiteral("Михайлова Татьяна Игоревна"), 21, 8, 1988},
        {QStringLiteral("Новиков Андрей Владимирович"), 5, 9, 1970},
        {QStringLiteral("Федорова Ирина Олеговна"), 11, 10, 1983},
        {QStringLiteral("Морозов Виктор Степанович"), 29, 11, 1955},
        {QStringLiteral("Волкова Светлана Борисовна"), 2, 12, 1975},
        {QStringLiteral("Алексеев Павел Геннадьевич"), 19, 1, 2000},
        {QStringLiteral("Лебедева Анна Михайловна"), 28, 2, 1980},
        {QStringLiteral("Семенов Игорь Васильевич"), 9, 3, 1967},
        {QStringLiteral("Егорова Марина Анатольевна"), 15, 4, 1992},
        {QStringLiteral("Павлов Николай Иванович"), 1, 5, 1958},
        {QStringLiteral("Козлова Юлия Дмитриевна"), 23, 6, 2002},
        {QStringLiteral("Степанов Артем Сергеевич"), 7, 7, 2005},
        {QStringLiteral("Николаева Людмила Петровна"), 31, 8, 1962},
        {QStringLiteral("Орлов Владимир Константинович"), 16, 9, 1977},
        {QStringLiteral("Андреева Галина Федоровна"), 4, 10, 1950},
        {QStringLiteral("Макаров Евгений Львович"), 20, 11, 1987},
        {QStringLiteral("Захарова Оксана Валерьевна"), 10, 12, 1993},
        {QStringLiteral("Зайцев Роман Александрович"), 27, 1, 1974},
        {QStringLiteral("Соловьева Вера Николаевна"), 6, 2, 1969},
        {QStringLiteral("Борисов Константин Евгеньевич"), 13, 3, 1984},
        {QStringLiteral("Яковлева Ксения Андреевна"), 22, 4, 2001},
        {QStringLiteral("Григорьев Олег Викторович"), 18, 5, 1963},
        {QStringLiteral("Романова Дарья Максимовна"), 26, 6, 2004},
        {QStringLiteral("Воробьев Антон Ильич"), 3, 7, 1979},
        {QStringLiteral("Сергеева Валентина Ивановна"), 24, 8, 1953},
        {QStringLiteral("Кириллов Максим Олегович"), 12, 9, 1998},
        {QStringLiteral("Тарасова Екатерина Юрьевна"), 30, 10, 1986},
        {QStringLiteral("Белов Григорий Матвеевич"), 8, 11, 1966},
        {QStringLiteral("Комарова Лариса Геннадьевна"), 15, 12, 1971},
        {QStringLiteral("Ершов Станислав Аркадьевич"), 29, 2, 1996},
        {QStringLiteral("Щербакова Полина Артемовна"), 1, 9, 2007},
        {QStringLiteral("Ильин Федор Тимофеевич"), 5, 5, 1945},
        {QStringLiteral("Гусева Алина Романовна"), 12, 5, 0},
    };
    return people;
}

QString composeBirthDate(int day, int month, int year)
{
    const auto twoDigits = [](int n) {
        return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
    };
    return twoDigits(day) + QLatin1Char('.') + twoDigits(month) + QLatin1Char('.') +
           (year ? QString::number(year) : QString());
}

void createSchema(SqliteConnection &db, int lastYear)
{
    db.exec(QString::fromUtf8(schemaSql));
    fillRange(db, QStringLiteral("God"), QStringLiteral("Год"), 1930, lastYear);
    fillRange(db, QStringLiteral("Mesyats"), QStringLiteral("Месяц"), 1, 12);
    fillRange(db, QStringLiteral("Chislo"), QStringLiteral("Число"), 1, 31);
}

void addDemoPeople(SqliteConnection &db)
{
    SqliteStatement insert =
        db.prepare(QStringLiteral("INSERT INTO Main (ФИО, Дата_рождения, Год, Месяц, Число) "
                                  "VALUES (?, ?, ?, ?, ?)"));
    for (const DemoPerson &person : demoPeople()) {
        insert.bind(1, person.fullName);
        insert.bind(2, composeBirthDate(person.day, person.month, person.year));
        insert.bind(3, person.year ? SqlValue(static_cast<qint64>(person.year)) : SqlValue());
        insert.bindInt64(4, person.month);
        insert.bindInt64(5, person.day);
        insert.run();
    }
}

void createDatabase(const QString &path, bool withDemo, int lastYear)
{
    bool created = false;
    try {
        SqliteConnection db(path, SqliteConnection::Mode::CreateNew);
        created = true;
        Transaction transaction(db, Transaction::Ending::AllOrNothing);
        createSchema(db, lastYear);
        if (withDemo)
            addDemoPeople(db);
        transaction.commit();
    } catch (const Error &) {
        // Only a file this call created is removed; an existing one was never opened.
        if (created) {
            QFile::remove(path);
            QFile::remove(path + QStringLiteral("-wal"));
            QFile::remove(path + QStringLiteral("-shm"));
        }
        throw;
    }
}

int run(const QStringList &arguments)
{
    QTextStream out(stdout);
    QTextStream err(stderr);

    if (arguments.size() == 1 && arguments[0] == QLatin1String("--version")) {
        out << "reestr-db " << REESTR_VERSION << "\n";
        return 0;
    }
    if (arguments.value(0) == QLatin1String("import"))
        return runImport(arguments.mid(1), out, err);
    if (arguments.value(0) != QLatin1String("init")) {
        err << usage;
        return 2;
    }
    bool demo = false;
    QString file;
    for (const QString &argument : arguments.mid(1)) {
        if (argument == QLatin1String("--demo") && !demo) {
            demo = true;
        } else if (!argument.startsWith(QLatin1Char('-')) && file.isEmpty()) {
            file = argument;
        } else {
            err << usage;
            return 2;
        }
    }
    if (file.isEmpty())
        file = QStringLiteral("Base.mdb");

    try {
        createDatabase(file, demo, QDate::currentDate().year());
    } catch (const Error &e) {
        err << "reestr-db: " << e.message() << '\n';
        return 1;
    }
    out << "Создана база данных " << file << (demo ? " с примерами" : "") << '\n';
    const QString share = networkFileSystem(file);
    if (!share.isEmpty()) {
        out << "Файл лежит в сетевой папке (" << share
            << "): он ведётся с журналом отката, без журнала упреждающей записи. Если с реестром "
               "работают несколько компьютеров, храните его на сервере баз данных PostgreSQL.\n";
    }
    return 0;
}

} // namespace DatabaseTool
