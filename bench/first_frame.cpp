// Starts a program on the X display and prints the milliseconds until its headline is first on screen:
// the first moment a near-white pixel shows in the watched region of the root window. The display's root
// must be black (Xvfb -br) and nothing else may be shown there.
//
// With --click=X,Y it prints the first click's time instead. Once the headline shows, the pointer rests on
// X,Y; after --settle=MS, at a moment the headline's right end lies between MIN and MAX pixels into the
// region (--zone=MIN-MAX), a button-1 click goes there through XTest, and the time runs from the click until
// a near-white square of 5 x 5 pixels shows in the region: the "■" of a feed named so, which status texts
// never draw.
//
//   vantrel_first_frame [--region=WxH+X+Y] [--timeout=MS] [--click=X,Y [--settle=MS] [--zone=MIN-MAX]]
//                       PROGRAM [ARGUMENTS...]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct WatchedArea {
    unsigned width = 570;
    unsigned height = 30;
    int x = 0;
    int y = 0;
};

struct ClickPlan {
    bool wanted = false;
    int x = 0;
    int y = 0;
    long settleMs = 1000;
    int zoneMin = 24;
    int zoneMax = 160;
};

constexpr int kMarkerSide = 5;

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

// The near-white pixels of the region, row by row; none when the grab fails.
struct BrightMap {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bright;

    bool at(int x, int y) const { return bright[static_cast<std::size_t>(y * width + x)] != 0; }
};

BrightMap grab(Display* display, const WatchedArea& region)
{
    BrightMap map;
    XImage* image = XGetImage(display, DefaultRootWindow(display), region.x, region.y, region.width, region.height,
                              AllPlanes, ZPixmap);
    if (!image)
        return map;
    map.width = image->width;
    map.height = image->height;
    map.bright.resize(static_cast<std::size_t>(map.width * map.height));
    for (int y = 0; y < map.height; ++y) {
        for (int x = 0; x < map.width; ++x)
            map.bright[static_cast<std::size_t>(y * map.width + x)] = isBright(XGetPixel(image, x, y), *image);
    }
    XDestroyImage(image);
    return map;
}

bool anyBright(const BrightMap& map)
{
    for (const unsigned char pixel : map.bright) {
        if (pixel)
            return true;
    }
    return false;
}

// The rightmost column with a near-white pixel, -1 when there is none.
int rightEnd(const BrightMap& map)
{
    for (int x = map.width - 1; x >= 0; --x) {
        for (int y = 0; y < map.height; ++y) {
            if (map.at(x, y))
                return x;
        }
    }
    return -1;
}

bool hasMarker(const BrightMap& map)
{
    // Per column, how many near-white pixels end at this row; a square needs kMarkerSide columns side by side.
    std::vector<int> run(static_cast<std::size_t>(map.width), 0);
    for (int y = 0; y < map.height; ++y) {
        int beside = 0;
        for (int x = 0; x < map.width; ++x) {
            int& column = run[static_cast<std::size_t>(x)];
            column = map.at(x, y) ? column + 1 : 0;
            beside = column >= kMarkerSide ? beside + 1 : 0;
            if (beside >= kMarkerSide)
                return true;
        }
    }
    return false;
}

void stop(pid_t child)
{
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
}

enum class Wait { Seen, Ended, TimedOut };

