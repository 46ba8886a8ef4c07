#include "Unit1.h"

#include "Application.h"

TfrmMain *frmMain = nullptr;

TfrmMain::TfrmMain(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("ЛАРВЕНСКИЙ КОЛЛЕДЖ"));
    setFont(Application::windowFont());
    resize(1024, 700);
}

TfrmMain::~TfrmMain() = default;
