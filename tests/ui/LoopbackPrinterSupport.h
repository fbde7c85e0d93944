#pragma once

#include <QByteArray>
#include <QString>
#include <QTcpServer>

// A receipt printer on loopback that keeps what it is sent; use() makes it the current
// printer (ESC/POS) with connection.
struct LoopbackPrinter {
    LoopbackPrinter();
    void use(int connection);
    QString name() const;

    QTcpServer server;
    QByteArray received;
};
