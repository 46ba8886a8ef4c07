#pragma once

#include <QComboBox>

// A drop-down box with editable text: the user picks an entry or types any text. Typing completes
// to the first entry, in list order, that begins with the typed letters regardless of case, and
// keeps the letters as typed in front of the rest of that entry.
//
// selectionChanged is raised when the selected entry changes: by a pick, by the arrow keys, or by
// typing that completes to another entry; never for typing that leaves the entry as it was.
class TextComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit TextComboBox(QWidget *parent = nullptr);

Q_SIGNALS:
    void selectionChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showPopup() override;

private:
    void complete(const QString &typed);
    void selectionMayHaveChanged(int index);

    int m_selected = -1;
    bool m_deleting = false;
};

// A drop-down box's list is a window of its own, which takes no font from the box or the box's
// window: called at every font change of the box, it gives the list the box's font.
void matchListFont(QComboBox *box);
