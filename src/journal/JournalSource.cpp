#include "journal/JournalSource.h"

#include "core/IniFile.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSysInfo>

#include <sys/stat.h>

namespace {

const QString kSection = QStringLiteral("Journal");

// The password, or the reason there is none, in words for the operator.
bool readPassword(const QString& fileName, QString& password, QString& error) {
    struct stat st {};
    if (::stat(QFile::encodeName(fileName).constData(), &st) != 0) {
        error = QStringLiteral("файл пароля журнала %1 не найден").arg(fileName);
        return false;
    }
    // A password others can read is a password of the whole machine: refuse it before
    // reading a byte, so that the mistake is mended rather than lived with.
    if (st.st_mode & (S_IRWXG | S_IRWXO)) {
        error = QStringLiteral("файл пароля журнала %1 доступен не только владельцу (права %2); "
                               "оставьте его только владельцу: chmod 600 %1")
                    .arg(fileName)
                    .arg(st.st_mode & 0777, 3, 8, QLatin1Char('0'));
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("файл пароля журнала %1 не читается: %2")
                    .arg(fileName, file.errorString());
        return false;
    }
    // An editor's last line break is no part of the password.
    password = QString::fromUtf8(file.readAll()).section(QLatin1Char('\n'), 0, 0);
    if (password.endsWith(QLatin1Char('\r')))
        password.chop(1);
    return true;
}

} // namespace

JournalSource JournalSource::fromIni(const QString& iniFileName) {
    JournalSource source;
    source.console = QSysInfo::machineHostName();
    // No settings file: the local journal, and no file to try to open for nothing.
    if (iniFileName.isEmpty())
        return source;
    const TIniFile ini(iniFileName);
    source.driver = ini.ReadString(kSection, QStringLiteral("Driver"), source.driver).trimmed();
    source.host = ini.ReadString(kSection, QStringLiteral("Host"), QString());
    source.port = ini.ReadInteger(kSection, QStringLiteral("Port"), source.port);
    source.database = ini.ReadString(kSection, QStringLiteral("Database"), QString());
    source.user = ini.ReadString(kSection, QStringLiteral("User"), QString());
    source.console = ini.ReadString(kSection, QStringLiteral("Console"), source.console);
    if (source.console.isEmpty())
        source.console = QSysInfo::machineHostName();
    const QString passwordFile = ini.ReadString(kSection, QStringLiteral("PasswordFile"), {});
    if (!passwordFile.isEmpty())
        readPassword(passwordFile, source.password, source.error);
    return source;
}

QString JournalSource::connectOptions() const {
    return QStringLiteral("connect_timeout=5;keepalives=1;keepalives_idle=5;"
                          "keepalives_interval=3;keepalives_count=3;tcp_user_timeout=15000;"
                          "options='-c statement_timeout=%1'")
        .arg(statementTimeoutMs);
}

void JournalSource::configure(QSqlDatabase& db) const {
    db.setHostName(host);
    db.setPort(port);
    db.setDatabaseName(database);
    db.setUserName(user);
    db.setPassword(password);
    db.setConnectOptions(connectOptions());
}

QString JournalSource::missingDriverText() {
    return QStringLiteral("нет драйвера PostgreSQL для Qt (пакет libqt6sql6-psql)");
}
