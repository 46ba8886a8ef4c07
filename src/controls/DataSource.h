#pragma once

#include "recordset/DataLinks.h"

#include <QObject>
#include <QString>

#include <vector>

class RecordSet;

// Connects data-bound controls to one record set: it passes every notification of the record set
// on to its controls, and lets a control put the record set into editing when the user starts to
// change a value. A QObject, so that controls can tell when it is gone.
class DataSource : public QObject, public DataLink
{
    Q_OBJECT

public:
    explicit DataSource(const QString &name, RecordSet *recordSet = nullptr);
    ~DataSource() override;

    RecordSet *recordSet() const { return m_recordSet; }
    void setRecordSet(RecordSet *recordSet);

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
    void rowsChanged() override;
    void dataSetScrolled(int distance) override;
    void layoutChanged() override;
    void updateRecord() override;
    void stateChanged() override;

private:
    template <typename Method, typename... Args> void forward(Method method, Args &&...args);

    RecordSet *m_recordSet = nullptr;
    bool m_autoEdit = true;
    DataLinks m_controls;
};
