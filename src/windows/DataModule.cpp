#include "windows/DataModule.h"

#include "controls/ChangeWatch.h"
#include "controls/Guard.h"
#include "platform/Error.h"
#include "register/RegisterSchema.h"
#include "platform/Dialogs.h"

TDM *DM = nullptr;

TDM::TDM(const QString &server, const QString &file, QObject *parent)
    : QObject(parent), con1(file, server),
      tblMain(QStringLiteral("tblMain"), con1, RecordSet::Kind::Table),
      tblGod(QStringLiteral("tblGod"), con1, RecordSet::Kind::Table),
      tblMesyats(QStringLiteral("tblMesyats"), con1, RecordSet::Kind::Table),
      tblChislo(QStringLiteral("tblChislo"), con1, RecordSet::Kind::Table),
      qryZapros1(QStringLiteral("qryZapros1"), con1, RecordSet::Kind::Query),
      qryZapros2(QStringLiteral("qryZapros2"), con1, RecordSet::Kind::Query),
      tblRaschet(QStringLiteral("tblRaschet"), con1, RecordSet::Kind::Table),
      dsMain(QStringLiteral("dsMain"), &tblMain), dsGod(QStringLiteral("dsGod"), &tblGod),
      dsMesyats(QStringLiteral("dsMesyats"), &tblMesyats),
      dsChislo(QStringLiteral("dsChislo"), &tblChislo),
      dsZapros1(QStringLiteral("dsZapros1"), &qryZapros1),
      dsZapros2(QStringLiteral("dsZapros2"), &qryZapros2)
{
    setObjectName(QStringLiteral("DM"));
    Connection::initializeEngine();

    tblMain.setTableName(QStringLiteral("Main"));
    tblGod.setTableName(QStringLiteral("God"));
    tblMesyats.setTableName(QStringLiteral("Mesyats"));
    tblChislo.setTableName(QStringLiteral("Chislo"));
    tblRaschet.setTableName(QString::fromUtf8(RegisterSchema::agesTable));
}

void TDM::holdOthersChanges(bool held)
{
    m_heldOthersChanges = held;
    if (m_changeWatch)
        m_changeWatch->hold(held);
}

std::optional<int> TDM::agesYear()
{
    // Opened with the register, also when that waited for the server.
    if (!tblRaschet.Active() && tblMain.Active() && !m_agesYearMissing) {
        try {
            tblRaschet.setActive(true);
        } catch (const Error &) {
            // A register made before the year of the ages was kept: no year is named.
            m_agesYearMissing = true;
        }
    }
    if (!tblRaschet.Active() || tblRaschet.rowCount() == 0)
        return std::nullopt;
    const Value year = tblRaschet.valueAt(0, tblRaschet.FieldNamed(QStringLiteral("Год")).Index());
    if (const qint64 *number = std::get_if<qint64>(&year))
        return int(*number);
    return std::nullopt;
}

void TDM::open()
{
    m_changeWatch = std::make_unique<ChangeWatch>(con1);
    m_changeWatch->hold(m_heldOthersChanges);
    // Each table asks the connection to open again when it is still closed, so a database file
    // that cannot be opened is reported five times, as each of them fails in turn. A server not
    // reached is said once: the window then shows that it is not connected, and the refresh
    // button connects and loads the register when the server is back.
    if (!guarded([this] { con1.open(); }) && con1.onServer()) {
        for (RecordSet *table : {&tblMain, &tblGod, &tblMesyats, &tblChislo})
            table->openLater();
        return;
    }
    // Each said once, before the tables show.
    const QString where = con1.where();
    if (con1.logInUseOnShare()) {
        Dialogs::current().showError(
            QStringLiteral("Файл базы данных «%1» лежит в сетевой папке и открыт другой копией "
                           "программы в режиме, который в сетевой папке небезопасен. Данные только "
                           "показываются; закройте все копии программы и запустите её снова")
                .arg(where));
    } else if (con1.isReadOnly() && con1.onServer()) {
        // Nothing is wrong: the role was given to read.
        Dialogs::current().showNote(
            QStringLiteral("Реестр (%1) открыт только для чтения: ваша роль на сервере не может "
                           "изменять его. Данные только показываются, изменения сохранить нельзя.")
                .arg(where));
    } else if (con1.isReadOnly()) {
        // Every change would be refused later.
        Dialogs::current().showError(
            QStringLiteral("Файл базы данных «%1» (или его папка) закрыт для записи: данные "
                           "только показываются, изменения сохранить нельзя")
                .arg(where));
    }
    if (!con1.networkShare().isEmpty()) {
        Dialogs::current().showNotice(
            QStringLiteral("Файл базы данных «%1» лежит в сетевой папке. Программа работает с ним "
                           "осторожно, но один файл на нескольких компьютерах легко повредить. "
                           "Если с реестром работают несколько компьютеров, храните его на "
                           "сервере баз данных PostgreSQL: reestr-db init --server")
                .arg(where));
    }
    for (RecordSet *table : {&tblMain, &tblGod, &tblMesyats, &tblChislo})
        guarded([table] { table->setActive(true); });
    agesYear();
}

TDM::~TDM()
{
    m_changeWatch.reset();
    m_agesYearMissing = true; // the title asks for the year as the tables close: nothing opens now
    for (RecordSet *set :
         {&tblRaschet, &qryZapros2, &qryZapros1, &tblChislo, &tblMesyats, &tblGod, &tblMain})
        set->setActive(false);
    con1.close();
}
