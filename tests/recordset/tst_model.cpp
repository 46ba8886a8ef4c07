// A seeded random walk of record-set operations, each applied both to tblMain over a temporary
// file and to a plain model of what the operation must do. After every step the model is compared
// with the record set (state, flags, cursor, every held value) and with the file as a second
// connection reads it. Another program's changes to the file are part of the walk, and so are
// stretches with the controls disabled, which must change nothing but what a watcher hears.
//
// REESTR_MODEL_SEED=S runs one seed; REESTR_MODEL_SEEDS=N and REESTR_MODEL_STEPS=M a longer run.
#include "OtherProgram.h"
#include "RecordSetModel.h"
#include "TestServer.h"

#include "engines/Engine.h"

#include <QDeadlineTimer>
#include <QScopeGuard>

#include <poll.h>

namespace {

Outcome attempt(const std::function<void()> &action)
{
    try {
        action();
        return {};
    } catch (const Error &e) {
        return {e.message()};
    }
}

QString stateName(State state)
{
    switch (state) {
    case State::Closed:
        return QStringLiteral("Closed");
    case State::Browsing:
        return QStringLiteral("Browsing");
    case State::Editing:
        return QStringLiteral("Editing");
    case State::Inserting:
        return QStringLiteral("Inserting");
    }
    return {};
}

int environmentNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

class RecordSetModelTest : public RecordSetTest
{
public:
    // Runs one seed on tblMain; gives the step log up to the first difference, or nothing when
    // all agree.
    static std::optional<QString> walk(RecordSet &tblMain, OtherProgram &other, unsigned seed,
                                       int steps);
    // Where the record set, the file and the model differ; nothing when they agree.
    static std::optional<QString> compare(const Model &model, RecordSet &tblMain,
                                          OtherProgram &other);
};

std::optional<QString> RecordSetModelTest::compare(const Model &model, RecordSet &tblMain,
                                                   OtherProgram &other)
{
    if (tblMain.state() != model.state)
        return QStringLiteral("state %1, expected %2")
            .arg(stateName(tblMain.state()), stateName(model.state));
    if (tblMain.IsModified() != model.modified)
        return QStringLiteral("IsModified %1").arg(tblMain.IsModified());
    if (tblMain.AtEnd() != model.atEnd)
        return QStringLiteral("AtEnd %1").arg(tblMain.AtEnd());
    if (tblMain.AtBeginning() != model.atBeginning)
        return QStringLiteral("beginning flag %1").arg(tblMain.AtBeginning());
    if (tblMain.rowCount() != model.count() || tblMain.currentRow() != model.current)
        return QStringLiteral("%1 rows, current %2; expected %3 rows, current %4")
            .arg(tblMain.rowCount())
            .arg(tblMain.currentRow())
            .arg(model.count())
            .arg(model.current);
    if (tblMain.RecordTotal() != model.count() - (model.state == State::Inserting ? 1 : 0))
        return QStringLiteral("RecordTotal %1").arg(tblMain.RecordTotal());
    for (int row = 0; row < model.count(); ++row) {
        const Values expected = model.shown(row);
        for (int column = 0; column < columnCount; ++column) {
            const SqlValue held = tblMain.valueAt(row, column);
            if (held != expected[size_t(column)])
                return QStringLiteral("row %1 %2 holds %3, expected %4")
                    .arg(row)
                    .arg(QString::fromUtf8(columnNames[column]), describe(held),
                         describe(expected[size_t(column)]));
        }
    }
    // Every stored value can be shown, whatever another program put there.
    for (int column = 0; column < tblMain.FieldCount(); ++column)
        (void)tblMain.FieldAt(column).AsText();

    auto expected = model.file.begin();
    for (const auto &[key, stored] : other.rows()) {
        if (expected == model.file.end())
            return QStringLiteral("the file holds an unexpected row %1").arg(key);
        for (int column = 0; column < columnCount; ++column) {
            if (stored[size_t(column)] != expected->second[size_t(column)])
                return QStringLiteral("the file's row %1 %2 holds %3, expected %4")
                    .arg(expected->first)
                    .arg(QString::fromUtf8(columnNames[column]), describe(stored[size_t(column)]),
                         describe(expected->second[size_t(column)]));
        }
        ++expected;
    }
    if (expected != model.file.end())
        return QStringLiteral("the file lacks row %1").arg(expected->first);
    return std::nullopt;
}

// One step of the walk: what was done, what the model says must come of it and what did.
struct Step
{
    QString what;
    Outcome expected;
    Outcome actual;
};

// Moving the current record; nothing when the choice is not a move.
std::optional<Step> movement(int choice, Model &model, RecordSet &tblMain,
                             const std::function<int(int)> &below)
{
    Step step;
    QString &what = step.what;
    Outcome &expected = step.expected;
    Outcome &actual = step.actual;
    if (choice < 8) {
        what = QStringLiteral("ToFirst");
        expected = model.toFirst();
        actual = attempt([&] { tblMain.ToFirst(); });
    } else if (choice < 20) {
        what = QStringLiteral("ToNext");
        expected = model.toNext();
        actual = attempt([&] { tblMain.ToNext(); });
    } else if (choice < 28) {
        what = QStringLiteral("ToPrior");
        expected = model.toPrior();
        actual = attempt([&] { tblMain.ToPrior(); });
    } else if (choice < 31) {
        what = QStringLiteral("ToLast");
        expected = model.toLast();
        actual = attempt([&] { tblMain.ToLast(); });
    } else if (choice < 33 && model.count() > 0) {
        const int row = below(model.count());
        what = QStringLiteral("MoveTo(%1)").arg(row);
        expected = model.moveTo(row);
        int moved = 0;
        actual = attempt([&] { moved = tblMain.MoveTo(row); });
        actual.number = moved;
    } else if (choice < 34 && model.count() > 0) {
        // A key held, or one another program has deleted meanwhile.
        const qint64 key =
            below(4) == 0 ? qint64(1 + below(40)) : model.rows[size_t(below(model.count()))].key;
        what = QStringLiteral("ToKey(%1)").arg(key);
        expected = model.toKey(key);
        bool found = false;
        actual = attempt([&] { found = tblMain.ToKey(key); });
        actual.number = found ? 1 : 0;
    } else if (choice < 35) {
        const int distance = below(7) - 3;
        what = QStringLiteral("SkipBy(%1)").arg(distance);
        expected = model.skipBy(distance);
        int moved = 0;
        actual = attempt([&] { moved = tblMain.SkipBy(distance); });
        actual.number = moved;
    } else {
        return std::nullopt;
    }
    return step;
}

// Assigning a field of the current record, in each of the ways the program's fields are assigned.
Step writing(Model &model, RecordSet &tblMain, const std::function<int(int)> &below)
{
    Step step;
    QString &what = step.what;
    Outcome &expected = step.expected;
    Outcome &actual = step.actual;
    // Mostly the two columns the age walk writes, so that the same set of columns is
    // written again in another order, as walks and hand edits do.
    const int column = below(10) < 6    ? 6 + below(2)
                       : below(20) == 0 ? 0
                                        : 1 + below(columnCount - 1);
    Field &field = tblMain.FieldAt(column);
    const QString fieldName = QString::fromUtf8(columnNames[column]);
    const int how = below(3);
    if (how == 0) {
        what = QStringLiteral("%1.clear()").arg(fieldName);
        expected = model.write(column, SqlValue(), {});
        actual = attempt([&] { field.clear(); });
    } else if (how == 1 && isTextColumn(column)) {
        const std::vector<TextCase> cases = textCases(column);
        const TextCase &c = cases[size_t(below(int(cases.size())))];
        what = QStringLiteral("%1.setAsText(%2 chars)").arg(fieldName).arg(c.written.size());
        expected = model.write(column, SqlValue(c.held), {});
        actual = attempt([&] { field.setAsText(c.written); });
    } else if (how == 1) {
        const IntegerTextCase &c =
            integerTextCases()[size_t(below(int(integerTextCases().size())))];
        what = QStringLiteral("%1.setAsText('%2')").arg(fieldName, c.written);
        expected = model.write(column, c.held,
                               QStringLiteral("'%1' is not a valid integer value for field '%2'")
                                   .arg(c.written, fieldName));
        actual = attempt([&] { field.setAsText(c.written); });
    } else {
        const qint64 number = integerCases[below(int(std::size(integerCases)))];
        what = QStringLiteral("%1.setAsInt(%2)").arg(fieldName).arg(number);
        std::optional<SqlValue> held = SqlValue(number);
        if (isTextColumn(column))
            held = SqlValue(QString::number(number).left(textSize(column)));
        else if (number < -2147483648LL || number > 2147483647LL)
            held.reset();
        expected = model.write(
            column, held,
            QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is "
                           "-2147483648 to 2147483647")
                .arg(number)
                .arg(fieldName));
        actual = attempt([&] { field.setAsInt(number); });
    }
    return step;
}

