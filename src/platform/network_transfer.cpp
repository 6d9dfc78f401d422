#include "platform/network_transfer.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include <zlib.h>

#include <QCoreApplication>
#include <QHash>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>
#include <QUrl>
#if QT_CONFIG(ssl)
#include <QSslCertificate>
#include <QSslConfiguration>
#endif

namespace vantrel {
namespace {

constexpr const char kUserAgent[] = "Vantrel/" VANTREL_VERSION;
constexpr std::size_t kReadPiece = 16 * 1024;

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

QList<QNetworkProxy> systemProxies(const QNetworkProxyQuery& query)
{
    // As Qt's own lookup does: nothing for this machine itself goes through a proxy.
    const QString host = query.url().host();
    if (host == QLatin1String("localhost") || host.startsWith(QLatin1String("localhost.")) ||
        QHostAddress(host).isLoopback())
        return {QNetworkProxy(QNetworkProxy::NoProxy)};
    return QNetworkProxyFactory::systemProxyForQuery(query);
}

// A gzip or zlib body inflated as it arrives, or bare deflate data, which some servers send as "deflate".
// Qt's own inflation does not tell a stream cut short from a whole one.
class Inflater {
public:
    enum class Outcome { Ok, TooLarge, Corrupt };

    Inflater() = default;
    ~Inflater()
    {
        if (m_started)
            inflateEnd(&m_stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Appends what input inflates to out, which must not grow past cap.
    Outcome feed(std::string_view input, std::string& out, std::size_t cap);
    // The stream has reached its end, or none of it has come.
    bool complete() const { return m_ended || (!m_started && m_head.empty()); }
    std::string error() const { return m_error; }

private:
    bool start();

    z_stream m_stream{};
    bool m_started = false;
    bool m_ended = false;
    std::string m_head;  // the first bytes, until there are enough to tell the kind of stream
    std::string m_error;
};

bool Inflater::start()
{
    const auto first = static_cast<unsigned char>(m_head[0]);
    const auto second = static_cast<unsigned char>(m_head[1]);
    const bool gzip = first == 0x1f && second == 0x8b;
    const bool zlib = (first & 0x0f) == Z_DEFLATED && (first * 256 + second) % 31 == 0;
    // 32 added: zlib tells a gzip header from a zlib one itself; negative: no header at all.
    if (inflateInit2(&m_stream, gzip || zlib ? MAX_WBITS + 32 : -MAX_WBITS) != Z_OK) {
        m_error = "cannot inflate the body";
        return false;
    }
    m_started = true;
    return true;
}

Inflater::Outcome Inflater::feed(std::string_view input, std::string& out, std::size_t cap)
{
    std::string head;
    if (!m_started) {
        m_head.append(input);
        if (m_head.size() < 2)
            return Outcome::Ok;
        if (!start())
            return Outcome::Corrupt;
        head = std::move(m_head);
        m_head.clear();
        input = head;
    }
    m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    m_stream.avail_in = static_cast<uInt>(input.size());
    for (;;) {
        if (m_ended) {
            if (m_stream.avail_in == 0)
                return Outcome::Ok;
            // Another member follows, as in concatenated gzip files.
            inflateReset(&m_stream);
            m_ended = false;
        }
        Bytef piece[kReadPiece];
        m_stream.next_out = piece;
        m_stream.avail_out = sizeof piece;
        const int result = inflate(&m_stream, Z_NO_FLUSH);
        if (result == Z_NEED_DICT || (result < 0 && result != Z_BUF_ERROR)) {
            m_error = std::string("corrupt compressed body: ") + (m_stream.msg ? m_stream.msg : "no detail");
            return Outcome::Corrupt;
        }
        const std::size_t produced = sizeof piece - m_stream.avail_out;
        if (produced > cap - out.size())
            return Outcome::TooLarge;
        out.append(reinterpret_cast<const char*>(piece), produced);
        if (result == Z_STREAM_END)
            m_ended = true;
        else if (m_stream.avail_out != 0)
            return Outcome::Ok;  // all input taken, all output given
    }
}

}  // namespace

// The lookups of one transfer, one at a time on a thread of their own: the system's lookup may fetch a PAC
// script or probe for one and take long. The thread is detached, never joined, so that a lookup that never
// returns cannot hold up the program's exit; it ends once the transfer is gone and its lookup has returned.
struct NetworkTransfer::ProxyLookups {
    struct Lookup {
        QUrl url;
        // Null once nobody waits for the answer, which is then dropped.
        QObject* receiver = nullptr;
        std::function<void(const QList<QNetworkProxy>&)> answer;  // runs on the receiver's thread
    };

