#include "DBLookupComboBox.h"

#include "Guard.h"
#include "recordset/RecordSet.h"

#include <QKeyEvent>

// Watches the list's record set: its rows are the choices.
class DBLookupComboBox::ListLink : public DataLink
{
public:
    explicit ListLink(DBLookupComboBox *owner) : m_owner(owner) {}
    void dataSetChanged() override { listChanged(); }
    void layoutChanged() override { listChanged(); }
    void stateChanged() override { listChanged(); }
    void fieldChanged(Field &) override { listChanged(); }

private:
    void listChanged()
    {
        m_owner->m_listDirty = true;
        m_owner->scheduleRefresh();
    }
    DBLookupComboBox *m_owner;
};

namespace {

constexpr qint64 searchResetMs = 2000;
constexpr int searchLimit = 32;

bool sameValue(const SqlValue &a, const SqlValue &b)
{
    const auto number = [](const SqlValue &v, double &out) {
        if (auto i = std::get_if<qint64>(&v))
            return out = double(*i), true;
        if (auto d = std::get_if<double>(&v))
            return out = *d, true;
        return false;
    };
    double x = 0;
    double y = 0;
    if (number(a, x) && number(b, y))
        return x == y;
    return a == b;
}

} // namespace

DBLookupComboBox::DBLookupComboBox(QWidget *parent)
    : QComboBox(parent), BoundControl(this), m_listLink(std::make_unique<ListLink>(this))
{
    setEditable(false);
    setMaxVisibleItems(7);
    // Some styles open the list over the control at full height; the list is seven rows, always.
    setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    setCurrentIndex(-1);
    connect(this, &QComboBox::activated, this,
            [this](int row) { guarded([this, row] { choose(row); }); });
}

DBLookupComboBox::~DBLookupComboBox()
{
    if (m_listSource)
        m_listSource->removeControl(m_listLink.get());
}

void DBLookupComboBox::setDataField(const QString &fieldName)
{
    m_dataFieldName = fieldName;
    layoutChanged();
}

void DBLookupComboBox::setListSource(DataSource *source)
{
    if (m_listSource)
        m_listSource->removeControl(m_listLink.get());
    m_listSource = source;
    if (m_listSource)
        m_listSource->addControl(m_listLink.get());
    m_listDirty = true;
    scheduleRefresh();
}

void DBLookupComboBox::setKeyField(const QString &fieldName)
{
    m_keyFieldName = fieldName;
    m_listDirty = true;
    scheduleRefresh();
}

void DBLookupComboBox::setListField(const QString &fieldName)
{
    m_listFieldName = fieldName;
    m_listDirty = true;
    scheduleRefresh();
}

RecordSet *DBLookupComboBox::listSet() const
{
    RecordSet *set = m_listSource ? m_listSource->DataSet() : nullptr;
    return set && set->Active() ? set : nullptr;
}

void DBLookupComboBox::stateChanged()
{
    if (!isActive())
        m_dataField = nullptr;
    else if (!m_dataField)
        m_dataField = resolveField(m_dataFieldName);
    scheduleRefresh();
}

void DBLookupComboBox::layoutChanged()
{
    m_dataField = nullptr;
    m_dataField = resolveField(m_dataFieldName);
    scheduleRefresh();
}

void DBLookupComboBox::fieldChanged(Field &field)
{
    if (&field == m_dataField)
        scheduleRefresh();
}

bool DBLookupComboBox::event(QEvent *event)
{
    if (handleRefreshEvent(event))
        return true;
    return QComboBox::event(event);
}

int DBLookupComboBox::rowOfCurrentKey() const
{
    RecordSet *list = listSet();
    if (!list || !m_dataField)
        return -1;
    const SqlValue key = m_dataField->value();
    if (std::holds_alternative<std::monostate>(key))
        return -1;
    const Field *keyField = list->findField(m_keyFieldName);
    if (!keyField)
        return -1;
    for (int row = 0; row < list->rowCount(); ++row) {
        if (sameValue(list->valueAt(row, keyField->Index()), key))
            return row;
    }
    return -1;
}

void DBLookupComboBox::refresh()
{
    RecordSet *list = listSet();
    if (m_listDirty) {
        m_listDirty = false;
        const QSignalBlocker blocker(this);
        clear();
        const Field *shown = list ? list->findField(m_listFieldName) : nullptr;
        if (shown) {
            for (int row = 0; row < list->rowCount(); ++row)
                addItem(displayText(list->valueAt(row, shown->Index()), shown->DataType()));
        }
    }
    const int row = rowOfCurrentKey();
    {
        const QSignalBlocker blocker(this);
        setCurrentIndex(row);
    }
    // The lookup leaves the list standing on the record it found.
    if (row >= 0 && list && list->currentRow() != row)
        guarded([&] { list->SkipBy(row - list->currentRow()); });
}

QString DBLookupComboBox::Text()
{
    refreshNow();
    return currentIndex() >= 0 ? currentText() : QString();
}

bool DBLookupComboBox::canModify() const
{
    return listSet() && isEnabled() && m_dataField && !m_dataField->ReadOnly();
}

void DBLookupComboBox::choose(int row)
{
    RecordSet *list = listSet();
    if (!canModify() || !list || row < 0 || row >= list->rowCount())
        return;
    const Field *keyField = list->findField(m_keyFieldName);
    if (!keyField || !dataSource()->requestEdit())
        return;
    const SqlValue key = list->valueAt(row, keyField->Index());
    if (auto integer = std::get_if<qint64>(&key))
        m_dataField->setAsInt(*integer);
    else if (auto real = std::get_if<double>(&key))
        m_dataField->setAsNumber(*real);
    else
        m_dataField->setAsText(displayText(key, keyField->DataType()));
    refreshNow();
}

void DBLookupComboBox::search(QChar c)
{
    RecordSet *list = listSet();
    const Field *shown = list ? list->findField(m_listFieldName) : nullptr;
    if (!shown || shown->DataType() != FieldType::Text || !canModify())
        return;
    if (!m_sinceLastCharacter.isValid() || m_sinceLastCharacter.elapsed() > searchResetMs)
        m_searchText.clear();
    m_sinceLastCharacter.start();
    if (m_searchText.size() >= searchLimit)
        return;
    m_searchText += c;
    for (int row = 0; row < list->rowCount(); ++row) {
        const QString text = displayText(list->valueAt(row, shown->Index()), shown->DataType());
        if (text.startsWith(m_searchText, Qt::CaseInsensitive)) {
            choose(row);
            return;
        }
    }
}

void DBLookupComboBox::keyPressEvent(QKeyEvent *event)
{
    const bool alt = event->modifiers() & Qt::AltModifier;
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (alt) {
            showPopup();
            return;
        }
        guarded([&] {
            refreshNow();
            const int current = rowOfCurrentKey();
            const int count = listSet() ? listSet()->rowCount() : 0;
            int row = 0;
            if (current >= 0)
                row = std::clamp(current + (event->key() == Qt::Key_Down ? 1 : -1), 0, count - 1);
            choose(row);
        });
        return;
    case Qt::Key_Backspace:
    case Qt::Key_Escape:
        m_searchText.clear();
        return;
    default:
        break;
    }
    const QString text = event->text();
    if (!text.isEmpty() && text.front().isPrint() &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        guarded([&] { search(text.front()); });
        return;
    }
    QComboBox::keyPressEvent(event);
}
