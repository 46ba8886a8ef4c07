#pragma once

#include "recordset/DataLink.h"

#include <QString>

#include <vector>

class RecordSet;

// Connects data-bound controls to one record set: it passes every notification of the record set
// on to its controls, and lets a control put the record set into editing when the user starts to
// change a value.
class DataSource : public DataLink
{
public:
    explicit DataSource(QString name, RecordSet *dataSet = nullptr);
    ~DataSource() override;
    DataSource(const DataSource &) = delete;
    DataSource &operator=(const DataSource &) = delete;

    const QString &name() const { return m_name; }
    RecordSet *DataSet() const { return m_dataSet; }
    void setDataSet(RecordSet *dataSet);

    bool AutoEdit() const { return m_autoEdit; }
    void setAutoEdit(bool autoEdit) { m_autoEdit = autoEdit; }

    // A control asks to start editing: the record set enters editing when it is browsing and
    // AutoEdit is on. True when the record set is then editing or inserting.
    bool requestEdit();

    void addControl(DataLink *control);
    void removeControl(DataLink *control);

    void fieldChanged(Field &field) override;
    void recordChanged() override;
    void dataSetChanged() override;
    void dataSetScrolled(int distance) override;
    void layoutChanged() override;
    void updateRecord() override;
    void stateChanged() override;

private:
    template<typename Method, typename... Args>
    void forward(Method method, Args &&...args);

    QString m_name;
    RecordSet *m_dataSet = nullptr;
    bool m_autoEdit = true;
    std::vector<DataLink *> m_controls;
};
