#include "UiTestSupport.h"

#include "TestUtil.h"
#include "common/GlobConst.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

FakeKiosk::FakeKiosk(QString version)
    : m_server(new QTcpServer(this))
    , m_version(std::move(version)) {
    m_clock.start();
    m_server->listen(QHostAddress::LocalHost, 0);
    m_port = m_server->serverPort();
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* s = m_server->nextPendingConnection()) {
            if (m_peer)
                m_peer->deleteLater();
            m_peer = s;
            m_buffer.clear();
            connect(s, &QTcpSocket::readyRead, this, &FakeKiosk::onReadyRead);
            connect(s, &QTcpSocket::disconnected, this, [this, s] {
                if (m_peer == s)
                    m_peer = nullptr;
                s->deleteLater();
            });
        }
    });
}

FakeKiosk::~FakeKiosk() = default;

void FakeKiosk::Send(const QByteArray& line) {
    if (m_peer) {
        m_peer->write(line + "\r\n");
        m_peer->flush();
    }
}

void FakeKiosk::Shutdown() {
    m_server->close();
    if (m_peer) {
        m_peer->abort();
        m_peer = nullptr;
    }
}

int FakeKiosk::Count(const QByteArray& line) const {
    int n = 0;
    for (const Received& r : m_lines)
        if (r.line == line)
            ++n;
    return n;
}

void FakeKiosk::onReadyRead() {
    auto* s = qobject_cast<QTcpSocket*>(sender());
    if (!s)
        return;
    m_buffer += s->readAll();
    int end;
    while ((end = m_buffer.indexOf("\r\n")) >= 0) {
        const QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 2);
        m_lines.append({line, m_clock.elapsed()});
        if (line == "GET_VERSION")
            s->write("VERSION=" + m_version.toUtf8() + "\r\n");
        else if (line != "KEEP_ALIVE")
            s->write("ACK\r\n");
        s->flush();
    }
}

void AnswerMessageBox(QMessageBox::StandardButton button, QString* text, QString* title, int ms) {
    // A timer that looks for the box every 20 ms and deletes itself when done.
    auto* timer = new QTimer(qApp);
    // Owned by the timer's slot, so a test that ends before the box came leaks nothing.
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        const bool found = box && box->isVisible();
        if (!found && clock->elapsed() < ms)
            return;
        timer->stop();
        timer->deleteLater();
        if (!found)
            return;
        if (text)
            *text = box->text();
        if (title)
            *title = box->windowTitle();
        if (QAbstractButton* b = box->button(button))
            b->click();
        else
            box->reject();
    });
    timer->start();
}

TempIni::TempIni(const QString& fileName)
    : m_path(m_dir.filePath(fileName))
    , m_oldIni(IniFileName) {
    IniFileName = m_path;
}

TempIni::~TempIni() {
    IniFileName = m_oldIni;
}

void TempIni::WriteDevices(const QList<int>& ports, const QList<int>& disabledIndexes) {
    QByteArray text = "[DeviceList]\nCount=" + QByteArray::number(ports.size()) + "\n";
    for (int i = 0; i < ports.size(); ++i) {
        text += "[DeviceList" + QByteArray::number(i) + "]\n";
        text += "Enabled=" + QByteArray(disabledIndexes.contains(i) ? "0" : "1") + "\n";
        text += "Name=Киоск " + QByteArray::number(i + 1) + "\n";
        text += "Address=127.0.0.1\nPort=" + QByteArray::number(ports[i]) + "\n";
    }
    testutil::writeFile(m_path, text);
}

QString TempIni::Read() const {
    return QString::fromUtf8(testutil::readFile(m_path));
}
