#include "DatabaseTool.h"

#include "platform/Files.h"
#include "engines/sqlite/SqliteConnection.h"
#include "engines/sqlite/SqliteEngine.h"
#include "register/RegisterFile.h"

#include <QDate>
#include <QFileInfo>
#include <QFile>

namespace DatabaseTool {

namespace {

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
    RegisterFile::createTables(db);
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
        Transaction transaction(db);
        createSchema(db, lastYear);
        if (withDemo)
            addDemoPeople(db);
        RegisterFile::addLiveRegister(db);
        transaction.commit();
    } catch (const Error &) {
        // Only a file this call created is removed; an existing one was never opened.
        if (created)
            Files::removeDatabase(path);
        throw;
    }
}

QString upgradeFileRegister(const QString &path)
{
    SqliteConnection db(path, SqliteConnection::Mode::OpenExisting);
    const QString where = Files::shownPath(path);
    if (db.isReadOnly())
        throw Error(
            QStringLiteral("Файл «%1» открыт только для чтения: обновить его нельзя").arg(where));
    SqliteStatement main = db.prepare(
        QStringLiteral("SELECT 1 FROM sqlite_schema WHERE name = 'Main' COLLATE NOCASE"));
    if (!main.step())
        throw Error(QStringLiteral("В файле «%1» нет реестра").arg(where));
    Transaction transaction(db);
    const bool added = RegisterFile::addLiveRegister(db);
    transaction.commit();
    return added ? QStringLiteral("Реестр обновлён: добавлен журнал изменений (%1)").arg(where)
                 : QStringLiteral("Реестр уже обновлён (%1)").arg(where);
}

} // namespace DatabaseTool
