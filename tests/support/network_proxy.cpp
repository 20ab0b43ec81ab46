#include "support/network_proxy.h"

#include <QLocalSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// Each connection is its station's side, a child of the proxy, and its server's side, a child of that.
NetworkProxy::NetworkProxy(const QString &serverFolder, int serverPort)
    : m_serverSocket(serverFolder + QStringLiteral("/.s.PGSQL.%1").arg(serverPort)), m_listener(new QTcpServer(this))
{
    connect(m_listener, &QTcpServer::newConnection, this, &NetworkProxy::accept);
    if (!m_listener->listen(QHostAddress::LocalHost))
        qFatal("the proxy cannot listen: %s", qPrintable(m_listener->errorString()));
    moveToThread(&m_thread);
    m_thread.start();
}

NetworkProxy::~NetworkProxy()
{
    onThread([this] {
        qDeleteAll(findChildren<QObject *>(Qt::FindDirectChildrenOnly));
        moveToThread(m_thread.thread());
    });
    m_thread.quit();
    m_thread.wait();
}

void NetworkProxy::setMode(Mode mode)
{
    onThread([this, mode] {
        m_mode = mode;
        accept();
        for (QLocalSocket *server : findChildren<QLocalSocket *>()) {
            auto *station = static_cast<QTcpSocket *>(server->parent());
            forward(station, server);
            forward(server, station);
        }
    });
}

void NetworkProxy::cut()
{
    onThread([this] { qDeleteAll(findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly)); });
}

void NetworkProxy::accept()
{
    while (m_mode != Mode::Stall && m_listener->hasPendingConnections()) {
        QTcpSocket *station = m_listener->nextPendingConnection();
        station->setParent(this);
        auto *server = new QLocalSocket(station);
        server->connectToServer(m_serverSocket);
        connect(station, &QTcpSocket::readyRead, server, [=, this] { forward(station, server); });
        connect(server, &QLocalSocket::readyRead, station, [=, this] { forward(server, station); });
        connect(station, &QTcpSocket::disconnected, server, &QLocalSocket::disconnectFromServer);
        connect(server, &QLocalSocket::disconnected, station, &QTcpSocket::disconnectFromHost);
    }
}

void NetworkProxy::forward(QIODevice *from, QIODevice *to)
{
    // Stalled, the bytes wait in the socket they came to.
    if (m_mode == Mode::Stall)
        return;
    const QByteArray bytes = from->readAll();
    if (!bytes.isEmpty() && !(m_mode == Mode::DropAnswers && qobject_cast<QTcpSocket *>(to)))
        QTimer::singleShot(m_delayMs.load(), to, [to, bytes] { to->write(bytes); });
}
