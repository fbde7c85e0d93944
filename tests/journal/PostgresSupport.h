#pragma once

#include "journal/JournalSource.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>

namespace journaltest {

// A PostgreSQL server of the test's own: Debian's initdb and pg_ctl in a temporary
// folder, trust on 127.0.0.1 at a free port and on a socket in the folder. As root the
// programs run as the postgres user, which the server insists on.
class PostgresServer {
public:
    PostgresServer();
    // Stops the server (immediately: the test is over) and removes the folder.
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // False when the machine has no server programs; error says why.
    bool available() const { return !m_bin.isEmpty(); }
    // initdb once, then pg_ctl start; false with the reason in error.
    bool start();
    // pg_ctl stop -m fast: connections are cut, as when a server goes away.
    bool stop();
    bool createDatabase(const QString& name);
    QString error() const { return m_error; }

    // The [Journal] settings of a console that shares database on this server.
    JournalSource source(const QString& database, const QString& console) const;

    // Rows of sql on database, each row's columns in order, through a connection of the
    // test's own. Fails the current test on an error.
    QList<QVariantList> select(const QString& database, const QString& sql) const;

private:
    bool run(const QString& program, const QStringList& arguments);

    QString m_bin;
    QTemporaryDir m_dir;
    QString m_data;
    int m_port = 0;
    bool m_initialised = false;
    bool m_running = false;
    QString m_error;
};

} // namespace journaltest
