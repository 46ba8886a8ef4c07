#pragma once

#include "platform/Error.h"

#include <QtGlobal>

// What an engine fails with beyond its own message: a row another computer changed, a lock that
// lasted too long, and the ways a server connection ends, which the program answers differently.

// A write refused because the row is no longer as the program read it: another computer changed or
// deleted it since. The user's change is kept; it can be made again on what the register holds.
class RowChangedElsewhere : public Error
{
public:
    RowChangedElsewhere()
        : Error(QStringLiteral(
              "Запись изменена или удалена на другом компьютере после того, как программа её "
              "прочитала; изменение не сохранено. Отмените его (кнопка ✗), обновите данные "
              "(кнопка с круговой стрелкой) и внесите изменение снова"))
    {}
};

// How long any statement waits for another computer's lock before it gives up.
inline constexpr int lockWaitSeconds = 15;

// A wait for another computer's lock that lasted longer than the program waits.
class RegisterBusy : public Error
{
public:
    explicit RegisterBusy(int waitedSeconds = lockWaitSeconds)
        : Error(QStringLiteral("Реестр занят на другом компьютере: он не освободился за %1 с, и "
                               "ничего не сохранено. Попробуйте ещё раз немного позже")
                    .arg(waitedSeconds))
    {}
};

// A change an engine took ahead of its answer (a server's pipelined post) and refused when the
// answer came: names the row by its key, since the program has moved on since.
class RefusedPost : public Error
{
public:
    RefusedPost(QString message, qint64 key, bool changedElsewhere = false)
        : Error(std::move(message)), m_key(key), m_changedElsewhere(changedElsewhere)
    {}

    qint64 key() const noexcept { return m_key; }
    // Refused because the row was no longer as read (see RowChangedElsewhere).
    bool changedElsewhere() const noexcept { return m_changedElsewhere; }

private:
    qint64 m_key;
    bool m_changedElsewhere;
};

// The person declined to give a server's password (or gave an empty one): the program asks no more
// in this run, and every later attempt to open the register fails with this message at once.
class PasswordDeclined : public Error
{
public:
    using Error::Error;
};

// The connection to a server went (a network that failed or went silent, a restart) while a
// statement was on its way: the next statement connects anew.
class ConnectionLost : public Error
{
public:
    using Error::Error;
};

// A server that did not answer within the program's limit: trying again at once would only wait as
// long again.
class ServerSilent : public ConnectionLost
{
public:
    using ConnectionLost::ConnectionLost;
};

// A wait on a server that the person cancelled: the connection was given up, as after a silence.
class WaitCancelled : public ConnectionLost
{
public:
    using ConnectionLost::ConnectionLost;
};

// A change sent to a server whose answer was lost, and whose fate the program could not learn
// afterwards: the server may or may not have stored it. `transaction` names it, so that the next
// attempt can ask again before it writes anything twice.
class OutcomeUnknown : public ConnectionLost
{
public:
    OutcomeUnknown(QString message, quint64 transaction)
        : ConnectionLost(std::move(message)), m_transaction(transaction)
    {}

    quint64 transaction() const noexcept { return m_transaction; }

private:
    quint64 m_transaction;
};
