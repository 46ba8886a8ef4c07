#include "ConflictWindow.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

struct Offer
{
    ConflictChoice choice;
    const char *caption;
};

// What the window says and offers for a refusal of its kind, and the choice that changes nothing
// of what is stored (taken by Esc and closing).
struct Wording
{
    QString what;
    std::vector<Offer> offers;
    ConflictChoice safe;
};

Wording wordingFor(ConflictView::Kind kind)
{
    using Kind = ConflictView::Kind;
    QString what;
    std::vector<Offer> offers;
    ConflictChoice safe = ConflictChoice::KeepEditing;
    switch (kind) {
    case Kind::Changed:
        what = QStringLiteral("Пока вы правили запись «%1», её изменили на другом компьютере. "
                              "Выберите, что сохранить.");
        offers = {{ConflictChoice::SaveMine, "Сохранить моё"},
                  {ConflictChoice::TakeTheirs, "Оставить как на другом компьютере"},
                  {ConflictChoice::KeepEditing, "Вернуться к правке"}};
        safe = ConflictChoice::KeepEditing;
        break;
    case Kind::Deleted:
        what = QStringLiteral("Пока вы правили запись «%1», её удалили на другом компьютере.");
        offers = {{ConflictChoice::SaveAsNew, "Сохранить как новую запись"},
                  {ConflictChoice::DontSave, "Не сохранять"}};
        safe = ConflictChoice::DontSave;
        break;
    case Kind::DeleteRefused:
        what = QStringLiteral("Запись «%1» изменили на другом компьютере после того, как программа "
                              "её прочитала. Удалить её всё равно?");
        offers = {{ConflictChoice::DeleteAnyway, "Удалить всё равно"},
                  {ConflictChoice::DontDelete, "Не удалять"}};
        safe = ConflictChoice::DontDelete;
        break;
    }
    return {what, offers, safe};
}

} // namespace

ConflictWindow::ConflictWindow(const ConflictView &view, QWidget *parent) : QDialog(parent)
{
    using Kind = ConflictView::Kind;
    const bool deleted = view.kind == Kind::Deleted;
    setWindowTitle(deleted ? QStringLiteral("Запись удалена на другом компьютере")
                           : QStringLiteral("Запись изменена на другом компьютере"));
    setWindowModality(Qt::ApplicationModal);
    auto *layout = new QVBoxLayout(this);

    const auto [what, offers, safe] = wordingFor(view.kind);
    m_safe = safe;
    m_choice = m_safe;
    auto *label = new QLabel(what.arg(view.who), this);
    label->setWordWrap(true);
    layout->addWidget(label);
    if (!view.changedBy.isEmpty()) {
        // So that the person knows whom to ask.
        auto *changedBy = new QLabel(view.changedBy + QLatin1Char('.'), this);
        changedBy->setObjectName(QStringLiteral("changedBy"));
        layout->addWidget(changedBy);
    }
    if (!view.conflicts.empty()) {
        layout->addWidget(table(view.conflicts, view.kind == Kind::Changed,
                                QStringLiteral("Изменено и здесь, и на другом компьютере")));
    }
    if (!view.kept.empty()) {
        auto *keptLabel = new QLabel(
            QStringLiteral("Другие изменения, сделанные на другом компьютере, сохранены:"), this);
        layout->addWidget(keptLabel);
        layout->addWidget(table(view.kept, false, keptLabel->text()));
    }

    auto *buttons = new QDialogButtonBox(this);
    for (const Offer &offer : offers) {
        QPushButton *button =
            buttons->addButton(QString::fromUtf8(offer.caption), QDialogButtonBox::ActionRole);
        button->setDefault(offer.choice == m_safe);
        button->setAutoDefault(true);
        connect(button, &QPushButton::clicked, this, [this, choice = offer.choice] {
            m_choice = choice;
            accept();
        });
        m_buttons.emplace_back(offer.choice, button);
    }
    layout->addWidget(buttons);
    button(m_safe)->setFocus();
}

QTableWidget *ConflictWindow::table(const std::vector<ConflictView::Field> &fields, bool withYours,
                                    const QString &name)
{
    QStringList titles = {QStringLiteral("Поле"), QStringLiteral("Было"),
                          QStringLiteral("На другом компьютере")};
    if (withYours)
        titles << QStringLiteral("Ваше");
    auto *table = new QTableWidget(int(fields.size()), int(titles.size()), this);
    table->setAccessibleName(name);
    table->setHorizontalHeaderLabels(titles);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setFocusPolicy(Qt::NoFocus); // the keyboard goes from choice to choice
    for (int row = 0; row < int(fields.size()); ++row) {
        const ConflictView::Field &field = fields[size_t(row)];
        const QString cells[] = {field.name, field.was, field.theirs, field.yours};
        for (int column = 0; column < titles.size(); ++column)
            table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    // As tall as its rows, which are few: a record has eight fields.
    table->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    table->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
    return table;
}

QPushButton *ConflictWindow::button(ConflictChoice choice) const
{
    for (const auto &[offered, button] : m_buttons) {
        if (offered == choice)
            return button;
    }
    return nullptr;
}

void ConflictWindow::reject()
{
    m_choice = m_safe;
    QDialog::reject();
}
