#include "tls_relay.h"

#include <stdexcept>

#include <QFile>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>

namespace vantrel::test {
namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("TLS relay: cannot read " + path.toStdString());
    return file.readAll();
}

void relay(QTcpSocket* client, std::uint16_t backendPort)
{
    auto* backend = new QTcpSocket(client);
    QObject::connect(client, &QTcpSocket::readyRead, backend, [client, backend] { backend->write(client->readAll()); });
    QObject::connect(backend, &QTcpSocket::readyRead, client, [client, backend] { client->write(backend->readAll()); });
    QObject::connect(backend, &QTcpSocket::disconnected, client, [client, backend] {
        client->write(backend->readAll());
        client->disconnectFromHost();
    });
    QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
    // Written before the connection is made, the request waits in the socket's buffer.
    backend->connectToHost(QHostAddress::LocalHost, backendPort);
    backend->write(client->readAll());
}

// Accepts each connection at once and starts its handshake only after the delay.
class SlowServer final : public QSslServer {
public:
    SlowServer(std::chrono::milliseconds delay, QObject* parent) : QSslServer(parent), m_delay(delay) {}

protected:
    void incomingConnection(qintptr socket) override
    {
        QTimer::singleShot(m_delay, this, [this, socket] { QSslServer::incomingConnection(socket); });
    }

private:
    std::chrono::milliseconds m_delay;
};

}  // namespace

TlsRelay::TlsRelay(const QString& certificateFile, const QString& keyFile, std::uint16_t backendPort,
                   std::chrono::milliseconds handshakeDelay)
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(readAll(certificateFile), QSsl::Pem));
    tls.setPrivateKey(QSslKey(readAll(keyFile), QSsl::Ec, QSsl::Pem, QSsl::PrivateKey));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    if (tls.localCertificate().isNull() || tls.privateKey().isNull())
        throw std::runtime_error("TLS relay: no certificate or key in " + certificateFile.toStdString());

    auto* worker = new QObject;
    worker->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_thread.start();
    QMetaObject::invokeMethod(
        worker,
        [&] {
            auto* server = new SlowServer(handshakeDelay, worker);
            server->setSslConfiguration(tls);
            if (!server->listen(QHostAddress::LocalHost, 0))
                return;
            m_port = server->serverPort();
            QObject::connect(server, &QTcpServer::pendingConnectionAvailable, server, [server, backendPort] {
                while (QTcpSocket* client = server->nextPendingConnection())
                    relay(client, backendPort);
            });
        },
        Qt::BlockingQueuedConnection);
    if (m_port == 0) {
        m_thread.quit();
        m_thread.wait();
        throw std::runtime_error("TLS relay: cannot listen on 127.0.0.1");
    }
}

TlsRelay::~TlsRelay()
{
    m_thread.quit();
    m_thread.wait();
}

std::string TlsRelay::url(std::string_view path) const
{
    return "https://127.0.0.1:" + std::to_string(m_port) + std::string(path);
}

}  // namespace vantrel::test
