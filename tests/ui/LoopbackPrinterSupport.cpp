#include "LoopbackPrinterSupport.h"

#include "printing/PrintSettings.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <gtest/gtest.h>

LoopbackPrinter::LoopbackPrinter() {
    EXPECT_TRUE(server.listen(QHostAddress::LocalHost));
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
        while (QTcpSocket* s = server.nextPendingConnection())
            QObject::connect(s, &QTcpSocket::readyRead, [this, s] { received += s->readAll(); });
    });
}

void LoopbackPrinter::use(int connection) {
    PrintSettingsConfigured = true;
    PrinterType = 3;
    EscPosConnection = connection;
    EscPosHost = QStringLiteral("127.0.0.1");
    EscPosPort = server.serverPort();
    EscPosStatus = false;
    received.clear();
}

QString LoopbackPrinter::name() const {
    return QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
}
