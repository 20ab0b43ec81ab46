#include "support/network_proxy.h"

#include <QTimer>

NetworkProxy::NetworkProxy(const QString &serverFolder, int serverPort)
    : m_serverSocket(serverFolder + QStringLiteral("/.s.PGSQL.%1").arg(serverPort))
{
    moveToThread(&m_thread);
    m_thread.start();
    onThread([this] {
        m_listener = new QTcpServer(this);
        connect(m_listener, &QTcpServer::newConnection, this, &NetworkProxy::accept);
        if (!m_listener->listen(QHostAddress::LocalHost))
            qFatal("the proxy cannot listen: %s", qPrintable(m_listener->errorString()));
        m_port = m_listener->serverPort();
    });
}

NetworkProxy::~NetworkProxy()
{
    cut();
    onThread([this] {
        delete m_listener;
        moveToThread(m_thread.thread());
    });
    m_thread.quit();
    m_thread.wait();
}

template<typename Work>
void NetworkProxy::onThread(Work work)
{
    QMetaObject::invokeMethod(this, work, Qt::BlockingQueuedConnection);
}

void NetworkProxy::setMode(Mode mode)
{
    onThread([this, mode] {
        m_mode = mode;
        if (mode == Mode::Stall)
            return;
        for (Link &link : m_links)
            for (int way : {0, 1})
                forward(link, way);
        accept();
    });
}

void NetworkProxy::setDelay(int milliseconds)
{
    onThread([this, milliseconds] { m_delayMs = milliseconds; });
}

void NetworkProxy::cut()
{
    onThread([this] {
        for (Link &link : m_links) {
            if (link.station)
                link.station->abort();
            if (link.server)
                link.server->abort();
        }
        m_links.clear();
    });
}

void NetworkProxy::accept()
{
    while (m_mode != Mode::Stall && m_listener->hasPendingConnections()) {
        Link &link = m_links.emplace_back();
        link.station = m_listener->nextPendingConnection();
        link.server = new QLocalSocket(link.station);
        link.server->connectToServer(m_serverSocket);
        connect(link.station, &QTcpSocket::readyRead, this, [this, &link] { forward(link, 0); });
        connect(link.server, &QLocalSocket::readyRead, this, [this, &link] { forward(link, 1); });
        connect(link.station, &QTcpSocket::disconnected, link.server, &QLocalSocket::disconnectFromServer);
        connect(link.server, &QLocalSocket::disconnected, link.station, &QTcpSocket::disconnectFromHost);
    }
}

void NetworkProxy::forward(Link &link, int way)
{
    if (!link.station || !link.server)
        return;
    QIODevice *from = way == 0 ? static_cast<QIODevice *>(link.station) : link.server;
    link.held[way] += from->readAll();
    if (m_mode == Mode::Stall)
        return;
    const QByteArray bytes = std::exchange(link.held[way], {});
    if (bytes.isEmpty() || (way == 1 && m_mode == Mode::DropAnswers))
        return;
    QPointer<QIODevice> to = way == 0 ? static_cast<QIODevice *>(link.server) : link.station;
    QTimer::singleShot(m_delayMs, this, [to, bytes] {
        if (to)
            to->write(bytes);
    });
}
