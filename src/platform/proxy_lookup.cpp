#include "platform/proxy_lookup.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include <QHostAddress>
#include <QMetaObject>
#include <QObject>

namespace vantrel {
namespace {

QList<QNetworkProxy> systemProxies(const QNetworkProxyQuery& query)
{
    // As Qt's own lookup does: nothing for this machine itself goes through a proxy.
    const QString host = query.url().host();
    if (host == QLatin1String("localhost") || host.startsWith(QLatin1String("localhost.")) ||
        QHostAddress(host).isLoopback())
        return {QNetworkProxy(QNetworkProxy::NoProxy)};
    return QNetworkProxyFactory::systemProxyForQuery(query);
}

QList<QNetworkProxy> directConnection()
{
    return {QNetworkProxy(QNetworkProxy::NoProxy)};
}

}  // namespace

struct ProxyLookup::Question {
    QUrl url;
    // Null once nobody waits for the answer.
    QObject* receiver = nullptr;
    Answer answer;
};

struct ProxyLookup::Shared {
    static void run(const std::shared_ptr<Shared>& self);

    // Guards everything below and every question's receiver.
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::shared_ptr<Question>> queue;
    Resolver resolve = systemProxies;
    bool threadStarted = false;
    bool ownerGone = false;
};

void ProxyLookup::Shared::run(const std::shared_ptr<Shared>& self)
{
    for (;;) {
        std::shared_ptr<Question> question;
        Resolver resolve;
        {
            std::unique_lock lock(self->mutex);
            self->wake.wait(lock, [&] { return self->ownerGone || !self->queue.empty(); });
            if (self->ownerGone)
                return;
            question = std::move(self->queue.front());
            self->queue.pop_front();
            if (!question->receiver)
                continue;
            resolve = self->resolve;
        }
        QList<QNetworkProxy> proxies;
        try {
            proxies = resolve(QNetworkProxyQuery(question->url));
        } catch (...) {
            proxies.clear();  // no answer: a direct connection
        }
        const std::lock_guard lock(self->mutex);
        if (!question->receiver)
            continue;
        QMetaObject::invokeMethod(
            question->receiver,
            [question, proxies] {
                // Cancelled while on its way; cancel() runs on this thread, so no lock is needed.
                if (question->receiver)
                    question->answer(proxies);
            },
            Qt::QueuedConnection);
    }
}

ProxyLookup::ProxyLookup() : m_shared(std::make_shared<Shared>()) {}

ProxyLookup::~ProxyLookup()
{
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->ownerGone = true;
        m_shared->queue.clear();
    }
    m_shared->wake.notify_all();
}

void ProxyLookup::setResolver(Resolver resolver)
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->resolve = std::move(resolver);
}

std::shared_ptr<ProxyLookup::Question> ProxyLookup::ask(const QUrl& url, QObject* receiver, Answer answer)
{
    auto question = std::make_shared<Question>(Question{url, receiver, std::move(answer)});
    {
        const std::lock_guard lock(m_shared->mutex);
        if (!m_shared->threadStarted) {
            std::thread([shared = m_shared] { Shared::run(shared); }).detach();
            m_shared->threadStarted = true;
        }
        m_shared->queue.push_back(question);
    }
    m_shared->wake.notify_one();
    return question;
}

void ProxyLookup::cancel(const std::shared_ptr<Question>& question)
{
    const std::lock_guard lock(m_shared->mutex);
    question->receiver = nullptr;
}

void HeldProxies::hold(const QUrl& url, const QList<QNetworkProxy>& proxies)
{
    Held& held = m_held[url];
    held.proxies = proxies.isEmpty() ? directConnection() : proxies;
    ++held.holders;
}

void HeldProxies::release(const QUrl& url)
{
    const auto held = m_held.find(url);
    if (held != m_held.end() && --held->holders == 0)
        m_held.erase(held);
}

QList<QNetworkProxy> HeldProxies::queryProxy(const QNetworkProxyQuery& query)
{
    const auto held = m_held.constFind(query.url());
    return held != m_held.cend() ? held->proxies : directConnection();
}

}  // namespace vantrel