    static void run(const std::shared_ptr<ProxyLookups>& self);

    // Guards everything below and every lookup's receiver.
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::shared_ptr<Lookup>> queue;
    ProxyResolver resolve = systemProxies;
    bool threadStarted = false;
    bool transferGone = false;
};

void NetworkTransfer::ProxyLookups::run(const std::shared_ptr<ProxyLookups>& self)
{
    for (;;) {
        std::shared_ptr<Lookup> lookup;
        ProxyResolver resolve;
        {
            std::unique_lock lock(self->mutex);
            self->wake.wait(lock, [&] { return self->transferGone || !self->queue.empty(); });
            if (self->transferGone)
                return;
            lookup = std::move(self->queue.front());
            self->queue.pop_front();
            if (!lookup->receiver)
                continue;
            resolve = self->resolve;
        }
        QList<QNetworkProxy> proxies;
        try {
            proxies = resolve(QNetworkProxyQuery(lookup->url));
        } catch (...) {
            proxies.clear();  // no answer: a direct connection
        }
        const std::lock_guard lock(self->mutex);
        if (lookup->receiver)
            QMetaObject::invokeMethod(
                lookup->receiver, [answer = lookup->answer, proxies] { answer(proxies); }, Qt::QueuedConnection);
    }
}

// Answers the manager's proxy queries from lookups already made, so that Qt makes none on the transfer's thread.
class NetworkTransfer::ResolvedProxies final : public QNetworkProxyFactory {
public:
    void hold(const QUrl& url, const QList<QNetworkProxy>& proxies)
    {
        Held& held = m_held[url];
        held.proxies = proxies.isEmpty() ? QList<QNetworkProxy>{QNetworkProxy(QNetworkProxy::NoProxy)} : proxies;
        ++held.holders;
    }
    void release(const QUrl& url)
    {
        const auto held = m_held.find(url);
        if (held != m_held.end() && --held->holders == 0)
            m_held.erase(held);
    }
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        const auto held = m_held.constFind(query.url());
        return held != m_held.cend() ? held->proxies : QList<QNetworkProxy>{QNetworkProxy(QNetworkProxy::NoProxy)};
    }

private:
    struct Held {
        QList<QNetworkProxy> proxies;
        int holders = 0;
    };
    QHash<QUrl, Held> m_held;
};

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
    void hopFinished();
    // Ends the fetch early for the reason given.
    void stop(std::string why);
    void interrupt();
    void finish();
    // Empty when all that has arrived is taken; else why the fetch cannot go on.
    std::string takeAvailable();
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
    std::shared_ptr<ProxyLookups::Lookup> lookup;
    int lookupCount = 0;
    std::string proxyNote;  // set when a lookup was given up
    bool codingKnown = false;
    std::unique_ptr<Inflater> inflater;
    std::string body;
    std::string failure;  // why the fetch was ended early
    bool done = false;
    bool aborted = false;
    // Every hop's reply, deleted first when the fetch returns: none of them is emitting by then.
    std::vector<std::unique_ptr<QNetworkReply>> replies;
    // Receives the lookups' answers; those still queued are dropped with it.
    QObject answers;
};

NetworkTransfer::Fetch::Fetch(NetworkTransfer& transfer, QUrl url)
    : transfer(transfer), limits(transfer.m_limits), url(std::move(url))
{
    for (QTimer* timer : {&lookupTimer, &connectTimer, &stallTimer, &totalTimer})
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
    totalTimer.start(limits.totalTimeout);
}

NetworkTransfer::Fetch::~Fetch()
{
    dropLookup();
}

void NetworkTransfer::Fetch::send()
{
    const int number = ++lookupCount;
    lookup = std::make_shared<ProxyLookups::Lookup>();
    lookup->url = url;
    lookup->receiver = &answers;
    lookup->answer = [this, number](const QList<QNetworkProxy>& proxies) {
        // An answer that was given up on may still arrive.
        if (number != lookupCount || !lookup)
            return;
        dropLookup();
        request(proxies);
    };
    ProxyLookups& lookups = *transfer.m_lookups;
    {
        const std::lock_guard lock(lookups.mutex);
        lookups.queue.push_back(lookup);
    }
    lookups.wake.notify_one();
    lookupTimer.start(limits.proxyLookupTime);
}

void NetworkTransfer::Fetch::dropLookup()
{
    lookupTimer.stop();
    if (!lookup)
        return;
    {
        const std::lock_guard lock(transfer.m_lookups->mutex);
        lookup->receiver = nullptr;
    }
    lookup.reset();
}

void NetworkTransfer::Fetch::request(const QList<QNetworkProxy>& proxies)
{
    QNetworkRequest request(url);
    // Redirects are followed here, where their schemes and their number are checked.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(kUserAgent));
    // Asked for here, Qt leaves the body compressed, and the inflater sees whether the stream ends.
    request.setRawHeader("Accept-Encoding", "gzip, deflate");
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
#if QT_CONFIG(ssl)
    if (!transfer.m_testAuthorities.empty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(
            QSslCertificate::fromData(QByteArray::fromStdString(transfer.m_testAuthorities), QSsl::Pem));
        request.setSslConfiguration(tls);
    }
#endif

    body.clear();
    codingKnown = false;
    inflater.reset();
    QNetworkAccessManager& manager = transfer.manager();
    transfer.m_proxies->hold(url, proxies);
    reply = manager.get(request);
    replies.emplace_back(reply);
    QObject::connect(reply, &QNetworkReply::requestSent, [this] { connectTimer.stop(); });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, [this] { stallTimer.start(limits.stallTime); });
    QObject::connect(reply, &QNetworkReply::readyRead, [this] {
        stallTimer.start(limits.stallTime);
        // Read as it arrives, so that an endless or inflating body is cut off at the cap.
        try {
            if (std::string why = takeAvailable(); !why.empty())
                stop(std::move(why));
        } catch (const std::exception& error) {
            // Nothing may escape into Qt's event loop.
            stop(error.what());
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, [this] { hopFinished(); });
    connectTimer.start(limits.connectTimeout);
    stallTimer.start(limits.stallTime);
}

void NetworkTransfer::Fetch::hopFinished()
{
    transfer.m_proxies->release(url);
    connectTimer.stop();
    stallTimer.stop();
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
    if (lookup) {
        dropLookup();
        finish();
    } else {
        // The reply finishes at once.
        reply->abort();
    }
}

void NetworkTransfer::Fetch::finish()
{
    for (QTimer* timer : {&lookupTimer, &connectTimer, &stallTimer, &totalTimer})
        timer->stop();
    done = true;
    if (transfer.m_waiter)
        transfer.m_waiter->wake();
}

std::string NetworkTransfer::Fetch::takeAvailable()
{
    if (!codingKnown) {
        codingKnown = true;
        const QByteArray coding = reply->rawHeader("Content-Encoding").trimmed().toLower();
        // Any other coding stays as it came, as Qt left it.
        if (coding == "gzip" || coding == "x-gzip" || coding == "deflate")
            inflater = std::make_unique<Inflater>();
    }
    if (!inflater) {
        const auto available = static_cast<std::size_t>(std::max<qint64>(reply->bytesAvailable(), 0));
        if (available > limits.maxBodyBytes - body.size())
            return tooLarge(limits.maxBodyBytes);
        const std::size_t start = body.size();
        body.resize(start + available);
        const qint64 read = reply->read(body.data() + start, static_cast<qint64>(available));
        body.resize(start + static_cast<std::size_t>(std::max<qint64>(read, 0)));
        return {};
    }
    char piece[kReadPiece];
    for (;;) {
        const qint64 read = reply->read(piece, sizeof piece);
        if (read <= 0)
            return {};
        switch (inflater->feed({piece, static_cast<std::size_t>(read)}, body, limits.maxBodyBytes)) {
        case Inflater::Outcome::Ok:
            break;
        case Inflater::Outcome::TooLarge:
            return tooLarge(limits.maxBodyBytes);
        case Inflater::Outcome::Corrupt:
            return inflater->error();
        }
    }
}

FetchResponse NetworkTransfer::Fetch::failed(std::string why) const
{
    return failedResponse(proxyNote.empty() ? std::move(why) : why + " (" + proxyNote + ")");
}

FetchResponse NetworkTransfer::Fetch::response()
{
    if (aborted || transfer.m_aborted.load())
        return abortedResponse();
    if (!failure.empty())
        return failed(failure);
    if (reply->error() != QNetworkReply::NoError)
        return failed(reply->errorString().toStdString());
    // A 3xx that could not be followed is no document either.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299)
        return failed("HTTP status " + std::to_string(status));
    if (std::string why = takeAvailable(); !why.empty())
        return failed(std::move(why));
    // A connection closed early ends a body without length as if it were whole; only the stream tells.
    if (inflater && !inflater->complete())
        return failed("compressed body cut short");
    return {FetchResponse::Status::Ok, std::move(body), {}};
}

NetworkTransfer::NetworkTransfer(TransferLimits limits, TransferWaiter* waiter)
    : m_limits(limits),
      m_waiter(waiter),
      m_context(std::make_unique<QObject>()),
      m_lookups(std::make_shared<ProxyLookups>())
{
}

NetworkTransfer::~NetworkTransfer()
{
    {
        const std::lock_guard lock(m_lookups->mutex);
        m_lookups->transferGone = true;
        m_lookups->queue.clear();
    }
    m_lookups->wake.notify_all();
}

QNetworkAccessManager& NetworkTransfer::manager()
{
    if (!m_manager) {
        m_manager = std::make_unique<QNetworkAccessManager>();
        m_proxies = new ResolvedProxies;
        m_manager->setProxyFactory(m_proxies);
    }
    return *m_manager;
}

void NetworkTransfer::trustAuthoritiesForTesting(const std::string& pem)
{
    m_testAuthorities = pem;
}

void NetworkTransfer::resolveProxiesForTesting(ProxyResolver resolver)
{
    const std::lock_guard lock(m_lookups->mutex);
    m_lookups->resolve = std::move(resolver);
}

void NetworkTransfer::abort()
{
    m_aborted.store(true);
    if (QThread::currentThread() == m_context->thread())
        abortUnderWay();
    else
        QMetaObject::invokeMethod(
            m_context.get(), [this] { abortUnderWay(); }, Qt::QueuedConnection);
}

void NetworkTransfer::abortUnderWay()
{
    for (Fetch* fetch : m_underWay) {
        if (!fetch->done) {
            fetch->aborted = true;
            fetch->interrupt();
        }
    }
}

FetchResponse NetworkTransfer::fetch(const std::string& text)
{
    if (m_aborted.load())
        return abortedResponse();
    QUrl url(QString::fromStdString(text));
    if (!isWebUrl(url))
        return failedResponse("not an http or https URL");

    {
        const std::lock_guard lock(m_lookups->mutex);
        if (!m_lookups->threadStarted) {
            std::thread([lookups = m_lookups] { ProxyLookups::run(lookups); }).detach();
            m_lookups->threadStarted = true;
        }
    }
    Fetch fetch(*this, std::move(url));
    m_underWay.push_back(&fetch);
    const auto leave = qScopeGuard([&] { m_underWay.erase(std::find(m_underWay.begin(), m_underWay.end(), &fetch)); });
    fetch.send();
    const auto finished = [&fetch] { return fetch.done; };
    if (m_waiter) {
        m_waiter->waitUntil(finished);
    } else {
        while (!finished())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return fetch.response();
}

}  // namespace vantrel
