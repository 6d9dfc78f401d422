#pragma once

#include <functional>
#include <memory>

#include <QHash>
#include <QList>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QUrl>

class QObject;

namespace vantrel {

// Finds the proxies for URLs one at a time on a thread of its own: the system's lookup may fetch a PAC script
// or probe for one and take long. The thread is detached, never joined, so that a lookup that never returns
// cannot hold up the program's exit; it ends once the ProxyLookup is gone and its lookup has returned.
class ProxyLookup {
public:
    // Runs on the lookup thread.
    using Resolver = std::function<QList<QNetworkProxy>(const QNetworkProxyQuery&)>;
    using Answer = std::function<void(const QList<QNetworkProxy>&)>;
    struct Question;

    ProxyLookup();
    ~ProxyLookup();
    ProxyLookup(const ProxyLookup&) = delete;
    ProxyLookup& operator=(const ProxyLookup&) = delete;

    // Instead of the system's settings; call before the first question.
    void setResolver(Resolver resolver);
    // answer runs on receiver's thread, through its event loop, unless the question is cancelled first.
    std::shared_ptr<Question> ask(const QUrl& url, QObject* receiver, Answer answer);
    // On receiver's thread: the answer is dropped, also one already on its way.
    void cancel(const std::shared_ptr<Question>& question);

private:
    struct Shared;
    // Shared with the lookup thread, which may outlive this object.
    std::shared_ptr<Shared> m_shared;
};

// Answers an access manager's proxy queries from lookups already made, so that Qt makes none itself on the
// thread that asks.
class HeldProxies final : public QNetworkProxyFactory {
public:
    void hold(const QUrl& url, const QList<QNetworkProxy>& proxies);
    void release(const QUrl& url);
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override;

private:
    struct Held {
        QList<QNetworkProxy> proxies;
        int holders = 0;
    };
    QHash<QUrl, Held> m_held;
};

}  // namespace vantrel
