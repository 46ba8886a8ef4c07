// A change refused because another computer changed or deleted the row: what the person is shown,
// and what each of their choices does.
#include "RecordSet.h"

#include "Connection.h"

#include "engines/Engine.h"
#include "register/RegisterSchema.h"

#include <QDate>

#include <algorithm>

namespace {

QString changedByText(const ChangeAuthor &author, bool deleted)
{
    const QString when = author.at.date() == QDate::currentDate()
                             ? author.at.toString(QStringLiteral("HH:mm"))
                             : author.at.toString(QStringLiteral("dd.MM.yyyy в HH:mm"));
    QString text = deleted ? QStringLiteral("Удалено") : QStringLiteral("Изменено");
    if (!author.computer.isEmpty())
        text += QStringLiteral(" на компьютере ") + author.computer;
    if (!author.person.isEmpty())
        text += QStringLiteral(" (%1)").arg(author.person);
    if (author.at.isValid())
        text += QStringLiteral(" в ") + when;
    return text;
}

} // namespace

const std::vector<int> &RecordSet::comparedColumns() const
{
    if (m_assignedColumns == m_comparedFor && !m_assignedColumns.empty())
        return m_compared;
    const std::vector<SourceColumn> &columns = m_source->columns();
    m_compared.clear();
    for (int column : m_assignedColumns) {
        for (const QString &name : RegisterSchema::tiedTo(columns[size_t(column)].origin)) {
            for (size_t i = 0; i < columns.size(); ++i) {
                if (!columns[i].origin.isEmpty() &&
                    columns[i].origin.compare(name, Qt::CaseInsensitive) == 0)
                    m_compared.push_back(int(i));
            }
        }
    }
    std::sort(m_compared.begin(), m_compared.end());
    m_compared.erase(std::unique(m_compared.begin(), m_compared.end()), m_compared.end());
    m_comparedFor = m_assignedColumns;
    return m_compared;
}

ConflictView RecordSet::conflictView(ConflictView::Kind kind) const
{
    ConflictView view;
    view.kind = kind;
    const Record read = record(m_current);
    // The row as stored now, read into an arena of its own.
    RecordArena storedArena;
    std::optional<Record> stored;
    m_source->fetch(read.key(), [&](const RowCells &cells, const RowId &id) {
        stored = storedArena.at(storedArena.fromCells(cells, FieldCount(), id, 0));
    });
    const std::vector<SourceColumn> &columns = m_source->columns();
    const std::vector<int> compared = comparedColumns();
    for (const std::unique_ptr<Field> &field : m_fields) {
        const int column = field->Index();
        if (columns[size_t(column)].origin.isEmpty() || field->ReadOnly())
            continue;
        const Value was = read.value(column);
        if (view.who.isEmpty())
            view.who = displayText(was, field->DataType()).trimmed();
        if (!stored)
            continue;
        const Value theirs = stored->value(column);
        if (theirs == was)
            continue;
        ConflictView::Field shown{field->DisplayName(), displayText(was, field->DataType()),
                                  displayText(theirs, field->DataType()),
                                  displayText(currentValue(column), field->DataType())};
        const bool inConflict =
            kind == ConflictView::Kind::DeleteRefused ||
            std::find(compared.begin(), compared.end(), column) != compared.end();
        (inConflict ? view.conflicts : view.kept).push_back(std::move(shown));
    }
    try {
        if (const std::optional<ChangeAuthor> author =
                m_connection->engine().lastChange(m_writtenTable, read.key()))
            view.changedBy = changedByText(*author, kind == ConflictView::Kind::Deleted);
    } catch (const Error &) {
        // The window is shown without it: the choice matters more than the name.
    }
    return view;
}

void RecordSet::refuse(bool deleting)
{
    const bool gone = !m_source->fetch(currentKey(), [](const RowCells &, const RowId &) {});
    if (deleting && gone)
        return;
    using Kind = ConflictView::Kind;
    const Kind kind = deleting ? Kind::DeleteRefused : gone ? Kind::Deleted : Kind::Changed;
    throw RecordConflict(*this, conflictView(kind));
}

bool RecordSet::rebaseOnStored()
{
    RecordArena::Handle &row = handle(m_current);
    const quint32 ordinal = record(m_current).ordinal();
    std::optional<RecordArena::Handle> stored;
    m_source->fetch(record(m_current).key(), [&](const RowCells &cells, const RowId &id) {
        stored = m_arena.fromCells(cells, FieldCount(), id, ordinal);
    });
    if (!stored)
        return false;
    m_arena.release(row);
    row = *stored;
    notify(&DataLink::recordChanged);
    return true;
}

void RecordSet::resolveConflict(ConflictView::Kind kind, ConflictChoice choice)
{
    switch (choice) {
    case ConflictChoice::SaveMine:
        // Over the row as it is now, checked again when posted.
        if (!rebaseOnStored())
            refuse(false); // deleted meanwhile: asked again, as deleted
        PostRecord();
        return;
    case ConflictChoice::KeepEditing:
        rebaseOnStored();
        return;
    case ConflictChoice::TakeTheirs:
    case ConflictChoice::DontSave:
        CancelRecord();
        RefreshRecord();
        return;
    case ConflictChoice::SaveAsNew: {
        // Everything the record holds now, as a new row where the deleted one stood.
        std::vector<std::pair<Field *, Value>> values;
        for (const std::unique_ptr<Field> &field : m_fields) {
            if (!field->ReadOnly() && !m_source->columns()[size_t(field->Index())].origin.isEmpty())
                values.emplace_back(field.get(), currentValue(field->Index()));
        }
        CancelRecord();
        RefreshRecord();
        StartInsert();
        for (auto &[field, value] : values)
            assignValue(*field, std::move(value));
        PostRecord();
        return;
    }
    case ConflictChoice::DeleteAnyway:
        // The row as stored now; one deleted meanwhile is gone already.
        if (RefreshRecord() && kind == ConflictView::Kind::DeleteRefused)
            DeleteRecord();
        return;
    case ConflictChoice::DontDelete:
        RefreshRecord();
        return;
    }
}
