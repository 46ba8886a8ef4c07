#include "Unit4.h"

#include "Application.h"

TfrmSprav *frmSprav = nullptr;

TfrmSprav::TfrmSprav(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmSprav"));
    setWindowTitle(QStringLiteral("СПРАВОЧНИКИ"));
    setFont(Application::windowFont());
}

TfrmSprav::~TfrmSprav() = default;
