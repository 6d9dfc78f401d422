#include "platform/network_transfer.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <optional>
#include <utility>

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScopeGuard>
#include <QTimer>
#include <QUrl>
#include <QVersionNumber>
#if QT_CONFIG(ssl)
#include <QSslCertificate>
#include <QSslConfiguration>
#endif

#include "platform/gzip_inflater.h"
#include "platform/tls_preload.h"

namespace vantrel {
namespace {

constexpr const char kUserAgent[] = "Vantrel/" VANTREL_VERSION;
constexpr std::size_t kReadPiece = 16 * 1024;
// What Qt holds for a reply before it stops reading the socket, and what one turn of the event loop takes of
// it: the window's thread never inflates for long in one go.
constexpr qint64 kReadBuffer = 256 * 1024;
constexpr std::size_t kTurnBytes = 64 * 1024;

FetchResponse failedResponse(std::string error)
{
    return {FetchResponse::Status::Failed, {}, std::move(error)};
}

FetchResponse abortedResponse()
{
    return {FetchResponse::Status::Aborted, {}, "aborted"};
}

bool isWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

std::string milliseconds(std::chrono::milliseconds duration)
{
    return std::to_string(duration.count()) + " ms";
}

std::string tooLarge(std::size_t cap)
{
    return "body larger than " + std::to_string(cap) + " bytes";
}

}  // namespace

bool Http2Trusted(std::string_view qtVersion)
{
    const QVersionNumber version = QVersionNumber::fromString(QLatin1String(qtVersion.data(), qtVersion.size()));
    if (version.majorVersion() != 6)
        return version.majorVersion() > 6;
    // The first release of each line that has both fixes; 6.3, 6.4 and 6.6 never got them.
    switch (version.minorVersion()) {
    case 2:
        return version.microVersion() >= 13;
    case 5:
        return version.microVersion() >= 7;
    case 7:
        return version.microVersion() >= 3;
    default:
        return version.minorVersion() >= 8;
    }
}

// One fetch: a request and the redirects it is sent on to, each hop a proxy lookup and a reply of its own.
struct NetworkTransfer::Fetch {
    Fetch(NetworkTransfer& transfer, QUrl url);
    ~Fetch();
    Fetch(const Fetch&) = delete;
    Fetch& operator=(const Fetch&) = delete;

    // Starts the hop to url with its proxy lookup; the request follows the answer.
    void send();
    void request(const QList<QNetworkProxy>& proxies);
    void dropLookup();
    void dropTlsWait();
    void hopFinished();
    // Ends the fetch early for the reason given.
    void stop(std::string why);
    void interrupt();
    void finish();
    // Takes one turn's share of what has arrived, and comes back for the rest after the thread's events.
    void takeTurn();
    // Empty when up to budget bytes are taken; else why the fetch cannot go on.
    std::string take(std::size_t budget);
    FetchResponse failed(std::string why) const;
    FetchResponse response();

