#include "Unit1.h"

#include "Application.h"
#include "Unit2.h"
#include "controls/Guard.h"
#include "recordset/Convert.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TfrmMain *frmMain = nullptr;

namespace {

template<typename T>
T *place(QWidget *parent, const char *name, int left, int top, int width, int height)
{
    auto *widget = new T(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

} // namespace

TfrmMain::TfrmMain(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("ЛАРВЕНСКИЙ КОЛЛЕДЖ"));
    setFont(Application::windowFont());
    resize(1024, 700);

    m_client = new QWidget(this);
    setCentralWidget(m_client);

    lbl1 = place<QLabel>(m_client, "lbl1", 57, 21, 154, 23);
    lbl1->setText(QStringLiteral("ВЫБЕРИТЕ ГОД"));

    cbb2 = place<QComboBox>(m_client, "cbb2", 230, 20, 89, 31);
    cbb2->setEditable(true);
    cbb2->addItems({QStringLiteral("2022"), QStringLiteral("2023"), QStringLiteral("2024"),
                    QStringLiteral("2025")});
    cbb2->setCurrentIndex(-1);
    cbb2->setAccessibleName(lbl1->text());
    lbl1->setBuddy(cbb2);

    btn4 = place<QPushButton>(m_client, "btn4", 348, 19, 427, 37);
    btn4->setText(QStringLiteral("СФОРМИРОВАТЬ СПИСОК"));
    connect(btn4, &QPushButton::clicked, this, [this] { guarded([this] { btn4Click(btn4); }); });
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::btn4Click(QObject *)
{
    RecordSet &people = DM->tblMain;
    // Moving first settles whatever the user left unsaved in the grid.
    people.ToFirst();
    people.StartEdit();
    const int year = Convert::textToInt(cbb2->currentText());
    while (!people.AtEnd()) {
        people.StartEdit();
        const qint64 age = qint64(year) - people.FieldNamed(QStringLiteral("Год")).AsInt();
        people.FieldNamed(QStringLiteral("Возраст")).setAsInt(age);
        const bool jubilee = people.FieldNamed(QStringLiteral("Возраст")).AsInt() % 5 == 0;
        people.FieldNamed(QStringLiteral("Юбилей"))
            .setAsText(jubilee ? QStringLiteral("да") : QStringLiteral("нет"));
        // Leaving the record posts it; leaving the last one also sets AtEnd.
        people.ToNext();
    }
}