// Editing, posting, cancelling, deleting, rereading and sorting; nothing for another choice.
std::optional<Step> editing(int choice, Model &model, RecordSet &tblMain,
                            const std::function<int(int)> &below)
{
    Step step;
    QString &what = step.what;
    Outcome &expected = step.expected;
    Outcome &actual = step.actual;
    if (choice < 44) {
        what = QStringLiteral("StartEdit");
        expected = model.startEdit();
        actual = attempt([&] { tblMain.StartEdit(); });
    } else if (choice < 49 && model.count() < 16) {
        const bool append = below(2) == 1;
        what = append ? QStringLiteral("StartAppend") : QStringLiteral("StartInsert");
        expected = model.startInsert(append);
        actual = attempt([&] { append ? tblMain.StartAppend() : tblMain.StartInsert(); });
    } else if (choice < 70) {
        step = writing(model, tblMain, below);
    } else if (choice < 76) {
        what = QStringLiteral("PostRecord");
        expected = model.post();
        actual = attempt([&] { tblMain.PostRecord(); });
    } else if (choice < 80) {
        what = QStringLiteral("CancelRecord");
        model.cancel();
        actual = attempt([&] { tblMain.CancelRecord(); });
    } else if (choice < 84) {
        what = QStringLiteral("DeleteRecord");
        expected = model.remove();
        actual = attempt([&] { tblMain.DeleteRecord(); });
    } else if (choice < 88) {
        what = QStringLiteral("Reread");
        expected = model.reread();
        actual = attempt([&] { tblMain.Reread(); });
    } else if (choice < 92) {
        const int sortable[] = {-1, 0, 1, 3, 6, 7};
        const int column = sortable[below(int(std::size(sortable)))];
        const QString fieldName =
            column < 0 ? QString() : QString::fromUtf8(columnNames[column]).toLower();
        what = QStringLiteral("SortOrder := '%1'").arg(fieldName);
        expected = model.sortBy(column);
        actual = attempt([&] { tblMain.setSortOrder(fieldName); });
    } else {
        return std::nullopt;
    }
    return step;
}

