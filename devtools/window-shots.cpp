// Renders the new record window and the reference books window over a database in the current
// folder into PNG files in FOLDER, for the user manual. Run it on a real display (Xvfb will do).
#include "windows/Application.h"
#include "windows/Startup.h"
#include "windows/MainWindow.h"
#include "windows/DataModule.h"
#include "windows/NewRecordWindow.h"
#include "windows/ReferenceBooksWindow.h"
#include "controls/MessageDialogs.h"

#include <QAction>
#include <QDir>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    ReestrApplication app(argc, argv);
    if (app.arguments().size() != 2)
        return 2;
    const QDir out(app.arguments().at(1));
    Application::registerFonts();
    MessageDialogs dialogs;
    Dialogs::install(&dialogs);
    if (!Startup::createAll([](const std::exception &e, Startup::Step) {
            std::fprintf(stderr, "window-shots: %s\n", e.what());
        }))
        return 1;
    frmMain->show();

    QTimer::singleShot(300, [] { frmMain->N1->trigger(); });
    QTimer::singleShot(900, [&] {
        frmInsert->grab().save(out.filePath(QStringLiteral("new-record.png")));
        frmInsert->close();
    });
    QTimer::singleShot(1200, [] { frmMain->N2->trigger(); });
    QTimer::singleShot(1800, [&] {
        frmSprav->pgc1->setCurrentIndex(0);
        QCoreApplication::processEvents();
        frmSprav->grab().save(out.filePath(QStringLiteral("reference-books.png")));
        frmSprav->close();
    });
    QTimer::singleShot(2100, [] { QCoreApplication::quit(); });
    ReestrApplication::exec();

    Startup::destroyAll(); // the pending new record is dropped without being stored
    return 0;
}
