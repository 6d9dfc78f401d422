#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QImage>
#include <QMap>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Drives the real executable on a virtual X display: the display (and optionally a window manager), a
// folder of its own for the program, and the pointer, keyboard and screen as the X tools see them.
// Every wait is bounded; everything started is stopped by the destructors.
namespace vantrel::e2e {

using namespace std::chrono_literals;
using Milliseconds = std::chrono::milliseconds;

// Where the window's parts sit, in pixels from its top-left corner.
namespace layout {
inline constexpr QSize kWindowSize{570, 30};
inline constexpr QRect kStrip{2, 3, 425, 23};
inline constexpr QPoint kRefreshButton{511, 15};
inline constexpr QRect kRefreshButtonArea{496, 5, 30, 20};
inline constexpr QPoint kNextFeedButton{546, 15};
// Between the strip and the refresh button; no control covers it.
inline constexpr QPoint kSurface{450, 15};
}  // namespace layout

struct ToolResult {
    bool finished = false;  // ended on its own within the time allowed
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
    bool ok() const { return finished && exitCode == 0; }
};

// The programs the harness needs that are not on PATH (empty when all are there).
QStringList missingTools(bool withWindowManager);
// The same for a Wayland session: weston, XWayland, and Qt's Wayland platform, without which a Qt program
// would take X11 anyway and the session would prove nothing.
QStringList missingWaylandTools();

// The whole file, empty when it cannot be read; and a file's whole new content.
QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);

// Polls until condition holds or timeout passes; true when it held.
bool waitUntil(const std::function<bool()>& condition, Milliseconds timeout, Milliseconds interval = 50ms);
// Until the file holds exactly these bytes, as a cache file does once a fetch has written it.
bool waitForFile(const QString& path, const QByteArray& bytes, Milliseconds timeout);

// Runs a program to its end, or stops it when timeout passes.
ToolResult runTool(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
                   Milliseconds timeout = 5s);

// The Windows build that the suites drive under Wine in place of the Linux program: tst_windows_e2e names it
// in VANTREL_E2E_WINDOWS_BUILD when it runs the Linux suites' scenarios. Empty for the Linux program.
QString windowsBuildUnderTest();
// The one file of a build's package folder that matches, empty when there is none or more than one.
QString packageFile(const QString& build, const QString& pattern);
// What a Japanese Windows editor saves: code page 932 with CR LF line ends; empty when it cannot be converted.
QByteArray codePage932(const QString& text);

// Within a pixel each way; and "(x,y)" for messages.
bool near(const QPoint& actual, const QPoint& expected);
QString describe(const QPoint& point);

// An Xvfb server on a free display number, optionally with openbox on it; or a headless weston whose
// XWayland is the X display, a Wayland session as a desktop has it.
class VirtualDisplay {
public:
    struct Options {
        QSize size{1024, 300};
        bool windowManager = false;
        bool waylandSession = false;
    };

    explicit VirtualDisplay(Options options);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool isReady() const { return m_ready; }
    QString errorString() const { return m_error; }
    QString name() const { return QStringLiteral(":%1").arg(m_number); }
    bool hasWindowManager() const { return m_windowManager != nullptr; }
    bool isWaylandSession() const { return m_wayland; }

    // What a client of this display runs with: DISPLAY (and WAYLAND_DISPLAY in a Wayland session), and
    // runtime and cache folders of its own.
    QProcessEnvironment clientEnvironment() const;
    ToolResult run(const QString& program, const QStringList& arguments, Milliseconds timeout = 5s) const;

    // Root-window coordinates.
    QImage grab(const QRect& area) const;
    QPoint pointer() const;
    bool movePointer(const QPoint& to) const;
    bool movePointerBy(const QPoint& delta) const;
    bool press(Qt::MouseButton button) const;
    bool release(Qt::MouseButton button) const;
    // Key names as xdotool spells them, separated by blanks: "ctrl+x", "Down Down Return".
    bool keys(const QString& names) const;

private:
    bool startServer(const QSize& size);
    bool startWeston(const QSize& size);
    bool startWindowManager();

    int m_number = -1;
    bool m_wayland = false;
    bool m_ready = false;
    QString m_error;
    QTemporaryDir m_home;
    std::unique_ptr<QProcess> m_server;
    std::unique_ptr<QProcess> m_windowManager;
};

