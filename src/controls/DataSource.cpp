#include "DataSource.h"

#include "recordset/RecordSet.h"

#include <QVarLengthArray>

#include <algorithm>

DataSource::DataSource(const QString &name, RecordSet *dataSet)
{
    setObjectName(name);
    setDataSet(dataSet);
}

DataSource::~DataSource()
{
    if (m_dataSet)
        m_dataSet->detach(this);
}

void DataSource::setDataSet(RecordSet *dataSet)
{
    if (m_dataSet == dataSet)
        return;
    if (m_dataSet)
        m_dataSet->detach(this);
    m_dataSet = dataSet;
    if (m_dataSet)
        m_dataSet->attach(this);
    forward(&DataLink::stateChanged);
    forward(&DataLink::layoutChanged);
}

bool DataSource::requestEdit()
{
    if (!m_dataSet)
        return false;
    if (m_autoEdit && m_dataSet->state() == RecordSet::State::Browsing)
        m_dataSet->StartEdit();
    return m_dataSet->isEditing();
}

void DataSource::addControl(DataLink *control)
{
    if (std::find(m_controls.begin(), m_controls.end(), control) == m_controls.end())
        m_controls.push_back(control);
}

void DataSource::removeControl(DataLink *control)
{
    const auto before = m_controls.size();
    m_controls.erase(std::remove(m_controls.begin(), m_controls.end(), control), m_controls.end());
    if (m_controls.size() != before)
        ++m_removals;
}

template <typename Method, typename... Args> void DataSource::forward(Method method, Args &&...args)
{
    // Notifications come for every step of a walk over all records: no allocation here. A control
    // that leaves while the others are told is not told any more.
    const QVarLengthArray<DataLink *, 16> controls(m_controls.begin(), m_controls.end());
    const quint64 removals = m_removals;
    for (DataLink *control : controls) {
        if (m_removals != removals &&
            std::find(m_controls.begin(), m_controls.end(), control) == m_controls.end()) {
            continue;
        }
        (control->*method)(std::forward<Args>(args)...);
    }
}

void DataSource::fieldChanged(Field &field)
{
    forward(&DataLink::fieldChanged, field);
}
void DataSource::recordChanged()
{
    forward(&DataLink::recordChanged);
}
void DataSource::dataSetChanged()
{
    forward(&DataLink::dataSetChanged);
}
void DataSource::dataSetScrolled(int distance)
{
    forward(&DataLink::dataSetScrolled, distance);
}
void DataSource::layoutChanged()
{
    forward(&DataLink::layoutChanged);
}
void DataSource::updateRecord()
{
    forward(&DataLink::updateRecord);
}
void DataSource::stateChanged()
{
    forward(&DataLink::stateChanged);
}
