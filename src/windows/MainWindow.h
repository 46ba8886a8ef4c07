#pragma once

#include <QMainWindow>

#include <memory>

class DBEdit;
class DBGrid;
class DBNavigator;
class QAction;
class TextComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class TDM;

// The main window: the register of people with its detail panel, the age calculation, the
// birthday search by month and the jubilee list, and the menu bar.
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    // Binds the data-bound controls to the data module's data sources, while it is created.
    void linkDataControls(TDM &dataModule);
    // The outer size (frame included) of the window when it is not maximised.
    QSize restoredOuterSize() const;

    // "СФОРМИРОВАТЬ СПИСОК": for the year in cbb2, every person's age and jubilee mark.
    void btn4Click(QObject *sender);
    // A month picked in cbb1: its name goes to edt2.
    void cbb1Click(QObject *sender);
    // "НАЙТИ": the people born in the month named in edt2.
    void btn8Click(QObject *sender);
    // "СБРОС" of the month band: the month list closes.
    void btn2Click(QObject *sender);
    // "ЮБИЛЯРЫ": the people marked as having a jubilee.
    void btn3Click(QObject *sender);
    // "СБРОС" of the jubilee band: the jubilee list closes.
    void btn7Click(QObject *sender);
    // "ПЕЧАТЬ" of the month band: the month list as a spreadsheet.
    void btn1Click(QObject *sender);
    // "ПЕЧАТЬ" of the jubilee band: the jubilee list as a spreadsheet.
    void btn6Click(QObject *sender);
    // "НОВАЯ ЗАПИСЬ": a new record, entered in the new record window.
    void N1Click(QObject *sender);
    // "СПРАВОЧНИКИ": the reference books window, modally.
    void N2Click(QObject *sender);
    // "АРХИВАЦИЯ": the archiver packs Base.mdb into Archiv/Архив.rar.
    void N7Click(QObject *sender);
    // "РУКОВОДСТВО ПОЛЬЗОВАТЕЛЯ": the user manual, opened on the desktop.
    void N4Click(QObject *sender);
    // "О РАЗРАБОТЧИКЕ": the About box.
    void N5Click(QObject *sender);
    // "ВЫХОД": ends the program, asking nothing.
    void N6Click(QObject *sender);
    // "СОРТИРОВАТЬ ОТ А ДО Я": the register in alphabetical order of full names.
    void N8Click(QObject *sender);
    // "СОРТИРОВАТЬ ПО ВОЗРАСТУ": does nothing.
    void N9Click(QObject *sender);

    // In tab order.
    DBGrid *dbgrd1;
    DBNavigator *dbnvgr1;
    TextComboBox *cbb2;
    QPushButton *btn4;
    QPushButton *btn1;
    QPushButton *btn2;
    DBGrid *dbgrd2;
    DBNavigator *dbnvgr2;
    QPushButton *btn3;
    QPushButton *btn6;
    QPushButton *btn7;
    DBGrid *dbgrd3;
    DBNavigator *dbnvgr3;
    QLineEdit *edt1;
    DBEdit *dbedt1;
    DBEdit *dbedt_;
    DBEdit *dbedt3;
    DBEdit *dbedt4;
    DBEdit *dbedt5;
    DBEdit *dbedt6;
    DBEdit *dbedt7;
    QPushButton *btn8;
    QLineEdit *edt2;
    TextComboBox *cbb1;
    QLineEdit *edt3;

    QLabel *lbl1;
    QLabel *lbl2;
    QLabel *lbl3;
    QLabel *lbl4;
    QLabel *lbl5;
    QLabel *lbl6;
    QLabel *lbl7;
    QLabel *lbl8;
    QLabel *lbl9;

    // The menu bar mm1 and the two pop-up menus.
    QAction *N1;
    QAction *N2;
    QAction *N7;
    QMenu *N3;
    QAction *N4;
    QAction *N5;
    QAction *N6;
    QMenu *pm1;
    QAction *N8;
    QMenu *pm2;
    QAction *N9;

    // The area the controls are laid out on, and the scroll area around it.
    QWidget *client() const { return m_client; }

private:
    void createControls();
    // Their items, names, tab order and handlers.
    void setUpControls();
    void createMenus();

    // Keeps the title saying whether the register on the server is connected.
    class ConnectionTitle;

    QScrollArea *m_scroll;
    QWidget *m_client;
    std::unique_ptr<ConnectionTitle> m_connectionTitle;
};

extern TfrmMain *frmMain;
