#include "DBLookupComboBox.h"

#include "Guard.h"
#include "TextComboBox.h"
#include "platform/Error.h"
#include "recordset/RecordSet.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QWheelEvent>

#include <utility>

// Notes that the list's rows changed, so the entries are built again before they are next shown.
// It never moves the list or settles it: the list belongs to whoever edits it (the reference
// books window edits the years while this control waits hidden).
class DBLookupComboBox::ListLink : public DataLink
{
public:
    explicit ListLink(DBLookupComboBox *owner) : m_owner(owner) {}
    void dataSetChanged() override { m_owner->m_listDirty = true; }
    void rowsChanged() override { m_owner->m_listDirty = true; }
    void dataSetScrolled(int) override {}
    void layoutChanged() override { m_owner->m_listDirty = true; }
    void stateChanged() override
    {
        m_owner->m_listDirty = true;
        // A list that has just opened must have the key and the list columns.
        const bool active = m_owner->listSet() != nullptr;
        if (active && !std::exchange(m_wasActive, active))
            m_owner->checkListFields();
        m_wasActive = active;
    }
    void fieldChanged(Field &) override { m_owner->m_listDirty = true; }

private:
    DBLookupComboBox *m_owner;
    bool m_wasActive = false;
};

namespace {

constexpr qint64 searchResetMs = 2000;
constexpr int searchLimit = 32;

bool sameValue(const Value &a, const Value &b)
{
    const auto number = [](const Value &v, double &out) {
        if (auto i = std::get_if<qint64>(&v))
            return out = static_cast<double>(*i), true;
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
    // A pick in the open list: a release of the mouse on an entry, or Enter.
    connect(this, &QComboBox::activated, this,
            [this](int row) { guarded([this, row] { choose(row); }); });
    // Alt+Down and Alt+Up in the open list choose too; the combo box's own handling would
    // close the list without a choice or move the mark.
    view()->installEventFilter(this);
    matchListFont(this);
}

DBLookupComboBox::~DBLookupComboBox()
{
    if (m_listSource)
        m_listSource->removeControl(m_listLink.get());
}

void DBLookupComboBox::setDataField(const QString &fieldName)
{
    m_dataField.setName(fieldName);
    scheduleRefresh();
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
    // Attaching to an open list makes it active at once.
    m_listLink->stateChanged();
}

void DBLookupComboBox::checkListFields() const
{
    RecordSet *list = listSet();
    if (!list)
        return;
    for (const QString *name : {&m_keyFieldName, &m_listFieldName}) {
        if (!name->isEmpty() && !list->findField(*name))
            throw Error(QStringLiteral("%1: Field '%2' not found").arg(objectName(), *name));
    }
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
    RecordSet *set = m_listSource ? m_listSource->recordSet() : nullptr;
    return set && set->Active() ? set : nullptr;
}

void DBLookupComboBox::stateChanged()
{
    m_dataField.followState();
    scheduleRefresh();
}

void DBLookupComboBox::layoutChanged()
{
    m_dataField.findAgain();
    scheduleRefresh();
}

void DBLookupComboBox::fieldChanged(Field &field)
{
    if (m_dataField.is(field))
        scheduleRefresh();
}

bool DBLookupComboBox::event(QEvent *event)
{
    if (handleRefreshEvent(event))
        return true;
    if (event->type() == QEvent::FontChange)
        matchListFont(this);
    return QComboBox::event(event);
}

int DBLookupComboBox::rowOfCurrentKey() const
{
    RecordSet *list = listSet();
    if (!list || !dataField())
        return -1;
    const Value key = dataField()->value();
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

void DBLookupComboBox::rebuildEntries()
{
    if (!m_listDirty)
        return;
    m_listDirty = false;
    RecordSet *list = listSet();
    const QSignalBlocker blocker(this);
    clear();
    const Field *shown = list ? list->findField(m_listFieldName) : nullptr;
    if (shown) {
        for (int row = 0; row < list->rowCount(); ++row)
            addItem(displayText(list->valueAt(row, shown->Index()), shown->DataType()));
    }
}

RecordSet *DBLookupComboBox::settledList()
{
    RecordSet *list = listSet();
    if (list)
        list->Settle();
    return list;
}

void DBLookupComboBox::refresh()
{
    // The key is looked up in the list after settling it, and the list is left standing on the
    // record found; the row is found after the settle, which may drop a blank record above it.
    guarded([&] {
        RecordSet *list = settledList();
        const int row = rowOfCurrentKey();
        if (row >= 0 && list->currentRow() != row)
            list->SkipBy(row - list->currentRow());
    });
    rebuildEntries();
    const QSignalBlocker blocker(this);
    setCurrentIndex(rowOfCurrentKey());
}

void DBLookupComboBox::showPopup()
{
    // The entries are read from the list as it stands now: a year just added is offered.
    refreshNow();
    rebuildEntries();
    {
        const QSignalBlocker blocker(this);
        setCurrentIndex(rowOfCurrentKey());
    }
    matchListFont(this);
    QComboBox::showPopup();
}

QString DBLookupComboBox::Text()
{
    refreshNow();
    return currentIndex() >= 0 ? currentText() : QString();
}

bool DBLookupComboBox::canModify() const
{
    return listSet() && isEnabled() && dataField() && !dataField()->ReadOnly();
}

void DBLookupComboBox::choose(int row)
{
    RecordSet *list = listSet();
    if (!canModify() || !list || row < 0 || row >= list->rowCount())
        return;
    const Field *keyField = list->findField(m_keyFieldName);
    if (!keyField || !dataSource()->requestEdit())
        return;
    const Value key = list->valueAt(row, keyField->Index());
    if (auto integer = std::get_if<qint64>(&key))
        dataField()->setAsInt(*integer);
    else if (auto real = std::get_if<double>(&key))
        dataField()->setAsNumber(*real);
    else
        dataField()->setAsText(displayText(key, keyField->DataType()));
    refreshNow();
}

void DBLookupComboBox::search(QChar c)
{
    RecordSet *list = settledList();
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
    // Only the keys of a lookup: Alt+Down or Alt+Up opens the list, Up and Down choose the
    // neighbouring record, typing searches. Home, End and the page keys change nothing.
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
            RecordSet *list = settledList();
            const int current = rowOfCurrentKey();
            const int count = list ? list->rowCount() : 0;
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
    if (typesCharacter(event)) {
        guarded([&] { search(event->text().front()); });
        return;
    }
    // Left to the window: Tab, Enter, shortcuts.
    QWidget::keyPressEvent(event);
}

void DBLookupComboBox::wheelEvent(QWheelEvent *event)
{
    // The wheel scrolls whatever is under the pointer; it never changes the key.
    event->ignore();
}

bool DBLookupComboBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == view() && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Down || key->key() == Qt::Key_Up) &&
            (key->modifiers() & Qt::AltModifier)) {
            const int row = view()->currentIndex().row();
            hidePopup();
            guarded([&] { choose(row); });
            return true;
        }
    }
    return QComboBox::eventFilter(watched, event);
}
