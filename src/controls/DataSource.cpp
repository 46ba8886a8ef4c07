#include "DataSource.h"

#include "recordset/RecordSet.h"

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