// A temporary application folder: a copy of the built executable (or of the one named in the environment
// variable VANTREL_E2E_EXECUTABLE) beside data/brd, data/log and data/pic/std.
class AppFolder {
public:
    AppFolder();
    // A portable ZIP as a user unpacks it, into a folder named folderName: executableName and the data folders,
    // there or in the ZIP's one top folder.
    AppFolder(const QString& zipFile, const QString& folderName, const QString& executableName);

    bool isReady() const { return m_ready; }
    QString errorString() const { return m_error; }
    QString path() const { return m_root; }
    QString executable() const { return m_executable; }

    bool writeBoard(const QByteArray& content, const QString& fileName = QStringLiteral("e2e.brd"));
    // The program's only board, as its system saves text: UTF-8 on Linux; code page 932 in place of the ZIP's
    // default board on Windows.
    bool writeBoardText(const QString& lines);
    // The cache file of the feed whose node text is feedText.
    QString cacheFile(const QString& feedText) const;
    QStringList cacheFiles() const;

private:
    bool hasDataFolders();

    QTemporaryDir m_dir;
    QString m_root;
    QString m_executable;
    bool m_ready = false;
    QString m_error;
    bool m_windows = false;
};

// A Wine prefix (WINEPREFIX) in which Windows programs run on a VirtualDisplay, in a Japanese locale, so that
// the ANSI code page is 932. Whatever ran in the prefix before is ended first, so that Wine's desktop process
// starts on this display; the destructor ends everything in the prefix again.
class WinePrefix {
public:
    WinePrefix(const VirtualDisplay& display, QString prefix);
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    QString path() const { return m_prefix; }
    QProcessEnvironment environment() const;
    // wine program arguments; the output without Wine's carriage returns.
    ToolResult run(const QString& program, const QStringList& arguments, Milliseconds timeout = 60s) const;
    // A Windows path for a file of the Linux file system (drive Z:), and the Linux path of a Windows one.
    static QString windowsPath(const QString& linuxPath);
    QString linuxPath(const QString& windowsPath) const;
    // The value of an environment variable of the prefix's Windows, such as LOCALAPPDATA; empty when unset.
    QString variable(const QString& name) const;

private:
    void endAll() const;

    const VirtualDisplay& m_display;
    QString m_prefix;
};

// The values of a registry key of the prefix, by name, as `wine reg query` lists them (REG_DWORD ones as
// "0x…"); empty when there is no such key.
QMap<QString, QString> registryValues(const WinePrefix& wine, const QString& key);
// The FileVersion text of a Windows program's version resource, empty when it has none.
QString fileVersion(const QString& path);

// The program running in an AppFolder (or any copy of it) on a VirtualDisplay, and its main window.
class TickerApp {
public:
    TickerApp(const VirtualDisplay& display, const AppFolder& folder);
    // extraEnvironment is added to the display's client environment.
    TickerApp(const VirtualDisplay& display, QString executable, QString workingDirectory,
              QProcessEnvironment extraEnvironment = {});
    // The Windows build, run by wine in the prefix.
    TickerApp(const VirtualDisplay& display, const WinePrefix& wine, QString executable, QString workingDirectory,
              QProcessEnvironment extraEnvironment = {});
    ~TickerApp();
    TickerApp(const TickerApp&) = delete;
    TickerApp& operator=(const TickerApp&) = delete;

    // Starts the program and waits until its window is shown; by default 10 s, under Wine 60 s, as its first
    // start on a display starts Wine's desktop process too.
    bool start(Milliseconds timeout = 0ms);
    QString errorString() const { return m_error; }
    bool isRunning() const;
    qint64 processId() const;
    QString windowId() const { return m_window; }

    // In root coordinates; null when the window cannot be asked.
    QRect geometry() const;
    QRect geometryOf(const QString& windowId) const;
    // The atoms of _NET_WM_STATE, such as "_NET_WM_STATE_ABOVE".
    QStringList netWmState() const;
    // Every mapped window of the process: the main window and any open popup.
    QStringList visibleWindows() const;
    // Gives the window the keyboard focus (through the window manager when there is one).
    bool activate() const;

    // Until the window's top-left corner is within a pixel of topLeft.
    bool waitForPlace(const QPoint& topLeft, Milliseconds timeout) const;

