#pragma once

#include <QObject>

// The data module: the connection to Base.mdb, its record sets and their data sources.
class TDM : public QObject
{
    Q_OBJECT

public:
    explicit TDM(QObject *parent = nullptr);
    ~TDM() override;
};

extern TDM *DM;
