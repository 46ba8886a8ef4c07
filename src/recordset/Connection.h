#pragma once

#include <QString>

#include <memory>

class Engine;

// The one connection of the program to its database file. It opens on request, and a record set
// that opens while the connection is closed asks it to open first.
class Connection
{
public:
    explicit Connection(QString fileName);
    ~Connection();

    // Makes sure the engine can be used; fails with "Error creating object. ..." otherwise.
    static void initializeEngine();

    const QString &fileName() const { return m_fileName; }
    bool isOpen() const { return m_engine != nullptr; }
    // Open on a file that it, or its folder, does not let us write: the data is shown, never
    // changed.
    bool isReadOnly() const;
    // The kind of network file system the file lies on, empty when it is local.
    QString networkShare() const;
    // Read only because the file, on a share, is still in write-ahead-log mode and another copy
    // of the program has it open.
    bool logInUseOnShare() const;

    // Opens the file, never creating it; fails with the engine's message. No effect when open.
    void open();
    void close();

    // The register's engine, opened first if it is not.
    Engine &engine();

    // Copies every committed change into the database file itself, so that a copy of the file
    // alone holds all the data; false at once when another program is writing. Nothing to do,
    // and true, while closed or when the file cannot be written.
    bool checkpointUnlessBusy();

private:
    QString m_fileName;
    std::unique_ptr<Engine> m_engine;
};
