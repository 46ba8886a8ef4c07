// reestr-db, the database tool: creates a register in a file or on a server, and converts the old
// program's Access file. The work itself is done by the dbtool library; this is its command line.
#include "register/DatabaseTool.h"
#include "register/JetImport.h"
#include "register/RegisterCopy.h"
#include "register/ServerRegister.h"
#include "Interrupts.h"
#include "platform/Error.h"
#include "platform/FileSystems.h"
#include "platform/Russian.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <optional>
#include <termios.h>
#include <unistd.h>

namespace {

const char usage[] =
    "Usage:\n"
    "  reestr-db --version                           print the version and stop\n"
    "  reestr-db init [--demo] [FILE]                create a new database (default: Base.mdb)\n"
    "  reestr-db init [--demo] --server CONNINFO     create the register in a PostgreSQL database\n"
    "                                                (a libpq connection string or URI)\n"
    "  reestr-db upgrade [FILE | --server CONNINFO]  bring a register made by an earlier version\n"
    "                                                up to date (default FILE: Base.mdb)\n"
    "  reestr-db copy FROM TO                        copy a register, keys kept, into a new one;\n"
    "                                                each side is a file or --server CONNINFO\n"
    "  reestr-db import [--codepage CP] [--skip-unsupported] [--verbose]\n"
    "                   OLD [NEW | --server CONNINFO]\n"
    "                                                copy an old Access file into a new database\n"
    "                                                (default NEW: Base.mdb; Access 97 texts:\n"
    "                                                CP1251 when mostly Cyrillic, else the file's\n"
    "                                                code page). --skip-unsupported leaves out,\n"
    "                                                and names, columns that cannot be read.\n"
    "                                                With OLD the old Base.mdb itself and no NEW,\n"
    "                                                the old file is kept as Base.access.mdb.\n";

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int usageError()
{
    err() << usage;
    return 2;
}

// A password the server asks for, read from the terminal without echo; none without a terminal.
std::optional<QString> askPasswordOnTerminal(const QString &question)
{
    if (!isatty(fileno(stdin)))
        return std::nullopt;
    err() << question << ' ' << Qt::flush;
    termios saved{};
    tcgetattr(fileno(stdin), &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    tcsetattr(fileno(stdin), TCSANOW, &quiet);
    QTextStream in(stdin);
    const QString password = in.readLine();
    tcsetattr(fileno(stdin), TCSANOW, &saved);
    err() << '\n';
    return password;
}

// Parses a command's own options; false (usage given) on anything it does not take, an option
// given twice included.
bool parse(QCommandLineParser &parser, const QStringList &arguments, qsizetype maxPositional)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList{QStringLiteral("reestr-db")} + arguments))
        return false;
    QStringList seen = parser.optionNames();
    seen.removeDuplicates();
    return seen.size() == parser.optionNames().size() &&
           parser.positionalArguments().size() <= maxPositional;
}

int init(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption demo(QStringLiteral("demo"));
    const QCommandLineOption server(QStringLiteral("server"), QString(),
                                    QStringLiteral("CONNINFO"));
    parser.addOptions({demo, server});
    if (!parse(parser, arguments, 1))
        return usageError();
    const bool withDemo = parser.isSet(demo);
    if (parser.isSet(server)) {
        if (!parser.positionalArguments().isEmpty())
            return usageError();
        try {
            const QString where = DatabaseTool::createServerRegister(
                parser.value(server), withDemo, QDate::currentDate().year(), askPasswordOnTerminal);
            out() << "Создан реестр" << (withDemo ? " с примерами" : "") << " (" << where << ")\n";
        } catch (const Error &e) {
            err() << "reestr-db: " << e.message() << '\n';
            return 1;
        }
        return 0;
    }
    const QString file = parser.positionalArguments().value(0, QStringLiteral("Base.mdb"));
    try {
        DatabaseTool::createDatabase(file, withDemo, QDate::currentDate().year());
    } catch (const Error &e) {
        err() << "reestr-db: " << e.message() << '\n';
        return 1;
    }
    out() << "Создана база данных " << file << (withDemo ? " с примерами" : "") << '\n';
    const QString share = networkFileSystem(file);
    if (!share.isEmpty()) {
        out() << "Файл лежит в сетевой папке (" << share
              << "): он ведётся с журналом отката, без журнала упреждающей записи. Если с "
                 "реестром работают несколько компьютеров, храните его на сервере баз данных "
                 "PostgreSQL: reestr-db init --server.\n";
    }
    return 0;
}

