#pragma once

#include <QString>

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

    bool shared() const { return driver == QStringLiteral("QPSQL"); }

    // Driver (QSQLITE), Host, Port (5432), Database, User, PasswordFile, Console (the
    // host name) of [Journal]. The password is never in the ini itself: PasswordFile
    // names a file only its owner may read, and one that others can read is refused.
    static JournalSource fromIni(const QString& iniFileName);
};
