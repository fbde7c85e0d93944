#include "CupsSupport.h"

#include "TestUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <cups/cups.h>

namespace testutil {

namespace {

const char* const kTools[] = {"cupsd", "lpadmin", "cupsreject"};

QString findTool(const QString& name) {
    return QStandardPaths::findExecutable(
        name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin")});
}

} // namespace

CupsServer::~CupsServer() {
    stop();
}

QString CupsServer::missingTools() {
    for (const char* tool : kTools) {
        if (findTool(QString::fromLatin1(tool)).isEmpty())
            return QStringLiteral("%1 is not installed (Debian packages cups, cups-client)")
                .arg(QString::fromLatin1(tool));
    }
    if (!QFileInfo::exists(QStringLiteral("/usr/lib/cups/filter")))
        return QStringLiteral("the CUPS filters folder is missing (package cups)");
    return {};
}

bool CupsServer::start() {
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString root = m_dir.path();
    // Jobs are run as the scheduler's user lp, who must reach the spool through this folder.
    QFile::setPermissions(root, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                    QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                    QFileDevice::ExeOther);
    const QStringList dirs = {"spool", "tmp", "cache",       "state",
                              "logs",  "ppd", "bin/backend", "out"};
    for (const QString& dir : dirs)
        QDir(root).mkpath(dir);
    // The scheduler runs backends as lp unless only their owner may run them; the capture
    // backend then runs as root and can write into the private capture folder.
    const QString backend = root + QStringLiteral("/bin/backend/capture");
    if (!QFile::copy(sourcePath(QStringLiteral("tests/printing/cups/capture")), backend)) {
        m_error = QStringLiteral("cannot copy the capture backend");
        return false;
    }
    QFile::setPermissions(backend,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (const char* sub : {"filter", "daemon", "cgi-bin", "monitor", "notifier", "driver"}) {
        const QString target = QStringLiteral("/usr/lib/cups/") + QString::fromLatin1(sub);
        if (QFileInfo::exists(target))
            QFile::link(target, root + QStringLiteral("/bin/") + QString::fromLatin1(sub));
    }

    m_socket = root + QStringLiteral("/cups.sock");
    writeFile(root + QStringLiteral("/cups-files.conf"),
              QStringLiteral("ServerRoot %1\n"
                             "RequestRoot %1/spool\n"
                             "TempDir %1/tmp\n"
                             "CacheDir %1/cache\n"
                             "StateDir %1/state\n"
                             "ServerBin %1/bin\n"
                             "DataDir /usr/share/cups\n"
                             "ErrorLog %1/logs/error_log\n"
                             "AccessLog %1/logs/access_log\n"
                             "PageLog %1/logs/page_log\n"
                             "FileDevice Yes\n")
                  .arg(root)
                  .toUtf8());
    writeFile(root + QStringLiteral("/cupsd.conf"),
              QStringLiteral("Listen %1\n"
                             "LogLevel warn\n"
                             "WebInterface No\n"
                             "Browsing No\n"
                             "DefaultAuthType None\n"
                             "PreserveJobHistory Yes\n"
                             "<Location />\nOrder allow,deny\nAllow all\n</Location>\n"
                             "<Policy default>\n<Limit All>\nOrder deny,allow\n</Limit>\n"
                             "</Policy>\n")
                  .arg(m_socket)
                  .toUtf8());

    m_cupsd.setProcessChannelMode(QProcess::MergedChannels);
    m_cupsd.start(findTool(QStringLiteral("cupsd")),
                  {QStringLiteral("-f"), QStringLiteral("-c"), root + QStringLiteral("/cupsd.conf"),
                   QStringLiteral("-s"), root + QStringLiteral("/cups-files.conf")});
    if (!m_cupsd.waitForStarted(5000)) {
        m_error = QStringLiteral("cupsd did not start");
        return false;
    }
    // Everything in this process, Qt's print support included, asks this scheduler.
    qputenv("CUPS_SERVER", m_socket.toUtf8());
    cupsSetServer(m_socket.toUtf8().constData());
    const bool up = waitUntil(
        [this] {
            if (m_cupsd.state() != QProcess::Running)
                return true;
            http_t* http = httpConnect2(m_socket.toUtf8().constData(), 0, nullptr, AF_LOCAL,
                                        HTTP_ENCRYPTION_NEVER, 1, 200, nullptr);
            if (!http)
                return false;
            httpClose(http);
            return true;
        },
        10000);
    if (!up || m_cupsd.state() != QProcess::Running) {
        m_error = QStringLiteral("cupsd did not come up: ") +
                  QString::fromLocal8Bit(m_cupsd.readAll()) +
                  QString::fromLocal8Bit(readFile(root + QStringLiteral("/logs/error_log")));
        return false;
    }
    return true;
}

void CupsServer::stop() {
    if (m_cupsd.state() != QProcess::NotRunning) {
        m_cupsd.terminate();
        if (!m_cupsd.waitForFinished(5000)) {
            m_cupsd.kill();
            m_cupsd.waitForFinished(2000);
        }
    }
}

bool CupsServer::run(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(findTool(program), args);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_error = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    return true;
}

bool CupsServer::addQueue(const QString& name, bool makeDefault, const QStringList& driver) {
    const QStringList queue = {QStringLiteral("-p"), name, QStringLiteral("-E"),
                               QStringLiteral("-v"),
                               QStringLiteral("capture:") + captureFile(name)};
    if (!run(QStringLiteral("lpadmin"), queue + driver))
        return false;
    return !makeDefault || run(QStringLiteral("lpadmin"), {QStringLiteral("-d"), name});
}

bool CupsServer::rejectJobs(const QString& name) {
    return run(QStringLiteral("cupsreject"), {name});
}

QString CupsServer::captureFile(const QString& name) const {
    return m_dir.filePath(QStringLiteral("out/") + name + QStringLiteral(".bin"));
}

QByteArray CupsServer::captured(const QString& name) const {
    return readFile(captureFile(name));
}

QList<CupsServer::JobInfo> CupsServer::jobs() const {
    cups_job_t* list = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &list, nullptr, 0, CUPS_WHICHJOBS_ALL);
    QList<JobInfo> result;
    for (int i = 0; i < count; ++i)
        result.append(
            {list[i].id, QString::fromUtf8(list[i].title), QString::fromUtf8(list[i].dest)});
    cupsFreeJobs(count, list);
    return result;
}

bool CupsServer::waitIdle(int ms) const {
    return waitUntil(
        [] {
            cups_job_t* list = nullptr;
            const int count =
                cupsGetJobs2(CUPS_HTTP_DEFAULT, &list, nullptr, 0, CUPS_WHICHJOBS_ACTIVE);
            cupsFreeJobs(count, list);
            return count == 0;
        },
        ms);
}

QByteArray runTool(const QString& program, const QStringList& args, int ms) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(ms) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

} // namespace testutil

// Read by LeakSanitizer in sanitizer builds, unused otherwise. libcups 2.4 loses a few
// strings of the PPD cache it builds when Qt's print support opens a queue with a driver;
// the loss is inside libcups and cannot be freed from here.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:_ppdCacheCreateWithPPD\n";
}
