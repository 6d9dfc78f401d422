#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QObject>

class QTimer;

namespace vantrel {

// A periodic tick that keeps ticking inside its own handler. Qt never fires a timer again while its
// timeout is still on the stack, and a tick processes pending events (where a refresh with its fetch may
// run), so every nesting level gets a timer of its own.
class TickSource : public QObject {
    Q_OBJECT

public:
    TickSource(int intervalMs, std::function<void()> onTick, QObject* parent = nullptr);
    ~TickSource() override;

    void start();
    void stop();
    int interval() const { return m_intervalMs; }
    bool isActive() const;
    // How many ticks are on the stack right now.
    int depth() const { return m_depth; }

private:
    void fire(int level);
    QTimer* timerAt(int level);

    int m_intervalMs;
    std::function<void()> m_onTick;
    std::vector<QTimer*> m_timers;
    int m_depth = 0;
    bool m_running = false;
};

}  // namespace vantrel
