#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace vantrel::test {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// What the server does with a request for one path. Waits longer than a day are not supported; a stall
// "for ever" is best written as std::chrono::hours(1): the server cuts it short when it is destroyed.
struct ScriptedResponse {
    static constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();
    enum class Framing {
        ContentLength,   // Content-Length: size of body
        Chunked,         // Transfer-Encoding: chunked, one chunk per piece
        CloseDelimited,  // no length at all: the body ends when the connection closes
    };

    int status = 200;
    // Interim replies (such as 103 Early Hints) sent before the final one, each as a bare head.
    std::vector<int> interimStatuses;
    HttpHeaders headers;
    std::string body;
    Framing framing = Framing::ContentLength;
    std::chrono::milliseconds delayBeforeHeaders{0};
    std::chrono::milliseconds delayAfterHeaders{0};
    // The body goes out this many times over (kNever: until the client leaves), in one framing.
    std::size_t bodyRepeats = 1;
    // The body goes out in pieces of pieceSize bytes (0: all at once) with pieceDelay between them.
    std::size_t pieceSize = 0;
    std::chrono::milliseconds pieceDelay{0};
    // Once stallAfterBytes body bytes are out, nothing more is sent for stallFor.
    std::size_t stallAfterBytes = kNever;
    std::chrono::milliseconds stallFor{0};
    // Once resetAfterBytes body bytes are out, the connection is reset (RST) instead of closed.
    std::size_t resetAfterBytes = kNever;

    static ScriptedResponse ok(std::string body, std::string contentType = "application/xml");
    static ScriptedResponse withStatus(int status, std::string body = {});
    static ScriptedResponse redirect(std::string location, int status = 302);
    // compressedBody must already be gzip data; it is sent as is with Content-Encoding: gzip.
    static ScriptedResponse gzipEncoded(std::string compressedBody, std::string contentType = "application/xml");
};

struct RecordedRequest {
    std::string method;
    std::string target;
    HttpHeaders headers;
    // The first header of that name, compared without regard to case; empty when there is none.
    std::string header(std::string_view name) const;
};

// A scripted HTTP/1.1 server on 127.0.0.1 at a port the system picks. Each connection is served on its own
// thread (so overlapping requests are answered independently) and gets one response, then is closed; with
// KeepAlive it answers request after request until the client closes it (a body without length still ends
// with the connection). Paths without a route get 404. The destructor cuts every wait short and joins every
// thread.
class LoopbackServer {
public:
    enum class Connections { OneResponse, KeepAlive };

    // Throws std::runtime_error when it cannot listen.
    explicit LoopbackServer(Connections connections = Connections::OneResponse);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const { return m_port; }
    // "http://127.0.0.1:<port>" followed by path, which should start with "/".
    std::string url(std::string_view path) const;

    // Routes match the request target without its query string, exactly.
    void setRoute(const std::string& path, ScriptedResponse response);
    void clearRoutes();

    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount(std::string_view path) const;

private:
    void acceptLoop();
    void serve(int fd);
    // True when the connection stays open for another request.
    bool respond(int fd, const ScriptedResponse& response);
    // received holds what came after the previous request.
    bool readRequest(int fd, std::string& received, RecordedRequest& request);
    bool sendAll(int fd, std::string_view data);
    // False when the server is stopping.
    bool pause(std::chrono::milliseconds duration);
    bool stopping() const { return m_stopping.load(); }

    const bool m_keepAlive;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_stopSignal;
    std::map<std::string, ScriptedResponse, std::less<>> m_routes;
    std::vector<RecordedRequest> m_requests;
    std::vector<std::thread> m_connections;
    std::thread m_acceptThread;
};

}  // namespace vantrel::test
