#pragma once

#include <QString>

class QSqlDatabase;

// Where the order journal is read from and handed on to: the console's own file
// (QSQLITE) or a PostgreSQL database shared by the consoles of a venue or a chain
// (QPSQL). Section [Journal] of the console's ini says which.
struct JournalSource {
    QString driver = QStringLiteral("QSQLITE");
    QString host;
    int port = 5432;
    QString database;
    QString user;
    QString password;
    // This console's name in the shared journal; its rows are told apart by it.
    QString console;
    // Why the ini gave no usable source (a password file others can read); empty when
    // it did.
    QString error;
    // How long the server may take over one statement before it gives it up: a table
    // another session holds locked, or a server too busy to answer, must not hold a read
    // (and with it the operator's window) for good. 0: no limit, for the exports that
    // read a whole period in one statement off the operator's thread.
    int statementTimeoutMs = 15000;

    bool shared() const { return driver == QStringLiteral("QPSQL"); }

    // The options of a connection to the shared journal: a server that does not answer
    // a connect is given up after 5 s, and one that goes away under an open connection
    // (its machine down, the network cut) is noticed within about 15 s, by the TCP
    // keep-alives and the time allowed for what was sent to be acknowledged, instead
    // of the system's two hours; and statementTimeoutMs.
    QString connectOptions() const;
    // Gives db (a connection of driver) the server, the account and connectOptions().
    void configure(QSqlDatabase& db) const;
    // Why a connection of driver cannot be made at all.
    static QString missingDriverText();

    // Driver (QSQLITE), Host, Port (5432), Database, User, PasswordFile, Console (the
    // host name) of [Journal]. The password is never in the ini itself: PasswordFile
    // names a file only its owner may read, and one that others can read is refused.
    static JournalSource fromIni(const QString& iniFileName);
};
