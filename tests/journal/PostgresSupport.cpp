#include "PostgresSupport.h"

#include "TestUtil.h"

#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <gtest/gtest.h>

#include <algorithm>

#include <unistd.h>

namespace journaltest {

namespace {

// The newest server Debian installed: /usr/lib/postgresql/<version>/bin.
QString serverBin() {
    QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString& a, const QString& b) { return a.toDouble() > b.toDouble(); });
    for (const QString& version : versions) {
        const QString bin = root.filePath(version + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) &&
            QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return {};
}

} // namespace

PostgresServer::PostgresServer()
    : m_bin(serverBin())
    , m_data(m_dir.filePath(QStringLiteral("data")))
    , m_port(testutil::freePort()) {
    if (m_bin.isEmpty())
        m_error = QStringLiteral("no PostgreSQL server here (Debian's postgresql package"
                                 " puts initdb and pg_ctl in /usr/lib/postgresql/<version>/bin)");
}

PostgresServer::~PostgresServer() {
    if (m_running)
        run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), m_data, QStringLiteral("-m"), QStringLiteral("immediate"),
             QStringLiteral("-w"), QStringLiteral("stop")});
}

bool PostgresServer::run(const QString& program, const QStringList& arguments) {
    QProcess process;
    QString command = m_bin + QLatin1Char('/') + program;
    QStringList args = arguments;
    // The server refuses to run as root; the tests do, in CI.
    if (::geteuid() == 0) {
        args.prepend(command);
        args = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--")} +
               args;
        command = QStringLiteral("runuser");
    }
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_dir.path());
    process.start(command, args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_error = program + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAll()) +
                  process.errorString();
        return false;
    }
    return true;
}

bool PostgresServer::start() {
    if (!available())
        return false;
    if (!m_initialised) {
        if (::geteuid() == 0 &&
            QProcess::execute(QStringLiteral("chown"),
                              {QStringLiteral("postgres:postgres"), m_dir.path()}) != 0) {
            m_error = QStringLiteral("chown postgres of the server folder failed");
            return false;
        }
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), m_data, QStringLiteral("-A"), QStringLiteral("trust"),
                  QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-E"),
                  QStringLiteral("UTF8"), QStringLiteral("--no-sync")}))
            return false;
        m_initialised = true;
    }
    const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -F")
                                .arg(m_port)
                                .arg(m_dir.path());
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"), m_data, QStringLiteral("-l"),
              m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-o"), options,
              QStringLiteral("-w"), QStringLiteral("start")}))
        return false;
    m_running = true;
    return true;
}

bool PostgresServer::stop() {
    if (!run(QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"), m_data, QStringLiteral("-m"), QStringLiteral("fast"),
              QStringLiteral("-w"), QStringLiteral("stop")}))
        return false;
    m_running = false;
    return true;
}

bool PostgresServer::createDatabase(const QString& name) {
    return run(QStringLiteral("createdb"),
               {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                QString::number(m_port), QStringLiteral("-U"), QStringLiteral("postgres"), name});
}

JournalSource PostgresServer::source(const QString& database, const QString& console) const {
    JournalSource s;
    s.driver = QStringLiteral("QPSQL");
    s.host = QStringLiteral("127.0.0.1");
    s.port = m_port;
    s.database = database;
    s.user = QStringLiteral("postgres");
    s.console = console;
    return s;
}

QList<QVariantList> PostgresServer::select(const QString& database, const QString& sql) const {
    QList<QVariantList> rows;
    const QString name = QStringLiteral("journaltest-pg-select");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(m_port);
        db.setDatabaseName(database);
        db.setUserName(QStringLiteral("postgres"));
        if (!db.open()) {
            ADD_FAILURE() << db.lastError().text().toStdString();
        } else {
            QSqlQuery q(db);
            if (!q.exec(sql))
                ADD_FAILURE() << sql.toStdString() << ": " << q.lastError().text().toStdString();
            while (q.next()) {
                QVariantList row;
                for (int i = 0; i < q.record().count(); ++i)
                    row << q.value(i);
                rows << row;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

} // namespace journaltest
