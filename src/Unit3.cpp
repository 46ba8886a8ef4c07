#include "Unit3.h"

#include "Application.h"

TfrmInsert *frmInsert = nullptr;

TfrmInsert::TfrmInsert(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmInsert"));
    setWindowTitle(QStringLiteral("НОВАЯ ЗАПИСЬ"));
    setFont(Application::windowFont());
}

TfrmInsert::~TfrmInsert() = default;
