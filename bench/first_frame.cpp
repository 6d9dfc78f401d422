// Starts a program on the X display and prints the milliseconds until its headline is first on screen:
// the first moment a near-white pixel shows in the watched region of the root window. The display's root
// must be black (Xvfb -br) and nothing else may be shown there.
//
//   vantrel_first_frame [--region=WxH+X+Y] [--timeout=MS] PROGRAM [ARGUMENTS...]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

extern char** environ;

namespace {

struct WatchedArea {
    unsigned width = 570;
    unsigned height = 30;
    int x = 0;
    int y = 0;
};

bool isBright(unsigned long pixel, const XImage& image)
{
    const auto channel = [&pixel](unsigned long mask) {
        if (mask == 0)
            return 0ul;
        unsigned long value = pixel & mask;
        while ((mask & 1) == 0) {
            mask >>= 1;
            value >>= 1;
        }
        return value * 255 / mask;
    };
    constexpr unsigned long kBright = 0xC0;
    return channel(image.red_mask) >= kBright && channel(image.green_mask) >= kBright &&
           channel(image.blue_mask) >= kBright;
}

bool headlineShows(Display* display, const WatchedArea& region)
{
    XImage* image = XGetImage(display, DefaultRootWindow(display), region.x, region.y, region.width, region.height,
                              AllPlanes, ZPixmap);
    if (!image)
        return false;
    bool found = false;
    for (int y = 0; y < image->height && !found; ++y) {
        for (int x = 0; x < image->width && !found; ++x)
            found = isBright(XGetPixel(image, x, y), *image);
    }
    XDestroyImage(image);
    return found;
}

void stop(pid_t child)
{
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
}

}  // namespace

int main(int argc, char** argv)
{
    WatchedArea region;
    long timeoutMs = 20'000;
    int first = 1;
    for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
        if (std::sscanf(argv[first], "--region=%ux%u+%d+%d", &region.width, &region.height, &region.x, &region.y) == 4)
            continue;
        if (std::sscanf(argv[first], "--timeout=%ld", &timeoutMs) == 1)
            continue;
        std::fprintf(stderr, "unknown option %s\n", argv[first]);
        return 2;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: %s [--region=WxH+X+Y] [--timeout=MS] PROGRAM [ARGUMENTS...]\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open the display\n");
        return 2;
    }
    // The window of an earlier run may still be going away.
    for (int wait = 0; headlineShows(display, region); ++wait) {
        if (wait == 200) {
            std::fprintf(stderr, "the region does not turn black before the start\n");
            return 2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    pid_t child = 0;
    if (posix_spawnp(&child, argv[first], nullptr, nullptr, argv + first, environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[first]);
        return 2;
    }
    const Clock::time_point deadline = start + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (headlineShows(display, region)) {
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            std::printf("%.1f\n", ms);
            stop(child);
            XCloseDisplay(display);
            return 0;
        }
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            std::fprintf(stderr, "%s ended before it showed anything\n", argv[first]);
            XCloseDisplay(display);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    std::fprintf(stderr, "nothing showed within %ld ms\n", timeoutMs);
    stop(child);
    XCloseDisplay(display);
    return 1;
}
