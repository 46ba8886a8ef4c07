#include "Service.h"

#include "platform/Desktop.h"
#include "platform/Error.h"
#include "recordset/Connection.h"

#include <QCoreApplication>
#include <QDir>

namespace Service {

QString archiverProgram()
{
    return QStringLiteral("rar");
}

QStringList archiverArguments(const QString &currentFolder)
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
            folder.filePath(QStringLiteral("Base.mdb"))};
}

void startArchive(Connection &connection)
{
    if (connection.isOpen())
        connection.engine().checkpoint();
    if (!Desktop::startProgram(archiverProgram(), archiverArguments(QDir::currentPath()))) {
        // A console archiver shows nothing of its own: without this the user would never know.
        throw Error(
            QStringLiteral("Не удаётся запустить архиватор «%1»: он не установлен или не может "
                           "быть запущен")
                .arg(archiverProgram()));
    }
}

QString manualPath()
{
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral("РУКОВОДСТВО ТЕРВАНОК.pdf"));
}

void openManual()
{
    Desktop::openDocument(manualPath());
}

QString aboutText()
{
    const QString gap = QStringLiteral("\r\r\r");
    return QString(31, QLatin1Char(' ')) + QStringLiteral("РАЗРАБОТЧИК:") + gap +
           QStringLiteral("СТУДЕНТЫ ЛАРВЕНСКОГО КОЛЛЕДЖА, Г. ЛАРВЕНСК") + gap +
           QString(28, QLatin1Char(' ')) + QStringLiteral("КОМАНДА ПРОЕКТА «РЕЕСТР»") + gap +
           QString(38, QLatin1Char(' ')) + QStringLiteral("Ларвенск, 2026");
}

} // namespace Service
