#include "JournalSupport.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace journaltest {

QDateTime now() {
    return QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch());
}

JournalRecord record(int n, const QDateTime& opened) {
    JournalRecord r;
    r.console = QStringLiteral("Касса 1");
    r.kiosk = QStringLiteral("Киоск %1").arg(n);
    r.address = QStringLiteral("192.168.0.%1:5000").arg(10 + n);
    r.opened = opened;
    r.sum = 100 * n + 0.5;
    r.orderName = QStringLiteral("A-%1").arg(n);
    r.invoice = QStringLiteral("Счёт %1\nКофе 1 x 100,00").arg(n);
    r.document = QStringLiteral("<order id=\"%1\"><item>Кофе</item></order>").arg(n);
    return r;
}

namespace {

template <typename F> void withConnection(const QString& file, F&& f) {
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open())
            ADD_FAILURE() << "open " << file.toStdString() << ": "
                          << db.lastError().text().toStdString();
        else
            f(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

QList<QVariantList> select(const QString& file, const QString& sql) {
    QList<QVariantList> rows;
    withConnection(file, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (!q.exec(sql)) {
            ADD_FAILURE() << sql.toStdString() << ": " << q.lastError().text().toStdString();
            return;
        }
        while (q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i);
            rows << row;
        }
    });
    return rows;
}

void execute(const QString& file, const QStringList& statements) {
    withConnection(file, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        for (const QString& sql : statements)
            if (!q.exec(sql))
                ADD_FAILURE() << sql.toStdString() << ": " << q.lastError().text().toStdString();
    });
}

Tmpfs::Tmpfs(const QString& dir, const QString& size)
    : m_dir(dir) {
    const QByteArray options = "size=" + size.toLatin1() + ",mode=0700";
    if (::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, options.constData()) == 0)
        m_mounted = true;
    else
        m_error = QString::fromLocal8Bit(::strerror(errno));
}

Tmpfs::~Tmpfs() {
    if (m_mounted)
        ::umount2(QFile::encodeName(m_dir).constData(), MNT_DETACH);
}

qint64 fillUp(const QString& fileName) {
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;
    qint64 total = 0;
    const QByteArray block(4096, 'x');
    // Whole pages first, then single bytes for what a page cannot fill.
    for (const qsizetype chunk : {qsizetype(4096), qsizetype(1)}) {
        for (;;) {
            const ssize_t n = ::write(fd, block.constData(), size_t(chunk));
            if (n <= 0)
                break;
            total += n;
        }
    }
    ::close(fd);
    return total;
}

} // namespace journaltest