// Another program inserting, deleting or changing a row.
std::optional<Step> elsewhere(int choice, Model &model, OtherProgram &other,
                              const std::function<int(int)> &below)
{
    Step step;
    QString &what = step.what;
    if (model.file.empty() || (choice < 95 && model.file.size() < 12)) {
        const qint64 key = model.insertedElsewhere();
        what = QStringLiteral("another program inserts %1").arg(key);
        other.insert(key, QString());
    } else {
        auto row = model.file.begin();
        std::advance(row, below(int(model.file.size())));
        const qint64 key = row->first;
        if (choice < 97) {
            what = QStringLiteral("another program deletes %1").arg(key);
            other.remove(key);
            model.file.erase(row);
            model.touched.push_back(key);
        } else {
            const int column = 1 + below(columnCount - 1);
            const std::vector<SqlValue> values = other.valuesFor(column);
            const SqlValue value = values[size_t(below(int(values.size())))];
            what = QStringLiteral("another program sets %1 of %2 to %3")
                       .arg(QString::fromUtf8(columnNames[column]))
                       .arg(key)
                       .arg(describe(value));
            row->second[size_t(column)] = other.set(key, column, value);
            ++model.changesElsewhere[key];
            model.touched.push_back(key);
        }
    }
    return step;
}

// Another program's first people, then the record set opened on them; what that program did
// before the opening is read already: its notices, to the last, are put away.
std::optional<QString> openAfterOthers(Model &model, RecordSet &tblMain, OtherProgram &other,
                                       const std::function<int(int)> &below)
{
    model.everyChangeCounts = other.everyChangeCounts();
    const int initial = below(5);
    for (int i = 0; i < initial; ++i) {
        const qint64 key = model.insertedElsewhere();
        const QString name = QStringLiteral("Человек %1").arg(key);
        model.file[key][1] = name;
        other.insert(key, name);
    }
    tblMain.setActive(true);
    model.open();
    // What another program did before the opening is read already: its notices, to the last,
    // are put away.
    model.touched.clear();
    Connection &connection = tblMain.connection();
    bool ended = !other.markEnd();
    const QDeadlineTimer deadline(5000);
    do {
        for (const OthersChanges::Table &told : connection.engine().othersChanges().tables)
            ended = ended || told.name == QStringLiteral("end");
        pollfd news{connection.changeSignal(), POLLIN, 0};
        if (!ended)
            poll(&news, 1, 100);
    } while (!ended && !deadline.hasExpired());
    if (!ended)
        return QStringLiteral("the server's notices never came");
    return std::nullopt;
}

