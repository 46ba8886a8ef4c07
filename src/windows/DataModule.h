#pragma once

#include "controls/DataSource.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <QObject>

#include <memory>
#include <optional>

class ChangeWatch;

// The data module: the one connection to Base.mdb in the current directory, the four tables and
// two queries over it, and a data source for each. Only it opens the database.
class TDM : public QObject
{
    Q_OBJECT

public:
    // Makes the connection, the record sets and their data sources, all closed: the register is
    // `file` (Base.mdb in the current folder), or the one on `server` when given. An engine that
    // cannot be used at all throws.
    explicit TDM(const QString &server = QString(),
                 const QString &file = QStringLiteral("Base.mdb"), QObject *parent = nullptr);
    // Opens the connection and the four tables, once the controls are linked. A database that
    // cannot be opened is reported in the error box, once for the connection and once for each
    // table, and the program goes on with everything closed. A control whose field a table lacks
    // is reported as the table opens; the table stays open.
    void open();
    // Closes every record set without posting, then the connection.
    ~TDM() override;

    Connection con1;
    RecordSet tblMain;
    RecordSet tblGod;
    RecordSet tblMesyats;
    RecordSet tblChislo;
    RecordSet qryZapros1;
    RecordSet qryZapros2;
    // The year the ages in the register were calculated for: closed on a register made before
    // it was kept there.
    RecordSet tblRaschet;
    DataSource dsMain;
    DataSource dsGod;
    DataSource dsMesyats;
    DataSource dsChislo;
    DataSource dsZapros1;
    DataSource dsZapros2;

    // The year the ages in the register were calculated for, when it is known.
    std::optional<int> agesYear();
    // Holds other computers' changes back, or shows them again as they come (ChangeWatch::hold).
    void holdOthersChanges(bool held);

private:
    // Shows other computers' changes as they come, from the opening on.
    std::unique_ptr<ChangeWatch> m_changeWatch;
    bool m_agesYearMissing = false; // the register keeps no year of the ages
    bool m_heldOthersChanges = false;
};

extern TDM *DM;
