#include "platform/tls_preload.h"

#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <QtNetwork/qtnetworkglobal.h>
#include <QMetaObject>
#include <QObject>
#if QT_CONFIG(ssl)
#include <QSslConfiguration>
#include <QSslSocket>
#endif

namespace vantrel {

struct TlsPreload::Waiter {
    // Null once nobody waits.
    QObject* receiver = nullptr;
    std::function<void()> done;
};

namespace {

struct State {
    // Guards everything below and every waiter's receiver.
    std::mutex mutex;
    bool started = false;
    bool loaded = false;
    std::vector<std::shared_ptr<TlsPreload::Waiter>> waiting;
};

// Never destroyed: the thread may still be loading when the program exits.
State& state()
{
    static State* const shared = new State;
    return *shared;
}

void load()
{
#if QT_CONFIG(ssl)
    // The backend plugin, then the configuration every request starts from, which reads the system's authorities
    // where the backend takes them at start (Schannel's "ROOT" store).
    if (QSslSocket::supportsSsl())
        (void)QSslConfiguration::defaultConfiguration();
#endif
    State& shared = state();
    std::unique_lock lock(shared.mutex);
    shared.loaded = true;
    for (const std::shared_ptr<TlsPreload::Waiter>& waiter : shared.waiting) {
        if (!waiter->receiver)
            continue;
        QMetaObject::invokeMethod(
            waiter->receiver,
            [waiter] {
                // Cancelled while on its way; cancel() runs on this thread, so no lock is needed.
                if (waiter->receiver)
                    waiter->done();
            },
            Qt::QueuedConnection);
    }
    shared.waiting.clear();
    lock.unlock();
    // The thread stays: under Wine, a thread that ended after loading the backend crashed the program at times.
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(24));
}

}  // namespace

std::shared_ptr<TlsPreload::Waiter> TlsPreload::whenLoaded(QObject* receiver, std::function<void()> done)
{
    State& shared = state();
    const std::lock_guard lock(shared.mutex);
    if (shared.loaded)
        return nullptr;
    auto waiter = std::make_shared<Waiter>(Waiter{receiver, std::move(done)});
    shared.waiting.push_back(waiter);
    if (!shared.started) {
        try {
            std::thread(load).detach();
        } catch (const std::system_error&) {
            // No thread to be had: Qt loads it on the calling thread, as it would without this.
            shared.waiting.clear();
            shared.loaded = true;
            return nullptr;
        }
        shared.started = true;
    }
    return waiter;
}

void TlsPreload::cancel(const std::shared_ptr<Waiter>& waiter)
{
    if (!waiter)
        return;
    const std::lock_guard lock(state().mutex);
    waiter->receiver = nullptr;
}

}  // namespace vantrel
