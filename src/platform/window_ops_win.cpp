#include "platform/window_ops.h"

#include <windows.h>

#include <QWidget>

namespace vantrel {

void BeginWindowDrag(QWidget& window, std::int16_t button)
{
    if (button != 1)
        return;
    ReleaseCapture();
    // As if the left button had gone down on a title bar; returns when the system's move loop ends.
    SendMessageA(reinterpret_cast<HWND>(window.winId()), WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void SetWindowTopmost(QWidget& window, bool topmost)
{
    SetWindowPos(reinterpret_cast<HWND>(window.winId()), topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE);
}

}  // namespace vantrel