    // Window coordinates; the window's current place is asked each time.
    bool moveTo(const QPoint& windowPoint) const;
    bool moveBy(const QPoint& delta) const;
    bool press(Qt::MouseButton button = Qt::LeftButton) const;
    bool release(Qt::MouseButton button = Qt::LeftButton) const;
    bool click(const QPoint& windowPoint, Qt::MouseButton button = Qt::LeftButton) const;
    // Left button down at `at`, a first small motion (the system move starts there), then `by`, then release.
    bool drag(const QPoint& at, const QPoint& by) const;
    // Right click on the window's surface, and the menu shows within timeout as a second window.
    bool openMenu(Milliseconds timeout = 3s) const;
    bool keys(const QString& names) const;
    QImage grab(const QRect& windowArea) const;
    QImage grabStrip() const { return grab(layout::kStrip); }
    // No headline pixel within 10 pixels of the point, over the strip's height.
    bool isBlankAround(const QPoint& windowPoint) const;

    bool waitForExit(Milliseconds timeout);
    // What the program wrote on stdout and stderr, and the sanitizers' reports, for failure messages.
    QByteArray output() const;
    // Empty when the program ended by itself with status 0; else how it ended, with its output.
    QString exitProblem() const;

private:
    void stop();

    const VirtualDisplay& m_display;
    QString m_program;
    QStringList m_arguments;
    QString m_workingDirectory;
    QProcessEnvironment m_extraEnvironment;
    // A Linux build of Qt, to be told to take X11; the Windows build under Wine has its own platform.
    bool m_linuxQt = true;
    QTemporaryDir m_scratch;
    std::unique_ptr<QProcess> m_process;
    QString m_window;
    QString m_error;
};

// Starts the program under test: the Linux program in a folder of its own, or a Windows build's portable ZIP
// unpacked into a folder with a Japanese name and run by Wine in the prefix of WINEPREFIX (by default the
// build's wine-prefix), so that one scenario runs against both.
class Launcher {
public:
    explicit Launcher(const VirtualDisplay& display, const QString& windowsBuild = windowsBuildUnderTest());

    bool isReady() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    // Null for the Linux program.
    const WinePrefix* wine() const { return m_wine.get(); }

    std::unique_ptr<AppFolder> folder() const;
    // extraEnvironment is added to the program's (under Wine, to wine's: Wine's browser launcher reads PATH).
    std::unique_ptr<TickerApp> app(const AppFolder& folder, const QProcessEnvironment& extraEnvironment = {}) const;
    // "topmost" or "normal": as the window manager holds the window's state, or under Wine as Windows holds its
    // styles (read by the build's vantrel_window_probe.exe); else what went wrong.
    QString stacking(const TickerApp& app) const;

private:
    const VirtualDisplay& m_display;
    QString m_zip;
    QString m_probe;
    std::unique_ptr<WinePrefix> m_wine;
    QString m_error;
};

// What a screenshot of the strip shows: fractions of its columns.
struct StripCoverage {
    double anyWhite = 0;  // with at least one white pixel
    double solid = 0;     // with a tall white run: a solid band passes there
    double thin = 0;      // with one to three white pixels: a thin line passes there
};
StripCoverage measureStrip(const QImage& strip);

// Headlines that a screenshot of the strip tells apart without reading text. Both are far wider than the
// strip, so once shown they cover all of it for seconds; no status text comes near that.
QString solidBandTitle();
QString thinLineTitle();
bool showsSolidBand(const StripCoverage& coverage);
bool showsThinLine(const StripCoverage& coverage);
QString describe(const StripCoverage& coverage);

// Screenshots the strip until shows() holds or timeout passes; last gets the final measure.
bool waitForStrip(const TickerApp& app, bool (*shows)(const StripCoverage&), Milliseconds timeout,
                  StripCoverage* last = nullptr);

// Screenshots the strip every interval for duration and gives the longest time that it showed the same part of a
// headline; a blank strip cannot show whether the window moves it, so a blank shot ends a still stretch. shown
// gets the number of shots that were not blank.
Milliseconds longestStillStrip(const TickerApp& app, Milliseconds duration, Milliseconds interval = 100ms,
                               int* shown = nullptr);

// An RSS 2.0 document with one item per (title, link).
QByteArray rssDocument(const std::vector<std::pair<QString, QString>>& items);
// Bytes a parser would not write back the same way: CR LF line ends and trailing bytes after the document.
QByteArray servedBytes(const QByteArray& document);

}  // namespace vantrel::e2e