// What other programs committed reaches the record set, as the program's watch brings it. A
// server's notices come on a connection of their own: the step waits for them, and takes each as
// it comes, until the record set agrees or 5 s pass.
Step othersShown(Model &model, RecordSet &tblMain, OtherProgram &other)
{
    Step step{
        QStringLiteral("the record set takes other programs' changes"), model.othersShown(), {}};
    Connection &connection = tblMain.connection();
    const QDeadlineTimer deadline(connection.changeSignal() < 0 ? 0 : 5000);
    do {
        step.actual = attempt([&] { connection.showOthersChanges(); });
        pollfd news{connection.changeSignal(), POLLIN, 0};
        if (news.fd >= 0 && RecordSetModelTest::compare(model, tblMain, other))
            poll(&news, 1, 100);
    } while (!deadline.hasExpired() && RecordSetModelTest::compare(model, tblMain, other));
    return step;
}

std::optional<QString> RecordSetModelTest::walk(RecordSet &tblMain, OtherProgram &other,
                                                unsigned seed, int steps)
{
    std::mt19937 random(seed);
    const auto below = [&](int n) {
        return int(std::uniform_int_distribution<int>(0, n - 1)(random));
    };

    Model model;
    if (std::optional<QString> failed = openAfterOthers(model, tblMain, other, below))
        return QStringLiteral("seed %1: %2").arg(seed).arg(*failed);

    // A watcher, and now and then a stretch with the controls disabled: the watcher hears nothing
    // then, and one refresh, ending with "changed", when they are enabled again.
    Recorder watcher;
    tblMain.attach(&watcher);
    bool quiet = false;
    const auto leave = qScopeGuard([&] {
        if (quiet)
            tblMain.EnableControls();
        tblMain.detach(&watcher);
    });

    QStringList log;
    for (int step = 0; step < steps; ++step) {
        QString heardWhileQuiet;
        if (below(25) == 0) {
            if (!quiet) {
                tblMain.DisableControls();
                log << QStringLiteral("(controls disabled)");
            } else {
                watcher.events.clear();
                tblMain.EnableControls();
                log << QStringLiteral("(controls enabled: %1)").arg(watcher.events.join(u','));
                if (!watcher.events.isEmpty() &&
                    (watcher.events.first() != QStringLiteral("state") ||
                     watcher.events.last() != QStringLiteral("changed")))
                    heardWhileQuiet = QStringLiteral("enabling told ") + watcher.events.join(u',');
            }
            quiet = !quiet;
        }
        watcher.events.clear();
        const int choice = below(100);
        std::optional<Step> done = movement(choice, model, tblMain, below);
        if (!done)
            done = editing(choice, model, tblMain, below);
        if (!done && below(3) == 0)
            done = othersShown(model, tblMain, other);
        if (!done)
            done = elsewhere(choice, model, other, below);
        const QString &what = done->what;
        const Outcome &expected = done->expected;
        const Outcome &actual = done->actual;
        log << QStringLiteral("%1. %2").arg(step + 1).arg(what);
        std::optional<QString> difference;
        if (quiet && !watcher.events.isEmpty())
            heardWhileQuiet = QStringLiteral("heard %1 while the controls were disabled")
                                  .arg(watcher.events.join(u','));
        if (!heardWhileQuiet.isEmpty())
            difference = heardWhileQuiet;
        else if (!(actual == expected))
            difference =
                QStringLiteral("%1, expected %2").arg(describe(actual), describe(expected));
        else
            difference = compare(model, tblMain, other);
        if (difference) {
            // Steps before this one all agreed: the log is the shortest failing prefix.
            return QStringLiteral("seed %1, step %2: %3\n%4")
                .arg(seed)
                .arg(step + 1)
                .arg(*difference,
                     log.mid(std::max<qsizetype>(0, log.size() - 60)).join(QLatin1Char('\n')));
        }
    }
    return std::nullopt;
}

} // namespace

