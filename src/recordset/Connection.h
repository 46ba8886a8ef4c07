#pragma once

#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class Engine;
class RecordSet;
class ServerSession;

// The one connection of the program to its register: the database file, or, when a server is
// given (a libpq connection string or URI), the register in a PostgreSQL database. It opens on
// request, and a record set that opens while the connection is closed asks it to open first. It
// holds the record sets open on it, so that a row one of them stores is taken by the others.
class Connection
{
public:
    explicit Connection(QString fileName, QString server = QString());
    ~Connection();

    // Makes sure the engine can be used; fails with "Error creating object. ..." otherwise.
    static void initializeEngine();
    // How long the program waits for any answer of a server (the setting `timeout`).
    static void setAnswerLimit(std::chrono::seconds limit);
    // Whether a server's connection string carries a password, which never belongs on a command
    // line or in a settings file.
    static bool serverNamesAPassword(const QString &server);

    const QString &fileName() const { return m_fileName; }
    bool onServer() const { return !m_server.isEmpty(); }
    // Where the register is, for messages: the file's full path, or the server and database.
    QString where() const;
    bool isOpen() const { return m_engine != nullptr; }
    // Open on a file that it, or its folder, does not let us write, or as a server role that may
    // only read: the data is shown, never changed.
    bool isReadOnly() const;
    // The kind of network file system the file lies on, empty when it is local.
    QString networkShare() const;
    // Read only because the file, on a share, is still in write-ahead-log mode and another copy
    // of the program has it open.
    bool logInUseOnShare() const;

    // Opens the file, never creating it; fails with the engine's message. No effect when open. A
    // server's password is asked of the person when no file gives it, and kept in memory for
    // the rest of the run; once they decline, every later open fails at once without asking.
    // A server that did not answer is not waited for again until as long again has passed,
    // unless `now` (the person asked for it).
    void open(bool now = false);
    void close();

    // The register's engine, opened first if it is not.
    Engine &engine();

    // Writes what the register holds now into a new Base.mdb file, `file`, which must not exist:
    // every table, row and key, as the program opens any register. Fails with the engine's
    // message, leaving no file behind.
    void snapshot(const QString &file);

    // Copies every committed change into the database file itself, so that a copy of the file
    // alone holds all the data; false at once when another program is writing. Nothing to do,
    // and true, while closed or when the file cannot be written.
    bool checkpointUnlessBusy();

    // The record sets open on this connection. The program is one computer: a row one of them
    // stored or deleted is taken by every other that holds it, so none takes this program's
    // own change for another computer's.
    // Opens every record set that waits to open (RecordSet::openLater).
    void openWaiting();
    void attach(RecordSet *set);
    void detach(RecordSet *set);
    void rowStored(const RecordSet &from, qint64 keyAsRead, int row);
    void rowDeleted(const RecordSet &from, qint64 key);

    // Other computers' work: a descriptor that becomes readable when they committed something
    // (-1: none; ask about once a second), and what they committed since last asked, shown in
    // every record set. False when there was nothing new. Nothing while closed.
    int changeSignal() const;
    bool showOthersChanges();

private:
    std::vector<RecordSet *> m_sets;
    QString m_fileName;
    QString m_server;
    std::unique_ptr<Engine> m_engine;
    std::unique_ptr<ServerSession> m_session; // on a server: what this run keeps of reaching it
};
