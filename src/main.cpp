#include "Application.h"
#include "Unit1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Application::registerFonts();

    frmMain = new TfrmMain;
    frmMain->showMaximized();
    const int status = app.exec();
    delete frmMain;
    return status;
}
