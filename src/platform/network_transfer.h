#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QList>
#include <QNetworkProxy>

#include "platform/transfer.h"

class QNetworkAccessManager;
class QObject;

namespace vantrel {

// How the caller's thread passes the time while a fetch runs. The fetch advances only through the thread's
// events, so a waiter must run them; they may start another fetch, which waits in turn.
class TransferWaiter {
public:
    virtual ~TransferWaiter() = default;
    // Returns once finished() is true.
    virtual void waitUntil(const std::function<bool()>& finished) = 0;
    // Called on the transfer's thread when a fetch has ended.
    virtual void wake() = 0;
};

struct TransferLimits {
    // Until the request is out: name lookup, connection and TLS handshake.
    std::chrono::milliseconds connectTimeout{15'000};
    std::chrono::milliseconds totalTimeout{120'000};
    // Nothing received, headers or body, for this long.
    std::chrono::milliseconds stallTime{30'000};
    int maxRedirects = 5;
    // Finding the system's proxy for a URL, which may mean fetching a PAC script; past it, a direct connection.
    std::chrono::milliseconds proxyLookupTime{5'000};
    // Counted on the decoded body, so a small compressed response cannot inflate past it.
    std::size_t maxBodyBytes = 32 * 1024 * 1024;
};

// HTTP and HTTPS fetches through Qt Network on the calling thread, which must be the one that created the
// transfer and must have a QCoreApplication. The fetch waits in the event loop, so the window stays alive and
// a fetch started from inside another one's wait runs on its own. Proxies come from the system's settings,
// looked up on a thread of the transfer's own.
class NetworkTransfer final : public Transfer {
public:
    // Runs on the lookup thread, never on the transfer's.
    using ProxyResolver = std::function<QList<QNetworkProxy>(const QNetworkProxyQuery&)>;

    // waiter is not owned and must outlive the transfer; without one the fetch runs the event loop itself.
    explicit NetworkTransfer(TransferLimits limits = {}, TransferWaiter* waiter = nullptr);
    // Must not be destroyed while a fetch is under way.
    ~NetworkTransfer() override;
    NetworkTransfer(const NetworkTransfer&) = delete;
    NetworkTransfer& operator=(const NetworkTransfer&) = delete;

    // 0 means "no per-request override", which is all this transfer supports: every fetch uses the limits.
    void setRequestOverride(std::int32_t /*value*/) override {}

    FetchResponse fetch(const std::string& url) override;

    // Thread-safe. Fetches under way end at once with Status::Aborted, and every later fetch returns Aborted
    // at once. There is no way back: this is for the program closing.
    void abort();

    // For tests only: certificates (PEM) trusted as authorities besides the system's own.
    void trustAuthoritiesForTesting(const std::string& pem);
    // For tests only: proxies found by resolver instead of the system's settings. Call before the first fetch.
    void resolveProxiesForTesting(ProxyResolver resolver);

private:
    struct Fetch;
    struct ProxyLookups;
    class ResolvedProxies;
    void abortUnderWay();
    QNetworkAccessManager& manager();

    TransferLimits m_limits;
    TransferWaiter* m_waiter;
    std::string m_testAuthorities;
    std::atomic<bool> m_aborted{false};
    // Lives on the transfer's thread: abort() from elsewhere queues onto it.
    std::unique_ptr<QObject> m_context;
    // Created at the first fetch, so nothing of it loads before one is asked for.
    std::unique_ptr<QNetworkAccessManager> m_manager;
    ResolvedProxies* m_proxies = nullptr;  // owned by m_manager
    // Shared with the lookup thread, which may outlive the transfer.
    std::shared_ptr<ProxyLookups> m_lookups;
    std::vector<Fetch*> m_underWay;
};

}  // namespace vantrel
