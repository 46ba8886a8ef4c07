#include "DataSource.h"

#include "recordset/RecordSet.h"

#include <algorithm>

DataSource::DataSource(QString name, RecordSet *dataSet) : m_name(std::move(name))
{
    setDataSet(dataSet);
}

DataSource::~DataSource()
{
    setDataSet(nullptr);
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
    m_controls.erase(std::remove(m_controls.begin(), m_controls.end(), control), m_controls.end());
}

template<typename Method, typename... Args>
void DataSource::forward(Method method, Args &&...args)
{
    // A control may leave (or another join) while it is told.
    const std::vector<DataLink *> controls = m_controls;
    for (DataLink *control : controls) {
        if (std::find(m_controls.begin(), m_controls.end(), control) != m_controls.end())
            (control->*method)(std::forward<Args>(args)...);
    }
}

void DataSource::fieldChanged(Field &field) { forward(&DataLink::fieldChanged, field); }
void DataSource::recordChanged() { forward(&DataLink::recordChanged); }
void DataSource::dataSetChanged() { forward(&DataLink::dataSetChanged); }
void DataSource::dataSetScrolled(int distance) { forward(&DataLink::dataSetScrolled, distance); }
void DataSource::layoutChanged() { forward(&DataLink::layoutChanged); }
void DataSource::updateRecord() { forward(&DataLink::updateRecord); }
void DataSource::stateChanged() { forward(&DataLink::stateChanged); }
