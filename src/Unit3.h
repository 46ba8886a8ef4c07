#pragma once

#include <QWidget>

// The new record window.
class TfrmInsert : public QWidget
{
    Q_OBJECT

public:
    explicit TfrmInsert(QWidget *parent = nullptr);
    ~TfrmInsert() override;
};

extern TfrmInsert *frmInsert;
