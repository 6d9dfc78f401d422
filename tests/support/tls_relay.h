#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include <QString>
#include <QThread>

namespace vantrel::test {

// TLS on 127.0.0.1, at a port the system picks, in front of a plain server on 127.0.0.1 (a LoopbackServer):
// each connection is relayed there decrypted, and closed when the server closes its end. Runs on a thread of
// its own, so it answers whatever the thread under test is doing.
class TlsRelay {
public:
    // certificateFile and keyFile are PEM files (an EC key); throws std::runtime_error when it cannot serve.
    // Each connection waits handshakeDelay before the relay answers its handshake, as a slow server does.
    TlsRelay(const QString& certificateFile, const QString& keyFile, std::uint16_t backendPort,
             std::chrono::milliseconds handshakeDelay = {});
    ~TlsRelay();
    TlsRelay(const TlsRelay&) = delete;
    TlsRelay& operator=(const TlsRelay&) = delete;

    std::uint16_t port() const { return m_port; }
    // "https://127.0.0.1:<port>" followed by path, which should start with "/".
    std::string url(std::string_view path) const;

private:
    QThread m_thread;
    std::uint16_t m_port = 0;
};

}  // namespace vantrel::test
