#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <ostream>

namespace testutil {

// A CUPS scheduler of the test's own: its configuration, spool and socket live in a
// temporary folder, and this process's libcups (and Qt's print support, which uses it)
// talks to it alone. Queues print into files through the capture backend, so what a
// printer would receive can be read back byte for byte.
class CupsServer {
public:
    ~CupsServer();

    // Empty when the machine can run one; else why not (for GTEST_SKIP).
    static QString missingTools();

    // Starts the scheduler and points CUPS_SERVER at it; false (with error()) on failure.
    bool start();
    void stop();
    const QString& error() const { return m_error; }

    // A queue whose jobs land in captureFile(name): raw, or with the driver options of
    // lpadmin in driver (-m ... -o ...).
    bool addQueue(const QString& name, bool makeDefault = false, const QStringList& driver = {});
    // Stops the queue from taking jobs, as a queue an administrator rejected.
    bool rejectJobs(const QString& name);
    QString captureFile(const QString& name) const;
    QByteArray captured(const QString& name) const;

    struct JobInfo {
        int id = 0;
        QString title;
        QString printer;
    };
    // Jobs of every queue, finished or not.
    QList<JobInfo> jobs() const;
    // Waits until the scheduler has no job left to process.
    bool waitIdle(int ms = 20000) const;

    QString path(const QString& relative) const { return m_dir.filePath(relative); }

private:
    bool run(const QString& program, const QStringList& args);

    QTemporaryDir m_dir;
    QProcess m_cupsd;
    QString m_socket;
    QString m_error;
};

// Runs a tool and returns its standard output; empty when it failed.
QByteArray runTool(const QString& program, const QStringList& args, int ms = 30000);

} // namespace testutil

#include "TestUtil.h" // readable Qt strings in failure messages
