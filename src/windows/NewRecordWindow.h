#pragma once

#include <QWidget>

class DBEdit;
class DBLookupComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TDM;
class TextComboBox;

// The new record window: one new person is entered into the register.
class TfrmInsert : public QWidget
{
    Q_OBJECT

public:
    explicit TfrmInsert(QWidget *parent = nullptr);
    ~TfrmInsert() override;

    void linkDataControls(TDM &dataModule);

    // The day box changed: the day goes into the new record at once.
    void cbb1Change(QObject *sender);
    // The month box changed: the month goes into the new record at once.
    void cbb2Change(QObject *sender);
    // "ПОКАЗАТЬ": composes the date of birth from the day, month and year shown.
    void btn1Click(QObject *sender);
    // "СОХРАНИТЬ": stores the new person, when anything was entered, and closes the window.
    void btn2Click(QObject *sender);

    // In tab order.
    QPushButton *btn1;
    QPushButton *btn2;
    DBEdit *dbedt1;
    TextComboBox *cbb1;
    TextComboBox *cbb2;
    DBLookupComboBox *dblkcbb1;
    QLineEdit *edt1;

    QLabel *lbl1;
    QLabel *lbl2;
    QLabel *lbl3;
    QLabel *lbl4;
    QLabel *lbl5;
};

extern TfrmInsert *frmInsert;