    NetworkTransfer& transfer;
    const TransferLimits& limits;
    QUrl url;
    int redirects = 0;
    QNetworkReply* reply = nullptr;
    QTimer lookupTimer;
    QTimer connectTimer;
    QTimer stallTimer;
    QTimer totalTimer;
    QTimer nextTurn;
    std::shared_ptr<ProxyLookup::Question> lookup;
    std::string proxyNote;  // set when a lookup was given up
    // Set until TLS has loaded for an https hop; proxies found before that wait beside it.
    std::shared_ptr<TlsPreload::Waiter> tlsWait;
    std::optional<QList<QNetworkProxy>> proxiesWaiting;
    bool codingKnown = false;
    std::unique_ptr<GzipInflater> inflater;
    std::size_t received = 0;  // body bytes as they came, before inflation
    std::string body;
    std::string failure;  // why the fetch was ended early
    bool done = false;
    bool aborted = false;
    // The connection may still carry part of this exchange.
    bool spoilt = false;
    // Every hop's reply, deleted first when the fetch returns: none of them is emitting by then.
    std::vector<std::unique_ptr<QNetworkReply>> replies;
    // Receives the lookups' answers; those still queued are dropped with it.
    QObject answers;
};

NetworkTransfer::Fetch::Fetch(NetworkTransfer& transfer, QUrl url)
    : transfer(transfer), limits(transfer.m_limits), url(std::move(url))
{
    for (QTimer* timer : {&lookupTimer, &connectTimer, &stallTimer, &totalTimer, &nextTurn})
        timer->setSingleShot(true);
    QObject::connect(&lookupTimer, &QTimer::timeout, [this] {
        dropLookup();
        proxyNote =
            "the proxy was not found within " + milliseconds(limits.proxyLookupTime) + "; tried a direct connection";
        request({QNetworkProxy(QNetworkProxy::NoProxy)});
    });
    QObject::connect(&connectTimer, &QTimer::timeout,
                     [this] { stop("no connection within " + milliseconds(limits.connectTimeout)); });
    QObject::connect(&stallTimer, &QTimer::timeout,
                     [this] { stop("nothing received for " + milliseconds(limits.stallTime)); });
    QObject::connect(&totalTimer, &QTimer::timeout,
                     [this] { stop("not done within " + milliseconds(limits.totalTimeout)); });
    QObject::connect(&nextTurn, &QTimer::timeout, [this] { takeTurn(); });
    totalTimer.start(limits.totalTimeout);
}

NetworkTransfer::Fetch::~Fetch()
{
    dropLookup();
    dropTlsWait();
}

void NetworkTransfer::Fetch::send()
{
    if (url.scheme() == QLatin1String("https") && !tlsWait) {
        tlsWait = TlsPreload::whenLoaded(&answers, [this] {
            tlsWait.reset();
            if (std::optional<QList<QNetworkProxy>> proxies = std::exchange(proxiesWaiting, std::nullopt))
                request(*proxies);
        });
    }
    lookup = transfer.m_proxyLookup.ask(url, &answers, [this](const QList<QNetworkProxy>& proxies) {
        dropLookup();
        request(proxies);
    });
    lookupTimer.start(limits.proxyLookupTime);
}

void NetworkTransfer::Fetch::dropLookup()
{
    lookupTimer.stop();
    if (!lookup)
        return;
    transfer.m_proxyLookup.cancel(lookup);
    lookup.reset();
}

void NetworkTransfer::Fetch::dropTlsWait()
{
    TlsPreload::cancel(tlsWait);
    tlsWait.reset();
    proxiesWaiting.reset();
}

void NetworkTransfer::Fetch::request(const QList<QNetworkProxy>& proxies)
{
    if (tlsWait) {
        // Part of connecting: the request cannot go out before TLS has loaded.
        proxiesWaiting = proxies;
        connectTimer.start(limits.connectTimeout);
        return;
    }
    QNetworkRequest request(url);
    // Redirects are followed here, where their schemes and their number are checked.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(kUserAgent));
    // Asked for here, Qt leaves the body compressed, and the inflater sees whether the stream ends.
    request.setRawHeader("Accept-Encoding", "gzip, deflate");
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // The Qt the program runs on decides, not the one it was built with.
    static const bool http2 = Http2Trusted(qVersion());
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, http2);
#if QT_CONFIG(ssl)
    if (!transfer.m_testAuthorities.empty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(
            QSslCertificate::fromData(QByteArray::fromStdString(transfer.m_testAuthorities), QSsl::Pem));
        request.setSslConfiguration(tls);
    }
#endif

    body.clear();
    received = 0;
    codingKnown = false;
    inflater.reset();
    QNetworkAccessManager& manager = transfer.manager();
    transfer.m_proxies->hold(url, proxies);
    reply = manager.get(request);
    replies.emplace_back(reply);
    reply->setReadBufferSize(kReadBuffer);
    QObject::connect(reply, &QNetworkReply::requestSent, [this] { connectTimer.stop(); });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, [this] { stallTimer.start(limits.stallTime); });
    QObject::connect(reply, &QNetworkReply::readyRead, [this] {
        stallTimer.start(limits.stallTime);
        takeTurn();
    });
    QObject::connect(reply, &QNetworkReply::finished, [this] { hopFinished(); });
    if (!connectTimer.isActive())
        connectTimer.start(limits.connectTimeout);
    stallTimer.start(limits.stallTime);
}

void NetworkTransfer::Fetch::hopFinished()
{
    transfer.m_proxies->release(url);
    connectTimer.stop();
    stallTimer.stop();
    nextTurn.stop();
    // Qt 6.4 skips only 100 Continue (6.8 skips them all): any other interim reply ends its reply, and the final
    // one is left on the connection for whatever request comes next.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 100 && status <= 199) {
        spoilt = true;
        if (failure.empty())
            failure = "interim reply " + std::to_string(status) + " taken for the final one";
    }
    const QVariant target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
    if (!aborted && failure.empty() && reply->error() == QNetworkReply::NoError && target.isValid()) {
        const QUrl next = url.resolved(target.toUrl());
        if (redirects == limits.maxRedirects) {
            failure = "more than " + std::to_string(limits.maxRedirects) + " redirects";
        } else if (!isWebUrl(next)) {
            failure = "redirect to " + next.toString().toStdString() + " refused";
        } else if (url.scheme() == QLatin1String("https") && next.scheme() == QLatin1String("http")) {
            failure = "redirect from https to http refused";
        } else {
            ++redirects;
            url = next;
            send();
            return;
        }
    }
    finish();
}

void NetworkTransfer::Fetch::stop(std::string why)
{
    if (done)
        return;
    failure = std::move(why);
    interrupt();
}

void NetworkTransfer::Fetch::interrupt()
{
    if (lookup || tlsWait) {
        dropLookup();
        dropTlsWait();
        finish();
    } else {
        spoilt = true;
        // The reply finishes at once.
        reply->abort();
    }
}

