#include "loopback_server.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantrel::test {
namespace {

// How often blocked socket calls look at the stop flag.
constexpr int kPollMs = 20;
constexpr std::size_t kMaxRequestHead = 64 * 1024;

std::string reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 102:
        return "Processing";
    case 103:
        return "Early Hints";
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::string pathOf(std::string_view target)
{
    return std::string(target.substr(0, target.find('?')));
}

// Closing with a zero linger time sends RST instead of FIN.
void resetConnection(int fd)
{
    const linger option{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    ::close(fd);
}

}  // namespace

ScriptedResponse ScriptedResponse::ok(std::string body, std::string contentType)
{
    ScriptedResponse response;
    response.headers = {{"Content-Type", std::move(contentType)}};
    response.body = std::move(body);
    return response;
}

ScriptedResponse ScriptedResponse::withStatus(int status, std::string body)
{
    ScriptedResponse response;
    response.status = status;
    response.headers = {{"Content-Type", "text/html"}};
    response.body = std::move(body);
    return response;
}

ScriptedResponse ScriptedResponse::redirect(std::string location, int status)
{
    ScriptedResponse response;
    response.status = status;
    response.headers = {{"Location", std::move(location)}};
    return response;
}

ScriptedResponse ScriptedResponse::gzipEncoded(std::string compressedBody, std::string contentType)
{
    ScriptedResponse response = ok(std::move(compressedBody), std::move(contentType));
    response.headers.emplace_back("Content-Encoding", "gzip");
    return response;
}

std::string RecordedRequest::header(std::string_view name) const
{
    for (const auto& [key, value] : headers) {
        if (equalsIgnoringCase(key, name))
            return value;
    }
    return {};
}

LoopbackServer::LoopbackServer(Connections connections) : m_keepAlive(connections == Connections::KeepAlive)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        throw std::runtime_error("loopback server: no socket");
    const int reuse = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 64) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(m_listenFd);
        throw std::runtime_error("loopback server: cannot listen on 127.0.0.1");
    }
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping.store(true);
    }
    m_stopSignal.notify_all();
    m_acceptThread.join();
    ::close(m_listenFd);
    // No thread is added once the accept loop has ended.
    for (std::thread& connection : m_connections)
        connection.join();
}

std::string LoopbackServer::url(std::string_view path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + std::string(path);
}

void LoopbackServer::setRoute(const std::string& path, ScriptedResponse response)
{
    const std::lock_guard lock(m_mutex);
    m_routes[path] = std::move(response);
}

void LoopbackServer::clearRoutes()
{
    const std::lock_guard lock(m_mutex);
    m_routes.clear();
}

std::vector<RecordedRequest> LoopbackServer::requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

std::size_t LoopbackServer::requestCount(std::string_view path) const
{
    const std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(std::count_if(
        m_requests.begin(), m_requests.end(), [path](const auto& request) { return pathOf(request.target) == path; }));
}

void LoopbackServer::acceptLoop()
{
    while (!stopping()) {
        pollfd waiting{m_listenFd, POLLIN, 0};
        if (::poll(&waiting, 1, kPollMs) <= 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const std::lock_guard lock(m_mutex);
        m_connections.emplace_back([this, fd] { serve(fd); });
    }
}

void LoopbackServer::serve(int fd)
{
    std::string received;
    for (;;) {
        RecordedRequest request;
        if (!readRequest(fd, received, request)) {
            ::close(fd);
            return;
        }
        ScriptedResponse response = ScriptedResponse::withStatus(404, "no route");
        {
            const std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
            if (const auto route = m_routes.find(pathOf(request.target)); route != m_routes.end())
                response = route->second;
        }
        if (!respond(fd, response))
            return;
    }
}

bool LoopbackServer::readRequest(int fd, std::string& received, RecordedRequest& request)
{
    std::string head = std::move(received);
    received.clear();
    std::size_t end = head.find("\r\n\r\n");
    while (end == std::string::npos) {
        if (stopping() || head.size() > kMaxRequestHead)
            return false;
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, kPollMs) <= 0)
            continue;
        char buffer[4096];
        const ssize_t length = ::recv(fd, buffer, sizeof buffer, 0);
        if (length <= 0)
            return false;
        head.append(buffer, static_cast<std::size_t>(length));
        end = head.find("\r\n\r\n");
    }
    // Requests carry no body here: what follows the head is the next request.
    received = head.substr(end + 4);
    head.resize(end);

    std::size_t lineStart = 0;
    bool firstLine = true;
    while (lineStart <= head.size()) {
        std::size_t lineEnd = head.find("\r\n", lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = head.size();
        const std::string_view line(head.data() + lineStart, lineEnd - lineStart);
        if (firstLine) {
            const std::size_t first = line.find(' ');
            const std::size_t second = line.find(' ', first + 1);
            if (first == std::string_view::npos || second == std::string_view::npos)
                return false;
            request.method = std::string(line.substr(0, first));
            request.target = std::string(line.substr(first + 1, second - first - 1));
            firstLine = false;
        } else if (const std::size_t colon = line.find(':'); colon != std::string_view::npos) {
            request.headers.emplace_back(std::string(line.substr(0, colon)),
                                         std::string(trimmed(line.substr(colon + 1))));
        }
        lineStart = lineEnd + 2;
    }
    return true;
}

