// Writes the report of the birthday search for March over the demo register into FOLDER, the way
// "ПЕЧАТЬ" does, and prints the file's path. Used to look at the report in a spreadsheet program.
#include "register/DatabaseTool.h"
#include "platform/Desktop.h"
#include "platform/Error.h"
#include "platform/Spreadsheet.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"
#include "service/Report.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (app.arguments().size() != 2) {
        QTextStream(stderr) << "Usage: sample-report FOLDER\n";
        return 2;
    }
    try {
        QTemporaryDir scratch;
        const QString database = scratch.filePath(QStringLiteral("Base.mdb"));
        DatabaseTool::createDatabase(database, true, 2026);
        Connection connection(database);
        RecordSet list(QStringLiteral("qryZapros1"), connection, RecordSet::Kind::Query);
        list.SQL().add(QStringLiteral("select *"));
        list.SQL().add(QStringLiteral("from Main"));
        list.SQL().add(QStringLiteral("where Месяц like  '3' "));
        list.setActive(true);
        Spreadsheet::Session::setOutputFolder(app.arguments().at(1));
        Desktop::setDocumentOpener([&out](const QString &path) { out << path << '\n'; });
        Report::exportList(list);
    } catch (const Error &e) {
        QTextStream(stderr) << e.message() << '\n';
        return 1;
    }
    return 0;
}
