#pragma once

class Field;

// Something that watches a record set: a data source, which passes each notification on to its
// controls. Every method has an empty default, so a watcher overrides only what it needs.
class DataLink
{
public:
    virtual ~DataLink() = default;

    // A value was written into a field of the current record.
    virtual void fieldChanged(Field &) {}
    // The current record entered editing.
    virtual void recordChanged() {}
    // The whole visible window of records must be read again.
    virtual void dataSetChanged() {}
    // Rows other than a record being edited changed, came or went, as another computer changed
    // them; the current record is the same one, perhaps at another position. Text typed and
    // not yet written stays.
    virtual void rowsChanged() {}
    // The cursor moved by `distance` records within what is held.
    virtual void dataSetScrolled(int /*distance*/) {}
    // The field list or a field's visibility changed.
    virtual void layoutChanged() {}
    // About to settle or post: text typed but not yet written must be written now.
    virtual void updateRecord() {}
    // The state changed: open, close, edit, insert, post, cancel.
    virtual void stateChanged() {}
};
