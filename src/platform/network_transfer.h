#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/proxy_lookup.h"
#include "platform/transfer.h"

class QNetworkAccessManager;

namespace vantrel {

struct TransferLimits {
    // Until the request is out: name lookup, connection and TLS handshake.
    std::chrono::milliseconds connectTimeout{15'000};
    std::chrono::milliseconds totalTimeout{120'000};
    // Nothing received, headers or body, for this long.
    std::chrono::milliseconds stallTime{30'000};
    int maxRedirects = 5;
    // Finding the system's proxy for a URL, which may mean fetching a PAC script; past it, a direct connection.
    std::chrono::milliseconds proxyLookupTime{5'000};
    // Counted both on the bytes that travel and on the decoded body, so that neither an endless stream of
    // compressed nothing nor a small body that inflates hugely gets past it.
    std::size_t maxBodyBytes = 32 * 1024 * 1024;
};

// Whether HTTP/2 may be offered through the Qt of this version ("6.4.2"): only where the HTTP/2 flaws known
// to Qt (CVE-2023-51714, CVE-2024-39936) are fixed.
bool Http2Trusted(std::string_view qtVersion);

// HTTP and HTTPS fetches through Qt Network on the calling thread, which must be the one that created the
// transfer and must have a QCoreApplication. The fetch runs the thread's event loop while it waits, so the
// window stays alive; a fetch started from inside that wait runs on its own. Proxies come from the system's
// settings, looked up on a thread of the transfer's own; TLS loads on another at the first https request.
class NetworkTransfer final : public Transfer {
public:
    explicit NetworkTransfer(TransferLimits limits = {});
    // Must not be destroyed while a fetch is under way.
    ~NetworkTransfer() override;
    NetworkTransfer(const NetworkTransfer&) = delete;
    NetworkTransfer& operator=(const NetworkTransfer&) = delete;

    FetchResponse fetch(const std::string& url) override;

    // On the transfer's thread, from inside a fetch's wait or outside one: fetches under way end at once with
    // Status::Aborted, and every later fetch returns Aborted at once. There is no way back: this is for the
    // program closing.
    void abort();

    // For tests only: certificates (PEM) trusted as authorities besides the system's own.
    void trustAuthoritiesForTesting(const std::string& pem);
    // For tests only: proxies found by resolver instead of the system's settings. Call before the first fetch.
    void resolveProxiesForTesting(ProxyLookup::Resolver resolver);

private:
    struct Fetch;
    QNetworkAccessManager& manager();

    TransferLimits m_limits;
    std::string m_testAuthorities;
    bool m_aborted = false;
    // A connection may hold bytes of an exchange that was not read to its end; dropped once no fetch runs.
    bool m_connectionsSpoilt = false;
    ProxyLookup m_proxyLookup;
    // Created at the first request, so nothing of it loads before one is asked for.
    std::unique_ptr<QNetworkAccessManager> m_manager;
    HeldProxies* m_proxies = nullptr;  // owned by m_manager
    std::vector<Fetch*> m_underWay;
};

}  // namespace vantrel