// Grabs the region until seen() holds, the child ends or the deadline passes.
Wait waitFor(Display* display, const WatchedArea& region, pid_t child, Clock::time_point deadline,
             const std::function<bool(const BrightMap&)>& seen)
{
    while (Clock::now() < deadline) {
        if (seen(grab(display, region)))
            return Wait::Seen;
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return Wait::Ended;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return Wait::TimedOut;
}

// XTest from the library xdotool already brings along, so building needs no headers for it.
struct XTest {
    using FakeButton = int (*)(Display*, unsigned int, Bool, unsigned long);
    using FakeMotion = int (*)(Display*, int, int, int, unsigned long);
    FakeButton button = nullptr;
    FakeMotion motion = nullptr;

    bool load(Display* display)
    {
        int opcode = 0, event = 0, error = 0;
        if (!XQueryExtension(display, "XTEST", &opcode, &event, &error))
            return false;
        void* library = dlopen("libXtst.so.6", RTLD_NOW);
        if (!library)
            return false;
        button = reinterpret_cast<FakeButton>(dlsym(library, "XTestFakeButtonEvent"));
        motion = reinterpret_cast<FakeMotion>(dlsym(library, "XTestFakeMotionEvent"));
        return button && motion;
    }
};

bool parseOption(const char* argument, WatchedArea& region, long& timeoutMs, ClickPlan& click)
{
    if (std::sscanf(argument, "--region=%ux%u+%d+%d", &region.width, &region.height, &region.x, &region.y) == 4)
        return true;
    if (std::sscanf(argument, "--timeout=%ld", &timeoutMs) == 1)
        return true;
    if (std::sscanf(argument, "--click=%d,%d", &click.x, &click.y) == 2) {
        click.wanted = true;
        return true;
    }
    if (std::sscanf(argument, "--settle=%ld", &click.settleMs) == 1)
        return true;
    return std::sscanf(argument, "--zone=%d-%d", &click.zoneMin, &click.zoneMax) == 2;
}

void report(Wait result, const char* program, long timeoutMs, const char* what)
{
    if (result == Wait::Ended)
        std::fprintf(stderr, "%s ended before %s\n", program, what);
    else
        std::fprintf(stderr, "%s: not %s within %ld ms\n", program, what, timeoutMs);
}

}  // namespace

int main(int argc, char** argv)
{
    WatchedArea region;
    long timeoutMs = 20'000;
    ClickPlan click;
    int first = 1;
    for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
        if (!parseOption(argv[first], region, timeoutMs, click)) {
            std::fprintf(stderr, "unknown option %s\n", argv[first]);
            return 2;
        }
    }
    if (first >= argc) {
        std::fprintf(stderr,
                     "usage: %s [--region=WxH+X+Y] [--timeout=MS] [--click=X,Y [--settle=MS] [--zone=MIN-MAX]] "
                     "PROGRAM [ARGUMENTS...]\n",
                     argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open the display\n");
        return 2;
    }
    XTest xtest;
    if (click.wanted && !xtest.load(display)) {
        std::fprintf(stderr,
                     "no XTest: the display lacks the extension or libXtst.so.6 is missing (Debian 12: "
                     "apt-get install libxtst6)\n");
        return 2;
    }
    // The window of an earlier run may still be going away.
    for (int wait = 0; anyBright(grab(display, region)); ++wait) {
        if (wait == 200) {
            std::fprintf(stderr, "the region does not turn black before the start\n");
            return 2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    const Clock::time_point start = Clock::now();
    pid_t child = 0;
    if (posix_spawnp(&child, argv[first], nullptr, nullptr, argv + first, environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[first]);
        return 2;
    }
    const auto within = [timeoutMs] { return Clock::now() + std::chrono::milliseconds(timeoutMs); };
    const auto finish = [&](Wait result, const char* what, Clock::time_point since) {
        if (result == Wait::Seen)
            std::printf("%.1f\n", std::chrono::duration<double, std::milli>(Clock::now() - since).count());
        else
            report(result, argv[first], timeoutMs, what);
        // An ended child is reaped already.
        if (result != Wait::Ended)
            stop(child);
        XCloseDisplay(display);
        return result == Wait::Seen ? 0 : 1;
    };
    Wait result = waitFor(display, region, child, start + std::chrono::milliseconds(timeoutMs), anyBright);
    if (result != Wait::Seen || !click.wanted)
        return finish(result, "showing anything", start);

    // The pointer arrives before the click, as a user's does.
    xtest.motion(display, -1, click.x, click.y, 0);
    XFlush(display);
    std::this_thread::sleep_for(std::chrono::milliseconds(click.settleMs));
    result = waitFor(display, region, child, within(), [&click](const BrightMap& map) {
        const int right = rightEnd(map);
        return right >= click.zoneMin && right <= click.zoneMax && !hasMarker(map);
    });
    if (result != Wait::Seen)
        return finish(result, "showing its headline in the zone to click", start);
    const Clock::time_point clicked = Clock::now();
    xtest.button(display, 1, True, 0);
    xtest.button(display, 1, False, 0);
    XFlush(display);
    return finish(waitFor(display, region, child, within(), hasMarker), "showing the marked headline after the click",
                  clicked);
}
