#include "platform/window_ops.h"

#include <QCursor>
#include <QEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace vantrel {
namespace {

const QString kFollowerName = QStringLiteral("vantrel-pointer-follower");
const QString kGuardName = QStringLiteral("vantrel-system-move-guard");

// Moves the window with the pointer until the left button is released, for window systems that refuse
// a system move (no window manager, some compositors).
class PointerFollower : public QObject {
public:
    PointerFollower(QWidget& window, const QPoint& grabOffset)
        : QObject(&window), m_window(&window), m_offset(grabOffset)
    {
        setObjectName(kFollowerName);
        window.grabMouse();
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_window)
            return false;
        if (event->type() == QEvent::MouseMove) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->buttons() & Qt::LeftButton) {
                m_window->move(mouse->globalPosition().toPoint() - m_offset);
                return true;
            }
            finish();
            return false;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            finish();
            return true;
        }
        return false;
    }

private:
    void finish()
    {
        m_window->releaseMouse();
        m_window->removeEventFilter(this);
        deleteLater();
    }

    QPointer<QWidget> m_window;
    QPoint m_offset;
};

// One system move per press. On X11 the move goes on after startSystemMove() returns, and Qt keeps sending
// moves with the button down meanwhile; a second request would outlive the release.
class SystemMoveGuard : public QObject {
public:
    explicit SystemMoveGuard(QWidget& window) : QObject(&window)
    {
        setObjectName(kGuardName);
        window.windowHandle()->installEventFilter(this);
    }

    bool requested = false;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)
            requested = false;
        return false;
    }
};

}  // namespace

void BeginWindowDrag(QWidget& window, std::int16_t button)
{
    if (button != 1)
        return;
    if (window.findChild<QObject*>(kFollowerName, Qt::FindDirectChildrenOnly))
        return;
    QWindow* handle = window.windowHandle();
    if (!handle)
        return;
    auto* guard = static_cast<SystemMoveGuard*>(window.findChild<QObject*>(kGuardName, Qt::FindDirectChildrenOnly));
    if (!guard)
        guard = new SystemMoveGuard(window);
    if (guard->requested)
        return;
    guard->requested = true;
    if (handle->startSystemMove())
        return;
    new PointerFollower(window, QCursor::pos() - window.frameGeometry().topLeft());
}

void SetWindowTopmost(QWidget& window, bool topmost)
{
    // Through the native window, so the widget is not hidden and re-created as setWindowFlag() would.
    if (QWindow* handle = window.windowHandle()) {
        handle->setFlag(Qt::WindowStaysOnTopHint, topmost);
        return;
    }
    window.setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
}

}  // namespace vantrel
