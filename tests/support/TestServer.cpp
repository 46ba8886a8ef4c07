#include "TestServer.h"

#include "register/ServerRegister.h"
#include "platform/Error.h"

#include <QDate>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

ServerDatabase::ServerDatabase(bool withRegister, bool withDemo)
{
    const QString stateFile = QStringLiteral(REESTR_TEST_SERVER_STATE);
    QFile state(stateFile);
    if (!state.open(QIODevice::ReadOnly)) {
        m_why = QStringLiteral("the tests' server was not started (no %1): run the tests through "
                               "CTest, which starts it")
                    .arg(stateFile);
        return;
    }
    const QString line = QString::fromUtf8(state.readAll()).trimmed();
    if (line.startsWith(QLatin1String("skip: ")) || line.startsWith(QLatin1String("fail: "))) {
        m_why = line;
        return;
    }
    m_admin = line;
    m_name = QStringLiteral("reestr_test_%1")
                 .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    m_conninfo = QString(m_admin).replace(QStringLiteral("dbname=postgres"),
                                          QStringLiteral("dbname=") + m_name);
    try {
        PgConnection(m_admin).exec(QStringLiteral("CREATE DATABASE %1").arg(m_name));
        if (withRegister)
            DatabaseTool::createServerRegister(m_conninfo, withDemo, 2026);
        m_ok = true;
    } catch (const Error &e) {
        m_why = e.message();
    }
}

ServerDatabase::~ServerDatabase()
{
    if (m_name.isEmpty() || m_admin.isEmpty())
        return;
    try {
        PgConnection(m_admin).exec(
            QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name));
    } catch (const Error &) {
    }
}

std::unique_ptr<PgConnection> ServerDatabase::connect() const
{
    return std::make_unique<PgConnection>(m_conninfo);
}

void ServerDatabase::exec(const QString &sql) const
{
    connect()->execScript(sql);
}

QString ServerDatabase::scalar(const QString &sql) const
{
    const PgResult result = connect()->exec(sql);
    return result.rows() > 0 && !result.isNull(0, 0) ? result.text(0, 0) : QString();
}

QString ServerDatabase::socket() const
{
    const auto value = [this](const char *key) {
        return QRegularExpression(QLatin1String(key) + QStringLiteral("=(\\S+)"))
            .match(m_admin)
            .captured(1);
    };
    return QStringLiteral("%1/.s.PGSQL.%2").arg(value("host"), value("port"));
}