void NetworkTransfer::Fetch::finish()
{
    for (QTimer* timer : {&lookupTimer, &connectTimer, &stallTimer, &totalTimer, &nextTurn})
        timer->stop();
    done = true;
}

void NetworkTransfer::Fetch::takeTurn()
{
    try {
        // Read as it arrives, so that an endless or inflating body is cut off at the cap.
        if (std::string why = take(kTurnBytes); !why.empty()) {
            stop(std::move(why));
            return;
        }
    } catch (const std::exception& error) {
        // Nothing may escape into Qt's event loop.
        stop(error.what());
        return;
    }
    if (!done && reply->bytesAvailable() > 0)
        nextTurn.start(0);
}

std::string NetworkTransfer::Fetch::take(std::size_t budget)
{
    if (!codingKnown) {
        codingKnown = true;
        const QByteArray coding = reply->rawHeader("Content-Encoding").trimmed().toLower();
        // Any other coding stays as it came, as Qt left it.
        if (coding == "gzip" || coding == "x-gzip" || coding == "deflate")
            inflater = std::make_unique<GzipInflater>();
    }
    char piece[kReadPiece];
    while (budget > 0) {
        const qint64 read = reply->read(piece, static_cast<qint64>(std::min(sizeof piece, budget)));
        if (read <= 0)
            return {};
        const auto length = static_cast<std::size_t>(read);
        budget -= length;
        if (length > limits.maxBodyBytes - received)
            return tooLarge(limits.maxBodyBytes);
        received += length;
        if (!inflater) {
            body.append(piece, length);
            continue;
        }
        switch (inflater->feed({piece, length}, body, limits.maxBodyBytes)) {
        case GzipInflater::Outcome::Ok:
            break;
        case GzipInflater::Outcome::TooLarge:
            return tooLarge(limits.maxBodyBytes);
        case GzipInflater::Outcome::Corrupt:
            return inflater->error();
        }
    }
    return {};
}

FetchResponse NetworkTransfer::Fetch::failed(std::string why) const
{
    return failedResponse(proxyNote.empty() ? std::move(why) : why + " (" + proxyNote + ")");
}

FetchResponse NetworkTransfer::Fetch::response()
{
    if (aborted || transfer.m_aborted)
        return abortedResponse();
    if (!failure.empty())
        return failed(failure);
    if (reply->error() != QNetworkReply::NoError)
        return failed(reply->errorString().toStdString());
    // A 3xx that could not be followed is no document either.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299)
        return failed("HTTP status " + std::to_string(status));
    // What is left of the body, at most about the read buffer.
    if (std::string why = take(std::numeric_limits<std::size_t>::max()); !why.empty())
        return failed(std::move(why));
    // A connection closed early ends a body without length as if it were whole; only the stream tells.
    if (inflater && !inflater->complete())
        return failed("compressed body cut short");
    return {FetchResponse::Status::Ok, std::move(body), {}};
}

NetworkTransfer::NetworkTransfer(TransferLimits limits) : m_limits(limits) {}

NetworkTransfer::~NetworkTransfer() = default;

QNetworkAccessManager& NetworkTransfer::manager()
{
    if (!m_manager) {
        m_manager = std::make_unique<QNetworkAccessManager>();
        m_proxies = new HeldProxies;
        m_manager->setProxyFactory(m_proxies);
    }
    return *m_manager;
}

void NetworkTransfer::trustAuthoritiesForTesting(const std::string& pem)
{
    m_testAuthorities = pem;
}

void NetworkTransfer::resolveProxiesForTesting(ProxyLookup::Resolver resolver)
{
    m_proxyLookup.setResolver(std::move(resolver));
}

void NetworkTransfer::abort()
{
    m_aborted = true;
    for (Fetch* fetch : m_underWay) {
        if (!fetch->done) {
            fetch->aborted = true;
            fetch->interrupt();
        }
    }
}

FetchResponse NetworkTransfer::fetch(const std::string& text)
{
    if (m_aborted)
        return abortedResponse();
    QUrl url(QString::fromStdString(text));
    if (!isWebUrl(url))
        return failedResponse("not an http or https URL");

    FetchResponse response;
    {
        Fetch fetch(*this, std::move(url));
        m_underWay.push_back(&fetch);
        const auto leave =
            qScopeGuard([&] { m_underWay.erase(std::find(m_underWay.begin(), m_underWay.end(), &fetch)); });
        fetch.send();
        while (!fetch.done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        response = fetch.response();
        m_connectionsSpoilt = m_connectionsSpoilt || fetch.spoilt;
    }
    // Not while another fetch still uses a connection; the replies are gone by now.
    if (m_connectionsSpoilt && m_underWay.empty() && !m_aborted && m_manager) {
        m_manager->clearConnectionCache();
        m_connectionsSpoilt = false;
    }
    return response;
}

}  // namespace vantrel
