#include "windows/Startup.h"

#include "windows/Application.h"
#include "windows/MainWindow.h"
#include "windows/DataModule.h"
#include "windows/NewRecordWindow.h"
#include "windows/ReferenceBooksWindow.h"
#include "controls/DBGrid.h"

#include <QGuiApplication>

#include <utility>

namespace Startup {

namespace {

QString &server()
{
    static QString chosen;
    return chosen;
}

QString &file()
{
    static QString chosen = QStringLiteral("Base.mdb");
    return chosen;
}

void createMainWindow()
{
    frmMain = new TfrmMain;
}
// Each window binds its controls to the data module's data sources as soon as both exist; the
// data module knows no window. The main window's controls are linked before the tables open, so
// a field a table lacks is reported by its control as the table opens, and is not fatal.
void createDataModule()
{
    DM = new TDM(server(), file());
    frmMain->linkDataControls(*DM);
    // Reaching a server and reading its tables may take the network's time.
    if (!server().isEmpty())
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const struct RestoreCursor
    {
        bool set;
        ~RestoreCursor()
        {
            if (set)
                QGuiApplication::restoreOverrideCursor();
        }
    } restoreCursor{!server().isEmpty()};
    DM->open();
}
void createInsertWindow()
{
    frmInsert = new TfrmInsert;
    frmInsert->linkDataControls(*DM);
}
void createReferenceWindow()
{
    frmSprav = new TfrmSprav;
    frmSprav->linkDataControls(*DM);
}

} // namespace

void setServer(const QString &chosen)
{
    server() = chosen;
}

void setFile(const QString &chosen)
{
    file() = chosen;
}

bool createAll(const std::function<void(const std::exception &, Step)> &failed)
{
    for (Step step :
         {createMainWindow, createDataModule, createInsertWindow, createReferenceWindow}) {
        try {
            step();
        } catch (const std::exception &e) {
            failed(e, step);
            destroyAll();
            return false;
        }
    }
    return true;
}

void showMainWindow()
{
    Application::showMainWindow(frmMain, frmMain->restoredOuterSize());
    frmMain->dbgrd1->setFocus();
}

void destroyAll()
{
    delete std::exchange(frmSprav, nullptr);
    delete std::exchange(frmInsert, nullptr);
    delete std::exchange(DM, nullptr);
    delete std::exchange(frmMain, nullptr);
}

} // namespace Startup
