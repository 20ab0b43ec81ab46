#pragma once

#include <QTcpServer>
#include <QThread>

#include <atomic>

// The network between a station and its server, as a test makes it fail: a TCP
// proxy on the loopback in front of the server's socket folder, on a thread of
// its own, so that a station that waits for the network (at its start) finds it.
// Passing, it forwards both ways, each byte after the delay set; stalled, it
// holds every byte and answers no new connection, as a network gone quiet;
// dropping answers, it forwards the station's bytes and throws the server's away,
// as a network that loses the answer to a commit. Cut, every connection ends.
class NetworkProxy : public QObject {
public:
    enum class Mode { Pass, Stall, DropAnswers };

    explicit NetworkProxy(const QString &serverFolder, int serverPort = 5432);
    ~NetworkProxy() override;

    quint16 port() const { return m_listener->serverPort(); }
    void setMode(Mode mode);
    void setDelay(int milliseconds) { m_delayMs = milliseconds; }
    void cut();

private:
    // Runs on the proxy's thread.
    template<typename Work>
    void onThread(Work work)
    {
        QMetaObject::invokeMethod(this, work, Qt::BlockingQueuedConnection);
    }
    void accept();
    // Sends what one side of a connection sent to its other side, unless the network holds or drops it.
    void forward(QIODevice *from, QIODevice *to);

    QString m_serverSocket;
    QThread m_thread;
    QTcpServer *m_listener;
    Mode m_mode = Mode::Pass;
    std::atomic<int> m_delayMs = 0;
};
