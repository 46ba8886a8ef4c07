#include "windows/NewRecordWindow.h"

#include "windows/Application.h"
#include "windows/DataModule.h"
#include "controls/DBEdit.h"
#include "controls/Guard.h"
#include "controls/DBLookupComboBox.h"
#include "controls/TextComboBox.h"
#include "recordset/Convert.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TfrmInsert *frmInsert = nullptr;

namespace {

constexpr int clientWidth = 724;
constexpr int clientHeight = 376;

QStringList twoDigitNumbers(int last)
{
    QStringList numbers;
    for (int n = 1; n <= last; ++n)
        numbers << QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
    return numbers;
}

} // namespace

TfrmInsert::TfrmInsert(QWidget *parent) : QWidget(parent, Application::fixedDialogFlags())
{
    setObjectName(QStringLiteral("frmInsert"));
    setWindowTitle(QStringLiteral("НОВАЯ ЗАПИСЬ"));
    setFont(Application::windowFont());
    setFixedSize(Application::scaled(QSize(clientWidth, clientHeight)));

    btn1 = Application::place<QPushButton>(this, "btn1", 448, 216, 233, 41);
    btn1->setText(QStringLiteral("ПОКАЗАТЬ"));
    btn2 = Application::place<QPushButton>(this, "btn2", 456, 296, 225, 41);
    btn2->setText(QStringLiteral("СОХРАНИТЬ"));
    dbedt1 = Application::place<DBEdit>(this, "dbedt1", 136, 32, 393, 31);
    cbb1 = Application::place<TextComboBox>(this, "cbb1", 128, 144, 65, 31);
    cbb2 = Application::place<TextComboBox>(this, "cbb2", 312, 144, 81, 31);
    dblkcbb1 = Application::place<DBLookupComboBox>(this, "dblkcbb1", 496, 144, 137, 31);
    edt1 = Application::place<QLineEdit>(this, "edt1", 224, 216, 209, 31);
    lbl1 = Application::label(this, "lbl1", QStringLiteral("ФИО"), 48, 32);
    lbl2 = Application::label(this, "lbl2", QStringLiteral("ЧИСЛО"), 40, 144);
    lbl3 = Application::label(this, "lbl3", QStringLiteral("МЕСЯЦ"), 224, 144);
    lbl4 = Application::label(this, "lbl4", QStringLiteral("ГОД"), 432, 144);
    lbl5 = Application::label(this, "lbl5", QStringLiteral("ДАТА РОЖДЕНИЯ"), 40, 224);
    lbl1->setBuddy(dbedt1);
    lbl2->setBuddy(cbb1);
    lbl3->setBuddy(cbb2);
    lbl4->setBuddy(dblkcbb1);
    lbl5->setBuddy(edt1);
    for (QLabel *caption : {lbl1, lbl2, lbl3, lbl4, lbl5})
        caption->buddy()->setAccessibleName(caption->text());
    for (QPushButton *button : {btn1, btn2})
        button->setAutoDefault(false);

    cbb1->addItems(twoDigitNumbers(31));
    cbb1->setCurrentIndex(-1);
    cbb2->addItems(twoDigitNumbers(12));
    cbb2->setCurrentIndex(-1);

    Application::setTabOrder({btn1, btn2, dbedt1, cbb1, cbb2, dblkcbb1, edt1});
    btn1->setFocus(); // the first control in tab order holds the focus when the window opens

    Application::onEvent(this, cbb1, &QComboBox::editTextChanged, &TfrmInsert::cbb1Change);
    Application::onEvent(this, cbb2, &QComboBox::editTextChanged, &TfrmInsert::cbb2Change);
    Application::onEvent(this, btn1, &QPushButton::clicked, &TfrmInsert::btn1Click);
    Application::onEvent(this, btn2, &QPushButton::clicked, &TfrmInsert::btn2Click);
}

TfrmInsert::~TfrmInsert() = default;

void TfrmInsert::linkDataControls(TDM &dataModule)
{
    // The tables are open already: a field one of them lacks is reported by its control in the
    // error box, and the rest is linked all the same.
    guarded([&] {
        dbedt1->setDataSource(&dataModule.dsMain);
        dbedt1->setDataField(QStringLiteral("ФИО"));
    });
    guarded([&] {
        dblkcbb1->setKeyField(QStringLiteral("Год"));
        dblkcbb1->setListField(QStringLiteral("Год"));
        dblkcbb1->setListSource(&dataModule.dsGod);
    });
    guarded([&] {
        dblkcbb1->setDataSource(&dataModule.dsMain);
        dblkcbb1->setDataField(QStringLiteral("Год"));
    });
}

void TfrmInsert::cbb1Change(QObject *)
{
    DM->tblMain.FieldNamed(QStringLiteral("Число"))
        .setAsInt(Convert::textToInt(cbb1->currentText()));
}

void TfrmInsert::cbb2Change(QObject *)
{
    DM->tblMain.FieldNamed(QStringLiteral("Месяц"))
        .setAsInt(Convert::textToInt(cbb2->currentText()));
}

void TfrmInsert::btn1Click(QObject *)
{
    // The texts as they stand: no checking, no zero-filling.
    edt1->setText(cbb1->currentText() + QLatin1Char('.') + cbb2->currentText() + QLatin1Char('.') +
                  dblkcbb1->Text());
}

void TfrmInsert::btn2Click(QObject *)
{
    RecordSet &people = DM->tblMain;
    if (people.IsModified()) {
        people.FieldNamed(QStringLiteral("Дата_рождения")).setAsText(edt1->text());
        people.PostRecord();
        people.Reread();
        Dialogs::current().showNotice(QStringLiteral("ЗАПИСЬ ДОБАВЛЕНА В БАЗУ ДАННЫХ!"));
    }
    close();
}
