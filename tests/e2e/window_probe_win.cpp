// Reads what X11 cannot tell of a window under Wine: its extended styles.
//   vantrel_window_probe TITLE   prints "topmost" or "normal" for the top-level window of that title
#include <windows.h>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("usage: vantrel_window_probe TITLE\n", stderr);
        return 2;
    }
    const HWND window = FindWindowA(nullptr, argv[1]);
    if (!window) {
        std::fputs("no such window\n", stderr);
        return 1;
    }
    const LONG_PTR styles = GetWindowLongPtrA(window, GWL_EXSTYLE);
    std::puts((styles & WS_EX_TOPMOST) ? "topmost" : "normal");
    return 0;
}
