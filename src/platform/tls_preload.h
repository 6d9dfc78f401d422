#pragma once

#include <functional>
#include <memory>

class QObject;

namespace vantrel {

// Qt's TLS backend and its default configuration, loaded once for the process on a thread of their own: on
// Windows that opens the system's certificate store, which can take long, and the window's thread must go on
// meanwhile. Nothing loads before the first call of whenLoaded.
class TlsPreload {
public:
    struct Waiter;

    // Null when everything is loaded already; else done runs on receiver's thread, through its event loop, once
    // it is, unless the waiter is cancelled first.
    static std::shared_ptr<Waiter> whenLoaded(QObject* receiver, std::function<void()> done);
    // On receiver's thread: done is dropped, also one already on its way.
    static void cancel(const std::shared_ptr<Waiter>& waiter);
};

}  // namespace vantrel
