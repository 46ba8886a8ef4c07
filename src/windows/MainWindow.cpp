#include "windows/MainWindow.h"

#include "windows/Application.h"
#include "windows/DataModule.h"
#include "windows/NewRecordWindow.h"
#include "windows/ReferenceBooksWindow.h"
#include "controls/DBEdit.h"
#include "controls/DBGrid.h"
#include "controls/DBNavigator.h"
#include "controls/TextComboBox.h"
#include "recordset/Convert.h"
#include "service/AgeCalculation.h"
#include "service/Report.h"
#include "service/About.h"
#include "service/Archive.h"
#include "service/Manual.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>

TfrmMain *frmMain = nullptr;

namespace {

// The extent of the layout: the right and bottom edges of the farthest controls, with a margin.
constexpr int layoutWidth = 1500;
constexpr int layoutHeight = 780;
// Outer size of the window when it is not maximised.
constexpr int restoredWidth = 1552;
constexpr int restoredHeight = 840;

// The months as cbb1 offers them and as the search compares them, with the number written into
// the statement.
struct Month
{
    const char *name;
    const char *number;
};
constexpr Month monthTable[] = {
    {"январь", "1"},   {"февраль", "2"},  {"март", "3"},    {"апрель", "4"},
    {"май", "5"},      {"июнь", "6"},     {"июль", "7"},    {"август", "8"},
    {"сентябрь", "9"}, {"октябрь", "10"}, {"ноябрь", "11"}, {"декабрь", "12"},
};

// Gives a query record set a new statement and opens it, hiding the key column from the grids;
// the key stays at position 0 of the result.
void runQuery(RecordSet &query, const QString &lastLine)
{
    query.setActive(false);
    query.SQL().clear();
    query.SQL().add(QStringLiteral("select *"));
    query.SQL().add(QStringLiteral("from Main"));
    query.SQL().add(lastLine);
    query.setActive(true);
    query.FieldAt(0).setVisible(false);
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption, int left, int top,
                    int width, int height)
{
    auto *widget = Application::place<QPushButton>(parent, name, left, top, width, height);
    widget->setText(caption);
    widget->setAutoDefault(false); // Enter and Escape press no button of this window
    widget->setDefault(false);
    return widget;
}

DBEdit *detailBox(QWidget *parent, const char *name, int left, int top, int width, QLabel *caption)
{
    auto *box = Application::place<DBEdit>(parent, name, left, top, width, 31);
    box->setEnabled(false);
    box->setAccessibleName(caption->text());
    return box;
}

QString agesYearText(int year)
{
    return QStringLiteral("Возраст рассчитан на %1 год").arg(year);
}

} // namespace

// The window's title says what the person must know of the register as a whole: that it is not
// connected, or for which year the ages it holds were calculated, on whichever computer.
class TfrmMain::ConnectionTitle : public DataLink
{
public:
    ConnectionTitle(TfrmMain &window, TDM &dataModule) : m_window(window), m_dataModule(dataModule)
    {
        stateChanged();
    }
    void stateChanged() override
    {
        QString title = QStringLiteral("ЛАРВЕНСКИЙ КОЛЛЕДЖ");
        if (m_dataModule.tblMain.waitsToOpen())
            title += QStringLiteral(" — нет связи с сервером");
        else if (const std::optional<int> year = m_dataModule.agesYear())
            title += QStringLiteral(" — ") + agesYearText(*year);
        m_window.setWindowTitle(title);
    }
    void dataSetChanged() override { stateChanged(); }
    void recordChanged() override { stateChanged(); }
    void rowsChanged() override { stateChanged(); }

private:
    TfrmMain &m_window;
    TDM &m_dataModule;
};

TfrmMain::TfrmMain(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("ЛАРВЕНСКИЙ КОЛЛЕДЖ"));
    setFont(Application::windowFont());

    // Controls keep their places whatever the window's size; a smaller window scrolls.
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("clientArea"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    // Only the controls take the focus: Tab from the last of them goes round to the main grid.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setWidgetResizable(false);
    m_client = new QWidget;
    m_client->setObjectName(QStringLiteral("client"));
    m_client->setFixedSize(Application::scaled(QSize(layoutWidth, layoutHeight)));
    QPalette face = m_client->palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    m_client->setPalette(face);
    m_client->setAutoFillBackground(true);
    m_scroll->setPalette(face);
    m_scroll->setWidget(m_client);
    setCentralWidget(m_scroll);

    createControls();
    createMenus();

    // Until shown (framed and centred at its restored outer size, then maximised), centred at
    // that size.
    QRect restored(QPoint(0, 0), restoredOuterSize());
    if (QScreen *screen = QGuiApplication::primaryScreen())
        restored.moveCenter(screen->availableGeometry().center());
    setGeometry(restored);
}

