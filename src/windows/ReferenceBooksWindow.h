#pragma once

#include <QWidget>

class DBGrid;
class DBNavigator;
class QTabWidget;
class TDM;

// The reference books window: the years, months and day numbers the office keeps.
class TfrmSprav : public QWidget
{
    Q_OBJECT

public:
    explicit TfrmSprav(QWidget *parent = nullptr);
    ~TfrmSprav() override;

    void linkDataControls(TDM &dataModule);

    QTabWidget *pgc1;
    QWidget *ts1;
    QWidget *ts2;
    QWidget *ts3;
    DBGrid *dbgrd1;
    DBNavigator *dbnvgr1;
    DBGrid *dbgrd2;
    DBNavigator *dbnvgr2;
    DBGrid *dbgrd3;
    DBNavigator *dbnvgr3;
};

extern TfrmSprav *frmSprav;
