#pragma once

#include "journal/JournalRecord.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

namespace journaltest {

// The texts a part of the journal told its failure handler, in order.
struct Reports {
    QStringList texts;
    std::function<void(const QString&)> handler() {
        return [this](const QString& text) { texts << text; };
    }
};

// Now in whole milliseconds, as the journal keeps times: a time read back compares equal.
QDateTime now();

// An order of kiosk n with text in every field, opened at opened.
JournalRecord record(int n, const QDateTime& opened);

// Rows of sql read through a connection of the test's own (not the journal's reader),
// each row's columns in order. Fails the current test on an error.
QList<QVariantList> select(const QString& file, const QString& sql);
// Runs statements on a connection of the test's own.
void execute(const QString& file, const QStringList& statements);

// A tmpfs of the test's own, unmounted at the end. Mounting needs root; mounted() says
// whether it worked and why not.
class Tmpfs {
public:
    Tmpfs(const QString& dir, const QString& size);
    ~Tmpfs();
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;
    bool mounted() const { return m_mounted; }
    QString error() const { return m_error; }

private:
    QString m_dir;
    bool m_mounted = false;
    QString m_error;
};

// Writes fileName until the file system has not a byte left; the bytes written.
qint64 fillUp(const QString& fileName);

} // namespace journaltest
