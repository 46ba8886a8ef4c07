#include "Archive.h"

#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "recordset/Connection.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

namespace Service {

QString archiverProgram()
{
    return QStringLiteral("rar");
}

QStringList archiverArguments(const QString &currentFolder, const QString &database)
{
    const QDir folder(currentFolder);
    return {QStringLiteral("a"),
            QStringLiteral("-o+"),
            QStringLiteral("-r"),
            QStringLiteral("-s-"),
            QStringLiteral("-y"),
            QStringLiteral("-ag[DD.MM.YYYY]"),
            QStringLiteral("-dh"),
            QStringLiteral("-ep1"),
            folder.filePath(QStringLiteral("Archiv/Архив.rar")),
            database.isEmpty() ? folder.filePath(QStringLiteral("Base.mdb")) : database};
}

QStringList sevenZipArguments(const QString &currentFolder, const QDate &day,
                              const QString &database)
{
    const QDir folder(currentFolder);
    return {
        QStringLiteral("a"),
        QStringLiteral("-t7z"),
        QStringLiteral("-y"),
        QStringLiteral("-ssw"), // Base.mdb is open in this program
        folder.filePath(
            QStringLiteral("Archiv/Архив%1.7z").arg(day.toString(QStringLiteral("dd.MM.yyyy")))),
        database.isEmpty() ? folder.filePath(QStringLiteral("Base.mdb")) : database};
}

void startArchive(Connection &connection)
{
    // Everything posted goes into the file itself first. Another copy of the program in the
    // middle of writing would hold the checkpoint up: the user is told at once instead.
    if (!connection.checkpointUnlessBusy()) {
        throw Error(QStringLiteral("Другая копия программы сейчас записывает в базу данных. "
                                   "Повторите архивацию через несколько секунд"));
    }
    const QString here = QDir::currentPath();
    // A register on a server is archived as the file the program opens like any register: a
    // Base.mdb written from it now, kept until the archiver is done with it.
    std::shared_ptr<QTemporaryDir> snapshot;
    QString database;
    if (connection.onServer()) {
        snapshot = std::make_shared<QTemporaryDir>();
        if (!snapshot->isValid())
            throw Error(snapshot->errorString());
        database = snapshot->filePath(QStringLiteral("Base.mdb"));
        connection.snapshot(database);
    } else if (connection.fileName() != QLatin1String("Base.mdb")) {
        database = QFileInfo(connection.fileName()).absoluteFilePath(); // opened by `--file`
    }
    QString program = archiverProgram();
    QStringList arguments = archiverArguments(here, database);
    // RAR is not in Debian's main archive; 7-Zip is. The folder rule stays: no Archiv, no archive.
    if (!Desktop::isInstalled(program) && Desktop::isInstalled(QStringLiteral("7zz"))) {
        program = QStringLiteral("7zz");
        arguments = sevenZipArguments(here, QDate::currentDate(), database);
        if (!QDir(here).exists(QStringLiteral("Archiv"))) {
            throw Error(QStringLiteral("Архивация не выполнена: в папке «%1» нет папки «Archiv»")
                            .arg(QDir::toNativeSeparators(here)));
        }
    }
    // A console archiver shows nothing of its own: its failure comes to the error box when it
    // ends; success shows nothing. The handler does not wait for it.
    const auto outcome = [program, snapshot](bool succeeded, const QString &output) {
        if (!succeeded) {
            Dialogs::current().showError(
                QStringLiteral("Архиватор «%1» сообщил об ошибке:\n%2").arg(program, output));
        }
    };
    if (!Desktop::startProgram(program, arguments, outcome)) {
        throw Error(
            QStringLiteral("Не удаётся запустить архиватор «%1» (или «7zz»): он не установлен или "
                           "не может быть запущен")
                .arg(archiverProgram()));
    }
}

} // namespace Service
