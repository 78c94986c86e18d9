#pragma once

// A one-page web server on 127.0.0.1 for the tests of the news dialog. Header only: the including
// test links Qt5::Network.

#include <QByteArray>
#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>

namespace widgettest {

// Answers every request with the current page, or, while stalled, accepts and never answers.
// Listens once the test calls listen(QHostAddress::LocalHost).
class PageServer : public QTcpServer
{
public:
    PageServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
            }
        });
    }

    QByteArray page;
    bool stalled = false;
    // Complete requests received, answered or not.
    int requests = 0;

private:
    void answer(QTcpSocket *socket)
    {
        QByteArray &request = m_requests[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        ++requests;
        if (stalled)
            return;
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n"
                      "Content-Length: " +
                      QByteArray::number(page.size()) + "\r\n\r\n" + page);
        socket->disconnectFromHost();
    }

    QHash<QTcpSocket *, QByteArray> m_requests;
};

} // namespace widgettest