namespace {

std::vector<unsigned> seedsToRun()
{
    std::vector<unsigned> seeds;
    if (qEnvironmentVariableIsSet("REESTR_MODEL_SEED")) {
        seeds.push_back(unsigned(environmentNumber("REESTR_MODEL_SEED", 1)));
    } else {
        const int count = environmentNumber("REESTR_MODEL_SEEDS", 6);
        for (int i = 1; i <= count; ++i)
            seeds.push_back(unsigned(i));
    }
    return seeds;
}

void walkEverySeed(RecordSet &tblMain, OtherProgram &other, int steps)
{
    for (unsigned seed : seedsToRun()) {
        // Each seed starts from an empty register and a closed record set.
        tblMain.setActive(false);
        other.clear();
        if (const std::optional<QString> failure =
                RecordSetModelTest::walk(tblMain, other, seed, steps)) {
            ADD_FAILURE() << failure->toStdString() << "\n(rerun with REESTR_MODEL_SEED=" << seed
                          << ")";
            return;
        }
    }
}

} // namespace

TEST_F(RecordSetModelTest, RandomOperationsAgreeWithTheModelAfterEveryStep)
{
    FileProgram other(db);
    walkEverySeed(tblMain, other, environmentNumber("REESTR_MODEL_STEPS", 1500));
}

// The same walk and the same model on a register on the server: the record sets behave alike
// whatever engine keeps the register.
TEST(RecordSetModelOnServer, RandomOperationsAgreeWithTheModelAfterEveryStep)
{
    ServerDatabase db;
    REQUIRE_SERVER(db);
    Connection connection(QString(), db.conninfo());
    RecordSet tblMain(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
    tblMain.setTableName(QStringLiteral("Main"));
    ServerProgram other(db);
    // Each step is a round trip to the server: fewer of them.
    walkEverySeed(tblMain, other, environmentNumber("REESTR_MODEL_STEPS", 400));
}
