#include "platform/network_transfer.h"

#include <algorithm>
#include <exception>
#include <utility>

#include <QCoreApplication>
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

}  // namespace

// One fetch: a request and the redirects it is sent on to, each hop a reply of its own.
struct NetworkTransfer::Fetch {
    Fetch(NetworkTransfer& transfer, QUrl url);

    // Sends the request for url; the reply's handlers send the next hop or end the fetch.
    void send();
    void hopFinished();
    // Ends the fetch early for the reason given; the reply finishes at once.
    void stop(std::string why);
    // False, reading nothing, when the body would pass the cap.
    bool takeAvailable();
    FetchResponse response();

    NetworkTransfer& transfer;
    const TransferLimits& limits;
    QUrl url;
    int redirects = 0;
    QNetworkReply* reply = nullptr;
    QTimer connectTimer;
    QTimer stallTimer;
    QTimer totalTimer;
    std::string body;
    std::string failure;  // why the fetch was ended early
    bool done = false;
    bool aborted = false;
    // Every hop's reply, deleted first when the fetch returns: none of them is emitting by then.
    std::vector<std::unique_ptr<QNetworkReply>> replies;
};

NetworkTransfer::Fetch::Fetch(NetworkTransfer& transfer, QUrl url)
    : transfer(transfer), limits(transfer.m_limits), url(std::move(url))
{
    for (QTimer* timer : {&connectTimer, &stallTimer, &totalTimer})
        timer->setSingleShot(true);
    QObject::connect(&connectTimer, &QTimer::timeout,
                     [this] { stop("no connection within " + milliseconds(limits.connectTimeout)); });
    QObject::connect(&stallTimer, &QTimer::timeout,
                     [this] { stop("nothing received for " + milliseconds(limits.stallTime)); });
    QObject::connect(&totalTimer, &QTimer::timeout,
                     [this] { stop("not done within " + milliseconds(limits.totalTimeout)); });
    totalTimer.start(limits.totalTimeout);
}

void NetworkTransfer::Fetch::send()
{
    QNetworkRequest request(url);
    // Redirects are followed here, where their schemes and their number are checked.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(kUserAgent));
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // Qt's own inflation check must not cut a body that the cap allows; past the cap both fail it.
    request.setDecompressedSafetyCheckThreshold(static_cast<qint64>(limits.maxBodyBytes));
#if QT_CONFIG(ssl)
    if (!transfer.m_testAuthorities.empty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(
            QSslCertificate::fromData(QByteArray::fromStdString(transfer.m_testAuthorities), QSsl::Pem));
        request.setSslConfiguration(tls);
    }
#endif

    body.clear();
    reply = transfer.manager().get(request);
    replies.emplace_back(reply);
    QObject::connect(reply, &QNetworkReply::requestSent, [this] { connectTimer.stop(); });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, [this] { stallTimer.start(limits.stallTime); });
    QObject::connect(reply, &QNetworkReply::readyRead, [this] {
        stallTimer.start(limits.stallTime);
        // Read as it arrives, so that an endless or inflating body is cut off at the cap.
        try {
            if (!takeAvailable())
                stop("body larger than " + std::to_string(limits.maxBodyBytes) + " bytes");
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
    connectTimer.stop();
    stallTimer.stop();
    const QVariant target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
    if (!aborted && failure.empty() && reply->error() == QNetworkReply::NoError && target.isValid()) {
        const QUrl next = url.resolved(target.toUrl());
        if (redirects == limits.maxRedirects) {
            failure = "more than " + std::to_string(limits.maxRedirects) + " redirects";
        } else if (!isWebUrl(next)) {
            failure = "redirect to " + next.toString().toStdString() + " refused";
        } else {
            ++redirects;
            url = next;
            send();
            return;
        }
    }
    totalTimer.stop();
    done = true;
    if (transfer.m_waiter)
        transfer.m_waiter->wake();
}

void NetworkTransfer::Fetch::stop(std::string why)
{
    if (done)
        return;
    failure = std::move(why);
    reply->abort();
}

bool NetworkTransfer::Fetch::takeAvailable()
{
    const auto available = static_cast<std::size_t>(std::max<qint64>(reply->bytesAvailable(), 0));
    if (available > limits.maxBodyBytes - body.size())
        return false;
    const std::size_t start = body.size();
    body.resize(start + available);
    const qint64 read = reply->read(body.data() + start, static_cast<qint64>(available));
    body.resize(start + static_cast<std::size_t>(std::max<qint64>(read, 0)));
    return true;
}

FetchResponse NetworkTransfer::Fetch::response()
{
    if (aborted || transfer.m_aborted.load())
        return abortedResponse();
    if (!failure.empty())
        return failedResponse(failure);
    if (reply->error() != QNetworkReply::NoError)
        return failedResponse(reply->errorString().toStdString());
    // A 3xx that could not be followed is no document either.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299)
        return failedResponse("HTTP status " + std::to_string(status));
    if (!takeAvailable())
        return failedResponse("body larger than " + std::to_string(limits.maxBodyBytes) + " bytes");
    return {FetchResponse::Status::Ok, std::move(body), {}};
}

NetworkTransfer::NetworkTransfer(TransferLimits limits, TransferWaiter* waiter)
    : m_limits(limits), m_waiter(waiter), m_context(std::make_unique<QObject>())
{
}

NetworkTransfer::~NetworkTransfer() = default;

QNetworkAccessManager& NetworkTransfer::manager()
{
    if (!m_manager) {
        // The desktop's or the system's proxy settings, and http_proxy, https_proxy and no_proxy.
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        m_manager = std::make_unique<QNetworkAccessManager>();
    }
    return *m_manager;
}

void NetworkTransfer::trustAuthoritiesForTesting(const std::string& pem)
{
    m_testAuthorities = pem;
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
            fetch->reply->abort();
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