QSize TfrmMain::restoredOuterSize() const
{
    return Application::scaled(QSize(restoredWidth, restoredHeight));
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::createControls()
{
    QWidget *c = m_client;
    dbgrd1 = Application::place<DBGrid>(c, "dbgrd1", 21, 73, 943, 178);
    dbnvgr1 = Application::place<DBNavigator>(c, "dbnvgr1", 23, 267, 930, 30);
    cbb2 = Application::place<TextComboBox>(c, "cbb2", 230, 20, 89, 31);
    btn4 = button(c, "btn4", QStringLiteral("СФОРМИРОВАТЬ СПИСОК"), 348, 19, 427, 37);
    btn1 = button(c, "btn1", QStringLiteral("ПЕЧАТЬ"), 565, 331, 140, 30);
    btn2 = button(c, "btn2", QStringLiteral("СБРОС"), 735, 335, 140, 30);
    dbgrd2 = Application::place<DBGrid>(c, "dbgrd2", 18, 375, 1357, 125);
    dbnvgr2 = Application::place<DBNavigator>(c, "dbnvgr2", 21, 513, 1340, 27);
    btn3 = button(c, "btn3", QStringLiteral("ЮБИЛЯРЫ"), 395, 554, 140, 30);
    btn6 = button(c, "btn6", QStringLiteral("ПЕЧАТЬ"), 570, 555, 140, 30);
    btn7 = button(c, "btn7", QStringLiteral("СБРОС"), 735, 558, 140, 30);
    dbgrd3 = Application::place<DBGrid>(c, "dbgrd3", 13, 597, 1361, 121);
    dbnvgr3 = Application::place<DBNavigator>(c, "dbnvgr3", 18, 731, 1330, 29);
    edt1 = Application::place<QLineEdit>(c, "edt1", 832, 21, 45, 31);

    lbl1 = Application::label(c, "lbl1", QStringLiteral("ВЫБЕРИТЕ ГОД"), 57, 21);
    lbl2 = Application::label(c, "lbl2", QStringLiteral("УКАЖИТЕ МЕСЯЦ"), 24, 334);
    lbl3 = Application::label(c, "lbl3", QStringLiteral("Ф.И.О"), 984, 77);
    lbl4 = Application::label(c, "lbl4", QStringLiteral("ДАТА РОЖДЕНИЯ"), 988, 125);
    lbl5 = Application::label(c, "lbl5", QStringLiteral("ГОД"), 990, 173);
    lbl6 = Application::label(c, "lbl6", QStringLiteral("МЕСЯЦ"), 1143, 176);
    lbl7 = Application::label(c, "lbl7", QStringLiteral("ЧИСЛО"), 1318, 175);
    lbl8 = Application::label(c, "lbl8", QStringLiteral("ВОЗРАСТ"), 994, 226);
    lbl9 = Application::label(c, "lbl9", QStringLiteral("ЮБИЛЕЙ"), 1208, 231);

    dbedt1 = detailBox(c, "dbedt1", 1058, 72, 412, lbl3);
    dbedt_ = detailBox(c, "dbedt_", 1179, 119, 121, lbl4);
    dbedt3 = detailBox(c, "dbedt3", 1046, 174, 75, lbl5);
    dbedt4 = detailBox(c, "dbedt4", 1226, 176, 75, lbl6);
    dbedt5 = detailBox(c, "dbedt5", 1405, 175, 75, lbl7);
    dbedt6 = detailBox(c, "dbedt6", 1098, 227, 75, lbl8);
    dbedt7 = detailBox(c, "dbedt7", 1317, 232, 75, lbl9);
    btn8 = button(c, "btn8", QStringLiteral("НАЙТИ"), 394, 331, 140, 30);
    edt2 = Application::place<QLineEdit>(c, "edt2", 904, 20, 121, 31);
    cbb1 = Application::place<TextComboBox>(c, "cbb1", 213, 331, 171, 31);
    edt3 = Application::place<QLineEdit>(c, "edt3", 1037, 21, 129, 31);
    setUpControls();
}

void TfrmMain::setUpControls()
{
    // The year box: pick one of the four or type any year.
    cbb2->addItems({QStringLiteral("2022"), QStringLiteral("2023"), QStringLiteral("2024"),
                    QStringLiteral("2025")});
    cbb2->setCurrentIndex(-1);
    cbb2->setAccessibleName(lbl1->text());
    lbl1->setBuddy(cbb2);

    for (const Month &month : monthTable)
        cbb1->addItem(QString::fromUtf8(month.name));
    cbb1->setCurrentIndex(-1);
    cbb1->setAccessibleName(lbl2->text());
    lbl2->setBuddy(cbb1);

    // Hidden boxes that carry values between handlers.
    edt1->setText(QStringLiteral("да"));
    for (QLineEdit *hidden : {edt1, edt2, edt3})
        hidden->hide();

    dbgrd1->setAccessibleName(QStringLiteral("Реестр"));
    dbgrd2->setAccessibleName(QStringLiteral("Именинники месяца"));
    dbgrd3->setAccessibleName(QStringLiteral("Юбиляры"));

    Application::setTabOrder({dbgrd1,  dbnvgr1, cbb2,   btn4,   btn1,   btn2,    dbgrd2,
                              dbnvgr2, btn3,    btn6,   btn7,   dbgrd3, dbnvgr3, edt1,
                              dbedt1,  dbedt_,  dbedt3, dbedt4, dbedt5, dbedt6,  dbedt7,
                              btn8,    edt2,    cbb1,   edt3});

    Application::onEvent(this, btn4, &QPushButton::clicked, &TfrmMain::btn4Click);
    Application::onEvent(this, cbb1, &TextComboBox::selectionChanged, &TfrmMain::cbb1Click);
    Application::onEvent(this, btn8, &QPushButton::clicked, &TfrmMain::btn8Click);
    Application::onEvent(this, btn2, &QPushButton::clicked, &TfrmMain::btn2Click);
    Application::onEvent(this, btn3, &QPushButton::clicked, &TfrmMain::btn3Click);
    Application::onEvent(this, btn7, &QPushButton::clicked, &TfrmMain::btn7Click);
    Application::onEvent(this, btn1, &QPushButton::clicked, &TfrmMain::btn1Click);
    Application::onEvent(this, btn6, &QPushButton::clicked, &TfrmMain::btn6Click);
}

void TfrmMain::createMenus()
{
    QMenuBar *mm1 = menuBar();
    mm1->setObjectName(QStringLiteral("mm1"));
    mm1->setFont(font());
    // Commands sit on the bar itself; only "СЕРВИС" opens a sub-menu.
    N1 = mm1->addAction(QStringLiteral("НОВАЯ ЗАПИСЬ"));
    N2 = mm1->addAction(QStringLiteral("СПРАВОЧНИКИ"));
    N7 = mm1->addAction(QStringLiteral("АРХИВАЦИЯ"));
    N3 = mm1->addMenu(QStringLiteral("СЕРВИС"));
    N3->setFont(font());
    N4 = N3->addAction(QStringLiteral("РУКОВОДСТВО ПОЛЬЗОВАТЕЛЯ"));
    N5 = N3->addAction(QStringLiteral("О РАЗРАБОТЧИКЕ"));
    N6 = mm1->addAction(QStringLiteral("ВЫХОД"));
    N1->setObjectName(QStringLiteral("N1"));
    N2->setObjectName(QStringLiteral("N2"));
    N7->setObjectName(QStringLiteral("N7"));
    N3->setObjectName(QStringLiteral("N3"));
    N4->setObjectName(QStringLiteral("N4"));
    N5->setObjectName(QStringLiteral("N5"));
    N6->setObjectName(QStringLiteral("N6"));

    pm1 = new QMenu(this);
    pm1->setObjectName(QStringLiteral("pm1"));
    N8 = pm1->addAction(QStringLiteral("СОРТИРОВАТЬ ОТ А ДО Я"));
    N8->setObjectName(QStringLiteral("N8"));
    pm2 = new QMenu(this);
    pm2->setObjectName(QStringLiteral("pm2"));
    N9 = pm2->addAction(QStringLiteral("СОРТИРОВАТЬ ПО ВОЗРАСТУ"));
    N9->setObjectName(QStringLiteral("N9"));

    QList<DBGridColumn> columns = {
        {QStringLiteral("ФИО"), QString(), pm1},
        {QStringLiteral("Дата_рождения"), QStringLiteral("Дата рождения"), nullptr},
        {QStringLiteral("Год"), QString(), nullptr},
        {QStringLiteral("Месяц"), QString(), nullptr},
        {QStringLiteral("Число"), QString(), nullptr},
        {QStringLiteral("Возраст"), QString(), nullptr},
        {QStringLiteral("Юбилей"), QString(), nullptr}};
    dbgrd1->setColumns(columns);
    dbgrd2->setPopupMenu(pm2);

    Application::onEvent(this, N1, &QAction::triggered, &TfrmMain::N1Click);
    Application::onEvent(this, N2, &QAction::triggered, &TfrmMain::N2Click);
    Application::onEvent(this, N7, &QAction::triggered, &TfrmMain::N7Click);
    Application::onEvent(this, N4, &QAction::triggered, &TfrmMain::N4Click);
    Application::onEvent(this, N5, &QAction::triggered, &TfrmMain::N5Click);
    Application::onEvent(this, N6, &QAction::triggered, &TfrmMain::N6Click);
    Application::onEvent(this, N8, &QAction::triggered, &TfrmMain::N8Click);
    Application::onEvent(this, N9, &QAction::triggered, &TfrmMain::N9Click);
}

void TfrmMain::linkDataControls(TDM &dataModule)
{
    dbgrd1->setDataSource(&dataModule.dsMain);
    dbnvgr1->setDataSource(&dataModule.dsMain);
    const std::pair<DBEdit *, const char *> detail[] = {
        {dbedt1, "ФИО"},   {dbedt_, "Дата_рождения"}, {dbedt3, "Год"},   {dbedt4, "Месяц"},
        {dbedt5, "Число"}, {dbedt6, "Возраст"},       {dbedt7, "Юбилей"}};
    for (const auto &[box, field] : detail) {
        box->setDataSource(&dataModule.dsMain);
        box->setDataField(QString::fromUtf8(field));
    }
    dbgrd2->setDataSource(&dataModule.dsZapros1);
    dbnvgr2->setDataSource(&dataModule.dsZapros1);
    dbgrd3->setDataSource(&dataModule.dsZapros2);
    dbnvgr3->setDataSource(&dataModule.dsZapros2);
    m_connectionTitle = std::make_unique<ConnectionTitle>(*this, dataModule);
    dataModule.dsMain.addControl(m_connectionTitle.get());
    dataModule.tblRaschet.attach(m_connectionTitle.get());
}

// --- handlers ----------------------------------------------------------------------------------

void TfrmMain::btn4Click(QObject *)
{
    RecordSet &people = DM->tblMain;
    // Moving first settles whatever the user left unsaved in the grid.
    people.ToFirst();
    people.StartEdit();
    const int year = Convert::textToInt(cbb2->currentText());
    const Application::WaitCursor waiting;
    AgeCalculation::walk(people, year, &DM->tblRaschet);
}

void TfrmMain::cbb1Click(QObject *)
{
    edt2->setText(cbb1->currentText());
}

void TfrmMain::btn8Click(QObject *)
{
    // Every row is compared, exactly; with no match the previous month's number stays.
    for (const Month &month : monthTable) {
        if (edt2->text() == QString::fromUtf8(month.name))
            edt3->setText(QString::fromUtf8(month.number));
    }
    runQuery(DM->qryZapros1,
             QStringLiteral("where Месяц like  '") + edt3->text() + QStringLiteral("' "));
}

void TfrmMain::btn2Click(QObject *)
{
    DM->qryZapros1.setActive(false);
}

void TfrmMain::btn3Click(QObject *)
{
    // The jubilees are those of the ages stored, whichever year they were calculated for.
    const std::optional<int> calculated = DM->agesYear();
    const QString chosen = cbb2->currentText().trimmed();
    if (calculated && !chosen.isEmpty() && chosen != QString::number(*calculated)) {
        Dialogs::current().showNotice(
            QStringLiteral("Возраст в реестре рассчитан на %1 год, а в поле выбран %2 год. "
                           "Список юбиляров будет показан на %1 год. Чтобы получить его на %2 "
                           "год, нажмите «СФОРМИРОВАТЬ СПИСОК» и затем «ЮБИЛЯРЫ» снова")
                .arg(QString::number(*calculated), chosen));
    }
    runQuery(DM->qryZapros2,
             QStringLiteral("where Юбилей like  '") + edt1->text() + QStringLiteral("' "));
}

void TfrmMain::btn7Click(QObject *)
{
    DM->qryZapros2.setActive(false);
}

void TfrmMain::btn1Click(QObject *)
{
    Report::exportList(DM->qryZapros1, DM->agesYear());
}

void TfrmMain::btn6Click(QObject *)
{
    Report::exportList(DM->qryZapros2, DM->agesYear());
}

void TfrmMain::N1Click(QObject *)
{
    RecordSet &people = DM->tblMain;
    people.ToFirst();
    people.StartInsert(); // a blank record at the top of the register
    people.StartEdit();
    Application::showModal(frmInsert);
}

void TfrmMain::N2Click(QObject *)
{
    Application::showModal(frmSprav);
}

void TfrmMain::N7Click(QObject *)
{
    // On a server the archive first takes a snapshot of the register into a file.
    const Application::WaitCursor waiting;
    Service::startArchive(DM->con1);
}

void TfrmMain::N4Click(QObject *)
{
    Service::openManual();
}

void TfrmMain::N5Click(QObject *)
{
    Dialogs::current().showInformation(Service::aboutText());
}

void TfrmMain::N6Click(QObject *)
{
    // Posted to the event loop: the rest of the present event is handled first.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void TfrmMain::N8Click(QObject *)
{
    DM->tblMain.setSortOrder(QStringLiteral("ФИО"));
}

void TfrmMain::N9Click(QObject *) {}