// Progress only where somebody watches it: a line per table, rewritten as rows are done and left
// standing when the table is whole. Nothing when the errors go to a file or a pipe.
void showProgress(const QString &table, qint64 done, qint64 total)
{
    static const bool terminal = isatty(fileno(stderr));
    static QString finished;
    if (!terminal || table == finished)
        return;
    err() << "\r  " << table << ": " << done << ' ' << ofRows(total);
    if (done >= total) {
        err() << '\n';
        finished = table;
    }
    err().flush();
}

// A register holds only its own tables and columns: what a copy leaves out is named, never
// dropped in silence.
void tellLeftOut(const RegisterCopy::Side &from)
{
    const QStringList left = RegisterCopy::leftOut(from);
    if (!left.isEmpty()) {
        err() << "Не копируются (реестр хранит только свои таблицы и столбцы): "
              << left.join(QStringLiteral(", ")) << '\n'
              << Qt::flush;
    }
}

// The rows of each table, under a heading.
template <typename Tables> void printTables(const QString &heading, const Tables &tables)
{
    out() << heading << ":\n";
    for (const auto &table : tables)
        out() << "  " << table.table << ": " << rowsCount(table.rows) << '\n';
}

int copy(const QStringList &arguments)
{
    // Each side in its place: a file, or --server CONNINFO.
    QList<RegisterCopy::Side> sides;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--server") && i + 1 < arguments.size())
            sides.append({QString(), arguments[++i]});
        else if (!arguments[i].startsWith(QLatin1Char('-')))
            sides.append({arguments[i], QString()});
        else
            return usageError();
    }
    if (sides.size() != 2 || (!sides[0].onServer() && !sides[1].onServer() &&
                              QFileInfo(sides[0].file) == QFileInfo(sides[1].file)))
        return usageError();
    try {
        tellLeftOut(sides[0]);
        const InterruptGuard interrupts;
        const QList<RegisterCopy::TableCount> tables = RegisterCopy::copy(
            sides[0], sides[1], showProgress, askPasswordOnTerminal, &InterruptGuard::interrupted);
        printTables(QStringLiteral("Реестр скопирован"), tables);
    } catch (const Error &e) {
        err() << "reestr-db: " << e.message() << '\n';
        return 1;
    }
    return 0;
}

// An old Access file straight into a register on a server: imported into a temporary file first,
// with every check of the import, then copied to the server in one transaction.
int importToServer(JetImport::Options options, const QString &server)
{
    QTemporaryDir work;
    if (!work.isValid()) {
        err() << "reestr-db: " << work.errorString() << '\n';
        return 1;
    }
    options.target = work.filePath(QStringLiteral("Base.mdb"));
    options.notice = [](const QString &text) { err() << text << '\n' << Qt::flush; };
    try {
        const InterruptGuard interrupts;
        JetImport::importDatabase(options, showProgress);
        tellLeftOut({options.target, QString()});
        const QList<RegisterCopy::TableCount> tables =
            RegisterCopy::copy({options.target, QString()}, {QString(), server}, showProgress,
                               askPasswordOnTerminal, &InterruptGuard::interrupted);
        printTables(QStringLiteral("Импортировано на сервер"), tables);
    } catch (const Error &e) {
        err() << "reestr-db: " << e.message() << '\n';
        return 1;
    }
    return 0;
}