bool LoopbackServer::respond(int fd, const ScriptedResponse& response)
{
    using Framing = ScriptedResponse::Framing;
    const std::string& body = response.body;

    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + reasonPhrase(response.status) + "\r\n";
    for (const auto& [name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    const std::size_t total = body.empty() || response.bodyRepeats != ScriptedResponse::kNever
                                  ? body.size() * response.bodyRepeats
                                  : ScriptedResponse::kNever;
    if (response.framing == Framing::ContentLength)
        head += "Content-Length: " + std::to_string(total) + "\r\n";
    else if (response.framing == Framing::Chunked)
        head += "Transfer-Encoding: chunked\r\n";
    const bool keepAlive = m_keepAlive && response.framing != Framing::CloseDelimited;
    head += keepAlive ? "\r\n" : "Connection: close\r\n\r\n";

    std::string interim;
    for (const int status : response.interimStatuses)
        interim += "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) +
                   "\r\nLink: </style.css>; rel=preload; as=style\r\n\r\n";
    if (!sendAll(fd, interim) || !pause(response.delayBeforeHeaders) || !sendAll(fd, head) ||
        !pause(response.delayAfterHeaders)) {
        ::close(fd);
        return false;
    }

    std::size_t sent = 0;
    bool stalled = false;
    for (;;) {
        if (sent >= response.resetAfterBytes) {
            resetConnection(fd);
            return false;
        }
        if (sent == total)
            break;
        if (!stalled && sent >= response.stallAfterBytes) {
            stalled = true;
            if (!pause(response.stallFor))
                break;
        }
        if (sent > 0 && !pause(response.pieceDelay))
            break;
        const std::size_t offset = sent % body.size();
        std::size_t length = response.pieceSize == 0 ? body.size() - offset : response.pieceSize;
        length = std::min(length, body.size() - offset);
        length = std::min(length, response.resetAfterBytes - sent);
        if (!stalled)
            length = std::min(length, response.stallAfterBytes - sent);
        const std::string_view piece(body.data() + offset, length);
        bool written = false;
        if (response.framing == Framing::Chunked) {
            char size[32];
            std::snprintf(size, sizeof size, "%zx\r\n", length);
            written = sendAll(fd, size) && sendAll(fd, piece) && sendAll(fd, "\r\n");
        } else {
            written = sendAll(fd, piece);
        }
        if (!written)
            break;
        sent += length;
    }
    bool whole = sent == total;
    if (whole && response.framing == Framing::Chunked)
        whole = sendAll(fd, "0\r\n\r\n");
    if (keepAlive && whole)
        return true;

    // A graceful end: FIN, then drain what the client still sends so that close() does not turn into a reset.
    ::shutdown(fd, SHUT_WR);
    for (int rounds = 0; rounds < 10 && !stopping(); ++rounds) {
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, kPollMs) <= 0)
            continue;
        char buffer[4096];
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0)
            break;
    }
    ::close(fd);
    return false;
}

bool LoopbackServer::sendAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        if (stopping())
            return false;
        pollfd waiting{fd, POLLOUT, 0};
        if (::poll(&waiting, 1, kPollMs) <= 0)
            continue;
        const ssize_t written = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool LoopbackServer::pause(std::chrono::milliseconds duration)
{
    std::unique_lock lock(m_mutex);
    if (duration.count() > 0)
        m_stopSignal.wait_for(lock, duration, [this] { return stopping(); });
    return !stopping();
}

}  // namespace vantrel::test
