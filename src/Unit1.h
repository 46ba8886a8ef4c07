#pragma once

#include <QMainWindow>

// The main window.
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;
};

extern TfrmMain *frmMain;