int import(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption codepage(QStringLiteral("codepage"), QString(), QStringLiteral("CP"));
    const QCommandLineOption verbose(QStringLiteral("verbose"));
    const QCommandLineOption skipUnsupported(QStringLiteral("skip-unsupported"));
    const QCommandLineOption server(QStringLiteral("server"), QString(),
                                    QStringLiteral("CONNINFO"));
    parser.addOptions({codepage, verbose, skipUnsupported, server});
    if (!parse(parser, arguments, 2) || parser.positionalArguments().isEmpty() ||
        (parser.isSet(codepage) && parser.value(codepage).isEmpty()) ||
        (parser.isSet(server) && parser.positionalArguments().size() > 1))
        return usageError();
    JetImport::Options options;
    options.stopRequested = &InterruptGuard::interrupted;
    if (parser.isSet(codepage))
        options.codepage = parser.value(codepage);
    options.verbose = parser.isSet(verbose);
    options.skipUnsupported = parser.isSet(skipUnsupported);
    const QStringList files = parser.positionalArguments();
    if (parser.isSet(server)) {
        options.source = files[0];
        return importToServer(options, parser.value(server));
    }
    options.source = files[0];
    options.target = files.value(1, QStringLiteral("Base.mdb"));
    // The old program's Base.mdb converted where it lies: it is kept under another name.
    const QFileInfo source(options.source);
    const QFileInfo target(options.target);
    if (files.size() == 1 && source.isFile() && target.exists() &&
        source.canonicalFilePath() == target.canonicalFilePath())
        options.keepOldAs = JetImport::keptName(options.target);

    options.notice = [](const QString &text) {
        err() << text << '\n';
        err().flush();
    };
    try {
        // From here on Ctrl+C or a termination stops the import, which cleans up after itself.
        const InterruptGuard interrupts;
        const QList<JetImport::TableSummary> tables =
            JetImport::importDatabase(options, showProgress);
        if (!options.keepOldAs.isEmpty()) {
            out() << "Старая база Access сохранена как " << QFileInfo(options.keepOldAs).fileName()
                  << "\n";
        }
        out() << "Импортировано в " << options.target << ":\n";
        for (const JetImport::TableSummary &table : tables)
            out() << "  " << table.name << ": " << rowsCount(table.rows) << '\n';
    } catch (const Error &e) {
        err() << "reestr-db: " << e.message() << '\n';
        return 1;
    }
    return 0;
}

int upgrade(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption server(QStringLiteral("server"), QString(),
                                    QStringLiteral("CONNINFO"));
    parser.addOption(server);
    if (!parse(parser, arguments, 1) ||
        (parser.isSet(server) && !parser.positionalArguments().isEmpty()))
        return usageError();
    try {
        if (parser.isSet(server))
            out() << DatabaseTool::upgradeServerRegister(parser.value(server),
                                                         askPasswordOnTerminal)
                  << "\n";
        else
            out() << DatabaseTool::upgradeFileRegister(
                         parser.positionalArguments().value(0, QStringLiteral("Base.mdb")))
                  << "\n";
    } catch (const Error &e) {
        err() << "reestr-db: " << e.message() << '\n';
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    const QString command = arguments.value(0);
    int status = 2;
    if (arguments.size() == 1 && command == QLatin1String("--version")) {
        out() << "reestr-db " << REESTR_VERSION << "\n";
        status = 0;
    } else if (arguments.size() == 1 &&
               (command == QLatin1String("--help") || command == QLatin1String("-h"))) {
        out() << usage;
        status = 0;
    } else if (command == QLatin1String("init")) {
        status = init(arguments.mid(1));
    } else if (command == QLatin1String("upgrade")) {
        status = upgrade(arguments.mid(1));
    } else if (command == QLatin1String("copy")) {
        status = copy(arguments.mid(1));
    } else if (command == QLatin1String("import")) {
        status = import(arguments.mid(1));
    } else {
        status = usageError();
    }
    out().flush();
    err().flush();
    return status;
}
