#include "platform/event_loop_waiter.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

namespace vantrel {

EventLoopWaiter::EventLoopWaiter() : m_thread(QThread::currentThread()) {}

void EventLoopWaiter::waitUntil(const std::function<bool()>& finished)
{
    while (!finished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void EventLoopWaiter::wake()
{
    // wakeUp() is the dispatcher's one thread-safe entry: it ends the wait for more events.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(m_thread))
        dispatcher->wakeUp();
}

}  // namespace vantrel
