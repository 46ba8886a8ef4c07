#pragma once

#include <QString>

class Connection;

// The service commands of the main window's menu.
namespace Service {

// The archiver and what it is given: the database in the current folder, packed into
// Archiv/Архив.rar there, with the date added to the archive's name.
QString archiverProgram();
QStringList archiverArguments(const QString &currentFolder);

// Starts the archiver on Base.mdb of the current folder, detached. Every posted change is first
// moved from the engine's log into the file itself, so the archive misses nothing. Fails when the
// archiver cannot be started at all; what it does afterwards is its own matter.
void startArchive(Connection &connection);

// The user manual: a PDF beside the program's executable, whatever the current folder.
QString manualPath();
void openManual();

// The text of the About box: four blocks, centred by leading blanks, three carriage returns
// between them.
QString aboutText();

} // namespace Service
