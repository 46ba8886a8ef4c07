#pragma once

#include <QString>
#include <QStringList>

class QDate;

class Connection;

// "АРХИВАЦИЯ": the register packed into Archiv/ of the current folder.
namespace Service {

// The archiver and what it is given: the database in the current folder (or `database`, a file
// written from a register on a server), packed into Archiv/Архив.rar there, with the date added to
// the archive's name.
QString archiverProgram();
QStringList archiverArguments(const QString &currentFolder, const QString &database = QString());
// Where RAR is not installed: 7-Zip writes Archiv/Архив<DD.MM.YYYY>.7z holding Base.mdb.
QStringList sevenZipArguments(const QString &currentFolder, const QDate &day,
                              const QString &database = QString());

// Starts the archiver on Base.mdb of the current folder without waiting for it. Every posted
// change is first moved from the engine's log into the file itself, so the archive misses
// nothing; while another copy of the program is writing, that fails at once with a message. A
// register on a server is first written into a Base.mdb of its own, which the archiver packs.
// Fails when no archiver can be started; when the archiver later ends with an error, its own
// message comes to the error box.
void startArchive(Connection &connection);

} // namespace Service
