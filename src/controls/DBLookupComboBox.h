#pragma once

#include "BoundControl.h"

#include <QComboBox>
#include <QElapsedTimer>

// A lookup drop-down: shows, for the key held in a field of one record set (the data field), the
// text of the matching record of another record set (the list), and writes the key of the record
// the user chooses into the data field at once.
class DBLookupComboBox : public QComboBox, public BoundControl
{
    Q_OBJECT

public:
    explicit DBLookupComboBox(QWidget *parent = nullptr);
    ~DBLookupComboBox() override;

    void setDataField(const QString &fieldName);
    // Attaching to an open list, and the list opening, fail with "<control>: Field '<name>' not
    // found" when the list lacks the key or the list column: set both names first.
    void setListSource(DataSource *source);
    void setKeyField(const QString &fieldName);
    void setListField(const QString &fieldName);
    DataSource *ListSource() const { return m_listSource; }

    // The text shown for the current key: empty when the key is null or not in the list.
    QString Text();

    void fieldChanged(Field &field) override;
    void recordChanged() override { scheduleRefresh(); }
    void dataSetChanged() override { scheduleRefresh(); }
    void dataSetScrolled(int) override { scheduleRefresh(); }
    void layoutChanged() override;
    void stateChanged() override;

    void showPopup() override;

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void refresh() override;

private:
    class ListLink;
    friend class ListLink;

    RecordSet *listSet() const;
    void checkListFields() const;
    // The list record set after settling its pending record, or null when it is closed.
    RecordSet *settledList();
    // Builds the entries again from the list's rows if the list changed since.
    void rebuildEntries();
    // Whether a chosen key may be written: list open, data field present and writable.
    bool canModify() const;
    // Writes the key of list row `row` into the data field, starting editing first.
    void choose(int row);
    int rowOfCurrentKey() const;
    Field *dataField() const { return m_dataField.get(); }
    void search(QChar c);

    QString m_keyFieldName;
    QString m_listFieldName;
    BoundField m_dataField{*this};
    QPointer<DataSource> m_listSource;
    std::unique_ptr<ListLink> m_listLink;
    bool m_listDirty = true;
    QString m_searchText;
    QElapsedTimer m_sinceLastCharacter;
};
