#include "windows/ReferenceBooksWindow.h"

#include "windows/Application.h"
#include "windows/DataModule.h"
#include "controls/DBGrid.h"
#include "controls/DBNavigator.h"

#include <QTabWidget>

TfrmSprav *frmSprav = nullptr;

namespace {

constexpr int clientWidth = 350;
constexpr int clientHeight = 634;

} // namespace

TfrmSprav::TfrmSprav(QWidget *parent) : QWidget(parent, Application::fixedDialogFlags())
{
    setObjectName(QStringLiteral("frmSprav"));
    setWindowTitle(QStringLiteral("СПРАВОЧНИКИ"));
    setFont(Application::windowFont());
    setFixedSize(Application::scaled(QSize(clientWidth, clientHeight)));

    pgc1 = new QTabWidget(this);
    pgc1->setObjectName(QStringLiteral("pgc1"));
    pgc1->setGeometry(rect());
    ts1 = new QWidget;
    ts2 = new QWidget;
    ts3 = new QWidget;
    ts1->setObjectName(QStringLiteral("ts1"));
    ts2->setObjectName(QStringLiteral("ts2"));
    ts3->setObjectName(QStringLiteral("ts3"));
    pgc1->addTab(ts1, QStringLiteral("ГОД"));
    pgc1->addTab(ts2, QStringLiteral("МЕСЯЦ"));
    pgc1->addTab(ts3, QStringLiteral("ЧИСЛО"));

    dbgrd1 = Application::place<DBGrid>(ts1, "dbgrd1", 14, 6, 318, 496);
    dbnvgr1 = Application::place<DBNavigator>(ts1, "dbnvgr1", 18, 513, 300, 34);
    dbgrd2 = Application::place<DBGrid>(ts2, "dbgrd2", 18, 15, 308, 382);
    dbnvgr2 = Application::place<DBNavigator>(ts2, "dbnvgr2", 18, 406, 300, 32);
    dbgrd3 = Application::place<DBGrid>(ts3, "dbgrd3", 14, 5, 291, 510);
    dbnvgr3 = Application::place<DBNavigator>(ts3, "dbnvgr3", 14, 525, 280, 32);
    dbgrd1->setColumns({{QStringLiteral("Год"), QString(), nullptr}});
    dbgrd2->setColumns({{QStringLiteral("Месяц"), QString(), nullptr}});
    dbgrd3->setColumns({{QStringLiteral("Число"), QString(), nullptr}});
    dbgrd1->setAccessibleName(QStringLiteral("ГОД"));
    dbgrd2->setAccessibleName(QStringLiteral("МЕСЯЦ"));
    dbgrd3->setAccessibleName(QStringLiteral("ЧИСЛО"));

    // The first opening shows the months; later ones the page the user left open.
    pgc1->setCurrentWidget(ts2);
}

TfrmSprav::~TfrmSprav() = default;

void TfrmSprav::linkDataControls(TDM &dataModule)
{
    dbgrd1->setDataSource(&dataModule.dsGod);
    dbnvgr1->setDataSource(&dataModule.dsGod);
    dbgrd2->setDataSource(&dataModule.dsMesyats);
    dbnvgr2->setDataSource(&dataModule.dsMesyats);
    dbgrd3->setDataSource(&dataModule.dsChislo);
    dbnvgr3->setDataSource(&dataModule.dsChislo);
}
