#pragma once

#include "DataSource.h"

#include <QPointer>

class Field;
class RecordSet;
class QEvent;
class QFocusEvent;
class QKeyEvent;
class QWidget;

// What every data-bound widget shares: its link to a data source, and a refresh that runs once
// before the next paint however many notifications came before it. A walk over a hundred
// thousand records notifies every control many times per record; each notification only marks
// what must be redone, so its cost does not depend on the number of records or rows.
class BoundControl : public DataLink
{
public:
    explicit BoundControl(QWidget *widget);
    ~BoundControl() override;
    BoundControl(const BoundControl &) = delete;
    BoundControl &operator=(const BoundControl &) = delete;

    DataSource *dataSource() const { return m_source; }
    void setDataSource(DataSource *source);
    // The record set behind the data source, or null.
    RecordSet *recordSet() const;
    // True while the record set is open.
    bool isRecordSetOpen() const;

    // Brings the widget up to date now, if a refresh is waiting.
    void refreshNow();

protected:
    void scheduleRefresh();
    // Shows the record set's present state; called once for any number of notifications.
    virtual void refresh() = 0;
    // Call from the widget's event(): true when the event was the refresh.
    bool handleRefreshEvent(QEvent *event);
    // Looks a field up by name for a control; fails with "<control>: Field '<name>' not found".
    Field *resolveField(const QString &fieldName) const;

private:
    friend class BoundField;

    QWidget *m_widget;
    QPointer<DataSource> m_source;
    bool m_refreshPosted = false;
};

// The one field a control shows and writes, given by name: looked up when the name is set, when
// the record set opens and when it makes its fields anew; forgotten when it closes. A lookup in an
// open record set without that field fails with "<control>: Field '<name>' not found".
class BoundField
{
public:
    explicit BoundField(const BoundControl &control) : m_control(&control) {}

    const QString &name() const { return m_name; }
    Field *get() const { return m_field; }
    bool is(const Field &field) const { return &field == m_field; }

    void setName(const QString &name);
    // After the record set's state changed.
    void followState();
    // After the record set's fields were made anew.
    void findAgain();

private:
    const BoundControl *m_control;
    QString m_name;
    Field *m_field = nullptr;
};

// Whether a typed character may go into a field of this type: digits and signs into a whole
// number, also "E", "e" and the decimal separator into a floating-point number, anything into text.
bool fieldAcceptsCharacter(const Field &field, QChar c);

// The one classification of keys for the program's text boxes (the edit box, the grid's cell
// editor, the lookup's typing search).

// True when the key types a character: printable text, without Ctrl or Alt.
bool typesCharacter(const QKeyEvent *event);

// What a key does to a bound text box: nothing to its text (moves, shortcuts), a change (a
// character, Backspace, Delete, paste, cut, undo, redo), or a character the field cannot hold,
// which the box refuses with a beep.
enum class TextKey { Other, Changes, Refused };
TextKey classifyTextKey(const QKeyEvent *event, const Field *field);

// True when focus goes to another control of the same window, not to another window or a popup.
bool leavesForAnotherControl(const QFocusEvent *event);

// The navigator's delete button and the grid's Ctrl+Delete: "Delete record?" asked first, and the
// current record deleted only on OK.
void deleteAfterConfirmation(RecordSet &set);

// Text the user typed was refused as the focus left `box` for `taker` (the focus widget when it
// left, before the message box took the focus): the focus goes back to `box`, and the control
// clicked to take the focus ignores that click, so a button is neither left drawn pressed nor run.
void takeFocusBack(QWidget *box, const QFocusEvent *event, QWidget *taker);
