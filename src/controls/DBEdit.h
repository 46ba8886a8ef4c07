#pragma once

#include "BoundControl.h"
#include "BoundLineEdit.h"

class CharacterLimit;

// A bound edit box: shows one field of the current record and lets the user change it. Typed text
// stays in the box (pending) until the focus moves to another control of the window or the record
// set is about to settle or post; only then is it written into the field.
class DBEdit : public BoundLineEdit, public BoundControl
{
    Q_OBJECT

public:
    explicit DBEdit(QWidget *parent = nullptr);

    const QString &DataField() const { return m_field.name(); }
    void setDataField(const QString &fieldName);
    Field *field() const { return m_field.get(); }
    bool hasPendingText() const { return m_pending; }

    // Writes the pending text into the field. Throws what the field's conversion throws.
    void commit();

    void fieldChanged(Field &field) override;
    void recordChanged() override;
    void dataSetChanged() override;
    void dataSetScrolled(int distance) override;
    void layoutChanged() override;
    void updateRecord() override;
    void stateChanged() override;

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void refresh() override;
    bool requestChange() override;
    bool mayChange() const override;

private:
    // The record set is editing and the field may be changed.
    bool canEdit() const;
    void redisplay();

    BoundField m_field{*this};
    bool m_pending = false;
    CharacterLimit *m_limit;
};
