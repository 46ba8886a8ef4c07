#pragma once

#include <QWidget>

// The reference books window.
class TfrmSprav : public QWidget
{
    Q_OBJECT

public:
    explicit TfrmSprav(QWidget *parent = nullptr);
    ~TfrmSprav() override;
};

extern TfrmSprav *frmSprav;
