#include "DataSource.h"

#include "recordset/RecordSet.h"

#include <algorithm>

DataSource::DataSource(const QString &name, RecordSet *recordSet)
{
    setObjectName(name);
    setRecordSet(recordSet);
}

DataSource::~DataSource()
{
    if (m_recordSet)
        m_recordSet->detach(this);
}

void DataSource::setRecordSet(RecordSet *recordSet)
{
    if (m_recordSet == recordSet)
        return;
    if (m_recordSet)
        m_recordSet->detach(this);
    m_recordSet = recordSet;
    if (m_recordSet)
        m_recordSet->attach(this);
    forward(&DataLink::stateChanged);
    forward(&DataLink::layoutChanged);
}

bool DataSource::requestEdit()
{
    if (!m_recordSet)
        return false;
    if (m_autoEdit && m_recordSet->state() == RecordSet::State::Browsing)
        m_recordSet->StartEdit();
    return m_recordSet->isEditing();
}

void DataSource::addControl(DataLink *control)
{
    m_controls.add(control);
}

void DataSource::removeControl(DataLink *control)
{
    m_controls.remove(control);
}

template <typename Method, typename... Args> void DataSource::forward(Method method, Args &&...args)
{
    m_controls.tell(method, std::forward<Args>(args)...);
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
void DataSource::rowsChanged()
{
    forward(&DataLink::rowsChanged);
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
