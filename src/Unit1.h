#pragma once

#include <QMainWindow>

class QComboBox;
class QLabel;
class QPushButton;

// The main window: the register of people, the age calculation, the birthday and jubilee lists.
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    // "СФОРМИРОВАТЬ СПИСОК": for the year in cbb2, every person's age and jubilee mark.
    void btn4Click(QObject *sender);

    QLabel *lbl1;
    QComboBox *cbb2;
    QPushButton *btn4;

private:
    QWidget *m_client;
};

extern TfrmMain *frmMain;
